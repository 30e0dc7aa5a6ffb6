#include "wizard/hints/hints_retrieval.h"

#include "net/document.h"
#include "net/sha256.h"
#include "packages/manifest.h"
#include "prog/debug_log.h"
#include "util/files.h"
#include "util/paths.h"
#include "util/payload.h"
#include "util/text.h"
#include "wizard/hints/link_allowlist.h"
#include "wizard/wizard_messages.h"

#include <memory>

bool loadHints(const std::wstring& url, const std::string& expectedDigest, HintsDocument& doc,
               CancelEvent cancelEvent) {
  // The document decides which links the wizard offers: it is taken from the vendor alone.
  if (!isAllowedLink(url, kLinkKindVendor)) return false;
  std::string bytes;
  if (!fetchDocument(url, kMaxHintsDocumentBytes, bytes, cancelEvent).ok || bytes.empty()) return false;
  if (!expectedDigest.empty() && sha256Hex(bytes) != expectedDigest) return false;
  return parseHints(bytes, doc);
}

namespace wizard {

void retrieveHints(Ctx* ctx, HWND window) {
  const CancelEvent cancel = ctx->hintsCancelEvent.get();
  ServerManifest manifest;
  std::wstring error;
  if (!fetchServerManifest(ctx->baseUrl, manifest, &error, cancel)) {
    appendDebugLog("[hints] manifest fetch failed: " + util::toUtf8(error));
    return;
  }
  if (!manifest.hasHints) {
    appendDebugLog("[hints] manifest has no [hints] section");
    return;
  }
  auto document = std::make_unique<HintsDocument>();
  if (loadHints(manifest.hintsUrl, manifest.hintsSha256, *document, cancel) && document->hasContent) {
    appendDebugLog("[hints] applied: ds=" + std::to_string(document->dataSources.size()) +
                   " llm=" + std::to_string(document->links.size()));
    util::postPayload(window, WM_WIZ_HINTS, 0, std::move(document));
    return;
  }
  appendDebugLog("[hints] fetch/sha/parse failed: " + util::toUtf8(manifest.hintsUrl) +
                 " sha=" + manifest.hintsSha256);
}

}  // namespace wizard
