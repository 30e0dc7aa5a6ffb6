#include "applier/db_snapshot.h"

#include "util/client_contract.h"
#include "util/files.h"
#include "util/handles.h"
#include "util/paths.h"

#include <windows.h>

#include <algorithm>
#include <functional>

namespace {

constexpr size_t kSnapshotsKept = 2;

// Full paths of the entries matching the pattern in folder, folders or files only.
std::vector<std::wstring> matchingEntries(const std::wstring& folder, const wchar_t* pattern,
                                          bool wantFolders) {
  std::vector<std::wstring> found;
  WIN32_FIND_DATAW data;
  util::FindHandle find(FindFirstFileW((folder + L"\\" + pattern).c_str(), &data));
  if (!find) return found;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    const bool isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isFolder == wantFolders) found.push_back(folder + L"\\" + name);
  } while (FindNextFileW(find.get(), &data));
  return found;
}

bool copyInto(const std::wstring& source, const std::wstring& target) {
  return CopyFileExW(source.c_str(), target.c_str(), nullptr, nullptr, nullptr,
                     COPY_FILE_ALLOW_DECRYPTED_DESTINATION) != FALSE;
}

}  // namespace

std::wstring snapshotFolderName(unsigned year, unsigned month, unsigned day, unsigned hour,
                                unsigned minute, unsigned second) {
  wchar_t stamp[64];
  swprintf(stamp, 64, L"upgrade_%04u%02u%02u_%02u%02u%02u", year, month, day, hour, minute, second);
  return stamp;
}

std::vector<std::wstring> snapshotsToPrune(std::vector<std::wstring> folders) {
  if (folders.size() <= kSnapshotsKept) return {};
  std::sort(folders.begin(), folders.end(), std::greater<std::wstring>());
  return std::vector<std::wstring>(folders.begin() + kSnapshotsKept, folders.end());
}

std::wstring createDbSnapshot(const std::wstring& installDir) {
  std::wstring root = installDir;
  util::trimTrailingSeparators(root);
  if (root.empty() || !util::isExistingFolder(root)) return {};
  const std::vector<std::wstring> databases = matchingEntries(root, L"*.db", false);
  if (databases.empty()) return {};

  SYSTEMTIME now;
  GetLocalTime(&now);
  const std::wstring backup = root + L"\\" + client::kBackupDirName;
  const std::wstring folder = backup + L"\\" +
      snapshotFolderName(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
  if (!util::createDirectories(folder)) return {};

  for (const std::wstring& database : databases) {
    const std::wstring name = util::fileNameOf(database);
    // A database that cannot be read makes the snapshot worthless as a whole; what was copied
    // stays for the user, but older snapshots are not pruned on its account.
    if (!copyInto(database, folder + L"\\" + name)) return {};
    for (const wchar_t* suffix : client::kDbCompanionSuffixes) {
      if (util::isExistingFile(database + suffix)) copyInto(database + suffix, folder + L"\\" + name + suffix);
    }
  }

  for (const std::wstring& old : snapshotsToPrune(matchingEntries(backup, L"upgrade_*", true))) {
    util::deleteDirRecursive(old);
  }
  return folder;
}
