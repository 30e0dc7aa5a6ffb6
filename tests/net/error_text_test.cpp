#include "net/error_text.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <winhttp.h>

namespace {

bool endsWithBreakOrSpace(const std::wstring& text) {
  return !text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ');
}

}  // namespace

TEST(LastErrorText, SystemMessageComesBackWithoutItsLineBreak) {
  SetLastError(ERROR_FILE_NOT_FOUND);
  const std::wstring text = lastErrorText();
  ASSERT_FALSE(text.empty());
  EXPECT_FALSE(endsWithBreakOrSpace(text));
  EXPECT_EQ(text.find(L"未知错误"), std::wstring::npos);  // the system knows this code
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

TEST(LastErrorText, WinHttpCodesAreDescribedFromWinHttpWhenTheSystemHasNoText) {
  // WinHTTP is delay-loaded: a WinHTTP code only ever follows a WinHTTP call, which loads the
  // module. Where neither table knows the code (Wine's WinHTTP has no message table), the
  // fallback names the number.
  (void)WinHttpCheckPlatform();
  ASSERT_NE(GetModuleHandleW(L"winhttp.dll"), nullptr);
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
      GetModuleHandleW(L"winhttp.dll"), ERROR_WINHTTP_TIMEOUT, 0x400,
      reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring fromModule = length && buffer ? std::wstring(buffer, length) : std::wstring();
  LocalFree(buffer);
  trimTrailingBreaks(fromModule);

  SetLastError(ERROR_WINHTTP_TIMEOUT);
  const std::wstring text = lastErrorText();
  EXPECT_FALSE(endsWithBreakOrSpace(text));
  if (!fromModule.empty()) {
    EXPECT_EQ(text, fromModule);
  } else {
    EXPECT_EQ(text, L"未知错误（代码 12002）");
  }
}

TEST(LastErrorText, UnknownCodeNamesTheNumberAndKeepsItsClosingParenthesis) {
  SetLastError(987654321u);
  EXPECT_EQ(lastErrorText(), L"未知错误（代码 987654321）");
}
