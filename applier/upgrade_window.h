// The helper's small progress window "OrvaloSetupUpgradeWnd": it starts the upgrade job on a
// worker thread, shows the job's messages, refuses to close while the job runs, and closes
// itself a moment after showing the result. Private to the applier and its tests.
#pragma once

#include "applier/applier_ctx.h"
#include "applier/upgrade_job.h"

#include <windows.h>

#include <string>

namespace applier {

// Timer delays after the job's end message.
constexpr UINT kSuccessCloseMs = 900;
constexpr UINT kFailureCloseMs = 4000;

// Registers the class (once per process), creates and shows the window with ctx as its state;
// the window starts job (a test gives its own). Null on failure.
HWND createUpgradeWindow(Ctx* ctx, JobFunction job = runUpgradeJob);

// "升级失败：" + the failure (or "未知错误"), cut to what a 512-character buffer holds.
std::wstring failureStatusText(const std::wstring* failure);

}  // namespace applier
