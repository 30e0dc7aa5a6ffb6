// The real OrvaloSetup.exe removing installations prepared by hand in the layout an install
// leaves, started as Windows starts it (the registered uninstall command) or through the wizard's
// uninstall button, with its message boxes answered from here by owner process and caption.
#include "install/registration.h"
#include "install/shortcut.h"
#include "install/texts.h"
#include "process_watch.h"
#include "support/file_holder.h"
#include "support/run_process.h"
#include "support/temp_dir.h"
#include "uninstall/texts.h"
#include "util/files.h"
#include "util/paths.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <list>
#include <memory>

using namespace testing_support;

namespace {

using uninstall::kCaption;
using uninstall::kPartlyRemovedByWorker;
using uninstall::kPartlyRemovedHere;
using uninstall::kPurgeQuestion;
using uninstall::kRemoved;
constexpr int kUninstallButton = 2031;

std::wstring confirmation(const std::wstring& folder) {
  return uninstall::kConfirmPrefix + folder + uninstall::kConfirmSuffix;
}

std::wstring desktopShortcut() {
  wchar_t* raw = nullptr;
  std::wstring path;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Desktop, 0, nullptr, &raw))) {
    path = std::wstring(raw) + L"\\" + install::kShortcutFileName;
  }
  CoTaskMemFree(raw);
  return path;
}

std::wstring roamingAppData() {
  wchar_t buffer[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableW(L"APPDATA", buffer, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(buffer, length) : std::wstring();
}

std::vector<std::wstring> userDataFolders() {
  return {util::localAppDataDirectory() + L"\\OrvaloTrader", roamingAppData() + L"\\OrvaloTrader"};
}

bool registrationExists() {
  util::RegKey key;
  return RegOpenKeyExW(HKEY_CURRENT_USER, kUninstallKeyPath, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

std::wstring registeredUninstallString() {
  wchar_t value[1024] = {};
  DWORD bytes = sizeof value;
  if (RegGetValueW(HKEY_CURRENT_USER, kUninstallKeyPath, L"UninstallString", RRF_RT_REG_SZ, nullptr,
                   value, &bytes) != ERROR_SUCCESS) {
    return {};
  }
  return value;
}

void makeFile(const std::wstring& path, const std::string& content = "x") {
  ASSERT_TRUE(util::createDirectories(path.substr(0, path.find_last_of(L'\\'))));
  ASSERT_TRUE(util::writeFile(path, content.data(), content.size()));
}

void copyProgram(const std::wstring& name, const std::wstring& target) {
  ASSERT_TRUE(util::createDirectories(target.substr(0, target.find_last_of(L'\\'))));
  ASSERT_TRUE(CopyFileW(binPath(name).c_str(), target.c_str(), FALSE)) << GetLastError();
}

// Every path below the folder, files and folders, relative to it, sorted.
std::vector<std::wstring> entriesBelow(const std::wstring& folder, const std::wstring& prefix = L"") {
  std::vector<std::wstring> found;
  util::forEachEntry(folder, [&](const std::wstring& path, const WIN32_FIND_DATAW& data) {
    const std::wstring name = prefix + data.cFileName;
    found.push_back(name);
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      for (const std::wstring& inner : entriesBelow(path, name + L"\\")) found.push_back(inner);
    }
    return true;
  });
  std::sort(found.begin(), found.end());
  return found;
}

// What a removal that keeps the user's files leaves of the prepared installation, with more.
std::vector<std::wstring> keptEntries(std::vector<std::wstring> more = {}) {
  more.insert(more.end(), {L"backup", L"backup\\upgrade_20260101_093000",
                           L"backup\\upgrade_20260101_093000\\orders.db", L"data",
                           L"data\\orders.db", L"data\\orders.db-wal"});
  std::sort(more.begin(), more.end());
  return more;
}

// The worker's arguments after its program, as its entry splits them.
std::vector<std::wstring> workerArguments(const std::wstring& line) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(line.c_str(), &argc);
  if (!argv) return {};
  util::LocalMem owner(argv);
  return std::vector<std::wstring>(argv + 1, argv + argc);
}

class Uninstaller : public ::testing::Test {
 protected:
  void SetUp() override {
    clearSharedState();
    temp_ = tmp_ / L"temp";
    installDir_ = tmp_ / L"Orvalo 量化";
    siblingDir_ = tmp_ / L"Orvalo 量化2";
    downloads_ = tmp_ / L"Downloads";
    ASSERT_TRUE(util::createDirectories(temp_));
  }

  void TearDown() override {
    for (Child& child : children_) {
      if (child.running()) TerminateProcess(child.process.get(), 0);
      child.exitCodeWithin(5000);
    }
    holder_.reset();
    clearSharedState();
  }

  static void clearSharedState() {
    RegDeleteTreeW(HKEY_CURRENT_USER, kUninstallKeyPath);
    util::deleteFileForce(desktopShortcut());
    for (const std::wstring& folder : userDataFolders()) util::deleteDirRecursive(folder);
  }

  // The layout an install leaves, its registration and its desktop shortcut (pointing into the
  // folder, or at a program elsewhere).
  void prepareInstallation(bool shortcutIntoFolder = true) {
    copyProgram(L"Orvalo.exe", installDir_ + L"\\Orvalo.exe");
    copyProgram(L"OrvaloSetup.exe", installDir_ + L"\\OrvaloSetup.exe");
    copyProgram(L"idle_program.exe", installDir_ + L"\\tools\\OrvaloTool.exe");
    makeFile(installDir_ + L"\\channel.ini", "[Channel]\nid=\nref=\n");
    makeFile(installDir_ + L"\\update\\_update.done", "2.0.0");
    makeFile(installDir_ + L"\\update\\_component.done", "1.0.0");
    makeFile(installDir_ + L"\\legal\\agreement_install.txt", "agreement");
    makeFile(installDir_ + L"\\models\\llm\\model.gguf", "weights");
    makeFile(installDir_ + L"\\data\\orders.db", "db");
    makeFile(installDir_ + L"\\data\\orders.db-wal", "wal");
    makeFile(installDir_ + L"\\data\\quotes.cache", "cache");
    makeFile(installDir_ + L"\\backup\\upgrade_20260101_093000\\orders.db", "snapshot");
    ASSERT_TRUE(registerUninstall(installDir_, installDir_ + L"\\Orvalo.exe", L"2.0.0"));
    copyProgram(L"idle_program.exe", siblingDir_ + L"\\OrvaloTool.exe");
    copyProgram(L"Orvalo.exe", siblingDir_ + L"\\Orvalo.exe");
    const std::wstring target = shortcutIntoFolder ? installDir_ : siblingDir_;
    ASSERT_TRUE(createDesktopShortcut(target + L"\\Orvalo.exe", target));
  }

  void prepareUserData() {
    for (const std::wstring& folder : userDataFolders()) makeFile(folder + L"\\config\\login.json", "{}");
  }

  Child& start(const std::wstring& commandLine) {
    children_.push_back(startWithTemp(commandLine, temp_));
    EXPECT_NE(children_.back().pid, 0u) << "cannot start " << commandLine.size();
    return children_.back();
  }

  Child& startProgram(const std::wstring& exe) { return start(quoteArg(exe)); }

  // The client with its window, a tool from a sub-folder and a program from the sibling folder.
  void startClientPrograms() {
    client_ = &startProgram(installDir_ + L"\\Orvalo.exe");
    ASSERT_NE(waitForWindow(client_->pid, L"OrvaloDemoClientWnd", 20000), nullptr);
    tool_ = &startProgram(installDir_ + L"\\tools\\OrvaloTool.exe");
    sibling_ = &startProgram(siblingDir_ + L"\\OrvaloTool.exe");
    ASSERT_EQ(waitForProcessImage(installDir_ + L"\\tools\\OrvaloTool.exe", 10000), tool_->pid);
    ASSERT_EQ(waitForProcessImage(siblingDir_ + L"\\OrvaloTool.exe", 10000), sibling_->pid);
  }

  std::wstring helperPath() const { return temp_ + L"\\OrvaloSetup_helper.exe"; }
  std::wstring keptLine() const { return uninstall::kKeptPrefix + installDir_; }

  // Windows starts the registered command; the two questions get their answers.
  Child& startRegisteredUninstall(bool purge) {
    const std::wstring command = registeredUninstallString();
    EXPECT_EQ(command, L"\"" + installDir_ + L"\\OrvaloSetup.exe\" --uninstall");
    Child& first = start(command);
    EXPECT_EQ(answerMessageBox(first.pid, kCaption, IDYES), confirmation(installDir_));
    EXPECT_EQ(answerMessageBox(first.pid, kCaption, purge ? IDYES : IDNO), kPurgeQuestion);
    return first;
  }

  struct Worker {
    util::Handle process;
    std::wstring commandLine;
    std::wstring boxText;
    long exitCode = -1;
  };

  // The temporary worker: found by its image, observed while its result box shows (check runs
  // then), its box closed, its exit awaited.
  Worker watchWorker(const std::function<void()>& checkWhileBoxShows) {
    Worker worker;
    const DWORD pid = waitForProcessImage(helperPath(), 20000);
    EXPECT_NE(pid, 0u) << "no worker started";
    if (!pid) return worker;
    worker.process.reset(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    for (int i = 0; i < 400 && !findMessageBox(pid, kCaption); ++i) Sleep(50);
    worker.commandLine = commandLineOf(pid);
    checkWhileBoxShows();
    worker.boxText = answerMessageBox(pid, kCaption, IDOK);
    if (WaitForSingleObject(worker.process.get(), 10000) == WAIT_OBJECT_0) {
      DWORD code = 0;
      GetExitCodeProcess(worker.process.get(), &code);
      worker.exitCode = static_cast<long>(code);
    }
    return worker;
  }

  bool helperGoneWithin(DWORD ms) const {
    for (DWORD waited = 0; waited < ms; waited += 100) {
      if (!fileExists(helperPath())) return true;
      Sleep(100);
    }
    return !fileExists(helperPath());
  }

  void expectClientProgramsEnded() {
    EXPECT_EQ(client_->exitCodeWithin(5000), 0) << "the client was not ended";
    EXPECT_EQ(tool_->exitCodeWithin(5000), 0) << "the program in the sub-folder was not ended";
    EXPECT_TRUE(sibling_->running()) << "a program of the sibling folder was ended";
  }

  void expectInstallationUntouched() {
    EXPECT_TRUE(fileExists(installDir_ + L"\\OrvaloSetup.exe"));
    EXPECT_TRUE(fileExists(installDir_ + L"\\models\\llm\\model.gguf"));
    EXPECT_TRUE(fileExists(installDir_ + L"\\data\\orders.db"));
    EXPECT_TRUE(registrationExists());
    EXPECT_TRUE(fileExists(desktopShortcut()));
  }

  // Starts the wizard from a download folder, with a server that answers nothing, and presses
  // its uninstall button.
  Child& startWizardUninstall(bool purge) {
    copyProgram(L"OrvaloSetup.exe", downloads_ + L"\\OrvaloSetup.exe");
    Child& wizard = start(quoteArg(downloads_ + L"\\OrvaloSetup.exe") + L" --base http://127.0.0.1:9");
    HWND window = waitForWindow(wizard.pid, L"OrvaloSetupWizardWnd", 30000);
    EXPECT_NE(window, nullptr);
    if (!window) return wizard;
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(kUninstallButton, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, kUninstallButton)));
    EXPECT_EQ(answerMessageBox(wizard.pid, kCaption, IDYES), confirmation(installDir_));
    EXPECT_EQ(answerMessageBox(wizard.pid, kCaption, purge ? IDYES : IDNO), kPurgeQuestion);
    return wizard;
  }

  TempDir tmp_;
  std::wstring temp_, installDir_, siblingDir_, downloads_;
  std::list<Child> children_;  // stable addresses
  Child* client_ = nullptr;
  Child* tool_ = nullptr;
  Child* sibling_ = nullptr;
  std::unique_ptr<FileHolder> holder_;
};

}  // namespace

TEST_F(Uninstaller, FromTheInstallFolderEndsItsProgramsAndHandsOverToASelfDeletingWorker) {
  prepareInstallation();
  prepareUserData();
  startClientPrograms();

  Child& first = startRegisteredUninstall(true);
  // The first process returns as soon as the worker runs, before the worker's box is answered.
  EXPECT_EQ(first.exitCodeWithin(15000), 0);

  const Worker worker = watchWorker([&] {
    EXPECT_FALSE(dirExists(installDir_));
    expectClientProgramsEnded();
    EXPECT_FALSE(registrationExists());
    EXPECT_FALSE(fileExists(desktopShortcut()));
    for (const std::wstring& folder : userDataFolders()) EXPECT_FALSE(dirExists(folder)) << folder;
  });
  EXPECT_NE(worker.commandLine.find(L"--uninstall-worker \"" + installDir_ + L"\" --purge-data"),
            std::wstring::npos)
      << worker.commandLine;
  EXPECT_EQ(workerArguments(worker.commandLine),
            (std::vector<std::wstring>{L"--uninstall-worker", installDir_, L"--purge-data"}));
  EXPECT_EQ(worker.boxText, kRemoved);
  EXPECT_EQ(worker.exitCode, 0);
  EXPECT_TRUE(helperGoneWithin(15000)) << "the worker's file was not deleted";
  EXPECT_TRUE(dirExists(siblingDir_));
}

TEST_F(Uninstaller, KeepsTheUserDataAndDatabasesOnNoAndAShortcutThatPointsElsewhere) {
  prepareInstallation(false);
  prepareUserData();
  startClientPrograms();

  Child& first = startRegisteredUninstall(false);
  EXPECT_EQ(first.exitCodeWithin(15000), 0);
  const Worker worker = watchWorker([] {});
  EXPECT_EQ(worker.commandLine.find(L"--purge-data"), std::wstring::npos) << worker.commandLine;
  EXPECT_EQ(workerArguments(worker.commandLine), (std::vector<std::wstring>{L"--uninstall-worker", installDir_}));
  EXPECT_EQ(worker.boxText, kRemoved + keptLine());
  EXPECT_EQ(worker.exitCode, 0);

  // With the databases the client created when it started, one of them beside it.
  EXPECT_EQ(entriesBelow(installDir_), keptEntries({L"data\\orvalo.db", L"trades.db"}));
  EXPECT_FALSE(registrationExists());
  EXPECT_TRUE(fileExists(desktopShortcut())) << "a shortcut to another folder was removed";
  for (const std::wstring& folder : userDataFolders()) {
    EXPECT_TRUE(fileExists(folder + L"\\config\\login.json")) << folder;
  }
  EXPECT_TRUE(helperGoneWithin(15000));
}

TEST_F(Uninstaller, AFileHeldByAProgramOutsideTheFolderLeavesOnlyThatFileForTheWorker) {
  prepareInstallation();
  makeFile(installDir_ + L"\\logs\\client.log", "log");
  makeFile(installDir_ + L"\\logs\\older.log", "log");
  holder_ = std::make_unique<FileHolder>(installDir_ + L"\\logs\\client.log");
  ASSERT_TRUE(holder_->holding());

  Child& first = startRegisteredUninstall(false);
  EXPECT_EQ(first.exitCodeWithin(15000), 0);
  const Worker worker = watchWorker([] {});
  EXPECT_EQ(worker.boxText, kPartlyRemovedByWorker + keptLine());
  EXPECT_EQ(worker.exitCode, 0);
  EXPECT_EQ(entriesBelow(installDir_), keptEntries({L"logs", L"logs\\client.log"}));
  EXPECT_FALSE(registrationExists());
  EXPECT_TRUE(helperGoneWithin(15000));
}

TEST_F(Uninstaller, TheWizardFromADownloadFolderRemovesInPlaceAndCloses) {
  prepareInstallation();
  prepareUserData();
  startClientPrograms();

  Child& wizard = startWizardUninstall(true);
  EXPECT_EQ(answerMessageBox(wizard.pid, kCaption, IDOK), kRemoved);
  EXPECT_EQ(wizard.exitCodeWithin(15000), 0) << "the wizard did not close";

  EXPECT_FALSE(dirExists(installDir_));
  expectClientProgramsEnded();
  EXPECT_FALSE(registrationExists());
  EXPECT_FALSE(fileExists(desktopShortcut()));
  for (const std::wstring& folder : userDataFolders()) EXPECT_FALSE(dirExists(folder)) << folder;
  EXPECT_FALSE(fileExists(helperPath())) << "no worker is needed when running from elsewhere";
  EXPECT_TRUE(fileExists(downloads_ + L"\\OrvaloSetup.exe"));
}

TEST_F(Uninstaller, TheWizardReportsAHeldFileWithTheShorterText) {
  prepareInstallation();
  makeFile(installDir_ + L"\\logs\\client.log", "log");
  holder_ = std::make_unique<FileHolder>(installDir_ + L"\\logs\\client.log");
  ASSERT_TRUE(holder_->holding());

  Child& wizard = startWizardUninstall(false);
  EXPECT_EQ(answerMessageBox(wizard.pid, kCaption, IDOK), kPartlyRemovedHere + keptLine());
  EXPECT_EQ(wizard.exitCodeWithin(15000), 0);
  EXPECT_EQ(entriesBelow(installDir_), keptEntries({L"logs", L"logs\\client.log"}));
}

TEST_F(Uninstaller, NoToTheFirstQuestionChangesNothing) {
  prepareInstallation();
  prepareUserData();
  startClientPrograms();

  Child& first = start(registeredUninstallString());
  EXPECT_EQ(answerMessageBox(first.pid, kCaption, IDNO), confirmation(installDir_));
  EXPECT_EQ(first.exitCodeWithin(15000), 0);

  expectInstallationUntouched();
  EXPECT_TRUE(client_->running());
  EXPECT_TRUE(tool_->running());
  for (const std::wstring& folder : userDataFolders()) EXPECT_TRUE(dirExists(folder));
  EXPECT_FALSE(fileExists(helperPath()));
}

TEST_F(Uninstaller, RefusesAFolderThatIsNoInstallation) {
  // The downloaded setup started with --uninstall from the downloads folder, while a real
  // installation is registered elsewhere.
  prepareInstallation();
  copyProgram(L"OrvaloSetup.exe", downloads_ + L"\\OrvaloSetup.exe");
  copyProgram(L"idle_program.exe", downloads_ + L"\\viewer.exe");
  makeFile(downloads_ + L"\\statement.pdf", "pdf");
  Child& viewer = startProgram(downloads_ + L"\\viewer.exe");
  ASSERT_EQ(waitForProcessImage(downloads_ + L"\\viewer.exe", 10000), viewer.pid);

  Child& setup = start(quoteArg(downloads_ + L"\\OrvaloSetup.exe") + L" --uninstall");
  EXPECT_EQ(answerMessageBox(setup.pid, kCaption, IDOK), uninstall::kNotInstalledPrefix + downloads_);
  EXPECT_EQ(setup.exitCodeWithin(15000), 1);

  // The worker's mode refuses it the same way.
  Child& worker = start(quoteArg(binPath(L"OrvaloSetup.exe")) + L" --uninstall-worker " +
                        quoteArg(downloads_) + L" --purge-data");
  EXPECT_EQ(answerMessageBox(worker.pid, kCaption, IDOK), uninstall::kNotInstalledPrefix + downloads_);
  EXPECT_EQ(worker.exitCodeWithin(15000), 1);

  EXPECT_TRUE(fileExists(downloads_ + L"\\statement.pdf"));
  EXPECT_TRUE(fileExists(downloads_ + L"\\OrvaloSetup.exe"));
  EXPECT_TRUE(viewer.running());
  expectInstallationUntouched();
}

TEST_F(Uninstaller, AWorkerThatCannotBeCopiedFailsAndLeavesTheInstallationListed) {
  prepareInstallation();
  // A folder where the temporary copy should go: the copy cannot be made.
  ASSERT_TRUE(util::createDirectories(helperPath()));

  Child& first = startRegisteredUninstall(false);
  EXPECT_EQ(answerMessageBox(first.pid, kCaption, IDOK), uninstall::kCopyFailed);
  EXPECT_EQ(first.exitCodeWithin(15000), 1);
  expectInstallationUntouched();
}

TEST_F(Uninstaller, RefusesDriveRootsWithoutAsking) {
  Child& worker = start(quoteArg(binPath(L"OrvaloSetup.exe")) + L" --uninstall-worker C:\\");
  EXPECT_EQ(worker.exitCodeWithin(15000), 1);

  // A copy in the root of the drive: the folder of the running executable is "C:".
  const std::wstring rootCopy = L"C:\\OrvaloSetup_uninstall_test.exe";
  copyProgram(L"OrvaloSetup.exe", rootCopy);
  Child& setup = start(quoteArg(rootCopy) + L" --uninstall");
  EXPECT_EQ(setup.exitCodeWithin(15000), 1);
  EXPECT_TRUE(util::deleteFileForce(rootCopy));
  EXPECT_TRUE(dirExists(L"C:\\windows"));
}
