// The server manifest (manifest.ini): which packages to install, where the agreement and the hints
// are. Fetched fresh by each reader and parsed in memory (packages/manifest_ini.h).
#pragma once

#include "net/download.h"
#include "packages/release_serial.h"

#include <windows.h>

#include <string>
#include <vector>

// One package section.
struct ManifestEntry {
  std::wstring url;
  // Other addresses of the same file (mirrors=), tried in this order once url has failed.
  std::vector<std::wstring> mirrors;
  std::string sha256;  // UTF-8, ASCII lower case; empty: not verified
  // The package's index (index=) and its digest (index_sha256=), both or neither: an index is
  // trusted only through this digest. Empty: the package has none.
  std::wstring index;
  std::string indexSha256;
  std::wstring version;
  std::wstring filename;
  std::wstring exe;
  bool present = false;  // url not empty

  // url, then its mirrors: every address the file may come from.
  std::vector<std::wstring> sources() const;
};

struct ComponentEntry : ManifestEntry {
  std::wstring name;  // the section name as written
};

struct ServerManifest {
  ManifestEntry deps;
  ManifestEntry main;
  ManifestEntry llmDeps;
  std::wstring agreementUrl;
  std::vector<std::wstring> agreementMirrors;
  std::wstring agreementVersion;
  std::string agreementSha256;
  std::string agreementHtmlSha256;  // of the HTML edition; empty: not verified
  bool hasAgreement = false;
  std::wstring hintsUrl;
  std::string hintsSha256;
  bool hasHints = false;
  std::vector<ComponentEntry> components;  // in file order
  std::wstring releaseExpires;  // [release] expires, YYYY-MM-DD (UTC), as written
  std::wstring releaseSerial;   // [release] serial, as written
  // Verified against the built-in release keys: every digest was required and the HTML edition
  // of the agreement needs its own.
  bool signedRelease = false;
};

// The server used when no --base is given: the vendor's web site, without a trailing '/'.
std::wstring defaultServerBase();

// A manifest larger than this is refused while it streams.
constexpr size_t kMaxManifestBytes = 1048576;

// The release keys built into this executable (X ‖ Y, 64 bytes each), in the order the build
// names them; empty when the build has none.
const std::vector<std::string>& builtInReleaseKeys();

// Downloads base + "/download/manifest.ini" and parses it. On failure returns false with the
// failure in *failure (when given): a cancel, "获取版本清单失败：…" (a release that fails its
// signature, expiry, serial or digests as a verification failure) or the text for a manifest
// without its main or dependency package. With release keys the manifest must also come with a
// manifest.ini.sig valid by one of them, an [release] expires date not past, a serial not below
// the one remembered under HKCU\serialKey (empty: none is compared or remembered), and a digest
// for every package, the agreement and the hints; its serial is then remembered. Without a key
// everything is as before.
[[nodiscard]] bool fetchServerManifest(const std::wstring& base, ServerManifest& manifest,
                                       util::Failure* failure, CancelEvent cancelEvent,
                                       const std::vector<std::string>& releaseKeys = builtInReleaseKeys(),
                                       const std::wstring& serialKey = kReleaseSerialKey);

// Whether the release is past its last day (YYYY-MM-DD, UTC) on the given UTC day; an expiry
// that is no such date counts as past.
[[nodiscard]] bool releaseExpired(const std::wstring& expires, const SYSTEMTIME& today);

// At most this many mirrors per section: each dead one costs the user a connect time-out.
constexpr size_t kMaxMirrors = 8;

// Splits a mirrors= value at blanks; false with the reason in error when an address is not an
// absolute http or https one, or there are more than kMaxMirrors.
[[nodiscard]] bool parseMirrors(const std::wstring& section, const std::wstring& value,
                                std::vector<std::wstring>& mirrors, std::wstring& error);

// A digest as written, in the lower case of our own hashing's hex, to compare byte for byte.
std::string manifestDigest(const std::wstring& value);

// Checks a section's index address and digest as they came (the digest already lower case):
// both empty, or an absolute http or https address with a digest of 64 hex characters; false
// with the reason in error.
[[nodiscard]] bool checkPackageIndexRef(const std::wstring& section, const std::wstring& index,
                                        const std::string& indexSha256, std::wstring& error);

// Parses a manifest's bytes (the second half of fetchServerManifest); false with the reason in
// error for a manifest the parser refuses (packages/manifest_ini.h).
[[nodiscard]] bool parseManifest(const std::string& bytes, ServerManifest& manifest, std::wstring& error);
