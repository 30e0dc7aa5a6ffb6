#include "install/setup_copy.h"

#include "util/files.h"
#include "util/handles.h"
#include "util/paths.h"

#include <windows.h>

#include <cstring>

namespace install {
namespace {

constexpr uint32_t kFixedInfoSignature = 0xFEEF04BD;

uint32_t dwordAt(const std::string& bytes, size_t offset) {
  uint32_t value = 0;
  std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

}  // namespace

std::optional<uint64_t> fixedFileVersion(const std::string& versionResource) {
  // The fixed information follows the resource's key on a 32-bit boundary; its signature finds
  // it without walking the variable-length header. Then come the structure's version and the
  // file version, most significant half first.
  for (size_t offset = 0; offset + 16 <= versionResource.size(); offset += 4) {
    if (dwordAt(versionResource, offset) != kFixedInfoSignature) continue;
    const uint64_t high = dwordAt(versionResource, offset + 8);
    const uint64_t low = dwordAt(versionResource, offset + 12);
    return high << 32 | low;
  }
  return std::nullopt;
}

std::optional<uint64_t> fileVersionOf(const std::wstring& path) {
  const util::Module module(
      LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  if (!module) return std::nullopt;
  HRSRC found = FindResourceW(module.get(), MAKEINTRESOURCEW(VS_VERSION_INFO), RT_VERSION);
  HGLOBAL loaded = found ? LoadResource(module.get(), found) : nullptr;
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data) return std::nullopt;
  return fixedFileVersion(std::string(static_cast<const char*>(data), SizeofResource(module.get(), found)));
}

bool maySupersede(std::optional<uint64_t> running, std::optional<uint64_t> installed) {
  if (!installed) return true;
  return running && *running >= *installed;
}

void refreshSetupCopy(const std::wstring& running, const std::wstring& copy) {
  if (running.empty() || util::normalizePathKey(running) == util::normalizePathKey(copy)) return;
  if (util::isExistingFile(copy) && !maySupersede(fileVersionOf(running), fileVersionOf(copy))) return;
  std::string ours, installed;
  if (util::readFile(copy, installed) && util::readFile(running, ours) && ours == installed) return;
  (void)util::copyFileOver(running, copy);
}

}  // namespace install
