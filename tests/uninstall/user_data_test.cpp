// The client's user data folders are real folders of the build's Wine prefix.
#include "uninstall/uninstall.h"

#include "support/temp_dir.h"
#include "util/files.h"
#include "util/paths.h"

#include <gtest/gtest.h>

#include <windows.h>

using testing_support::dirExists;

namespace {

std::wstring roamingAppData() {
  wchar_t buffer[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableW(L"APPDATA", buffer, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(buffer, length) : std::wstring();
}

}  // namespace

TEST(RemoveUserData, RemovesBothOrvaloTraderFoldersAndNothingBesideThem) {
  const std::wstring local = util::localAppDataDirectory();
  const std::wstring roaming = roamingAppData();
  ASSERT_FALSE(local.empty());
  ASSERT_FALSE(roaming.empty());
  for (const std::wstring& base : {local, roaming}) {
    ASSERT_TRUE(util::createDirectories(base + L"\\OrvaloTrader\\logs"));
    ASSERT_TRUE(util::writeFile(base + L"\\OrvaloTrader\\logs\\today.log", "x", 1));
    ASSERT_TRUE(util::createDirectories(base + L"\\OrvaloTrader2"));
  }

  removeUserData();

  for (const std::wstring& base : {local, roaming}) {
    EXPECT_FALSE(dirExists(base + L"\\OrvaloTrader")) << base;
    EXPECT_TRUE(dirExists(base + L"\\OrvaloTrader2")) << base;
    EXPECT_TRUE(util::deleteDirRecursive(base + L"\\OrvaloTrader2"));
  }
  removeUserData();  // nothing left to remove is no failure
}
