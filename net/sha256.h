// SHA-256 of a file on disk with the platform's hashing (CNG), as 64 lower-case hex characters.
#pragma once

#include "net/download.h"

#include <string>

// Reads the file in 1 MiB blocks, calling progress with (bytes hashed, file size) after each;
// returning false there stops with the failure text "已取消". The digest is written only on
// success, the failure text (when failure is not null) only on failure.
[[nodiscard]] bool sha256File(const std::wstring& path, std::string& digest, std::wstring* failure,
                              const ByteProgress& progress);
