#include "support/file_holder.h"

#include "util/paths.h"

#include <windows.h>

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
  // Ready once the file can no longer be opened by anyone else. A busy machine may take seconds
  // to start the program under Wine.
  for (int i = 0; i < 1000; ++i) {
    util::FileHandle probe(CreateFileW(path.c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, 0, nullptr));
    if (!probe && GetLastError() == ERROR_SHARING_VIOLATION) {
      holding_ = true;
      return;
    }
    if (WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0) return;  // it gave up
    Sleep(20);
  }
}

FileHolder::~FileHolder() {
  if (process_) {
    TerminateProcess(process_.get(), 0);
    WaitForSingleObject(process_.get(), 5000);
  }
}

}  // namespace testing_support
