#include "tools/release_checks.h"

#include "documents/agreement.h"
#include "documents/hints.h"
#include "documents/link_allowlist.h"
#include "documents/vendor_domain.h"
#include "install/package_list.h"
#include "packages/zip_extract.h"
#include "tools/texts.h"

#include <windows.h>

namespace tool {

std::wstring agreementProblem(const std::string& bytes) {
  if (bytes.empty()) return kAgreementEmpty;
  if (bytes.size() > documents::kMaxAgreementBytes) {
    return kAgreementTooLargePrefix + std::to_wstring(documents::kMaxAgreementBytes) + kBytesSuffix;
  }
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), nullptr,
                          0) == 0) {
    return kAgreementNotUtf8;
  }
  return {};
}

std::wstring hintsAddressProblem(const std::wstring& url, const std::wstring& vendorDomain) {
  if (documents::isAllowedLink(url, documents::kLinkKindVendor, vendorDomain.c_str())) return {};
  return kHintsNotOnVendorPrefix + vendorDomain + kHintsNotOnVendorMiddle + url;
}

std::wstring hintsProblem(const std::string& bytes) {
  if (bytes.size() > documents::kMaxHintsDocumentBytes) {
    return kHintsTooLargePrefix + std::to_wstring(documents::kMaxHintsDocumentBytes) + kBytesSuffix;
  }
  documents::HintsDocument doc;
  if (!documents::parseHints(bytes, doc)) return kHintsInvalid;
  return {};
}

std::wstring packageProblem(const std::wstring& path, const std::wstring& filename) {
  if (!isZipPackage(filename)) return {};
  std::wstring failure;
  return checkZip(path, failure) ? std::wstring() : failure;
}

std::wstring manifestNamesProblem(const ServerManifest& manifest) {
  if (!manifest.main.present || !manifest.deps.present) return kMainOrDepsMissing;
  // Every package the installer could take, the CUDA component included.
  const PackagePlan plan = buildPackageList(manifest, true, true, L"C:\\OrvaloTrader");
  std::wstring badName;
  if (!checkServerNames(manifest, plan, badName)) return kUnusableName + badName;
  return {};
}

std::wstring vendorDomainOption(const std::wstring& value) { return value.empty() ? documents::vendorDomain() : value; }

}  // namespace tool
