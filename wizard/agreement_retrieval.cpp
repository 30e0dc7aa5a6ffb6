#include "wizard/agreement_retrieval.h"

#include "net/document.h"
#include "net/download.h"
#include "net/sha256.h"
#include "packages/manifest.h"
#include "util/files.h"
#include "util/paths.h"
#include "util/payload.h"
#include "util/text.h"
#include "wizard/agreement_html.h"
#include "wizard/wizard_messages.h"

#include <memory>
#include <string>

namespace wizard {
namespace {

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

// The whole file, or empty when it is empty, larger than the bound or unreadable.
std::string readBounded(const std::wstring& path) {
  std::string bytes;
  if (!util::readFile(path, bytes, kMaxAgreementBytes)) bytes.clear();
  return bytes;
}

bool endsWithTxt(const std::wstring& url) { return url.size() > 4 && util::endsWithIgnoringCase(url, L".txt"); }

// The HTML edition beside a ".txt" agreement, styled and with the byte-order mark the control
// needs to take it as UTF-8; empty when there is none. It has no digest of its own.
std::wstring fetchHtmlEdition(const std::wstring& agreementUrl, CancelEvent cancel) {
  if (!endsWithTxt(agreementUrl)) return {};
  const std::wstring htmlUrl = agreementUrl.substr(0, agreementUrl.size() - 4) + L".html";
  const std::wstring path = util::tempDirectory() + L"\\OrvaloSetup_agreement.html";
  (void)util::deleteFileForce(path);
  if (!downloadFile(htmlUrl, path, ByteProgress(), cancel).ok) return {};
  std::string html = readBounded(path);
  if (html.empty()) {
    (void)util::deleteFileForce(path);
    return {};
  }
  styleAgreementHtml(html);
  if (html.compare(0, 3, kUtf8Bom) != 0) html.insert(0, kUtf8Bom);
  // A file that cannot be written back is still named: the view shows what is on disk.
  (void)util::writeFile(path, html.data(), html.size());
  return path;
}

}  // namespace

void retrieveAgreement(Ctx* ctx, HWND window) {
  const CancelEvent cancel = ctx->agreementCancelEvent.get();
  ServerManifest manifest;
  if (!fetchServerManifest(ctx->baseUrl, manifest, nullptr, cancel) || !manifest.hasAgreement) return;

  std::string text;
  if (!fetchDocument(manifest.agreementUrl, kMaxAgreementBytes, text, cancel).ok || text.empty()) return;
  if (!manifest.agreementSha256.empty() && sha256Hex(text) != manifest.agreementSha256) return;

  auto payload = std::make_unique<AgreementPayload>();
  payload->version = manifest.agreementVersion;
  payload->text = util::toWide(util::kCodePageUtf8, text);
  payload->htmlPath = fetchHtmlEdition(manifest.agreementUrl, cancel);
  // A window on its way out has stopped the HTML download; it wants nothing posted any more.
  if (isCancelSignalled(cancel)) return;
  util::postPayload(window, WM_WIZ_AGREEMENT, 0, std::move(payload));
}

}  // namespace wizard
