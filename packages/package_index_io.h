// Building, writing and reading a package's index (packages/package_index.h). The text is small
// and line based, UTF-8 with '\n' line ends:
//   orvalo-package-index 1
//   <sha256> <crc32, 8 hex> <method> <header offset> <compressed size> <size> <path>
// one line per file entry in the zip's order, numbers in decimal, the path last so that it may
// hold blanks. A reader trusts none of it: every field is checked and every path must pass the
// same name rule as extraction.
#pragma once

#include "packages/package_index.h"

#include <string>

// The first line of every index; a later format gets a new number.
inline constexpr char kPackageIndexHeader[] = "orvalo-package-index 1";

std::string formatPackageIndex(const PackageIndex& index);

// Parses an index's bytes; false with the reason in error (the line at fault is named).
[[nodiscard]] bool parsePackageIndex(const std::string& bytes, PackageIndex& index, std::wstring& error);

// Reads path, refusing more than kMaxPackageIndexBytes, and parses it.
[[nodiscard]] bool readPackageIndexFile(const std::wstring& path, PackageIndex& index, std::wstring& error);
[[nodiscard]] bool writePackageIndexFile(const std::wstring& path, const PackageIndex& index,
                                         std::wstring& error);

// Reads every file entry of the zip, inflating it to hash its content; folder entries are left
// out. A name that fails the name rule, an entry that fails its CRC-32 or a method other than
// stored or deflated fails the whole zip.
[[nodiscard]] bool buildPackageIndex(const std::wstring& zip, PackageIndex& index, std::wstring& error);
