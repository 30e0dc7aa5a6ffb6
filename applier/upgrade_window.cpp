#include "applier/upgrade_window.h"

#include "applier/texts.h"
#include "applier/upgrade_job.h"
#include "applier/upgrade_layout.h"
#include "prog/job_messages.h"
#include "prog/bar_control.h"
#include "prog/debug_log.h"
#include "prog/reporter.h"
#include "util/error_text.h"
#include "util/fixed_window.h"
#include "util/guard.h"
#include "util/handles.h"
#include "util/payload.h"

#include <commctrl.h>

#include <system_error>

namespace applier {
namespace {

constexpr wchar_t kClassName[] = L"OrvaloSetupUpgradeWnd";
constexpr size_t kStatusBufferChars = 512;
constexpr UINT_PTR kCloseTimerId = 1;
constexpr UINT kMarqueeStepMs = 50;

HWND control(HWND window, int id) { return GetDlgItem(window, id); }

SIZE outerSize(int dpi) {
  const UpgradeRect client = upgradeClientRect(dpi);
  return util::fixedWindowSize(client.w, client.h, dpi);
}

size_t itemCount(const Ctx& ctx) { return ctx.items.empty() ? 1 : ctx.items.size(); }

void setCloseEnabled(HWND window, bool enabled) {
  EnableMenuItem(GetSystemMenu(window, FALSE), SC_CLOSE, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

const int kControlIds[] = {kIdStatus, kIdPackageLabel, kIdPackageBar, kIdMainBar, kIdNotice};

// The message font of the window's DPI, which need not be the system's.
util::GdiObject messageFont(int dpi) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, static_cast<UINT>(dpi));
  return util::GdiObject(CreateFontIndirectW(&metrics.lfMessageFont));
}

bool createControl(HWND window, const Ctx& ctx, int id, const wchar_t* cls, DWORD style,
                   const wchar_t* text, int dpi, size_t count) {
  const UpgradeRect r = upgradeControlRect(id, dpi, count);
  HWND child = CreateWindowExW(0, cls, text, WS_CHILD | style, r.x, r.y, r.w, r.h, window,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                               GetModuleHandleW(nullptr), nullptr);
  if (!child) return false;
  SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(ctx.font.get()), FALSE);
  return true;
}

void showEnd(HWND window, Ctx& ctx, const prog::JobResult& result);

void startJob(HWND window, Ctx& ctx) {
  const JobFunction job = ctx.job;
  auto request = std::make_shared<UpgradeRequest>(upgradeRequestOf(ctx));
  const bool started = ctx.worker.start(window, [job, request](prog::JobSink& sink) {
    return job(*request, sink);
  });
  // No job runs, so none will report its end: report it in its place, so that the window shows
  // the failure and closes, and the process ends with a failure code.
  if (!started) showEnd(window, ctx, prog::jobFailed(prog::FailureKind::kInternal, kThreadStartFailed));
}

LRESULT onCreate(HWND window, Ctx& ctx) {
  const int dpi = static_cast<int>(GetDpiForWindow(window));
  // The outer size was computed before the window had a monitor; make the client area exact
  // for the DPI the window really has.
  const UpgradeRect client = upgradeClientRect(dpi);
  util::fitClientArea(window, client.w, client.h);

  ctx.font = messageFont(dpi);

  const size_t count = itemCount(ctx);
  const bool ok =
      createControl(window, ctx, kIdStatus, L"STATIC", WS_VISIBLE, kInitialStatus, dpi, count) &&
      createControl(window, ctx, kIdPackageLabel, L"STATIC", 0, L"", dpi, count) &&
      createControl(window, ctx, kIdPackageBar, PROGRESS_CLASSW, 0, nullptr, dpi, count) &&
      createControl(window, ctx, kIdMainBar, PROGRESS_CLASSW, WS_VISIBLE | PBS_SMOOTH | PBS_MARQUEE, nullptr, dpi,
                    count) &&
      createControl(window, ctx, kIdNotice, L"STATIC", WS_VISIBLE, kNotice, dpi, count);
  if (!ok) return -1;
  SendMessageW(control(window, kIdPackageBar), PBM_SETRANGE32, 0, 1000);
  SendMessageW(control(window, kIdMainBar), PBM_SETMARQUEE, TRUE, kMarqueeStepMs);
  if (count > 1) {
    ShowWindow(control(window, kIdPackageLabel), SW_SHOW);
    ShowWindow(control(window, kIdPackageBar), SW_SHOW);
  }
  setCloseEnabled(window, false);
  startJob(window, ctx);
  return 0;
}

void onClose(HWND window, const Ctx& ctx) {
  if (ctx.finished) {
    DestroyWindow(window);
    return;
  }
  MessageBeep(MB_ICONEXCLAMATION);
}

void onStatus(HWND window, LPARAM lParam) {
  const auto text = util::takePayload<std::wstring>(lParam);
  if (text) SetWindowTextW(control(window, kIdStatus), text->c_str());
}

void onProgress(HWND window, LPARAM lParam) {
  const auto progress = util::takePayload<prog::BarProgress>(lParam);
  if (!progress) return;
  prog::showBarCounts(control(window, kIdMainBar), progress->done, progress->total);
}

void onPackage(HWND window, LPARAM lParam) {
  const auto info = util::takePayload<prog::TotalInfo>(lParam);
  if (!info) return;
  SendMessageW(control(window, kIdPackageBar), PBM_SETPOS, static_cast<WPARAM>(info->permille), 0);
  wchar_t label[32];
  swprintf(label, 32, kPackageLabelFormat, static_cast<unsigned>(info->index), static_cast<unsigned>(info->count));
  SetWindowTextW(control(window, kIdPackageLabel), label);
}

// A bar still running the marquee of the last stage would not show the end: it stops first.
void fillBar(HWND bar) {
  const LONG_PTR style = GetWindowLongPtrW(bar, GWL_STYLE);
  if (style & PBS_MARQUEE) {
    SendMessageW(bar, PBM_SETMARQUEE, FALSE, 0);
    SetWindowLongPtrW(bar, GWL_STYLE, style & ~static_cast<LONG_PTR>(PBS_MARQUEE));
  }
  const LRESULT high = SendMessageW(bar, PBM_GETRANGE, FALSE, 0);
  SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(high), 0);
}

void showEnd(HWND window, Ctx& ctx, const prog::JobResult& result) {
  ctx.finished.exchange(true);
  ctx.succeeded = result.ok();
  const bool success = result.ok();
  std::wstring status;
  if (success) {
    status = kSuccessStatus;
    fillBar(control(window, kIdMainBar));
    fillBar(control(window, kIdPackageBar));
  } else {
    status = failureStatusText(result.failure.text.empty() ? nullptr : &result.failure.text);
  }
  SetWindowTextW(control(window, kIdStatus), status.c_str());
  setCloseEnabled(window, true);
  SetTimer(window, kCloseTimerId, success ? kSuccessCloseMs : kFailureCloseMs, nullptr);
}

void onDone(HWND window, Ctx& ctx) {
  ShutdownBlockReasonDestroy(window);
  showEnd(window, ctx, ctx.worker.finish());
}

// Logoff or shutdown while the installation's files are being replaced: Windows is asked to wait
// and tells the user why. The journal makes any end recoverable, but a finished upgrade is better
// than one that the next start has to undo.
LRESULT onQueryEndSession(HWND window, const Ctx& ctx) {
  if (!ctx.applying) return TRUE;
  ShutdownBlockReasonCreate(window, kShutdownReason);
  return FALSE;
}

void onDpiChanged(HWND window, Ctx& ctx, WPARAM wParam, LPARAM lParam) {
  const int dpi = LOWORD(wParam);
  // The controls use the old font until they have the new one; only then may it go.
  util::GdiObject oldFont = std::move(ctx.font);
  ctx.font = messageFont(dpi);
  const size_t count = itemCount(ctx);
  for (int id : kControlIds) {
    HWND child = control(window, id);
    const UpgradeRect r = upgradeControlRect(id, dpi, count);
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(ctx.font.get()), TRUE);
    SetWindowPos(child, nullptr, r.x, r.y, r.w, r.h, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
  SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
               suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(window, nullptr, TRUE);
}

void onNcDestroy(HWND window, Ctx& ctx) {
  prog::freeQueuedJobPayloads(window);
  ctx.font.reset();
  util::dropWindowState(window);
  PostQuitMessage(0);
}

LRESULT dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Ctx* state = util::windowState<Ctx>(window, message, lParam);
  if (!state) return DefWindowProcW(window, message, wParam, lParam);
  Ctx& ctx = *state;
  switch (message) {
    case WM_CREATE: return onCreate(window, ctx);
    case WM_CLOSE: onClose(window, ctx); return 0;
    case WM_QUERYENDSESSION: return onQueryEndSession(window, ctx);
    case WM_TIMER:
      if (wParam == kCloseTimerId) {
        KillTimer(window, kCloseTimerId);
        DestroyWindow(window);
      }
      return 0;
    case prog::WM_JOB_STATUS: onStatus(window, lParam); return 0;
    case prog::WM_JOB_PROGRESS: onProgress(window, lParam); return 0;
    case prog::WM_JOB_DONE: onDone(window, ctx); return 0;
    case prog::WM_JOB_PACKAGE: onPackage(window, lParam); return 0;
    case WM_DPICHANGED: onDpiChanged(window, ctx, wParam, lParam); return 0;
    case WM_NCDESTROY: onNcDestroy(window, ctx); return 0;
    default: return DefWindowProcW(window, message, wParam, lParam);
  }
}

LRESULT CALLBACK upgradeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return util::guarded([&] { return dispatch(window, message, wParam, lParam); },
                       [&](const char* what) {
                         appendDebugLog("[upgrade] message " + std::to_string(message) + " failed: " + what);
                         return DefWindowProcW(window, message, wParam, lParam);
                       });
}

}  // namespace

std::wstring failureStatusText(const std::wstring* failure) {
  std::wstring text = kFailurePrefix + (failure ? *failure : std::wstring(kUnknownError));
  if (text.size() > kStatusBufferChars - 1) text.resize(kStatusBufferChars - 1);
  return text;
}

HWND createUpgradeWindow(Ctx* ctx, JobFunction job) {
  ctx->job = std::move(job);
  if (!util::registerFixedWindowClass(kClassName, upgradeProc, nullptr)) return nullptr;
  return util::createFixedWindow(kClassName, kTitle, outerSize(static_cast<int>(GetDpiForSystem())), ctx);
}

}  // namespace applier
