#include "net/redirect.h"

namespace {

// The length of "scheme://host[:port]" at the start of an absolute address.
size_t originLength(const std::wstring& url) {
  const size_t afterScheme = url.find(L"://");
  if (afterScheme == std::wstring::npos) return 0;
  const size_t pathStart = url.find_first_of(L"/?#", afterScheme + 3);
  return pathStart == std::wstring::npos ? url.size() : pathStart;
}

// "scheme:" followed by "//", the scheme being letters, digits, '+', '-' or '.' after a letter.
bool hasScheme(const std::wstring& location) {
  const size_t colon = location.find(L':');
  if (colon == std::wstring::npos || colon == 0 || location.compare(colon, 3, L"://") != 0) {
    return false;
  }
  for (size_t i = 0; i < colon; ++i) {
    const wchar_t c = location[i];
    const bool letter = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
    const bool other = (c >= L'0' && c <= L'9') || c == L'+' || c == L'-' || c == L'.';
    if (!letter && (i == 0 || !other)) return false;
  }
  return true;
}

}  // namespace

bool isRedirectStatus(unsigned long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::wstring resolveLocation(const std::wstring& base, const std::wstring& location) {
  const std::wstring target = location.substr(0, location.find(L'#'));
  if (hasScheme(target)) return target;
  if (target.compare(0, 2, L"//") == 0) return base.substr(0, base.find(L"://") + 1) + target;
  const size_t origin = originLength(base);
  if (!target.empty() && target[0] == L'/') return base.substr(0, origin) + target;
  const std::wstring path = base.substr(origin, base.find_first_of(L"?#", origin) - origin);
  if (!target.empty() && target[0] == L'?') return base.substr(0, origin) + path + target;
  const size_t lastSlash = path.rfind(L'/');
  const std::wstring folder = lastSlash == std::wstring::npos ? L"/" : path.substr(0, lastSlash + 1);
  return base.substr(0, origin) + folder + target;
}
