#include "applier/upgrade_layout.h"

#include <windows.h>

namespace applier {
namespace {

constexpr int kClientWidth = 500;
constexpr int kClientHeight = 170;
constexpr int kMarginX = 28;
constexpr int kTop = 44;

int scale(int value, int dpi) { return MulDiv(value, dpi, 96); }

}  // namespace

UpgradeRect upgradeControlRect(int id, int dpi, size_t itemCount) {
  const int x = scale(kMarginX, dpi);
  const int y = scale(kTop, dpi);
  const int w = scale(kClientWidth, dpi) - 2 * x;
  // From two items on, the package row sits between the status line and the main bar, which
  // moves down together with the notice.
  const bool packageRow = itemCount >= 2;
  switch (id) {
    case kIdStatus: return {x, y, w, scale(22, dpi)};
    case kIdPackageLabel: return {x, y + scale(26, dpi), scale(110, dpi), scale(16, dpi)};
    case kIdPackageBar:
      return {x + scale(118, dpi), y + scale(27, dpi), w - scale(118, dpi), scale(14, dpi)};
    case kIdMainBar: return {x, y + scale(packageRow ? 46 : 26, dpi), w, scale(18, dpi)};
    case kIdNotice: return {x, y + scale(packageRow ? 68 : 48, dpi), w, scale(40, dpi)};
    default: return {};
  }
}

UpgradeRect upgradeClientRect(int dpi) { return {0, 0, scale(kClientWidth, dpi), scale(kClientHeight, dpi)}; }

}  // namespace applier
