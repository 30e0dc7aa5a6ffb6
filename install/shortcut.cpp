#include "install/shortcut.h"

#include "install/texts.h"
#include "util/handles.h"
#include "util/paths.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <memory>

using Microsoft::WRL::ComPtr;

namespace {

constexpr int kDefaultCellWidth = 80;
constexpr int kDefaultCellHeight = 76;
constexpr int kWorkAreaMargin = 8;
constexpr int kSearchPasses = 10;
constexpr DWORD kSearchPauseMs = 30;
constexpr UINT kMoveTimeoutMs = 1500;
constexpr int kItemTextChars = 520;

// A single-threaded apartment for this thread, or the one it already has.
class ComApartment {
 public:
  ComApartment() {
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ok_ = SUCCEEDED(hr) || hr == RPC_E_CHANGED_MODE;
    owned_ = SUCCEEDED(hr);
  }
  ~ComApartment() {
    if (owned_) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
  bool owned_ = false;
};

std::wstring knownDesktopFolder() {
  wchar_t* raw = nullptr;
  const HRESULT hr = SHGetKnownFolderPath(FOLDERID_Desktop, 0, nullptr, &raw);
  const std::wstring path = SUCCEEDED(hr) && raw ? raw : L"";
  CoTaskMemFree(raw);
  return path;
}

std::wstring desktopFolderWithFallback() {
  std::wstring desktop = knownDesktopFolder();
  if (!desktop.empty()) return desktop;
  wchar_t profile[MAX_PATH] = {};
  const DWORD len = GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH);
  if (len == 0 || len >= MAX_PATH) return {};
  return std::wstring(profile, len) + L"\\Desktop";
}

HWND findDesktopListView() {
  if (HWND progman = FindWindowW(L"Progman", nullptr)) {
    if (HWND view = FindWindowExW(progman, nullptr, L"SHELLDLL_DefView", nullptr)) {
      if (HWND list = FindWindowExW(view, nullptr, L"SysListView32", nullptr)) return list;
    }
  }
  HWND found = nullptr;
  EnumWindows(
      [](HWND top, LPARAM param) -> BOOL {
        HWND view = FindWindowExW(top, nullptr, L"SHELLDLL_DefView", nullptr);
        HWND list = view ? FindWindowExW(view, nullptr, L"SysListView32", nullptr) : nullptr;
        if (!list) return TRUE;
        *reinterpret_cast<HWND*>(param) = list;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

// The enumeration stops at the primary monitor, and a stopped enumeration may report failure:
// whether the primary monitor was seen decides, not the enumeration's result.
bool primaryWorkArea(IconRect& area) {
  struct Search {
    bool found = false;
    RECT work{};
  } search;
  EnumDisplayMonitors(
      nullptr, nullptr,
      [](HMONITOR monitor, HDC, LPRECT, LPARAM param) -> BOOL {
        MONITORINFO info{};
        info.cbSize = sizeof info;
        if (!GetMonitorInfoW(monitor, &info) || !(info.dwFlags & MONITORINFOF_PRIMARY)) return TRUE;
        auto* s = reinterpret_cast<Search*>(param);
        s->found = true;
        s->work = info.rcWork;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  if (!search.found) return false;
  area = {search.work.left, search.work.top, search.work.right, search.work.bottom};
  return true;
}

// Memory in the shell's process, where the list view writes what it is asked for.
class RemoteBuffer {
 public:
  RemoteBuffer(HWND owner, size_t size) : size_(size) {
    DWORD pid = 0;
    GetWindowThreadProcessId(owner, &pid);
    process_.reset(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid));
    if (process_) address_ = VirtualAllocEx(process_.get(), nullptr, size, MEM_COMMIT, PAGE_READWRITE);
  }
  ~RemoteBuffer() {
    if (address_) VirtualFreeEx(process_.get(), address_, 0, MEM_RELEASE);
  }
  RemoteBuffer(const RemoteBuffer&) = delete;
  RemoteBuffer& operator=(const RemoteBuffer&) = delete;

  bool valid() const { return address_ != nullptr; }
  void* address() const { return address_; }
  bool write(const void* data, size_t size, size_t offset = 0) const {
    return size + offset <= size_ &&
           WriteProcessMemory(process_.get(), static_cast<char*>(address_) + offset, data, size, nullptr);
  }
  bool read(void* data, size_t size, size_t offset = 0) const {
    return size + offset <= size_ &&
           ReadProcessMemory(process_.get(), static_cast<char*>(address_) + offset, data, size, nullptr);
  }

 private:
  util::Handle process_;
  void* address_ = nullptr;
  size_t size_;
};

bool itemPosition(HWND list, const RemoteBuffer& buffer, int index, POINT& pt) {
  if (!SendMessageW(list, LVM_GETITEMPOSITION, static_cast<WPARAM>(index),
                    reinterpret_cast<LPARAM>(buffer.address()))) {
    return false;
  }
  return buffer.read(&pt, sizeof pt);
}

bool itemBounds(HWND list, const RemoteBuffer& buffer, int index, RECT& rect) {
  RECT request{};
  request.left = LVIR_BOUNDS;
  if (!buffer.write(&request, sizeof request)) return false;
  if (!SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(index),
                    reinterpret_cast<LPARAM>(buffer.address()))) {
    return false;
  }
  return buffer.read(&rect, sizeof rect);
}

// The item's text; the item record and the text buffer share one remote block.
std::wstring itemText(HWND list, const RemoteBuffer& buffer, int index) {
  const size_t textOffset = sizeof(LVITEMW);
  LVITEMW item{};
  item.mask = LVIF_TEXT;
  item.iItem = index;
  item.pszText = reinterpret_cast<wchar_t*>(static_cast<char*>(buffer.address()) + textOffset);
  item.cchTextMax = kItemTextChars;
  if (!buffer.write(&item, sizeof item)) return {};
  SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(buffer.address()));
  wchar_t text[kItemTextChars] = {};
  if (!buffer.read(text, sizeof text, textOffset)) return {};
  text[kItemTextChars - 1] = L'\0';
  return text;
}

std::wstring withoutLnk(std::wstring name) {
  if (name.size() >= 4 && name.compare(name.size() - 4, 4, L".lnk") == 0) name.resize(name.size() - 4);
  return name;
}

}  // namespace

IconTarget iconTarget(const IconRect& w, const std::vector<DesktopIcon>& icons) {
  int bestX = w.left - kWorkAreaMargin;
  int bestY = w.top - kWorkAreaMargin;
  int cellW = kDefaultCellWidth;
  int cellH = kDefaultCellHeight;
  bool cellMeasured = false;
  for (const DesktopIcon& icon : icons) {
    if (icon.x < w.left - kWorkAreaMargin || icon.x > w.right + kWorkAreaMargin ||
        icon.y < w.top - kWorkAreaMargin || icon.y > w.bottom + kWorkAreaMargin) {
      continue;
    }
    if (icon.y > bestY || (icon.y == bestY && icon.x > bestX)) {
      bestX = icon.x;
      bestY = icon.y;
    }
    if (!cellMeasured && icon.hasBounds) {
      cellW = icon.bounds.right - icon.bounds.left;
      cellH = icon.bounds.bottom - icon.bounds.top;
      cellMeasured = true;
    }
  }
  IconTarget t{bestX + cellW, bestY, cellW, cellH};
  if (bestX + 2 * cellW > w.right + kWorkAreaMargin) {
    t.x = w.left;
    t.y = bestY + cellH;
  }
  if (t.y + cellH > w.bottom + kWorkAreaMargin) {
    t.x = w.right - cellW;
    t.y = w.top;
  }
  return t;
}

void placeDesktopIcon(const std::wstring& fileName) {
  HWND list = findDesktopListView();
  if (!list) return;
  IconRect work;
  if (!primaryWorkArea(work)) return;
  const RemoteBuffer buffer(list, sizeof(LVITEMW) + kItemTextChars * sizeof(wchar_t));
  if (!buffer.valid()) return;

  const int initialCount = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  std::vector<DesktopIcon> icons;
  for (int i = 0; i < initialCount; ++i) {
    POINT p{};
    if (!itemPosition(list, buffer, i, p)) continue;
    DesktopIcon icon{p.x, p.y};
    RECT r{};
    if (itemBounds(list, buffer, i, r)) {
      icon.hasBounds = true;
      icon.bounds = {r.left, r.top, r.right, r.bottom};
    }
    icons.push_back(icon);
  }
  const IconTarget t = iconTarget(work, icons);

  const std::wstring wanted = withoutLnk(fileName);
  int match = -1;
  for (int pass = 0; pass < kSearchPasses && match < 0; ++pass) {
    Sleep(kSearchPauseMs);
    const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = initialCount; i < count; ++i) {
      const std::wstring text = itemText(list, buffer, i);
      if (!text.empty() && withoutLnk(text) == wanted) {
        match = i;
        break;
      }
    }
  }
  if (match < 0) return;

  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(list, LVM_SETITEMPOSITION, static_cast<WPARAM>(match),
                      MAKELPARAM(static_cast<WORD>(t.x), static_cast<WORD>(t.y)), SMTO_ABORTIFHUNG,
                      kMoveTimeoutMs, &ignored);
  RECT dirty{t.x, t.y, t.x + t.cellWidth, t.y + t.cellHeight};
  InvalidateRect(list, &dirty, FALSE);
}

bool createDesktopShortcut(const std::wstring& exe, const std::wstring& installDir) {
  const std::wstring desktop = desktopFolderWithFallback();
  if (desktop.empty()) return false;
  const ComApartment com;
  if (!com.ok()) return false;

  bool saved = false;
  {
    ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link))))
      return false;
    if (FAILED(link->SetPath(exe.c_str())) || FAILED(link->SetWorkingDirectory(installDir.c_str())) ||
        FAILED(link->SetDescription(install::kShortcutDescription)) ||
        FAILED(link->SetIconLocation(exe.c_str(), 0))) {
      return false;
    }
    ComPtr<IPersistFile> file;
    if (FAILED(link.As(&file))) return false;
    const std::wstring path = desktop + L"\\" + install::kShortcutFileName;
    saved = SUCCEEDED(file->Save(path.c_str(), TRUE));
  }
  if (saved) placeDesktopIcon(install::kShortcutFileName);
  return saved;
}

bool deleteDesktopShortcut(const std::wstring& installDir) {
  const std::wstring desktop = knownDesktopFolder();
  if (desktop.empty()) return false;
  const std::wstring path = desktop + L"\\" + install::kShortcutFileName;
  const DWORD attrs = GetFileAttributesW(path.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES || (attrs & FILE_ATTRIBUTE_DIRECTORY)) return false;
  const ComApartment com;
  if (!com.ok()) return false;

  bool deleted = false;
  {
    ComPtr<IShellLinkW> link;
    ComPtr<IPersistFile> file;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link))) ||
        FAILED(link.As(&file)) || FAILED(file->Load(path.c_str(), STGM_READ))) {
      return false;
    }
    wchar_t target[MAX_PATH] = {};
    if (FAILED(link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH))) return false;
    if (util::isPathInside(target, installDir)) deleted = DeleteFileW(path.c_str()) != FALSE;
  }
  if (deleted) SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_FLUSH, nullptr, nullptr);
  return deleted;
}
