// Orvalo.exe, the demo stand-in for the trading client: one window that shows what the installer
// left for the client in its folder, the installed version (update\_update.done) and the channel
// (channel.ini). It is what the demo server's main package installs and what the tests start.
#include <windows.h>

#include <string>

namespace {

constexpr wchar_t kClassName[] = L"OrvaloDemoClientWnd";
constexpr wchar_t kTitle[] = L"Orvalo量化";

std::wstring g_info;

std::wstring folderOfThisProgram() {
  wchar_t path[MAX_PATH * 4] = {};
  const DWORD len = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
  std::wstring p(path, len);
  const size_t cut = p.find_last_of(L"\\/");
  return cut == std::wstring::npos ? L"." : p.substr(0, cut);
}

// The marker is ANSI text without a line end.
std::wstring readInstalledVersion(const std::wstring& dir) {
  HANDLE file = CreateFileW((dir + L"\\update\\_update.done").c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return L"（未知）";
  char buffer[256] = {};
  DWORD got = 0;
  ReadFile(file, buffer, sizeof buffer - 1, &got, nullptr);
  CloseHandle(file);
  wchar_t wide[256] = {};
  MultiByteToWideChar(CP_ACP, 0, buffer, static_cast<int>(got), wide, 255);
  return wide[0] ? wide : L"（未知）";
}

std::wstring readChannel(const std::wstring& dir) {
  const std::wstring ini = dir + L"\\channel.ini";
  wchar_t id[256] = {};
  wchar_t ref[256] = {};
  GetPrivateProfileStringW(L"Channel", L"id", L"", id, 256, ini.c_str());
  GetPrivateProfileStringW(L"Channel", L"ref", L"", ref, 256, ini.c_str());
  if (GetFileAttributesW(ini.c_str()) == INVALID_FILE_ATTRIBUTES) return L"（无 channel.ini）";
  std::wstring text = id[0] ? id : L"（默认）";
  if (ref[0]) text += std::wstring(L"，来源 ") + ref;
  return text;
}

// A real client keeps its trading records in a database beside it, created on first start and
// never shipped in a package; upgrades must leave it alone.
void ensureDatabase(const std::wstring& dir) {
  const std::wstring data = dir + L"\\data";
  CreateDirectoryW(data.c_str(), nullptr);
  HANDLE file = CreateFileW((data + L"\\orvalo.db").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;  // already there
  static const char kHeader[] = "SQLite format 3";  // with its NUL: the file format's magic
  DWORD written = 0;
  WriteFile(file, kHeader, sizeof kHeader, &written, nullptr);
  static const char kRecord[] = "trade,1,600519,1700.00\n";
  WriteFile(file, kRecord, sizeof kRecord - 1, &written, nullptr);
  CloseHandle(file);
}

LRESULT CALLBACK clientProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      RECT r;
      GetClientRect(window, &r);
      InflateRect(&r, -16, -16);
      SetBkMode(dc, TRANSPARENT);
      HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
      DrawTextW(dc, g_info.c_str(), -1, &r, DT_LEFT | DT_TOP | DT_WORDBREAK);
      SelectObject(dc, old);
      EndPaint(window, &ps);
      return 0;
    }
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  const std::wstring dir = folderOfThisProgram();
  ensureDatabase(dir);
  g_info = std::wstring(L"Orvalo量化 演示客户端\n\n版本：") + readInstalledVersion(dir) +
           L"\n渠道：" + readChannel(dir) + L"\n安装目录：" + dir;

  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = clientProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = kClassName;
  RegisterClassExW(&wc);
  HWND window = CreateWindowExW(0, kClassName, kTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 480, 240, nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  ShowWindow(window, show);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
