// Removal of the install folder and the check that a folder is an installation, on the real file
// system and registry of the build's Wine prefix.
#include "uninstall/uninstall.h"

#include "install/registration.h"
#include "support/file_holder.h"
#include "support/temp_dir.h"
#include "util/files.h"

#include <gtest/gtest.h>

#include <windows.h>

using testing_support::dirExists;
using testing_support::fileExists;
using testing_support::FileHolder;
using testing_support::TempDir;
using uninstall::RemovalResult;
using uninstall::UserFiles;

namespace {

void makeFile(const std::wstring& path) {
  ASSERT_TRUE(util::createDirectories(path.substr(0, path.find_last_of(L'\\'))));
  ASSERT_TRUE(util::writeFile(path, "x", 1));
}

void deleteRegistration() { RegDeleteTreeW(HKEY_CURRENT_USER, kUninstallKeyPath); }

}  // namespace

TEST(RemoveInstallDir, RemovesATreeWithReadOnlyFilesAndFolders) {
  TempDir tmp;
  const std::wstring dir = tmp / L"Orvalo 量化";
  makeFile(dir + L"\\Orvalo.exe");
  makeFile(dir + L"\\models\\llm\\model.gguf");
  makeFile(dir + L"\\update\\_update.done");
  SetFileAttributesW((dir + L"\\models\\llm\\model.gguf").c_str(), FILE_ATTRIBUTE_READONLY);
  SetFileAttributesW((dir + L"\\models").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_TRUE(removeInstallDir(dir, UserFiles::Remove).complete);
  EXPECT_FALSE(dirExists(dir));
  EXPECT_TRUE(dirExists(tmp.path()));
}

TEST(RemoveInstallDir, AMissingFolderOrAFileIsNothingToRemove) {
  TempDir tmp;
  EXPECT_TRUE(removeInstallDir(tmp / L"missing", UserFiles::Keep).complete);
  makeFile(tmp / L"file");
  EXPECT_TRUE(removeInstallDir(tmp / L"file", UserFiles::Remove).complete);
  EXPECT_TRUE(fileExists(tmp / L"file"));
}

TEST(RemoveInstallDir, AHeldFileFailsAfterFiveAttemptsAndEverythingElseIsGone) {
  TempDir tmp;
  const std::wstring dir = tmp / L"install";
  // Names on both sides of the held one, so that the walk meets entries after it too.
  for (const wchar_t* name : {L"a.txt", L"logs\\a.log", L"logs\\client.log", L"logs\\z.log",
                              L"zz\\data.bin", L"Orvalo.exe"}) {
    makeFile(dir + L"\\" + name);
  }
  const std::wstring held = dir + L"\\logs\\client.log";
  FileHolder holder(held);
  ASSERT_TRUE(holder.holding());

  const ULONGLONG start = GetTickCount64();
  EXPECT_FALSE(removeInstallDir(dir, UserFiles::Remove).complete);
  // Five attempts, each followed by its pause of 400 ms.
  EXPECT_GE(GetTickCount64() - start, 1900u);

  EXPECT_TRUE(fileExists(held));
  size_t left = 0;
  util::forEachEntry(dir, [&](const std::wstring& path, const WIN32_FIND_DATAW&) {
    EXPECT_EQ(path, dir + L"\\logs");
    ++left;
    return true;
  });
  EXPECT_EQ(left, 1u);
  util::forEachEntry(dir + L"\\logs", [&](const std::wstring& path, const WIN32_FIND_DATAW&) {
    EXPECT_EQ(path, held);
    return true;
  });
}

TEST(RemoveInstallDir, KeepsDatabasesAndTheTopBackupFolderWithoutWaitingOnThem) {
  TempDir tmp;
  const std::wstring dir = tmp / L"install";
  for (const wchar_t* name : {L"Orvalo.exe", L"data\\orders.db", L"data\\cache.bin",
                              L"backup\\upgrade_1\\notes.txt"}) {
    makeFile(dir + L"\\" + name);
  }
  const ULONGLONG start = GetTickCount64();
  const RemovalResult result = removeInstallDir(dir, UserFiles::Keep);
  EXPECT_LT(GetTickCount64() - start, 1500u);  // no attempt repeated for the kept files
  EXPECT_TRUE(result.complete && result.keptUserFiles);
  EXPECT_TRUE(fileExists(dir + L"\\data\\orders.db"));
  EXPECT_TRUE(fileExists(dir + L"\\backup\\upgrade_1\\notes.txt"));
  EXPECT_FALSE(fileExists(dir + L"\\data\\cache.bin") || fileExists(dir + L"\\Orvalo.exe"));
}

class InstallEvidenceTest : public ::testing::Test {
 protected:
  void SetUp() override { deleteRegistration(); }
  void TearDown() override { deleteRegistration(); }
  TempDir tmp_;
};

TEST_F(InstallEvidenceTest, ReadsTheFilesAnInstallLeaves) {
  const std::wstring dir = tmp_ / L"install";
  ASSERT_TRUE(util::createDirectories(dir));
  uninstall::InstallEvidence e = uninstall::gatherInstallEvidence(dir);
  EXPECT_FALSE(e.registered || e.setupCopy || e.channelFile || e.markerDir);

  makeFile(dir + L"\\OrvaloSetup.exe");
  makeFile(dir + L"\\channel.ini");
  ASSERT_TRUE(util::createDirectories(dir + L"\\update"));
  e = uninstall::gatherInstallEvidence(dir);
  EXPECT_TRUE(e.setupCopy && e.channelFile && e.markerDir);
  EXPECT_FALSE(e.registered);
}

TEST_F(InstallEvidenceTest, NamesThatAreTheWrongKindDoNotCount) {
  const std::wstring dir = tmp_ / L"downloads";
  ASSERT_TRUE(util::createDirectories(dir + L"\\OrvaloSetup.exe"));
  ASSERT_TRUE(util::createDirectories(dir + L"\\channel.ini"));
  makeFile(dir + L"\\update");
  const uninstall::InstallEvidence e = uninstall::gatherInstallEvidence(dir);
  EXPECT_FALSE(e.setupCopy || e.channelFile || e.markerDir);
}

TEST_F(InstallEvidenceTest, TheRegisteredLocationMatchesWithoutRegardToCaseOrTrailingSeparator) {
  const std::wstring dir = tmp_ / L"Orvalo";
  ASSERT_TRUE(util::createDirectories(dir));
  ASSERT_TRUE(registerUninstall(dir, dir + L"\\Orvalo.exe", L"1.0"));
  EXPECT_TRUE(uninstall::gatherInstallEvidence(dir).registered);
  EXPECT_TRUE(uninstall::gatherInstallEvidence(tmp_ / L"ORVALO\\").registered);
  EXPECT_FALSE(uninstall::gatherInstallEvidence(tmp_ / L"Orvalo2").registered);
  EXPECT_FALSE(uninstall::gatherInstallEvidence(tmp_.path()).registered);
}
