// The release keys of a build, apart from the manifest code so that a test build of the program
// can carry the tests' keys while every library stays the same.
#include "net/signature.h"
#include "packages/manifest.h"

#ifndef ORVALO_RELEASE_PUBLIC_KEY_A
#define ORVALO_RELEASE_PUBLIC_KEY_A ""
#endif

const std::vector<std::string>& builtInReleaseKeys() {
  // base64 of X ‖ Y each, separated by commas (the configure step has checked the form). A key
  // that does not decode is kept as it is written: it verifies nothing, and it still counts as
  // a key, so that no malformed setting ever yields a setup that takes unsigned releases.
  static const std::vector<std::string> keys = [] {
    std::vector<std::string> decoded;
    const std::string setting = ORVALO_RELEASE_PUBLIC_KEY_A;
    for (size_t start = 0; start < setting.size();) {
      size_t end = setting.find(',', start);
      if (end == std::string::npos) end = setting.size();
      const std::string text = setting.substr(start, end - start);
      std::string bytes;
      decoded.push_back(net::base64Decode(text, bytes) ? bytes : text);
      start = end + 1;
    }
    return decoded;
  }();
  return keys;
}
