// allow, hints, gpu: the link allowlist, a local hints document and the GPU advice, as the wizard
// would see them.
#include "tools/texts.h"
#include "tools/tool.h"

#include "documents/hints.h"
#include "documents/link_allowlist.h"
#include "install/gpu.h"
#include "util/error_text.h"
#include "util/files.h"
#include "util/text.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace tool {
namespace {

std::string linkJson(const std::wstring* tier, const std::wstring& label, const std::wstring& url) {
  std::string out = "{";
  if (tier) out += "\"tier\":" + jsonString(*tier) + ",";
  return out + "\"label\":" + jsonString(label) + ",\"url\":" + jsonString(url) + "}";
}

std::string hintsJson(const documents::HintsDocument& doc) {
  std::string dataSources, links, models;
  for (const documents::HintLink& l : doc.dataSources) {
    dataSources += (dataSources.empty() ? "" : ",") + linkJson(nullptr, l.label, l.url);
  }
  for (const documents::HintLink& l : doc.links) {
    links += (links.empty() ? "" : ",") + linkJson(nullptr, l.label, l.url);
  }
  for (const documents::ModelEntry& m : doc.models) {
    models += (models.empty() ? "" : ",") + linkJson(&m.tier, m.label, m.url);
  }
  return "{\"dataSourceIntro\":" + jsonString(doc.dataSourceIntro) + ",\"dataSources\":[" +
         dataSources + "],\"modelFileNote\":" + jsonString(doc.modelFileNote) +
         ",\"mirrorNote\":" + jsonString(doc.mirrorNote) + ",\"helpTitle\":" +
         jsonString(doc.helpTitle) + ",\"helpUrl\":" + jsonString(doc.helpUrl) + ",\"links\":[" +
         links + "],\"models\":[" + models + "],\"hasContent\":" +
         (doc.hasContent ? "true" : "false") + "}";
}

// orvalo-tool allow URL KIND: prints "allowed" (exit 0) or "refused" (exit 1).
int runAllow(const Args& args) {
  if (args.size() != 2) return fail(L"usage: allow URL KIND");
  wchar_t* end = nullptr;
  errno = 0;
  const long kind = std::wcstol(args[1].c_str(), &end, 10);
  if (args[1].empty() || *end != L'\0' || errno == ERANGE || kind < INT_MIN || kind > INT_MAX) {
    return fail(L"KIND must be an integer: " + args[1]);
  }
  const bool allowed = documents::isAllowedLink(args[0], static_cast<int>(kind));
  printLine(allowed ? "allowed" : "refused");
  return allowed ? 0 : 1;
}

// orvalo-tool hints FILE: the parsed document as one line of JSON.
int runHints(const Args& args) {
  if (args.size() != 1) return fail(L"usage: hints FILE");
  std::string bytes;
  if (!util::readFile(args[0], bytes, documents::kMaxHintsDocumentBytes)) {
    return fail(L"cannot read " + args[0] + kParenOpen + lastErrorText() + kParenClose);
  }
  documents::HintsDocument doc;
  if (!documents::parseHints(bytes, doc)) return fail(L"no content");
  printLine(hintsJson(doc));
  return 0;
}

// orvalo-tool gpu: the adapter the wizard would choose and its advice.
int runGpu(const Args& args) {
  if (!args.empty()) return fail(L"usage: gpu");
  const install::GpuInfo gpu = install::detectGpu();
  printLine(std::string("{\"capable\":") + (gpu.gpuCapable ? "true" : "false") +
            ",\"name\":" + jsonString(gpu.name) +
            ",\"dedicatedBytes\":" + std::to_string(gpu.dedicatedBytes) +
            ",\"tier\":" + jsonString(install::tierFor(gpu)) + ",\"text\":" + jsonString(install::gpuText(gpu)) + "}");
  return 0;
}

}  // namespace

std::vector<Command> hintsCommands() {
  return {
      {L"allow", "URL KIND          is the address allowed for link kind 0, 1 or 2", runAllow},
      {L"hints", "FILE              parse a local hints document", runHints},
      {L"gpu", "                  the graphics adapter and the model advice", runGpu},
  };
}

}  // namespace tool
