// The uninstaller (--uninstall, and the wizard's uninstall button) and its temporary worker
// (--uninstall-worker). They talk to the user with message boxes from the thread that owns them;
// only the removal itself (removeInstallation) may run on another thread.
#pragma once

#include "uninstall/uninstall_rules.h"
#include "util/handles.h"

#include <string>

// Interactive removal of the installation in installDir: refuses what is no installation, and a
// folder that another run (an upgrade, an install) owns, asks twice, ends the processes running
// from the folder, then removes the folder here or hands it to the temporary worker. The folder's
// lock is held from before the first question to the end, or to the hand-over, where the worker
// takes it. Whoever removes the folder first removes the shortcut and the registration, so that
// a hand-over that fails leaves the product listed. Every box is owned by owner (the wizard's
// window, or none). Returns the process exit code: 1 when the folder is refused or the worker
// cannot be made or started, else 0.
int runUninstall(const std::wstring& installDir, HWND owner = nullptr);

// The unattended removal (--uninstall --silent): the same without a question or a box, keeping
// the databases unless purgeData, writing the run log at logPath (empty: the default). Started
// from inside the folder it hands over to the worker and waits for the worker's result. Returns
// prog::kExitDone when everything that was to go is gone, kExitFileSystem when something
// remained, kExitRefused when the folder is refused (no installation, or owned by another run)
// or the worker cannot be made, started or take the folder.
int runSilentUninstall(const std::wstring& installDir, bool purgeData, const std::wstring& logPath);

// Removes installDir (and the user data and the databases when purgeData) from a temporary copy
// of the executable, shows the result (silent: appends it to the log at logPath instead) and has
// its own file deleted afterwards. 1 when the folder is refused (no installation, or owned by
// another run); else 0, or when silent 3 when something remained.
int runUninstallWorker(const std::wstring& installDir, bool purgeData, bool silent = false,
                       const std::wstring& logPath = std::wstring());

// Removes the folder, except the kept user files when userFiles is Keep, with up to five
// attempts while anything that was to go remains.
uninstall::RemovalResult removeInstallDir(const std::wstring& folder,
                                          uninstall::UserFiles userFiles);

// Removes the client's user data folders (local and roaming application data).
void removeUserData();

namespace uninstall {

// How runUninstall's questions ended: with its exit code (the folder refused, the user declined,
// the removal handed over to the worker or failing to be), or with the folder to be removed in
// place.
struct Answers {
  int exitCode = 0;
  bool removeInPlace = false;
  bool purgeData = false;
  util::Handle lock;  // the folder's, when it is removed in place: held until the removal ends
};

// runUninstall up to the removal in place, on the caller's thread with every box owned by owner:
// for a caller that removes the folder on another thread (the wizard, whose window keeps
// painting meanwhile) and then shows showClosingBox, as runUninstall does.
Answers askAndHandOver(const std::wstring& installDir, HWND owner);

// The closing steps of every mode, once the folder is accepted, locked and the processes inside
// are ended: the shortcut and the registration, the folder (the kept user files stay unless
// purgeData), the user data when purgeData. Needs no window; any thread may run it.
struct Closing {
  RemovalResult removed;
  std::wstring report;  // the result box's text, or the run log's line, as remover words it
};
Closing removeInstallation(const std::wstring& folder, bool purgeData, Remover remover);

// The interactive modes' last box: the report, owned by owner (the wizard's window, or none).
void showClosingBox(HWND owner, const std::wstring& report);

// What the folder holds of an installation, read from the registry and the file system.
InstallEvidence gatherInstallEvidence(const std::wstring& folder);

}  // namespace uninstall
