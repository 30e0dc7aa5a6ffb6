#include "util/text.h"

#include <gtest/gtest.h>

TEST(TextConversion, Utf8RoundTripKeepsChineseAndAstralCharacters) {
  const std::wstring text = L"Orvalo量化 \U0001F4C8 安装";
  const std::string utf8 = util::toUtf8(text);
  EXPECT_EQ(utf8, "Orvalo\xE9\x87\x8F\xE5\x8C\x96 \xF0\x9F\x93\x88 \xE5\xAE\x89\xE8\xA3\x85");
  EXPECT_EQ(util::toWide(util::kCodePageUtf8, utf8), text);
}

TEST(TextConversion, EmptyStaysEmpty) {
  EXPECT_TRUE(util::toWide(util::kCodePageUtf8, "").empty());
  EXPECT_TRUE(util::fromWide(util::kCodePageUtf8, L"").empty());
}

TEST(TextConversion, InvalidUtf8IsReplacedNotDropped) {
  // A lone continuation byte between two letters: the letters survive, the byte becomes U+FFFD.
  const std::wstring wide = util::toWide(util::kCodePageUtf8, std::string("a\x80z"));
  ASSERT_EQ(wide.size(), 3u);
  EXPECT_EQ(wide[0], L'a');
  EXPECT_EQ(wide[1], 0xFFFD);
  EXPECT_EQ(wide[2], L'z');
}

TEST(TextConversion, EmbeddedNulBytesAreConverted) {
  const std::string bytes("a\0b", 3);
  EXPECT_EQ(util::toWide(util::kCodePageUtf8, bytes), std::wstring(L"a\0b", 3));
}

TEST(TextComparison, LetterCaseIsIgnoredBeyondAscii) {
  EXPECT_TRUE(util::equalsIgnoringCase(L"OrvaloSetup.EXE", L"orvalosetup.exe"));
  EXPECT_TRUE(util::equalsIgnoringCase(L"ÄRGER.txt", L"ärger.TXT"));
  EXPECT_TRUE(util::equalsIgnoringCase(L"", L""));
  EXPECT_FALSE(util::equalsIgnoringCase(L"setup.exe", L"setup.ex"));
  EXPECT_FALSE(util::equalsIgnoringCase(L"安装.exe", L"卸载.exe"));
}

TEST(TextComparison, SuffixMustFitInsideTheText) {
  EXPECT_TRUE(util::endsWithIgnoringCase(L"C:\\data\\Quotes.DuckDB.WAL", L".duckdb.wal"));
  EXPECT_TRUE(util::endsWithIgnoringCase(L".zip", L".ZIP"));
  EXPECT_TRUE(util::endsWithIgnoringCase(L"x", L""));
  EXPECT_FALSE(util::endsWithIgnoringCase(L"zip", L".zip"));
  EXPECT_FALSE(util::endsWithIgnoringCase(L"a.zip.txt", L".zip"));
}
