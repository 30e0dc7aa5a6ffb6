#include "packages/crc32.h"

#include <miniz.h>

#include <array>
#include <cstring>

namespace packages {
namespace {

using Tables = std::array<std::array<uint32_t, 256>, 8>;

// Table k advances a byte that is followed by k more: slicing by eight.
constexpr Tables makeTables() {
  Tables tables{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t crc = i;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    tables[0][i] = crc;
  }
  for (uint32_t i = 0; i < 256; ++i) {
    for (size_t k = 1; k < 8; ++k) tables[k][i] = (tables[k - 1][i] >> 8) ^ tables[0][tables[k - 1][i] & 0xFF];
  }
  return tables;
}

constexpr Tables kTables = makeTables();

}  // namespace

uint32_t crc32(uint32_t crc, const void* data, size_t size) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  crc = ~crc;
  for (; size >= 8; size -= 8, p += 8) {
    uint32_t low = 0;
    uint32_t high = 0;
    std::memcpy(&low, p, 4);  // little-endian, as every Windows machine is
    std::memcpy(&high, p + 4, 4);
    low ^= crc;
    crc = kTables[7][low & 0xFF] ^ kTables[6][(low >> 8) & 0xFF] ^ kTables[5][(low >> 16) & 0xFF] ^
          kTables[4][low >> 24] ^ kTables[3][high & 0xFF] ^ kTables[2][(high >> 8) & 0xFF] ^
          kTables[1][(high >> 16) & 0xFF] ^ kTables[0][high >> 24];
  }
  for (; size > 0; --size, ++p) crc = (crc >> 8) ^ kTables[0][(crc ^ *p) & 0xFF];
  return ~crc;
}

}  // namespace packages

// The zip library's own CRC-32 is this one (it is built to call an outside implementation).
mz_ulong mz_crc32(mz_ulong crc, const mz_uint8* ptr, size_t buf_len) {
  if (!ptr) return MZ_CRC32_INIT;
  return packages::crc32(static_cast<uint32_t>(crc), ptr, buf_len);
}
