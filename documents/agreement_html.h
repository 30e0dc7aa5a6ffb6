// The agreement's HTML edition rewritten into the wizard's typography: fixed point sizes instead
// of the keyword sizes, one style block for the wizard's fonts, and a full document around a
// bare fragment; the mark that keeps the saved page in the Internet zone, and the addresses an
// edition is taken from. Plain string logic, safe on any thread.
#pragma once

#include <string>

namespace documents {

// The style block put before the first "</head>" (306 bytes, one line).
extern const char kAgreementStyleBlock[];

// Rewrites the document in place. The rewriting is textual: keyword sizes are replaced wherever
// they appear, exactly as written (no space after the colon, lower case).
void styleAgreementHtml(std::string& html);

// The comment (with its line break) that makes a page opened from a file run in the Internet
// zone instead of the Local Machine zone, which would let it do what local programs may.
extern const char kInternetZoneMark[];

// Puts kInternetZoneMark first in the document, after a leading UTF-8 byte-order mark: the
// control looks for the mark only at the top of the file.
void insertInternetZoneMark(std::string& html);

// True when address is an https address (the scheme in any letter case). An HTML edition is
// taken only from such an address: over http anyone on the way could put another page in.
[[nodiscard]] bool isHttpsAddress(const std::wstring& address);

}  // namespace documents
