#include "support/zip_bytes.h"

#include <miniz.h>

namespace testing_support {

std::string zipOf(const std::vector<ZipSource>& entries) {
  mz_zip_archive zip{};
  mz_zip_writer_init_heap(&zip, 0, 0);
  for (const ZipSource& e : entries) {
    mz_zip_writer_add_mem(&zip, e.name.c_str(), e.data.data(), e.data.size(), e.level);
  }
  void* buffer = nullptr;
  size_t size = 0;
  mz_zip_writer_finalize_heap_archive(&zip, &buffer, &size);
  std::string bytes(static_cast<const char*>(buffer), size);
  mz_free(buffer);
  mz_zip_writer_end(&zip);
  return bytes;
}

std::string zipBytes(const ZipEntries& entries, int level) {
  std::vector<ZipSource> sources;
  for (const auto& [name, data] : entries) sources.push_back({name, data, static_cast<unsigned>(level)});
  return zipOf(sources);
}

}  // namespace testing_support
