// The demo client's own update check, as a real client would do it: it reads the address of the
// vendor's update description from update.ini beside it, compares the offered version with the
// installed one (update\_update.done), and when a newer one is offered writes an upgrade plan and
// starts the installation's OrvaloSetup.exe --apply, after which the client must exit.
#pragma once

#include <string>

namespace demo {

// Versions compared number by number ("1.10.0" is newer than "1.9"); text between the numbers is
// ignored. True when offered is newer than installed.
bool isNewerVersion(const std::wstring& offered, const std::wstring& installed);

struct UpdateCheck {
  bool upgradeStarted = false;  // the applier runs: the client ends now
  std::wstring message;         // what to tell the user otherwise
};

// dir: the client's folder; exe: its own path; installedVersion: from its marker file.
UpdateCheck checkForUpdate(const std::wstring& dir, const std::wstring& exe, const std::wstring& installedVersion);

}  // namespace demo
