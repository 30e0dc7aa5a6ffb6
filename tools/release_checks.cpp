#include "tools/release_checks.h"

#include "install/package_list.h"
#include "packages/zip_extract.h"
#include "documents/agreement.h"
#include "documents/hints.h"
#include "documents/link_allowlist.h"
#include "documents/vendor_domain.h"

#include <windows.h>

namespace tool {

std::wstring agreementProblem(const std::string& bytes) {
  if (bytes.empty()) return L"协议文本为空";
  if (bytes.size() > documents::kMaxAgreementBytes) {
    return L"协议文本过大（超过 " + std::to_wstring(documents::kMaxAgreementBytes) + L" 字节）";
  }
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), nullptr,
                          0) == 0) {
    return L"协议文本不是有效的 UTF-8";
  }
  return {};
}

std::wstring hintsAddressProblem(const std::wstring& url, const std::wstring& vendorDomain) {
  if (documents::isAllowedLink(url, documents::kLinkKindVendor, vendorDomain.c_str())) return {};
  return L"提示文档必须通过 https 放在厂商域名 " + vendorDomain + L" 上：" + url;
}

std::wstring hintsProblem(const std::string& bytes) {
  if (bytes.size() > documents::kMaxHintsDocumentBytes) {
    return L"提示文档过大（超过 " + std::to_wstring(documents::kMaxHintsDocumentBytes) + L" 字节）";
  }
  documents::HintsDocument doc;
  if (!documents::parseHints(bytes, doc)) return L"提示文档无效（不是可用的 JSON 提示文档）";
  return {};
}

std::wstring packageProblem(const std::wstring& path, const std::wstring& filename) {
  if (!isZipPackage(filename)) return {};
  std::wstring failure;
  return checkZip(path, failure) ? std::wstring() : failure;
}

std::wstring manifestNamesProblem(const ServerManifest& manifest) {
  if (!manifest.main.present || !manifest.deps.present) return L"缺少主程序或依赖包（[main]、[deps]）";
  // Every package the installer could take, the CUDA component included.
  const PackagePlan plan = buildPackageList(manifest, true, true, L"C:\\OrvaloTrader");
  std::wstring badName;
  if (!checkServerNames(manifest, plan, badName)) return L"名称不可用作文件名：" + badName;
  return {};
}

std::wstring vendorDomainOption(const std::wstring& value) { return value.empty() ? documents::vendorDomain() : value; }

}  // namespace tool
