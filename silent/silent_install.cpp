#include "silent/silent_install.h"

#include "documents/agreement.h"
#include "install/gpu.h"
#include "install/install_dir.h"
#include "install/install_job.h"
#include "install/install_lock.h"
#include "install/registration.h"
#include "prog/job.h"
#include "prog/run_log.h"
#include "silent/texts.h"
#include "util/handles.h"
#include "util/paths.h"

#include <windows.h>

#include <atomic>
#include <system_error>
#include <thread>

namespace {

constexpr wchar_t kWindowClass[] = L"OrvaloSetupSilentWnd";
// Refused before anything changed: as every failure's, the exit code comes from its kind.
constexpr int kExitUnchanged = prog::exitCodeFor(prog::FailureKind::kRefused);
// How long Windows is kept waiting at log-off while the cancelled job cleans up.
constexpr DWORD kEndSessionWaitMs = 10000;

// The hidden window's state: the job's cancel event and its end.
struct SilentWindowState {
  HANDLE cancel = nullptr;
  HANDLE done = nullptr;
};

// Read by the console's control handler, which Windows calls on a thread of its own.
std::atomic<HANDLE> g_consoleCancel{nullptr};

BOOL WINAPI onConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) return FALSE;
  if (HANDLE cancel = g_consoleCancel.load()) SetEvent(cancel);
  return TRUE;
}

LRESULT onEndSession(const SilentWindowState& state, WPARAM ending) {
  if (!ending) return 0;
  SetEvent(state.cancel);
  // The process ends as soon as this returns: give the job the time to remove its partial files.
  WaitForSingleObject(state.done, kEndSessionWaitMs);
  return 0;
}

// A top-level window, never shown: a message-only window would get neither the close request of
// a task manager nor the end of the session.
LRESULT CALLBACK silentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  const auto* state = reinterpret_cast<const SilentWindowState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_CLOSE:
      if (state) SetEvent(state->cancel);
      return 0;  // the window goes when the job has ended
    case WM_QUERYENDSESSION: return TRUE;
    case WM_ENDSESSION: return state ? onEndSession(*state, wParam) : 0;
    default: return DefWindowProcW(window, message, wParam, lParam);
  }
}

class HiddenWindow {
 public:
  explicit HiddenWindow(SilentWindowState* state) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = silentProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kWindowClass;
    RegisterClassExW(&wc);
    window_ = CreateWindowExW(0, kWindowClass, L"OrvaloSetup", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                              wc.hInstance, state);
  }
  ~HiddenWindow() {
    if (window_) DestroyWindow(window_);
  }
  HiddenWindow(const HiddenWindow&) = delete;
  HiddenWindow& operator=(const HiddenWindow&) = delete;

 private:
  HWND window_ = nullptr;
};

// Handles the hidden window's messages until the job has ended.
void waitPumping(HANDLE done) {
  for (;;) {
    const DWORD woke = MsgWaitForMultipleObjects(1, &done, FALSE, INFINITE, QS_ALLINPUT);
    if (woke != WAIT_OBJECT_0 + 1) return;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

// The folder as given, or where the wizard would propose to install: the installed folder when
// there is one.
std::wstring chosenFolder(const SilentInstallOptions& options) {
  if (!options.dir.empty()) return options.dir;
  const std::wstring registered = readInstallLocation();
  return registered.empty() ? install::defaultInstallDir(util::localAppDataDirectory()) : registered;
}

// The agreement the administrator accepted for the user: the server's, as the wizard would show
// it, else the one the setup carries.
documents::AgreementText acceptedAgreement(const SilentInstallOptions& options, HANDLE cancel, prog::RunLog& log) {
  ServerManifest manifest;
  documents::AgreementText agreement;
  if (documents::fetchServerAgreement(options.base, cancel, manifest, agreement)) {
    // As in the wizard: a server that names no version leaves the built-in one recorded.
    if (agreement.version.empty()) agreement.version = documents::kBuiltinAgreementVersion;
    log.line(silent::kServerAgreementAccepted + agreement.version);
    return agreement;
  }
  log.line(silent::kBuiltInAgreementAccepted);
  return documents::builtInAgreement();
}

// The CUDA component is asked for only on a machine the wizard would offer it to; whether the
// server has it, the job says.
bool machineQualifiesForCuda(prog::RunLog& log) {
  const install::GpuInfo gpu = install::detectGpu();
  if (gpu.gpuCapable) return true;
  log.line(silent::kCudaSkipped + (gpu.name.empty() ? std::wstring() : silent::kCudaSkippedAdapter + gpu.name));
  return false;
}

prog::JobResult runJob(const install::InstallRequest& request, HANDLE cancel, prog::RunLog& log) {
  util::Handle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!done) return prog::jobFailed(prog::FailureKind::kInternal, silent::kNoEvent);
  SilentWindowState state{cancel, done.get()};
  const HiddenWindow window(&state);

  prog::LogSink sink(log);
  prog::JobResult result;
  try {
    std::thread job([&] {
      result = install::runInstall(request, sink, cancel);
      SetEvent(done.get());
    });
    waitPumping(done.get());
    job.join();
  } catch (const std::system_error&) {
    return prog::jobFailed(prog::FailureKind::kInternal, silent::kNoThread);
  }
  sink.finish();
  return result;
}

}  // namespace

int runSilentInstall(const SilentInstallOptions& options) {
  prog::RunLog log(options.logPath.empty() ? prog::defaultRunLogPath() : options.logPath,
                   prog::RunLog::Mode::kOverwrite);
  log.line(silent::kStarted);
  // A log asked for and not writable would leave the administrator without the reason of any
  // later failure: nothing is done (the console, if any, still says why).
  if (!options.logPath.empty() && !log.hasFile()) {
    log.line(silent::kLogNotWritable + options.logPath + silent::kNothingChanged);
    return kExitUnchanged;
  }
  if (!options.acceptAgreement) {
    log.line(silent::kAgreementNotAccepted);
    return kExitUnchanged;
  }
  const install::InstallDirCheck check = install::validateInstallDir(chosenFolder(options), false);
  if (!check.ok) {
    log.line(silent::kFolderRefused + check.message + silent::kNothingChanged);
    return kExitUnchanged;
  }
  // Held until the job has ended: an upgrade of that folder waiting for its client, or its
  // uninstaller, owns what is there, and the job's first step would undo the upgrade's files.
  const util::Handle folderLock = install::acquireFolderLock(check.dir);
  if (!folderLock) {
    log.line(silent::kFolderInUse + check.dir + silent::kNothingChanged);
    return kExitUnchanged;
  }
  const util::Handle lock = install::acquireInstallLock();
  if (!lock) {
    log.line(silent::kAnotherInstall);
    return kExitUnchanged;
  }
  const util::Handle cancel(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!cancel) {
    log.line(silent::kNoEventNothingChanged);
    return kExitUnchanged;
  }
  if (log.hasConsole()) {
    g_consoleCancel = cancel.get();
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
  }
  log.line(silent::kInstallFolder + check.dir);

  const documents::AgreementText agreement = acceptedAgreement(options, cancel.get(), log);
  install::InstallRequest request;
  request.baseUrl = options.base;
  request.installDir = check.dir;
  request.cudaRequested = options.cuda;
  request.gpuCapable = options.cuda && machineQualifiesForCuda(log);
  request.createShortcut = options.createShortcut;
  request.launch = options.launch;
  request.agreementText = agreement.text;
  request.agreementVersion = agreement.version;

  const prog::JobResult result = runJob(request, cancel.get(), log);
  if (log.hasConsole()) {
    SetConsoleCtrlHandler(onConsoleControl, FALSE);
    g_consoleCancel = nullptr;
  }
  const int code = prog::exitCodeFor(result);
  log.line(result.ok() ? silent::kDone + result.mainProgram + silent::kDoneExitZero
                     : silent::kFailed + result.failure.text + silent::kExitCodePrefix + std::to_wstring(code) +
                           silent::kExitCodeSuffix);
  return code;
}
