#include "util/error_text.h"

#include "util/handles.h"
#include "util/text.h"
#include "util/texts.h"

#include <windows.h>

namespace {

constexpr DWORD kWinHttpFirstError = 12000;
constexpr DWORD kWinHttpLastError = 12175;
constexpr DWORD kUserDefaultLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);

std::wstring formatFrom(DWORD flags, HMODULE module, DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD len = FormatMessageW(
      flags | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS, module, code,
      kUserDefaultLanguage, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  util::LocalMem owner(buffer);
  if (len == 0 || !buffer) return {};
  return std::wstring(buffer, len);
}

}  // namespace

std::wstring lastErrorText() {
  const DWORD code = GetLastError();

  std::wstring text = formatFrom(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code);
  if (text.empty() && code >= kWinHttpFirstError && code <= kWinHttpLastError) {
    // Only a module that is already loaded: loading WinHTTP just for a message is not worth it.
    if (HMODULE winhttp = GetModuleHandleW(L"winhttp.dll")) {
      text = formatFrom(FORMAT_MESSAGE_FROM_HMODULE, winhttp, code);
    }
  }
  if (text.empty()) text = util::kUnknownErrorCode + std::to_wstring(code) + util::kReasonClose;

  trimTrailingBreaks(text);
  return text;
}

std::wstring internalErrorText(const char* what) {
  return util::kInternalError + util::toWide(util::kCodePageUtf8, what ? what : "");
}

void trimTrailingBreaks(std::wstring& text) {
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) {
    text.pop_back();
  }
}
