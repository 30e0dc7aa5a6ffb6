// The real OrvaloSetup.exe --apply, started from the installation's own copy as the client
// starts it: the first process hands over to the helper in the temporary folder, the helper
// shows its window, waits for the running client, applies the packages and restarts the client.
#include "applier/upgrade_layout.h"
#include "applier/upgrade_steps.h"
#include "install/registration.h"
#include "net/sha256.h"
#include "packages/package_index_io.h"
#include "support/file_holder.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"
#include "support/test_servers.h"
#include "upgrade_fixture.h"
#include "util/files.h"
#include "util/handles.h"
#include "util/paths.h"
#include "util/quote.h"
#include "util/text.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>

using namespace testing_support;
using namespace upgrade_testing;

namespace {

constexpr wchar_t kClientClass[] = L"OrvaloDemoClientWnd";
constexpr wchar_t kUpgradeClass[] = L"OrvaloSetupUpgradeWnd";

std::string digestOf(const std::wstring& path) {
  std::string digest;
  EXPECT_TRUE(sha256File(path, digest, nullptr, nullptr));
  return digest;
}

std::string jsonPath(const std::wstring& path) {
  std::string out;
  for (char c : util::toUtf8(path)) {
    if (c == '\\') out += '\\';
    out += c;
  }
  return out;
}

class ApplyEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    install_ = dir_ / L"Orvalo 量化";
    prepareInstallation(install_);
  }

  void TearDown() override {
    if (registered_) RegDeleteTreeW(HKEY_CURRENT_USER, kUninstallKeyPath);
    if (otherProgram_) TerminateProcess(otherProgram_.get(), 0);
    for (DWORD pid : {clientPid_, restartedPid_}) {
      util::Handle p(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
      if (pid && p) {
        TerminateProcess(p.get(), 0);
        WaitForSingleObject(p.get(), 5000);
      }
    }
  }

  // The client as the install job starts it (or with its own switches).
  void startClient(const std::wstring& switches = L"") {
    std::wstring line = util::quoteArgument(install_ + L"\\Orvalo.exe") + (switches.empty() ? L"" : L" " + switches);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, install_.c_str(), &si, &pi));
    util::Handle process(pi.hProcess), thread(pi.hThread);
    clientPid_ = pi.dwProcessId;
    if (switches.empty()) {
      ASSERT_TRUE(waitUntil([&] { return findWindow(kClientClass, clientPid_) != nullptr; }, 20000));
    }
  }

  // OrvaloSetup.exe of the installation with these arguments, started; null when it cannot be.
  // No pipes: the helper it starts would keep them open (Wine hands the standard handles on),
  // and a reader would wait for the helper too.
  util::Handle launchSetup(const std::vector<std::wstring>& args, DWORD* pid = nullptr) {
    std::wstring line = util::buildCommandLine(install_ + L"\\OrvaloSetup.exe", args);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, install_.c_str(), &si, &pi)) {
      return {};
    }
    util::Handle thread(pi.hThread);
    if (pid) *pid = pi.dwProcessId;
    return util::Handle(pi.hProcess);
  }

  // The process's exit code once it has ended; -1 when there is none, -2 when it runs on.
  static int exitCodeWithin(HANDLE process, DWORD ms) {
    if (!process) return -1;
    if (WaitForSingleObject(process, ms) != WAIT_OBJECT_0) return -2;
    DWORD code = 99;
    GetExitCodeProcess(process, &code);
    return static_cast<int>(code);
  }

  // OrvaloSetup.exe of the installation with these arguments; its exit code.
  int startApplier(const std::vector<std::wstring>& args) { return exitCodeWithin(launchSetup(args).get(), 30000); }

  // Lets the client exit on its own while the helper waits for it; the helper's exit code.
  int helperResultOnceTheClientExits(HANDLE helper) {
    if (HWND client = findWindow(kClientClass, clientPid_)) PostMessageW(client, WM_CLOSE, 0, 0);
    return exitCodeWithin(helper, 90000);
  }

  // Finds the helper, lets the client exit on its own while the helper waits for it, and
  // returns the helper's exit code.
  int observeHelper() {
    util::Handle helper(openHelperProcess(10000, helperPid_));
    if (!helper) return -1;
    EXPECT_TRUE(waitUntil([&] { return findWindow(kUpgradeClass, helperPid_) != nullptr; }, 20000));
    // The client ends by itself after starting the applier.
    return helperResultOnceTheClientExits(helper.get());
  }

  // The text of the message box that the process shows, answered with OK.
  static std::wstring answerBox(DWORD pid) {
    HWND box = nullptr;
    if (!waitUntil([&] { return (box = findWindow(L"#32770", pid)) != nullptr; }, 20000)) return L"<no box>";
    wchar_t caption[64] = {};
    GetWindowTextW(box, caption, 64);
    wchar_t text[256] = {};
    GetWindowTextW(GetDlgItem(box, 0xFFFF), text, 256);
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return std::wstring(caption) + L"|" + text;
  }

  DWORD restartedClient() {
    waitUntil([&] {
      for (DWORD pid : processIdsNamed(L"Orvalo.exe")) {
        if (pid != clientPid_ && findWindow(kClientClass, pid)) {
          restartedPid_ = pid;
          return true;
        }
      }
      return false;
    }, 20000);
    return restartedPid_;
  }

  // A program that is not the client, running from the tests' folder until the test ends; its id.
  DWORD startOtherProgram() {
    std::wstring line = util::quoteArgument(util::moduleDirectory() + L"\\idle_process.exe");
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 0;
    otherProgram_.reset(pi.hProcess);
    util::Handle thread(pi.hThread);
    return pi.dwProcessId;
  }

  // The three-item plan of version 2.0.0 for the running client.
  std::wstring writeThreeItemPlan() {
    const std::wstring mainZip = scenario_.putFile(L"main_2.0.0.zip", packageBytes(L"main.zip"));
    const std::wstring component = scenario_.putFile(L"quotes_2.1.zip", packageBytes(L"component.zip"));
    const std::wstring notes = scenario_.putFile(L"notes_2.0.txt", "release notes 2.0");
    const std::string plan = "{\"exe\": \"" + jsonPath(install_ + L"\\Orvalo.exe") + "\", \"pid\": \"" +
                             std::to_string(clientPid_) + "\", \"items\": [" +
                             "{\"url\": \"" + util::toUtf8(scenario_.nginxUrl(L"main_2.0.0.zip")) + "\", \"sha256\": \"" +
                             digestOf(mainZip) + "\", \"version\": \"2.0.0\", \"kind\": \"main\"}," +
                             "{\"url\": \"" + util::toUtf8(scenario_.nginxUrl(L"quotes_2.1.zip")) + "\", \"sha256\": \"" +
                             digestOf(component) + "\", \"version\": \"2.1\", \"kind\": \"quotes\", \"dest\": \"plugins/quotes\"}," +
                             "{\"url\": \"" + util::toUtf8(scenario_.nginxUrl(L"notes_2.0.txt")) + "\", \"sha256\": \"" +
                             digestOf(notes) + "\", \"version\": \"2.0\", \"kind\": \"docs\", \"dest\": \"docs\\\\说明\"}]}";
    const std::wstring planPath = dir_ / L"升级 计划.json";
    EXPECT_TRUE(util::writeFile(planPath, plan.data(), plan.size()));
    return planPath;
  }

  // What the three-item plan puts in place, and what it leaves alone.
  void expectVersion2Installed() {
    EXPECT_EQ(readFileBytes(install_ + L"\\readme.txt"), "Orvalo量化 2.0.0\n");
    EXPECT_EQ(readFileBytes(install_ + L"\\bin\\engine.dll"), "engine 2.0.0");
    EXPECT_EQ(readFileBytes(install_ + L"\\plugins\\quotes\\quotes.cfg"), "quotes 2.1");
    EXPECT_EQ(readFileBytes(install_ + L"\\docs\\说明\\notes_2.0.txt"), "release notes 2.0");
    EXPECT_EQ(readFileBytes(install_ + L"\\update\\_update.done"), "2.0.0");
    EXPECT_EQ(readFileBytes(install_ + L"\\update\\_quotes.done"), "2.1");
    EXPECT_EQ(readFileBytes(install_ + L"\\update\\_docs.done"), "2.0");
    // Neither the folder's database nor the one the package carried replaced the user's.
    EXPECT_EQ(readFileBytes(install_ + L"\\orvalo.db"), "the user's trades");
    EXPECT_EQ(readFileBytes(install_ + L"\\data\\orvalo.db"), "the user's settings");
    // Committed: no journal and no old copies are left.
    for (const auto& [path, digest] : installedFiles()) {
      EXPECT_EQ(path.find(".upg_"), std::string::npos) << path;
      EXPECT_EQ(path.find("upgrade.journal"), std::string::npos) << path;
    }
  }

  // The installation's files (path and digest of the content) apart from the database
  // snapshots, which every run adds.
  std::map<std::string, std::string> installedFiles() const {
    std::map<std::string, std::string> files;
    for (const auto& [path, bytes] : treeOf(install_)) {
      if (path.rfind(L"\\backup\\", 0) != 0) files[util::toUtf8(path)] = sha256Hex(bytes);
    }
    return files;
  }

  // The status line of the helper's window while it shows one.
  std::wstring helperStatus() const {
    wchar_t text[512] = {};
    if (HWND window = findWindow(kUpgradeClass, helperPid_)) {
      GetWindowTextW(GetDlgItem(window, applier::kIdStatus), text, 512);
    }
    return text;
  }

  ServerScenario scenario_;
  TempDir dir_;
  util::Handle otherProgram_;
  std::wstring install_;
  bool registered_ = false;  // the test registered the installation, as an install does
  DWORD clientPid_ = 0;
  DWORD helperPid_ = 0;
  DWORD restartedPid_ = 0;
};

TEST_F(ApplyEndToEnd, APlanOfThreeItemsUpgradesTheRunningClient) {
  startClient();
  const std::wstring planPath = writeThreeItemPlan();

  // The command-line values are replaced by the plan's.
  ASSERT_EQ(startApplier({L"--apply", L"--plan", planPath, L"--exe", L"D:\\Apps\\", L"--pid", L"1"}), 0);
  ASSERT_EQ(observeHelper(), 0);

  expectVersion2Installed();
  const std::vector<std::wstring> snapshots = snapshotFolders(install_);
  ASSERT_EQ(snapshots.size(), 1u);
  EXPECT_EQ(readFileBytes(snapshots[0] + L"\\orvalo.db"), "the user's trades");
  EXPECT_TRUE(jobLeftoversInTemp().empty());
  EXPECT_NE(restartedClient(), 0u);
}

// While an upgrade waits for the running client, its files staged beside their places, other
// starts of the installation's setup find the folder owned: the wizard opens, a second --apply
// says so and ends, an unattended uninstall is refused, and none of them undoes the staged
// files. Once the client exits the upgrade lands whole.
TEST_F(ApplyEndToEnd, StartsWhileAnUpgradeWaitsForTheClientLeaveItsStagedFilesAlone) {
  // Registered as an install leaves it: every start of its setup looks for a cut upgrade.
  ASSERT_TRUE(registerUninstall(install_, install_ + L"\\Orvalo.exe", L"1.0.0"));
  registered_ = true;
  startClient();
  const std::wstring planPath = writeThreeItemPlan();
  ASSERT_EQ(startApplier({L"--apply", L"--plan", planPath}), 0);
  util::Handle helper(openHelperProcess(10000, helperPid_));
  ASSERT_TRUE(helper);
  ASSERT_TRUE(waitUntil([&] { return helperStatus() == L"等待主程序退出…"; }, 60000)) << util::toUtf8(helperStatus());
  const auto staged = installedFiles();
  ASSERT_EQ(staged.count(util::toUtf8(L"\\readme.txt.upg_tmp")), 1u);
  ASSERT_EQ(staged.count(util::toUtf8(L"\\update\\upgrade.journal")), 1u);

  DWORD wizardPid = 0;
  const util::Handle wizard = launchSetup({L"--base", scenario_.nginxUrl(L"")}, &wizardPid);
  HWND wizardWindow = nullptr;
  ASSERT_TRUE(waitUntil([&] { return (wizardWindow = findWindow(L"OrvaloSetupWizardWnd", wizardPid)) != nullptr; }, 20000));
  PostMessageW(wizardWindow, WM_CLOSE, 0, 0);
  EXPECT_EQ(exitCodeWithin(wizard.get(), 20000), 0);

  DWORD secondPid = 0;
  const util::Handle second = launchSetup({L"--apply", L"--plan", planPath}, &secondPid);
  EXPECT_EQ(answerBox(secondPid), L"OrvaloTrader 升级|此目录正被另一个升级、安装或卸载使用，请等它结束后再升级。");
  EXPECT_EQ(exitCodeWithin(second.get(), 20000), 1);

  const std::wstring log = dir_ / L"uninstall.log";
  EXPECT_EQ(exitCodeWithin(launchSetup({L"--uninstall", L"--silent", L"--log", log}).get(), 30000), 1);
  EXPECT_NE(readFileBytes(log).find("正在升级，请在升级完成后再卸载。"), std::string::npos) << readFileBytes(log);

  EXPECT_EQ(installedFiles(), staged);
  EXPECT_EQ(helperStatus(), L"等待主程序退出…");
  EXPECT_NE(findWindow(kClientClass, clientPid_), nullptr);
  ASSERT_EQ(helperResultOnceTheClientExits(helper.get()), 0);
  expectVersion2Installed();
  EXPECT_NE(restartedClient(), 0u);
}

// The helper upgrades by the package's index: nginx's log shows only the changed entries'
// ranges, and the installation is version 2 byte for byte, the user's database kept.
TEST_F(ApplyEndToEnd, AnUpgradeWithAnIndexFetchesOnlyTheChangedEntries) {
  const IndexedRelease& release = indexedRelease();
  putFiles(install_, release.files1);
  const std::wstring zip = scenario_.putFile(L"r2.zip", release.zip2);
  const std::wstring index = scenario_.putFile(L"r2.zip.index", release.indexBytes2);
  startClient();
  const std::string plan = "{\"exe\": \"" + jsonPath(install_ + L"\\Orvalo.exe") + "\", \"pid\": \"" +
                           std::to_string(clientPid_) + "\", \"launch\": false, \"items\": [{\"url\": \"" +
                           util::toUtf8(scenario_.nginxUrl(L"r2.zip")) + "\", \"sha256\": \"" + digestOf(zip) +
                           "\", \"version\": \"2.0.0\", \"kind\": \"main\", \"index\": \"" +
                           util::toUtf8(scenario_.nginxUrl(L"r2.zip.index")) + "\", \"index_sha256\": \"" +
                           digestOf(index) + "\"}]}";
  const std::wstring planPath = dir_ / L"plan.json";
  ASSERT_TRUE(util::writeFile(planPath, plan.data(), plan.size()));

  ASSERT_EQ(startApplier({L"--apply", L"--plan", planPath}), 0);
  ASSERT_EQ(observeHelper(), 0);
  for (const auto& [path, bytes] : release.files2) {
    EXPECT_EQ(readFileBytes(install_ + L"\\" + path), bytes) << util::toUtf8(path);
  }
  EXPECT_EQ(readFileBytes(install_ + L"\\data\\orvalo.db"), "the user's settings");
  EXPECT_EQ(readFileBytes(install_ + L"\\update\\_update.done"), "2.0.0");
  EXPECT_EQ(onlyChangedRangesFetched(scenario_.nginxRequests(), "r2.zip", release), "");
  for (const auto& [path, digest] : installedFiles()) EXPECT_EQ(path.find(".upg_"), std::string::npos) << path;
}

// The single package of the command line, with an install folder that ends in a backslash in
// --dest: the helper receives the arguments exactly.
TEST_F(ApplyEndToEnd, TheSinglePackageCommandLineForm) {
  const std::wstring component = scenario_.putFile(L"quotes_2.2.zip", packageBytes(L"component.zip"));
  startClient();
  ASSERT_EQ(startApplier({L"--apply", L"--url", scenario_.nginxUrl(L"quotes_2.2.zip"), L"--sha256",
                          util::toWide(util::kCodePageUtf8, digestOf(component)), L"--version", L"2.2",
                          L"--kind", L"quotes", L"--dest", install_ + L"\\extra plugins\\", L"--exe",
                          install_ + L"\\Orvalo.exe", L"--pid", std::to_wstring(clientPid_), L"--launch", L"0"}),
            0);
  ASSERT_EQ(observeHelper(), 0);
  EXPECT_EQ(readFileBytes(install_ + L"\\extra plugins\\quotes.cfg"), "quotes 2.1");
  EXPECT_EQ(readFileBytes(install_ + L"\\update\\_quotes.done"), "2.2");
  EXPECT_EQ(readFileBytes(install_ + L"\\update\\_update.done"), "1.0.0");
  EXPECT_TRUE(jobLeftoversInTemp().empty());
  // --launch 0: the client is not started again (a client of an earlier test may still be closing).
  Sleep(500);
  for (DWORD pid : processIdsNamed(L"Orvalo.exe")) {
    EXPECT_FALSE(applier::openClientProcess(std::to_wstring(pid), install_ + L"\\Orvalo.exe")) << pid;
  }
}

// The demo client checks for updates itself: it finds a newer version in the vendor's update
// description, writes a plan naming itself, starts the installation's OrvaloSetup.exe --apply and
// exits; the helper upgrades it and starts it again. The description names the package's index,
// which the client hands on in its plan.
TEST_F(ApplyEndToEnd, TheDemoClientUpgradesItself) {
  const std::wstring mainZip = scenario_.putFile(L"main_2.0.0.zip", packageBytes(L"main.zip"));
  PackageIndex index;
  std::wstring error;
  ASSERT_TRUE(buildPackageIndex(mainZip, index, error));
  const std::wstring indexFile = scenario_.putFile(L"main_2.0.0.zip.index", formatPackageIndex(index));
  const std::string latest = "{\"version\": \"2.0.0\", \"notes\": \"新版本\", \"items\": [{\"url\": \"" +
                             util::toUtf8(scenario_.nginxUrl(L"main_2.0.0.zip")) + "\", \"sha256\": \"" +
                             digestOf(mainZip) + "\", \"version\": \"2.0.0\", \"kind\": \"main\", \"index\": \"" +
                             util::toUtf8(scenario_.nginxUrl(L"main_2.0.0.zip.index")) + "\", \"index_sha256\": \"" +
                             digestOf(indexFile) + "\"}]}";
  scenario_.putFile(L"latest.json", latest);
  const std::string ini = "[update]\r\nurl=" + util::toUtf8(scenario_.nginxUrl(L"latest.json")) + "\r\n";
  ASSERT_TRUE(util::writeFile(install_ + L"\\update.ini", ini.data(), ini.size()));

  startClient(L"--check-update");
  ASSERT_EQ(observeHelper(), 0);
  EXPECT_EQ(readFileBytes(install_ + L"\\update\\_update.done"), "2.0.0");
  EXPECT_EQ(readFileBytes(install_ + L"\\readme.txt"), "Orvalo量化 2.0.0\n");
  EXPECT_EQ(readFileBytes(install_ + L"\\orvalo.db"), "the user's trades");
  EXPECT_NE(restartedClient(), 0u);
}

// The client exited long ago and its id now belongs to another program, outside the
// installation: the upgrade neither waits for that program nor ends it.
TEST_F(ApplyEndToEnd, AnIdNowHeldByAnotherProgramIsNeitherWaitedForNorEnded) {
  const std::wstring component = scenario_.putFile(L"quotes_2.2.zip", packageBytes(L"component.zip"));
  const DWORD other = startOtherProgram();
  ASSERT_NE(other, 0u);
  ASSERT_EQ(startApplier({L"--apply", L"--url", scenario_.nginxUrl(L"quotes_2.2.zip"), L"--sha256",
                          util::toWide(util::kCodePageUtf8, digestOf(component)), L"--kind", L"quotes",
                          L"--dest", L"plugins\\quotes", L"--exe", install_ + L"\\Orvalo.exe", L"--pid",
                          std::to_wstring(other)}),
            0);
  util::Handle helper(openHelperProcess(10000, helperPid_));
  ASSERT_TRUE(helper);
  // Far sooner than the five minutes a client that does not exit is given.
  ASSERT_EQ(WaitForSingleObject(helper.get(), 60000), WAIT_OBJECT_0);
  DWORD code = 99;
  GetExitCodeProcess(helper.get(), &code);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(WaitForSingleObject(otherProgram_.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(readFileBytes(install_ + L"\\plugins\\quotes\\quotes.cfg"), "quotes 2.1");
  EXPECT_NE(restartedClient(), 0u);
}

// The second item of the plan has a destination that cannot be: the failure is shown before the
// upgrade turns to the running client, which is neither waited for nor ended.
TEST_F(ApplyEndToEnd, AnInvalidDestinationFailsWhileTheClientRunsOn) {
  const std::wstring mainZip = scenario_.putFile(L"main_2.0.0.zip", packageBytes(L"main.zip"));
  startClient();
  const auto before = treeOf(install_);
  const std::string plan = "{\"exe\": \"" + jsonPath(install_ + L"\\Orvalo.exe") + "\", \"pid\": \"" +
                           std::to_string(clientPid_) + "\", \"items\": [" +
                           "{\"url\": \"" + util::toUtf8(scenario_.nginxUrl(L"main_2.0.0.zip")) + "\", \"sha256\": \"" +
                           digestOf(mainZip) + "\"}," +
                           "{\"url\": \"" + util::toUtf8(scenario_.nginxUrl(L"main_2.0.0.zip")) +
                           "\", \"kind\": \"quotes\", \"dest\": \"plugins/../../x\"}]}";
  const std::wstring planPath = dir_ / L"plan.json";
  ASSERT_TRUE(util::writeFile(planPath, plan.data(), plan.size()));
  ASSERT_EQ(startApplier({L"--apply", L"--plan", planPath}), 0);

  util::Handle helper(openHelperProcess(10000, helperPid_));
  ASSERT_TRUE(helper);
  HWND window = nullptr;
  ASSERT_TRUE(waitUntil([&] { return (window = findWindow(kUpgradeClass, helperPid_)) != nullptr; }, 20000));
  const std::wstring shown = L"升级失败：参数 --dest 非法（相对目录不得包含 .. 段）";
  EXPECT_TRUE(waitUntil([&] {
    wchar_t text[128] = {};
    GetWindowTextW(GetDlgItem(window, applier::kIdStatus), text, 128);
    return shown == text;
  }, 20000));
  ASSERT_EQ(WaitForSingleObject(helper.get(), 30000), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeProcess(helper.get(), &code);
  EXPECT_EQ(code, 1u);

  util::Handle client(OpenProcess(SYNCHRONIZE, FALSE, clientPid_));
  ASSERT_TRUE(client);
  EXPECT_EQ(WaitForSingleObject(client.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_NE(findWindow(kClientClass, clientPid_), nullptr);
  EXPECT_TRUE(treeOf(install_) == before) << "the installation changed";
}

// A plan that cannot be loaded: the helper says so in a message box and ends with 1.
// The second item's target cannot be replaced (held open by another program without delete
// sharing, or read-only): every file already replaced goes back, byte for byte.
TEST_F(ApplyEndToEnd, AFileThatCannotBeReplacedRollsTheWholeUpgradeBack) {
  const std::wstring blocked = install_ + L"\\plugins\\quotes\\quotes.cfg";
  for (const bool readOnly : {false, true}) {
    SCOPED_TRACE(readOnly ? "read-only" : "held open");
    startClient();  // the client keeps its own databases up to date as it starts
    const auto before = installedFiles();
    std::unique_ptr<FileHolder> holder;
    if (readOnly) {
      SetFileAttributesW(blocked.c_str(), FILE_ATTRIBUTE_READONLY);
    } else {
      holder = std::make_unique<FileHolder>(blocked);
      ASSERT_TRUE(holder->holding());
    }
    ASSERT_EQ(startApplier({L"--apply", L"--plan", writeThreeItemPlan()}), 0);
    util::Handle helper(openHelperProcess(10000, helperPid_));
    ASSERT_TRUE(helper);
    if (HWND client = findWindow(kClientClass, clientPid_)) PostMessageW(client, WM_CLOSE, 0, 0);
    EXPECT_TRUE(waitUntil([&] { return helperStatus().rfind(L"升级失败：替换失败：quotes.cfg（", 0) == 0; }, 60000))
        << util::toUtf8(helperStatus());
    ASSERT_EQ(WaitForSingleObject(helper.get(), 30000), WAIT_OBJECT_0);
    holder.reset();
    SetFileAttributesW(blocked.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(installedFiles(), before);  // no old copies, no temporary files, no journal
    EXPECT_NE(restartedClient(), 0u);
    TearDown();
    restartedPid_ = 0;
  }
}

// The helper is killed while it replaces the files of a large release: the next --apply puts the
// old version back before it does anything else.
TEST_F(ApplyEndToEnd, AHelperKilledWhileApplyingIsUndoneByTheNextApply) {
  const std::wstring many = scenario_.putFile(L"many_3.0.zip", packageBytes(L"many.zip"));
  const auto before = installedFiles();
  const std::string plan = "{\"exe\": \"" + jsonPath(install_ + L"\\Orvalo.exe") + "\", \"items\": [" +
                           "{\"url\": \"" + util::toUtf8(scenario_.nginxUrl(L"many_3.0.zip")) + "\", \"sha256\": \"" +
                           digestOf(many) + "\", \"version\": \"3.0\", \"kind\": \"main\"}], \"launch\": false}";
  const std::wstring planPath = dir_ / L"plan.json";
  ASSERT_TRUE(util::writeFile(planPath, plan.data(), plan.size()));
  ASSERT_EQ(startApplier({L"--apply", L"--plan", planPath}), 0);
  util::Handle helper(openHelperProcess(10000, helperPid_));
  ASSERT_TRUE(helper);
  const std::wstring journal = install_ + L"\\update\\upgrade.journal";
  // Cut soon after the first files went in, well before the last.
  const ULONGLONG deadline = GetTickCount64() + 60000;
  while (!dirExists(install_ + L"\\lib") && GetTickCount64() < deadline) Sleep(1);
  ASSERT_TRUE(TerminateProcess(helper.get(), 1));
  ASSERT_EQ(WaitForSingleObject(helper.get(), 10000), WAIT_OBJECT_0);
  ASSERT_TRUE(fileExists(journal));
  ASSERT_NE(installedFiles(), before);

  // The next run fails before the wait (its package is missing), after the undo.
  const std::string next = "{\"exe\": \"" + jsonPath(install_ + L"\\Orvalo.exe") + "\", \"items\": [" +
                           "{\"url\": \"" + util::toUtf8(scenario_.nginxUrl(L"absent.zip")) + "\"}], \"launch\": false}";
  ASSERT_TRUE(util::writeFile(planPath, next.data(), next.size()));
  ASSERT_EQ(startApplier({L"--apply", L"--plan", planPath}), 0);
  EXPECT_EQ(observeHelper(), 1);
  EXPECT_EQ(installedFiles(), before);
  // What the killed helper had unpacked in the temporary folder is nobody's to remove.
  for (const std::wstring& leftover : jobLeftoversInTemp()) {
    util::deleteDirRecursive(leftover);
    util::deleteFileForce(leftover);
  }
}

TEST_F(ApplyEndToEnd, AnUnloadablePlanEndsTheHelperWithAMessage) {
  const std::wstring planPath = dir_ / L"plan.json";
  ASSERT_TRUE(util::writeFile(planPath, "{}", 2));
  ASSERT_EQ(startApplier({L"--apply", L"--plan", planPath}), 0);
  util::Handle helper(openHelperProcess(10000, helperPid_));
  ASSERT_TRUE(helper);
  HWND box = nullptr;
  ASSERT_TRUE(waitUntil([&] { return (box = findWindow(L"#32770", helperPid_)) != nullptr; }, 20000));
  wchar_t caption[64] = {};
  GetWindowTextW(box, caption, 64);
  EXPECT_STREQ(caption, L"OrvaloTrader 升级");
  wchar_t text[256] = {};
  GetWindowTextW(GetDlgItem(box, 0xFFFF), text, 256);
  EXPECT_STREQ(text, L"升级失败：升级计划文件格式无效（缺少 items 列表）");
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  ASSERT_EQ(WaitForSingleObject(helper.get(), 20000), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeProcess(helper.get(), &code);
  EXPECT_EQ(code, 1u);
  EXPECT_EQ(findWindow(kUpgradeClass, helperPid_), nullptr);
}

}  // namespace
