// The hints retrieval: a newer hints document from the vendor's own site, fetched on a thread of
// its own while the wizard is open and handed to the window in one WM_WIZ_HINTS message. Best
// effort: every failure writes one line to the setup debug log and the built-in hints stay.
#pragma once

#include "net/download.h"
#include "wizard/hints/hints.h"
#include "wizard/wizard_ctx.h"

#include <windows.h>

#include <string>

namespace wizard {

// Body of the hints thread: reads baseUrl and hintsCancelEvent of ctx, writes nothing in it,
// and posts at most one WM_WIZ_HINTS with a HintsDocument to window.
void retrieveHints(Ctx* ctx, HWND window);

}  // namespace wizard

// Fetches the document at url (only an https address on the vendor's own site; anything else is
// never fetched), checks its digest when one is given (lower-case hex), reads at most
// kMaxHintsDocumentBytes and parses it into doc. True when doc has content.
[[nodiscard]] bool loadHints(const std::wstring& url, const std::string& expectedDigest,
                             HintsDocument& doc, CancelEvent cancelEvent);
