// verify-server: checks a live download server as the installer will meet it, before users do.
// One line per entry on standard output ("name: ok …" or "name: error: …"), download progress on
// standard error, a summary line last; exit 0 only when every entry is well.
#include "documents/agreement.h"
#include "documents/hints.h"
#include "install/package_list.h"
#include "net/document.h"
#include "net/http_connection.h"
#include "net/resume.h"
#include "net/sha256.h"
#include "net/signature.h"
#include "packages/manifest.h"
#include "tools/release_checks.h"
#include "tools/texts.h"
#include "tools/tool.h"
#include "util/error_text.h"
#include "util/files.h"
#include "util/paths.h"
#include "util/text.h"

#include <windows.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace tool {
namespace {

// The middle range asked of every package: enough to see the server cut where it is told.
constexpr uint64_t kMiddleRangeBytes = 65536;

class Report {
 public:
  void entry(const std::wstring& name, const std::wstring& problem, const std::wstring& okDetail = {}) {
    ++entries_;
    if (problem.empty()) {
      printLine(name + L": ok" + (okDetail.empty() ? L"" : kParenOpen + okDetail + kParenClose));
    } else {
      ++failed_;
      printLine(name + L": error: " + problem);
    }
  }

  int finish() {
    if (failed_ == 0) {
      printLine(L"ok: " + std::to_wstring(entries_) + kAllEntriesFine);
      return 0;
    }
    printLine(L"error: " + std::to_wstring(entries_) + kEntriesOf + std::to_wstring(failed_) + kEntriesFailed);
    return 1;
  }

 private:
  int entries_ = 0;
  int failed_ = 0;
};

// A GET for bytes [start, end]: the status, the Content-Range when there is one and up to
// limit bytes of the body.
struct RangeAnswer {
  std::wstring failure;  // the request could not be made
  DWORD status = 0;
  bool hasRange = false;
  ContentRange range;
  uint64_t length = 0;
  uint64_t bodyBytes = 0;
};

RangeAnswer askRange(const std::wstring& url, uint64_t start, uint64_t end, uint64_t limit) {
  RangeAnswer answer;
  HttpConnection connection;
  if (!openHttpConnection(connection, url)) {
    answer.failure = kBadAddressPrefix + lastErrorText() + kParenClose;
    return answer;
  }
  InternetHandle request = openGetRequest(connection);
  if (!request || !sendRequest(request.get(), rangeHeaders(start, end, std::wstring()))) {
    answer.failure = kConnectFailedPrefix + lastErrorText() + kParenClose;
    return answer;
  }
  answer.status = responseStatus(request.get());
  answer.length = responseContentLength(request.get());
  answer.hasRange = responseContentRange(request.get(), answer.range);
  std::vector<char> buffer(65536);
  DWORD read = 0;
  while (answer.bodyBytes <= limit && WinHttpReadData(request.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read) &&
         read > 0) {
    answer.bodyBytes += read;
  }
  return answer;
}

// What the multi-part download relies on: a size stated by a 206 for the first byte, and a
// middle range cut exactly where asked.
std::wstring rangeProblem(const std::wstring& url, uint64_t& size) {
  const RangeAnswer first = askRange(url, 0, 0, 1);
  if (!first.failure.empty()) return first.failure;
  if (first.status == HTTP_STATUS_OK) return kRangeIgnored;
  if (first.status != HTTP_STATUS_PARTIAL_CONTENT) return kUnexpectedStatus + std::to_wstring(first.status);
  if (!first.hasRange || first.range.total == 0) return kNoTotalSize;
  size = first.range.total;
  const uint64_t start = size / 2;
  const uint64_t end = std::min(size - 1, start + kMiddleRangeBytes - 1);
  const RangeAnswer middle = askRange(url, start, end, end - start + 1);
  if (!middle.failure.empty()) return middle.failure;
  if (middle.status != HTTP_STATUS_PARTIAL_CONTENT) {
    return kMiddleStatusPrefix + std::to_wstring(middle.status) + kMiddleStatusSuffix;
  }
  if (!middle.hasRange || middle.range.start != start || middle.range.end != end || middle.range.total != size ||
      middle.bodyBytes != end - start + 1) {
    return kMiddleRangePrefix + std::to_wstring(start) + L"-" + std::to_wstring(end) + kMiddleRangeMismatch;
  }
  return {};
}

// Download progress on standard error, at most one update per percent.
ByteProgress progressLine(const std::wstring& name) {
  auto last = std::make_shared<int>(-1);
  return [name, last](uint64_t done, uint64_t total) {
    const int percent = total == 0 ? 0 : static_cast<int>(done * 100 / total);
    if (percent != *last) {
      *last = percent;
      const std::string text = "\r" + util::toUtf8(name) + " " + std::to_string(percent) + "%";
      DWORD written = 0;
      WriteFile(GetStdHandle(STD_ERROR_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
    return true;
  };
}

void endProgressLine() {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), "\n", 1, &written, nullptr);
}

std::wstring sizeText(uint64_t bytes) { return std::to_wstring(bytes) + kBytes; }

// The line names of an entry's sources: the section, then "section mirror N" for each mirror.
std::vector<std::wstring> sourceNames(const std::wstring& name, size_t mirrors) {
  std::vector<std::wstring> names{name};
  for (size_t i = 1; i <= mirrors; ++i) names.push_back(name + kMirrorEntry + std::to_wstring(i));
  return names;
}

// One address of a package: reachable with its size and ranges, then downloaded whole for its
// digest and opened as the installer would open it.
void checkPackageAt(Report& report, const std::wstring& name, const std::wstring& url, const ManifestEntry& entry) {
  uint64_t size = 0;
  std::wstring problem = rangeProblem(url, size);
  if (!problem.empty()) return report.entry(name, problem);

  // Named by this process, never by the server: a hostile name must not choose where it lands.
  static unsigned downloads = 0;
  const std::wstring temp = util::tempDirectory() + L"\\orvalo_verify_" + std::to_wstring(GetCurrentProcessId()) +
                            L"_" + std::to_wstring(++downloads) + L".download";
  const DownloadResult download = downloadFile(url, temp, progressLine(name), nullptr);
  endProgressLine();
  std::string digest;
  util::Failure hashFailure;
  if (!download.ok()) {
    problem = kDownloadFailed + download.failure.text;
  } else if (!sha256File(temp, digest, &hashFailure, {})) {
    problem = kCannotHash + hashFailure.text;
  } else if (!entry.sha256.empty() && digest != entry.sha256) {
    problem = kDigestMismatchPrefix + util::toWide(util::kCodePageUtf8, entry.sha256) + kDigestActual +
              util::toWide(util::kCodePageUtf8, digest) + kParenClose;
  } else {
    problem = packageProblem(temp, entry.filename);
  }
  (void)util::deleteFileForce(temp);
  report.entry(name, problem, sizeText(size) + (entry.sha256.empty() ? kNoDigestAfterSize : L""));
}

// Every source of a package, each on a line of its own: a broken mirror is found by the vendor,
// not by the users whose first source failed.
void checkPackage(Report& report, const std::wstring& name, const ManifestEntry& entry) {
  const std::vector<std::wstring> sources = entry.sources();
  const std::vector<std::wstring> names = sourceNames(name, entry.mirrors.size());
  for (size_t i = 0; i < sources.size(); ++i) checkPackageAt(report, names[i], sources[i], entry);
}

// A document: fetched within its bound, matching its digest when one is given.
std::wstring documentProblem(const std::wstring& url, size_t bound, const std::string& expected, std::string& bytes) {
  const DownloadResult fetched = fetchDocument(url, bound, bytes, nullptr);
  if (!fetched.ok()) return kFetchFailed + fetched.failure.text;
  if (!expected.empty() && sha256Hex(bytes) != expected) return kDigestMismatch;
  return {};
}

void checkAgreement(Report& report, const ServerManifest& m) {
  std::vector<std::wstring> sources{m.agreementUrl};
  sources.insert(sources.end(), m.agreementMirrors.begin(), m.agreementMirrors.end());
  const std::vector<std::wstring> names = sourceNames(L"agreement", m.agreementMirrors.size());
  for (size_t i = 0; i < sources.size(); ++i) {
    std::string bytes;
    std::wstring problem = documentProblem(sources[i], documents::kMaxAgreementBytes, m.agreementSha256, bytes);
    if (problem.empty()) problem = agreementProblem(bytes);
    report.entry(names[i], problem, m.agreementSha256.empty() ? kNoDigest : L"");
  }
  if (m.agreementHtmlSha256.empty() || !util::endsWithIgnoringCase(m.agreementUrl, L".txt")) return;
  const std::wstring html = m.agreementUrl.substr(0, m.agreementUrl.size() - 4) + L".html";
  std::string page;
  report.entry(L"agreement.html", documentProblem(html, documents::kMaxAgreementBytes, m.agreementHtmlSha256, page));
}

void checkHints(Report& report, const ServerManifest& m, const std::wstring& vendorDomain) {
  std::string bytes;
  std::wstring problem = hintsAddressProblem(m.hintsUrl, vendorDomain);
  if (problem.empty()) problem = documentProblem(m.hintsUrl, documents::kMaxHintsDocumentBytes, m.hintsSha256, bytes);
  if (problem.empty()) problem = hintsProblem(bytes);
  report.entry(L"hints", problem);
}

}  // namespace

// verify-server BASE [--key PUBLIC_FILE] [--vendor-domain D]
int runVerifyServer(const Args& args) {
  Args positional;
  std::map<std::wstring, std::wstring> options;
  std::wstring error;
  if (!parseOptions(args, {L"--key", L"--vendor-domain"}, positional, options, error)) return fail(error);
  if (positional.size() != 1) return fail(L"usage: verify-server BASE [--key PUBLIC_FILE] [--vendor-domain D]");
  std::wstring base = positional[0];
  while (!base.empty() && base.back() == L'/') base.pop_back();
  std::vector<std::string> keys = builtInReleaseKeys();
  if (!options[L"--key"].empty()) {
    keys.assign(1, std::string());
    if (!readBase64File(options[L"--key"], net::kPublicKeyBytes, keys[0])) return fail(kBadPublicKey + options[L"--key"]);
  }

  Report report;
  ServerManifest m;
  // The vendor checks what the server offers: nothing is compared with, or remembered as, the
  // serial of a release this machine has installed.
  util::Failure failure;
  if (!fetchServerManifest(base, m, &failure, nullptr, keys, L"")) {
    report.entry(L"manifest.ini", failure.text);
    return report.finish();
  }
  report.entry(L"manifest.ini", manifestNamesProblem(m),
               m.signedRelease ? kSignatureValid + m.releaseSerial + kValidUntil + m.releaseExpires
                               : std::wstring(kSignatureNotChecked));
  checkPackage(report, L"deps", m.deps);
  for (const ComponentEntry& component : m.components) checkPackage(report, component.name, component);
  checkPackage(report, L"main", m.main);
  if (m.llmDeps.present) checkPackage(report, L"llm_deps", m.llmDeps);
  if (m.hasAgreement) checkAgreement(report, m);
  if (m.hasHints) checkHints(report, m, vendorDomainOption(options[L"--vendor-domain"]));
  return report.finish();
}

}  // namespace tool
