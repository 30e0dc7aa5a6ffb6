// Process entry of OrvaloSetup.exe: one run mode per process, chosen from the command line, on
// the main thread; the mode's result is the exit code.
#include "app/command_line.h"
#include "applier/applier.h"
#include "install/install_lock.h"
#include "install/registration.h"
#include "install/upgrade_journal.h"
#include "prog/debug_log.h"
#include "silent/silent_install.h"
#include "uninstall/uninstall.h"
#include "util/handles.h"
#include "util/paths.h"
#include "wizard/wizard.h"

#include <windows.h>

#include <cstdio>
#include <ole2.h>
#include <shellapi.h>

namespace {

int runMode(const CommandLine& cmd) {
  switch (chooseRunMode(cmd)) {
    case RunMode::UninstallWorker:
      return runUninstallWorker(cmd.uninstallDir, cmd.purgeData, cmd.silent, cmd.log);
    case RunMode::Uninstall:
      // Windows starts the copy inside the install folder, so its own folder is the one to remove.
      if (cmd.silent) return runSilentUninstall(util::moduleDirectory(), cmd.purgeData, cmd.log);
      return runUninstall(util::moduleDirectory());
    case RunMode::SilentInstall: {
      SilentInstallOptions options;
      options.base = cmd.base;
      options.acceptAgreement = cmd.acceptAgreement;
      options.dir = cmd.dir;
      options.cuda = cmd.cuda;
      options.createShortcut = !cmd.noShortcut;
      options.launch = !cmd.noLaunch;
      options.logPath = cmd.log;
      return runSilentInstall(options);
    }
    case RunMode::Apply: {
      applier::UpgradeOptions options;
      options.plan = cmd.options.plan;
      options.url = cmd.options.url;
      options.sha256 = cmd.options.sha256;
      options.src = cmd.options.src;
      options.pid = cmd.options.pid;
      options.version = cmd.options.version;
      options.exe = cmd.options.exe;
      options.kind = cmd.options.kind;
      options.dest = cmd.options.dest;
      options.clean = cmd.options.clean;
      options.launch = cmd.options.launch;
      return runUpgrade(options, cmd.fromHelper);
    }
    case RunMode::Wizard:
      break;
  }
  return runWizard(cmd.base);
}

// A crash leaves one line in the debug log (the exception, and where: module and offset) before
// Windows' own handling runs: the only trace a user can send of a crash that happens on their
// machine alone.
LONG WINAPI noteCrash(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD* record = pointers ? pointers->ExceptionRecord : nullptr;
  if (!record) return EXCEPTION_CONTINUE_SEARCH;
  HMODULE module = nullptr;
  wchar_t path[MAX_PATH] = L"?";
  if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         static_cast<LPCWSTR>(record->ExceptionAddress), &module)) {
    GetModuleFileNameW(module, path, MAX_PATH);
  }
  const wchar_t* name = wcsrchr(path, L'\\');
  char line[400];
  std::snprintf(line, sizeof line, "[crash] exception 0x%08lX at %ls+0x%llX, thread %lu",
                static_cast<unsigned long>(record->ExceptionCode), name ? name + 1 : path,
                static_cast<unsigned long long>(static_cast<const char*>(record->ExceptionAddress) -
                                                reinterpret_cast<const char*>(module)),
                static_cast<unsigned long>(GetCurrentThreadId()));
  appendDebugLog(line);
  return EXCEPTION_CONTINUE_SEARCH;
}

int runFromSystemCommandLine() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv) return runWizard(std::wstring());

  CommandLine cmd;
  {
    util::LocalMem owner(argv);
    cmd = parseCommandLine(std::vector<std::wstring>(argv, argv + argc));
  }
  return runMode(cmd);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // First of all: from here on every DLL loaded by name, ours or a system DLL's own, comes from
  // System32 only, never from the folder the setup lies in (Downloads, or the temporary folder of
  // the upgrade and uninstall copies), where a planted dxgi.dll or winhttp.dll could wait. The
  // imports resolved before this line are KnownDLLs or come through the manifest; the others are
  // delay-loaded (cmake/DelayImports.cmake).
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  SetUnhandledExceptionFilter(noteCrash);
  // The delay-loaded DLLs come in here, from System32, once: otherwise the first of several
  // download threads to call one loads it while the others start, all of them under the
  // loader's lock.
  for (const wchar_t* dll : {L"winhttp.dll", L"bcrypt.dll"}) LoadLibraryExW(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  // OLE for the whole run on this thread: the wizard hosts an OLE control and the folder dialog
  // here. Worker threads that need COM initialise it themselves.
  const bool oleReady = SUCCEEDED(OleInitialize(nullptr));
  // Started from the installation (the copy Windows and the client start) whose last upgrade was
  // cut short: it is undone before this run looks at anything. Only the registered installation
  // counts: a journal planted beside a downloaded setup names nothing of ours. And only while no
  // one owns the folder: a journal whose upgrade is alive (its helper waiting for the client)
  // is that upgrade's. The lock goes again before the mode runs, which takes it where it needs it.
  const std::wstring home = util::moduleDirectory();
  if (util::normalizePathKey(home) == util::normalizePathKey(readInstallLocation())) {
    const util::Handle owner = install::acquireFolderLock(home);
    if (owner) (void)install::recoverUpgrade(home);
  }
  const int exitCode = runFromSystemCommandLine();
  if (oleReady) OleUninitialize();
  return exitCode;
}
