// The manifest's INI text, read by a parser of our own with the Windows profile reader's rules
// (names match in any letter case, the first key of a section wins, blanks around names and
// values go, one pair of matching quotes around a value goes) but without its cut of every value
// at 1023 characters: signed download addresses are often longer. Two sections whose names differ
// only in letter case are refused: a reader would take the first and quietly drop the other.
#pragma once

#include <string>
#include <utility>
#include <vector>

// A value longer than this refuses the manifest rather than being read in part.
constexpr size_t kMaxManifestValueChars = 32768;

struct IniSection {
  std::wstring name;  // as written
  std::vector<std::pair<std::wstring, std::wstring>> values;  // in file order, unquoted
};

struct IniDocument {
  std::vector<IniSection> sections;  // in file order

  const IniSection* find(const std::wstring& section) const;
  // The first value of the key in the section; empty when either is missing.
  std::wstring value(const std::wstring& section, const std::wstring& key) const;
};

// The manifest's bytes as text: UTF-16 LE or UTF-8 after their byte-order marks, anything else in
// the system's ANSI code page, as the profile reader took it.
std::wstring decodeManifestText(const std::string& bytes);

// Parses the text; false with the reason in error (a duplicate section, a value over the bound).
[[nodiscard]] bool parseIni(const std::wstring& text, IniDocument& document, std::wstring& error);
