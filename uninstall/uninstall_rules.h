// The uninstaller's rules that need no window and no system call: which folders it accepts, when
// it hands the removal to a temporary copy, which processes it ends, what it keeps of the user's
// files, the command lines it builds for the worker and for the worker's own deletion, and the
// text of its result.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace uninstall {

// Shorter folders are drive roots or worse ("C:\" has 3 characters): never removed.
constexpr size_t kMinFolderLength = 4;

bool isFolderTooShort(const std::wstring& folder);

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

// The user's own files that an uninstall keeps when asked to: every database file with its
// journals (isDatabaseFile) wherever it lies, and the snapshot folder "backup" directly in the
// install folder. relativePath is the entry's path below the install folder, '\'-separated.
bool isKeptUserEntry(const std::wstring& relativePath, bool isFolder);

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
