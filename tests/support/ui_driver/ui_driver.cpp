// ui_driver.exe: works the real program's windows from outside, as a user would, for the end-to-end
// tests and the demo. One command per run; output is UTF-8 on standard output; exit code 0 when
// the command succeeded (or its condition was met in time), 1 otherwise.
//
//   wait CLASS MS                  a visible top-level window of that class appears
//   gone CLASS MS                  no window of that class is left
//   click CLASS ID                 BM_CLICK on the control (posted: a modal box may follow)
//   settext CLASS ID TEXT          WM_SETTEXT on the control
//   text CLASS ID                  prints the control's text
//   waittext CLASS ID PART MS      the control's text contains PART
//   state CLASS ID                 prints "visible enabled checked" as 0/1 triples
//   answer CAPTION BUTTON MS       a message box with that caption: prints its text, then presses
//                                  ok, yes, no or cancel
//   waitbox CAPTION MS             a message box with that caption: prints its text, presses nothing
//   pid CLASS                      prints the process id owning the window
//   close CLASS                    posts WM_CLOSE to the window
//   linktarget LNK                 prints the target of a shell link, read through IShellLinkW
//   run COMMANDLINE                starts the command line as Windows starts a registered
//                                  command (no application name), waits for it to end, prints
//                                  its exit code and ends with it
#include "support/wait_until.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <string>
#include <vector>

using testing_support::waitUntil;

namespace {

void print(const std::wstring& text) {
  const std::wstring line = text + L"\n";
  const int len = WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()),
                                      nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(len), '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), bytes.data(), len,
                      nullptr, nullptr);
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
            &written, nullptr);
}

// GetWindowTextW does not ask a window of another process: it returns the caption stored at
// creation, never what an edit control holds now. WM_GETTEXT asks the control itself.
std::wstring textOf(HWND w) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(w, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) return {};
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(w, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                           SMTO_ABORTIFHUNG, 5000, &copied)) {
    return {};
  }
  text.resize(static_cast<size_t>(copied));
  return text;
}

HWND findTop(const std::wstring& cls) { return FindWindowW(cls.c_str(), nullptr); }

HWND control(const std::wstring& cls, int id) {
  HWND top = findTop(cls);
  return top ? GetDlgItem(top, id) : nullptr;
}

struct BoxSearch {
  std::wstring caption;
  HWND found = nullptr;
};

HWND findBox(const std::wstring& caption) {
  BoxSearch search{caption};
  EnumWindows(
      [](HWND w, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<BoxSearch*>(param);
        wchar_t cls[32] = {};
        GetClassNameW(w, cls, 32);
        if (std::wstring(cls) == L"#32770" && IsWindowVisible(w) && textOf(w) == s->caption) {
          s->found = w;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

int buttonId(const std::wstring& name) {
  if (name == L"ok") return IDOK;
  if (name == L"yes") return IDYES;
  if (name == L"no") return IDNO;
  if (name == L"cancel") return IDCANCEL;
  return 0;
}

int run(const std::vector<std::wstring>& a) {
  const size_t n = a.size();
  const std::wstring& cmd = n > 0 ? a[0] : std::wstring();
  if (cmd == L"wait" && n == 3) {
    return waitUntil([&] {
             HWND w = findTop(a[1]);
             return w && IsWindowVisible(w);
           }, std::stoi(a[2]))
               ? 0
               : 1;
  }
  if (cmd == L"gone" && n == 3) return waitUntil([&] { return !findTop(a[1]); }, std::stoi(a[2])) ? 0 : 1;
  if (cmd == L"click" && n == 3) {
    HWND c = control(a[1], std::stoi(a[2]));
    return c && PostMessageW(c, BM_CLICK, 0, 0) ? 0 : 1;
  }
  if (cmd == L"settext" && n == 4) {
    HWND c = control(a[1], std::stoi(a[2]));
    return c && SendMessageW(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(a[3].c_str())) ? 0 : 1;
  }
  if (cmd == L"text" && n == 3) {
    HWND c = control(a[1], std::stoi(a[2]));
    if (!c) return 1;
    print(textOf(c));
    return 0;
  }
  if (cmd == L"waittext" && n == 5) {
    std::wstring last;
    const bool met = waitUntil([&] {
      HWND c = control(a[1], std::stoi(a[2]));
      last = c ? textOf(c) : std::wstring();
      return last.find(a[3]) != std::wstring::npos;
    }, std::stoi(a[4]));
    print(last);
    return met ? 0 : 1;
  }
  if (cmd == L"state" && n == 3) {
    HWND c = control(a[1], std::stoi(a[2]));
    if (!c) return 1;
    const bool checked = SendMessageW(c, BM_GETCHECK, 0, 0) == BST_CHECKED;
    print(std::to_wstring(IsWindowVisible(c) ? 1 : 0) + L" " + std::to_wstring(IsWindowEnabled(c) ? 1 : 0) +
          L" " + std::to_wstring(checked ? 1 : 0));
    return 0;
  }
  if (cmd == L"answer" && n == 4) {
    HWND box = nullptr;
    if (!waitUntil([&] { return (box = findBox(a[1])) != nullptr; }, std::stoi(a[3]))) return 1;
    print(textOf(GetDlgItem(box, 0xFFFF)));
    const int id = buttonId(a[2]);
    return id && PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0) ? 0 : 1;
  }
  if (cmd == L"waitbox" && n == 3) {
    HWND box = nullptr;
    if (!waitUntil([&] { return (box = findBox(a[1])) != nullptr; }, std::stoi(a[2]))) return 1;
    print(textOf(GetDlgItem(box, 0xFFFF)));
    return 0;
  }
  if (cmd == L"run" && n == 2) {
    std::wstring line = a[1];
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
      print(L"cannot start: error " + std::to_wstring(GetLastError()));
      return 1;
    }
    CloseHandle(pi.hThread);
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    print(std::to_wstring(code));
    return static_cast<int>(code);
  }
  if (cmd == L"pid" && n == 2) {
    HWND w = findTop(a[1]);
    DWORD pid = 0;
    if (!w || !GetWindowThreadProcessId(w, &pid)) return 1;
    print(std::to_wstring(pid));
    return 0;
  }
  if (cmd == L"close" && n == 2) {
    HWND w = findTop(a[1]);
    return w && PostMessageW(w, WM_CLOSE, 0, 0) ? 0 : 1;
  }
  if (cmd == L"linktarget" && n == 2) {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    std::wstring target;
    {
      Microsoft::WRL::ComPtr<IShellLinkW> link;
      Microsoft::WRL::ComPtr<IPersistFile> file;
      wchar_t path[MAX_PATH] = {};
      if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link))) &&
          SUCCEEDED(link.As(&file)) && SUCCEEDED(file->Load(a[1].c_str(), STGM_READ)) &&
          SUCCEEDED(link->GetPath(path, MAX_PATH, nullptr, SLGP_RAWPATH))) {
        target = path;
      }
    }
    CoUninitialize();
    if (target.empty()) return 1;
    print(target);
    return 0;
  }
  print(L"usage: ui_driver wait|gone|click|settext|text|waittext|state|answer|waitbox|pid|run|close|linktarget ...");
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  try {
    return run(std::vector<std::wstring>(argv + 1, argv + argc));
  } catch (const std::exception&) {  // a number that does not parse
    print(L"bad argument");
    return 2;
  }
}
