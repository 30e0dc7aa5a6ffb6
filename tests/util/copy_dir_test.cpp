#include "util/copy_dir.h"

#include "util/texts.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <set>
#include <utility>
#include <vector>

#include "support/file_holder.h"
#include "support/temp_dir.h"
#include "util/files.h"
#include "util/handles.h"
#include "util/paths.h"
#include "util/text.h"

using testing_support::dirExists;
using testing_support::FileHolder;
using testing_support::fileExists;
using testing_support::readFileBytes;
using testing_support::TempDir;

namespace {

using Calls = std::vector<std::pair<uint64_t, uint64_t>>;

void makeFile(const std::wstring& path, const std::string& content) {
  const size_t cut = path.find_last_of(L'\\');
  ASSERT_TRUE(util::createDirectories(path.substr(0, cut)));
  ASSERT_TRUE(util::writeFile(path, content.data(), content.size())) << GetLastError();
}

struct Copy {
  bool ok = false;
  std::wstring failure;
  util::FailureKind kind = util::FailureKind::kNone;
  Calls progress;
};

Copy copyTree(const std::wstring& src, const std::wstring& dest, size_t stopAfter = SIZE_MAX) {
  Copy result;
  util::Failure failure;
  result.ok = util::copyDirContents(
      src, dest,
      [&result, stopAfter](uint64_t done, uint64_t total) {
        result.progress.emplace_back(done, total);
        return result.progress.size() < stopAfter;
      },
      &failure);
  result.failure = failure.text;
  result.kind = failure.kind;
  return result;
}

// Every file below the folder, as relative paths.
std::set<std::wstring> filesBelow(const std::wstring& folder, const std::wstring& prefix = L"") {
  std::set<std::wstring> files;
  util::forEachEntry(folder, [&](const std::wstring& path, const WIN32_FIND_DATAW& data) {
    const std::wstring rel = prefix + data.cFileName;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      const std::set<std::wstring> inner = filesBelow(path, rel + L"\\");
      files.insert(inner.begin(), inner.end());
    } else {
      files.insert(rel);
    }
    return true;
  });
  return files;
}

}  // namespace

TEST(CopyDirContents, CopiesTheTreeCountingFilesInWalkOrder) {
  TempDir tmp;
  makeFile(tmp / L"src\\a.txt", "a");
  makeFile(tmp / L"src\\sub\\b.txt", "b");
  makeFile(tmp / L"src\\sub\\c.txt", "c");
  ASSERT_TRUE(util::createDirectories(tmp / L"src\\empty"));
  const Copy r = copyTree(tmp / L"src", tmp / L"dest\\new");
  ASSERT_TRUE(r.ok) << util::toUtf8(r.failure);
  EXPECT_EQ(r.progress, (Calls{{1, 3}, {2, 3}, {3, 3}}));
  EXPECT_EQ(filesBelow(tmp / L"dest\\new"),
            (std::set<std::wstring>{L"a.txt", L"sub\\b.txt", L"sub\\c.txt"}));
  EXPECT_EQ(readFileBytes(tmp / L"dest\\new\\sub\\c.txt"), "c");
  EXPECT_TRUE(dirExists(tmp / L"dest\\new\\empty"));
}

TEST(CopyDirContents, ReplacesExistingFilesAndLeavesOthersAlone) {
  TempDir tmp;
  makeFile(tmp / L"src\\程序.exe", "new program");
  makeFile(tmp / L"dest\\程序.exe", "old program");
  makeFile(tmp / L"dest\\settings.ini", "mine");
  const Copy r = copyTree(tmp / L"src", tmp / L"dest");
  ASSERT_TRUE(r.ok) << util::toUtf8(r.failure);
  EXPECT_EQ(readFileBytes(tmp / L"dest\\程序.exe"), "new program");
  EXPECT_EQ(readFileBytes(tmp / L"dest\\settings.ini"), "mine");
}

TEST(CopyDirContents, DatabaseFilesAreNeverWrittenButCounted) {
  TempDir tmp;
  makeFile(tmp / L"src\\data\\user.db", "package's empty database");
  makeFile(tmp / L"src\\data\\new.DB-wal", "journal");
  makeFile(tmp / L"src\\data\\schema.txt", "schema");
  makeFile(tmp / L"dest\\data\\user.db", "the user's trades");
  const Copy r = copyTree(tmp / L"src", tmp / L"dest");
  ASSERT_TRUE(r.ok) << util::toUtf8(r.failure);
  EXPECT_EQ(readFileBytes(tmp / L"dest\\data\\user.db"), "the user's trades");
  EXPECT_FALSE(fileExists(tmp / L"dest\\data\\new.DB-wal"));
  EXPECT_EQ(readFileBytes(tmp / L"dest\\data\\schema.txt"), "schema");
  ASSERT_EQ(r.progress.size(), 3u);
  EXPECT_EQ(r.progress.back(), std::make_pair(uint64_t{3}, uint64_t{3}));
}

TEST(CopyDirContents, ALeftoverTemporaryFileIsReplaced) {
  TempDir tmp;
  makeFile(tmp / L"src\\app.dll", "fresh");
  makeFile(tmp / L"dest\\app.dll.upg_tmp", "half written by an interrupted run");
  SetFileAttributesW((tmp / L"dest\\app.dll.upg_tmp").c_str(), FILE_ATTRIBUTE_READONLY);
  const Copy r = copyTree(tmp / L"src", tmp / L"dest");
  ASSERT_TRUE(r.ok) << util::toUtf8(r.failure);
  EXPECT_EQ(readFileBytes(tmp / L"dest\\app.dll"), "fresh");
  EXPECT_EQ(filesBelow(tmp / L"dest"), std::set<std::wstring>{L"app.dll"});
}

TEST(CopyDirContents, ATargetHeldByAnotherProcessFailsAndLeavesNoTemporaryFile) {
  TempDir tmp;
  makeFile(tmp / L"src\\bin\\held.exe", "new");
  makeFile(tmp / L"dest\\bin\\held.exe", "running");
  Copy r;
  {
    FileHolder holder(tmp / L"dest\\bin\\held.exe");
    ASSERT_TRUE(holder.holding());
    r = copyTree(tmp / L"src", tmp / L"dest");
  }
  EXPECT_FALSE(r.ok);
  // The relative path is taken against the folder being walked, so only the name shows.
  const std::wstring prefix = std::wstring(util::kReplaceFailed) + L"held.exe" + util::kReasonOpen;
  EXPECT_EQ(r.failure.substr(0, prefix.size()), prefix) << util::toUtf8(r.failure);
  EXPECT_GT(r.failure.size(), prefix.size() + 1) << "a description of the sharing violation";
  EXPECT_EQ(r.failure.back(), L'）');
  EXPECT_EQ(readFileBytes(tmp / L"dest\\bin\\held.exe"), "running");
  EXPECT_EQ(filesBelow(tmp / L"dest"), std::set<std::wstring>{L"bin\\held.exe"});
  EXPECT_TRUE(r.progress.empty());
}

TEST(CopyDirContents, AnUnreadableSourceFileFailsWithTheCopyText) {
  TempDir tmp;
  makeFile(tmp / L"src\\locked.bin", "x");
  util::FileHandle lock(CreateFileW((tmp / L"src\\locked.bin").c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(lock.valid());
  const Copy r = copyTree(tmp / L"src", tmp / L"dest");
  EXPECT_FALSE(r.ok);
  const std::wstring prefix = std::wstring(util::kCopyFailed) + L"locked.bin" + util::kReasonOpen;
  EXPECT_EQ(r.failure.substr(0, prefix.size()), prefix) << util::toUtf8(r.failure);
  EXPECT_EQ(r.failure.back(), L'）');
  EXPECT_TRUE(filesBelow(tmp / L"dest").empty());
}

TEST(CopyDirContents, TrailingSeparatorsOnTheSourceGiveTheSameTargets) {
  for (const wchar_t* trailing : {L"\\", L"/"}) {
    TempDir tmp;
    makeFile(tmp / L"src\\a.txt", "a");
    makeFile(tmp / L"src\\sub\\b.txt", "b");
    const Copy r = copyTree(tmp.path() + L"\\src" + trailing, tmp / L"dest");
    ASSERT_TRUE(r.ok) << util::toUtf8(r.failure);
    EXPECT_EQ(filesBelow(tmp / L"dest"), (std::set<std::wstring>{L"a.txt", L"sub\\b.txt"}));
    EXPECT_EQ(r.progress.back(), std::make_pair(uint64_t{2}, uint64_t{2}));
  }
}

TEST(CopyDirContents, AnEmptySourceCreatesTheDestinationWithoutProgress) {
  TempDir tmp;
  ASSERT_TRUE(util::createDirectories(tmp / L"src"));
  const Copy r = copyTree(tmp / L"src", tmp / L"a\\b\\dest");
  EXPECT_TRUE(r.ok);
  EXPECT_TRUE(dirExists(tmp / L"a\\b\\dest"));
  EXPECT_TRUE(r.progress.empty());
}

TEST(CopyDirContents, TheCallbackStopsTheCopyWithoutAFailureText) {
  TempDir tmp;
  makeFile(tmp / L"src\\a.txt", "a");
  makeFile(tmp / L"src\\b.txt", "b");
  makeFile(tmp / L"src\\c.txt", "c");
  const Copy r = copyTree(tmp / L"src", tmp / L"dest", 1);
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(r.failure.empty());
  EXPECT_EQ(r.kind, util::FailureKind::kNone);
  EXPECT_EQ(r.progress.size(), 1u);
  EXPECT_EQ(filesBelow(tmp / L"dest").size(), 1u);
}

TEST(CopyDirContents, AMissingSourceOrAnUncreatableDestinationIsReported) {
  TempDir tmp;
  makeFile(tmp / L"file.txt", "x");
  Copy r = copyTree(tmp / L"missing", tmp / L"dest");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failure, util::kSourceMissing + (tmp / L"missing"));
  EXPECT_EQ(r.kind, util::FailureKind::kDisk);
  EXPECT_FALSE(dirExists(tmp / L"dest"));
  r = copyTree(tmp / L"file.txt", tmp / L"dest");
  EXPECT_EQ(r.failure, util::kSourceMissing + (tmp / L"file.txt"));

  makeFile(tmp / L"src\\a.txt", "a");
  r = copyTree(tmp / L"src", tmp / L"file.txt\\dest");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failure, util::kCannotCreateFolder + (tmp / L"file.txt\\dest"));

  // A file standing where a sub-folder of the package must go.
  makeFile(tmp / L"src2\\sub\\b.txt", "b");
  makeFile(tmp / L"dest2\\sub", "not a folder");
  r = copyTree(tmp / L"src2", tmp / L"dest2");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failure, util::kCannotCreateFolder + (tmp / L"dest2\\sub"));
}
