// HTTPS from loopback: a test certificate authority made trusted for this Wine prefix (its
// current user's Root store), and a server whose authority nobody trusts.
#include "net/download.h"

#include "support/temp_dir.h"
#include "support/test_servers.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

using namespace testing_support;

namespace {

void trustTestAuthority() {
  const std::string der = readFileBytes(serverStatePath(L"tls\\ca.der"));
  ASSERT_FALSE(der.empty());
  HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                  CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
  ASSERT_NE(root, nullptr);
  const BOOL added = CertAddEncodedCertificateToStore(
      root, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
      static_cast<DWORD>(der.size()), CERT_STORE_ADD_USE_EXISTING, nullptr);
  CertCloseStore(root, 0);
  ASSERT_TRUE(added) << GetLastError();
}

TEST(Https, TrustedServerDeliversTheFile) {
  trustTestAuthority();
  ServerScenario scenario;
  const std::string body = patternBytes(200000);
  scenario.putFile(L"secure.zip", body);
  TempDir dir;
  const DownloadResult result = downloadFile(scenario.tlsUrl(L"secure.zip"), dir / L"secure.zip",
                                             {}, nullptr);
  ASSERT_TRUE(result.ok) << testing::PrintToString(result.message);
  EXPECT_EQ(readFileBytes(dir / L"secure.zip"), body);
  ASSERT_EQ(scenario.nginxRequests().size(), 2u);  // the probe, then one stream
}

TEST(Https, UntrustedCertificateFailsToConnect) {
  ServerScenario scenario;
  scenario.putFile(L"secure.zip", patternBytes(1000));
  TempDir dir;
  const DownloadResult result =
      downloadFile(scenario.untrustedTlsUrl(L"secure.zip"), dir / L"secure.zip", {}, nullptr);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.message.rfind(L"连接服务器失败（", 0), 0u) << testing::PrintToString(result.message);
  EXPECT_TRUE(scenario.nginxRequests().empty());  // nothing was ever sent
}

}  // namespace
