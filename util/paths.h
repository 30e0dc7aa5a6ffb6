// Path building and comparison, and the folders the system asks Windows for.
// Both '\' and '/' separate path pieces on input; paths the system builds use '\'.
#pragma once

#include <string>

namespace util {

// base + '\' + name; a name that starts with a separator is appended as it is, an empty base
// gives the name. A trailing separator on the base is kept (callers pass trimmed bases).
std::wstring joinPath(const std::wstring& base, const std::wstring& name);

// The last piece of path: what follows its last '\' or '/', or the whole path without one.
std::wstring fileNameOf(const std::wstring& path);

// Drops trailing separators while the path is longer than 3 characters ("C:\" stays).
void trimTrailingSeparators(std::wstring& path);

// Lower-cased (towlower), trimmed copy, for comparing paths.
std::wstring normalizePathKey(const std::wstring& path);

// True when folder is a proper ancestor of path; a folder is not inside itself.
bool isPathInside(const std::wstring& path, const std::wstring& folder);

// The absolute form of path as Windows resolves it (GetFullPathNameW): "." and ".." pieces
// resolved, '/' turned into '\', a relative path taken against the current folder. Empty on
// failure.
std::wstring fullPath(const std::wstring& path);

// Full path of the running executable; empty on failure.
std::wstring modulePath();
// modulePath() up to its last separator, or "." when it has none.
std::wstring moduleDirectory();
// The user's temporary folder without a trailing separator; empty on failure.
std::wstring tempDirectory();
// The user's local application-data folder; empty on failure.
std::wstring localAppDataDirectory();
// The system folder (System32) without a trailing separator; empty on failure. Programs of the
// system are started by their path in it, never by a bare name that the search path resolves.
std::wstring systemDirectory();

}  // namespace util
