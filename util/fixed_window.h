// The product's top-level windows (the wizard and the upgrade window): fixed size, with a
// caption, the window menu and a minimise box, no maximise box and no sizing border, shown on
// the taskbar; and the plain message loop of the thread that owns them.
#pragma once

#include <windows.h>

namespace util {

constexpr DWORD kFixedWindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kFixedWindowExStyle = WS_EX_APPWINDOW;

// Outer size of such a window whose client area is width x height at that DPI.
SIZE fixedWindowSize(int clientWidth, int clientHeight, int dpi);

// Creates and shows a window of the registered class with the outer size (the window corrects
// it for its own DPI at WM_CREATE); param reaches WM_CREATE. Null on failure.
HWND createFixedWindow(const wchar_t* className, const wchar_t* title, SIZE outerSize, void* param);

// GetMessageW loop of the calling thread until WM_QUIT.
void runMessageLoop();

}  // namespace util
