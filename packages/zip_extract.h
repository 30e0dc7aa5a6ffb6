// Unpacks a zip package into a fresh folder, refusing every entry whose name could leave it,
// and finds the folder that holds the package's content.
#pragma once

#include <string>

#include "util/byte_progress.h"

// Empties and recreates targetDir, then extracts every entry in central-directory order,
// streaming from the archive file to each output file (memory use does not grow with the
// package). Archive and output files are opened through wide paths, and an entry name is
// decoded as UTF-8 when its UTF-8 flag is set, with the ANSI code page otherwise. progress
// receives (entries done, entry count); its answer is ignored, an extraction is not cancelled
// half-way. On success contentRoot is findContentRoot(targetDir); on failure it stays empty,
// failureText (when given) says why, and whatever was extracted stays on disk.
[[nodiscard]] bool extractZip(const std::wstring& zipPath, const std::wstring& targetDir,
                              std::wstring& contentRoot, std::wstring* failureText,
                              const ByteProgress& progress);

// False for a name that is empty, rooted ("/x", "\x"), starts with a drive ("C:x") or has a
// piece that is exactly ".." between '/' or '\' separators.
bool isSafeEntryPath(const std::wstring& name);

// folder + '\' + name when the folder holds exactly one entry and that entry is a folder (a
// package wrapped in one top-level folder); otherwise the folder itself.
std::wstring findContentRoot(const std::wstring& folder);
