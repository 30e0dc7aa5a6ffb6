#include "packages/zip_extract.h"

#include "packages/texts.h"
#include "packages/zip_reader.h"

#include <windows.h>

#include <vector>

#include "util/failure.h"
#include "util/file_names.h"
#include "util/files.h"
#include "util/handles.h"
#include "util/text.h"

using namespace zip_internal;

namespace {

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
    setFailure(failureText, packages::kZipUnreadable + zipPath);
    return false;
  }
  mz_zip_archive* zip = reader.get();

  // Every entry is judged before the first is written.
  std::vector<EntryInfo> entries;
  std::wstring failure;
  if (!readEntries(zip, entries, failure)) {
    setFailure(failureText, failure);
    return false;
  }
  const uint64_t count = entries.size();
  // A false answer stops the extraction between two entries.
  const auto carryOn = [&](uint64_t done) {
    if (!progress || progress(done, count)) return true;
    setFailure(failureText, util::kCancelledText);
    return false;
  };
  if (!carryOn(0)) return false;

  std::vector<char> buffer(kWriteBufferBytes);
  // Declared sizes are counted against the free space up front, so that a package too large
  // for the disk stops at its first entry that cannot fit instead of at a full disk.
  uint64_t spaceLeft = freeBytesAt(targetDir);
  std::wstring knownFolder;
  for (uint64_t done = 0; done < count; ++done) {
    const EntryInfo& entry = entries[done];
    const std::wstring& name = entry.name;
    std::wstring out = targetDir + L"\\" + name;
    for (wchar_t& c : out) {
      if (c == L'/') c = L'\\';
    }

    if (entry.folder) {
      if (!util::createDirectories(out)) {
        setFailure(failureText, packages::kFolderNotMade + out);
        return false;
      }
      if (!carryOn(done + 1)) return false;
      continue;
    }

    // Entries of one folder usually follow each other: its existence is checked once for them.
    const std::wstring parent = out.substr(0, out.rfind(L'\\'));
    if (parent != knownFolder) {
      if (!util::createDirectories(parent)) {
        setFailure(failureText, packages::kFolderNotMade + parent);
        return false;
      }
      knownFolder = parent;
    }
    if (entry.size > spaceLeft) {
      setFailure(failureText, packages::kDiskFull + name);
      return false;
    }
    spaceLeft -= entry.size;
    mz_zip_archive_file_stat stat;
    const EntryResult result = mz_zip_reader_file_stat(zip, entry.index, &stat)
                                   ? extractEntryToFile(zip, entry.index, stat, out, buffer)
                                   : EntryResult::kDamaged;
    if (result == EntryResult::kOverran) {
      setFailure(failureText, packages::kExtractFailed + name + packages::kOverran);
      return false;
    }
    if (result == EntryResult::kDamaged) {
      setFailure(failureText, damagedEntryText(name));
      return false;
    }
    if (result == EntryResult::kFailed) {
      setFailure(failureText, packages::kExtractFailed + name);
      return false;
    }
    if (!carryOn(done + 1)) return false;
  }
  return true;
}

}  // namespace

bool checkZip(const std::wstring& zipPath, std::wstring& failureText) {
  util::FileHandle archive(CreateFileW(zipPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ZipReader reader;
  if (!archive || !reader.open(archive.get())) {
    failureText = packages::kZipUnreadable + zipPath;
    return false;
  }
  mz_zip_archive* zip = reader.get();
  std::vector<EntryInfo> entries;
  if (!readEntries(zip, entries, failureText)) return false;
  for (const EntryInfo& entry : entries) {
    if (!entry.folder && !mz_zip_validate_file(zip, entry.index, 0)) {
      failureText = damagedEntryText(entry.name);
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
    setFailure(failureText, packages::kFolderNotRemade + targetDir);
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
