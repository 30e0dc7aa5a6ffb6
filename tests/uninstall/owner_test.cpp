// The interactive uninstaller called in this process the way the wizard calls it: its boxes
// belong to the caller's window.
#include "uninstall/uninstall.h"

#include "process_watch.h"
#include "support/temp_dir.h"
#include "util/files.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

TEST(UninstallBoxes, AreOwnedByTheCallersWindow) {
  constexpr wchar_t kCaption[] = L"Orvalo量化 卸载";
  testing_support::TempDir tmp;
  ASSERT_TRUE(util::createDirectories(tmp / L"Orvalo\\update"));
  ASSERT_TRUE(util::writeFile(tmp / L"Orvalo\\OrvaloSetup.exe", "x", 1));
  const std::unique_ptr<HWND__, decltype(&DestroyWindow)> owner(
      CreateWindowExW(0, L"STATIC", L"wizard", WS_OVERLAPPED, 0, 0, 300, 200, nullptr, nullptr,
                      nullptr, nullptr),
      &DestroyWindow);
  HWND boxOwner = nullptr;
  std::thread answer([&] {
    const DWORD self = GetCurrentProcessId();
    for (int i = 0; i < 400 && !testing_support::findMessageBox(self, kCaption); ++i) Sleep(50);
    boxOwner = GetWindow(testing_support::findMessageBox(self, kCaption), GW_OWNER);
    testing_support::answerMessageBox(self, kCaption, IDNO);  // No to the first question
  });
  EXPECT_EQ(runUninstall(tmp / L"Orvalo", owner.get()), 0);
  answer.join();
  EXPECT_EQ(boxOwner, owner.get());
  EXPECT_TRUE(testing_support::fileExists(tmp / L"Orvalo\\OrvaloSetup.exe"));
}
