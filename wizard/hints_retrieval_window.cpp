#include "wizard/hints_retrieval_window.h"

#include "documents/hints_retrieval.h"
#include "packages/manifest.h"
#include "prog/debug_log.h"
#include "util/payload.h"
#include "util/text.h"
#include "wizard/wizard_messages.h"

#include <memory>

namespace wizard {

void retrieveHints(Ctx* ctx, HWND window) {
  const CancelEvent cancel = ctx->hintsCancelEvent.get();
  ServerManifest manifest;
  util::Failure failure;
  if (!fetchServerManifest(ctx->baseUrl, manifest, &failure, cancel)) {
    appendDebugLog("[hints] manifest fetch failed: " + util::toUtf8(failure.text));
    return;
  }
  if (!manifest.hasHints) {
    appendDebugLog("[hints] manifest has no [hints] section");
    return;
  }
  auto document = std::make_unique<documents::HintsDocument>();
  if (documents::loadHints(manifest.hintsUrl, manifest.hintsSha256, *document, cancel) && document->hasContent) {
    appendDebugLog("[hints] applied: ds=" + std::to_string(document->dataSources.size()) +
                   " llm=" + std::to_string(document->links.size()));
    util::postPayload(window, WM_WIZ_HINTS, 0, std::move(document));
    return;
  }
  appendDebugLog("[hints] fetch/sha/parse failed: " + util::toUtf8(manifest.hintsUrl) +
                 " sha=" + manifest.hintsSha256);
}

}  // namespace wizard
