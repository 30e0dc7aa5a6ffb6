// Conversions between wide (UTF-16) strings and narrow byte strings in a given code page, and
// comparisons that ignore letter case. Invalid sequences are replaced by the system, never
// reported.
#pragma once

#include <string>

namespace util {

constexpr unsigned kCodePageAnsi = 0;      // the system's ANSI code page
constexpr unsigned kCodePageUtf8 = 65001;

std::wstring toWide(unsigned codePage, const std::string& bytes);
std::string fromWide(unsigned codePage, const std::wstring& text);
std::string toUtf8(const std::wstring& text);

// Code-unit comparisons after the system's upper-casing (CompareStringOrdinal), the way the
// file system matches names: independent of the user's locale, unlike towlower.
bool equalsIgnoringCase(const std::wstring& a, const std::wstring& b);
bool endsWithIgnoringCase(const std::wstring& text, const std::wstring& suffix);

// The text without spaces and tabs (only those) at both ends.
std::wstring trimBlanks(const std::wstring& text);

}  // namespace util
