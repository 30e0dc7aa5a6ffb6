// The uninstaller's rules that need no window and no system call: which folders it accepts, when
// it hands the removal to a temporary copy, which processes it ends, the command lines it builds
// for the worker and for the worker's own deletion, and the text of its result.
#pragma once

#include "util/installation.h"

#include <cstdint>
#include <string>
#include <vector>

namespace uninstall {

// Shorter folders are drive roots or worse ("C:\" has 3 characters): never removed.
constexpr size_t kMinFolderLength = 4;

bool isFolderTooShort(const std::wstring& folder);

// The folder's evidence of an installation and the user's entries an uninstall keeps are shared
// with the install folder check.
using util::InstallEvidence;
using util::isKeptUserEntry;
using util::looksLikeInstallation;

// True when the running executable lies in the install folder or below it, so that the folder
// can only be removed by a copy running from elsewhere.
bool runsFromInside(const std::wstring& moduleDir, const std::wstring& installDir);

// "--uninstall-worker" with the folder quoted so that the worker's command-line splitting gives
// it back unchanged (trailing backslashes included), then " --purge-data" when asked for.
std::wstring workerParameters(const std::wstring& installDir, bool purgeData);

// The hidden shell that deletes the worker's file once the worker has ended: the ping waits
// about two seconds, then del removes the file. Both programs are named by their path in the
// system folder, so that a cmd.exe or ping.exe in the temporary folder or on the search path is
// never the one started.
struct ShellCommand {
  std::wstring application;  // systemDir\cmd.exe, the application name for CreateProcessW
  std::wstring commandLine;
};
ShellCommand selfDeleteCommand(const std::wstring& exePath, const std::wstring& systemDir);

// Whether the user's own files in the install folder go with it.
enum class UserFiles { Remove, Keep };

struct RemovalResult {
  bool complete = true;         // everything that was to go is gone
  bool keptUserFiles = false;   // kept user files remain, and with them their folders
};

// The result box's text: removed or partly removed (worded a little differently by the worker),
// plus a line naming the install folder when user files were kept in it.
enum class Remover { InPlace, Worker };
std::wstring removalReport(const RemovalResult& result, const std::wstring& installDir,
                           Remover remover);

struct ProcessImage {
  uint32_t pid = 0;
  std::wstring imagePath;
};

// Positions in the list of the processes running a program from inside the install folder
// (sub-folders included, sibling folders whose names merely begin alike excluded), never the
// caller itself.
std::vector<size_t> processesToEnd(const std::vector<ProcessImage>& processes,
                                     const std::wstring& installDir, uint32_t selfPid);

}  // namespace uninstall
