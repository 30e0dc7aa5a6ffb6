#include "util/fixed_window.h"

namespace util {

SIZE fixedWindowSize(int clientWidth, int clientHeight, int dpi) {
  RECT r{0, 0, clientWidth, clientHeight};
  AdjustWindowRectExForDpi(&r, kFixedWindowStyle, FALSE, kFixedWindowExStyle, static_cast<UINT>(dpi));
  return {r.right - r.left, r.bottom - r.top};
}

HWND createFixedWindow(const wchar_t* className, const wchar_t* title, SIZE outerSize, void* param) {
  HWND window = CreateWindowExW(kFixedWindowExStyle, className, title, kFixedWindowStyle, CW_USEDEFAULT,
                                CW_USEDEFAULT, outerSize.cx, outerSize.cy, nullptr, nullptr,
                                GetModuleHandleW(nullptr), param);
  if (!window) return nullptr;
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);
  return window;
}

void runMessageLoop() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

}  // namespace util
