// Trust in a test certificate authority for the Wine prefix the program runs in: its DER bytes
// go to the current user's Root store, which that prefix alone sees. No prompt, nothing of the
// host's own certificates changes.
#pragma once

#include <string>

namespace testing_support {

// True when the authority is in the store afterwards (also when it was there before).
bool trustCertificateAuthority(const std::string& der);

}  // namespace testing_support
