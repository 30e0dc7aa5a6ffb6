#include "packages/manifest.h"

#include "net/document.h"
#include "net/signature.h"
#include "packages/manifest_ini.h"
#include "packages/texts.h"
#include "util/client_contract.h"
#include "util/text.h"

#include <windows.h>

namespace {

const wchar_t* const kReservedSections[] = {L"main", L"deps", L"llm_deps", L"agreement", L"hints",
                                            L"setup", L"release"};
constexpr size_t kMaxSignatureBytes = 1024;

}  // namespace

std::string manifestDigest(const std::wstring& value) {
  std::string utf8 = util::toUtf8(value);
  for (char& c : utf8) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return utf8;
}

namespace {

bool isReservedSection(const std::wstring& name) {
  for (const wchar_t* reserved : kReservedSections) {
    if (util::equalsIgnoringCase(name, reserved)) return true;
  }
  return false;
}

// Only what the download paths can fetch: a relative mirror would need a base nobody names.
bool isAbsoluteHttpUrl(const std::wstring& url) {
  for (const wchar_t* scheme : {L"http://", L"https://"}) {
    const size_t length = wcslen(scheme);
    if (url.size() > length && util::equalsIgnoringCase(url.substr(0, length), scheme)) return true;
  }
  return false;
}

bool readManifestEntry(const IniDocument& ini, const std::wstring& section, const std::wstring& defaultFilename,
                       ManifestEntry& entry, std::wstring& error) {
  entry = ManifestEntry{};
  if (!parseMirrors(section, ini.value(section, L"mirrors"), entry.mirrors, error)) return false;
  entry.url = ini.value(section, L"url");
  entry.version = ini.value(section, L"version");
  entry.filename = ini.value(section, L"filename");
  entry.exe = ini.value(section, L"exe");
  entry.sha256 = manifestDigest(ini.value(section, L"sha256"));
  entry.index = ini.value(section, L"index");
  entry.indexSha256 = manifestDigest(ini.value(section, L"index_sha256"));
  if (!checkPackageIndexRef(section, entry.index, entry.indexSha256, error)) return false;
  if (entry.filename.empty()) entry.filename = defaultFilename;
  if (entry.exe.empty()) entry.exe = client::kDefaultExeName;
  entry.present = !entry.url.empty();
  return true;
}

}  // namespace

std::vector<std::wstring> ManifestEntry::sources() const {
  std::vector<std::wstring> all{url};
  all.insert(all.end(), mirrors.begin(), mirrors.end());
  return all;
}

bool parseMirrors(const std::wstring& section, const std::wstring& value, std::vector<std::wstring>& mirrors,
                  std::wstring& error) {
  mirrors.clear();
  size_t at = 0;
  while (at < value.size()) {
    if (value[at] == L' ' || value[at] == L'\t') {
      ++at;
      continue;
    }
    const size_t end = value.find_first_of(L" \t", at);
    const std::wstring url = value.substr(at, end == std::wstring::npos ? std::wstring::npos : end - at);
    at = end == std::wstring::npos ? value.size() : end;
    if (!isAbsoluteHttpUrl(url)) {
      error = packages::kBadMirrorBefore + section + packages::kBadMirrorAfter + url;
      return false;
    }
    if (mirrors.size() == kMaxMirrors) {
      error = packages::kBadMirrorBefore + section + packages::kTooManyMirrorsAfter + std::to_wstring(kMaxMirrors) +
              packages::kTooManyMirrorsEnd;
      return false;
    }
    mirrors.push_back(url);
  }
  return true;
}

bool checkPackageIndexRef(const std::wstring& section, const std::wstring& index, const std::string& indexSha256,
                          std::wstring& error) {
  if (index.empty() && indexSha256.empty()) return true;
  if (!isAbsoluteHttpUrl(index)) {
    error = packages::kBadMirrorBefore + section + packages::kBadIndexAfter + index;
    return false;
  }
  const bool hex = indexSha256.size() == client::kSha256HexLength &&
                   indexSha256.find_first_not_of("0123456789abcdef") == std::string::npos;
  if (!hex) {
    error = packages::kBadMirrorBefore + section + packages::kBadIndexDigestAfter;
    return false;
  }
  return true;
}

std::wstring defaultServerBase() { return ORVALO_DEFAULT_BASE_URL_W; }

bool parseManifest(const std::string& bytes, ServerManifest& manifest, std::wstring& error) {
  manifest = ServerManifest{};
  IniDocument ini;
  if (!parseIni(decodeManifestText(bytes), ini, error)) return false;
  if (!readManifestEntry(ini, L"deps", L"deps.zip", manifest.deps, error) ||
      !readManifestEntry(ini, L"main", L"main.zip", manifest.main, error) ||
      !readManifestEntry(ini, L"llm_deps", L"llm_deps.zip", manifest.llmDeps, error) ||
      !parseMirrors(L"agreement", ini.value(L"agreement", L"mirrors"), manifest.agreementMirrors, error)) {
    return false;
  }
  for (const IniSection& section : ini.sections) {
    if (isReservedSection(section.name)) continue;
    ComponentEntry component;
    if (!readManifestEntry(ini, section.name, section.name + L".zip", component, error)) return false;
    if (!component.present) continue;
    component.name = section.name;
    manifest.components.push_back(std::move(component));
  }
  manifest.agreementUrl = ini.value(L"agreement", L"url");
  manifest.agreementVersion = ini.value(L"agreement", L"version");
  manifest.agreementSha256 = manifestDigest(ini.value(L"agreement", L"sha256"));
  manifest.agreementHtmlSha256 = manifestDigest(ini.value(L"agreement", L"html_sha256"));
  manifest.hintsUrl = ini.value(L"hints", L"url");
  manifest.hintsSha256 = manifestDigest(ini.value(L"hints", L"sha256"));
  manifest.hasAgreement = !manifest.agreementUrl.empty();
  manifest.hasHints = !manifest.hintsUrl.empty();
  manifest.releaseExpires = ini.value(L"release", L"expires");
  manifest.releaseSerial = ini.value(L"release", L"serial");
  return true;
}

bool releaseExpired(const std::wstring& expires, const SYSTEMTIME& today) {
  unsigned year = 0, month = 0, day = 0;
  wchar_t rest = 0;
  if (expires.size() != 10 || swscanf(expires.c_str(), L"%4u-%2u-%2u%lc", &year, &month, &day, &rest) != 3 ||
      month < 1 || month > 12 || day < 1 || day > 31) {
    return true;
  }
  const unsigned last = year * 10000 + month * 100 + day;
  const unsigned now = today.wYear * 10000u + today.wMonth * 100u + today.wDay;
  return now > last;
}

namespace {

// The section of the first entry without a digest; empty when every one has its digest.
std::wstring firstWithoutDigest(const ServerManifest& m) {
  if (m.deps.present && m.deps.sha256.empty()) return L"deps";
  if (m.main.present && m.main.sha256.empty()) return L"main";
  if (m.llmDeps.present && m.llmDeps.sha256.empty()) return L"llm_deps";
  for (const ComponentEntry& c : m.components) {
    if (c.sha256.empty()) return c.name;
  }
  if (m.hasAgreement && m.agreementSha256.empty()) return L"agreement";
  if (m.hasHints && m.hintsSha256.empty()) return L"hints";
  return {};
}

// The release checks built-in keys add: signature over the exact bytes, expiry, serial, digests.
std::wstring releaseFailure(const std::string& bytes, const std::string& signatureText,
                            const std::vector<std::string>& keys, const ServerManifest& manifest,
                            uint64_t rememberedSerial) {
  std::string text = signatureText;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  std::string signature;
  if (!net::base64Decode(text, signature) || !net::verifyBytesWithAnyKey(bytes, keys, signature)) {
    return packages::kSignatureInvalid;
  }
  SYSTEMTIME today{};
  GetSystemTime(&today);
  if (manifest.releaseExpires.empty()) return packages::kExpiryMissing;
  if (releaseExpired(manifest.releaseExpires, today)) return packages::kExpired;
  uint64_t serial = 0;
  if (!parseReleaseSerial(manifest.releaseSerial, serial)) return packages::kSerialMissing;
  if (serial < rememberedSerial) return packages::kOutdated;
  const std::wstring missing = firstWithoutDigest(manifest);
  if (!missing.empty()) return packages::kDigestMissingBefore + missing + packages::kDigestMissingAfter;
  return {};
}

}  // namespace

bool fetchServerManifest(const std::wstring& base, ServerManifest& manifest, util::Failure* failure,
                         CancelEvent cancelEvent, const std::vector<std::string>& releaseKeys,
                         const std::wstring& serialKey) {
  const std::wstring url = (base.empty() ? defaultServerBase() : base) + L"/download/manifest.ini";
  std::string bytes;
  const DownloadResult download = fetchDocument(url, kMaxManifestBytes, bytes, cancelEvent);
  const auto fail = [failure](util::Failure what) {
    if (failure) *failure = std::move(what);
    return false;
  };
  using util::FailureKind;
  if (!download.ok()) return fail(util::prefixed(packages::kManifestFailedPrefix, download.failure));
  std::string signature;
  if (!releaseKeys.empty()) {
    const DownloadResult fetched = fetchDocument(url + L".sig", kMaxSignatureBytes, signature, cancelEvent);
    if (fetched.cancelled()) return fail(fetched.failure);
  }
  std::wstring problem;
  if (!parseManifest(bytes, manifest, problem)) {
    return fail(util::failure(FailureKind::kNetwork, packages::kManifestFailedPrefix + problem));
  }
  if (!releaseKeys.empty()) {
    const uint64_t remembered = serialKey.empty() ? 0 : rememberedReleaseSerial(serialKey);
    problem = releaseFailure(bytes, signature, releaseKeys, manifest, remembered);
    if (!problem.empty()) {
      return fail(util::failure(FailureKind::kVerification, packages::kManifestFailedPrefix + problem));
    }
    manifest.signedRelease = true;
  }

  if (!manifest.main.present || !manifest.deps.present) {
    return fail(util::failure(FailureKind::kNetwork, packages::kManifestIncompleteText));
  }
  uint64_t serial = 0;
  if (manifest.signedRelease && !serialKey.empty() && parseReleaseSerial(manifest.releaseSerial, serial)) {
    rememberReleaseSerial(serialKey, serial);
  }
  return true;
}
