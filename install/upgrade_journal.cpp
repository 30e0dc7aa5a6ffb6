#include "install/upgrade_journal.h"

#include "install/markers.h"
#include "util/client_contract.h"
#include "util/files.h"
#include "util/paths.h"
#include "util/text.h"

#include <windows.h>

#include <map>
#include <set>
#include <vector>

namespace install {
namespace {

constexpr char kFormatLine[] = "ORVALO-UPGRADE-JOURNAL 1";
constexpr wchar_t kJournalName[] = L"upgrade.journal";
constexpr wchar_t kStagedSuffix[] = L".upg_tmp";
constexpr wchar_t kOldSuffix[] = L".upg_old";
// A journal names the files of one upgrade; anything larger is not one of ours.
constexpr size_t kMaxJournalBytes = 64u << 20;

enum class Kind { kMakeFolder, kReplace, kCreate, kStage };

struct Entry {
  Kind kind;
  std::wstring path;
};

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Keeps the error of the failed call through the clean-up that follows it.
class KeepLastError {
 public:
  KeepLastError() : error_(GetLastError()) {}
  ~KeepLastError() { SetLastError(error_); }

 private:
  DWORD error_;
};

bool flushFile(const std::wstring& path) {
  util::FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  return file && FlushFileBuffers(file.get());
}

bool isInside(const std::wstring& path, const std::wstring& folder) {
  const std::wstring key = util::normalizePathKey(path);
  const std::wstring root = util::normalizePathKey(folder) + L"\\";
  return key.size() > root.size() && key.compare(0, root.size(), root) == 0 &&
         key.find(L"\\..\\") == std::wstring::npos && key.find(L"\\.\\") == std::wstring::npos;
}

// The entries of a journal, in order; false when the journal cannot be trusted.
bool parseJournal(const std::string& bytes, const std::wstring& installDir, std::vector<Entry>& entries,
                  bool& committed) {
  entries.clear();
  committed = false;
  size_t start = 0;
  bool first = true;
  while (start < bytes.size()) {
    const size_t end = bytes.find('\n', start);
    if (end == std::string::npos) break;  // written in part: never acted on
    const std::string line = bytes.substr(start, end - start);
    start = end + 1;
    if (first) {
      if (line != kFormatLine) return false;
      first = false;
      continue;
    }
    const size_t space = line.find(' ');
    const std::string word = line.substr(0, space);
    if (word == "commit") {
      committed = true;
      continue;
    }
    if (word == "upgrade") continue;
    if (space == std::string::npos) return false;
    Entry entry;
    if (word == "mkdir") {
      entry.kind = Kind::kMakeFolder;
    } else if (word == "replace") {
      entry.kind = Kind::kReplace;
    } else if (word == "create") {
      entry.kind = Kind::kCreate;
    } else if (word == "stage") {
      entry.kind = Kind::kStage;
    } else {
      return false;
    }
    entry.path = util::toWide(util::kCodePageUtf8, line.substr(space + 1));
    // Whatever the file says, nothing outside the installation is ever touched.
    const bool isInstallDir = util::normalizePathKey(entry.path) == util::normalizePathKey(installDir);
    if (!isInside(entry.path, installDir) && !(entry.kind == Kind::kStage && isInstallDir)) return false;
    entries.push_back(std::move(entry));
  }
  return !first;
}

// Removes the prepared files below a folder that never went in place.
bool removeStaged(const std::wstring& folder) {
  bool all = true;
  util::forEachEntry(folder, [&](const std::wstring& path, const WIN32_FIND_DATAW& data) {
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (util::isWalkableFolder(data)) all = removeStaged(path) && all;
    } else if (util::endsWithIgnoringCase(data.cFileName, kStagedSuffix)) {
      all = util::deleteFileForce(path) && all;
    }
    return true;
  });
  return all;
}

// Puts one entry back; false when something could not be restored.
bool undo(const Entry& entry) {
  switch (entry.kind) {
    case Kind::kStage:
      return true;  // done first, by undoAll
    case Kind::kMakeFolder:
      // Only an empty folder goes: whatever else is in it was not the upgrade's.
      RemoveDirectoryW(entry.path.c_str());
      return true;
    case Kind::kCreate:
      return util::deleteFileForce(entry.path + kStagedSuffix) && util::deleteFileForce(entry.path);
    case Kind::kReplace: {
      const std::wstring old = entry.path + kOldSuffix;
      (void)util::deleteFileForce(entry.path + kStagedSuffix);
      // Without the old copy the rename aside never happened: the file is still the old one.
      if (!exists(old)) return true;
      return MoveFileExW(old.c_str(), entry.path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    }
  }
  return true;
}

bool undoAll(const std::vector<Entry>& entries) {
  bool all = true;
  // Prepared files first, so that the folders made for them are empty when their turn comes.
  for (const Entry& entry : entries) {
    if (entry.kind == Kind::kStage) all = removeStaged(entry.path) && all;
  }
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) all = undo(*it) && all;
  return all;
}

bool deleteOldCopies(const std::vector<Entry>& entries) {
  bool all = true;
  for (const Entry& entry : entries) {
    if (entry.kind == Kind::kReplace) all = util::deleteFileForce(entry.path + kOldSuffix) && all;
  }
  return all;
}

// The old copies lying beside the targets, from one listing of each of their folders: looking up
// a name that is not there can cost as much as a listing.
std::set<std::wstring> oldCopiesBeside(const std::vector<std::wstring>& targets) {
  std::map<std::wstring, std::wstring> folders;  // key -> path
  for (const std::wstring& target : targets) {
    const std::wstring folder = target.substr(0, target.find_last_of(L"\\/"));
    folders.emplace(util::normalizePathKey(folder), folder);
  }
  std::set<std::wstring> found;
  for (const auto& folder : folders) {
    util::forEachEntry(folder.second, [&](const std::wstring& path, const WIN32_FIND_DATAW&) {
      if (util::endsWithIgnoringCase(path, kOldSuffix)) found.insert(util::normalizePathKey(path));
      return true;
    });
  }
  return found;
}

bool readEntries(const std::wstring& path, const std::wstring& installDir, std::vector<Entry>& entries,
                 bool& committed) {
  std::string bytes;
  return util::readFile(path, bytes, kMaxJournalBytes) && parseJournal(bytes, installDir, entries, committed);
}

}  // namespace

std::wstring upgradeJournalPath(const std::wstring& installDir) {
  // Only looked up: finding no journal must not create the marker folder.
  std::wstring dir = installDir;
  util::trimTrailingSeparators(dir);
  return dir + L"\\" + client::kMarkerDirName + L"\\" + kJournalName;
}

bool UpgradeJournal::begin(const std::wstring& installDir, const std::wstring& upgrade) {
  installDir_ = installDir;
  path_ = upgradeJournalPath(installDir);
  if (!util::createDirectories(markerDirectory(installDir))) return false;
  file_.reset(CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_) return false;
  const std::string head = std::string(kFormatLine) + "\nupgrade " + util::toUtf8(upgrade) + "\n";
  DWORD written = 0;
  if (!WriteFile(file_.get(), head.data(), static_cast<DWORD>(head.size()), &written, nullptr) ||
      written != head.size() || !FlushFileBuffers(file_.get())) {
    KeepLastError keep;
    file_.reset();
    (void)util::deleteFileForce(path_);
    return false;
  }
  return true;
}

bool UpgradeJournal::append(const char* kind, const std::wstring& path) {
  return appendLines(std::string(kind) + " " + util::toUtf8(path) + "\n");
}

bool UpgradeJournal::appendLines(const std::string& lines) {
  DWORD written = 0;
  // On disk before the steps they name: a crash after this finds them.
  return WriteFile(file_.get(), lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr) &&
         written == lines.size() && FlushFileBuffers(file_.get());
}

bool UpgradeJournal::placeStagedAll(const std::vector<std::wstring>& targets,
                                    const std::function<void(size_t)>& placed, size_t& failedAt) {
  if (targets.empty()) return true;
  // Per file: whether it is moved aside first, and whether it goes over a file of this upgrade.
  std::vector<bool> replacing(targets.size(), false);
  std::vector<bool> again(targets.size(), false);
  const std::set<std::wstring> stale = oldCopiesBeside(targets);
  std::string lines;
  for (size_t i = 0; i < targets.size(); ++i) {
    failedAt = i;
    const auto named = named_.find(util::normalizePathKey(targets[i]));
    if (named != named_.end()) {
      again[i] = true;
      lines += (named->second ? "replace " : "create ") + util::toUtf8(targets[i]) + "\n";
      continue;
    }
    const DWORD attributes = GetFileAttributesW(targets[i].c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      if (attributes & FILE_ATTRIBUTE_READONLY) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
      }
      // A stale old copy of a committed upgrade would be taken for this one's: it goes before
      // the line that could make it count.
      const std::wstring old = targets[i] + kOldSuffix;
      if (stale.count(util::normalizePathKey(old)) > 0 && !util::deleteFileForce(old)) return false;
      replacing[i] = true;
    }
    lines += (replacing[i] ? "replace " : "create ") + util::toUtf8(targets[i]) + "\n";
  }
  // A line for a file not yet touched undoes nothing, so the whole batch may be named at once.
  if (!appendLines(lines)) return false;
  for (size_t i = 0; i < targets.size(); ++i) {
    if (!again[i]) named_.emplace(util::normalizePathKey(targets[i]), replacing[i]);
  }
  for (size_t i = 0; i < targets.size(); ++i) {
    failedAt = i;
    const std::wstring& target = targets[i];
    if (replacing[i] && !util::renameFile(target, target + kOldSuffix)) return false;
    if (!util::renameFile(target + kStagedSuffix, target, again[i])) return false;
    if (placed) placed(i);
  }
  return true;
}

bool UpgradeJournal::placeStaged(const std::wstring& target) {
  const std::wstring staged = target + kStagedSuffix;
  size_t failedAt = 0;
  if (flushFile(staged) && placeStagedAll({target}, nullptr, failedAt)) return true;
  KeepLastError keep;
  (void)util::deleteFileForce(staged);
  return false;
}

bool UpgradeJournal::replace(const std::wstring& source, const std::wstring& target) {
  const std::wstring staged = target + kStagedSuffix;
  (void)util::deleteFileForce(staged);
  if (!CopyFileExW(source.c_str(), staged.c_str(), nullptr, nullptr, nullptr,
                   COPY_FILE_ALLOW_DECRYPTED_DESTINATION)) {
    KeepLastError keep;
    (void)util::deleteFileForce(staged);
    return false;
  }
  // A copy keeps the source's attributes; what is put in place is a plain file.
  SetFileAttributesW(staged.c_str(), FILE_ATTRIBUTE_NORMAL);
  return placeStaged(target);
}

bool UpgradeJournal::write(const std::wstring& target, const std::string& bytes) {
  const std::wstring staged = target + kStagedSuffix;
  if (!util::writeFile(staged, bytes.data(), bytes.size())) {
    KeepLastError keep;
    (void)util::deleteFileForce(staged);
    return false;
  }
  return placeStaged(target);
}

bool UpgradeJournal::stageBelow(const std::wstring& folder) { return append("stage", folder); }

bool UpgradeJournal::makeFolder(const std::wstring& folder) {
  std::vector<std::wstring> missing;
  for (std::wstring level = folder; !level.empty() && !util::isExistingFolder(level);) {
    missing.push_back(level);
    const size_t cut = level.find_last_of(L"\\/");
    if (cut == std::wstring::npos) break;
    level.resize(cut);
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (!append("mkdir", *it)) return false;
    if (!CreateDirectoryW(it->c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return true;
}

bool UpgradeJournal::markCommitted() {
  if (!file_) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  LARGE_INTEGER end{};
  const bool measured = SetFilePointerEx(file_.get(), LARGE_INTEGER{}, &end, FILE_CURRENT) != FALSE;
  if (!append("commit", std::wstring())) {
    // A line written but not flushed would still be read by the rollback that follows, which
    // would then keep the new files: it goes again.
    KeepLastError keep;
    if (measured && SetFilePointerEx(file_.get(), end, nullptr, FILE_BEGIN)) SetEndOfFile(file_.get());
    return false;
  }
  file_.reset();
  return true;
}

void UpgradeJournal::commit() {
  if (!markCommitted()) {
    rollback();
    return;
  }
  (void)recoverUpgrade(installDir_);
}

void UpgradeJournal::rollback() {
  file_.reset();
  (void)recoverUpgrade(installDir_);
}

Recovery recoverUpgrade(const std::wstring& installDir) {
  const std::wstring path = upgradeJournalPath(installDir);
  if (!util::isExistingFile(path)) return Recovery::kNone;
  std::vector<Entry> entries;
  bool committed = false;
  if (!readEntries(path, installDir, entries, committed)) {
    // Nothing it names is trusted; set aside, it no longer blocks the next upgrade.
    MoveFileExW(path.c_str(), (path + L".bad").c_str(), MOVEFILE_REPLACE_EXISTING);
    return Recovery::kUntrusted;
  }
  const bool done = committed ? deleteOldCopies(entries) : undoAll(entries);
  // What could not be put back yet (a file still held open) is tried again at the next start.
  if (done) (void)util::deleteFileForce(path);
  return committed ? Recovery::kCommitted : Recovery::kRolledBack;
}

}  // namespace install
