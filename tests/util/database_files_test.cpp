#include "util/database_files.h"

#include <gtest/gtest.h>

TEST(IsDatabaseFile, KnowsTheSixSuffixesInAnyCase) {
  for (const wchar_t* path :
       {L"DATA.DB", L"x.Db-Wal", L".db", L"x.db-journal", L"x.DB-SHM", L"quotes.duckdb",
        L"quotes.DuckDB.WAL", L"C:\\app\\data\\user.db", L"data/user.db", L"a.db\\b/user.db-wal"}) {
    EXPECT_TRUE(isDatabaseFile(path)) << testing::PrintToString(path);
  }
}

TEST(IsDatabaseFile, LooksOnlyAtTheFileName) {
  for (const wchar_t* path :
       {L"x.db.bak", L"x.sqlite", L"x.dbx", L"db", L"", L"x.duckdb.wal2",
        L"C:\\store.db\\readme.txt", L"store.db/readme.txt", L"x.db\\", L"x.wal"}) {
    EXPECT_FALSE(isDatabaseFile(path)) << testing::PrintToString(path);
  }
}
