// The server manifest (manifest.ini): which packages to install, where the agreement and the hints
// are. Fetched fresh by each reader and parsed through the Windows profile API.
#pragma once

#include "net/download.h"

#include <windows.h>

#include <string>
#include <vector>

// One package section.
struct ManifestEntry {
  std::wstring url;
  std::string sha256;  // UTF-8, ASCII lower case; empty: not verified
  std::wstring version;
  std::wstring filename;
  std::wstring exe;
  bool present = false;  // url not empty
};

struct ComponentEntry : ManifestEntry {
  std::wstring name;  // the section name as written
};

struct ServerManifest {
  ManifestEntry deps;
  ManifestEntry main;
  ManifestEntry llmDeps;
  std::wstring agreementUrl;
  std::wstring agreementVersion;
  std::string agreementSha256;
  std::string agreementHtmlSha256;  // of the HTML edition; empty: not verified
  bool hasAgreement = false;
  std::wstring hintsUrl;
  std::string hintsSha256;
  bool hasHints = false;
  std::vector<ComponentEntry> components;  // in file order
  std::wstring releaseExpires;  // [release] expires, YYYY-MM-DD (UTC), as written
  // Verified against the built-in release key: every digest was required and the HTML edition
  // of the agreement needs its own.
  bool signedRelease = false;
};

// The server used when no --base is given: the vendor's web site, without a trailing '/'.
std::wstring defaultServerBase();

// A manifest larger than this is refused while it streams.
constexpr size_t kMaxManifestBytes = 1048576;

// The release key built into this executable (X ‖ Y, 64 bytes); empty when the build has none.
const std::string& builtInReleaseKey();

// Downloads base + "/download/manifest.ini" and parses it. On failure returns false with the
// failure text in *error (when given): "已取消", "获取版本清单失败：…" or the text for a manifest
// without its main or dependency package. With a release key the manifest must also come with
// a valid manifest.ini.sig, an [release] expires date not past, and a digest for every package,
// the agreement and the hints; without one everything is as before.
[[nodiscard]] bool fetchServerManifest(const std::wstring& base, ServerManifest& manifest,
                                       std::wstring* error, CancelEvent cancelEvent,
                                       const std::string& releaseKey = builtInReleaseKey());

// Whether the release is past its last day (YYYY-MM-DD, UTC) on the given UTC day; an expiry
// that is no such date counts as past.
[[nodiscard]] bool releaseExpired(const std::wstring& expires, const SYSTEMTIME& today);

// Reads one package section of a manifest file.
ManifestEntry readManifestEntry(const std::wstring& path, const std::wstring& section,
                                const std::wstring& defaultFilename);

// Parses a manifest file already on disk (the second half of fetchServerManifest).
void parseManifestFile(const std::wstring& path, ServerManifest& manifest);
