// The product's top-level windows (the wizard and the upgrade window): fixed size, with a
// caption, the window menu and a minimise box, no maximise box and no sizing border, shown on
// the taskbar; and the message loop of the thread that owns them.
#pragma once

#include <windows.h>

namespace util {

constexpr DWORD kFixedWindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kFixedWindowExStyle = WS_EX_APPWINDOW;

// Registers the class once per process: the procedure, the icon (may be null), the arrow cursor
// and the dialog background. True when the class exists afterwards.
bool registerFixedWindowClass(const wchar_t* className, WNDPROC procedure, HICON icon);

// The state record a window carries in GWLP_USERDATA: taken from the creation parameter at
// WM_NCCREATE, so that every later message finds it; null for the messages before.
template <typename T>
T* windowState(HWND window, UINT message, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  return reinterpret_cast<T*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

// Forgets the state record (at WM_NCDESTROY): no message after it reaches the record.
inline void dropWindowState(HWND window) { SetWindowLongPtrW(window, GWLP_USERDATA, 0); }

// Gives the window the outer size whose client area is width x height at the window's own DPI,
// keeping its position.
void fitClientArea(HWND window, int clientWidth, int clientHeight);

// Outer size of such a window whose client area is width x height at that DPI.
SIZE fixedWindowSize(int clientWidth, int clientHeight, int dpi);

// Creates and shows a window of the registered class with the outer size (the window corrects
// it for its own DPI at WM_CREATE); param reaches WM_CREATE. Null on failure.
HWND createFixedWindow(const wchar_t* className, const wchar_t* title, SIZE outerSize, void* param);

// GetMessageW loop of the calling thread until WM_QUIT. Every message goes through
// IsDialogMessageW for its top-level window, so that the keys move between and press controls as
// in a dialog box; a window that uses Enter or Esc answers DM_GETDEFID and IDOK / IDCANCEL.
void runMessageLoop();

}  // namespace util
