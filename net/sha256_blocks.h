// SHA-256 block compression with the processor's SHA extensions, where it has them. CNG on
// Windows uses them too; Wine's does not, and hashing every package at the speed of the disk
// matters for an install.
#pragma once

#include <cstddef>
#include <cstdint>

namespace net {

// True when the processor has the SHA extensions and SSE4.1 (CPUID leaf 7 EBX bit 29, leaf 1
// ECX bit 19).
bool hasShaExtensions();

// The initial state of SHA-256 (FIPS 180-4), a to h.
extern const uint32_t kSha256Initial[8];

// Compresses blocks 64-byte blocks of data into state (a to h). Only when hasShaExtensions().
void sha256Blocks(uint32_t state[8], const unsigned char* data, size_t blocks);

}  // namespace net
