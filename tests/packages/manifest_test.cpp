// The server manifest, fetched from the loopback servers and parsed in memory.
#include "packages/manifest.h"

#include "net/document.h"
#include "net/signature.h"

#include "packages/texts.h"
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

std::string u8(const std::wstring& text) { return util::toUtf8(text); }

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
    util::Failure failure;
    const bool ok = fetchServerManifest(baseUrl, m, &failure, cancel);
    error = failure.text;
    // Whatever happened, no manifest was left in the temporary folder.
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
  EXPECT_EQ(error, packages::kManifestIncompleteText);
  EXPECT_FALSE(fetch(serve("[deps]\r\nurl=http://x/d.zip\r\n[main]\r\nversion=1\r\n"), m, error));
  EXPECT_EQ(error, packages::kManifestIncompleteText);
  EXPECT_FALSE(fetch(serve("this is not an ini file\r\n\x01\x02"), m, error));
  EXPECT_EQ(error, packages::kManifestIncompleteText);
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
  EXPECT_EQ(error.rfind(packages::kManifestFailedPrefix, 0), 0u);

  util::Handle cancel(CreateEventW(nullptr, TRUE, TRUE, nullptr));
  EXPECT_FALSE(fetch(serve(kFull), m, error, cancel.get()));
  EXPECT_EQ(error, util::kCancelledText);

  // An endless manifest stops at its bound.
  std::string endless(kFull);
  endless.append(kMaxManifestBytes, ';');
  serve(endless);
  scenario_.setFaultRules(R"({"rules": [{"no_length": true}]})");
  EXPECT_FALSE(fetch(url, m, error));
  EXPECT_EQ(error, packages::kManifestFailedPrefix + documentTooLargeText(kMaxManifestBytes));
}

// Releases signed with a key of the test's own; the serial it accepts is remembered in a registry
// key of its own, so that no other test's releases meet it.
class SignedManifest : public Manifest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(net::generateSigningKey(privateKey_, publicKey_));
    RegDeleteTreeW(HKEY_CURRENT_USER, serialKey_.c_str());
  }
  void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, serialKey_.c_str()); }

  // kFull with [release] and every digest.
  static std::string release(const std::string& releaseSection) {
    const std::string sha = "sha256=" + std::string(64, 'a') + "\r\n";
    return std::regex_replace(std::string(kFull), std::regex("\\[(main|quotes|alpha)\\]\r\n"), "$&" + sha) +
           "[release]\r\n" + releaseSection;
  }
  std::wstring publish(const std::string& text, const std::string& signedText, const std::string& privateKey) {
    const std::wstring base = serve(text);
    std::string signature;
    EXPECT_TRUE(net::signBytes(signedText, privateKey, signature));
    scenario_.putFile(L"download\\manifest.ini.sig", net::base64Encode(signature) + "\n");
    return base;
  }
  std::wstring publish(const std::string& text) { return publish(text, text, privateKey_); }
  // The failure text, empty when the release is taken.
  std::string fetchSigned(const std::wstring& base, const std::vector<std::string>& keys) {
    ServerManifest m;
    util::Failure failure;
    const bool ok = fetchServerManifest(base, m, &failure, nullptr, keys, serialKey_);
    EXPECT_EQ(ok, m.signedRelease);
    if (!ok) {
      EXPECT_EQ(failure.kind, util::FailureKind::kVerification);
    }
    return ok ? std::string() : util::toUtf8(failure.text);
  }
  uint64_t remembered() const { return rememberedReleaseSerial(serialKey_); }

  std::string privateKey_, publicKey_;
  const std::wstring serialKey_ = L"Software\\OrvaloTrader\\ManifestTests_" + std::to_wstring(GetCurrentProcessId());
};

// The signature over the exact bytes, the expiry, the serial and every digest decide.
TEST_F(SignedManifest, IsCheckedBeforeAnythingIsDownloaded) {
  const std::string complete = release("expires=2999-12-31\r\nserial=7\r\n");
  const std::string sha = "sha256=" + std::string(64, 'a') + "\r\n";
  const auto publish = [&](const std::string& text, const std::string& signedText) {
    return this->publish(text, signedText, privateKey_);
  };
  const std::vector<std::string> publicKey{publicKey_};
  EXPECT_EQ(fetchSigned(publish(complete, complete), publicKey), "");

  std::string tampered = complete;
  tampered[tampered.find("2.1.0")] = '3';
  const struct {
    std::string text, signedText, failure;
  } refused[] = {
      {tampered, complete, u8(packages::kSignatureInvalid)},
      {complete, "another file", u8(packages::kSignatureInvalid)},
      {std::regex_replace(complete, std::regex("2999-12-31"), "2020-01-01"), "", u8(packages::kExpired)},
      {std::regex_replace(complete, std::regex("\\[alpha\\]\r\n" + sha), "[alpha]\r\n"), "", u8(packages::kDigestMissingBefore + std::wstring(L"alpha") + packages::kDigestMissingAfter)},
  };
  for (const auto& c : refused) {
    const std::string signedText = c.signedText.empty() ? c.text : c.signedText;
    EXPECT_EQ(fetchSigned(publish(c.text, signedText), publicKey), u8(packages::kManifestFailedPrefix) + c.failure);
  }
  SYSTEMTIME day{};
  day.wYear = 2026, day.wMonth = 12, day.wDay = 10;
  EXPECT_FALSE(releaseExpired(L"2026-12-10", day));  // the last day still counts
  EXPECT_TRUE(releaseExpired(L"2026-12-09", day));
  EXPECT_TRUE(releaseExpired(L"2026-13-01x", day));
}

TEST_F(SignedManifest, AnOlderSerialIsRefusedAndAnEqualOrNewerOneIsTakenAndRemembered) {
  const std::vector<std::string> key{publicKey_};
  for (const char* serial : {"", "serial=\r\n", "serial=12a\r\n", "serial=-1\r\n", "serial=1234567890123456789\r\n"}) {
    EXPECT_EQ(fetchSigned(publish(release(std::string("expires=2999-12-31\r\n") + serial)), key),
              u8(packages::kManifestFailedPrefix + std::wstring(packages::kSerialMissing)))
        << serial;
  }
  EXPECT_EQ(remembered(), 0u);
  const auto withSerial = [](const std::string& serial) {
    return release("expires=2999-12-31\r\nserial=" + serial + "\r\n");
  };
  EXPECT_EQ(fetchSigned(publish(withSerial("202612110900")), key), "");
  EXPECT_EQ(remembered(), 202612110900u);
  EXPECT_EQ(fetchSigned(publish(withSerial("202612110859")), key), u8(packages::kManifestFailedPrefix + std::wstring(packages::kOutdated)));
  EXPECT_EQ(fetchSigned(publish(withSerial("202612110900")), key), "");
  // Remembered only once the whole release check has passed.
  const std::string noDigest =
      std::regex_replace(withSerial("202612120000"), std::regex("\\[alpha\\]\r\nsha256=a+"), "[alpha]");
  EXPECT_EQ(fetchSigned(publish(noDigest), key), u8(packages::kManifestFailedPrefix + (packages::kDigestMissingBefore + std::wstring(L"alpha")) + packages::kDigestMissingAfter));
  EXPECT_EQ(remembered(), 202612110900u);
  EXPECT_EQ(fetchSigned(publish(withSerial("999999999999999999")), key), "");
  EXPECT_EQ(remembered(), 999999999999999999u);

  // Without a place to remember it (the vendor's tools), nothing is compared.
  ServerManifest m;
  util::Failure failure;
  EXPECT_TRUE(fetchServerManifest(publish(withSerial("1")), m, &failure, nullptr, key, L"")) << util::toUtf8(failure.text);
  EXPECT_EQ(remembered(), 999999999999999999u);
}

TEST_F(SignedManifest, IsTakenWithAnyBuiltInKeyButNeverWithAKeyOffTheCurve) {
  std::string secondPrivate, secondPublic;
  ASSERT_TRUE(net::generateSigningKey(secondPrivate, secondPublic));
  const std::string text = release("expires=2999-12-31\r\nserial=1\r\n");
  EXPECT_EQ(fetchSigned(publish(text, text, secondPrivate), {publicKey_, secondPublic}), "");
  EXPECT_EQ(fetchSigned(publish(text, text, secondPrivate), {publicKey_}), u8(packages::kManifestFailedPrefix + std::wstring(packages::kSignatureInvalid)));

  // X = Y = 1 is no point of P-256: such a key built in refuses every release, even one that
  // another built-in key has signed.
  const std::string offCurve = std::string(31, '\0') + '\1' + std::string(31, '\0') + '\1';
  EXPECT_EQ(fetchSigned(publish(text), {offCurve}), u8(packages::kManifestFailedPrefix + std::wstring(packages::kSignatureInvalid)));
  EXPECT_EQ(fetchSigned(publish(text), {publicKey_, offCurve}), u8(packages::kManifestFailedPrefix + std::wstring(packages::kSignatureInvalid)));
  EXPECT_EQ(fetchSigned(publish(text), {publicKey_, "not base64"}), u8(packages::kManifestFailedPrefix + std::wstring(packages::kSignatureInvalid)));
}

TEST_F(Manifest, SectionsWhoseNamesDifferOnlyInCaseAndOverlongValuesAreRefused) {
  ServerManifest m;
  std::wstring error;
  EXPECT_FALSE(fetch(serve(std::string(kFull) + "[QUOTES]\r\nurl=http://x/q2.zip\r\n"), m, error));
  EXPECT_EQ(error, packages::kManifestFailedPrefix + (packages::kDuplicateSection + std::wstring(L"QUOTES")));
  EXPECT_FALSE(fetch(serve(std::string(kFull) + "[beta]\r\nurl=http://x/" + std::string(32768, 'b') + "\r\n"), m, error));
  EXPECT_EQ(error, packages::kManifestFailedPrefix + (packages::kValueTooLongBefore + std::wstring(L"beta") + packages::kValueTooLongKey + L"url" + packages::kValueTooLongLimit + L"32768" + packages::kValueTooLongAfter));
}

TEST(ManifestMirrors, AreAbsoluteAddressesBetweenBlanksAtMostEightAndAnythingElseIsRefused) {
  ServerManifest m;
  std::wstring error;
  ASSERT_TRUE(parseManifest("[main]\r\nurl=http://a/m.zip\r\nmirrors=  https://b/m.zip\tHTTP://c:81/m.zip \r\n"
                            "[agreement]\r\nurl=http://a/l.txt\r\nmirrors=http://b/l.txt\r\n",
                            m, error));
  EXPECT_EQ(m.main.sources(), (std::vector<std::wstring>{L"http://a/m.zip", L"https://b/m.zip", L"HTTP://c:81/m.zip"}));
  EXPECT_EQ(m.agreementMirrors, std::vector<std::wstring>{L"http://b/l.txt"});
  EXPECT_TRUE(m.deps.mirrors.empty());

  for (const char* bad : {"mirrors/m.zip", "ftp://b/m.zip", "http://"}) {
    EXPECT_FALSE(parseManifest(std::string("[quotes]\r\nurl=http://a/q.zip\r\nmirrors=http://b/q.zip ") + bad, m, error));
    EXPECT_EQ(error, packages::kBadMirrorBefore + std::wstring(L"quotes") + packages::kBadMirrorAfter +
                         util::toWide(util::kCodePageUtf8, bad));
  }
  std::string nine;
  for (int i = 0; i < 9; ++i) nine += " http://m" + std::to_string(i) + "/d.zip";
  EXPECT_TRUE(parseManifest("[deps]\r\nmirrors=" + nine.substr(0, nine.rfind(' ')), m, error)) << u8(error);
  EXPECT_FALSE(parseManifest("[deps]\r\nmirrors=" + nine, m, error));
  EXPECT_NE(error.find(packages::kTooManyMirrorsAfter), std::wstring::npos);
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
