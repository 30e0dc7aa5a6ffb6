// The interactive uninstaller called in this process the way the wizard calls it: its boxes
// belong to the caller's window, and it owns the install folder while it works.
#include "uninstall/uninstall.h"

#include "install/install_lock.h"
#include "process_watch.h"
#include "support/temp_dir.h"
#include "uninstall/texts.h"
#include "util/files.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace {

using uninstall::kCaption;

using OwnerWindow = std::unique_ptr<HWND__, decltype(&DestroyWindow)>;

// A window standing in for the wizard's.
OwnerWindow makeOwner() {
  return OwnerWindow(CreateWindowExW(0, L"STATIC", L"wizard", WS_OVERLAPPED, 0, 0, 300, 200, nullptr,
                                     nullptr, nullptr, nullptr),
                     &DestroyWindow);
}

// A folder the uninstaller takes for an installation: the setup copy beside the marker folder.
std::wstring makeInstallation(const testing_support::TempDir& tmp) {
  EXPECT_TRUE(util::createDirectories(tmp / L"Orvalo\\update"));
  EXPECT_TRUE(util::writeFile(tmp / L"Orvalo\\OrvaloSetup.exe", "x", 1));
  return tmp / L"Orvalo";
}

}  // namespace

TEST(UninstallBoxes, AreOwnedByTheCallersWindow) {
  testing_support::TempDir tmp;
  const std::wstring folder = makeInstallation(tmp);
  const OwnerWindow owner = makeOwner();
  HWND boxOwner = nullptr;
  bool folderHeldWhileAsking = false;
  std::thread answer([&] {
    const DWORD self = GetCurrentProcessId();
    for (int i = 0; i < 400 && !testing_support::findMessageBox(self, kCaption); ++i) Sleep(50);
    boxOwner = GetWindow(testing_support::findMessageBox(self, kCaption), GW_OWNER);
    folderHeldWhileAsking = !install::acquireFolderLock(folder);
    testing_support::answerMessageBox(self, kCaption, IDNO);  // No to the first question
  });
  EXPECT_EQ(runUninstall(folder, owner.get()), 0);
  answer.join();
  EXPECT_EQ(boxOwner, owner.get());
  EXPECT_TRUE(folderHeldWhileAsking);
  EXPECT_TRUE(install::acquireFolderLock(folder)) << "released at the end";
  EXPECT_TRUE(testing_support::fileExists(tmp / L"Orvalo\\OrvaloSetup.exe"));
}

// An upgrade owns the folder (its files staged, its helper waiting for the client): the
// uninstaller says so before its first question and changes nothing.
TEST(UninstallBoxes, AFolderThatAnUpgradeOwnsIsRefusedBeforeTheFirstQuestion) {
  testing_support::TempDir tmp;
  const std::wstring folder = makeInstallation(tmp);
  const OwnerWindow owner = makeOwner();
  const util::Handle upgrade = install::acquireFolderLock(folder);
  ASSERT_TRUE(upgrade);
  std::wstring shown;
  std::thread answer([&] { shown = testing_support::answerMessageBox(GetCurrentProcessId(), kCaption, IDOK); });
  EXPECT_EQ(runUninstall(folder, owner.get()), 1);
  answer.join();
  EXPECT_EQ(shown, uninstall::kFolderBusy);
  EXPECT_TRUE(testing_support::fileExists(tmp / L"Orvalo\\OrvaloSetup.exe"));
}
