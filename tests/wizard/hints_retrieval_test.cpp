// The hints retrieval against the vendor's own site, https://localhost/ on port 443 (this test
// program is linked for the vendor domain "localhost"), and the options page it changes.
#include "documents/hints_retrieval.h"
#include "documents/texts.h"
#include "net/sha256.h"
#include "support/test_servers.h"
#include "util/files.h"
#include "util/text.h"
#include "wizard/hints_retrieval_window.h"
#include "wizard/texts.h"
#include "wizard/wizard_harness.h"
#include "wizard/wizard_ids.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace testing_support;
using namespace wizard;

namespace {

// One market-data source, one model-hub link, one model, and pad bytes to reach a given size.
std::string hintsDocument(size_t size = 0) {
  std::string doc =
      R"({"datasource": {"intro": "服务器的行情说明", "items": [{"name": "通达信（服务器）", "url": "https://www.tdx.com.cn/server"}]},
 "local_llm": {"hint": "服务器的模型说明", "items": [{"name": "魔搭社区（服务器）", "url": "https://modelscope.cn/server"}],
  "models": [{"tier": "mid", "name": "Server-8B", "size": "5 GB", "url": "https://modelscope.cn/models?name=Server-8B"}]},
 "pad": ")";
  const std::string end = "\"}";
  if (size > doc.size() + end.size()) doc.append(size - doc.size() - end.size(), 'p');
  return doc + end;
}

class HintsRetrieval : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(trustTestAuthority());
    util::createDirectories(serverStatePath(L"www\\" + scenario_.name() + L"\\download"));
    base_ = scenario_.nginxUrl(L"");
    base_.pop_back();
  }

  void publish(const std::string& hintsSection) {
    const std::string base = util::toUtf8(base_);
    scenario_.putFile(L"download\\manifest.ini",
                      "[deps]\r\nurl=" + base + "/download/deps.zip\r\n[main]\r\nurl=" + base +
                          "/download/main.zip\r\n" + hintsSection);
  }
  void publishHints(const std::wstring& url, const std::string& sha) {
    publish("[hints]\r\nurl=" + util::toUtf8(url) + "\r\nsha256=" + sha + "\r\n");
  }

  std::string digestOf(const std::wstring& path) {
    std::string digest;
    EXPECT_TRUE(sha256File(path, digest, nullptr, {}));
    return digest;
  }

  std::vector<std::string> hintsLines() const {
    std::vector<std::string> found;
    for (const std::string& line : temp_.debugLines()) {
      if (line.rfind("[hints]", 0) == 0) found.push_back(line);
    }
    return found;
  }

  size_t hintsRequests() const {
    size_t n = 0;
    for (const auto& log : {scenario_.nginxRequests(), scenario_.vendorRequests()}) {
      n += static_cast<size_t>(std::count_if(log.begin(), log.end(), [](const LoggedRequest& r) {
        return r.target.find("hints.json") != std::string::npos;
      }));
    }
    return n;
  }

  bool open(bool startRetrievals = false) {
    return ui_.open(base_, {}, [startRetrievals](Collaborators& with) { with.startRetrievals = startRetrievals; });
  }

  PrivateTempFolder temp_;
  ServerScenario scenario_;
  std::wstring base_;
  WizardHarness ui_;
};

TEST_F(HintsRetrieval, DocumentFromTheVendorSiteIsReadWithAndWithoutDigest) {
  const std::wstring path = scenario_.putFile(L"hints.json", hintsDocument());
  documents::HintsDocument doc;
  ASSERT_TRUE(documents::loadHints(scenario_.vendorUrl(L"hints.json"), "", doc, nullptr));
  EXPECT_EQ(doc.dataSourceIntro, L"服务器的行情说明");
  ASSERT_EQ(doc.dataSources.size(), 1u);
  EXPECT_EQ(doc.dataSources[0].url, L"https://www.tdx.com.cn/server");
  documents::HintsDocument verified;
  EXPECT_TRUE(documents::loadHints(scenario_.vendorUrl(L"hints.json"), digestOf(path), verified, nullptr));
  EXPECT_FALSE(fileExists(temp_ / L"OrvaloSetup_hints.json"));
}

TEST_F(HintsRetrieval, WrongDigestIsRefusedAndTheFileRemoved) {
  scenario_.putFile(L"hints.json", hintsDocument());
  documents::HintsDocument doc;
  EXPECT_FALSE(documents::loadHints(scenario_.vendorUrl(L"hints.json"), std::string(64, '0'), doc, nullptr));
  EXPECT_EQ(hintsRequests(), 1u);  // it was fetched, then refused
  EXPECT_FALSE(fileExists(temp_ / L"OrvaloSetup_hints.json"));
}

TEST_F(HintsRetrieval, AddressesOutsideTheVendorSiteAreNeverFetched) {
  scenario_.putFile(L"hints.json", hintsDocument());
  documents::HintsDocument doc;
  const std::wstring refused[] = {
      scenario_.nginxUrl(L"hints.json"),                          // http
      scenario_.tlsUrl(L"hints.json"),                            // https with a port
      L"http://localhost/" + scenario_.name() + L"/hints.json",  // http on the vendor's host
      L"https://modelscope.cn/" + scenario_.name() + L"/hints.json",
      L"https://huggingface.co/" + scenario_.name() + L"/hints.json",
  };
  for (const std::wstring& url : refused) {
    EXPECT_FALSE(documents::loadHints(url, "", doc, nullptr)) << util::toUtf8(url);
  }
  EXPECT_EQ(hintsRequests(), 0u);

  // Through the thread: the failure line names the address and the expected digest.
  const std::wstring http = scenario_.nginxUrl(L"hints.json");
  publishHints(http, "abc");
  ASSERT_TRUE(open());
  ASSERT_TRUE(ui_.runWorker(retrieveHints));
  EXPECT_EQ(hintsLines(), std::vector<std::string>{"[hints] fetch/sha/parse failed: " + util::toUtf8(http) + " sha=abc"});
  EXPECT_EQ(hintsRequests(), 0u);
}

TEST_F(HintsRetrieval, DocumentOf32768BytesIsReadAndOneByteMoreIsNot) {
  ASSERT_EQ(hintsDocument(32768).size(), 32768u);
  scenario_.putFile(L"fits.json", hintsDocument(32768));
  scenario_.putFile(L"over.json", hintsDocument(32769));
  documents::HintsDocument doc;
  EXPECT_TRUE(documents::loadHints(scenario_.vendorUrl(L"fits.json"), "", doc, nullptr));
  EXPECT_FALSE(documents::loadHints(scenario_.vendorUrl(L"over.json"), "", doc, nullptr));
  EXPECT_FALSE(fileExists(temp_ / L"OrvaloSetup_hints.json"));
}

TEST_F(HintsRetrieval, ManifestProblemsAndRefusedDocumentsEachLogOneLine) {
  ASSERT_TRUE(open());
  ASSERT_TRUE(ui_.runWorker(retrieveHints));  // no manifest yet: 404
  publish("");
  ASSERT_TRUE(ui_.runWorker(retrieveHints));
  // Every entry refused by the allowlist and no texts: nothing usable.
  scenario_.putFile(L"refused.json",
                    R"({"datasource": {"items": [{"name": "x", "url": "https://evil.example/"}]},
                        "local_llm": {"models": [{"tier": "mid", "name": "m", "url": "http://modelscope.cn/"}]}})");
  publishHints(scenario_.vendorUrl(L"refused.json"), "");
  ASSERT_TRUE(ui_.runWorker(retrieveHints));
  publish("[hints]\r\nurl=" + util::toUtf8(scenario_.vendorUrl(L"broken.json")) + "\r\n");
  scenario_.putFile(L"broken.json", "{\"datasource\": ");
  ASSERT_TRUE(ui_.runWorker(retrieveHints));

  const auto lines = hintsLines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].rfind("[hints] manifest fetch failed: 获取版本清单失败", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1], "[hints] manifest has no [hints] section");
  EXPECT_EQ(lines[2], "[hints] fetch/sha/parse failed: " + util::toUtf8(scenario_.vendorUrl(L"refused.json")) + " sha=");
  EXPECT_EQ(lines[3], "[hints] fetch/sha/parse failed: " + util::toUtf8(scenario_.vendorUrl(L"broken.json")) + " sha=");
  EXPECT_EQ(ui_.text(kIdDataSourceIntro), documents::kHintsDataSourceIntro);
}

TEST_F(HintsRetrieval, DocumentArrivingOnTheAgreementPageShowsWithTheOptionsPage) {
  const std::wstring path = scenario_.putFile(L"hints.json", hintsDocument());
  publishHints(scenario_.vendorUrl(L"hints.json"), digestOf(path));
  ASSERT_TRUE(open());
  ASSERT_TRUE(ui_.runWorker(retrieveHints));
  EXPECT_EQ(hintsLines(), std::vector<std::string>{"[hints] applied: ds=1 llm=1"});
  EXPECT_EQ(ui_.text(kIdDataSourceIntro), L"服务器的行情说明");
  EXPECT_EQ(ui_.text(kIdDataSourceLink1), L"通达信（服务器）");
  EXPECT_FALSE(ui_.visible(kIdDataSourceLink1));
  EXPECT_FALSE(ui_.visible(kIdExtraLink));

  ui_.switchToOptions();
  EXPECT_TRUE(ui_.visible(kIdDataSourceLink1));
  EXPECT_FALSE(ui_.visible(kIdDataSourceLink2));
  EXPECT_TRUE(ui_.visible(kIdExtraLink));
  EXPECT_EQ(ui_.text(kIdExtraLink), L"魔搭社区（服务器）");
  EXPECT_EQ(ui_.ctx().dataSourceUrls[0], L"https://www.tdx.com.cn/server");
  EXPECT_TRUE(ui_.ctx().dataSourceUrls[1].empty());
  EXPECT_TRUE(ui_.visible(kIdModelRow0));
  EXPECT_FALSE(ui_.visible(kIdModelRow1));
  EXPECT_FALSE(ui_.visible(kIdModelRow2));
}

TEST_F(HintsRetrieval, DocumentArrivingOnTheOptionsPageChangesItAtOnce) {
  scenario_.putFile(L"hints.json", hintsDocument());
  publishHints(scenario_.vendorUrl(L"hints.json"), "");
  ASSERT_TRUE(open(true));  // the window's own threads
  ui_.switchToOptions();
  ASSERT_TRUE(waitUntil([&] { return ui_.text(kIdModelFileNote) == L"服务器的模型说明"; }, 15000));
  ASSERT_TRUE(ui_.sync());
  EXPECT_TRUE(ui_.visible(kIdDataSourceLink1));
  EXPECT_EQ(ui_.text(kIdDataSourceLink1), L"通达信（服务器）");
  EXPECT_TRUE(ui_.visible(kIdExtraLink));
  EXPECT_EQ(ui_.text(kIdModelRow0), L"Server-8B（5 GB）" + std::wstring(wizard::kRecommendedMark));
}

TEST_F(HintsRetrieval, ClosingTheWindowStopsTheDownloadAndPostsNothing) {
  scenario_.putFile(L"hints.json", hintsDocument(32000));
  // 1 KiB a second: the document would take half a minute.
  publishHints(scenario_.vendorUrl(L"hints.json?rate=1k"), "");
  ASSERT_TRUE(open(true));
  // nginx logs a request when it ends: both threads have their manifest, the hints are on the way.
  ASSERT_TRUE(waitUntil([&] { return scenario_.nginxRequests().size() >= 2; }, 15000));
  Sleep(1500);
  ui_.close();
  EXPECT_EQ(hintsLines(), std::vector<std::string>{"[hints] fetch/sha/parse failed: " +
                                                   util::toUtf8(scenario_.vendorUrl(L"hints.json?rate=1k")) + " sha="});
  EXPECT_FALSE(fileExists(temp_ / L"OrvaloSetup_hints.json"));
}

}  // namespace
