// Zip archives made in memory by the zip library's own writer, for tests that need real
// packages without files on disk.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace testing_support {

struct ZipSource {
  std::string name;  // a name ending in '/' is a folder entry
  std::string data;
  unsigned level = 6;  // the library's default; 0 stores the entry
};

// The archive's bytes, entries in the given order.
std::string zipOf(const std::vector<ZipSource>& entries);

using ZipEntries = std::vector<std::pair<std::string, std::string>>;  // name, content

// The same with one level for every entry: 0 stores them, any other deflates them.
std::string zipBytes(const ZipEntries& entries, int level = 6);

}  // namespace testing_support
