#include "prog/bar_control.h"

#include "prog/bar_values.h"

#include <commctrl.h>

namespace prog {

namespace {
constexpr UINT kMarqueeStepMs = 50;
}

void showBarCounts(HWND bar, uint64_t done, uint64_t total) {
  const LONG_PTR style = GetWindowLongPtrW(bar, GWL_STYLE);
  const bool marquee = (style & PBS_MARQUEE) != 0;
  if (total == 0) {
    if (!marquee) {
      SetWindowLongPtrW(bar, GWL_STYLE, style | PBS_MARQUEE);
      SendMessageW(bar, PBM_SETMARQUEE, TRUE, kMarqueeStepMs);
    }
    return;
  }
  if (marquee) {
    SetWindowLongPtrW(bar, GWL_STYLE, style & ~static_cast<LONG_PTR>(PBS_MARQUEE));
    SendMessageW(bar, PBM_SETMARQUEE, FALSE, 0);
  }
  // Byte totals of 2 GiB and more do not fit the bar's 32-bit range: both values are scaled.
  const BarValues values = barValues(done, total);
  SendMessageW(bar, PBM_SETRANGE32, 0, values.range);
  SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(values.position), 0);
}

}  // namespace prog
