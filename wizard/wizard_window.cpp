#include "wizard/wizard_window.h"

#include "documents/agreement.h"
#include "documents/hints.h"
#include "install/install_dir.h"
#include "install/install_lock.h"
#include "install/registration.h"
#include "prog/bar_control.h"
#include "prog/debug_log.h"
#include "prog/job_messages.h"
#include "prog/reporter.h"
#include "resources/resource_ids.h"
#include "uninstall/texts.h"
#include "uninstall/uninstall.h"
#include "util/error_text.h"
#include "util/files.h"
#include "util/fixed_window.h"
#include "util/guard.h"
#include "util/payload.h"
#include "util/text.h"
#include "wizard/agreement_retrieval.h"
#include "wizard/agreement_view.h"
#include "wizard/hints_retrieval_window.h"
#include "wizard/layout.h"
#include "wizard/pages.h"
#include "wizard/texts.h"
#include "wizard/wizard_ids.h"
#include "wizard/wizard_messages.h"

#include <commctrl.h>
#include <windowsx.h>

#include <memory>
#include <system_error>

namespace wizard {
namespace {

constexpr wchar_t kClassName[] = L"OrvaloSetupWizardWnd";

HWND control(HWND window, int id) { return GetDlgItem(window, id); }

SIZE outerSize(int dpi) {
  const ControlRect client = clientRect(dpi);
  return util::fixedWindowSize(client.w, client.h, dpi);
}

util::Handle makeManualResetEvent() { return util::Handle(CreateEventW(nullptr, TRUE, FALSE, nullptr)); }

void setInstallControls(HWND window, bool show) {
  for (int id : {kIdOverallBar, kIdStatus, kIdPackageBar, kIdPackageLabel}) showControl(window, id, show);
}

// ---- worker threads ------------------------------------------------------------------------

// A retrieval that throws ends like one that fails: a line in the debug log, and the built-in
// text stays.
void runRetrieval(void (*retrieve)(Ctx*, HWND), const char* logTag, Ctx* ctx, HWND window) {
  util::guarded([&] { retrieve(ctx, window); },
                [&](const char* what) { appendDebugLog(std::string(logTag) + " internal error: " + what); });
}

// ---- creation and destruction ------------------------------------------------------------

// The agreement first, so that the server's text replaces the built-in one as early as possible.
// A thread that cannot be started leaves the built-in agreement or hints, as a failed retrieval
// would.
void startRetrievalThreads(HWND window, Ctx& ctx) {
  try {
    ctx.agreementThread = std::thread(runRetrieval, retrieveAgreement, "[agreement]", &ctx, window);
  } catch (const std::system_error&) {
  }
  try {
    ctx.hintsThread = std::thread(runRetrieval, retrieveHints, "[hints]", &ctx, window);
  } catch (const std::system_error&) {
  }
}

LRESULT onCreate(HWND window, Ctx& ctx) {
  const int dpi = static_cast<int>(GetDpiForWindow(window));

  // The outer size was computed before the window had a monitor; make the client area exact
  // for the DPI the window really has.
  const ControlRect client = clientRect(dpi);
  util::fitClientArea(window, client.w, client.h);

  ctx.cancelEvent = makeManualResetEvent();
  ctx.agreementCancelEvent = makeManualResetEvent();
  ctx.hintsCancelEvent = makeManualResetEvent();
  if (!ctx.cancelEvent || !ctx.agreementCancelEvent || !ctx.hintsCancelEvent) return -1;

  if (!createControls(window, ctx, dpi)) return -1;
  SendMessageW(window, DM_SETDEFID, kIdAccept, 0);
  const documents::AgreementText builtIn = documents::builtInAgreement();
  if (!builtIn.text.empty()) {
    ctx.agreementText = builtIn.text;
    setControlText(window, kIdAgreementEdit, ctx.agreementText);
  }

  if (!ctx.existingInstallDir.empty()) prepareInstalledVariant(window, ctx);
  if (ctx.collaborators.startRetrievals) startRetrievalThreads(window, ctx);
  return 0;
}

// Payloads still queued when the window goes away would never be handled: free them here.
void freeQueuedPayloads(HWND window) {
  prog::freeQueuedJobPayloads(window);
  MSG msg;
  while (PeekMessageW(&msg, window, WM_WIZ_FIRST, WM_WIZ_LAST, PM_REMOVE)) {
    switch (msg.message) {
      case WM_WIZ_AGREEMENT: util::takePayload<AgreementPayload>(msg.lParam); break;
      case WM_WIZ_HINTS: util::takePayload<documents::HintsDocument>(msg.lParam); break;
      case WM_WIZ_UNINSTALLED: util::takePayload<UninstalledPayload>(msg.lParam); break;
      default: break;
    }
  }
}

void onNcDestroy(HWND window, Ctx& ctx) {
  SetEvent(ctx.agreementCancelEvent.get());
  if (ctx.agreementThread.joinable()) ctx.agreementThread.join();
  SetEvent(ctx.hintsCancelEvent.get());
  if (ctx.hintsThread.joinable()) ctx.hintsThread.join();
  // A removal cannot be cancelled halfway; a window destroyed under it waits for its end.
  if (ctx.uninstallThread.joinable()) ctx.uninstallThread.join();
  ctx.uninstallLock.reset();
  ctx.browserEvents.reset();
  ctx.browserInPlace.Reset();
  ctx.browser.Reset();
  (void)util::deleteFileForce(documents::agreementHtmlFile());
  ctx.titleFont.reset();
  ctx.bodyFont.reset();
  ctx.linkFont.reset();
  // An install job still running tests this event; it is closed only after that job is joined.
  if (!ctx.installRun.running()) ctx.cancelEvent.reset();
  ctx.agreementCancelEvent.reset();
  ctx.hintsCancelEvent.reset();
  freeQueuedPayloads(window);
  util::dropWindowState(window);
  PostQuitMessage(0);
}

// ---- buttons -------------------------------------------------------------------------------

void showInstallEnd(HWND window, Ctx& ctx, const prog::JobResult& result) {
  ctx.installing = false;
  ctx.installLock.reset();
  ctx.folderLock.reset();

  const bool success = result.ok();
  if (success) {
    ctx.mainExePath = result.mainProgram;
    setControlText(window, kIdStatus, kSuccessStatus);
    SetTimer(window, kCloseTimerId, kCloseDelayMs, nullptr);
    // The install button stays off until the window closes; "取消" now only closes it.
    SendMessageW(window, DM_SETDEFID, kIdCancel, 0);
  } else {
    setControlText(window, kIdStatus,
                   std::wstring(kFailurePrefix) + (result.failure.text.empty() ? kUnknownError : result.failure.text));
    enableControl(window, kIdInstall, true);
    setControlText(window, kIdInstall, kRetryButton);
    // The install moved the focus to "取消"; a retry is the likelier next key.
    if (GetFocus() == control(window, kIdCancel)) SetFocus(control(window, kIdInstall));
  }
  for (int id : {kIdOverallBar, kIdPackageBar, kIdPackageLabel}) showControl(window, id, !success);
  enableControl(window, kIdFolderEdit, true);
  enableControl(window, kIdBrowse, true);
  InvalidateRect(window, nullptr, TRUE);
}

void startInstall(HWND window, Ctx& ctx) {
  const install::InstallDirCheck check = install::validateInstallDir(readInstallDir(window), ctx.createSubfolder);
  if (!check.ok) {
    MessageBoxW(window, check.message.c_str(), kBoxCaption, MB_ICONWARNING);
    return;
  }
  ctx.installDir = check.dir;
  ctx.cudaRequested = ctx.gpuCapable && IsDlgButtonChecked(window, kIdCuda) == BST_CHECKED;
  if (ctx.installing) return;
  // An upgrade of that folder waiting for its client, or its uninstaller, owns what is there:
  // the job's first step would undo the upgrade's staged files.
  ctx.folderLock = install::acquireFolderLock(ctx.installDir);
  if (!ctx.folderLock) {
    MessageBoxW(window, kFolderBusy, kBoxCaption, MB_ICONWARNING);
    return;
  }
  // Another install of this user (a second wizard, an unattended install) would write the same
  // folder and registration.
  ctx.installLock = install::acquireInstallLock();
  if (!ctx.installLock) {
    ctx.folderLock.reset();
    MessageBoxW(window, kAnotherInstall, kBoxCaption, MB_ICONWARNING);
    return;
  }
  if (ctx.installing.exchange(true)) return;
  ResetEvent(ctx.cancelEvent.get());

  enableControl(window, kIdFolderEdit, false);
  enableControl(window, kIdBrowse, false);
  enableControl(window, kIdCancel, true);
  enableControl(window, kIdInstall, false);
  setControlText(window, kIdInstall, kInstallingButton);
  setInstallControls(window, true);
  // A disabled control loses the focus, and keys without a focus reach no control: Esc must
  // still find "取消".
  const HWND focus = GetFocus();
  if (!focus || focus == window || !IsWindowEnabled(focus)) SetFocus(control(window, kIdCancel));
  InvalidateRect(window, nullptr, TRUE);

  install::InstallRequest request;
  request.baseUrl = ctx.baseUrl;
  request.installDir = ctx.installDir;
  request.gpuCapable = ctx.gpuCapable;
  request.cudaRequested = ctx.cudaRequested;
  request.agreementText = ctx.agreementText;
  request.agreementVersion = ctx.agreementVersion;
  const CancelEvent cancel = ctx.cancelEvent.get();
  const InstallJob job = ctx.collaborators.installJob;
  const bool started = ctx.installRun.start(window, [job, request, cancel](prog::JobSink& sink) {
    return job(request, sink, cancel);
  });
  // No job runs, so none will report its end: report it in its place.
  if (!started) showInstallEnd(window, ctx, prog::jobFailed(prog::FailureKind::kInternal, kThreadStartFailed));
}

void onCancel(HWND window, Ctx& ctx) {
  if (!ctx.installing) {
    DestroyWindow(window);
    return;
  }
  if (MessageBoxW(window, kCancelQuestion, kBoxCaption, MB_YESNO | MB_ICONQUESTION) == IDYES) {
    SetEvent(ctx.cancelEvent.get());
  }
}

// Input that reached the window's thread while the uninstaller ran was meant for its boxes or
// came too late; none of it may start something in the wizard afterwards.
void dropQueuedInput() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
  }
  while (PeekMessageW(&msg, nullptr, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE)) {
  }
}

// An uninstall that went its way (declined, handed over or done) closes the wizard; a refused one
// leaves it as it was.
void endUninstall(HWND window, Ctx& ctx, int result) {
  dropQueuedInput();
  ctx.uninstalling = false;
  if (result == 0) {
    DestroyWindow(window);
    return;
  }
  EnableWindow(window, TRUE);
}

// The removal of a large folder takes long: it runs on a thread of the wizard's, which sees
// nothing of the record, so that the window keeps painting. A removal that throws may have left
// anything behind, and is reported as partly done.
void removeAndReportEnd(HWND window, const std::wstring& folder, bool purgeData) {
  std::unique_ptr<UninstalledPayload> end = util::guarded(
      [&] {
        auto done = std::make_unique<UninstalledPayload>();
        done->report = uninstall::removeInstallation(folder, purgeData, uninstall::Remover::InPlace).report;
        return done;
      },
      [&](const char* what) {
        appendDebugLog(std::string("[uninstall] internal error: ") + what);
        return std::unique_ptr<UninstalledPayload>();
      });
  (void)util::postPayload(window, WM_WIZ_UNINSTALLED, 0, std::move(end));
}

// The uninstaller asks its questions in boxes owned by the wizard, on this thread, and the
// folder is removed on another; the wizard stays disabled until the closing box has been
// answered, so that no repair, second uninstall or close can start under it.
void onUninstall(HWND window, Ctx& ctx) {
  ctx.uninstalling = true;
  EnableWindow(window, FALSE);
  uninstall::Answers answers = uninstall::askAndHandOver(ctx.existingInstallDir, window);
  if (!answers.removeInPlace) {
    endUninstall(window, ctx, answers.exitCode);
    return;
  }
  ctx.uninstallLock = std::move(answers.lock);
  // A message box re-enables its owner as it closes.
  EnableWindow(window, FALSE);
  try {
    ctx.uninstallThread = std::thread(removeAndReportEnd, window, ctx.existingInstallDir,
                                      answers.purgeData);
  } catch (const std::system_error&) {
    // No thread: the removal runs here, as it would without the wizard.
    removeAndReportEnd(window, ctx.existingInstallDir, answers.purgeData);
  }
}

// The end of the removal; no payload: it threw.
void onUninstalled(HWND window, Ctx& ctx, LPARAM lParam) {
  const auto end = util::takePayload<UninstalledPayload>(lParam);
  if (ctx.uninstallThread.joinable()) ctx.uninstallThread.join();
  uninstall::showClosingBox(window, end ? end->report : uninstall::kPartlyRemovedHere);
  ctx.uninstallLock.reset();
  endUninstall(window, ctx, 0);
}

void onCommand(HWND window, Ctx& ctx, int id, int code) {
  if (ctx.uninstalling) return;
  // Only clicks act (BN_CLICKED and STN_CLICKED are both 0): a double-click on a link sends
  // STN_DBLCLK after the click of its first press, and must not open the page twice.
  if (code != BN_CLICKED) return;
  const bool busy = ctx.installing;
  switch (id) {
    case kIdInstall:
      if (!busy) startInstall(window, ctx);
      return;
    case IDCANCEL:  // Esc, from the dialog manager
    case kIdCancel: onCancel(window, ctx); return;
    case kIdBrowse:
      if (!busy) browseForFolder(window, ctx);
      return;
    case kIdDecline:
      if (!busy) DestroyWindow(window);
      return;
    case kIdAccept:
      if (!busy) showOptionsPage(window, ctx);
      return;
    case kIdUninstall:
      if (!busy) onUninstall(window, ctx);
      return;
    case kIdSubfolder:
      ctx.createSubfolder = IsDlgButtonChecked(window, kIdSubfolder) == BST_CHECKED;
      return;
    case kIdAgreementCheck:
      enableControl(window, kIdAccept, IsDlgButtonChecked(window, kIdAgreementCheck) == BST_CHECKED);
      return;
    default: openLinkControl(window, ctx, id); return;
  }
}

void onClose(HWND window, const Ctx& ctx) {
  if (ctx.installing || ctx.uninstalling) {
    MessageBeep(MB_ICONEXCLAMATION);
    return;
  }
  DestroyWindow(window);
}

// ---- worker messages -------------------------------------------------------------------------

void onStatus(HWND window, LPARAM lParam) {
  const auto text = util::takePayload<std::wstring>(lParam);
  if (text) setControlText(window, kIdStatus, *text);
}

void onProgress(HWND window, LPARAM lParam) {
  const auto progress = util::takePayload<prog::BarProgress>(lParam);
  if (!progress) return;
  prog::showBarCounts(control(window, kIdOverallBar), progress->done, progress->total);
}

void onPackage(HWND window, LPARAM lParam) {
  const auto info = util::takePayload<prog::TotalInfo>(lParam);
  if (!info) return;
  HWND bar = control(window, kIdPackageBar);
  SendMessageW(bar, PBM_SETRANGE32, 0, 1000);
  SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(info->permille), 0);
  wchar_t label[64];
  swprintf(label, 64, kPackageCounterFormat, static_cast<unsigned>(info->index),
           static_cast<unsigned>(info->count));
  setControlText(window, kIdPackageLabel, label);
}


void onDone(HWND window, Ctx& ctx) { showInstallEnd(window, ctx, ctx.installRun.finish()); }

void onAgreement(HWND window, Ctx& ctx, LPARAM lParam) {
  const auto payload = util::takePayload<AgreementPayload>(lParam);
  if (!payload) return;
  appendDebugLog("AGREEMENT arrive: ver='" + util::toUtf8(payload->version) +
                 "' textLen=" + std::to_string(payload->text.size()) +
                 " html=" + (payload->htmlPath.empty() ? "none" : "yes"));
  // The user has already accepted what was on the page: a late agreement changes nothing.
  if (ctx.optionsShown) return;
  // Text and version change together: the install records the version of the text it keeps. A
  // server that names no version leaves the one recorded so far rather than an empty one.
  if (!payload->version.empty()) ctx.agreementVersion = payload->version;
  ctx.agreementText = payload->text;
  if (!payload->htmlPath.empty() && showAgreementHtml(window, ctx, payload->htmlPath)) return;
  setControlText(window, kIdAgreementEdit, payload->text);
}

void onHints(HWND window, Ctx& ctx, LPARAM lParam) {
  const auto document = util::takePayload<documents::HintsDocument>(lParam);
  if (document) applyHints(window, ctx, *document);
}

bool onSetCursor(HWND window, LPARAM lParam) {
  if (LOWORD(lParam) != HTCLIENT) return false;
  POINT pt;
  if (!GetCursorPos(&pt) || !ScreenToClient(window, &pt)) return false;
  // Hidden controls of the other page lie over the links (the agreement edit covers most of the
  // options page): they must not hide them.
  HWND child = ChildWindowFromPointEx(window, pt, CWP_SKIPINVISIBLE | CWP_SKIPTRANSPARENT);
  if (!child || child == window || !isColouredLink(GetDlgCtrlID(child))) return false;
  SetCursor(LoadCursorW(nullptr, IDC_HAND));
  return true;
}

LRESULT onCtlColorStatic(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  HWND child = reinterpret_cast<HWND>(lParam);
  if (!isColouredLink(GetDlgCtrlID(child))) return DefWindowProcW(window, message, wParam, lParam);
  HDC dc = reinterpret_cast<HDC>(wParam);
  SetTextColor(dc, kLinkColor);
  SetBkMode(dc, TRANSPARENT);
  return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
}

// ---- keyboard and DPI --------------------------------------------------------------------------

// The window is no dialog box, so it keeps the default button itself: the dialog manager asks
// for it with DM_GETDEFID when Enter is pressed, and the button shows it with its frame.
void onSetDefId(HWND window, Ctx& ctx, int id) {
  if (ctx.defaultButton != 0 && ctx.defaultButton != id) {
    SendMessageW(control(window, ctx.defaultButton), BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
  }
  ctx.defaultButton = id;
  SendMessageW(control(window, id), BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
}

// Sent by a multi-line edit for Tab and by the dialog manager for the arrow keys.
void onNextDlgCtl(HWND window, WPARAM wParam, LPARAM lParam) {
  HWND next = nullptr;
  if (LOWORD(lParam)) {
    next = reinterpret_cast<HWND>(wParam);
  } else {
    HWND focus = GetFocus();
    next = GetNextDlgTabItem(window, focus == window ? nullptr : focus, wParam != 0);
  }
  if (next && IsChild(window, next) && IsWindowVisible(next) && IsWindowEnabled(next)) SetFocus(next);
}

// As a dialog box does: the focus goes back to the control that had it before another window
// (a message box, the folder dialog) took the activation.
void onActivate(HWND window, Ctx& ctx, WPARAM wParam) {
  if (LOWORD(wParam) == WA_INACTIVE) {
    HWND focus = GetFocus();
    ctx.focusedControl = focus && IsChild(window, focus) ? GetDlgCtrlID(focus) : 0;
    return;
  }
  if (HIWORD(wParam)) return;  // minimised
  HWND saved = ctx.focusedControl ? control(window, ctx.focusedControl) : nullptr;
  if (saved && IsWindowVisible(saved) && IsWindowEnabled(saved)) {
    SetFocus(saved);
  } else {
    focusFirstControl(window);
  }
}

void onDpiChanged(HWND window, Ctx& ctx, WPARAM wParam, LPARAM lParam) {
  applyDpi(window, ctx, LOWORD(wParam));
  const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
  SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
               suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(window, nullptr, TRUE);
}

LRESULT dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Ctx* state = util::windowState<Ctx>(window, message, lParam);
  if (!state) return DefWindowProcW(window, message, wParam, lParam);
  Ctx& ctx = *state;
  switch (message) {
    case WM_CREATE: return onCreate(window, ctx);
    case WM_COMMAND: onCommand(window, ctx, LOWORD(wParam), HIWORD(wParam)); return 0;
    case DM_GETDEFID: return ctx.defaultButton ? MAKELRESULT(ctx.defaultButton, DC_HASDEFID) : 0;
    case DM_SETDEFID: onSetDefId(window, ctx, static_cast<int>(wParam)); return TRUE;
    case WM_NEXTDLGCTL: onNextDlgCtl(window, wParam, lParam); return 0;
    case WM_ACTIVATE: onActivate(window, ctx, wParam); return 0;
    case WM_DPICHANGED: onDpiChanged(window, ctx, wParam, lParam); return 0;
    case WM_CLOSE: onClose(window, ctx); return 0;
    case WM_TIMER:
      if (wParam == kCloseTimerId) {
        KillTimer(window, kCloseTimerId);
        DestroyWindow(window);
      }
      return 0;
    case prog::WM_JOB_STATUS: onStatus(window, lParam); return 0;
    case prog::WM_JOB_PROGRESS: onProgress(window, lParam); return 0;
    case prog::WM_JOB_PACKAGE: onPackage(window, lParam); return 0;
    case prog::WM_JOB_DONE: onDone(window, ctx); return 0;
    case WM_WIZ_AGREEMENT: onAgreement(window, ctx, lParam); return 0;
    case WM_WIZ_HINTS: onHints(window, ctx, lParam); return 0;
    case WM_WIZ_UNINSTALLED: onUninstalled(window, ctx, lParam); return 0;
    case WM_SETCURSOR:
      if (onSetCursor(window, lParam)) return TRUE;
      break;
    case WM_CTLCOLORSTATIC: return onCtlColorStatic(window, message, wParam, lParam);
    case WM_NCDESTROY: onNcDestroy(window, ctx); return 0;
    default: break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK wizardProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return util::guarded([&] { return dispatch(window, message, wParam, lParam); },
                       [&](const char* what) {
                         appendDebugLog("[wizard] message " + std::to_string(message) + " failed: " + what);
                         return DefWindowProcW(window, message, wParam, lParam);
                       });
}

}  // namespace

std::unique_ptr<Ctx> makeCtx(const std::wstring& baseUrl) {
  auto ctx = std::make_unique<Ctx>();
  ctx->baseUrl = baseUrl;
  const documents::HintsDocument builtin = documents::builtInHints();
  for (size_t i = 0; i < 2 && i < builtin.dataSources.size(); ++i) {
    ctx->dataSourceUrls[i] = builtin.dataSources[i].url;
  }
  ctx->localModelHelpUrl = builtin.helpUrl;
  ctx->models = builtin.models;
  ctx->existingInstallDir = readInstallLocation();
  return ctx;
}

HWND createWizardWindow(Ctx* ctx, const Collaborators& collaborators) {
  ctx->collaborators = collaborators;
  const HICON icon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP_ICON));
  if (!util::registerFixedWindowClass(kClassName, wizardProc, icon)) return nullptr;
  return util::createFixedWindow(kClassName, kWindowTitle, outerSize(static_cast<int>(GetDpiForSystem())), ctx);
}

void runMessageLoop() { util::runMessageLoop(); }

void finishRun(Ctx& ctx) {
  (void)ctx.installRun.finish();
  ctx.cancelEvent.reset();
}

}  // namespace wizard

int runWizard(const std::wstring& baseUrl) {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&icc);
  std::unique_ptr<wizard::Ctx> ctx = wizard::makeCtx(baseUrl);
  if (wizard::createWizardWindow(ctx.get())) wizard::runMessageLoop();
  wizard::finishRun(*ctx);
  return 0;
}
