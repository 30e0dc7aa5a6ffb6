#include "support/cert_trust.h"

#include <windows.h>
#include <wincrypt.h>

namespace testing_support {

bool trustCertificateAuthority(const std::string& der) {
  if (der.empty()) return false;
  HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
  if (!root) return false;
  const BOOL added = CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING,
                                                      reinterpret_cast<const BYTE*>(der.data()),
                                                      static_cast<DWORD>(der.size()),
                                                      CERT_STORE_ADD_USE_EXISTING, nullptr);
  CertCloseStore(root, 0);
  return added != FALSE;
}

}  // namespace testing_support
