// The link allowlist: which web addresses the wizard may fetch or open. Only plain https
// addresses on a few fixed domains (or their subdomains) pass, one list per kind of link.
#pragma once

#include <string>

namespace documents {

// The three link kinds; a kind is passed as a plain integer because it also arrives from data.
constexpr int kLinkKindMarketData = 0;  // data-source and financial sites
constexpr int kLinkKindModelHub = 1;    // model hubs
constexpr int kLinkKindVendor = 2;      // the vendor's own site

// True when address may be used with that kind. No side effects; safe from any thread.
[[nodiscard]] bool isAllowedLink(const std::wstring& address, int kind);

// The same with another vendor domain in place of the built-in one (lower case, no leading dot):
// for the vendor's tools, which check a release for a build of that domain.
[[nodiscard]] bool isAllowedLink(const std::wstring& address, int kind, const wchar_t* vendor);

}  // namespace documents
