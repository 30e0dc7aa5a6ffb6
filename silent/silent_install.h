// The unattended install (--silent): the wizard's install without a window, a box or a question,
// for deployment tools. Everything it does and why it stops goes to the run log; the result is
// the process exit code (prog::ExitCode).
#pragma once

#include <string>

struct SilentInstallOptions {
  std::wstring base;          // the download server; empty: the built-in one
  bool acceptAgreement = false;
  std::wstring dir;           // taken as given; empty: the wizard's default or the installed folder
  bool cuda = false;
  bool createShortcut = true;
  bool launch = true;
  std::wstring logPath;       // empty: prog::defaultRunLogPath()
};

int runSilentInstall(const SilentInstallOptions& options);
