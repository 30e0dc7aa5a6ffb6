#include "uninstall/uninstall.h"

#include "install/install_lock.h"
#include "install/registration.h"
#include "install/shortcut.h"
#include "prog/job.h"
#include "prog/run_log.h"
#include "uninstall/texts.h"
#include "util/client_contract.h"
#include "util/files.h"
#include "util/handles.h"
#include "util/paths.h"
#include "util/quote.h"
#include "util/self_copy.h"

#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <memory>

namespace {

using uninstall::kCaption;
using uninstall::kCopyFailed;
using uninstall::kFolderBusy;
using uninstall::kNotInstalledPrefix;
using uninstall::kStartFailed;

// Files held by the processes just ended are released a moment after they exit.
constexpr int kRemoveAttempts = 5;
constexpr DWORD kRemovePauseMs = 400;
constexpr DWORD kImagePathChars = 520;
constexpr DWORD kEnvPathChars = 260;

int showBox(HWND owner, const std::wstring& text, UINT flags) {
  return MessageBoxW(owner, text.c_str(), kCaption, flags);
}

// Both modes refuse the same folders: roots silently, anything that is no installation with a box
// (a line of the log, with one).
bool acceptFolder(HWND owner, const std::wstring& folder, prog::RunLog* log = nullptr) {
  if (uninstall::isFolderTooShort(folder)) {
    if (log) log->line(kNotInstalledPrefix + folder);
    return false;
  }
  if (uninstall::looksLikeInstallation(uninstall::gatherInstallEvidence(folder))) return true;
  if (log) {
    log->line(kNotInstalledPrefix + folder);
  } else {
    showBox(owner, kNotInstalledPrefix + folder, MB_OK | MB_ICONERROR);
  }
  return false;
}

// The folder's lock, taken before the first question and the first change: an upgrade that owns
// the folder (its files staged, its helper waiting for the client) must not lose them to the
// removal. Refused with a box (a line of the log, with one) when another run owns it.
util::Handle lockFolder(HWND owner, const std::wstring& folder, prog::RunLog* log = nullptr) {
  util::Handle lock = install::acquireFolderLock(folder);
  if (lock) return lock;
  if (log) {
    log->line(kFolderBusy);
  } else {
    showBox(owner, kFolderBusy, MB_OK | MB_ICONWARNING);
  }
  return lock;
}

// An unattended removal tells an administrator's script whether anything that was to go remained.
int silentExitCode(const uninstall::RemovalResult& removed) {
  return removed.complete ? prog::kExitDone : prog::kExitFileSystem;
}

std::wstring logPathOrDefault(const std::wstring& logPath) {
  return logPath.empty() ? prog::defaultRunLogPath() : logPath;
}

// Starts the worker for an unattended removal and waits for it: its exit code is set before it
// has its own file deleted, which happens after it has exited. -1 when it cannot be started.
int runSilentWorker(const std::wstring& worker, const std::wstring& installDir, bool purgeData,
                    const std::wstring& logPath) {
  std::wstring commandLine = util::quoteArgument(worker) + L" " +
                             uninstall::workerParameters(installDir, purgeData) + L" --silent --log " +
                             util::quoteArgument(logPath);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(worker.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    return -1;
  }
  const util::Handle process(info.hProcess);
  const util::Handle thread(info.hThread);
  WaitForSingleObject(process.get(), INFINITE);
  DWORD code = prog::kExitFileSystem;
  if (!GetExitCodeProcess(process.get(), &code)) code = prog::kExitFileSystem;
  return static_cast<int>(code);
}

bool isRegisteredLocation(const std::wstring& folder) {
  const std::wstring registered = readInstallLocation();
  return !registered.empty() &&
         util::normalizePathKey(registered) == util::normalizePathKey(folder);
}

// Called by whoever removes the folder, once the removal goes ahead. The key is deleted only while
// it names this folder: uninstalling one folder must not unlist an installation elsewhere.
void removeShortcutAndRegistration(const std::wstring& folder) {
  (void)deleteDesktopShortcut(folder);
  if (isRegisteredLocation(folder)) RegDeleteTreeW(HKEY_CURRENT_USER, kUninstallKeyPath);
}

// Every other process whose image path can be read, each opened once with the right to end it,
// so that the process judged is the one ended even if its id is reused meanwhile.
struct OpenedProcesses {
  std::vector<uninstall::ProcessImage> images;
  std::vector<util::Handle> handles;  // parallel to images
};

OpenedProcesses openRunningProcesses() {
  OpenedProcesses opened;
  util::FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return opened;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == GetCurrentProcessId()) continue;
    util::Handle process(OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                     entry.th32ProcessID));
    if (!process) continue;
    wchar_t image[kImagePathChars] = {};
    DWORD length = kImagePathChars;
    if (!QueryFullProcessImageNameW(process.get(), 0, image, &length)) continue;
    opened.images.push_back({entry.th32ProcessID, std::wstring(image, length)});
    opened.handles.push_back(std::move(process));
  }
  return opened;
}

// Ends every program running from the folder, without asking it to close and without waiting:
// the removal's repeated attempts absorb the time they take to exit.
void endProcessesInside(const std::wstring& folder) {
  const OpenedProcesses opened = openRunningProcesses();
  for (size_t i : uninstall::processesToEnd(opened.images, folder, GetCurrentProcessId())) {
    TerminateProcess(opened.handles[i].get(), 0);
  }
}

// The worker's file cannot be deleted while it runs: a hidden shell deletes it after the exit,
// or failing that the next restart does.
void scheduleSelfDeletion(const std::wstring& self = util::modulePath()) {
  const std::wstring systemDir = util::systemDirectory();
  uninstall::ShellCommand command = uninstall::selfDeleteCommand(self, systemDir);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION info{};
  if (!systemDir.empty() &&
      CreateProcessW(command.application.c_str(), command.commandLine.data(), nullptr, nullptr,
                     FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info)) {
    const util::Handle process(info.hProcess);
    const util::Handle thread(info.hThread);
    return;
  }
  MoveFileExW(self.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

bool removeEmptyFolder(const std::wstring& path, DWORD attrs) {
  // A read-only folder cannot be removed; the flag is often set on folders only for display.
  if (attrs & FILE_ATTRIBUTE_READONLY) {
    SetFileAttributesW(path.c_str(), attrs & ~FILE_ATTRIBUTE_READONLY);
  }
  return RemoveDirectoryW(path.c_str()) != FALSE;
}

// Removes what can be removed below folder (relative: its path below the install folder), going
// on past entries that cannot be removed (a file another program holds open), which make the
// result incomplete. Links to folders are removed as links, never walked. True when kept user
// files remain below folder, which then stays too.
bool removeEntriesBelow(const std::wstring& folder, const std::wstring& relative,
                        uninstall::UserFiles userFiles, uninstall::RemovalResult& result) {
  bool keptBelow = false;
  util::forEachEntry(folder, [&](const std::wstring& path, const WIN32_FIND_DATAW& data) {
    const bool isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const std::wstring rel = relative.empty() ? data.cFileName : relative + L'\\' + data.cFileName;
    if (userFiles == uninstall::UserFiles::Keep && uninstall::isKeptUserEntry(rel, isFolder)) {
      keptBelow = true;
    } else if (!isFolder) {
      if (!util::deleteFileForce(path)) result.complete = false;
    } else if (util::isWalkableFolder(data) && removeEntriesBelow(path, rel, userFiles, result)) {
      keptBelow = true;
    } else if (!removeEmptyFolder(path, data.dwFileAttributes)) {
      result.complete = false;
    }
    return true;
  });
  return keptBelow;
}

uninstall::RemovalResult removeInstallDirOnce(const std::wstring& folder,
                                              uninstall::UserFiles userFiles) {
  uninstall::RemovalResult result;
  const DWORD attrs = GetFileAttributesW(folder.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES || !(attrs & FILE_ATTRIBUTE_DIRECTORY)) return result;
  // A link to a folder is removed as a link; what it points to is never emptied.
  if (!(attrs & FILE_ATTRIBUTE_REPARSE_POINT)) {
    result.keptUserFiles = removeEntriesBelow(folder, L"", userFiles, result);
  }
  if (!result.keptUserFiles && !removeEmptyFolder(folder, attrs)) result.complete = false;
  return result;
}

}  // namespace

namespace uninstall {

InstallEvidence gatherInstallEvidence(const std::wstring& folder) {
  InstallEvidence evidence;
  evidence.registered = isRegisteredLocation(folder);
  evidence.setupCopy = util::isExistingFile(util::joinPath(folder, client::kSetupExeName));
  evidence.channelFile = util::isExistingFile(util::joinPath(folder, client::kChannelFileName));
  evidence.markerDir = util::isExistingFolder(util::joinPath(folder, client::kMarkerDirName));
  return evidence;
}

}  // namespace uninstall

uninstall::RemovalResult removeInstallDir(const std::wstring& folder,
                                          uninstall::UserFiles userFiles) {
  // util::deleteDirRecursive stops at the first entry it cannot remove, which would leave
  // everything the walk had not reached yet; the uninstaller removes all it can. Kept files are
  // no reason to try again.
  uninstall::RemovalResult result;
  for (int attempt = 0; attempt < kRemoveAttempts; ++attempt) {
    result = removeInstallDirOnce(folder, userFiles);
    if (result.complete) break;
    Sleep(kRemovePauseMs);
  }
  return result;
}

void removeUserData() {
  const std::wstring local = util::localAppDataDirectory();
  if (!local.empty()) util::deleteDirRecursive(util::joinPath(local, client::kUserDataDirName));
  wchar_t roaming[kEnvPathChars] = {};
  const DWORD length = GetEnvironmentVariableW(L"APPDATA", roaming, kEnvPathChars);
  if (length > 0 && length < kEnvPathChars) {
    util::deleteDirRecursive(util::joinPath(std::wstring(roaming, length), client::kUserDataDirName));
  }
}

namespace uninstall {

Answers askAndHandOver(const std::wstring& installDir, HWND owner) {
  Answers answers;
  answers.exitCode = 1;
  if (!acceptFolder(owner, installDir)) return answers;
  util::Handle lock = lockFolder(owner, installDir);
  if (!lock) return answers;
  answers.exitCode = 0;
  if (showBox(owner, kConfirmPrefix + installDir + kConfirmSuffix,
              MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) != IDYES) {
    return answers;
  }
  answers.purgeData =
      showBox(owner, kPurgeQuestion, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;

  endProcessesInside(installDir);

  if (!runsFromInside(util::moduleDirectory(), installDir)) {
    answers.removeInPlace = true;
    answers.lock = std::move(lock);
    return answers;
  }
  // The shortcut and the registration stay for the worker: it removes them once it has
  // accepted the folder, which it does by reading that same registration.
  std::wstring worker;
  if (!copySelfToTemp(worker)) {
    showBox(owner, kCopyFailed, MB_OK | MB_ICONERROR);
    answers.exitCode = 1;
    return answers;
  }
  const std::wstring parameters = workerParameters(installDir, answers.purgeData);
  lock.reset();  // the worker takes it as it starts
  const auto started = reinterpret_cast<INT_PTR>(
      ShellExecuteW(owner, L"open", worker.c_str(), parameters.c_str(), nullptr, SW_SHOWNORMAL));
  if (started <= 32) {
    showBox(owner, kStartFailed, MB_OK | MB_ICONERROR);
    answers.exitCode = 1;
  }
  return answers;  // 0: the worker finishes the job
}

Closing removeInstallation(const std::wstring& folder, bool purgeData, Remover remover) {
  removeShortcutAndRegistration(folder);
  Closing closing;
  closing.removed = removeInstallDir(folder, purgeData ? UserFiles::Remove : UserFiles::Keep);
  if (purgeData) removeUserData();
  closing.report = removalReport(closing.removed, folder, remover);
  return closing;
}

void showClosingBox(HWND owner, const std::wstring& report) {
  showBox(owner, report, MB_OK | MB_ICONINFORMATION);
}

}  // namespace uninstall

int runUninstall(const std::wstring& installDir, HWND owner) {
  const uninstall::Answers answers = uninstall::askAndHandOver(installDir, owner);
  if (!answers.removeInPlace) return answers.exitCode;
  uninstall::showClosingBox(
      owner, uninstall::removeInstallation(installDir, answers.purgeData, uninstall::Remover::InPlace).report);
  return 0;
}

int runSilentUninstall(const std::wstring& installDir, bool purgeData, const std::wstring& logPath) {
  const std::wstring path = logPathOrDefault(logPath);
  prog::RunLog log(path, prog::RunLog::Mode::kOverwrite);
  log.line(uninstall::kSilentStartPrefix + installDir +
           (purgeData ? uninstall::kSilentPurgeSuffix : uninstall::kSilentKeepSuffix));
  if (!acceptFolder(nullptr, installDir, &log)) return prog::kExitRefused;
  util::Handle lock = lockFolder(nullptr, installDir, &log);
  if (!lock) return prog::kExitRefused;

  endProcessesInside(installDir);

  if (uninstall::runsFromInside(util::moduleDirectory(), installDir)) {
    std::wstring worker;
    if (!copySelfToTemp(worker)) {
      log.line(kCopyFailed);
      return prog::kExitRefused;
    }
    // This process waits for the worker's result, and Windows deletes no file that a running
    // program was started from; it can rename it, though, within its volume. Moved out of the
    // folder, this program's file is deleted after it exits, as the worker's is.
    const std::wstring self = util::modulePath();
    const std::wstring parked = util::tempDirectory() + L"\\OrvaloSetup_uninstall_" +
                                std::to_wstring(GetCurrentProcessId()) + L".exe";
    const bool moved = MoveFileExW(self.c_str(), parked.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
    log.line(uninstall::kHandedOverPrefix + worker);
    lock.reset();  // the worker takes it as it starts
    const int code = runSilentWorker(worker, installDir, purgeData, path);
    // A worker that refused (another run took the folder meanwhile) removed nothing: the
    // installation keeps its setup copy.
    if (code < 0 || code == prog::kExitRefused) {
      if (moved) MoveFileExW(parked.c_str(), self.c_str(), 0);
      if (code < 0) log.line(kStartFailed);
      return prog::kExitRefused;
    }
    if (moved) scheduleSelfDeletion(parked);
    return code;
  }

  const uninstall::Closing closing =
      uninstall::removeInstallation(installDir, purgeData, uninstall::Remover::InPlace);
  log.line(closing.report);
  return silentExitCode(closing.removed);
}

int runUninstallWorker(const std::wstring& installDir, bool purgeData, bool silent,
                       const std::wstring& logPath) {
  // Only a silent worker writes the log, after what its first process wrote.
  std::unique_ptr<prog::RunLog> log;
  if (silent) log = std::make_unique<prog::RunLog>(logPathOrDefault(logPath), prog::RunLog::Mode::kAppend);
  if (!acceptFolder(nullptr, installDir, log.get())) return 1;
  const util::Handle lock = lockFolder(nullptr, installDir, log.get());
  if (!lock) return 1;
  const uninstall::Closing closing =
      uninstall::removeInstallation(installDir, purgeData, uninstall::Remover::Worker);
  if (log) {
    log->line(closing.report);
  } else {
    uninstall::showClosingBox(nullptr, closing.report);
  }
  scheduleSelfDeletion();
  return silent ? silentExitCode(closing.removed) : 0;
}
