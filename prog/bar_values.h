// Progress bars take 32-bit positions; byte counts of 2 GiB and more are scaled down, both values
// alike, so the bar still shows the right fraction.
#pragma once

#include <cstdint>

namespace prog {

struct BarValues {
  int32_t position = 0;  // never above range
  int32_t range = 0;
};

BarValues barValues(uint64_t done, uint64_t total);

}  // namespace prog
