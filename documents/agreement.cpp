#include "documents/agreement.h"

#include "documents/agreement_html.h"
#include "install/channel_stamp.h"
#include "net/document.h"
#include "net/download.h"
#include "net/sha256.h"
#include "packages/manifest.h"
#include "resources/resource_ids.h"
#include "util/files.h"
#include "util/paths.h"
#include "util/text.h"

#include <windows.h>

#include <string>
#include <vector>

namespace documents {
namespace {

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

bool endsWithTxt(const std::wstring& url) { return url.size() > 4 && util::endsWithIgnoringCase(url, L".txt"); }

}  // namespace

std::wstring fetchAgreementHtmlEdition(const ServerManifest& manifest, CancelEvent cancel) {
  const std::wstring& agreementUrl = manifest.agreementUrl;
  if (!endsWithTxt(agreementUrl)) return {};
  const std::wstring htmlUrl = agreementUrl.substr(0, agreementUrl.size() - 4) + L".html";
  if (!isHttpsAddress(htmlUrl)) return {};
  // A signed release vouches only for what carries a digest.
  if (manifest.signedRelease && manifest.agreementHtmlSha256.empty()) return {};
  std::string html;
  if (!fetchDocument(htmlUrl, kMaxAgreementBytes, html, cancel).ok() || html.empty()) return {};
  if (!manifest.agreementHtmlSha256.empty() && sha256Hex(html) != manifest.agreementHtmlSha256) return {};

  styleAgreementHtml(html);
  if (html.compare(0, 3, kUtf8Bom) != 0) html.insert(0, kUtf8Bom);
  insertInternetZoneMark(html);
  const std::wstring path = agreementHtmlFile();
  if (!util::writeFile(path, html.data(), html.size())) {
    (void)util::deleteFileForce(path);  // a half-written page is not shown
    return {};
  }
  return path;
}

std::wstring agreementHtmlFile() {
  return util::tempDirectory() + L"\\OrvaloSetup_agreement_" + std::to_wstring(GetCurrentProcessId()) + L".html";
}

bool fetchServerAgreement(const std::wstring& baseUrl, CancelEvent cancel, ServerManifest& manifest,
                          AgreementText& agreement) {
  if (!fetchServerManifest(baseUrl, manifest, nullptr, cancel) || !manifest.hasAgreement) return false;

  // Each mirror in turn, until one serves the text the manifest vouches for.
  std::vector<std::wstring> sources{manifest.agreementUrl};
  sources.insert(sources.end(), manifest.agreementMirrors.begin(), manifest.agreementMirrors.end());
  std::string text;
  bool fetched = false;
  for (const std::wstring& source : sources) {
    const DownloadResult download = fetchDocument(source, kMaxAgreementBytes, text, cancel);
    if (download.cancelled()) return false;
    fetched = download.ok() && !text.empty() &&
              (manifest.agreementSha256.empty() || sha256Hex(text) == manifest.agreementSha256);
    if (fetched) break;
  }
  if (!fetched) return false;
  agreement.version = manifest.agreementVersion;
  agreement.text = util::toWide(util::kCodePageUtf8, text);
  return true;
}

AgreementText builtInAgreement() {
  AgreementText agreement;
  agreement.version = kBuiltinAgreementVersion;
  std::string bytes;
  if (loadRcData(IDR_AGREEMENT_BUILTIN, bytes).empty()) agreement.text = util::toWide(util::kCodePageUtf8, bytes);
  return agreement;
}

}  // namespace documents
