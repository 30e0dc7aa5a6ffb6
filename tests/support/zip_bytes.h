// A zip archive written in memory, entry by entry, for tests that need packages of their own.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace testing_support {

using ZipEntries = std::vector<std::pair<std::string, std::string>>;  // name, content

// The archive's bytes; level 0 stores every entry, any other level deflates them (6 is the
// library's default).
std::string zipBytes(const ZipEntries& entries, int level = 6);

}  // namespace testing_support
