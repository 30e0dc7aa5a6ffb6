// SHA-256 as 64 lower-case hex characters: piece by piece (a download hashes what it writes), of
// bytes in memory, or of a file on disk. With the processor's SHA extensions it computes the
// digest itself; without them it uses the platform's hashing (CNG).
#pragma once

#include "net/cng_handles.h"
#include "net/download.h"
#include "net/texts.h"
#include "util/failure.h"

#include <cstddef>
#include <cstdint>
#include <string>

using net::kHashSetUpFailedText;

// A digest computed piece by piece.
class Sha256 {
 public:
  enum class Engine { kFastest, kPlatform };

  // False when the platform's hashing cannot be set up; nothing else may be called then.
  [[nodiscard]] bool begin(Engine engine = Engine::kFastest);
  void add(const void* data, size_t count);
  // Reads count bytes from the file's current position and adds them; false when the file ends
  // or a read fails first.
  [[nodiscard]] bool addFile(HANDLE file, uint64_t count);
  // The digest of everything added since begin(); empty when it cannot be finished.
  std::string finish();

 private:
  void addBlocks(const unsigned char* bytes, size_t count);

  // The processor's path: the state, a block not yet full and the length so far.
  bool own_ = false;
  uint32_t state_[8] = {};
  unsigned char pending_[64] = {};
  size_t pendingBytes_ = 0;
  uint64_t length_ = 0;
  // The platform's path. Declared in this order so that the hash object goes before its provider.
  net::CngAlgorithm algorithm_;
  net::CngHash hash_;
};

// The digest of bytes in memory; empty when the platform's hashing fails.
std::string sha256Hex(const std::string& bytes);

// Reads the file in 1 MiB blocks, calling progress with (bytes hashed, file size) after each;
// returning false there stops as a cancel. A file that cannot be read is a disk failure, hashing
// that cannot start an internal one. The digest is written only on success, the failure (when
// failure is not null) only on failure.
[[nodiscard]] bool sha256File(const std::wstring& path, std::string& digest, util::Failure* failure,
                              const ByteProgress& progress);
