#include "wizard/agreement_retrieval.h"

#include "net/document.h"
#include "net/download.h"
#include "net/error_text.h"
#include "net/sha256.h"
#include "net/single_stream.h"
#include "packages/manifest.h"
#include "util/files.h"
#include "util/handles.h"
#include "util/paths.h"
#include "util/payload.h"
#include "util/text.h"
#include "wizard/agreement_html.h"
#include "wizard/wizard_messages.h"

#include <bcrypt.h>

#include <cstdio>
#include <memory>
#include <string>

namespace wizard {
namespace {

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

struct AlgorithmTraits {
  using Type = BCRYPT_ALG_HANDLE;
  static Type invalid() noexcept { return nullptr; }
  static void close(Type h) noexcept { BCryptCloseAlgorithmProvider(h, 0); }
};

// The whole file, or empty when it is empty, larger than the bound or unreadable.
std::string readBounded(const std::wstring& path) {
  std::string bytes;
  if (!util::readFile(path, bytes, kMaxAgreementBytes)) bytes.clear();
  return bytes;
}

bool endsWithTxt(const std::wstring& url) {
  if (url.size() <= 4) return false;
  return CompareStringOrdinal(url.c_str() + url.size() - 4, 4, L".txt", 4, TRUE) == CSTR_EQUAL;
}

// SHA-256 of bytes held in memory as 64 lower-case hex characters, the form digestValue gives
// the manifest's digests; empty when CNG fails, which then matches no digest.
std::string sha256Hex(const std::string& bytes) {
  util::UniqueHandle<AlgorithmTraits> algorithm;
  unsigned char digest[32];
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
      !BCRYPT_SUCCESS(BCryptHash(algorithm.get(), nullptr, 0,
                                 reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                                 static_cast<ULONG>(bytes.size()), digest, sizeof digest))) {
    return {};
  }
  char hex[sizeof digest * 2 + 1];
  for (size_t i = 0; i < sizeof digest; ++i) snprintf(hex + 2 * i, 3, "%02x", digest[i]);
  return std::string(hex, sizeof digest * 2);
}

// One small document into memory, bounded by maxBytes, with no file left behind; ok, cancelled
// and message as in DownloadResult. The bytes pass through a file of this process's own.
DownloadResult downloadDocument(const std::wstring& url, size_t maxBytes, std::string& bytes,
                                CancelEvent cancel) {
  bytes.clear();
  const std::wstring path = agreementHtmlFile() + L".download";
  (void)util::deleteFileForce(path);
  DownloadResult result = downloadFile(url, path, ByteProgress(), cancel);
  if (result.ok && !util::readFile(path, bytes, maxBytes)) {
    result.ok = false;
    result.message = lastErrorText();
  }
  (void)util::deleteFileForce(path);
  (void)util::deleteFileForce(partialPath(path));
  return result;
}

// The HTML edition beside a ".txt" agreement, written to agreementHtmlFile() styled, with the
// byte-order mark the control needs to take it as UTF-8 and the Internet-zone mark; empty when
// there is none, when it would come over plain http or when it does not match its digest.
std::wstring fetchHtmlEdition(const ServerManifest& manifest, CancelEvent cancel) {
  const std::wstring& agreementUrl = manifest.agreementUrl;
  if (!endsWithTxt(agreementUrl)) return {};
  const std::wstring htmlUrl = agreementUrl.substr(0, agreementUrl.size() - 4) + L".html";
  if (!isHttpsAddress(htmlUrl)) return {};
  std::string html;
  if (!downloadDocument(htmlUrl, kMaxAgreementBytes, html, cancel).ok || html.empty()) return {};
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

}  // namespace

std::wstring agreementHtmlFile() {
  return util::tempDirectory() + L"\\OrvaloSetup_agreement_" + std::to_wstring(GetCurrentProcessId()) + L".html";
}

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
  payload->htmlPath = fetchHtmlEdition(manifest, cancel);
  // A window on its way out has stopped the HTML download; it wants nothing posted any more.
  if (isCancelSignalled(cancel)) return;
  util::postPayload(window, WM_WIZ_AGREEMENT, 0, std::move(payload));
}

}  // namespace wizard
