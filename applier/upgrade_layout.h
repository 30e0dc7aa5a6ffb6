// Where the upgrade window's controls sit: written for 96 DPI and scaled by the window's DPI at
// creation. Plain arithmetic, so that it can be checked without a window.
#pragma once

#include <cstddef>

namespace applier {

constexpr int kIdStatus = 3001;
constexpr int kIdMainBar = 3002;
constexpr int kIdNotice = 3003;
constexpr int kIdPackageLabel = 3004;
constexpr int kIdPackageBar = 3005;

struct UpgradeRect {
  int x = 0;
  int y = 0;
  int w = 0;
  int h = 0;
  bool operator==(const UpgradeRect& o) const { return x == o.x && y == o.y && w == o.w && h == o.h; }
};

// Rectangle of a control in client coordinates for a run of itemCount items (the package label
// and bar take a row of their own from two items on); all zero for an unknown id.
UpgradeRect upgradeControlRect(int id, int dpi, size_t itemCount);

// Client area of the window at that DPI.
UpgradeRect upgradeClientRect(int dpi);

}  // namespace applier
