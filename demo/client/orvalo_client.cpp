// Orvalo.exe, the demo stand-in for the trading client: one window that shows what the installer
// left for the client in its folder, the installed version (update\_update.done) and the channel
// (channel.ini). It is what the demo server's main package installs and what the tests start.
// Its button "检查更新" (or the switch --check-update) upgrades it as a real client would.
#include "update_check.h"

#include "texts.h"

#include <windows.h>

#include <string>

namespace {

constexpr wchar_t kClassName[] = L"OrvaloDemoClientWnd";
constexpr int kIdCheckUpdate = 1001;
constexpr wchar_t kCheckUpdateSwitch[] = L"--check-update";

std::wstring g_info;
std::wstring g_dir;
std::wstring g_exe;
std::wstring g_installedVersion;

std::wstring pathOfThisProgram() {
  wchar_t path[MAX_PATH * 4] = {};
  const DWORD len = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
  return std::wstring(path, len);
}

std::wstring folderOf(const std::wstring& path) {
  const size_t cut = path.find_last_of(L"\\/");
  return cut == std::wstring::npos ? L"." : path.substr(0, cut);
}

// The marker is ANSI text without a line end.
std::wstring readInstalledVersion(const std::wstring& dir) {
  HANDLE file = CreateFileW((dir + L"\\update\\_update.done").c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return demo::kUnknown;
  char buffer[256] = {};
  DWORD got = 0;
  ReadFile(file, buffer, sizeof buffer - 1, &got, nullptr);
  CloseHandle(file);
  wchar_t wide[256] = {};
  MultiByteToWideChar(CP_ACP, 0, buffer, static_cast<int>(got), wide, 255);
  return wide[0] ? wide : demo::kUnknown;
}

std::wstring readChannel(const std::wstring& dir) {
  const std::wstring ini = dir + L"\\channel.ini";
  wchar_t id[256] = {};
  wchar_t ref[256] = {};
  GetPrivateProfileStringW(L"Channel", L"id", L"", id, 256, ini.c_str());
  GetPrivateProfileStringW(L"Channel", L"ref", L"", ref, 256, ini.c_str());
  if (GetFileAttributesW(ini.c_str()) == INVALID_FILE_ATTRIBUTES) return demo::kNoChannelFile;
  std::wstring text = id[0] ? id : demo::kDefaultChannel;
  if (ref[0]) text += std::wstring(demo::kChannelSource) + ref;
  return text;
}

void createDatabaseOnce(const std::wstring& path, const char* record) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;  // already there
  static const char kHeader[] = "SQLite format 3";  // with its NUL: the file format's magic
  DWORD written = 0;
  WriteFile(file, kHeader, sizeof kHeader, &written, nullptr);
  WriteFile(file, record, static_cast<DWORD>(strlen(record)), &written, nullptr);
  CloseHandle(file);
}

// A real client keeps its trading records in databases beside it, created on first start and
// never shipped in a package; upgrades must leave them alone (and snapshot the ones in the
// install folder itself).
void ensureDatabase(const std::wstring& dir) {
  const std::wstring data = dir + L"\\data";
  CreateDirectoryW(data.c_str(), nullptr);
  createDatabaseOnce(data + L"\\orvalo.db", "trade,1,600519,1700.00\n");
  createDatabaseOnce(dir + L"\\trades.db", "order,1,600519,buy,100\n");
}

void showInfo(HWND window) {
  g_info = std::wstring(demo::kInfoHeading) + g_installedVersion + demo::kInfoChannel +
           readChannel(g_dir) + demo::kInfoFolder + g_dir;
  InvalidateRect(window, nullptr, TRUE);
}

void onCheckUpdate(HWND window) {
  const demo::UpdateCheck check = demo::checkForUpdate(g_dir, g_exe, g_installedVersion);
  if (check.upgradeStarted) {
    // The applier waits for this process to end before it replaces the client's files.
    DestroyWindow(window);
    return;
  }
  showInfo(window);
  g_info += L"\n\n" + check.message;
}

LRESULT CALLBACK clientProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      RECT r;
      GetClientRect(window, &r);
      InflateRect(&r, -16, -16);
      r.bottom -= 44;  // the button row
      SetBkMode(dc, TRANSPARENT);
      HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
      DrawTextW(dc, g_info.c_str(), -1, &r, DT_LEFT | DT_TOP | DT_WORDBREAK);
      SelectObject(dc, old);
      EndPaint(window, &ps);
      return 0;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == kIdCheckUpdate) onCheckUpdate(window);
      return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int show) {
  g_exe = pathOfThisProgram();
  g_dir = folderOf(g_exe);
  ensureDatabase(g_dir);
  g_installedVersion = readInstalledVersion(g_dir);

  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = clientProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = kClassName;
  RegisterClassExW(&wc);
  HWND window = CreateWindowExW(0, kClassName, demo::kTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 520, 280, nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  RECT client;
  GetClientRect(window, &client);
  HWND button = CreateWindowExW(0, L"BUTTON", demo::kCheckButton, WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 16,
                                client.bottom - 44, 110, 28, window,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIdCheckUpdate)), instance, nullptr);
  SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
  showInfo(window);
  ShowWindow(window, show);
  // The same check as the button, for a client started to look for updates at once.
  if (wcsstr(commandLine, kCheckUpdateSwitch)) PostMessageW(window, WM_COMMAND, kIdCheckUpdate, 0);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
