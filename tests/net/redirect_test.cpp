// Redirects: where a Location leads, and downloads and documents that follow one to another
// server, with their ranges and their resume on the final address; https never hands over to
// http.
#include "net/document.h"
#include "net/download.h"
#include "net/multipart.h"
#include "net/redirect.h"
#include "net/texts.h"
#include "net_test_helpers.h"
#include "support/temp_dir.h"
#include "support/test_servers.h"
#include "util/files.h"
#include "util/text.h"

#include <gtest/gtest.h>

using namespace net_tests;
using namespace testing_support;

namespace {

TEST(ResolveLocation, AbsoluteServerRelativeAndPathRelativeAddresses) {
  const std::wstring base = L"http://a.example:8080/pk/main.zip?v=2";
  EXPECT_EQ(resolveLocation(base, L"https://cdn.example/x.zip"), L"https://cdn.example/x.zip");
  EXPECT_EQ(resolveLocation(base, L"//cdn.example/x.zip"), L"http://cdn.example/x.zip");
  EXPECT_EQ(resolveLocation(base, L"/other/x.zip#part"), L"http://a.example:8080/other/x.zip");
  EXPECT_EQ(resolveLocation(base, L"x.zip"), L"http://a.example:8080/pk/x.zip");
  EXPECT_EQ(resolveLocation(base, L"?v=3"), L"http://a.example:8080/pk/main.zip?v=3");
  EXPECT_EQ(resolveLocation(L"http://a.example", L"x.zip"), L"http://a.example/x.zip");
  // Not a scheme: a relative path that holds a colon.
  EXPECT_EQ(resolveLocation(base, L"a:b/x.zip"), L"http://a.example:8080/pk/a:b/x.zip");
}

class Redirect : public ::testing::Test {
 protected:
  std::string rule(const std::wstring& from, int status, const std::wstring& to) const {
    return "{\"when\": {\"path_suffix\": \"/" + util::toUtf8(from) + "\"}, \"redirect\": " +
           std::to_string(status) + ", \"location\": \"" + util::toUtf8(to) + "\"}";
  }

  ServerScenario scenario_;
  TempDir dir_;
  const std::wstring dest_ = dir_ / L"pkg.zip";
};

// The probe alone meets the redirect; every range goes to the other port at once.
TEST_F(Redirect, PackageInPartsIsFetchedFromTheServerItRedirectsTo) {
  const std::string body = patternBytes(kMultipartThreshold, 7);
  scenario_.putFile(L"pkg.zip", body);
  scenario_.setFaultRules("{\"rules\": [" + rule(L"pkg.zip", 302, scenario_.nginxUrl(L"pkg.zip")) + "]}");
  const DownloadResult result = downloadFile(scenario_.faultUrl(L"pkg.zip"), dest_, {}, nullptr);
  ASSERT_TRUE(result.ok()) << testing::PrintToString(result.failure.text);
  EXPECT_TRUE(readFileBytes(dest_) == body);
  EXPECT_EQ(scenario_.faultRequests().size(), 1u);
  const auto requests = scenario_.nginxRequests();
  EXPECT_EQ(requests.size(), 5u);  // the probe again, then four ranges
  for (const auto& request : requests) EXPECT_EQ(request.target, "/" + util::toUtf8(scenario_.name()) + "/pkg.zip");
}

// The second call meets the redirect again, and its kept parts resume on the final address under
// the validator that address gave: only the broken range's rest is asked for.
TEST_F(Redirect, PartsKeptFromTheFinalAddressResumeThere) {
  const std::string body = patternBytes(kMultipartThreshold, 8);
  scenario_.putFile(L"pkg.zip", body);
  std::wstring final = scenario_.faultUrl(L"pkg.zip");
  final.replace(final.find(L"127.0.0.1"), 9, L"localhost");  // another server to WinHTTP
  const PartRange broken = partRanges(body.size())[1];
  scenario_.setFaultRules("{\"rules\": [" + rule(L"start.zip", 307, final) + ", {\"when\": {\"range_end\": " +
                          std::to_string(broken.end) + "}, \"times\": 3, \"drop_after\": 1000}]}");
  const DownloadResult first = downloadFile(scenario_.faultUrl(L"start.zip"), dest_, {}, nullptr);
  ASSERT_FALSE(first.ok());
  const size_t before = scenario_.faultRequests().size();
  const DownloadResult second = downloadFile(scenario_.faultUrl(L"start.zip"), dest_, {}, nullptr);
  ASSERT_TRUE(second.ok()) << testing::PrintToString(second.failure.text);
  EXPECT_TRUE(readFileBytes(dest_) == body);
  const auto requests = scenario_.faultRequests();
  ASSERT_EQ(requests.size(), before + 3);  // the redirect, the probe, the rest of the broken range
  EXPECT_EQ(requests.back().target, "/" + util::toUtf8(scenario_.name()) + "/pkg.zip");
  EXPECT_EQ(requests.back().range,
            "bytes=" + std::to_string(broken.start + 3000) + "-" + std::to_string(broken.end));
}

// A chain through every redirect status, relative and absolute, ends on the other port.
TEST_F(Redirect, DocumentFollowsAChainOfEveryStatusToAnotherServer) {
  const std::string body = "[release]\nversion=2\n";
  scenario_.putFile(L"manifest.ini", body);
  const std::wstring folder = L"/" + scenario_.name() + L"/";
  scenario_.setFaultRules("{\"rules\": [" + rule(L"a.ini", 301, L"b.ini") + ", " +
                          rule(L"b.ini", 302, folder + L"c.ini") + ", " +
                          rule(L"c.ini", 303, scenario_.faultUrl(L"d.ini")) + ", " +
                          rule(L"d.ini", 307, L"e.ini?from=d") + ", " +
                          rule(L"e.ini", 308, scenario_.nginxUrl(L"manifest.ini")) + "]}");
  std::string bytes;
  const DownloadResult result = fetchDocument(scenario_.faultUrl(L"a.ini"), 1000, bytes, nullptr);
  ASSERT_TRUE(result.ok()) << testing::PrintToString(result.failure.text);
  EXPECT_EQ(bytes, body);
  EXPECT_EQ(scenario_.faultRequests().size(), 5u);
  EXPECT_EQ(scenario_.faultRequests().back().target, util::toUtf8(folder) + "e.ini?from=d");
}

TEST_F(Redirect, LoopEndsAfterTheLastAllowedRedirect) {
  scenario_.setFaultRules("{\"rules\": [" + rule(L"loop.zip", 302, L"loop.zip") + "]}");
  const DownloadResult result = downloadFile(scenario_.faultUrl(L"loop.zip"), dest_, {}, nullptr);
  EXPECT_EQ(result.failure.text, net::kTooManyRedirects);
  EXPECT_EQ(scenario_.faultRequests().size(), static_cast<size_t>(kMaxRedirects) + 1);
}

// Refused before the http request goes out: nginx's plain port never hears of the file.
TEST_F(Redirect, HttpsAddressRedirectedToHttpIsRefused) {
  ASSERT_TRUE(trustTestAuthority());
  scenario_.putFile(L"pkg.zip", patternBytes(1000));
  std::wstring url = scenario_.tlsUrl(L"pkg.zip");
  url.insert(url.find(L"/" + scenario_.name() + L"/"), L"/to-http");
  const DownloadResult result = downloadFile(url, dest_, {}, nullptr);
  EXPECT_EQ(result.failure.text, net::kInsecureRedirect + scenario_.nginxUrl(L"pkg.zip"));
  EXPECT_TRUE(scenario_.nginxRequests().empty());
  EXPECT_FALSE(fileExists(dest_));
}

}  // namespace
