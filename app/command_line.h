// The command line of OrvaloSetup.exe: twenty-four exact, case-sensitive option names, parsed
// without Windows so the rules can be exercised anywhere. Nothing here fails: unknown arguments
// are ignored and a value option at the end gets an empty value.
#pragma once

#include <string>
#include <vector>

// The upgrade parameters.
struct RunOptions {
  std::wstring plan;
  std::wstring url;
  std::wstring sha256;
  std::wstring src;
  std::wstring pid;
  std::wstring version;
  std::wstring exe;
  std::wstring kind;
  std::wstring dest;
  std::wstring clean;
  bool launch = true;
};

struct CommandLine {
  bool apply = false;
  bool uninstall = false;
  bool uninstallWorker = false;
  std::wstring uninstallDir;
  bool purgeData = false;
  bool fromHelper = false;
  std::wstring base;
  RunOptions options;
  // The unattended install and removal.
  bool silent = false;
  bool acceptAgreement = false;
  std::wstring dir;  // empty: the wizard's default folder, or the installed one
  bool cuda = false;
  bool noShortcut = false;
  bool noLaunch = false;
  std::wstring log;  // empty: the default log file
};

enum class RunMode { Wizard, SilentInstall, Apply, Uninstall, UninstallWorker };

// args[0] is the program path and is skipped.
CommandLine parseCommandLine(const std::vector<std::wstring>& args);

// --uninstall-worker wins over --uninstall (silent or not), which wins over --apply, which wins
// over --silent (the unattended install); otherwise the wizard.
RunMode chooseRunMode(const CommandLine& cmd);
