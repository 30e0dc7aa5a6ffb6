// The progress callback shared by downloads, hashing, extraction and copying.
#pragma once

#include <cstdint>
#include <functional>

// Receives (done, total); total is 0 when unknown. Returns true to go on, false to stop.
// Downloads and hashing count bytes; extraction counts entries and copying counts files.
using ByteProgress = std::function<bool(uint64_t done, uint64_t total)>;
