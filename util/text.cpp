#include "util/text.h"

#include <windows.h>

#include <climits>

namespace util {

std::wstring toWide(unsigned codePage, const std::string& bytes) {
  if (bytes.empty() || bytes.size() > INT_MAX) return {};
  const int inLen = static_cast<int>(bytes.size());
  const int outLen = MultiByteToWideChar(codePage, 0, bytes.data(), inLen, nullptr, 0);
  if (outLen <= 0) return {};
  std::wstring out(static_cast<size_t>(outLen), L'\0');
  MultiByteToWideChar(codePage, 0, bytes.data(), inLen, out.data(), outLen);
  return out;
}

std::string fromWide(unsigned codePage, const std::wstring& text) {
  if (text.empty() || text.size() > INT_MAX) return {};
  const int inLen = static_cast<int>(text.size());
  const int outLen =
      WideCharToMultiByte(codePage, 0, text.data(), inLen, nullptr, 0, nullptr, nullptr);
  if (outLen <= 0) return {};
  std::string out(static_cast<size_t>(outLen), '\0');
  WideCharToMultiByte(codePage, 0, text.data(), inLen, out.data(), outLen, nullptr, nullptr);
  return out;
}

bool equalsIgnoringCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size() || a.size() > INT_MAX) return false;
  const int length = static_cast<int>(a.size());
  return CompareStringOrdinal(a.data(), length, b.data(), length, TRUE) == CSTR_EQUAL;
}

bool endsWithIgnoringCase(const std::wstring& text, const std::wstring& suffix) {
  if (text.size() < suffix.size() || suffix.size() > INT_MAX) return false;
  const int length = static_cast<int>(suffix.size());
  return CompareStringOrdinal(text.data() + (text.size() - suffix.size()), length, suffix.data(), length,
                              TRUE) == CSTR_EQUAL;
}

std::string toUtf8(const std::wstring& text) { return fromWide(kCodePageUtf8, text); }

std::wstring trimBlanks(const std::wstring& text) {
  const size_t first = text.find_first_not_of(L" \t");
  if (first == std::wstring::npos) return {};
  return text.substr(first, text.find_last_not_of(L" \t") - first + 1);
}

}  // namespace util
