#include "support/file_holder.h"

#include "util/paths.h"

#include <windows.h>

#include <string>

namespace testing_support {

FileHolder::FileHolder(const std::wstring& path) {
  std::wstring command = L"\"" + util::moduleDirectory() + L"\\hold_file.exe\" \"" + path + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &si, &pi)) {
    return;
  }
  process_.reset(pi.hProcess);
  util::Handle thread(pi.hThread);
  // The helper sets this event once it holds the file. Whichever side creates it first, both
  // get the same event. A busy machine may take many seconds to start a program under Wine.
  const std::wstring name = L"Local\\OrvaloHoldFile_" + std::to_wstring(pi.dwProcessId);
  util::Handle ready(CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
  if (!ready) return;
  HANDLE waits[2] = {ready.get(), process_.get()};
  holding_ = WaitForMultipleObjects(2, waits, FALSE, 90000) == WAIT_OBJECT_0;
}

FileHolder::~FileHolder() {
  if (process_) {
    TerminateProcess(process_.get(), 0);
    WaitForSingleObject(process_.get(), 5000);
  }
}

}  // namespace testing_support
