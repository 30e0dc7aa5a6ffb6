// Byte counts as the short size texts of the status line ("512 KB", "1.5 MB", "2.0 GB").
#pragma once

#include <cstdint>
#include <string>

// Below 1 MiB whole KiB (rounded down, so 1023 bytes read "0 KB"); then MiB with one decimal
// up to 1000 MiB; from there GiB with one decimal. Switching at 1000 MiB keeps the text short:
// "1.0 GB" instead of "1023.9 MB".
std::wstring formatSize(uint64_t bytes);
