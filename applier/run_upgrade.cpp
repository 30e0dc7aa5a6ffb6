// The --apply mode: the first process hands the work to a temporary copy of the executable (the
// original may lie in the folder being upgraded); the copy loads the plan and runs the window.
#include "applier/applier.h"

#include "applier/applier_ctx.h"
#include "applier/helper_command.h"
#include "applier/texts.h"
#include "applier/upgrade_rules.h"
#include "applier/upgrade_steps.h"
#include "applier/upgrade_window.h"
#include "install/install_lock.h"
#include "install/upgrade_journal.h"
#include "util/error_text.h"
#include "util/fixed_window.h"
#include "util/handles.h"
#include "util/quote.h"
#include "util/self_copy.h"

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <memory>

namespace {

using applier::kTitle;

void showError(const std::wstring& text) { MessageBoxW(nullptr, text.c_str(), kTitle, MB_OK | MB_ICONERROR); }

// Takes the lock of the install folder that exe names. A run whose exe names no folder takes
// none: its job fails on that before it touches anything. False, after saying so, when another
// run owns the folder: this one then leaves everything, the client included, as it is.
bool lockInstallFolder(const std::wstring& exe, util::Handle& lock) {
  std::wstring installDir;
  if (!applier::installFolderOf(exe, installDir)) return true;
  lock = install::acquireFolderLock(installDir);
  if (lock) return true;
  MessageBoxW(nullptr, applier::kFolderBusy, kTitle, MB_OK | MB_ICONWARNING);
  return false;
}

// The client's second "check for updates" while the first upgrade runs: said here, before the
// helper's file, which that upgrade runs from, is copied over. The helper asks again for real.
bool installFolderIsFree(const applier::UpgradeOptions& options) {
  applier::Ctx probe;
  probe.options = options;
  if (!options.plan.empty() && !loadUpgradePlan(options.plan, probe, nullptr)) return true;
  util::Handle lock;
  return lockInstallFolder(probe.options.exe, lock);
}

// The arguments of this process without its program name; none when the line cannot be split.
std::vector<std::wstring> ownArguments() {
  std::vector<std::wstring> args;
  int count = 0;
  util::LocalMem argv(reinterpret_cast<HLOCAL>(CommandLineToArgvW(GetCommandLineW(), &count)));
  if (!argv) return args;
  wchar_t** values = static_cast<wchar_t**>(argv.get());
  for (int i = 1; i < count; ++i) args.emplace_back(values[i]);
  return args;
}

int startHelper(const applier::UpgradeOptions& options) {
  if (!installFolderIsFree(options)) return 1;
  std::wstring helper;
  if (!copySelfToTemp(helper)) {
    showError(applier::kHelperCopyFailed);
    return 1;
  }
  std::wstring commandLine = helperCommandLine(helper, ownArguments());
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(helper.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &si, &pi)) {
    showError(applier::kHelperStartFailed + (applier::kReasonOpen + lastErrorText()) + applier::kReasonClose);
    return 1;
  }
  util::Handle process(pi.hProcess), thread(pi.hThread);
  return 0;
}

int runHelper(const applier::UpgradeOptions& options) {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&icc);
  auto ctx = std::make_unique<applier::Ctx>();
  ctx->options = options;
  if (!options.plan.empty()) {
    std::wstring failure;
    if (!loadUpgradePlan(options.plan, *ctx, &failure)) {
      showError(applier::kFailurePrefix + failure);
      return 1;
    }
  }
  // Held until the last old copy is deleted: from here on the folder's journal is this run's,
  // and no other start may undo what it has staged.
  util::Handle folderLock;
  if (!lockInstallFolder(ctx->options.exe, folderLock)) return 1;
  // Before the downloads, not after them: the id names the client only while it runs, and the
  // handle held from now on keeps the id from passing to another program.
  ctx->client = applier::openClientProcess(ctx->options.pid, ctx->options.exe);
  if (applier::createUpgradeWindow(ctx.get())) util::runMessageLoop();
  (void)ctx->worker.finish();
  // What a committed upgrade left to delete (the replaced files' old copies), now that the user
  // no longer waits for it.
  std::wstring installDir;
  if (applier::installFolderOf(ctx->options.exe, installDir)) (void)install::recoverUpgrade(installDir);
  return ctx->succeeded ? 0 : 1;
}

}  // namespace

std::wstring helperCommandLine(const std::wstring& helperPath, const std::vector<std::wstring>& args) {
  return util::buildCommandLine(helperPath, args) + L" --from-helper";
}

int runUpgrade(const applier::UpgradeOptions& options, bool fromHelper) {
  return fromHelper ? runHelper(options) : startHelper(options);
}
