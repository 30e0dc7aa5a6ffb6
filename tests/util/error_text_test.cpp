#include "util/error_text.h"

#include "util/texts.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <winhttp.h>

namespace {

bool endsWithBreakOrSpace(const std::wstring& text) {
  return !text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ');
}

std::wstring textOf(DWORD code) {
  SetLastError(code);
  return lastErrorText();
}

}  // namespace

TEST(LastErrorText, EveryCodeGivesANonEmptyTextWithoutTrailingBreaks) {
  // System codes, the WinHTTP range (described by WinHTTP's own table where it has one) and
  // codes no table knows.
  std::vector<DWORD> codes = {ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED,
                              ERROR_DISK_FULL, ERROR_SHARING_VIOLATION, 987654321u};
  for (DWORD code = ERROR_WINHTTP_OUT_OF_HANDLES; code <= ERROR_WINHTTP_OUT_OF_HANDLES + 175; ++code) {
    codes.push_back(code);
  }
  for (DWORD code : codes) {
    const std::wstring text = textOf(code);
    EXPECT_FALSE(text.empty()) << code;
    EXPECT_FALSE(endsWithBreakOrSpace(text)) << code;
  }
}

TEST(LastErrorText, KnownCodeGivesTheSystemsChineseText) {
  if (GetACP() != 936) GTEST_SKIP() << "not a Chinese system";
  EXPECT_EQ(textOf(ERROR_FILE_NOT_FOUND), L"找不到文件。");
}

TEST(LastErrorText, UnknownCodeNamesTheNumberAndKeepsItsClosingParenthesis) {
  EXPECT_EQ(textOf(987654321u), std::wstring(util::kUnknownErrorCode) + L"987654321" + util::kReasonClose);
}

TEST(LastErrorText, TrimsEveryTrailingSpaceAndLineBreakInAnyOrder) {
  std::wstring text = L"  磁盘已满。 \r\n \n\r  ";
  trimTrailingBreaks(text);
  EXPECT_EQ(text, L"  磁盘已满。");
  std::wstring inner = L"a\r\nb";
  trimTrailingBreaks(inner);
  EXPECT_EQ(inner, L"a\r\nb");
  std::wstring blank = L" \r\n";
  trimTrailingBreaks(blank);
  EXPECT_EQ(blank, L"");
}
