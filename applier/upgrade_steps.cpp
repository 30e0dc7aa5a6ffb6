#include "applier/upgrade_steps.h"

#include "applier/texts.h"
#include "applier/upgrade_rules.h"
#include "util/error_text.h"
#include "util/files.h"
#include "util/handles.h"

namespace applier {
namespace {

// Long enough for any image path Windows gives, far beyond MAX_PATH.
constexpr DWORD kImagePathChars = 32768;

}  // namespace

bool waitForProcessExit(HANDLE process, DWORD exitWaitMs, DWORD killWaitMs,
                        const std::function<void()>& onForce) {
  if (WaitForSingleObject(process, exitWaitMs) == WAIT_OBJECT_0) return true;
  if (onForce) onForce();
  if (!TerminateProcess(process, 0)) return false;
  return WaitForSingleObject(process, killWaitMs) == WAIT_OBJECT_0;
}

util::Handle openClientProcess(const std::wstring& pidText, const std::wstring& exe) {
  const unsigned long pid = parseProcessId(pidText);
  if (pid == 0) return {};
  util::Handle process(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                   static_cast<DWORD>(pid)));
  // An ended process stays open while anyone holds it: it is gone all the same.
  if (!process || WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) return {};
  std::wstring image(kImagePathChars, L'\0');
  DWORD length = kImagePathChars;
  if (!QueryFullProcessImageNameW(process.get(), 0, image.data(), &length)) return {};
  image.resize(length);
  if (!isSameProgramPath(image, exe)) return {};
  return process;
}

bool replaceFile(const std::wstring& source, const std::wstring& target, std::wstring* errorText) {
  if (util::copyFileOver(source, target)) return true;
  if (errorText) *errorText = kOverwriteFailed + (kReasonOpen + lastErrorText()) + kReasonClose;
  return false;
}

}  // namespace applier
