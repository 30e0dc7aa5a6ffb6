// The server manifest (manifest.ini): which packages to install, where the agreement and the hints
// are. Fetched fresh by each reader and parsed through the Windows profile API.
#pragma once

#include "net/download.h"

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
};

// The server used when no --base is given: the vendor's web site, without a trailing '/'.
std::wstring defaultServerBase();

// A manifest larger than this is refused while it streams.
constexpr size_t kMaxManifestBytes = 1048576;

// Downloads base + "/download/manifest.ini" and parses it. On failure returns false with the
// failure text in *error (when given): "已取消", "获取版本清单失败：…" or the text for a manifest
// without its main or dependency package.
[[nodiscard]] bool fetchServerManifest(const std::wstring& base, ServerManifest& manifest,
                                       std::wstring* error, CancelEvent cancelEvent);

// Reads one package section of a manifest file.
ManifestEntry readManifestEntry(const std::wstring& path, const std::wstring& section,
                                const std::wstring& defaultFilename);

// Parses a manifest file already on disk (the second half of fetchServerManifest).
void parseManifestFile(const std::wstring& path, ServerManifest& manifest);
