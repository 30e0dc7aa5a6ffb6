// The CRC-32 of zip entries (the reflected polynomial 0xEDB88320), eight bytes per step. Every
// byte unpacked passes through it, so the byte-at-a-time table the zip library carries would
// cost more than writing the files.
#pragma once

#include <cstddef>
#include <cstdint>

namespace packages {

// The CRC-32 of data[0, size) continued from `crc` (0 to start), as zip and zlib define it.
uint32_t crc32(uint32_t crc, const void* data, size_t size);

}  // namespace packages
