// The uninstaller (--uninstall, and the wizard's uninstall button) and its temporary worker
// (--uninstall-worker). Both run on the main thread and talk to the user with message boxes.
#pragma once

#include "uninstall/uninstall_rules.h"

#include <string>

// The window handle type of <windows.h>, named here so that callers need no <windows.h>.
struct HWND__;

// Interactive removal of the installation in installDir: refuses what is no installation, and a
// folder that another run (an upgrade, an install) owns, asks twice, ends the processes running
// from the folder, then removes the folder here or hands it to the temporary worker. The folder's
// lock is held from before the first question to the end, or to the hand-over, where the worker
// takes it. Whoever removes the folder first removes the shortcut and the registration, so that
// a hand-over that fails leaves the product listed. Every box is owned by owner (the wizard's
// window, or none). Returns the process exit code: 1 when the folder is refused or the worker
// cannot be made or started, else 0.
int runUninstall(const std::wstring& installDir, ::HWND__* owner = nullptr);

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

// What the folder holds of an installation, read from the registry and the file system.
InstallEvidence gatherInstallEvidence(const std::wstring& folder);

}  // namespace uninstall
