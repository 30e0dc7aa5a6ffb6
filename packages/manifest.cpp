#include "packages/manifest.h"

#include "net/document.h"
#include "net/signature.h"
#include "util/client_contract.h"
#include "util/files.h"
#include "util/paths.h"
#include "util/text.h"

#include <windows.h>

#include <atomic>

namespace {

constexpr DWORD kValueChars = 1024;
constexpr DWORD kSectionListChars = 8192;
const wchar_t* const kReservedSections[] = {L"main", L"deps", L"llm_deps", L"agreement", L"hints",
                                            L"setup", L"release"};
constexpr size_t kMaxSignatureBytes = 1024;


std::wstring readValue(const std::wstring& path, const wchar_t* section, const wchar_t* key) {
  wchar_t buffer[kValueChars] = {};
  const DWORD len = GetPrivateProfileStringW(section, key, L"", buffer, kValueChars, path.c_str());
  return std::wstring(buffer, len);
}

// Digests compare with the lower-case hex of our own hashing.
std::string digestValue(const std::wstring& value) {
  std::string utf8 = util::toUtf8(value);
  for (char& c : utf8) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return utf8;
}

bool isReservedSection(const std::wstring& name) {
  for (const wchar_t* reserved : kReservedSections) {
    if (util::equalsIgnoringCase(name, reserved)) return true;
  }
  return false;
}

// Section names: a list of NUL-terminated strings ending in an empty one.
std::vector<std::wstring> readSectionNames(const std::wstring& path) {
  std::vector<wchar_t> buffer(kSectionListChars, L'\0');
  const DWORD len = GetPrivateProfileSectionNamesW(buffer.data(), kSectionListChars, path.c_str());
  std::vector<std::wstring> names;
  for (DWORD pos = 0; pos < len && buffer[pos] != L'\0';) {
    std::wstring name(&buffer[pos]);
    pos += static_cast<DWORD>(name.size()) + 1;
    names.push_back(std::move(name));
  }
  return names;
}

}  // namespace

std::wstring defaultServerBase() { return ORVALO_DEFAULT_BASE_URL_W; }

ManifestEntry readManifestEntry(const std::wstring& path, const std::wstring& section,
                                const std::wstring& defaultFilename) {
  const wchar_t* s = section.c_str();
  ManifestEntry entry;
  entry.url = readValue(path, s, L"url");
  entry.version = readValue(path, s, L"version");
  entry.filename = readValue(path, s, L"filename");
  entry.exe = readValue(path, s, L"exe");
  entry.sha256 = digestValue(readValue(path, s, L"sha256"));
  if (entry.filename.empty()) entry.filename = defaultFilename;
  if (entry.exe.empty()) entry.exe = client::kDefaultExeName;
  entry.present = !entry.url.empty();
  return entry;
}

void parseManifestFile(const std::wstring& path, ServerManifest& manifest) {
  manifest = ServerManifest{};
  manifest.deps = readManifestEntry(path, L"deps", L"deps.zip");
  manifest.main = readManifestEntry(path, L"main", L"main.zip");
  manifest.llmDeps = readManifestEntry(path, L"llm_deps", L"llm_deps.zip");
  for (const std::wstring& name : readSectionNames(path)) {
    if (isReservedSection(name)) continue;
    ComponentEntry component;
    static_cast<ManifestEntry&>(component) = readManifestEntry(path, name, name + L".zip");
    if (!component.present) continue;
    component.name = name;
    manifest.components.push_back(std::move(component));
  }
  manifest.agreementUrl = readValue(path, L"agreement", L"url");
  manifest.agreementVersion = readValue(path, L"agreement", L"version");
  manifest.agreementSha256 = digestValue(readValue(path, L"agreement", L"sha256"));
  manifest.agreementHtmlSha256 = digestValue(readValue(path, L"agreement", L"html_sha256"));
  manifest.hintsUrl = readValue(path, L"hints", L"url");
  manifest.hintsSha256 = digestValue(readValue(path, L"hints", L"sha256"));
  manifest.hasAgreement = !manifest.agreementUrl.empty();
  manifest.hasHints = !manifest.hintsUrl.empty();
  manifest.releaseExpires = readValue(path, L"release", L"expires");
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

// The release checks a built-in key adds: signature over the exact bytes, expiry, digests.
std::wstring releaseFailure(const std::string& bytes, const std::string& signatureText, const std::string& key,
                            const ServerManifest& manifest) {
  std::string text = signatureText;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  std::string signature;
  if (!net::base64Decode(text, signature) || !net::verifyBytes(bytes, key, signature)) return L"版本清单签名无效";
  SYSTEMTIME today{};
  GetSystemTime(&today);
  if (manifest.releaseExpires.empty()) return L"版本清单缺少有效期（[release] expires）";
  if (releaseExpired(manifest.releaseExpires, today)) return L"版本清单已过期";
  const std::wstring missing = firstWithoutDigest(manifest);
  if (!missing.empty()) return L"版本清单缺少 SHA256：[" + missing + L"]";
  return {};
}

}  // namespace

bool fetchServerManifest(const std::wstring& base, ServerManifest& manifest, std::wstring* error,
                         CancelEvent cancelEvent, const std::string& releaseKey) {
  const std::wstring url = (base.empty() ? defaultServerBase() : base) + L"/download/manifest.ini";
  std::string bytes;
  const DownloadResult download = fetchDocument(url, kMaxManifestBytes, bytes, cancelEvent);
  if (!download.ok) {
    if (error) *error = download.cancelled ? std::wstring(L"已取消") : L"获取版本清单失败：" + download.message;
    return false;
  }
  std::string signature;
  if (!releaseKey.empty()) {
    const DownloadResult fetched = fetchDocument(url + L".sig", kMaxSignatureBytes, signature, cancelEvent);
    if (fetched.cancelled) {
      if (error) *error = L"已取消";
      return false;
    }
  }
  // The profile reader wants a file. Its name is this call's own, so that the wizard's
  // retrievals and the install job never share one, and it is gone again before the check.
  static std::atomic<unsigned> calls{0};
  const std::wstring temp = util::tempDirectory() + L"\\OrvaloSetup_manifest_" +
                            std::to_wstring(GetCurrentProcessId()) + L"_" +
                            std::to_wstring(++calls) + L".ini";
  const bool written = util::writeFile(temp, bytes.data(), bytes.size());
  if (written) parseManifestFile(temp, manifest);
  (void)util::deleteFileForce(temp);
  if (!written) {
    if (error) *error = L"获取版本清单失败：无法写入临时文件：" + temp;
    return false;
  }
  if (!releaseKey.empty()) {
    const std::wstring failure = releaseFailure(bytes, signature, releaseKey, manifest);
    if (!failure.empty()) {
      if (error) *error = L"获取版本清单失败：" + failure;
      return false;
    }
    manifest.signedRelease = true;
  }

  if (!manifest.main.present || !manifest.deps.present) {
    if (error) *error = L"服务器清单缺少主程序或依赖包配置（manifest.ini）";
    return false;
  }
  return true;
}
