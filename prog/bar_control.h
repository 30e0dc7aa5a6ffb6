// Shows a job's counters on a progress bar control, the same way in every window of the product.
#pragma once

#include <windows.h>

#include <cstdint>

namespace prog {

// total 0 (no measure): the bar runs its marquee. Otherwise the marquee stops and the bar shows
// done of total, scaled when the total does not fit its 32-bit range.
void showBarCounts(HWND bar, uint64_t done, uint64_t total);

}  // namespace prog
