// Where every control of the wizard sits: formulas written for 96 DPI and scaled by the window's
// DPI at creation. Plain arithmetic, so it can be checked without a window.
#pragma once

namespace wizard {

struct ControlRect {
  int x = 0;
  int y = 0;
  int w = 0;
  int h = 0;
  bool operator==(const ControlRect& o) const {
    return x == o.x && y == o.y && w == o.w && h == o.h;
  }
};

// MulDiv(value, dpi, 96), rounded half away from zero as MulDiv does.
int scaleForDpi(int value, int dpi);

// Rectangle of a control in client coordinates; all zero for an unknown id.
ControlRect controlRect(int id, int dpi);

// Client area of the window at that DPI.
ControlRect clientRect(int dpi);

}  // namespace wizard
