#include "documents/link_allowlist.h"

#include "documents/vendor_domain.h"

#include <cstddef>
#include <cwchar>

namespace documents {
namespace {

constexpr size_t kMinAddressLength = 9;
constexpr size_t kMaxAddressLength = 300;
constexpr wchar_t kScheme[] = L"https://";
constexpr size_t kSchemeLength = 8;

// Kind 0 also admits the vendor's own domain, which is not a constant of this file.
const wchar_t* const kMarketDataDomains[] = {
    L"tdx.com.cn", L"myquant.cn", L"eastmoney.com", L"10jqka.com.cn",
    L"joinquant.com", L"ricequant.com", L"cninfo.com.cn",
};
const wchar_t* const kModelHubDomains[] = {L"modelscope.cn", L"huggingface.co"};

// Only ASCII letters are folded. A platform case mapping of other characters (for example a
// dotted capital I becoming 'i') could make a host look like a listed domain while the browser,
// which applies its own mapping, resolves a different one.
wchar_t asciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c; }

bool hostMatches(const std::wstring& host, const wchar_t* suffix) {
  const size_t n = std::wcslen(suffix);
  if (host.size() == n) return host.compare(0, n, suffix) == 0;
  return host.size() >= n + 2 && host.compare(host.size() - n, n, suffix) == 0 &&
         host[host.size() - n - 1] == L'.';
}

template <size_t N>
bool matchesAny(const std::wstring& host, const wchar_t* const (&suffixes)[N]) {
  for (const wchar_t* suffix : suffixes) {
    if (hostMatches(host, suffix)) return true;
  }
  return false;
}

}  // namespace

bool isAllowedLink(const std::wstring& address, int kind) { return isAllowedLink(address, kind, vendorDomain()); }

bool isAllowedLink(const std::wstring& address, int kind, const wchar_t* vendor) {
  if (address.size() < kMinAddressLength || address.size() > kMaxAddressLength) return false;
  std::wstring lower;
  lower.reserve(address.size());
  for (wchar_t c : address) {
    if (c <= L' ') return false;  // control characters and the space
    lower += asciiLower(c);
  }
  if (lower.compare(0, kSchemeLength, kScheme) != 0) return false;

  // Browsers end the host at a backslash as well as at '/', '?' and '#' ("\" counts as "/" in
  // web addresses), so the host is cut there too: otherwise "https://evil.example\.tdx.com.cn"
  // would pass as a subdomain while opening evil.example.
  const size_t end = lower.find_first_of(L"/?#\\", kSchemeLength);
  const std::wstring host =
      lower.substr(kSchemeLength, end == std::wstring::npos ? std::wstring::npos : end - kSchemeLength);
  if (host.empty()) return false;
  if (host.find_first_of(L"@:]") != std::wstring::npos) return false;
  if (host.find_first_not_of(L"0123456789.") == std::wstring::npos) return false;

  switch (kind) {
    case kLinkKindMarketData:
      return hostMatches(host, vendor) || matchesAny(host, kMarketDataDomains);
    case kLinkKindModelHub:
      return matchesAny(host, kModelHubDomains);
    case kLinkKindVendor:
      return hostMatches(host, vendor);
    default:
      return false;
  }
}

}  // namespace documents
