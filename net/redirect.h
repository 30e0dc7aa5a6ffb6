// The plain rules of following a redirect: which answers are redirects, and the address a
// Location header names, taken relative to the address that answered.
#pragma once

#include <string>

// The most redirects one request follows before it fails, as browsers and WinHTTP stop a loop.
constexpr int kMaxRedirects = 10;

// 301, 302, 303, 307 and 308: the answers whose Location names where the resource is now.
bool isRedirectStatus(unsigned long status);

// The absolute address of `location` as read at `base` (an absolute http or https address):
// an absolute address stays as it is; "//host/..." takes base's scheme, "/path" its scheme and
// server, "?query" its path, anything else the folder of its path. A fragment is dropped: it is
// never sent.
std::wstring resolveLocation(const std::wstring& base, const std::wstring& location);
