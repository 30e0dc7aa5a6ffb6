// The release key of a build, apart from the manifest code so that a test build of the program
// can carry the tests' key while every library stays the same.
#include "net/signature.h"
#include "packages/manifest.h"

#ifndef ORVALO_RELEASE_PUBLIC_KEY_A
#define ORVALO_RELEASE_PUBLIC_KEY_A ""
#endif

const std::string& builtInReleaseKey() {
  // base64 of X ‖ Y; anything else counts as no key.
  static const std::string key = [] {
    std::string bytes;
    return net::base64Decode(ORVALO_RELEASE_PUBLIC_KEY_A, bytes) && bytes.size() == net::kPublicKeyBytes
               ? bytes
               : std::string();
  }();
  return key;
}
