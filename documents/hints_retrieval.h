// Loading a hints document from the vendor's own site, without any window; the wizard's hints
// thread (wizard/hints_retrieval_window.h) hands the result to the window.
#pragma once

#include "documents/hints.h"
#include "net/download.h"

#include <string>

namespace documents {

// Fetches the document at url (only an https address on the vendor's own site; anything else is
// never fetched), checks its digest when one is given (lower-case hex), reads at most
// kMaxHintsDocumentBytes and parses it into doc. True when doc has content.
[[nodiscard]] bool loadHints(const std::wstring& url, const std::string& expectedDigest,
                             HintsDocument& doc, CancelEvent cancelEvent);

}  // namespace documents
