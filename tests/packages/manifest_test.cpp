// The server manifest, fetched from the loopback servers and parsed through the profile API.
#include "packages/manifest.h"

#include "net/signature.h"

#include "support/run_process.h"
#include "support/temp_dir.h"
#include "support/test_servers.h"
#include "util/files.h"
#include "util/handles.h"
#include "util/paths.h"
#include "util/text.h"

#include <gtest/gtest.h>

#include <regex>
#include <nlohmann/json.hpp>

#include <windows.h>

using testing_support::ServerScenario;

namespace {

class Manifest : public ::testing::Test {
 protected:
  // Serves the text as <scenario>/download/manifest.ini; returns the base URL.
  std::wstring serve(const std::string& ini) {
    util::createDirectories(testing_support::serverStatePath(L"www\\" + scenario_.name() + L"\\download"));
    scenario_.putFile(L"download\\manifest.ini", ini);
    return base();
  }
  std::wstring base() const {
    std::wstring url = scenario_.nginxUrl(L"");
    url.pop_back();  // no trailing '/'
    return url;
  }
  bool fetch(const std::wstring& baseUrl, ServerManifest& m, std::wstring& error, HANDLE cancel = nullptr) {
    const bool ok = fetchServerManifest(baseUrl, m, &error, cancel);
    // Whatever happened, the call's temporary manifest is gone.
    const std::wstring pattern = util::tempDirectory() + L"\\OrvaloSetup_manifest_" +
                                 std::to_wstring(GetCurrentProcessId()) + L"_*";
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    EXPECT_EQ(search, INVALID_HANDLE_VALUE);
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    return ok;
  }

  ServerScenario scenario_;
};

const char kFull[] =
    "[DEPS]\r\n"
    "url = http://x/deps.zip \r\n"
    "version=1.0\r\n"
    "sha256=ABCDEF0123\r\n"
    "[main]\r\n"
    "url=\"http://x/main pkg.zip\"\r\n"
    "version='2.1.0 beta'\r\n"
    "[quotes]\r\n"
    "url=http://x/q.zip\r\n"
    "[nourl]\r\n"
    "version=9\r\n"
    "[Setup]\r\n"
    "url=http://x/setup.exe\r\n"
    "[HINTS]\r\n"
    "url=https://www.orvalotrader.com/hints.json\r\n"
    "sha256=AA\r\n"
    "[alpha]\r\n"
    "url=http://x/a.bin\r\n"
    "filename=a.bin\r\n"
    "exe=A.exe\r\n"
    "[Agreement]\r\n"
    "url=http://x/agreement.txt\r\n"
    "version=2026.1\r\n"
    "sha256=FF00\r\n";

}  // namespace

TEST_F(Manifest, ReadsSectionsInAnyCaseWithTrimmedAndUnquotedValues) {
  ServerManifest m;
  std::wstring error;
  ASSERT_TRUE(fetch(serve(kFull), m, error)) << error.size();
  EXPECT_EQ(m.deps.url, L"http://x/deps.zip");
  EXPECT_EQ(m.deps.sha256, "abcdef0123");
  EXPECT_EQ(m.deps.filename, L"deps.zip");
  EXPECT_EQ(m.main.url, L"http://x/main pkg.zip");
  EXPECT_EQ(m.main.version, L"2.1.0 beta");
  EXPECT_EQ(m.main.filename, L"main.zip");
  EXPECT_EQ(m.main.exe, L"Orvalo.exe");
  EXPECT_TRUE(m.main.sha256.empty());
  EXPECT_FALSE(m.llmDeps.present);
  EXPECT_EQ(m.llmDeps.filename, L"llm_deps.zip");
  EXPECT_EQ(m.agreementUrl, L"http://x/agreement.txt");
  EXPECT_EQ(m.agreementVersion, L"2026.1");
  EXPECT_EQ(m.agreementSha256, "ff00");
  EXPECT_TRUE(m.hasAgreement);
  EXPECT_EQ(m.hintsSha256, "aa");
  EXPECT_TRUE(m.hasHints);
}

TEST_F(Manifest, ComponentsKeepFileOrderAndNeedAUrl) {
  ServerManifest m;
  std::wstring error;
  ASSERT_TRUE(fetch(serve(kFull), m, error));
  ASSERT_EQ(m.components.size(), 2u);
  EXPECT_EQ(m.components[0].name, L"quotes");
  EXPECT_EQ(m.components[0].filename, L"quotes.zip");
  EXPECT_EQ(m.components[1].name, L"alpha");
  EXPECT_EQ(m.components[1].filename, L"a.bin");
  EXPECT_EQ(m.components[1].exe, L"A.exe");
}

TEST_F(Manifest, MissingDepsOrMainIsRefusedAfterTheDownload) {
  ServerManifest m;
  std::wstring error;
  EXPECT_FALSE(fetch(serve("[main]\r\nurl=http://x/main.zip\r\n"), m, error));
  EXPECT_EQ(error, L"服务器清单缺少主程序或依赖包配置（manifest.ini）");
  EXPECT_FALSE(fetch(serve("[deps]\r\nurl=http://x/d.zip\r\n[main]\r\nversion=1\r\n"), m, error));
  EXPECT_EQ(error, L"服务器清单缺少主程序或依赖包配置（manifest.ini）");
  EXPECT_FALSE(fetch(serve("this is not an ini file\r\n\x01\x02"), m, error));
  EXPECT_EQ(error, L"服务器清单缺少主程序或依赖包配置（manifest.ini）");
}

TEST_F(Manifest, BaseEndingInSlashGivesADoubledSlash) {
  serve("[deps]\r\nurl=a\r\n[main]\r\nurl=b\r\n");
  ServerManifest m;
  std::wstring error;
  // nginx does not merge the slashes away for a request it logs: the request asked for "//".
  fetch(base() + L"/", m, error);
  const auto requests = scenario_.nginxRequests();
  ASSERT_FALSE(requests.empty());
  EXPECT_NE(requests.back().target.find("//download/manifest.ini"), std::string::npos);
}

TEST_F(Manifest, DownloadFailureAndCancellationHaveTheirTexts) {
  ServerManifest m;
  std::wstring error;
  scenario_.setFaultRules(R"({"rules": [{"status": 404}]})");
  std::wstring url = scenario_.faultUrl(L"");
  url.pop_back();
  EXPECT_FALSE(fetch(url, m, error));
  EXPECT_EQ(error.rfind(L"获取版本清单失败：", 0), 0u);

  util::Handle cancel(CreateEventW(nullptr, TRUE, TRUE, nullptr));
  EXPECT_FALSE(fetch(serve(kFull), m, error, cancel.get()));
  EXPECT_EQ(error, L"已取消");

  // An endless manifest stops at its bound.
  std::string endless(kFull);
  endless.append(kMaxManifestBytes, ';');
  serve(endless);
  scenario_.setFaultRules(R"({"rules": [{"no_length": true}]})");
  EXPECT_FALSE(fetch(url, m, error));
  EXPECT_EQ(error, L"获取版本清单失败：文件过大（超过 1048576 字节）");
}

// A release key built in: the signature over the exact bytes, the expiry and every digest decide.
TEST_F(Manifest, ASignedReleaseIsCheckedBeforeAnythingIsDownloaded) {
  std::string privateKey, publicKey;
  ASSERT_TRUE(net::generateSigningKey(privateKey, publicKey));
  const std::string release = std::string(kFull) + "[release]\r\nexpires=2999-12-31\r\n";
  const std::string sha = "sha256=" + std::string(64, 'a') + "\r\n";
  const std::string complete = std::regex_replace(release, std::regex("\\[(main|quotes|alpha)\\]\r\n"), "$&" + sha);
  const auto publish = [&](const std::string& text, const std::string& signedText) {
    const std::wstring base = serve(text);
    std::string signature;
    EXPECT_TRUE(net::signBytes(signedText, privateKey, signature));
    const std::string line = net::base64Encode(signature) + "\n";
    scenario_.putFile(L"download\\manifest.ini.sig", line);
    return base;
  };
  ServerManifest m;
  std::wstring error;
  EXPECT_TRUE(fetchServerManifest(publish(complete, complete), m, &error, nullptr, publicKey)) << util::toUtf8(error);
  EXPECT_TRUE(m.signedRelease);

  std::string tampered = complete;
  tampered[tampered.find("2.1.0")] = '3';
  const struct {
    std::string text, signedText, failure;
  } refused[] = {
      {tampered, complete, "版本清单签名无效"},
      {complete, "another file", "版本清单签名无效"},
      {std::regex_replace(complete, std::regex("2999-12-31"), "2020-01-01"), "", "版本清单已过期"},
      {std::regex_replace(complete, std::regex("\\[alpha\\]\r\n" + sha), "[alpha]\r\n"), "", "版本清单缺少 SHA256：[alpha]"},
  };
  for (const auto& c : refused) {
    const std::string signedText = c.signedText.empty() ? c.text : c.signedText;
    EXPECT_FALSE(fetchServerManifest(publish(c.text, signedText), m, &error, nullptr, publicKey));
    EXPECT_EQ(util::toUtf8(error), "获取版本清单失败：" + c.failure);
  }
  SYSTEMTIME day{};
  day.wYear = 2026, day.wMonth = 12, day.wDay = 10;
  EXPECT_FALSE(releaseExpired(L"2026-12-10", day));  // the last day still counts
  EXPECT_TRUE(releaseExpired(L"2026-12-09", day));
  EXPECT_TRUE(releaseExpired(L"2026-13-01x", day));
}

TEST(DefaultServer, IsAnHttpsAddressWithoutTrailingSlash) {
  const std::wstring base = defaultServerBase();
  EXPECT_EQ(base.rfind(L"https://", 0), 0u);
  EXPECT_NE(base.back(), L'/');
}

TEST_F(Manifest, ToolPrintsTheManifestAsOneJsonLine) {
  const std::wstring baseUrl = serve(kFull);
  const testing_support::ProcessResult run = testing_support::runProcess(
      testing_support::quoteArg(testing_support::binPath(L"orvalo-tool.exe")) + L" manifest " +
      testing_support::quoteArg(baseUrl));
  ASSERT_EQ(run.exitCode, 0) << run.output;
  const nlohmann::json j = nlohmann::json::parse(run.output);
  EXPECT_EQ(j["deps"]["sha256"], "abcdef0123");
  EXPECT_EQ(j["main"]["url"], "http://x/main pkg.zip");
  EXPECT_EQ(j["llmDeps"]["present"], false);
  ASSERT_EQ(j["components"].size(), 2u);
  EXPECT_EQ(j["components"][1]["name"], "alpha");
  EXPECT_EQ(j["agreementVersion"], "2026.1");
  EXPECT_EQ(j["hasHints"], true);

  const testing_support::ProcessResult missing = testing_support::runProcess(
      testing_support::quoteArg(testing_support::binPath(L"orvalo-tool.exe")) + L" manifest " +
      testing_support::quoteArg(serve("[deps]\r\nurl=x\r\n")));
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.output, "error: \xE6\x9C\x8D\xE5\x8A\xA1\xE5\x99\xA8\xE6\xB8\x85\xE5\x8D\x95"
                            "\xE7\xBC\xBA\xE5\xB0\x91\xE4\xB8\xBB\xE7\xA8\x8B\xE5\xBA\x8F\xE6\x88\x96"
                            "\xE4\xBE\x9D\xE8\xB5\x96\xE5\x8C\x85\xE9\x85\x8D\xE7\xBD\xAE\xEF\xBC\x88"
                            "manifest.ini\xEF\xBC\x89\n");
}
