#include "packages/zip_reader.h"

#include "packages/texts.h"
#include "packages/zip_extract.h"
#include "util/files.h"
#include "util/handles.h"
#include "util/text.h"

#include <algorithm>
#include <cstring>

namespace zip_internal {
namespace {

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

void setEntryTimes(HANDLE file, MZ_TIME_T time) {
  if (time < 0) return;
  const uint64_t ticks = (static_cast<uint64_t>(time) + kEpochDifferenceSeconds) * kTicksPerSecond;
  FILETIME stamp;
  stamp.dwLowDateTime = static_cast<DWORD>(ticks);
  stamp.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  SetFileTime(file, nullptr, &stamp, &stamp);  // a file without its time is still extracted
}

}  // namespace

bool ZipReader::open(HANDLE file) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size)) return false;
  zip_.m_pRead = readArchive;
  zip_.m_pIO_opaque = file;
  open_ = mz_zip_reader_init(&zip_, static_cast<mz_uint64>(size.QuadPart), 0) != MZ_FALSE;
  return open_;
}

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

bool readSafeEntry(mz_zip_archive* zip, mz_uint index, mz_zip_archive_file_stat& stat, std::wstring& name,
                   std::wstring& failure) {
  if (!mz_zip_reader_file_stat(zip, index, &stat)) {
    failure = packages::kEntryDamaged + std::to_wstring(index) + packages::kReasonClose;
    return false;
  }
  // The safety rules apply to the decoded name, which is the one that becomes a path.
  name = decodeEntryName(entryNameBytes(zip, index), stat);
  if (!isSafeEntryPath(name)) {
    failure = packages::kUnsafeEntry + name;
    return false;
  }
  return true;
}

EntryResult extractEntryToFile(mz_zip_archive* zip, mz_uint index, const mz_zip_archive_file_stat& stat,
                               const std::wstring& out, std::vector<char>& buffer, const std::wstring* renameTo,
                               util::FileHandle* keepOpen) {
  if (!stat.m_is_supported) return EntryResult::kFailed;
  util::FileHandle file(CreateFileW(out.c_str(), GENERIC_WRITE | (renameTo ? DELETE : 0), 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return EntryResult::kFailed;
  EntryWriter writer(file.get(), buffer, stat.m_uncomp_size);
  if (!mz_zip_reader_extract_to_callback(zip, index, EntryWriter::write, &writer, 0)) {
    return writer.overran() ? EntryResult::kOverran : EntryResult::kFailed;
  }
  if (!writer.flush()) return EntryResult::kFailed;
  setEntryTimes(file.get(), stat.m_time);
  // Through the handle that wrote the file: no second open and close of it, which on some
  // systems cost more than the rename itself.
  if (renameTo && !util::renameOpenFile(file.get(), *renameTo)) return EntryResult::kNotPlaced;
  if (keepOpen) *keepOpen = std::move(file);
  return EntryResult::kDone;
}

uint64_t freeBytesAt(const std::wstring& folder) {
  ULARGE_INTEGER available{};
  if (!GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return UINT64_MAX;
  return available.QuadPart;
}

}  // namespace zip_internal
