#include "support/zip_bytes.h"

#include <miniz.h>

namespace testing_support {

std::string zipBytes(const ZipEntries& entries, int level) {
  mz_zip_archive zip{};
  mz_zip_writer_init_heap(&zip, 0, 0);
  for (const auto& [name, data] : entries) {
    mz_zip_writer_add_mem(&zip, name.c_str(), data.data(), data.size(), static_cast<mz_uint>(level));
  }
  void* buffer = nullptr;
  size_t size = 0;
  mz_zip_writer_finalize_heap_archive(&zip, &buffer, &size);
  std::string bytes(static_cast<const char*>(buffer), size);
  mz_free(buffer);
  mz_zip_writer_end(&zip);
  return bytes;
}

}  // namespace testing_support
