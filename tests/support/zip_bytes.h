// Zip archives made in memory by the zip library's own writer, for tests that need real
// packages without files on disk.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

struct ZipSource {
  std::string name;  // a name ending in '/' is a folder entry
  std::string data;
  unsigned level = 6;  // the library's default; 0 stores the entry
};

// The archive's bytes, entries in the given order.
std::string zipOf(const std::vector<ZipSource>& entries);

}  // namespace testing_support
