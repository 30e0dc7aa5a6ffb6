// Unpacks a zip package into a fresh folder, refusing every entry whose name could leave it,
// and finds the folder that holds the package's content.
#pragma once

#include <string>

#include "util/byte_progress.h"

// Empties and recreates targetDir, then extracts every entry in central-directory order,
// streaming from the archive file to each output file (memory use does not grow with the
// package). Archive and output files are opened through wide paths, and an entry name is
// decoded as UTF-8 when its UTF-8 flag is set, with the ANSI code page otherwise. progress
// receives (entries done, entry count); a false answer stops the extraction before the next
// entry, as a failure with the text "已取消". An entry is refused before it is written when its declared size exceeds the free
// space left on the volume, and stopped when it inflates to more than it declares. On success
// contentRoot is findContentRoot(targetDir); on failure it stays empty, failureText (when given)
// says why, and targetDir is removed with whatever was extracted into it.
[[nodiscard]] bool extractZip(const std::wstring& zipPath, const std::wstring& targetDir,
                              std::wstring& contentRoot, std::wstring* failureText,
                              const ByteProgress& progress);

// Reads the whole archive without writing anything: it must open, every entry name must be
// safe (isSafeEntryPath, decoded as extraction decodes it) and every entry must inflate to its
// declared size and CRC-32. False with the reason in failureText, worded as extraction words it.
[[nodiscard]] bool checkZip(const std::wstring& zipPath, std::wstring& failureText);

// True when every piece between '/' or '\' separators is a safe path component
// (util::isSafePathComponent); only a folder entry's single trailing separator is allowed. So a
// rooted name, a drive, "..", ".", doubled separators, "ab:c" and "NUL.txt" are all refused.
bool isSafeEntryPath(const std::wstring& name);

// folder + '\' + name when the folder holds exactly one entry and that entry is a folder (a
// package wrapped in one top-level folder); otherwise the folder itself.
std::wstring findContentRoot(const std::wstring& folder);
