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

// The name that becomes a path: UTF-8 when the entry says so, or when an Info-ZIP Unicode Path
// field (0x7075) of the central directory vouches for the stored name (its CRC-32 matches), or
// when a Unix or macOS zip stored a name that is valid UTF-8 and not plain ASCII (those tools
// write UTF-8 without the flag); the ANSI code page otherwise.
std::wstring decodeEntryName(mz_zip_archive* zip, const std::string& bytes, const mz_zip_archive_file_stat& stat);

// Entry index's statistics and its name as it becomes a path, without a leading "./" (a lone
// "./" becomes an empty name, the folder itself), which must pass isSafeEntryPath; false with
// the failure text ("压缩包条目损坏（index N）" or "压缩包含非法路径条目：" + name).
bool readSafeEntry(mz_zip_archive* zip, mz_uint index, mz_zip_archive_file_stat& stat, std::wstring& name,
                   std::wstring& failure);

// One entry as the package code uses it.
struct EntryInfo {
  mz_uint index = 0;
  std::wstring name;  // as readSafeEntry gives it, never empty
  bool folder = false;
  uint64_t size = 0;  // declared
};

// Every entry of the archive, each checked before anything is written: a safe name (a lone "./"
// is left out), no two names that Windows takes for one path (letter case, or a file and a
// folder), every file stored or deflated and not encrypted, and no more entries in the central
// directory than the archive's count states (a count that wrapped past 65535). False with the
// failure text, naming the entry and what is wrong with it.
bool readEntries(mz_zip_archive* zip, std::vector<EntryInfo>& entries, std::wstring& failure);

// The failure text of an entry that failed to inflate or its CRC-32 check.
std::wstring damagedEntryText(const std::wstring& name);

enum class EntryResult { kDone, kFailed, kDamaged, kOverran, kNotPlaced };

// Inflates one file entry into out (created or replaced; kFailed when it cannot be), with the
// library's CRC-32 and size checks (kDamaged) and a limit of the declared size (kOverran), then gives it the entry's time as access and
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
