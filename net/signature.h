// Release signatures: ECDSA P-256 over the SHA-256 of a file's exact bytes, through CNG. Keys and
// signatures travel as one line of base64 each, so that a build server can make them with
// OpenSSL as well (docs/vendors.md):
//   public key  = base64(X ‖ Y), the 64 bytes of the curve point
//   private key = base64(X ‖ Y ‖ d), 96 bytes
//   signature   = base64(r ‖ s), 64 bytes
#pragma once

#include <string>
#include <vector>

namespace net {

constexpr size_t kPublicKeyBytes = 64;
constexpr size_t kPrivateKeyBytes = 96;
constexpr size_t kSignatureBytes = 64;

// Standard base64 with padding; decoding refuses anything else (false).
std::string base64Encode(const std::string& bytes);
bool base64Decode(const std::string& text, std::string& bytes);

// A new key pair; false when CNG fails.
bool generateSigningKey(std::string& privateKey, std::string& publicKey);

// r ‖ s over the SHA-256 of bytes; false for a malformed key or a CNG failure.
bool signBytes(const std::string& bytes, const std::string& privateKey, std::string& signature);

// True only when signature is a valid r ‖ s by publicKey over the SHA-256 of bytes.
bool verifyBytes(const std::string& bytes, const std::string& publicKey, const std::string& signature);

// True when signature is valid by one of the keys (a build may know an old and a new release
// key). False whenever any key is not a point of the curve: a broken key in a build must show,
// not quietly leave the others to decide.
bool verifyBytesWithAnyKey(const std::string& bytes, const std::vector<std::string>& publicKeys,
                           const std::string& signature);

}  // namespace net
