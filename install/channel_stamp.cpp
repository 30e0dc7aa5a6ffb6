#include "install/channel_stamp.h"

#include "install/texts.h"
#include "resources/resource_ids.h"
#include "util/handles.h"
#include "util/paths.h"

#include <cstdint>

namespace {

// Reads exactly count bytes at offset; a positioned read, so the handle's own file pointer does
// not matter.
bool readAt(HANDLE file, uint64_t offset, char* out, size_t count) {
  size_t done = 0;
  while (done < count) {
    OVERLAPPED at{};
    const uint64_t position = offset + done;
    at.Offset = static_cast<DWORD>(position);
    at.OffsetHigh = static_cast<DWORD>(position >> 32);
    DWORD got = 0;
    if (!ReadFile(file, out + done, static_cast<DWORD>(count - done), &got, &at) || got == 0) {
      return false;
    }
    done += got;
  }
  return true;
}

}  // namespace

bool readFileStamp(HANDLE file, std::string& payload) {
  payload.clear();
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size)) return false;
  return install::findChannelPayload(static_cast<uint64_t>(size.QuadPart),
                                     [file](uint64_t offset, size_t count, std::string& bytes) {
                                       bytes.assign(count, '\0');
                                       return readAt(file, offset, bytes.data(), count);
                                     },
                                     payload);
}

std::wstring readChannelStamp(std::string& payload) {
  payload.clear();
  const std::wstring self = util::modulePath();
  util::FileHandle file(CreateFileW(self.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  // A missing, damaged or oversized stamp is no error: the default payload takes its place.
  if (file && readFileStamp(file.get(), payload)) return {};
  return loadRcData(IDR_CHANNEL_DEFAULT, payload);
}

std::wstring loadRcData(int id, std::string& bytes) {
  bytes.clear();
  HRSRC info = FindResourceW(nullptr, MAKEINTRESOURCEW(id), RT_RCDATA);
  if (info == nullptr) return install::kResourceMissing;
  HGLOBAL loaded = LoadResource(nullptr, info);
  if (loaded == nullptr) return install::kResourceNotLoaded;
  const void* data = LockResource(loaded);
  const DWORD size = SizeofResource(nullptr, info);
  if (data == nullptr || size == 0) return install::kResourceEmpty;
  bytes.assign(static_cast<const char*>(data), size);
  return {};
}
