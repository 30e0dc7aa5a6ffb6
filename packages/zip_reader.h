// What the package code shares about zip archives: reading one through a wide path, entry names
// as they become paths, and inflating one entry into a file. Private to packages/.
#pragma once

#include "util/handles.h"

#include <miniz.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zip_internal {

// Output is gathered into one buffer per extracting thread before WriteFile: the inflater hands
// out at most 32 KiB at a time, and fewer, larger writes are much cheaper. The buffer is the only
// memory that depends on this file, and its size is fixed.
inline constexpr size_t kWriteBufferBytes = 1 << 20;

// Owns an initialised reader over an open archive file; it must end before that handle closes.
class ZipReader {
 public:
  ZipReader() { mz_zip_zero_struct(&zip_); }
  ~ZipReader() {
    if (open_) mz_zip_reader_end(&zip_);
  }
  ZipReader(const ZipReader&) = delete;
  ZipReader& operator=(const ZipReader&) = delete;

  [[nodiscard]] bool open(HANDLE file);
  mz_zip_archive* get() { return &zip_; }

 private:
  mz_zip_archive zip_;
  bool open_ = false;
};

// The stored name, bytes up to the first zero, at any length (the statistics record keeps only
// the first 511 bytes, which could turn two long names into one).
std::string entryNameBytes(mz_zip_archive* zip, mz_uint index);

// The name that becomes a path: UTF-8 when the entry says so, the ANSI code page otherwise.
std::wstring decodeEntryName(const std::string& bytes, const mz_zip_archive_file_stat& stat);

// Entry index's statistics and its name as it becomes a path, which must pass isSafeEntryPath;
// false with the failure text ("压缩包条目损坏（index N）" or "压缩包含非法路径条目：" + name).
bool readSafeEntry(mz_zip_archive* zip, mz_uint index, mz_zip_archive_file_stat& stat, std::wstring& name,
                   std::wstring& failure);

enum class EntryResult { kDone, kFailed, kOverran, kNotPlaced };

// Inflates one file entry into out (created or replaced), with the library's CRC-32 and size
// checks and a limit of the declared size, then gives it the entry's time as access and
// modification time. buffer is the thread's write buffer (kWriteBufferBytes). With renameTo, the
// finished file is then moved over that path (kNotPlaced when the move fails; the file stays at
// out).
// With keepOpen, the finished file's handle is handed over there instead of being closed.
EntryResult extractEntryToFile(mz_zip_archive* zip, mz_uint index, const mz_zip_archive_file_stat& stat,
                               const std::wstring& out, std::vector<char>& buffer,
                               const std::wstring* renameTo = nullptr, util::FileHandle* keepOpen = nullptr);

// Bytes the caller may still write on the volume of folder; unlimited when the volume does not
// say (the writes themselves then report a full disk).
uint64_t freeBytesAt(const std::wstring& folder);

}  // namespace zip_internal
