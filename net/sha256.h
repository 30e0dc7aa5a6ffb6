// SHA-256 as 64 lower-case hex characters: piece by piece (a download hashes what it writes), of
// bytes in memory, or of a file on disk. With the processor's SHA extensions it computes the
// digest itself; without them it uses the platform's hashing (CNG).
#pragma once

#include "net/download.h"
#include "net/cng_handles.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern const wchar_t kHashSetUpFailedText[];  // "SHA256 初始化失败（CNG）"

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
// returning false there stops with the failure text "已取消". The digest is written only on
// success, the failure text (when failure is not null) only on failure.
[[nodiscard]] bool sha256File(const std::wstring& path, std::string& digest, std::wstring* failure,
                              const ByteProgress& progress);
