#include "util/file_names.h"

#include <cwchar>

namespace util {
namespace {

// ASCII folding on purpose, not util::equalsIgnoringCase: marker kinds are folded the same way
// before they become file names, so a reserved name is refused in exactly the spellings that
// would be written.
wchar_t asciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

std::wstring asciiLowered(std::wstring text) {
  for (wchar_t& c : text) c = asciiLower(c);
  return text;
}

bool isDeviceName(const std::wstring& name) {
  // Only the part before the first dot counts: "nul.txt" opens the device as well, and Windows
  // ignores blanks between the stem and the dot.
  std::wstring stem = asciiLowered(name.substr(0, name.find(L'.')));
  while (!stem.empty() && stem.back() == L' ') stem.pop_back();
  for (const wchar_t* device : {L"con", L"prn", L"aux", L"nul", L"conin$", L"conout$"}) {
    if (stem == device) return true;
  }
  if (stem.size() != 4 || (stem.compare(0, 3, L"com") != 0 && stem.compare(0, 3, L"lpt") != 0)) return false;
  const wchar_t digit = stem[3];
  return (digit >= L'0' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' || digit == L'\u00B3';
}

}  // namespace

bool isSafePathComponent(const std::wstring& name) {
  if (name.empty() || name == L"." || name == L"..") return false;
  for (wchar_t c : name) {
    if (c < 0x20 || std::wcschr(L"<>:\"/\\|?*", c) != nullptr) return false;
  }
  if (name.back() == L'.' || name.back() == L' ') return false;
  return !isDeviceName(name);
}

bool isReservedMarkerName(const std::wstring& name) {
  const std::wstring lower = asciiLowered(name);
  return lower == L"component" || lower == L"update" || lower == L"agreement";
}

}  // namespace util
