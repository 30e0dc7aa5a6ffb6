#include "packages/crc32.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The definition itself, a bit at a time.
uint32_t bitwiseCrc32(const unsigned char* p, size_t size) {
  uint32_t crc = ~0u;
  for (size_t i = 0; i < size; ++i) {
    crc ^= p[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

TEST(Crc32, KnownValueAndEveryLengthAlignmentAndSplitAgreeWithTheDefinition) {
  EXPECT_EQ(packages::crc32(0, "123456789", 9), 0xCBF43926u);
  EXPECT_EQ(packages::crc32(0, nullptr, 0), 0u);
  std::string bytes(96, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 37 + 11);
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  for (size_t offset = 0; offset < 8; ++offset) {
    for (size_t size = 0; offset + size <= bytes.size(); ++size) {
      const uint32_t expected = bitwiseCrc32(data + offset, size);
      ASSERT_EQ(packages::crc32(0, data + offset, size), expected) << offset << " " << size;
      const size_t cut = size / 3;
      ASSERT_EQ(packages::crc32(packages::crc32(0, data + offset, cut), data + offset + cut, size - cut), expected)
          << offset << " " << size;
    }
  }
}

}  // namespace
