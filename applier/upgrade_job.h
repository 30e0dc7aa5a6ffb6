// The upgrade job: fetches and verifies every package, waits for the client, snapshots the
// databases, puts the content in place, records the versions and restarts the client, also when
// putting the content in place failed after the client was closed. Runs on the helper's worker
// thread and reports only by posting WM_UPG_* messages to the window.
#pragma once

#include "applier/applier_ctx.h"

#include <windows.h>

namespace applier {

// Posts WM_UPG_DONE exactly once, as its last act; sets ctx->succeeded before a successful end.
void doUpgrade(Ctx* ctx, HWND window);

}  // namespace applier
