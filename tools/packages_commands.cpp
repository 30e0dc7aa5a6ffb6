#include "packages/manifest.h"
#include "packages/package_index_io.h"
#include "packages/zip_extract.h"
#include "packages/zip_place.h"
#include "tools/tool.h"
#include "util/copy_dir.h"
#include "util/text.h"

namespace tool {
namespace {

// unzip ZIP DIR: prints the content root.
int runUnzip(const Args& args) {
  if (args.size() != 2) return fail(L"usage: unzip ZIP DIR");
  std::wstring contentRoot;
  std::wstring failure;
  if (!extractZip(args[0], args[1], contentRoot, &failure, nullptr)) return fail(failure);
  printLine(contentRoot);
  return 0;
}

// place ZIP DIR: unpacks straight into DIR as an install does; prints "ok".
int runPlace(const Args& args) {
  if (args.size() != 2) return fail(L"usage: place ZIP DIR");
  util::Failure failure;
  if (!extractZipInPlace(args[0], args[1], PlaceHooks{}, &failure, nullptr)) return fail(failure.text);
  printLine("ok");
  return 0;
}

// copy SRC DST: prints "ok".
int runCopy(const Args& args) {
  if (args.size() != 2) return fail(L"usage: copy SRC DST");
  util::Failure failure;
  if (!util::copyDirContents(args[0], args[1], nullptr, &failure)) return fail(failure.text);
  printLine("ok");
  return 0;
}

// index ZIP OUT: writes the zip's package index to OUT; prints the number of file entries.
int runIndex(const Args& args) {
  if (args.size() != 2) return fail(L"usage: index ZIP OUT");
  PackageIndex index;
  std::wstring error;
  if (!buildPackageIndex(args[0], index, error) || !writePackageIndexFile(args[1], index, error)) {
    return fail(error);
  }
  printLine(std::to_string(index.entries.size()));
  return 0;
}

std::string jsonBool(bool value) { return value ? "true" : "false"; }

std::string entryFields(const ManifestEntry& e) {
  return "\"url\":" + jsonString(e.url) + ",\"sha256\":" +
         jsonString(util::toWide(util::kCodePageUtf8, e.sha256)) + ",\"version\":" + jsonString(e.version) +
         ",\"filename\":" + jsonString(e.filename) + ",\"exe\":" + jsonString(e.exe) +
         ",\"present\":" + jsonBool(e.present);
}

// manifest BASE: the parsed manifest as one line of JSON.
int runManifest(const Args& args) {
  if (args.size() != 1) return fail(L"usage: manifest BASE");
  ServerManifest m;
  util::Failure failure;
  // A look at the server, not an install: no serial is compared or remembered.
  if (!fetchServerManifest(args[0], m, &failure, nullptr, builtInReleaseKeys(), L"")) return fail(failure.text);
  std::string components;
  for (const ComponentEntry& c : m.components) {
    if (!components.empty()) components += ",";
    components += "{\"name\":" + jsonString(c.name) + "," + entryFields(c) + "}";
  }
  printLine("{\"deps\":{" + entryFields(m.deps) + "},\"main\":{" + entryFields(m.main) +
            "},\"llmDeps\":{" + entryFields(m.llmDeps) + "},\"components\":[" + components +
            "],\"agreementUrl\":" + jsonString(m.agreementUrl) +
            ",\"agreementVersion\":" + jsonString(m.agreementVersion) +
            ",\"agreementSha256\":" + jsonString(util::toWide(util::kCodePageUtf8, m.agreementSha256)) +
            ",\"agreementHtmlSha256\":" + jsonString(util::toWide(util::kCodePageUtf8, m.agreementHtmlSha256)) +
            ",\"hasAgreement\":" + jsonBool(m.hasAgreement) + ",\"hintsUrl\":" + jsonString(m.hintsUrl) +
            ",\"hintsSha256\":" + jsonString(util::toWide(util::kCodePageUtf8, m.hintsSha256)) +
            ",\"hasHints\":" + jsonBool(m.hasHints) + "}");
  return 0;
}

}  // namespace

std::vector<Command> packageCommands() {
  return {
      {L"unzip", "ZIP DIR", runUnzip},
      {L"place", "ZIP DIR", runPlace},
      {L"copy", "SRC DST", runCopy},
      {L"index", "ZIP OUT", runIndex},
      {L"manifest", "BASE", runManifest},
  };
}

}  // namespace tool
