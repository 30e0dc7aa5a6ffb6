// Runs a program of the build (or any command line) and collects its standard output, for tests
// that drive executables end to end.
#pragma once

#include <string>

namespace testing_support {

struct ProcessResult {
  int exitCode = -1;   // -1 when the process could not be started
  std::string output;  // everything written to standard output
};

// Starts the command line with no window and no standard input, waits for it to end.
ProcessResult runProcess(const std::wstring& commandLine);

// Full path of an executable in the test's own folder (the build's bin folder).
std::wstring binPath(const std::wstring& fileName);

// The argument quoted for a command line (paths with spaces, empty strings).
std::wstring quoteArg(const std::wstring& arg);

}  // namespace testing_support
