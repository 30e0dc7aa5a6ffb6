// What makes a folder an installation of the product, and which of its entries are the user's own:
// the rules that the install folder check and the uninstaller share. Plain logic, no system call.
#pragma once

#include <string>

namespace util {

// What the folder holds of an installation.
struct InstallEvidence {
  bool registered = false;   // it is the registered install location
  bool setupCopy = false;    // "OrvaloSetup.exe" is in it
  bool channelFile = false;  // "channel.ini" is in it
  bool markerDir = false;    // the "update" marker folder is in it
};

// A folder is removed only when it is the registered installation, or when it holds what an
// install leaves beside the setup copy. The setup executable alone proves nothing: the downloaded
// setup sits in Downloads too, and --uninstall takes the folder of whatever copy was started.
bool looksLikeInstallation(const InstallEvidence& evidence);

// The user's own files that an uninstall keeps when asked to: every database file with its
// journals (isDatabaseFile) wherever it lies, and the snapshot folder "backup" directly in the
// install folder. relativePath is the entry's path below the install folder, '\'-separated.
bool isKeptUserEntry(const std::wstring& relativePath, bool isFolder);

}  // namespace util
