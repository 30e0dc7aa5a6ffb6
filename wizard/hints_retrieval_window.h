// The hints retrieval for the wizard: a newer hints document from the vendor's own site, fetched
// on a thread of its own while the wizard is open and handed to the window in one WM_WIZ_HINTS
// message. Best effort: every failure writes one line to the setup debug log and the built-in
// hints stay.
#pragma once

#include "wizard/wizard_ctx.h"

#include <windows.h>

namespace wizard {

// Body of the hints thread: reads baseUrl and hintsCancelEvent of ctx, writes nothing in it,
// and posts at most one WM_WIZ_HINTS with a documents::HintsDocument to window.
void retrieveHints(Ctx* ctx, HWND window);

}  // namespace wizard
