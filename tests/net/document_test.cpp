#include "net/document.h"

#include "net/texts.h"
#include "net_test_helpers.h"
#include "support/test_servers.h"

#include <gtest/gtest.h>

using namespace net_tests;
using namespace testing_support;

namespace {

class Document : public ::testing::Test {
 protected:
  ServerScenario scenario_;
  std::string bytes_ = "stale";
};

TEST_F(Document, WholeBodyWithinTheBound) {
  const std::string body = patternBytes(5000);
  scenario_.putFile(L"manifest.ini", body);
  const DownloadResult result = fetchDocument(scenario_.nginxUrl(L"manifest.ini"), 5000, bytes_, nullptr);
  ASSERT_TRUE(result.ok()) << testing::PrintToString(result.failure.text);
  EXPECT_TRUE(bytes_ == body);
  EXPECT_EQ(scenario_.nginxRequests()[0].range, "-");  // never resumed
}

TEST_F(Document, LargerThanTheBoundFailsWithOrWithoutAStatedLength) {
  scenario_.putFile(L"manifest.ini", patternBytes(5001));
  // Stated: refused before the body, which the server would take ten seconds to send.
  scenario_.setFaultRules(R"({"rules": [{"when": {"request": 1}, "chunk": [500, 1]}, {"no_length": true}]})");
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DownloadResult result = fetchDocument(scenario_.faultUrl(L"manifest.ini"), 5000, bytes_, nullptr);
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.failure.text, net::kTooLargeBefore + std::wstring(L"5000") + net::kTooLargeAfter);
    EXPECT_TRUE(bytes_.empty());
  }
}

TEST_F(Document, StatusOtherThan200IsAFailure) {
  const DownloadResult result = fetchDocument(scenario_.nginxUrl(L"absent.ini"), 5000, bytes_, nullptr);
  EXPECT_FALSE(result.ok());
  EXPECT_EQ(result.failure.text, net::kBadStatus + std::wstring(L"404"));
  EXPECT_TRUE(bytes_.empty());
}

}  // namespace
