// What the upgrade job tests share: an installation laid out as the install job leaves it, the
// test packages, a run of the job in this process, and a look at processes and windows.
#pragma once

#include "applier/applier_ctx.h"
#include "packages/package_index.h"
#include "prog/reporter.h"
#include "support/test_servers.h"

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace upgrade_testing {

// The install job's layout: the client (the demo client of the build), readme.txt of 1.0.0, the
// client's databases orvalo.db (in the folder itself) and data\orvalo.db, a component's files in
// plugins\quotes, channel.ini, the markers in update, the agreement copy and OrvaloSetup.exe.
void prepareInstallation(const std::wstring& dir);

// Bytes of a package made by make_upgrade_zips.py ("main.zip", "component.zip", "broken.zip").
std::string packageBytes(const std::wstring& name);

// Every file below the folder with its content, for "nothing was touched" checks.
std::map<std::wstring, std::string> treeOf(const std::wstring& dir);

// Temporary-folder entries the job may leave: local packages and extraction folders.
std::vector<std::wstring> jobLeftoversInTemp();

struct JobOutcome {
  bool success = false;
  std::wstring failure;
  std::vector<std::wstring> statuses;
  std::vector<prog::TotalInfo> packages;
};

// Runs the upgrade job on this thread and collects what it reports.
JobOutcome runJob(applier::Ctx& ctx);

// Ids of the running processes whose image file name is the given name.
std::vector<DWORD> processIdsNamed(const std::wstring& imageName);

// A visible top-level window of the class owned by the process (any process for pid 0).
HWND findWindow(const wchar_t* className, DWORD pid = 0);

// The snapshot folders in the installation's backup folder.
std::vector<std::wstring> snapshotFolders(const std::wstring& installDir);

// The running helper (OrvaloSetup_helper.exe), opened to wait for it; null when none appears
// within ms. pid receives its id.
HANDLE openHelperProcess(int ms, DWORD& pid);

// A release of a dozen files and its next version, which changes three, adds one and keeps the
// rest, packaged wrapped in "OrvaloTrader\" with a database that must never land. Between two
// changed files lie kept ones larger than the gap below which neighbours are fetched together,
// so that every range an upgrade by index asks for belongs to a changed entry.
struct IndexedRelease {
  std::map<std::wstring, std::string> files1;  // below the installation, '\'-separated
  std::map<std::wstring, std::string> files2;
  std::string zip2;
  PackageIndex index2;
  std::string indexBytes2;
  std::vector<std::string> changed;  // entry names of version 2 that an installation of 1 lacks
};
const IndexedRelease& indexedRelease();

// Writes the files of the release over the installation.
void putFiles(const std::wstring& dir, const std::map<std::wstring, std::string>& files);

// Empty when the requests for the package (the target ends in `file`) are the size probes and
// ranges that each lie within the changed entries' spans (local header to the start of the next
// entry) and fetch at most 2 KiB more per changed entry than their local headers and compressed
// bytes; else what went wrong.
std::string onlyChangedRangesFetched(const std::vector<testing_support::LoggedRequest>& requests,
                                     const std::string& file, const IndexedRelease& release);

}  // namespace upgrade_testing
