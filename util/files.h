// Files and folders: enumeration, creation, writing and forced deletion. Failures are results
// (false), never exceptions or messages; callers word the message, with lastErrorText() taken
// right after the failing call.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace util {

// Receives the entry's full path and its find record; returns false to stop the walk.
using DirEntryVisitor = std::function<bool(const std::wstring& path, const WIN32_FIND_DATAW& data)>;

// Visits every entry of the folder except "." and ".." in the file system's order. A folder that
// cannot be listed is treated as empty. Returns the visitor's last answer (true if never called).
bool forEachEntry(const std::wstring& folder, const DirEntryVisitor& visit);

// Whether something exists at the path and is a folder / is not a folder.
bool isExistingFolder(const std::wstring& path);
bool isExistingFile(const std::wstring& path);

// Creates every missing level; true when the folder exists afterwards.
bool createDirectories(const std::wstring& path);

// Creates or truncates the file and writes all bytes at once.
bool writeFile(const std::wstring& path, const void* data, size_t count);

// Reads the whole file into bytes. False when it cannot be opened or read, or when it holds more
// than maxBytes (ERROR_FILE_TOO_LARGE then); bytes is empty after a failure.
bool readFile(const std::wstring& path, std::string& bytes, size_t maxBytes = SIZE_MAX);

// The size of an open file; 0 when it cannot be read.
uint64_t fileSize(HANDLE file);

// Deletes a file even when it is read-only. True when nothing is there; a folder is left alone.
bool deleteFileForce(const std::wstring& path);

// Renames an open file (opened with DELETE access) to target, over it when replace is set.
bool renameOpenFile(HANDLE file, const std::wstring& target, bool replace = true);

// Renames source (a file or a folder) to target through a handle of its own; an existing target
// is replaced only when replace is set. MoveFileExW also opens the target to see whether it
// exists, which on some systems costs as much as the rename.
bool renameFile(const std::wstring& source, const std::wstring& target, bool replace = false);

// The call of copyFileOver that failed.
enum class CopyOverStep { kNone, kCopy, kMove };

// Puts a copy of source in place of target: copied beside it as target + ".upg_tmp" (same
// volume), then moved over it in one step, so that target is always either the old or the
// complete new file. On failure the temporary file is gone, the thread's last error is that of
// the failed call and failedStep (when given) names it.
[[nodiscard]] bool copyFileOver(const std::wstring& source, const std::wstring& target,
                                CopyOverStep* failedStep = nullptr);

// Removes a folder and everything below it; stops at the first failure and returns false,
// keeping whatever was not removed yet. A missing folder (or a file at the path) gives true.
bool deleteDirRecursive(const std::wstring& folder);

// Number of files below the folder, all levels deep; 0 for a missing folder.
uint64_t countFiles(const std::wstring& folder);

// True when the entry is a folder that has to be walked (".", ".." are never passed here).
// Links to folders (junctions, symbolic links) are not walked: removing or counting through
// them would reach whatever they point to, possibly far outside the tree.
bool isWalkableFolder(const WIN32_FIND_DATAW& data);

}  // namespace util
