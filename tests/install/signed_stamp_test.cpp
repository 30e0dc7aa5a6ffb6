// The stamp's byte rules on buffers: the DER walker's bounds and where the reader looks. Stamping
// real signatures (osslsigncode's) is tried end to end in tests/e2e/signed_stamp_test.py.
#include "install/signed_stamp.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

std::string der(uint8_t tag, const std::string& contents) {
  std::string digits;
  for (size_t n = contents.size(); n != 0; n >>= 8) digits.insert(digits.begin(), static_cast<char>(n & 0xFF));
  if (contents.size() < 0x80) return std::string(1, static_cast<char>(tag)) + static_cast<char>(contents.size()) + contents;
  return std::string(1, static_cast<char>(tag)) + static_cast<char>(0x80 | digits.size()) + digits + contents;
}

// Whether bytes are one item whose constructed parts all nest validly.
bool valid(const std::string& bytes, int maxDepth = install::kMaxDerDepth) {
  install::DerItem item;
  return install::readDerItem(bytes, 0, bytes.size(), item) && item.end == bytes.size() &&
         install::checkDerTree(bytes, item, maxDepth);
}

TEST(DerWalker, RefusesLengthsPastTheEndOverlongOrIndefinite) {
  EXPECT_TRUE(valid("\x04\x81\x80"s + std::string(0x80, 'x')));
  EXPECT_FALSE(valid("\x04\x05" "abc"s));
  EXPECT_FALSE(valid("\x04\x82\x01"s));  // the length's own digits cut off
  EXPECT_FALSE(valid("\x04\x84\xFF\xFF\xFF\xF0" "abc"s));
  EXPECT_FALSE(valid(der(0x30, der(0x30, "\x30\x05\x04\x01x"s + "\x04\x02" "ab"s))));  // overruns its parent
  EXPECT_FALSE(valid("\x04\x81\x05" "abcde"s));  // fits the short form
  EXPECT_FALSE(valid("\x04\x82\x00\x85"s + std::string(0x85, 'x')));  // a leading zero digit
  EXPECT_FALSE(valid("\x04\x85\x00\x00\x00\x00\x01x"s));
  EXPECT_FALSE(valid("\x30\x80\x04\x01x\x00\x00"s));
  EXPECT_FALSE(valid("\x1F\x81\x01\x01x"s));  // a multi-byte tag
}

TEST(DerWalker, LimitsTheNesting) {
  std::string nested = "\x05\x00"s;
  for (int i = 0; i < install::kMaxDerDepth; ++i) nested = der(0x30, nested);
  EXPECT_TRUE(valid(nested));
  EXPECT_FALSE(valid(der(0x30, nested)));
  EXPECT_TRUE(valid(der(0x04, std::string(200, '\x30')), 1));  // primitive contents are not walked
}

// A certificate table of one entry: a SignedData with those certificates, aligned to 8.
std::string table(const std::string& certs) {
  const std::string fields = der(0x02, "\x01"s) + der(0x31, "") + der(0x30, der(0x06, "\x2B\x06\x01"s)) +
                             der(0xA0, certs) + der(0x31, der(0x30, der(0x02, "\x01"s)));
  std::string t = "\0\0\0\0\x00\x02\x02\x00"s +
                  der(0x30, der(0x06, "\x2A\x86\x48\x86\xF7\x0D\x01\x07\x02"s) + der(0xA0, der(0x30, fields)));
  t.resize((t.size() + 7) & ~size_t{7}, '\0');
  for (int i = 0; i < 4; ++i) t[i] = static_cast<char>(t.size() >> (8 * i));
  return t;
}

TEST(SignedStamp, TakesPayloadsOfFourTo65536BytesFromTheSignature) {
  const std::string signer = der(0x30, der(0x30, "\x02\x01\x07"s));
  std::string payload;
  ASSERT_TRUE(install::payloadFromTable(table(signer + install::stampCertificate("abcd")), payload));
  EXPECT_EQ(payload, "abcd");
  ASSERT_TRUE(install::payloadFromTable(table(install::stampCertificate(std::string(65536, 'p'))), payload));
  EXPECT_EQ(payload, std::string(65536, 'p'));
  EXPECT_FALSE(install::payloadFromTable(table(signer + install::stampCertificate("abc")), payload));
  EXPECT_FALSE(install::payloadFromTable(table(install::stampCertificate(std::string(65537, 'p'))), payload));
  EXPECT_FALSE(install::payloadFromTable(table(signer), payload));
}

TEST(SignedStamp, FindsATrailerInFrontOfTheTableOverItsAlignment) {
  const std::string stamped = "MZ..[Channel]\nid=7\nQVCH\x0F\0\0\0"s;
  std::string payload;
  for (size_t zeros = 0; zeros < 8; ++zeros) {
    ASSERT_TRUE(install::payloadBeforeTable(stamped + std::string(zeros, '\0'), payload)) << zeros;
    EXPECT_EQ(payload, "[Channel]\nid=7\n");
  }
  EXPECT_FALSE(install::payloadBeforeTable(stamped + std::string(8, '\0'), payload));
  EXPECT_FALSE(install::payloadBeforeTable(stamped + "x"s + std::string(3, '\0'), payload));
}

}  // namespace
