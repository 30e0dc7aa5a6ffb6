// With the vendor's release key built in (here the tests' key), an upgrade takes only content
// whose digest the plan gives, and the client believes an update description only with its
// signature.
#include "../../demo/client/texts.h"
#include "../../demo/client/update_check.h"
#include "net/signature.h"
#include "support/temp_dir.h"
#include "support/test_servers.h"
#include "upgrade_fixture.h"
#include "util/files.h"
#include "util/text.h"

#include <gtest/gtest.h>

using namespace testing_support;
using namespace upgrade_testing;

namespace {

TEST(SignedRelease, UpgradeItemWithoutDigestIsRefusedBeforeAnythingIsFetched) {
  ServerScenario scenario;
  TempDir dir;
  const std::wstring install = dir / L"Orvalo";
  prepareInstallation(install);
  const auto before = treeOf(install);
  scenario.putFile(L"main_2.0.zip", packageBytes(L"main.zip"));
  applier::Ctx ctx;
  ctx.options.exe = install + L"\\Orvalo.exe";
  ctx.options.launch = false;
  UpgradeItem item;
  item.url = scenario.nginxUrl(L"main_2.0.zip");
  item.version = L"2.0";
  ctx.items.push_back(item);

  const JobOutcome outcome = runJob(ctx);
  EXPECT_FALSE(outcome.success);
  EXPECT_EQ(outcome.failure, L"升级计划缺少 SHA256：" + item.url);
  EXPECT_TRUE(scenario.nginxRequests().empty());
  EXPECT_TRUE(treeOf(install) == before);
}

class SignedUpdateDescription : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string ini = "[update]\r\nurl=" + util::toUtf8(scenario_.nginxUrl(L"latest.json")) + "\r\n";
    util::writeFile(dir_ / L"update.ini", ini.data(), ini.size());
    scenario_.putFile(L"latest.json", description_);
  }

  std::wstring check() { return demo::checkForUpdate(dir_.path(), dir_ / L"Orvalo.exe", L"1.0.0").message; }

  void putSignatureOf(const std::string& bytes, const wchar_t* keyFile = ORVALO_TEST_RELEASE_PRIVATE_KEY) {
    std::string keyText, key, signature;
    ASSERT_TRUE(util::readFile(keyFile, keyText));
    ASSERT_TRUE(net::base64Decode(keyText.substr(0, keyText.find('\n')), key));
    ASSERT_TRUE(net::signBytes(bytes, key, signature));
    scenario_.putFile(L"latest.json.sig", net::base64Encode(signature) + "\n");
  }

  ServerScenario scenario_;
  TempDir dir_;
  // Not newer than the installed version: a verified description ends the check without a plan.
  const std::string description_ = R"({"version": "1.0.0", "items": []})";
};

TEST_F(SignedUpdateDescription, IsBelievedOnlyWithItsOwnSignature) {
  EXPECT_EQ(check(), std::wstring(demo::kCheckFailed) + demo::kBadSignature);  // no signature at all
  putSignatureOf(description_ + " ");
  EXPECT_EQ(check(), std::wstring(demo::kCheckFailed) + demo::kBadSignature);
  putSignatureOf(description_);
  EXPECT_EQ(check(), std::wstring(demo::kUpToDate) + L"1.0.0" + demo::kReasonEnd);
  putSignatureOf(description_, ORVALO_TEST_SECOND_RELEASE_PRIVATE_KEY);  // the key rotated to
  EXPECT_EQ(check(), std::wstring(demo::kUpToDate) + L"1.0.0" + demo::kReasonEnd);
}

}  // namespace
