// The agreement's HTML edition rewritten into the wizard's typography: fixed point sizes instead
// of the keyword sizes, one style block for the wizard's fonts, and a full document around a
// bare fragment. Plain byte-string logic, safe on any thread.
#pragma once

#include <string>

namespace wizard {

// The style block put before the first "</head>" (306 bytes, one line).
extern const char kAgreementStyleBlock[];

// Rewrites the document in place. The rewriting is textual: keyword sizes are replaced wherever
// they appear, exactly as written (no space after the colon, lower case).
void styleAgreementHtml(std::string& html);

}  // namespace wizard
