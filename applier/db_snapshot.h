// The fallback copy of the client's SQLite databases that an upgrade takes right before it puts
// new files in place: backup\upgrade_<local time> in the install folder, two newest kept.
#pragma once

#include <string>
#include <vector>

// Copies every "*.db" file of the install folder itself (sub-folders are not looked at) with its
// "-wal", "-shm" and "-journal" companions into a new snapshot folder and prunes the older
// snapshots. Returns the snapshot folder, or empty when nothing was snapshotted (no folder, no
// database, or a database that could not be copied).
std::wstring createDbSnapshot(const std::wstring& installDir);

// "upgrade_" + yyyymmdd_hhmmss.
std::wstring snapshotFolderName(unsigned year, unsigned month, unsigned day, unsigned hour,
                                unsigned minute, unsigned second);

// The snapshot folders beyond the two greatest names (plain code-unit order), which pruning
// deletes.
std::vector<std::wstring> snapshotsToPrune(std::vector<std::wstring> folders);
