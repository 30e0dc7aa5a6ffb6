#include "support/run_process.h"

#include "util/handles.h"
#include "util/paths.h"

#include <windows.h>


namespace testing_support {

ProcessResult runProcess(const std::wstring& commandLine) {
  ProcessResult result;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  util::Handle readEnd, writeEnd;
  if (!CreatePipe(readEnd.put(), writeEnd.put(), &inherit, 0)) return result;
  SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
  util::FileHandle nul(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                                   nullptr));

  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = nul.get();
  si.hStdOutput = writeEnd.get();
  si.hStdError = nul.get();
  PROCESS_INFORMATION pi{};
  std::wstring mutableLine = commandLine;
  if (!CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                      nullptr, nullptr, &si, &pi)) {
    return result;
  }
  util::Handle process(pi.hProcess), thread(pi.hThread);
  writeEnd.reset();  // the pipe ends when the child's copy closes

  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(readEnd.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
    result.output.append(buffer, got);
  }
  WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  result.exitCode = static_cast<int>(code);
  return result;
}

std::wstring binPath(const std::wstring& fileName) {
  return util::moduleDirectory() + L"\\" + fileName;
}

std::wstring quoteArg(const std::wstring& arg) {
  // Test arguments hold no quotes; backslashes before the closing quote are doubled as the
  // command-line splitter expects.
  std::wstring quoted = L"\"" + arg;
  size_t trailing = 0;
  while (trailing < arg.size() && arg[arg.size() - 1 - trailing] == L'\\') ++trailing;
  quoted.append(trailing, L'\\');
  return quoted + L"\"";
}

}  // namespace testing_support
