// The wizard window: creation, the message loop, and the ends of a run. Private to the wizard and
// its tests.
#pragma once

#include "wizard/wizard_ctx.h"

#include <windows.h>

#include <memory>

namespace wizard {

// A record with the built-in hints, the found installation and the base URL.
std::unique_ptr<Ctx> makeCtx(const std::wstring& baseUrl);

// Registers the window class (once per process) and creates and shows the window for ctx, which
// works with the collaborators given. Null when the window cannot be created. Only one wizard
// window exists at a time.
HWND createWizardWindow(Ctx* ctx, const Collaborators& collaborators = Collaborators{});

// GetMessageW loop of the calling thread until WM_QUIT.
void runMessageLoop();

// After the window is gone: waits for an install job that is still running.
void finishRun(Ctx& ctx);

}  // namespace wizard
