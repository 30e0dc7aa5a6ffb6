// For the window tests of real windows: the message of a move to a monitor of another DPI,
// whether a control shows its whole text with its own font (fonts and rectangles scale
// separately with the DPI, and rounding can cut a line or a last glyph), and a picture of the
// window for a person to look at.
#pragma once

#include "util/files.h"
#include "util/fixed_window.h"
#include "util/handles.h"
#include "util/text.h"

#include <windows.h>

#include <string>
#include <vector>

namespace testing_support {

struct MemoryDcTraits {
  using Type = HDC;
  static Type invalid() noexcept { return nullptr; }
  static void close(Type h) noexcept { DeleteDC(h); }
};
using MemoryDc = util::UniqueHandle<MemoryDcTraits>;

// GetDC's device context of a window, released with the window it came from.
class WindowDc {
 public:
  explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
  ~WindowDc() {
    if (dc_) ReleaseDC(window_, dc_);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  HDC get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

// What Windows sends a window that moves to a monitor of that DPI (the window must handle it on
// its own thread; this call waits), with the rectangle it suggests: the same place, the outer
// size for the client area the layout asks at that DPI.
inline void sendDpiChanged(HWND window, int dpi, int clientWidth, int clientHeight) {
  RECT now;
  GetWindowRect(window, &now);
  const SIZE outer = util::fixedWindowSize(clientWidth, clientHeight, dpi);
  RECT suggested{now.left, now.top, now.left + outer.cx, now.top + outer.cy};
  SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
}

// The height of the system's message font at that DPI, as a LOGFONT gives it.
inline LONG messageFontHeight(int dpi) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, static_cast<UINT>(dpi));
  return metrics.lfMessageFont.lfHeight;
}

// Empty when the text of the static, button or check box fits the control at that DPI;
// otherwise what is needed and what there is. Other controls (edits, bars) always fit.
inline std::wstring textDoesNotFit(HWND control, int dpi) {
  wchar_t cls[32] = {};
  GetClassNameW(control, cls, 32);
  const bool isStatic = _wcsicmp(cls, L"Static") == 0;
  const bool isButton = _wcsicmp(cls, L"Button") == 0;
  if (!isStatic && !isButton) return {};
  const int length = GetWindowTextLengthW(control);
  if (length == 0) return {};
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(control, text.data(), length + 1)));

  RECT client;
  GetClientRect(control, &client);
  const DWORD style = static_cast<DWORD>(GetWindowLongW(control, GWL_STYLE));
  const DWORD type = style & BS_TYPEMASK;
  const bool checkBox = isButton && (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX);
  // The room a button's frame or a check box's box takes from the text.
  const int reserved = !isButton ? 0
                       : checkBox ? GetSystemMetricsForDpi(SM_CXMENUCHECK, static_cast<UINT>(dpi)) +
                                        MulDiv(4, dpi, 96)
                                  : MulDiv(6, dpi, 96);
  const int room = client.right - reserved;

  const MemoryDc dc(CreateCompatibleDC(nullptr));
  SelectObject(dc.get(), reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
  RECT need{0, 0, room, 0};
  // Statics wrap their lines; buttons and check boxes here have one line.
  DrawTextW(dc.get(), text.c_str(), -1, &need,
            DT_CALCRECT | DT_NOPREFIX | (isStatic ? DT_WORDBREAK : DT_SINGLELINE));
  if (need.right <= room && need.bottom <= client.bottom) return {};
  return text + L": needs " + std::to_wstring(need.right) + L"x" + std::to_wstring(need.bottom) + L", has " +
         std::to_wstring(room) + L"x" + std::to_wstring(client.bottom);
}

// When ORVALO_SCREENSHOT_DIR names a folder: the window's client area as <name>.bmp there.
inline void saveScreenshot(HWND window, const std::string& name) {
  wchar_t dir[MAX_PATH] = {};
  const DWORD n = GetEnvironmentVariableW(L"ORVALO_SCREENSHOT_DIR", dir, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  // Every control painted anew. From another thread, Wine leaves the painting to the window's
  // thread instead of waiting for it: give that thread a moment.
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Sleep(500);
  RECT client;
  GetClientRect(window, &client);
  BITMAPINFOHEADER header{};
  header.biSize = sizeof header;
  header.biWidth = client.right;
  header.biHeight = client.bottom;
  header.biPlanes = 1;
  header.biBitCount = 24;  // no alpha byte that a viewer could take for transparency
  header.biCompression = BI_RGB;
  void* bits = nullptr;
  // From the screen: a window's own DC under Wine does not hold what its child controls drew.
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  const WindowDc screen(nullptr);
  const MemoryDc memory(CreateCompatibleDC(screen.get()));
  const util::GdiObject bitmap(
      CreateDIBSection(memory.get(), reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!memory || !bitmap || !bits) return;
  const HGDIOBJ old = SelectObject(memory.get(), bitmap.get());
  BitBlt(memory.get(), 0, 0, client.right, client.bottom, screen.get(), origin.x, origin.y, SRCCOPY);
  GdiFlush();
  const size_t stride = (static_cast<size_t>(client.right) * 3 + 3) & ~static_cast<size_t>(3);
  const size_t size = stride * static_cast<size_t>(client.bottom);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof header;
  file.bfSize = static_cast<DWORD>(file.bfOffBits + size);
  std::string bytes(reinterpret_cast<const char*>(&file), sizeof file);
  bytes.append(reinterpret_cast<const char*>(&header), sizeof header);
  bytes.append(static_cast<const char*>(bits), size);
  SelectObject(memory.get(), old);
  util::writeFile(std::wstring(dir) + L"\\" + util::toWide(util::kCodePageUtf8, name) + L".bmp", bytes.data(),
                  bytes.size());
}

}  // namespace testing_support
