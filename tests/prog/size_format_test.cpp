#include "prog/size_format.h"

#include <gtest/gtest.h>

TEST(FormatSize, UnitBoundaries) {
  EXPECT_EQ(formatSize(0), L"0 KB");
  EXPECT_EQ(formatSize(1023), L"0 KB");
  EXPECT_EQ(formatSize(1024), L"1 KB");
  EXPECT_EQ(formatSize(1048575), L"1023 KB");
  EXPECT_EQ(formatSize(1048576), L"1.0 MB");
  EXPECT_EQ(formatSize(1572864), L"1.5 MB");
  EXPECT_EQ(formatSize(1048575999), L"1000.0 MB");
  EXPECT_EQ(formatSize(1048576000), L"1.0 GB");
  EXPECT_EQ(formatSize(1610612736), L"1.5 GB");
  EXPECT_EQ(formatSize(UINT64_MAX), L"17179869184.0 GB");
}
