#include "util/fixed_window.h"

namespace util {

SIZE fixedWindowSize(int clientWidth, int clientHeight, int dpi) {
  RECT r{0, 0, clientWidth, clientHeight};
  AdjustWindowRectExForDpi(&r, kFixedWindowStyle, FALSE, kFixedWindowExStyle, static_cast<UINT>(dpi));
  return {r.right - r.left, r.bottom - r.top};
}

bool registerFixedWindowClass(const wchar_t* className, WNDPROC procedure, HICON icon) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  if (GetClassInfoExW(instance, className, &wc)) return true;
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = procedure;
  wc.hInstance = instance;
  wc.hIcon = icon;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = className;
  return RegisterClassExW(&wc) != 0;
}

void fitClientArea(HWND window, int clientWidth, int clientHeight) {
  const SIZE size = fixedWindowSize(clientWidth, clientHeight, static_cast<int>(GetDpiForWindow(window)));
  SetWindowPos(window, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
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
    // The dialog manager gives the windows' controls the keyboard of a dialog box: Tab, Enter,
    // Esc and Space. It translates and dispatches whatever it takes itself.
    const HWND top = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (top && IsDialogMessageW(top, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

}  // namespace util
