#include "install/finish_install.h"
#include "install/markers.h"

#include "support/temp_dir.h"
#include "util/files.h"

#include <gtest/gtest.h>

using testing_support::readFileBytes;
using testing_support::TempDir;

TEST(UpdateMarker, KeepsOnlyVersionCharacters) {
  EXPECT_EQ(filterUpdateVersion(L"1.2.3 beta2"), L"1.2.32");
  EXPECT_EQ(filterUpdateVersion(L"V2.0-rc1 (修订)"), L"V2.01");
  EXPECT_EQ(filterUpdateVersion(L"beta"), L"");
}

TEST(UpdateMarker, WritesFilteredAnsiTextWithoutLineEnd) {
  TempDir dir;
  ASSERT_TRUE(writeUpdateMarker(dir.path() + L"\\", L"1.2.3 beta2"));
  EXPECT_EQ(readFileBytes(dir / L"update\\_update.done"), "1.2.32");
  // Nothing to keep: nothing written, the old marker stays, and that is success.
  EXPECT_TRUE(writeUpdateMarker(dir.path(), L"beta"));
  EXPECT_EQ(readFileBytes(dir / L"update\\_update.done"), "1.2.32");
}

TEST(Marker, EmptyVersionKeepsTheOldFile) {
  TempDir dir;
  writeMarker(dir.path(), L"_component.done", L"2.0.1 测试");
  EXPECT_EQ(readFileBytes(dir / L"update\\_component.done"), "2.0.1 \xE6\xB5\x8B\xE8\xAF\x95");
  writeMarker(dir.path(), L"_component.done", L"");
  EXPECT_EQ(readFileBytes(dir / L"update\\_component.done"), "2.0.1 \xE6\xB5\x8B\xE8\xAF\x95");
}

TEST(MainProgram, NamedExeFirstThenAnyOrvaloExecutable) {
  TempDir dir;
  ASSERT_TRUE(util::writeFile(dir / L"helper.exe", "x", 1));
  ASSERT_TRUE(util::writeFile(dir / L"OrvaloSetup.exe", "x", 1));
  EXPECT_EQ(install::findMainProgram(dir.path(), L"Orvalo.exe"), L"") << "the setup copy is no client";
  ASSERT_TRUE(util::writeFile(dir / L"OrvaloTrader64.exe", "x", 1));
  EXPECT_EQ(install::findMainProgram(dir.path(), L"Orvalo.exe"), dir / L"OrvaloTrader64.exe");
  ASSERT_TRUE(util::writeFile(dir / L"Orvalo.exe", "x", 1));
  EXPECT_EQ(install::findMainProgram(dir.path(), L"Orvalo.exe"), dir / L"Orvalo.exe");
}
