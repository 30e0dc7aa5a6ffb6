#include "upgrade_fixture.h"

#include "applier/upgrade_job.h"
#include "net/sha256.h"
#include "packages/package_index_io.h"
#include "support/recording_sink.h"
#include "support/zip_bytes.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"
#include "util/files.h"
#include "util/paths.h"
#include "util/text.h"
#include "util/payload.h"

#include <tlhelp32.h>

#include <algorithm>
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

namespace upgrade_testing {

const IndexedRelease& indexedRelease() {
  static const IndexedRelease release = [] {
    IndexedRelease r;
    std::vector<testing_support::ZipSource> zip;
    const auto add = [&](const std::string& name, const std::string& one, const std::string& two, unsigned level) {
      const std::wstring path = L"lib\\" + util::toWide(util::kCodePageUtf8, name);
      if (!one.empty()) r.files1[path] = one;
      r.files2[path] = two;
      zip.push_back({"OrvaloTrader/lib/" + name, two, level});
      if (one != two) r.changed.push_back("OrvaloTrader/lib/" + name);
    };
    for (unsigned i = 0; i < 12; ++i) {
      const std::string name = "part" + std::to_string(i) + (i % 2 ? ".bin" : ".txt");
      // Incompressible and larger than the coalescing gap: a kept entry is never fetched along.
      const std::string kept = testing_support::patternBytes(80000 + i, i + 1);
      if (i == 3 || i == 7 || i == 10) {
        const std::string text(20000 + i, static_cast<char>('a' + i));
        add(name, kept, text + " 2.0", i % 2 ? 0 : 6);
      } else {
        add(name, kept, kept, i % 2 ? 0 : 6);
      }
    }
    add("新增.txt", "", "added in 2.0", 6);
    zip.push_back({"OrvaloTrader/data/orvalo.db", "database from the package: must never land", 6});
    r.zip2 = testing_support::zipOf(zip);
    testing_support::TempDir dir;
    util::writeFile(dir / L"r.zip", r.zip2.data(), r.zip2.size());
    std::wstring error;
    if (!buildPackageIndex(dir / L"r.zip", r.index2, error)) r.index2 = {};
    r.indexBytes2 = formatPackageIndex(r.index2);
    return r;
  }();
  return release;
}

void putFiles(const std::wstring& dir, const std::map<std::wstring, std::string>& files) {
  for (const auto& [path, bytes] : files) put(dir + L"\\" + path, bytes);
}

std::string onlyChangedRangesFetched(const std::vector<testing_support::LoggedRequest>& requests,
                                     const std::string& file, const IndexedRelease& release) {
  struct Span {
    uint64_t first, end;  // end exclusive
    bool changed;
  };
  std::vector<Span> spans;
  uint64_t allowed = 0;
  for (const PackageIndexEntry& e : release.index2.entries) {
    const bool changed = std::count(release.changed.begin(), release.changed.end(), e.path) > 0;
    spans.push_back({e.headerOffset, e.headerOffset + 30 + e.path.size() + e.compressedSize, changed});
    if (changed) allowed += spans.back().end - e.headerOffset + 2048;
  }
  uint64_t fetched = 0;
  for (const testing_support::LoggedRequest& request : requests) {
    if (request.target.size() < file.size() || request.target.compare(request.target.size() - file.size(), file.size(), file) != 0) continue;
    if (request.range == "bytes=0-0") continue;
    unsigned long long first = 0, last = 0;
    if (std::sscanf(request.range.c_str(), "bytes=%llu-%llu", &first, &last) != 2) return "not a range: " + request.range;
    for (const Span& span : spans) {
      if (!span.changed && first < span.end && last >= span.first) return "a kept entry fetched: " + request.range;
    }
    fetched += last - first + 1;
  }
  if (fetched == 0) return "nothing fetched by range";
  if (fetched > allowed) return "fetched " + std::to_string(fetched) + " of at most " + std::to_string(allowed);
  return {};
}

}  // namespace upgrade_testing
