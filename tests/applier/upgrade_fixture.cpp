#include "upgrade_fixture.h"

#include "applier/upgrade_job.h"
#include "support/recording_sink.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"
#include "util/files.h"
#include "util/paths.h"
#include "util/payload.h"

#include <tlhelp32.h>

#include <thread>

namespace upgrade_testing {
namespace {

void put(const std::wstring& path, const std::string& bytes) {
  util::createDirectories(path.substr(0, path.find_last_of(L'\\')));
  util::writeFile(path, bytes.data(), bytes.size());
}

void walk(const std::wstring& root, const std::wstring& dir, std::map<std::wstring, std::string>& out) {
  util::forEachEntry(dir, [&](const std::wstring& path, const WIN32_FIND_DATAW& data) {
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      walk(root, path, out);
    } else {
      out[path.substr(root.size())] = testing_support::readFileBytes(path);
    }
    return true;
  });
}

}  // namespace

void prepareInstallation(const std::wstring& dir) {
  const std::wstring bin = util::moduleDirectory();
  util::createDirectories(dir);
  CopyFileW((bin + L"\\Orvalo.exe").c_str(), (dir + L"\\Orvalo.exe").c_str(), FALSE);
  CopyFileW((bin + L"\\OrvaloSetup.exe").c_str(), (dir + L"\\OrvaloSetup.exe").c_str(), FALSE);
  put(dir + L"\\readme.txt", "Orvalo量化 1.0.0\n");
  put(dir + L"\\bin\\engine.dll", "engine 1.0.0");
  put(dir + L"\\orvalo.db", "the user's trades");
  put(dir + L"\\orvalo.db-wal", "the user's recent trades");
  put(dir + L"\\data\\orvalo.db", "the user's settings");
  put(dir + L"\\plugins\\quotes\\quotes.cfg", "quotes 1.0");
  put(dir + L"\\channel.ini", "[Channel]\r\nid=demo\r\n");
  put(dir + L"\\update\\_update.done", "1.0.0");
  put(dir + L"\\update\\_quotes.done", "1.0");
  put(dir + L"\\update\\_agreement.done", "builtin");
  put(dir + L"\\legal\\agreement_install.txt", "用户协议");
}

std::string packageBytes(const std::wstring& name) {
  return testing_support::readFileBytes(std::wstring(ORVALO_TEST_UPGRADE_ZIPS) + L"\\" + name);
}

std::map<std::wstring, std::string> treeOf(const std::wstring& dir) {
  std::map<std::wstring, std::string> tree;
  walk(dir, dir, tree);
  return tree;
}

std::vector<std::wstring> jobLeftoversInTemp() {
  std::vector<std::wstring> found;
  const std::wstring temp = util::tempDirectory();
  util::forEachEntry(temp, [&](const std::wstring& path, const WIN32_FIND_DATAW& data) {
    const std::wstring name = data.cFileName;
    const bool package = name.rfind(L"up", 0) == 0 && name.size() > 4 && name[3] == L'_';
    if (package || name.rfind(L"OrvaloSetup_upgrade", 0) == 0 || name.find(L".part") != std::wstring::npos) {
      found.push_back(path);
    }
    return true;
  });
  return found;
}

JobOutcome runJob(applier::Ctx& ctx) {
  testing_support::RecordingSink sink;
  const prog::JobResult result = applier::runUpgradeJob(applier::upgradeRequestOf(ctx), sink);
  JobOutcome outcome;
  outcome.success = result.ok();
  outcome.failure = result.failure.text;
  outcome.statuses = sink.statuses;
  outcome.packages = sink.packages;
  return outcome;
}

std::vector<DWORD> processIdsNamed(const std::wstring& imageName) {
  std::vector<DWORD> ids;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return ids;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, imageName.c_str()) == 0) ids.push_back(entry.th32ProcessID);
  }
  CloseHandle(snapshot);
  return ids;
}

HWND findWindow(const wchar_t* className, DWORD pid) {
  struct Search {
    const wchar_t* className;
    DWORD pid;
    HWND found;
  } search{className, pid, nullptr};
  EnumWindows(
      [](HWND w, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        wchar_t cls[64] = {};
        GetClassNameW(w, cls, 64);
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (wcscmp(cls, s->className) != 0 || !IsWindowVisible(w) || (s->pid && owner != s->pid)) return TRUE;
        s->found = w;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::vector<std::wstring> snapshotFolders(const std::wstring& installDir) {
  std::vector<std::wstring> folders;
  util::forEachEntry(installDir + L"\\backup", [&](const std::wstring& path, const WIN32_FIND_DATAW&) {
    folders.push_back(path);
    return true;
  });
  return folders;
}

HANDLE openHelperProcess(int ms, DWORD& pid) {
  HANDLE helper = nullptr;
  testing_support::waitUntil([&] {
    for (DWORD id : processIdsNamed(L"OrvaloSetup_helper.exe")) {
      helper = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
      if (helper) {
        pid = id;
        return true;
      }
    }
    return false;
  }, ms);
  return helper;
}

}  // namespace upgrade_testing
