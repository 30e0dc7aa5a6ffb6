// The install folder the user typed, checked before an install starts.
#pragma once

#include <string>

namespace wizard {

struct InstallDirCheck {
  bool ok = false;
  std::wstring dir;      // the install folder when ok
  std::wstring message;  // why not, when not ok
};

// localAppData is the user's local application-data folder, which must not be used itself.
InstallDirCheck validateInstallDir(const std::wstring& text, bool createSubfolder,
                                   const std::wstring& localAppData);

// The same against the real local application-data folder.
InstallDirCheck validateInstallDir(const std::wstring& text, bool createSubfolder);

// Where the wizard proposes to install: <local app data>\Programs\OrvaloTrader.
std::wstring defaultInstallDir(const std::wstring& localAppData);

}  // namespace wizard
