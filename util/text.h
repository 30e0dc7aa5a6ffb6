// Conversions between wide (UTF-16) strings and narrow byte strings in a given code page.
// Invalid sequences are replaced by the system, never reported.
#pragma once

#include <string>

namespace util {

constexpr unsigned kCodePageAnsi = 0;      // the system's ANSI code page
constexpr unsigned kCodePageUtf8 = 65001;

std::wstring toWide(unsigned codePage, const std::string& bytes);
std::string fromWide(unsigned codePage, const std::wstring& text);
std::string toUtf8(const std::wstring& text);

}  // namespace util
