#include "process_watch.h"

#include "support/wait_until.h"
#include "util/paths.h"

#include <tlhelp32.h>
#include <winternl.h>

#include <functional>
#include <vector>

namespace testing_support {
namespace {

std::wstring textOf(HWND w) {
  wchar_t buffer[2048] = {};
  GetWindowTextW(w, buffer, 2048);
  return buffer;
}

struct WindowSearch {
  DWORD pid;
  std::wstring className;
  std::wstring caption;  // empty: any
  HWND found = nullptr;
};

HWND findWindowOf(DWORD pid, const std::wstring& className, const std::wstring& caption) {
  WindowSearch search{pid, className, caption};
  EnumWindows(
      [](HWND w, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<WindowSearch*>(param);
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        wchar_t cls[64] = {};
        GetClassNameW(w, cls, 64);
        if (owner != s->pid || s->className != cls || !IsWindowVisible(w)) return TRUE;
        if (!s->caption.empty() && textOf(w) != s->caption) return TRUE;
        s->found = w;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::wstring environmentWithTemp(const std::wstring& tempDir) {
  std::wstring block;
  wchar_t* env = GetEnvironmentStringsW();
  for (const wchar_t* p = env; *p; p += wcslen(p) + 1) {
    if (_wcsnicmp(p, L"TEMP=", 5) == 0 || _wcsnicmp(p, L"TMP=", 4) == 0) continue;
    block += std::wstring(p) + L'\0';
  }
  FreeEnvironmentStringsW(env);
  block += L"TEMP=" + tempDir + L'\0';
  block += L"TMP=" + tempDir + L'\0';
  return block + L'\0';
}

}  // namespace

bool Child::running() const { return process && WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT; }

long Child::exitCodeWithin(DWORD ms) const {
  if (!process || WaitForSingleObject(process.get(), ms) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  return static_cast<long>(code);
}

Child startWithTemp(const std::wstring& commandLine, const std::wstring& tempDir) {
  Child child;
  std::wstring line = commandLine;
  std::wstring env = environmentWithTemp(tempDir);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                      env.data(), nullptr, &si, &pi)) {
    return child;
  }
  child.process.reset(pi.hProcess);
  util::Handle thread(pi.hThread);
  child.pid = pi.dwProcessId;
  return child;
}

DWORD waitForProcessImage(const std::wstring& imagePath, DWORD ms) {
  const std::wstring wanted = util::normalizePathKey(imagePath);
  DWORD found = 0;
  waitUntil([&] {
    util::FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more && snapshot;
         more = Process32NextW(snapshot.get(), &entry)) {
      util::Handle p(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
      wchar_t image[520] = {};
      DWORD length = 520;
      if (p && QueryFullProcessImageNameW(p.get(), 0, image, &length) &&
          util::normalizePathKey(std::wstring(image, length)) == wanted) {
        found = entry.th32ProcessID;
        return true;
      }
    }
    return false;
  }, ms);
  return found;
}

std::wstring commandLineOf(DWORD pid) {
  util::Handle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
  if (!process) return {};
  PROCESS_BASIC_INFORMATION basic{};
  if (NtQueryInformationProcess(process.get(), ProcessBasicInformation, &basic, sizeof basic,
                                nullptr) != 0) {
    return {};
  }
  PEB peb{};
  RTL_USER_PROCESS_PARAMETERS parameters{};
  if (!ReadProcessMemory(process.get(), basic.PebBaseAddress, &peb, sizeof peb, nullptr) ||
      !ReadProcessMemory(process.get(), peb.ProcessParameters, &parameters, sizeof parameters,
                         nullptr)) {
    return {};
  }
  std::wstring line(parameters.CommandLine.Length / sizeof(wchar_t), L'\0');
  if (!ReadProcessMemory(process.get(), parameters.CommandLine.Buffer, line.data(),
                         parameters.CommandLine.Length, nullptr)) {
    return {};
  }
  return line;
}

HWND findMessageBox(DWORD pid, const std::wstring& caption) {
  return findWindowOf(pid, L"#32770", caption);
}

std::wstring answerMessageBox(DWORD pid, const std::wstring& caption, int button, DWORD ms) {
  HWND box = nullptr;
  if (!waitUntil([&] { return (box = findMessageBox(pid, caption)) != nullptr; }, ms)) {
    return L"<no message box>";
  }
  const std::wstring text = textOf(GetDlgItem(box, 0xFFFF));
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
  waitUntil([&] { return !IsWindow(box); }, 5000);
  return text;
}

HWND waitForWindow(DWORD pid, const std::wstring& className, DWORD ms) {
  HWND window = nullptr;
  waitUntil([&] { return (window = findWindowOf(pid, className, L"")) != nullptr; }, ms);
  return window;
}

}  // namespace testing_support
