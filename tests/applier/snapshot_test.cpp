// The database snapshot before an upgrade: which files go in, the companions, sub-folders,
// retention of the two newest, and a database that cannot be read.
#include "applier/db_snapshot.h"
#include "support/temp_dir.h"
#include "util/files.h"
#include "util/handles.h"

#include <gtest/gtest.h>

#include <windows.h>

using namespace testing_support;

namespace {

void put(const std::wstring& path, const std::string& bytes) {
  const size_t cut = path.find_last_of(L'\\');
  ASSERT_TRUE(util::createDirectories(path.substr(0, cut)));
  ASSERT_TRUE(util::writeFile(path, bytes.data(), bytes.size()));
}

std::vector<std::wstring> entriesOf(const std::wstring& folder) {
  std::vector<std::wstring> names;
  util::forEachEntry(folder, [&](const std::wstring& path, const WIN32_FIND_DATAW&) {
    names.push_back(path.substr(folder.size() + 1));
    return true;
  });
  std::sort(names.begin(), names.end());
  return names;
}

std::wstring nameOf(const std::wstring& path) { return path.substr(path.find_last_of(L'\\') + 1); }

TEST(DbSnapshot, CopiesTheDatabasesWithTheirCompanions) {
  TempDir install;
  put(install / L"data.db", "main database");
  put(install / L"data.db-wal", "wal");
  put(install / L"data.db-journal", "journal");
  put(install / L"行情.db", "quotes");
  put(install / L"readme.txt", "not a database");
  put(install / L"trades.duckdb", "duck");
  put(install / L"sub\\deep.db", "in a sub-folder");

  const std::wstring snapshot = createDbSnapshot(install.path() + L"\\");
  ASSERT_FALSE(snapshot.empty());
  EXPECT_EQ(snapshot.substr(0, (install / L"backup\\upgrade_").size()), install / L"backup\\upgrade_");
  EXPECT_EQ(nameOf(snapshot).size(), std::wstring(L"upgrade_20250131_174502").size());
  EXPECT_EQ(entriesOf(snapshot),
            (std::vector<std::wstring>{L"data.db", L"data.db-journal", L"data.db-wal", L"行情.db"}));
  EXPECT_EQ(readFileBytes(snapshot + L"\\data.db"), "main database");
  EXPECT_EQ(readFileBytes(snapshot + L"\\data.db-wal"), "wal");
  // The originals stay where they are.
  EXPECT_EQ(readFileBytes(install / L"data.db"), "main database");
}

TEST(DbSnapshot, NothingToSnapshotCreatesNothing) {
  TempDir install;
  put(install / L"trades.duckdb", "duck");
  put(install / L"sub\\deep.db", "in a sub-folder");
  EXPECT_EQ(createDbSnapshot(install.path()), L"");
  EXPECT_FALSE(dirExists(install / L"backup"));
  EXPECT_EQ(createDbSnapshot(install / L"missing"), L"");
  EXPECT_EQ(createDbSnapshot(L""), L"");
}

TEST(DbSnapshot, KeepsTheTwoNewestAndUpgradeKeep) {
  TempDir install;
  put(install / L"data.db", "db");
  for (const wchar_t* old : {L"upgrade_20200101_000000", L"upgrade_20210101_000000", L"upgrade_20220101_000000"}) {
    put(install / (std::wstring(L"backup\\") + old + L"\\data.db"), "old");
  }
  put(install / L"backup\\upgrade_note.txt", "a file, not a snapshot");
  const std::wstring snapshot = createDbSnapshot(install.path());
  ASSERT_FALSE(snapshot.empty());
  EXPECT_EQ(entriesOf(install / L"backup"),
            (std::vector<std::wstring>{L"upgrade_20220101_000000", nameOf(snapshot), L"upgrade_note.txt"}));

  // "upgrade_keep" sorts after every time stamp: it always stays, and one time stamp beside it.
  put(install / L"backup\\upgrade_keep\\data.db", "kept");
  const std::wstring second = createDbSnapshot(install.path());
  ASSERT_FALSE(second.empty());
  EXPECT_EQ(entriesOf(install / L"backup"),
            (std::vector<std::wstring>{nameOf(second), L"upgrade_keep", L"upgrade_note.txt"}));
}

TEST(DbSnapshot, PruningOrderIsPlainCodeUnitOrder) {
  EXPECT_EQ(snapshotsToPrune({L"b\\upgrade_1", L"b\\upgrade_2"}), std::vector<std::wstring>{});
  EXPECT_EQ(snapshotsToPrune({L"b\\upgrade_20250101_000000", L"b\\upgrade_keep", L"b\\upgrade_20260101_000000",
                              L"b\\upgrade_2026"}),
            (std::vector<std::wstring>{L"b\\upgrade_2026", L"b\\upgrade_20250101_000000"}));
  EXPECT_EQ(snapshotFolderName(2025, 1, 31, 17, 45, 2), L"upgrade_20250131_174502");
}

TEST(DbSnapshot, AnUnreadableDatabaseGivesNoSnapshotButKeepsEarlierCopies) {
  TempDir install;
  put(install / L"a.db", "first");
  put(install / L"b.db", "second");
  // Held open without sharing, as a client that is still writing it would.
  util::FileHandle held(CreateFileW((install / L"b.db").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);
  EXPECT_EQ(createDbSnapshot(install.path()), L"");
  const std::vector<std::wstring> snapshots = entriesOf(install / L"backup");
  ASSERT_EQ(snapshots.size(), 1u);
  // Enumeration order decides which copies were made first; whatever was copied stays.
  const std::vector<std::wstring> copied = entriesOf(install / (L"backup\\" + snapshots[0]));
  EXPECT_TRUE(copied.empty() || copied == std::vector<std::wstring>{L"a.db"});
}

}  // namespace
