#include "packages/zip_reader.h"

#include "packages/crc32.h"
#include "packages/texts.h"
#include "packages/zip_extract.h"
#include "util/files.h"
#include "util/handles.h"
#include "util/paths.h"
#include "util/text.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace zip_internal {
namespace {

// Seconds between 1601-01-01 (FILETIME) and 1970-01-01 (time_t), and FILETIME ticks per second.
constexpr uint64_t kEpochDifferenceSeconds = 11644473600ULL;
constexpr uint64_t kTicksPerSecond = 10000000ULL;

// Bit 11 of an entry's general-purpose flags: its name is UTF-8 (miniz keeps the name private).
constexpr mz_uint16 kUtf8NameFlag = 1 << 11;

constexpr uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr size_t kCentralHeaderBytes = 46;
constexpr uint16_t kUnicodePathField = 0x7075;
// The hosts of the "version made by" field whose zip tools write UTF-8 names without the flag.
constexpr unsigned kHostUnix = 3;
constexpr unsigned kHostMac = 19;

uint16_t read16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t read32(const unsigned char* p) { return read16(p) | (static_cast<uint32_t>(read16(p + 2)) << 16); }

bool readAt(mz_zip_archive* zip, uint64_t at, void* out, size_t count) {
  return zip->m_pRead(zip->m_pIO_opaque, at, out, count) == count;
}

// The entry's record in the central directory: where it starts, and its fixed part.
bool centralRecord(mz_zip_archive* zip, const mz_zip_archive_file_stat& stat, uint64_t& at,
                   unsigned char (&header)[kCentralHeaderBytes]) {
  at = zip->m_central_directory_file_ofs + stat.m_central_dir_ofs;
  return readAt(zip, at, header, sizeof header) && read32(header) == kCentralHeaderSignature;
}

// The UTF-8 name of an Info-ZIP Unicode Path field that belongs to the stored name (its CRC-32
// is the stored name's); empty when there is none.
std::string unicodePathName(mz_zip_archive* zip, const mz_zip_archive_file_stat& stat, const std::string& stored) {
  uint64_t at = 0;
  unsigned char header[kCentralHeaderBytes];
  if (!centralRecord(zip, stat, at, header)) return {};
  std::string extra(read16(header + 30), '\0');
  if (extra.empty() || !readAt(zip, at + kCentralHeaderBytes + read16(header + 28), extra.data(), extra.size())) return {};
  const auto* p = reinterpret_cast<const unsigned char*>(extra.data());
  for (size_t i = 0; i + 4 <= extra.size();) {
    const uint16_t tag = read16(p + i), size = read16(p + i + 2);
    if (i + 4 + size > extra.size()) return {};
    if (tag == kUnicodePathField && size > 5 && p[i + 4] == 1 &&
        read32(p + i + 5) == packages::crc32(0, stored.data(), stored.size())) {
      return extra.substr(i + 9, size - 5);
    }
    i += 4 + size;
  }
  return {};
}

bool isStrictUtf8(const std::string& bytes) {
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), nullptr,
                             0) > 0;
}

bool isAscii(const std::string& bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::wstring methodName(mz_uint16 method) {
  switch (method) {
    case 9: return L"Deflate64";
    case 12: return L"BZip2";
    case 14: return L"LZMA";
    case 93: return L"Zstandard";
    case 95: return L"XZ";
    case 98: return L"PPMd";
    default: return L"方法 " + std::to_wstring(method);
  }
}

// Whether an entry follows the central directory's last one: a count that wrapped past 65535
// left it out.
bool moreRecordsThanCounted(mz_zip_archive* zip) {
  const mz_uint count = mz_zip_reader_get_num_files(zip);
  uint64_t end = zip->m_central_directory_file_ofs;
  if (count > 0) {
    mz_zip_archive_file_stat stat;
    unsigned char header[kCentralHeaderBytes];
    if (!mz_zip_reader_file_stat(zip, count - 1, &stat) || !centralRecord(zip, stat, end, header)) return false;
    end += kCentralHeaderBytes + read16(header + 28) + read16(header + 30) + read16(header + 32);
  }
  unsigned char signature[4];
  return readAt(zip, end, signature, sizeof signature) && read32(signature) == kCentralHeaderSignature;
}

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
  bool writeFailed() const { return writeFailed_; }

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
      if (used_ == buffer_.size() && !flush()) {
        writeFailed_ = true;
        return taken;
      }
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
  bool writeFailed_ = false;
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

std::wstring decodeEntryName(mz_zip_archive* zip, const std::string& bytes, const mz_zip_archive_file_stat& stat) {
  // Current zip tools mark UTF-8 names with this flag; older Windows ones wrote the packer's ANSI
  // code page, which for our packages is the Chinese one that our users' systems have as well.
  if (stat.m_bit_flag & kUtf8NameFlag) return util::toWide(util::kCodePageUtf8, bytes);
  if (isAscii(bytes)) return util::toWide(util::kCodePageAnsi, bytes);
  const std::string unicode = unicodePathName(zip, stat, bytes);
  if (!unicode.empty() && isStrictUtf8(unicode)) return util::toWide(util::kCodePageUtf8, unicode);
  const unsigned host = stat.m_version_made_by >> 8;
  const bool utf8 = (host == kHostUnix || host == kHostMac) && isStrictUtf8(bytes);
  return util::toWide(utf8 ? util::kCodePageUtf8 : util::kCodePageAnsi, bytes);
}

bool readSafeEntry(mz_zip_archive* zip, mz_uint index, mz_zip_archive_file_stat& stat, std::wstring& name,
                   std::wstring& failure) {
  if (!mz_zip_reader_file_stat(zip, index, &stat)) {
    failure = packages::kEntryDamaged + std::to_wstring(index) + packages::kReasonClose;
    return false;
  }
  // The safety rules apply to the decoded name, which is the one that becomes a path. Some tools
  // write "./" before every name, and "./" itself for the folder the package is.
  name = decodeEntryName(zip, entryNameBytes(zip, index), stat);
  while (name.size() >= 2 && name[0] == L'.' && (name[1] == L'/' || name[1] == L'\\')) name.erase(0, 2);
  if (name.empty() && stat.m_is_directory) return true;
  if (!isSafeEntryPath(name)) {
    failure = packages::kUnsafeEntry + name;
    return false;
  }
  return true;
}

bool readEntries(mz_zip_archive* zip, std::vector<EntryInfo>& entries, std::wstring& failure) {
  entries.clear();
  if (moreRecordsThanCounted(zip)) {
    failure = packages::kCountWrapped;
    return false;
  }
  // Every path the package makes, lower-cased, and whether it is a folder.
  std::map<std::wstring, bool> paths;
  const auto claim = [&](const std::wstring& path, bool folder) {
    const auto [at, added] = paths.emplace(util::normalizePathKey(path), folder);
    return added || (folder && at->second);
  };
  const mz_uint count = mz_zip_reader_get_num_files(zip);
  for (mz_uint i = 0; i < count; ++i) {
    mz_zip_archive_file_stat stat;
    EntryInfo entry;
    if (!readSafeEntry(zip, i, stat, entry.name, failure)) return false;
    if (entry.name.empty()) continue;
    entry.index = i;
    entry.folder = stat.m_is_directory != MZ_FALSE;
    entry.size = stat.m_uncomp_size;
    if (!entry.folder) {
      if (stat.m_is_encrypted) {
        failure = packages::kEncryptedEntry + entry.name;
        return false;
      }
      if (stat.m_method != 0 && stat.m_method != MZ_DEFLATED) {
        failure = packages::kUnsupportedMethod + methodName(stat.m_method) + packages::kMethodAfter + entry.name;
        return false;
      }
      if (!stat.m_is_supported) {
        failure = damagedEntryText(entry.name);
        return false;
      }
    }
    std::wstring path = entry.name;
    std::replace(path.begin(), path.end(), L'\\', L'/');
    if (path.back() == L'/') path.pop_back();
    bool clash = false;
    for (size_t cut = path.find(L'/'); cut != std::wstring::npos && !clash; cut = path.find(L'/', cut + 1)) {
      clash = !claim(path.substr(0, cut), true);
    }
    if (clash || !claim(path, entry.folder)) {
      failure = packages::kCaseClash + entry.name;
      return false;
    }
    entries.push_back(std::move(entry));
  }
  return true;
}

std::wstring damagedEntryText(const std::wstring& name) { return packages::kDamagedEntry + name; }

EntryResult extractEntryToFile(mz_zip_archive* zip, mz_uint index, const mz_zip_archive_file_stat& stat,
                               const std::wstring& out, std::vector<char>& buffer, const std::wstring* renameTo,
                               util::FileHandle* keepOpen) {
  if (!stat.m_is_supported) return EntryResult::kDamaged;
  util::FileHandle file(CreateFileW(out.c_str(), GENERIC_WRITE | (renameTo ? DELETE : 0), 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return EntryResult::kFailed;
  EntryWriter writer(file.get(), buffer, stat.m_uncomp_size);
  if (!mz_zip_reader_extract_to_callback(zip, index, EntryWriter::write, &writer, 0)) {
    if (writer.overran()) return EntryResult::kOverran;
    return writer.writeFailed() ? EntryResult::kFailed : EntryResult::kDamaged;
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
