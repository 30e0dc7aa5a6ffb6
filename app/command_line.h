// The command line of OrvaloSetup.exe: seventeen exact, case-sensitive option names, parsed
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
};

enum class RunMode { Wizard, Apply, Uninstall, UninstallWorker };

// args[0] is the program path and is skipped.
CommandLine parseCommandLine(const std::vector<std::wstring>& args);

// --uninstall-worker wins over --uninstall, which wins over --apply; otherwise the wizard.
RunMode chooseRunMode(const CommandLine& cmd);
