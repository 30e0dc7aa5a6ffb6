// make-manifest: turns a release folder into the server's manifest. The vendor describes the
// release in SITE_DIR/release.ini with the manifest's own sections, each naming its file by a
// path below SITE_DIR (file=) instead of an address and a digest; everything else is copied.
#include "documents/agreement.h"
#include "documents/hints.h"
#include "net/sha256.h"
#include "packages/package_index_io.h"
#include "packages/manifest.h"
#include "tools/release_checks.h"
#include "tools/texts.h"
#include "tools/tool.h"
#include "util/file_names.h"
#include "util/files.h"
#include "util/text.h"

#include <windows.h>

#include <cstdio>
#include <utility>
#include <vector>

namespace tool {
namespace {

// An expiry this many days ahead is written when a signed release names none.
constexpr int kDefaultValidDays = 30;

struct Section {
  std::wstring name;
  std::vector<std::pair<std::wstring, std::wstring>> keys;  // in file order

  std::wstring value(const wchar_t* key) const {
    for (const auto& [k, v] : keys) {
      if (util::equalsIgnoringCase(k, key)) return v;
    }
    return {};
  }
};

// release.ini is the vendor's own text: UTF-8 (a byte-order mark is allowed), read here rather
// than through the profile API so that Chinese file names survive whatever the code page.
bool parseReleaseIni(const std::string& bytes, std::vector<Section>& sections, std::wstring& error) {
  std::string text = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? bytes.substr(3) : bytes;
  if (!text.empty() && MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                           static_cast<int>(text.size()), nullptr, 0) == 0) {
    error = kReleaseIniNotUtf8;
    return false;
  }
  const std::wstring wide = util::toWide(util::kCodePageUtf8, text);
  size_t lineNumber = 0;
  for (size_t pos = 0; pos <= wide.size();) {
    size_t end = wide.find(L'\n', pos);
    if (end == std::wstring::npos) end = wide.size();
    std::wstring line = wide.substr(pos, end - pos);
    pos = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    line = util::trimBlanks(line);
    if (line.empty() || line[0] == L';' || line[0] == L'#') continue;
    const std::wstring where = kReleaseIniLinePrefix + std::to_wstring(lineNumber) + kReleaseIniLineSuffix;
    if (line.front() == L'[' && line.back() == L']') {
      Section section{util::trimBlanks(line.substr(1, line.size() - 2)), {}};
      for (const Section& seen : sections) {
        if (util::equalsIgnoringCase(seen.name, section.name)) {
          error = where + kDuplicateSectionPrefix + section.name + kDuplicateSectionSuffix;
          return false;
        }
      }
      sections.push_back(std::move(section));
      continue;
    }
    const size_t equals = line.find(L'=');
    if (equals == std::wstring::npos || equals == 0 || sections.empty()) {
      error = where + kUnrecognisedLine + line;
      return false;
    }
    sections.back().keys.emplace_back(util::trimBlanks(line.substr(0, equals)), util::trimBlanks(line.substr(equals + 1)));
  }
  return true;
}

// A path below the release folder: plain names only, so that nothing outside it is published.
bool isReleasePath(const std::wstring& path) {
  if (path.empty()) return false;
  size_t start = 0;
  for (;;) {
    const size_t end = path.find_first_of(L"/\\", start);
    if (!util::isSafePathComponent(path.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start))) {
      return false;
    }
    if (end == std::wstring::npos) return true;
    start = end + 1;
  }
}

// The path as it goes into an address: '/' between the pieces and every byte of the UTF-8 text
// outside the unreserved characters as %XX.
std::wstring urlPath(const std::wstring& path) {
  std::wstring out;
  for (unsigned char c : util::toUtf8(path)) {
    const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                            c == '-' || c == '.' || c == '_' || c == '~';
    if (unreserved) {
      out += static_cast<wchar_t>(c);
    } else if (c == '/' || c == '\\') {
      out += L'/';
    } else {
      wchar_t escaped[4];
      swprintf(escaped, 4, L"%%%02X", c);
      out += escaped;
    }
  }
  return out;
}

bool isReserved(const std::wstring& name, const wchar_t* reserved) { return util::equalsIgnoringCase(name, reserved); }

std::wstring dateText(const SYSTEMTIME& day) {
  wchar_t text[16];
  swprintf(text, 16, L"%04u-%02u-%02u", day.wYear, day.wMonth, day.wDay);
  return text;
}

// The time of making, UTC, as YYYYMMDDHHMMSS: each release made later has a higher serial.
std::wstring defaultSerial() {
  SYSTEMTIME now{};
  GetSystemTime(&now);
  wchar_t text[16];
  swprintf(text, 16, L"%04u%02u%02u%02u%02u%02u", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
           now.wSecond);
  return text;
}

std::wstring defaultExpiry() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER ticks{{now.dwLowDateTime, now.dwHighDateTime}};
  ticks.QuadPart += static_cast<ULONGLONG>(kDefaultValidDays) * 24 * 3600 * 10000000ULL;
  const FILETIME later{ticks.LowPart, ticks.HighPart};
  SYSTEMTIME day{};
  FileTimeToSystemTime(&later, &day);
  return dateText(day);
}

// A document of the release, read only when it is within the bound the installer applies to it.
std::wstring readWithin(const std::wstring& path, size_t bound, const wchar_t* what, std::string& bytes) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return std::wstring(what) + kUnreadableSuffix;
  const uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  if (size > bound) return std::wstring(what) + kTooLargePrefix + std::to_wstring(bound) + kBytesSuffix;
  return util::readFile(path, bytes) ? std::wstring() : std::wstring(what) + kUnreadableSuffix;
}

struct Release {
  std::wstring siteDir;
  std::wstring baseUrl;
  std::wstring vendorDomain;
  std::wstring text;  // the manifest being written
  std::vector<std::wstring> mirrorBases;  // --mirror, without a trailing '/', in the order given
};

// Sections whose file the installer may fetch from a mirror.
bool takesMirrors(const std::wstring& name) { return !isReserved(name, L"hints") && !isReserved(name, L"setup"); }

// The mirrors= line of a section's file: what the vendor wrote in the section, then the file's
// address below each --mirror base; empty when there is none.
std::wstring mirrorsLine(const Release& release, const Section& section, const std::wstring& file) {
  std::wstring value = section.value(L"mirrors");
  for (const std::wstring& base : release.mirrorBases) value += (value.empty() ? L"" : L" ") + base + L"/" + urlPath(file);
  return value.empty() ? value : L"mirrors=" + value + L"\r\n";
}

bool isHttpBase(const std::wstring& base) {
  return base.compare(0, 7, L"http://") == 0 || base.compare(0, 8, L"https://") == 0;
}

// Takes every "--mirror BASE" out of args (the option may be repeated, unlike the others).
bool takeMirrorOptions(Args& args, std::vector<std::wstring>& bases, std::wstring& error) {
  Args rest;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] != L"--mirror") {
      rest.push_back(args[i]);
      continue;
    }
    if (i + 1 == args.size() || !isHttpBase(args[i + 1])) {
      error = kBadMirrorBase + (i + 1 == args.size() ? std::wstring() : args[i + 1]);
      return false;
    }
    std::wstring base = args[++i];
    while (base.back() == L'/') base.pop_back();
    bases.push_back(base);
  }
  args = std::move(rest);
  return true;
}

// Writes the zip's index beside it and names it in the section, so that the signature covers its
// digest; empty, or why the release is refused.
std::wstring addPackageIndex(Release& release, const std::wstring& zipPath, const std::wstring& url) {
  PackageIndex index;
  std::wstring error;
  const std::wstring indexPath = zipPath + L".index";
  if (!buildPackageIndex(zipPath, index, error) || !writePackageIndexFile(indexPath, index, error)) return error;
  release.text += L"index=" + url + L".index\r\nindex_sha256=" +
                  util::toWide(util::kCodePageUtf8, sha256Hex(formatPackageIndex(index))) + L"\r\n";
  return {};
}

// One section of release.ini into the manifest; empty, or why the release is refused.
std::wstring addSection(Release& release, const Section& section) {
  const std::wstring& name = section.name;
  const std::wstring where = L"[" + name + L"] ";
  if (isReserved(name, L"release")) return where + kReleaseSectionReserved;
  for (const auto& [key, value] : section.keys) {
    if (isReserved(key, L"url") || isReserved(key, L"sha256") || isReserved(key, L"html_sha256") ||
        isReserved(key, L"index") || isReserved(key, L"index_sha256")) {
      return where + kKeyNotAllowedPrefix + key + kKeyNotAllowedSuffix;
    }
  }
  release.text += L"[" + name + L"]\r\n";
  const std::wstring file = section.value(L"file");
  if (file.empty()) {
    if (!isReserved(name, L"setup")) return where + kFileMissing;
  } else {
    if (!isReleasePath(file)) return where + kFileNotRelative + file;
    const std::wstring path = release.siteDir + L"\\" + file;
    std::string digest;
    if (!util::isExistingFile(path) || !sha256File(path, digest, nullptr, {})) return where + kFileNotFound + file;
    const std::wstring base = section.value(L"base").empty() ? release.baseUrl : section.value(L"base");
    const std::wstring url = base + L"/" + urlPath(file);
    release.text += L"url=" + url + L"\r\nsha256=" + util::toWide(util::kCodePageUtf8, digest) + L"\r\n";
    if (takesMirrors(name)) release.text += mirrorsLine(release, section, file);

    std::wstring problem;
    if (isReserved(name, L"agreement")) {
      std::string bytes;
      problem = readWithin(path, documents::kMaxAgreementBytes, kAgreementTextWhat, bytes);
      if (problem.empty()) problem = agreementProblem(bytes);
      // The wizard looks for the HTML edition beside a ".txt" agreement.
      const std::wstring html = path.substr(0, path.size() - 4) + L".html";
      if (problem.empty() && util::endsWithIgnoringCase(path, L".txt") && util::isExistingFile(html)) {
        std::string htmlBytes;
        problem = readWithin(html, documents::kMaxAgreementBytes, kAgreementHtmlWhat, htmlBytes);
        if (problem.empty()) {
          release.text += L"html_sha256=" + util::toWide(util::kCodePageUtf8, sha256Hex(htmlBytes)) + L"\r\n";
        }
      }
    } else if (isReserved(name, L"hints")) {
      std::string bytes;
      problem = hintsAddressProblem(url, release.vendorDomain);
      if (problem.empty()) {
        problem = readWithin(path, documents::kMaxHintsDocumentBytes, kHintsWhat, bytes);
        if (problem.empty()) problem = hintsProblem(bytes);
      }
    } else {
      const std::wstring filename = section.value(L"filename").empty() ? name + L".zip" : section.value(L"filename");
      problem = packageProblem(path, filename);
      if (problem.empty() && util::endsWithIgnoringCase(file, L".zip")) problem = addPackageIndex(release, path, url);
    }
    if (!problem.empty()) return where + problem;
  }
  for (const auto& [key, value] : section.keys) {
    if (isReserved(key, L"file") || isReserved(key, L"base")) continue;
    if (isReserved(key, L"mirrors") && !file.empty() && takesMirrors(name)) continue;  // written above
    release.text += key + L"=" + value + L"\r\n";
  }
  release.text += L"\r\n";
  return {};
}

// ASCII stays as it is; anything else goes out as UTF-8 with its byte-order mark, which the
// installer reads whatever the system's code page.
std::string encodeManifest(const std::wstring& text) {
  bool ascii = true;
  for (wchar_t c : text) ascii = ascii && c < 0x80;
  return ascii ? util::toUtf8(text) : "\xEF\xBB\xBF" + util::toUtf8(text);
}

// make-manifest SITE_DIR BASE_URL [--key PRIVATE_FILE] [--expires YYYY-MM-DD] [--serial N]
//               [--vendor-domain D] [--mirror BASE_URL]...
int runMakeManifest(const Args& given) {
  Args args = given;
  Args positional;
  std::map<std::wstring, std::wstring> options;
  std::wstring error;
  std::vector<std::wstring> mirrorBases;
  if (!takeMirrorOptions(args, mirrorBases, error) ||
      !parseOptions(args, {L"--key", L"--expires", L"--serial", L"--vendor-domain"}, positional, options, error)) {
    return fail(error);
  }
  if (positional.size() != 2) {
    return fail(L"usage: make-manifest SITE_DIR BASE_URL [--key PRIVATE_FILE] [--expires YYYY-MM-DD] [--serial N]"
                L" [--mirror BASE_URL]...");
  }
  Release release{positional[0], positional[1], vendorDomainOption(options[L"--vendor-domain"]), {}, mirrorBases};
  while (!release.baseUrl.empty() && release.baseUrl.back() == L'/') release.baseUrl.pop_back();
  if (!isHttpBase(release.baseUrl)) {
    return fail(kBadBaseUrl + release.baseUrl);
  }
  const std::wstring& key = options[L"--key"];
  std::wstring expires = options[L"--expires"];
  if (expires.empty() && !key.empty()) expires = defaultExpiry();
  SYSTEMTIME today{};
  GetSystemTime(&today);
  if (!expires.empty() && releaseExpired(expires, today)) return fail(kBadExpiry + expires);
  const std::wstring serial = options[L"--serial"].empty() ? defaultSerial() : options[L"--serial"];
  uint64_t serialNumber = 0;
  if (!parseReleaseSerial(serial, serialNumber)) return fail(kBadSerial + serial);

  std::string iniBytes;
  const std::wstring iniPath = release.siteDir + L"\\release.ini";
  if (!util::readFile(iniPath, iniBytes, kMaxManifestBytes)) return fail(kCannotReadPrefix + iniPath);
  std::vector<Section> sections;
  if (!parseReleaseIni(iniBytes, sections, error)) return fail(error);

  release.text = L"; made by orvalo-tool make-manifest\r\n";
  for (const Section& section : sections) {
    const std::wstring problem = addSection(release, section);
    if (!problem.empty()) return fail(problem);
  }
  if (!expires.empty() || !options[L"--serial"].empty()) {
    release.text += L"[release]\r\n" + (expires.empty() ? L"" : L"expires=" + expires + L"\r\n") + L"serial=" + serial + L"\r\n";
  }
  const std::string bytes = encodeManifest(release.text);
  if (bytes.size() > kMaxManifestBytes) return fail(kManifestTooLarge);

  // Read back with the installer's own parser before anything is written, so that a refused
  // release never reaches the server's folder.
  ServerManifest manifest;
  if (!parseManifest(bytes, manifest, error)) return fail(error);
  const std::wstring problem = manifestNamesProblem(manifest);
  if (!problem.empty()) return fail(problem);
  const std::wstring download = release.siteDir + L"\\download";
  const std::wstring manifestPath = download + L"\\manifest.ini";
  const std::wstring staged = manifestPath + L".new";
  if (!util::createDirectories(download) || !util::writeFile(staged, bytes.data(), bytes.size())) {
    return fail(kCannotWritePrefix + staged);
  }
  if (!key.empty() && !signFile(manifestPath, bytes, key, error)) {
    (void)util::deleteFileForce(staged);
    return fail(error);
  }
  if (!MoveFileExW(staged.c_str(), manifestPath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    (void)util::deleteFileForce(staged);
    (void)util::deleteFileForce(manifestPath + L".sig");
    return fail(kCannotWritePrefix + manifestPath);
  }
  // A signature of an earlier manifest beside an unsigned one would only mislead.
  if (key.empty()) (void)util::deleteFileForce(manifestPath + L".sig");
  printLine(L"ok: " + manifestPath + (key.empty() ? L"" : kSignedSerialPrefix + serial + kValidUntil + expires + kParenClose));
  return 0;
}

}  // namespace

int runVerifyServer(const Args& args);

std::vector<Command> releaseCommands() {
  return {{L"make-manifest",
           "SITE_DIR BASE_URL [--key PRIVATE_FILE] [--expires YYYY-MM-DD] [--serial N] [--vendor-domain D]"
           " [--mirror BASE_URL]...",
           runMakeManifest},
          {L"verify-server", "BASE [--key PUBLIC_FILE] [--vendor-domain D]", runVerifyServer}};
}

}  // namespace tool
