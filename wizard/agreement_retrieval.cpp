#include "wizard/agreement_retrieval.h"

#include "documents/agreement.h"
#include "packages/manifest.h"
#include "util/payload.h"
#include "wizard/wizard_messages.h"

#include <memory>
#include <string>

namespace wizard {

void retrieveAgreement(Ctx* ctx, HWND window) {
  const CancelEvent cancel = ctx->agreementCancelEvent.get();
  ServerManifest manifest;
  documents::AgreementText agreement;
  if (!documents::fetchServerAgreement(ctx->baseUrl, cancel, manifest, agreement)) return;

  auto payload = std::make_unique<AgreementPayload>();
  payload->version = agreement.version;
  payload->text = std::move(agreement.text);
  payload->htmlPath = documents::fetchAgreementHtmlEdition(manifest, cancel);
  // A window on its way out has stopped the HTML download; it wants nothing posted any more.
  if (isCancelSignalled(cancel)) return;
  util::postPayload(window, WM_WIZ_AGREEMENT, 0, std::move(payload));
}

}  // namespace wizard
