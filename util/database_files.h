// Recognises the user's database files (SQLite and DuckDB with their journals), which packages
// must never overwrite.
#pragma once

#include <string>

// True when the file name (after the last '\' or '/') ends in .db, .db-journal, .db-wal,
// .db-shm, .duckdb or .duckdb.wal, in any letter case. Looks at the name only.
bool isDatabaseFile(const std::wstring& path);
