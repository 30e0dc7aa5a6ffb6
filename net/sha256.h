// SHA-256 of a file on disk with the platform's hashing (CNG), as 64 lower-case hex characters.
#pragma once

#include "net/download.h"
#include "net/cng_handles.h"

#include <cstddef>
#include <string>

// A digest computed piece by piece.
class Sha256 {
 public:
  // False when the platform's hashing cannot be set up; nothing else may be called then.
  [[nodiscard]] bool begin();
  void add(const void* data, size_t count);
  // The digest of everything added since begin(); empty when it cannot be finished.
  std::string finish();

 private:
  // Declared in this order so that the hash object goes before its provider.
  net::CngAlgorithm algorithm_;
  net::CngHash hash_;
};

// The digest of bytes in memory; empty when the platform's hashing fails.
std::string sha256Hex(const std::string& bytes);

// Reads the file in 1 MiB blocks, calling progress with (bytes hashed, file size) after each;
// returning false there stops with the failure text "已取消". The digest is written only on
// success, the failure text (when failure is not null) only on failure.
[[nodiscard]] bool sha256File(const std::wstring& path, std::string& digest, std::wstring* failure,
                              const ByteProgress& progress);
