// Watching and working other processes from a test: starting them with a temporary folder of the
// test's own, finding them by image path, reading their command lines, and answering their
// message boxes by owner process and caption.
#pragma once

#include "util/handles.h"

#include <windows.h>

#include <string>

namespace testing_support {

struct Child {
  util::Handle process;
  DWORD pid = 0;
  bool running() const;
  // The exit code once it has ended within ms; -1 when it is still running.
  long exitCodeWithin(DWORD ms) const;
};

// Starts the command line as Windows starts a registered uninstaller (CreateProcessW, no
// application name) with TEMP and TMP pointing to tempDir, so that helper files stay apart from
// other tests.
Child startWithTemp(const std::wstring& commandLine, const std::wstring& tempDir);

// The id of a process running the executable at imagePath (case ignored), or 0 after ms.
DWORD waitForProcessImage(const std::wstring& imagePath, DWORD ms);

// The process's command line, read from its process parameters; empty when it cannot be read.
std::wstring commandLineOf(DWORD pid);

// A visible message box of the process with that caption, or null.
HWND findMessageBox(DWORD pid, const std::wstring& caption);

// Waits up to ms for such a box, presses the button (IDYES, IDNO, IDOK), returns the box's text;
// "<no message box>" when none came.
std::wstring answerMessageBox(DWORD pid, const std::wstring& caption, int button, DWORD ms = 20000);

// A visible top-level window of the class owned by the process, waiting up to ms.
HWND waitForWindow(DWORD pid, const std::wstring& className, DWORD ms);

}  // namespace testing_support
