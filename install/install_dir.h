// The install folder the user typed, checked before an install starts.
#pragma once

#include <string>

namespace install {

struct InstallDirCheck {
  bool ok = false;
  std::wstring dir;      // the install folder when ok: absolute, normalised, no trailing separator
  std::wstring message;  // why not, when not ok
};

// What the check compares the folder with.
struct InstallDirContext {
  std::wstring localAppData;   // the user's local application-data folder, never used itself
  std::wstring registeredDir;  // the registered installation, empty when there is none
};

// The folder must be written out in full (a drive or a network share), must not be a root or
// the local application-data folder in any spelling, and must not be an existing folder with
// content of others: uninstalling removes the install folder as a whole. A folder that holds an
// installation (registered, or with channel.ini or the update marker folder), or only what an
// uninstall that kept the user's databases left behind, is the product's own.
InstallDirCheck validateInstallDir(const std::wstring& text, bool createSubfolder,
                                   const InstallDirContext& context);

// The same against the real local application-data folder and registration.
InstallDirCheck validateInstallDir(const std::wstring& text, bool createSubfolder);

// Where the wizard proposes to install: <local app data>\Programs\OrvaloTrader.
std::wstring defaultInstallDir(const std::wstring& localAppData);

}  // namespace install
