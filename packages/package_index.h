// A package's index: for every file entry of a zip, what it holds (size, SHA-256, CRC-32) and
// where its compressed bytes lie, so that an upgrade or a repair can fetch only the entries that
// differ from what is installed, by range, from the same zip on the same file server. The vendor's
// tool writes it beside each zip; the installer trusts it only through its digest in the signed
// manifest or the plan.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// An index larger than this is refused while it streams and when it is read.
inline constexpr uint64_t kMaxPackageIndexBytes = 16ull << 20;

struct PackageIndexEntry {
  std::string path;              // the entry's name as stored, UTF-8, '/'-separated
  uint64_t size = 0;             // uncompressed
  std::string sha256;            // of the content, 64 lower-case hex characters
  uint32_t crc32 = 0;
  uint16_t method = 0;           // 0 stored, 8 deflated
  uint64_t headerOffset = 0;     // of the entry's local header in the zip
  uint64_t compressedSize = 0;
};

struct PackageIndex {
  std::vector<PackageIndexEntry> entries;  // file entries only, in the zip's order
};
