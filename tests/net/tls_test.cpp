// HTTPS from loopback: a test certificate authority made trusted for this Wine prefix (its
// current user's Root store), and a server whose authority nobody trusts.
#include "net/download.h"

#include "net/texts.h"
#include "support/temp_dir.h"
#include "support/test_servers.h"

#include <gtest/gtest.h>

#include <windows.h>

using namespace testing_support;

namespace {

TEST(Https, TrustedServerDeliversTheFile) {
  ASSERT_TRUE(trustTestAuthority());
  ServerScenario scenario;
  const std::string body = patternBytes(200000);
  scenario.putFile(L"secure.zip", body);
  TempDir dir;
  const DownloadResult result = downloadFile(scenario.tlsUrl(L"secure.zip"), dir / L"secure.zip",
                                             {}, nullptr);
  ASSERT_TRUE(result.ok()) << testing::PrintToString(result.failure.text);
  EXPECT_EQ(readFileBytes(dir / L"secure.zip"), body);
  ASSERT_EQ(scenario.nginxRequests().size(), 2u);  // the probe, then one stream
}

TEST(Https, UntrustedCertificateFailsToConnect) {
  ServerScenario scenario;
  scenario.putFile(L"secure.zip", patternBytes(1000));
  TempDir dir;
  const DownloadResult result =
      downloadFile(scenario.untrustedTlsUrl(L"secure.zip"), dir / L"secure.zip", {}, nullptr);
  EXPECT_FALSE(result.ok());
  EXPECT_EQ(result.failure.text.rfind(std::wstring(net::kConnectFailed) + net::kReasonOpen, 0), 0u) << testing::PrintToString(result.failure.text);
  EXPECT_TRUE(scenario.nginxRequests().empty());  // nothing was ever sent
}

}  // namespace
