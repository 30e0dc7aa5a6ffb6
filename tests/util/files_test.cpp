#include "util/files.h"

#include "support/temp_dir.h"
#include "util/handles.h"
#include "util/paths.h"

#include <gtest/gtest.h>

#include <set>

using testing_support::dirExists;
using testing_support::fileExists;
using testing_support::readFileBytes;
using testing_support::TempDir;

namespace {

void makeFile(const std::wstring& path, const std::string& content = "x") {
  ASSERT_TRUE(util::writeFile(path, content.data(), content.size())) << GetLastError();
}

}  // namespace

TEST(CreateDirectories, DoubledAndTrailingSeparatorsCreateEachLevelOnce) {
  TempDir tmp;
  const std::wstring target = tmp.path() + L"\\a\\\\b//c\\";
  ASSERT_TRUE(util::createDirectories(target));
  EXPECT_TRUE(dirExists(tmp / L"a\\b\\c"));
  // The doubled separator must not have produced an empty-named level or a stray folder.
  std::set<std::wstring> inA;
  util::forEachEntry(tmp / L"a", [&](const std::wstring& p, const WIN32_FIND_DATAW&) {
    inA.insert(p);
    return true;
  });
  EXPECT_EQ(inA, std::set<std::wstring>{tmp / L"a\\b"});
  EXPECT_TRUE(util::createDirectories(target)) << "existing folder must succeed";
}

TEST(CreateDirectories, ChineseNamesAndForwardSlashes) {
  TempDir tmp;
  ASSERT_TRUE(util::createDirectories(tmp.path() + L"/量化/数据"));
  EXPECT_TRUE(dirExists(tmp / L"量化\\数据"));
}

TEST(CreateDirectories, FailsWhenAFileStandsWhereALevelShouldBe) {
  TempDir tmp;
  makeFile(tmp / L"blocker");
  EXPECT_FALSE(util::createDirectories(tmp / L"blocker\\inner"));
  EXPECT_FALSE(util::createDirectories(tmp / L"blocker"));
  EXPECT_TRUE(fileExists(tmp / L"blocker"));
}

TEST(CreateDirectories, EmptyPathIsSuccess) { EXPECT_TRUE(util::createDirectories(L"")); }

TEST(WriteFile, ZeroBytesLeavesAnEmptyFile) {
  TempDir tmp;
  const std::wstring path = tmp / L"empty.txt";
  ASSERT_TRUE(util::writeFile(path, nullptr, 0));
  EXPECT_TRUE(fileExists(path));
  EXPECT_EQ(testing_support::readFileBytes(path), "");
}

TEST(WriteFile, TruncatesAnExistingFile) {
  TempDir tmp;
  const std::wstring path = tmp / L"f.bin";
  makeFile(path, "a long first content");
  makeFile(path, std::string("\0\x01", 2));
  EXPECT_EQ(testing_support::readFileBytes(path), std::string("\0\x01", 2));
}

TEST(WriteFile, FailsInAMissingFolder) {
  TempDir tmp;
  EXPECT_FALSE(util::writeFile(tmp / L"missing\\f.txt", "x", 1));
}

TEST(DeleteFileForce, RemovesReadOnlyFileAndLeavesFoldersAlone) {
  TempDir tmp;
  const std::wstring file = tmp / L"ro.txt";
  makeFile(file);
  SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(util::deleteFileForce(file));
  EXPECT_FALSE(fileExists(file));
  EXPECT_TRUE(util::deleteFileForce(file)) << "nothing there is success";

  ASSERT_TRUE(util::createDirectories(tmp / L"dir"));
  EXPECT_TRUE(util::deleteFileForce(tmp / L"dir"));
  EXPECT_TRUE(dirExists(tmp / L"dir"));
}

TEST(DeleteDirRecursive, RemovesTreeWithReadOnlyFiles) {
  TempDir tmp;
  const std::wstring root = tmp / L"tree";
  ASSERT_TRUE(util::createDirectories(root + L"\\a\\b"));
  makeFile(root + L"\\top.txt");
  makeFile(root + L"\\a\\b\\deep.db");
  SetFileAttributesW((root + L"\\a\\b\\deep.db").c_str(), FILE_ATTRIBUTE_READONLY);
  SetFileAttributesW((root + L"\\top.txt").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  EXPECT_TRUE(util::deleteDirRecursive(root));
  EXPECT_FALSE(dirExists(root));
}

TEST(DeleteDirRecursive, MissingFolderOrAFileIsLeftAndSucceeds) {
  TempDir tmp;
  EXPECT_TRUE(util::deleteDirRecursive(tmp / L"missing"));
  makeFile(tmp / L"plain.txt");
  EXPECT_TRUE(util::deleteDirRecursive(tmp / L"plain.txt"));
  EXPECT_TRUE(fileExists(tmp / L"plain.txt"));
}

TEST(DeleteDirRecursive, FileHeldWithoutDeleteSharingStopsTheRemoval) {
  TempDir tmp;
  const std::wstring root = tmp / L"tree";
  const std::wstring held = root + L"\\sub\\held.db";
  ASSERT_TRUE(util::createDirectories(root + L"\\sub"));
  makeFile(held);
  util::FileHandle holder(CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(holder.valid());

  EXPECT_FALSE(util::deleteDirRecursive(root));
  EXPECT_TRUE(fileExists(held));
  EXPECT_TRUE(dirExists(root + L"\\sub"));
  EXPECT_TRUE(dirExists(root));

  holder.reset();
  EXPECT_TRUE(util::deleteDirRecursive(root));
  EXPECT_FALSE(dirExists(root));
}

// A rename never replaces what it finds, and a file another program holds without delete sharing
// stays where it is.
TEST(RenameFile, MovesFilesAndFoldersButNeverOverAnything) {
  TempDir tmp;
  makeFile(tmp / L"a.dll", "new");
  makeFile(tmp / L"b.dll", "old");
  EXPECT_FALSE(util::renameFile(tmp / L"a.dll", tmp / L"b.dll"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(readFileBytes(tmp / L"b.dll"), "old");
  EXPECT_FALSE(util::renameFile(tmp / L"missing.dll", tmp / L"c.dll"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  ASSERT_TRUE(util::renameFile(tmp / L"a.dll", tmp / L"量化.dll"));
  EXPECT_EQ(readFileBytes(tmp / L"量化.dll"), "new");
  EXPECT_FALSE(fileExists(tmp / L"a.dll"));
  ASSERT_TRUE(util::createDirectories(tmp / L"dir\\sub"));
  ASSERT_TRUE(util::renameFile(tmp / L"dir", tmp / L"moved"));
  EXPECT_TRUE(dirExists(tmp / L"moved\\sub"));

  util::FileHandle holder(CreateFileW((tmp / L"b.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(holder.valid());
  EXPECT_FALSE(util::renameFile(tmp / L"b.dll", tmp / L"b.dll.upg_old"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(fileExists(tmp / L"b.dll"));
}

TEST(CountFiles, CountsFilesAtEveryLevelButNotFolders) {
  TempDir tmp;
  ASSERT_TRUE(util::createDirectories(tmp / L"a\\b\\c"));
  ASSERT_TRUE(util::createDirectories(tmp / L"empty"));
  makeFile(tmp / L"1");
  makeFile(tmp / L"a\\2");
  makeFile(tmp / L"a\\b\\3");
  makeFile(tmp / L"a\\b\\c\\4");
  makeFile(tmp / L"a\\b\\c\\.hidden");
  SetFileAttributesW((tmp / L"a\\b\\c\\.hidden").c_str(), FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(util::countFiles(tmp.path()), 5u);
  EXPECT_EQ(util::countFiles(tmp / L"empty"), 0u);
  EXPECT_EQ(util::countFiles(tmp / L"missing"), 0u);
}

TEST(ForEachEntry, StopsWhenTheVisitorSaysSoAndReportsIt) {
  TempDir tmp;
  for (int i = 0; i < 5; ++i) makeFile(tmp / (L"f" + std::to_wstring(i)));
  int visits = 0;
  const bool result = util::forEachEntry(tmp.path(), [&](const std::wstring&, const WIN32_FIND_DATAW&) {
    ++visits;
    return visits < 2;
  });
  EXPECT_FALSE(result);
  EXPECT_EQ(visits, 2);
  EXPECT_TRUE(util::forEachEntry(tmp / L"missing", [](const std::wstring&, const WIN32_FIND_DATAW&) {
    ADD_FAILURE() << "a missing folder has no entries";
    return false;
  }));
}
