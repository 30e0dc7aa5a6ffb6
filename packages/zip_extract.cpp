#include "packages/zip_extract.h"

#include <miniz.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "util/file_names.h"
#include "util/files.h"
#include "util/handles.h"
#include "util/text.h"

namespace {

// Output is gathered into one buffer per extraction before WriteFile: the inflater hands out at
// most 32 KiB at a time, and fewer, larger writes are much cheaper. The buffer is the only
// memory that depends on this file, and its size is fixed.
constexpr size_t kWriteBufferBytes = 1 << 20;

// Seconds between 1601-01-01 (FILETIME) and 1970-01-01 (time_t), and FILETIME ticks per second.
constexpr uint64_t kEpochDifferenceSeconds = 11644473600ULL;
constexpr uint64_t kTicksPerSecond = 10000000ULL;

// Bit 11 of an entry's general-purpose flags: its name is UTF-8 (miniz keeps the name private).
constexpr mz_uint16 kUtf8NameFlag = 1 << 11;

// The archive, read through a wide path. miniz pulls data with positioned reads.
size_t readArchive(void* opaque, mz_uint64 offset, void* buffer, size_t count) {
  const HANDLE file = static_cast<HANDLE>(opaque);
  size_t done = 0;
  while (done < count) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(count - done, 1u << 30));
    OVERLAPPED at{};
    const uint64_t position = offset + done;
    at.Offset = static_cast<DWORD>(position);
    at.OffsetHigh = static_cast<DWORD>(position >> 32);
    DWORD got = 0;
    if (!ReadFile(file, static_cast<char*>(buffer) + done, chunk, &got, &at) || got == 0) break;
    done += got;
  }
  return done;
}

// One output file being written; miniz delivers its data in order. It takes no more than the
// entry declares: miniz compares the sizes only after handing data over (a stored entry is
// passed on whole, an inflated one a block past the limit), so a forged header could otherwise
// fill the disk before anything notices.
class EntryWriter {
 public:
  EntryWriter(HANDLE file, std::vector<char>& buffer, uint64_t declared)
      : file_(file), buffer_(buffer), left_(declared) {}

  bool overran() const { return overran_; }

  static size_t write(void* opaque, mz_uint64 /*offset*/, const void* data, size_t count) {
    return static_cast<EntryWriter*>(opaque)->append(static_cast<const char*>(data), count);
  }

  [[nodiscard]] bool flush() {
    size_t done = 0;
    while (done < used_) {
      DWORD written = 0;
      if (!WriteFile(file_, buffer_.data() + done, static_cast<DWORD>(used_ - done), &written,
                     nullptr) ||
          written == 0) {
        return false;
      }
      done += written;
    }
    used_ = 0;
    return true;
  }

 private:
  size_t append(const char* data, size_t count) {
    if (count > left_) {
      overran_ = true;
      return 0;  // miniz stops the entry when a write falls short
    }
    left_ -= count;
    size_t taken = 0;
    while (taken < count) {
      if (used_ == buffer_.size() && !flush()) return taken;
      const size_t part = std::min(count - taken, buffer_.size() - used_);
      std::memcpy(buffer_.data() + used_, data + taken, part);
      used_ += part;
      taken += part;
    }
    return taken;
  }

  HANDLE file_;
  std::vector<char>& buffer_;
  size_t used_ = 0;
  uint64_t left_;
  bool overran_ = false;
};

// Owns an initialised reader; it must end before the archive handle it reads from closes.
class ZipReader {
 public:
  ZipReader() { mz_zip_zero_struct(&zip_); }
  ~ZipReader() {
    if (open_) mz_zip_reader_end(&zip_);
  }
  ZipReader(const ZipReader&) = delete;
  ZipReader& operator=(const ZipReader&) = delete;

  [[nodiscard]] bool open(HANDLE file) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) return false;
    zip_.m_pRead = readArchive;
    zip_.m_pIO_opaque = file;
    open_ = mz_zip_reader_init(&zip_, static_cast<mz_uint64>(size.QuadPart), 0) != MZ_FALSE;
    return open_;
  }
  mz_zip_archive* get() { return &zip_; }

 private:
  mz_zip_archive zip_;
  bool open_ = false;
};

// The stored name, bytes up to the first zero, at any length (the statistics record keeps only
// the first 511 bytes, which could turn two long names into one).
std::string entryNameBytes(mz_zip_archive* zip, mz_uint index) {
  const mz_uint size = mz_zip_reader_get_filename(zip, index, nullptr, 0);
  if (size == 0) return {};
  std::vector<char> name(size);
  mz_zip_reader_get_filename(zip, index, name.data(), size);
  return std::string(name.data());
}

std::wstring decodeEntryName(const std::string& bytes, const mz_zip_archive_file_stat& stat) {
  // Current zip tools mark UTF-8 names with this flag; older ones wrote the packer's ANSI code
  // page, which for our packages is the Chinese one that our users' systems have as well.
  const bool utf8 = (stat.m_bit_flag & kUtf8NameFlag) != 0;
  return util::toWide(utf8 ? util::kCodePageUtf8 : util::kCodePageAnsi, bytes);
}

void setEntryTimes(HANDLE file, MZ_TIME_T time) {
  if (time < 0) return;
  const uint64_t ticks = (static_cast<uint64_t>(time) + kEpochDifferenceSeconds) * kTicksPerSecond;
  FILETIME stamp;
  stamp.dwLowDateTime = static_cast<DWORD>(ticks);
  stamp.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  SetFileTime(file, nullptr, &stamp, &stamp);  // a file without its time is still extracted
}

enum class EntryResult { kDone, kFailed, kOverran };

// Inflates one file entry into out (created or replaced), with the library's CRC-32 and size
// checks and our own limit of the declared size, then gives it the entry's time as access and
// modification time.
EntryResult extractEntryToFile(mz_zip_archive* zip, mz_uint index, const mz_zip_archive_file_stat& stat,
                               const std::wstring& out, std::vector<char>& buffer) {
  if (!stat.m_is_supported) return EntryResult::kFailed;
  util::FileHandle file(CreateFileW(out.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return EntryResult::kFailed;
  EntryWriter writer(file.get(), buffer, stat.m_uncomp_size);
  if (!mz_zip_reader_extract_to_callback(zip, index, EntryWriter::write, &writer, 0)) {
    return writer.overran() ? EntryResult::kOverran : EntryResult::kFailed;
  }
  if (!writer.flush()) return EntryResult::kFailed;
  setEntryTimes(file.get(), stat.m_time);
  return EntryResult::kDone;
}

// Bytes the caller may still write on the volume of folder; unlimited when the volume does not
// say (the writes themselves then report a full disk).
uint64_t freeBytesAt(const std::wstring& folder) {
  ULARGE_INTEGER available{};
  if (!GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return UINT64_MAX;
  return available.QuadPart;
}

void setFailure(std::wstring* failureText, const std::wstring& text) {
  if (failureText) *failureText = text;
}

}  // namespace

bool isSafeEntryPath(const std::wstring& name) {
  if (name.empty()) return false;
  // A folder entry ends in one separator; every other piece must be a safe name of its own.
  const size_t last = (name.back() == L'/' || name.back() == L'\\') ? name.size() - 1 : name.size();
  size_t start = 0;
  while (true) {
    size_t end = name.find_first_of(L"/\\", start);
    if (end == std::wstring::npos || end > last) end = last;
    if (!util::isSafePathComponent(name.substr(start, end - start))) return false;
    if (end == last) return true;
    start = end + 1;
  }
}

std::wstring findContentRoot(const std::wstring& folder) {
  int seen = 0;
  bool sawFile = false;
  std::wstring onlyName;
  util::forEachEntry(folder, [&](const std::wstring&, const WIN32_FIND_DATAW& data) {
    ++seen;
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      sawFile = true;
      return false;
    }
    if (seen > 1) return false;
    onlyName = data.cFileName;
    return true;
  });
  if (seen == 1 && !sawFile) return folder + L"\\" + onlyName;
  return folder;
}

namespace {

// Every entry of the archive into the existing, empty targetDir.
bool extractEntries(const std::wstring& zipPath, const std::wstring& targetDir,
                    std::wstring* failureText, const ByteProgress& progress) {
  // Declared before the reader, which reads through it until it ends.
  util::FileHandle archive(CreateFileW(zipPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ZipReader reader;
  if (!archive || !reader.open(archive.get())) {
    setFailure(failureText, L"无法读取压缩包：" + zipPath);
    return false;
  }
  mz_zip_archive* zip = reader.get();

  const mz_uint count = mz_zip_reader_get_num_files(zip);
  // A false answer stops the extraction between two entries.
  const auto carryOn = [&](uint64_t done) {
    if (!progress || progress(done, count)) return true;
    setFailure(failureText, L"已取消");
    return false;
  };
  if (!carryOn(0)) return false;

  std::vector<char> buffer(kWriteBufferBytes);
  // Declared sizes are counted against the free space up front, so that a package too large
  // for the disk stops at its first entry that cannot fit instead of at a full disk.
  uint64_t spaceLeft = freeBytesAt(targetDir);
  std::wstring knownFolder;
  for (mz_uint i = 0; i < count; ++i) {
    mz_zip_archive_file_stat stat;
    if (!mz_zip_reader_file_stat(zip, i, &stat)) {
      setFailure(failureText, L"压缩包条目损坏（index " + std::to_wstring(i) + L"）");
      return false;
    }
    // The safety rules apply to the decoded name, which is the one that becomes a path.
    const std::wstring name = decodeEntryName(entryNameBytes(zip, i), stat);
    if (!isSafeEntryPath(name)) {
      setFailure(failureText, L"压缩包含非法路径条目：" + name);
      return false;
    }
    std::wstring out = targetDir + L"\\" + name;
    for (wchar_t& c : out) {
      if (c == L'/') c = L'\\';
    }

    if (stat.m_is_directory) {
      if (!util::createDirectories(out)) {
        setFailure(failureText, L"无法创建目录：" + out);
        return false;
      }
      if (!carryOn(i + 1)) return false;
      continue;
    }

    // Entries of one folder usually follow each other: its existence is checked once for them.
    const std::wstring parent = out.substr(0, out.rfind(L'\\'));
    if (parent != knownFolder) {
      if (!util::createDirectories(parent)) {
        setFailure(failureText, L"无法创建目录：" + parent);
        return false;
      }
      knownFolder = parent;
    }
    if (stat.m_uncomp_size > spaceLeft) {
      setFailure(failureText, L"磁盘空间不足，无法解压：" + name);
      return false;
    }
    spaceLeft -= stat.m_uncomp_size;
    const EntryResult result = extractEntryToFile(zip, i, stat, out, buffer);
    if (result == EntryResult::kOverran) {
      setFailure(failureText, L"解压失败：" + name + L"（解压后的大小超出声明）");
      return false;
    }
    if (result == EntryResult::kFailed) {
      setFailure(failureText, L"解压失败：" + name);
      return false;
    }
    if (!carryOn(i + 1)) return false;
  }
  return true;
}

}  // namespace

bool checkZip(const std::wstring& zipPath, std::wstring& failureText) {
  util::FileHandle archive(CreateFileW(zipPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ZipReader reader;
  if (!archive || !reader.open(archive.get())) {
    failureText = L"无法读取压缩包：" + zipPath;
    return false;
  }
  mz_zip_archive* zip = reader.get();
  const mz_uint count = mz_zip_reader_get_num_files(zip);
  for (mz_uint i = 0; i < count; ++i) {
    mz_zip_archive_file_stat stat;
    if (!mz_zip_reader_file_stat(zip, i, &stat)) {
      failureText = L"压缩包条目损坏（index " + std::to_wstring(i) + L"）";
      return false;
    }
    const std::wstring name = decodeEntryName(entryNameBytes(zip, i), stat);
    if (!isSafeEntryPath(name)) {
      failureText = L"压缩包含非法路径条目：" + name;
      return false;
    }
    if (!stat.m_is_directory && (!stat.m_is_supported || !mz_zip_validate_file(zip, i, 0))) {
      failureText = L"解压失败：" + name;
      return false;
    }
  }
  return true;
}

bool extractZip(const std::wstring& zipPath, const std::wstring& targetDir,
                std::wstring& contentRoot, std::wstring* failureText,
                const ByteProgress& progress) {
  contentRoot.clear();
  // Leftovers of an earlier attempt must not mix with this package.
  util::deleteDirRecursive(targetDir);
  if (!util::createDirectories(targetDir)) {
    setFailure(failureText, L"无法重建解压目录：" + targetDir);
    return false;
  }
  if (!extractEntries(zipPath, targetDir, failureText, progress)) {
    // Half a package is of no use to anyone and may be large: none of it stays.
    util::deleteDirRecursive(targetDir);
    return false;
  }
  contentRoot = findContentRoot(targetDir);
  return true;
}
