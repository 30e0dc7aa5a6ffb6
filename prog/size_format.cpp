#include "prog/size_format.h"

#include <cstdio>

namespace {

constexpr uint64_t kMiB = 1048576;
constexpr uint64_t kGbThreshold = 1000 * kMiB;
constexpr double kGiB = 1073741824.0;
constexpr size_t kBufferChars = 32;

}  // namespace

std::wstring formatSize(uint64_t bytes) {
  // The texts are plain ASCII, so the narrow formatter (MinGW's own, exact for %llu and %.1f)
  // serves, widened afterwards.
  char buffer[kBufferChars];
  if (bytes < kMiB) {
    std::snprintf(buffer, sizeof buffer, "%llu KB", static_cast<unsigned long long>(bytes / 1024));
  } else if (bytes < kGbThreshold) {
    std::snprintf(buffer, sizeof buffer, "%.1f MB", static_cast<double>(bytes) / kMiB);
  } else {
    std::snprintf(buffer, sizeof buffer, "%.1f GB", static_cast<double>(bytes) / kGiB);
  }
  std::wstring text;
  for (const char* p = buffer; *p; ++p) text += static_cast<wchar_t>(*p);
  return text;
}
