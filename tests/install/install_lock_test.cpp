// The lock of an install folder: one name for every spelling of a folder, held while its holder
// keeps it, and respected by the real program's unattended install.
#include "install/install_lock.h"

#include "support/run_process.h"
#include "support/temp_dir.h"
#include "util/text.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>

namespace {

using namespace testing_support;

constexpr wchar_t kNamePrefix[] = L"Global\\OrvaloSetup.Folder.";

class FolderLock : public ::testing::Test {
 protected:
  TempDir dir_;
  const std::wstring folder_ = dir_ / L"Orvalo 量化";
};

std::wstring otherSpelling(std::wstring path) {
  std::replace(path.begin(), path.end(), L'\\', L'/');
  for (wchar_t& c : path) c = static_cast<wchar_t>(towupper(c));
  return path + L"/sub/../.";
}

TEST_F(FolderLock, EverySpellingOfAFolderNamesOneLockAndAnotherFolderAnother) {
  const std::wstring name = install::folderLockName(folder_);
  ASSERT_EQ(name.rfind(kNamePrefix, 0), 0u) << util::toUtf8(name);
  // A mutex name holds no '\' beyond its namespace and stays short whatever the folder.
  EXPECT_EQ(name.find(L'\\', 7), std::wstring::npos);
  EXPECT_EQ(name.size(), std::wstring(kNamePrefix).size() + 64);
  for (const std::wstring& spelling : {folder_ + L"\\", otherSpelling(folder_)}) {
    EXPECT_EQ(install::folderLockName(spelling), name) << util::toUtf8(spelling);
  }
  for (const std::wstring& other : {folder_ + L"2", dir_.path(), folder_ + L"\\sub"}) {
    EXPECT_NE(install::folderLockName(other), name) << util::toUtf8(other);
  }
}

TEST_F(FolderLock, IsHeldUntilItsHolderClosesIt) {
  util::Handle held = install::acquireFolderLock(folder_);
  ASSERT_TRUE(held);
  EXPECT_FALSE(install::acquireFolderLock(otherSpelling(folder_)));
  EXPECT_TRUE(install::acquireFolderLock(folder_ + L"2"));
  held.reset();
  EXPECT_TRUE(install::acquireFolderLock(otherSpelling(folder_)));
}

// The install folder is being upgraded (or removed) by another process: the unattended install
// says so and changes nothing, before it asks any server.
TEST_F(FolderLock, AnUnattendedInstallIntoAHeldFolderExits1AndChangesNothing) {
  const util::Handle held = install::acquireFolderLock(otherSpelling(folder_));
  ASSERT_TRUE(held);
  const std::wstring log = dir_ / L"silent.log";
  const ProcessResult run = runProcess(quoteArg(binPath(L"OrvaloSetup.exe")) + L" --silent --accept-agreement --dir " +
                                       quoteArg(folder_) + L" --base http://127.0.0.1:9 --log " + quoteArg(log));
  EXPECT_EQ(run.exitCode, 1);
  const std::string line = util::toUtf8(L"此目录正被另一个升级、安装或卸载使用：" + folder_ + L" 未做任何更改。");
  EXPECT_NE(readFileBytes(log).find(line), std::string::npos) << readFileBytes(log);
  EXPECT_FALSE(dirExists(folder_));
}

}  // namespace
