#include "packages/package_index_io.h"

#include "net/sha256.h"
#include "packages/texts.h"
#include "packages/zip_extract.h"
#include "packages/zip_reader.h"
#include "util/files.h"
#include "util/handles.h"
#include "util/text.h"

#include <windows.h>

#include <cstdio>
#include <limits>

namespace {

constexpr uint16_t kStored = 0;
constexpr uint16_t kDeflated = 8;
constexpr size_t kFields = 7;
constexpr wchar_t kIndexInvalid[] = L"包索引无效";  // the path is the seventh and takes the rest of the line

bool isLowerHex(const std::string& text) {
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return !text.empty();
}

// Decimal digits only, no sign, no blank, no overflow.
bool parseDecimal(const std::string& text, uint64_t& value) {
  if (text.empty() || text.size() > 20) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10) return false;
    value = value * 10 + digit;
  }
  return true;
}

// Splits at single blanks into the six fields and the path after them.
bool splitLine(const std::string& line, std::vector<std::string>& fields) {
  fields.clear();
  size_t start = 0;
  while (fields.size() + 1 < kFields) {
    const size_t blank = line.find(' ', start);
    if (blank == std::string::npos) return false;
    fields.push_back(line.substr(start, blank - start));
    start = blank + 1;
  }
  fields.push_back(line.substr(start));
  return true;
}

bool parseEntry(const std::string& line, PackageIndexEntry& entry) {
  std::vector<std::string> f;
  if (!splitLine(line, f)) return false;
  uint64_t crc = 0;
  uint64_t method = 0;
  if (f[0].size() != 64 || !isLowerHex(f[0]) || f[1].size() != 8 || !isLowerHex(f[1])) return false;
  crc = std::stoull(f[1], nullptr, 16);
  if (!parseDecimal(f[2], method) || (method != kStored && method != kDeflated)) return false;
  if (!parseDecimal(f[3], entry.headerOffset) || !parseDecimal(f[4], entry.compressedSize) ||
      !parseDecimal(f[5], entry.size)) {
    return false;
  }
  // The ranges a reader computes from these must not wrap around.
  if (entry.compressedSize > std::numeric_limits<uint64_t>::max() - entry.headerOffset) return false;
  // A stored entry's bytes are its content: a differing size means the line lies.
  if (method == kStored && entry.compressedSize != entry.size) return false;
  const std::wstring name = util::toWide(util::kCodePageUtf8, f[6]);
  if (name.empty() || util::toUtf8(name) != f[6] || !isSafeEntryPath(name)) return false;
  entry.sha256 = f[0];
  entry.crc32 = static_cast<uint32_t>(crc);
  entry.method = static_cast<uint16_t>(method);
  entry.path = f[6];
  return true;
}

std::string hex8(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", value);
  return text;
}

// Hashes an entry's content as miniz inflates it, taking no more than the entry declares.
struct EntryHasher {
  Sha256 sha;
  uint64_t left = 0;
  static size_t write(void* opaque, mz_uint64 /*offset*/, const void* data, size_t count) {
    auto* self = static_cast<EntryHasher*>(opaque);
    if (count > self->left) return 0;
    self->left -= count;
    self->sha.add(data, count);
    return count;
  }
};

// A file entry whose name and method readEntries has accepted.
bool indexEntry(mz_zip_archive* zip, mz_uint i, const std::wstring& name, std::vector<PackageIndexEntry>& entries,
                std::wstring& error) {
  mz_zip_archive_file_stat stat;
  const std::wstring damaged = zip_internal::damagedEntryText(name);
  if (!mz_zip_reader_file_stat(zip, i, &stat) || (stat.m_method != kStored && stat.m_method != kDeflated)) {
    error = damaged;
    return false;
  }
  EntryHasher hasher;
  hasher.left = stat.m_uncomp_size;
  if (!hasher.sha.begin()) {
    error = kHashSetUpFailedText;
    return false;
  }
  // miniz checks the CRC-32 and the size against the central directory as it goes.
  if (!mz_zip_reader_extract_to_callback(zip, i, EntryHasher::write, &hasher, 0) || hasher.left != 0) {
    error = damaged;
    return false;
  }
  PackageIndexEntry entry;
  // Names are kept as they become paths, so that the index and the extraction agree on them.
  std::wstring path = name;
  for (wchar_t& c : path) {
    if (c == L'\\') c = L'/';
  }
  entry.path = util::toUtf8(path);
  entry.size = stat.m_uncomp_size;
  entry.sha256 = hasher.sha.finish();
  entry.crc32 = stat.m_crc32;
  entry.method = static_cast<uint16_t>(stat.m_method);
  entry.headerOffset = stat.m_local_header_ofs;
  entry.compressedSize = stat.m_comp_size;
  if (entry.sha256.empty()) {
    error = kHashSetUpFailedText;
    return false;
  }
  entries.push_back(std::move(entry));
  return true;
}

}  // namespace

std::string formatPackageIndex(const PackageIndex& index) {
  std::string text = std::string(kPackageIndexHeader) + "\n";
  for (const PackageIndexEntry& e : index.entries) {
    text += e.sha256 + " " + hex8(e.crc32) + " " + std::to_string(e.method) + " " +
            std::to_string(e.headerOffset) + " " + std::to_string(e.compressedSize) + " " +
            std::to_string(e.size) + " " + e.path + "\n";
  }
  return text;
}

bool parsePackageIndex(const std::string& bytes, PackageIndex& index, std::wstring& error) {
  index.entries.clear();
  const std::string header = std::string(kPackageIndexHeader) + "\n";
  // A last line without its end is a cut file, not a shorter index.
  if (bytes.size() > kMaxPackageIndexBytes || bytes.compare(0, header.size(), header) != 0 ||
      bytes.back() != '\n') {
    error = kIndexInvalid;
    return false;
  }
  size_t number = 1;
  for (size_t start = header.size(); start < bytes.size();) {
    const size_t end = bytes.find('\n', start);
    ++number;
    PackageIndexEntry entry;
    if (!parseEntry(bytes.substr(start, end - start), entry)) {
      error = kIndexInvalid + (L"（第 " + std::to_wstring(number) + L" 行）");
      index.entries.clear();
      return false;
    }
    index.entries.push_back(std::move(entry));
    start = end + 1;
  }
  return true;
}

bool readPackageIndexFile(const std::wstring& path, PackageIndex& index, std::wstring& error) {
  std::string bytes;
  if (!util::readFile(path, bytes, kMaxPackageIndexBytes)) {
    error = GetLastError() == ERROR_FILE_TOO_LARGE ? std::wstring(kIndexInvalid) : L"无法读取包索引：" + path;
    return false;
  }
  return parsePackageIndex(bytes, index, error);
}

bool writePackageIndexFile(const std::wstring& path, const PackageIndex& index, std::wstring& error) {
  const std::string text = formatPackageIndex(index);
  if (!util::writeFile(path, text.data(), text.size())) {
    error = L"无法写入包索引：" + path;
    return false;
  }
  return true;
}

bool buildPackageIndex(const std::wstring& zip, PackageIndex& index, std::wstring& error) {
  index.entries.clear();
  util::FileHandle file(CreateFileW(zip.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  zip_internal::ZipReader reader;
  if (!file || !reader.open(file.get())) {
    error = L"无法打开压缩包：" + zip;
    return false;
  }
  mz_zip_archive* archive = reader.get();
  std::vector<zip_internal::EntryInfo> entries;
  if (!zip_internal::readEntries(archive, entries, error)) return false;
  for (const zip_internal::EntryInfo& entry : entries) {
    if (!entry.folder && !indexEntry(archive, entry.index, entry.name, index.entries, error)) {
      index.entries.clear();
      return false;
    }
  }
  return true;
}
