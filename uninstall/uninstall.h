// The uninstaller (--uninstall) and its temporary worker (--uninstall-worker).
#pragma once

#include <string>

// Interactive removal of the installation in installDir. Returns the process exit code.
int runUninstall(const std::wstring& installDir);
// Removes installDir (and the user data when purgeData) from a temporary copy of the executable.
int runUninstallWorker(const std::wstring& installDir, bool purgeData);
