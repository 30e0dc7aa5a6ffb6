// The agreement retrieval through the real wizard window, against nginx and the fault server:
// what arrives, what is refused silently, and what the window then shows and records.
#include "documents/agreement_html.h"
#include "install/markers.h"
#include "net/sha256.h"
#include "support/test_servers.h"
#include "util/files.h"
#include "util/text.h"
#include "wizard/agreement_retrieval.h"
#include "wizard/texts.h"
#include "wizard/wizard_ids.h"
#include "wizard_harness.h"

#include <gtest/gtest.h>

#include <miniz.h>

#include <algorithm>
#include <chrono>

using namespace testing_support;
using namespace wizard;

namespace {

constexpr char kBom[] = "\xEF\xBB\xBF";
const std::string kServerText = "Orvalo量化 用户安装协议（服务器版）\r\n第一条 本协议由下载服务器提供。\r\n";

std::string zipOf(const std::string& name, const std::string& content) {
  mz_zip_archive zip{};
  void* data = nullptr;
  size_t size = 0;
  if (!mz_zip_writer_init_heap(&zip, 0, 0) ||
      !mz_zip_writer_add_mem(&zip, name.c_str(), content.data(), content.size(), MZ_DEFAULT_COMPRESSION) ||
      !mz_zip_writer_finalize_heap_archive(&zip, &data, &size)) {
    mz_zip_writer_end(&zip);
    return {};
  }
  std::string bytes(static_cast<const char*>(data), size);
  mz_zip_writer_end(&zip);
  return bytes;
}

// One scenario of the servers as the download server: its manifest names two packages and, when
// given, the agreement section.
class AgreementRetrieval : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(trustTestAuthority());
    util::createDirectories(serverStatePath(L"www\\" + scenario_.name() + L"\\download"));
    util::createDirectories(serverStatePath(L"www\\" + scenario_.name() + L"\\legal"));
    base_ = scenario_.nginxUrl(L"");
    base_.pop_back();
  }

  void publish(const std::string& agreementSection) {
    const std::string base = util::toUtf8(base_);
    scenario_.putFile(L"download\\deps.zip", zipOf("deps/runtime.txt", "runtime"));
    scenario_.putFile(L"download\\main.zip", zipOf("OrvaloTrader/readme.txt", "no client in this package"));
    const std::string manifest = "[deps]\r\nurl=" + base + "/download/deps.zip\r\nversion=1.0\r\n"
                                 "[main]\r\nurl=" + base + "/download/main.zip\r\nversion=2.0\r\nexe=Orvalo.exe\r\n" +
                                 agreementSection;
    scenario_.putFile(L"download\\manifest.ini", manifest);
  }

  std::string section(const std::wstring& url, const std::string& version, const std::string& sha,
                      const std::string& more = "") {
    return "[agreement]\r\nurl=" + util::toUtf8(url) + "\r\nversion=" + version + "\r\nsha256=" + sha + "\r\n" + more;
  }
  std::string agreementSection(const std::string& file, const std::string& version, const std::string& sha) {
    return section(base_ + L"/legal/" + util::toWide(util::kCodePageUtf8, file), version, sha);
  }
  // Over https, the only way an HTML edition is taken.
  std::string tlsSection(const std::string& file, const std::string& version, const std::string& htmlSha = "") {
    return section(scenario_.tlsUrl(L"legal/" + util::toWide(util::kCodePageUtf8, file)), version, "",
                   htmlSha.empty() ? "" : "html_sha256=" + htmlSha + "\r\n");
  }

  std::string digestOf(const std::wstring& path) {
    std::string digest;
    EXPECT_TRUE(sha256File(path, digest, nullptr, {}));
    return digest;
  }

  bool open(bool startRetrievals = false) {
    return ui_.open(base_, {}, [startRetrievals](Collaborators& with) { with.startRetrievals = startRetrievals; });
  }

  std::vector<std::string> arrivals() const {
    std::vector<std::string> found;
    for (const std::string& line : temp_.debugLines()) {
      if (line.rfind("AGREEMENT arrive:", 0) == 0) found.push_back(line);
    }
    return found;
  }

  bool requested(const std::string& fileEnd) const {
    const auto log = scenario_.nginxRequests();
    return std::any_of(log.begin(), log.end(), [&](const LoggedRequest& r) {
      return r.target.size() >= fileEnd.size() && r.target.compare(r.target.size() - fileEnd.size(), fileEnd.size(), fileEnd) == 0;
    });
  }

  // The WebBrowser control's own window, a child of the wizard window.
  HWND browserWindow() const {
    for (HWND child = GetWindow(ui_.window(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      const int id = GetDlgCtrlID(child);
      if (id < kIdTitle || id > kIdPackageBar) return child;
    }
    return nullptr;
  }

  RECT clientRectOf(HWND child) const {
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, ui_.window(), reinterpret_cast<POINT*>(&r), 2);
    return r;
  }

  PrivateTempFolder temp_;
  // Named for the process, so that two setups never share one.
  const std::wstring htmlFile_ =
      temp_ / (L"OrvaloSetup_agreement_" + std::to_wstring(GetCurrentProcessId()) + L".html");
  ServerScenario scenario_;
  std::wstring base_;
  WizardHarness ui_;
};

TEST_F(AgreementRetrieval, ServerTextReplacesTheBuiltInOneThroughTheWindowsOwnThread) {
  // ".htm" is no ".txt": no HTML edition is looked for, even when one lies beside it.
  const std::wstring path = scenario_.putFile(L"legal\\agreement.htm", kServerText);
  scenario_.putFile(L"legal\\agreement.html", "<p>never fetched</p>");
  publish(agreementSection("agreement.htm", "2026.12-server", digestOf(path)));
  ASSERT_TRUE(open(true));
  const std::wstring expected = util::toWide(util::kCodePageUtf8, kServerText);
  ASSERT_TRUE(waitUntil([&] { return ui_.text(kIdAgreementEdit) == expected; }, 15000));
  ASSERT_TRUE(ui_.sync());
  EXPECT_EQ(ui_.ctx().agreementVersion, L"2026.12-server");
  EXPECT_TRUE(ui_.visible(kIdAgreementEdit));
  EXPECT_FALSE(ui_.ctx().browserCreated);
  EXPECT_EQ(arrivals(), std::vector<std::string>{"AGREEMENT arrive: ver='2026.12-server' textLen=" +
                                                 std::to_string(expected.size()) + " html=none"});
  EXPECT_FALSE(requested(".html"));
  EXPECT_FALSE(fileExists(temp_ / L"OrvaloSetup_agreement.txt"));
}

TEST_F(AgreementRetrieval, ManifestWithoutAgreementKeepsTheBuiltInText) {
  publish("");
  ASSERT_TRUE(open());
  const std::wstring builtin = ui_.text(kIdAgreementEdit);
  ASSERT_TRUE(ui_.runWorker(retrieveAgreement));
  EXPECT_EQ(ui_.text(kIdAgreementEdit), builtin);
  EXPECT_EQ(builtin.rfind(L"Orvalo量化 用户安装协议", 0), 0u);
  EXPECT_EQ(ui_.ctx().agreementVersion, L"builtin");
  EXPECT_TRUE(arrivals().empty());
  EXPECT_FALSE(requested("/legal/"));
}

TEST_F(AgreementRetrieval, WrongDigestPostsNothingAndRemovesTheText) {
  scenario_.putFile(L"legal\\agreement.txt", kServerText);
  scenario_.putFile(L"legal\\agreement.html", "<p>x</p>");
  publish(agreementSection("agreement.txt", "bad", std::string(64, 'a')));
  ASSERT_TRUE(open());
  const std::wstring builtin = ui_.text(kIdAgreementEdit);
  ASSERT_TRUE(ui_.runWorker(retrieveAgreement));
  EXPECT_TRUE(requested("/legal/agreement.txt"));
  EXPECT_FALSE(requested(".html"));
  EXPECT_TRUE(arrivals().empty());
  EXPECT_EQ(ui_.text(kIdAgreementEdit), builtin);
  EXPECT_EQ(ui_.ctx().agreementVersion, L"builtin");
  EXPECT_FALSE(fileExists(temp_ / L"OrvaloSetup_agreement.txt"));
}

TEST_F(AgreementRetrieval, CapitalTxtAddressBringsTheStyledHtmlEditionIntoTheView) {
  scenario_.putFile(L"legal\\Agreement.TXT", kServerText);
  const std::string html = "<html><head><title>协议</title></head><body><h1 style=\"font-size:large\">协议</h1></body></html>";
  scenario_.putFile(L"legal\\Agreement.html", html);
  publish(tlsSection("Agreement.TXT", "2026.12-html"));
  ASSERT_TRUE(open());
  ASSERT_TRUE(ui_.runWorker(retrieveAgreement));

  EXPECT_TRUE(requested("/legal/Agreement.html"));
  std::string expected = html;
  documents::styleAgreementHtml(expected);
  EXPECT_EQ(readFileBytes(htmlFile_), kBom + (documents::kInternetZoneMark + expected));
  const std::wstring textLen = std::to_wstring(util::toWide(util::kCodePageUtf8, kServerText).size());
  EXPECT_EQ(arrivals(), std::vector<std::string>{"AGREEMENT arrive: ver='2026.12-html' textLen=" +
                                                 util::toUtf8(textLen) + " html=yes"});
  EXPECT_EQ(ui_.ctx().agreementVersion, L"2026.12-html");

  // The view covers the hidden edit; it logged its creation.
  ASSERT_TRUE(ui_.ctx().browserCreated);
  EXPECT_NE(ui_.ctx().browser, nullptr);
  EXPECT_TRUE(ui_.ctx().browserEvents.connected());
  EXPECT_FALSE(ui_.visible(kIdAgreementEdit));
  const RECT editArea = clientRectOf(ui_.item(kIdAgreementEdit));
  EXPECT_TRUE(EqualRect(&ui_.ctx().browserRect, &editArea));
  HWND view = browserWindow();
  ASSERT_NE(view, nullptr);
  RECT placed = clientRectOf(view);
  EXPECT_TRUE(EqualRect(&placed, &editArea));
  const auto lines = temp_.debugLines();
  const auto doVerb = std::find(lines.begin(), lines.end(), "DoVerb hr=0x00000000");
  ASSERT_NE(doVerb, lines.end());
  EXPECT_NE(std::find(doVerb, lines.end(), "createAgreementBrowser OK"), lines.end());

  // The options page takes the view off the screen without destroying it.
  ui_.switchToOptions();
  ASSERT_TRUE(ui_.sync());
  placed = clientRectOf(view);
  EXPECT_TRUE(IsRectEmpty(&placed));
  EXPECT_TRUE(IsWindow(view));
  ui_.close();
  EXPECT_FALSE(fileExists(htmlFile_));
}

TEST_F(AgreementRetrieval, HtmlEditionWithItsOwnByteOrderMarkGetsNoSecond) {
  scenario_.putFile(L"legal\\agreement.txt", kServerText);
  scenario_.putFile(L"legal\\agreement.html", std::string(kBom) + "<p>第一条</p>");
  publish(tlsSection("agreement.txt", "bom"));  // no digest: no check
  ASSERT_TRUE(open());
  ASSERT_TRUE(ui_.runWorker(retrieveAgreement));
  std::string expected = std::string(kBom) + "<p>第一条</p>";
  documents::styleAgreementHtml(expected);  // a fragment: framed, so the mark ends up inside the body
  EXPECT_EQ(readFileBytes(htmlFile_), kBom + (documents::kInternetZoneMark + expected));

  scenario_.putFile(L"legal\\agreement.html", std::string(kBom) + "<html><head></head><body>x</body></html>");
  ASSERT_TRUE(ui_.runWorker(retrieveAgreement));
  EXPECT_EQ(readFileBytes(htmlFile_),
            std::string(kBom) + documents::kInternetZoneMark + "<html><head>" + documents::kAgreementStyleBlock + "</head><body>x</body></html>");
}

TEST_F(AgreementRetrieval, MissingOrEmptyHtmlEditionLeavesThePlainText) {
  scenario_.putFile(L"legal\\agreement.txt", kServerText);
  publish(tlsSection("agreement.txt", "plain"));
  ASSERT_TRUE(open());
  ASSERT_TRUE(ui_.runWorker(retrieveAgreement));  // agreement.html: 404
  EXPECT_TRUE(requested("/legal/agreement.html"));
  EXPECT_EQ(ui_.text(kIdAgreementEdit), util::toWide(util::kCodePageUtf8, kServerText));
  EXPECT_FALSE(ui_.ctx().browserCreated);

  scenario_.putFile(L"legal\\agreement.html", "");
  ASSERT_TRUE(ui_.runWorker(retrieveAgreement));
  EXPECT_FALSE(fileExists(htmlFile_));
  EXPECT_FALSE(ui_.ctx().browserCreated);
  EXPECT_EQ(arrivals().size(), 2u);
  EXPECT_EQ(arrivals().back().substr(arrivals().back().size() - 10), " html=none");
}

TEST_F(AgreementRetrieval, HtmlEditionOverHttpOrWithAnotherDigestIsNotShown) {
  scenario_.putFile(L"legal\\agreement.txt", kServerText);
  scenario_.putFile(L"legal\\agreement.html", "<p>第一条</p>");
  publish(agreementSection("agreement.txt", "http", ""));
  ASSERT_TRUE(open());
  ASSERT_TRUE(ui_.runWorker(retrieveAgreement));
  EXPECT_FALSE(requested(".html"));

  publish(tlsSection("agreement.txt", "other", std::string(64, 'A')));
  ASSERT_TRUE(ui_.runWorker(retrieveAgreement));
  EXPECT_TRUE(requested("/legal/agreement.html"));
  EXPECT_FALSE(fileExists(htmlFile_));
  EXPECT_FALSE(ui_.ctx().browserCreated);
  EXPECT_EQ(ui_.text(kIdAgreementEdit), util::toWide(util::kCodePageUtf8, kServerText));
  EXPECT_EQ(arrivals().size(), 2u);
}

TEST_F(AgreementRetrieval, TextOfTheLargestSizeIsUsedAndOneByteMoreIsNot) {
  std::string text(documents::kMaxAgreementBytes, 'a');
  for (size_t i = 99; i < text.size(); i += 100) text[i] = '\n';
  scenario_.putFile(L"legal\\largest", text);
  text.push_back('a');
  scenario_.putFile(L"legal\\toolarge", text);
  publish(agreementSection("largest", "largest", ""));
  ASSERT_TRUE(open());
  // On the options page the arrival only logs its line, which carries the length.
  ui_.switchToOptions();
  ASSERT_TRUE(ui_.runWorker(retrieveAgreement));
  EXPECT_EQ(arrivals(), std::vector<std::string>{"AGREEMENT arrive: ver='largest' textLen=4194303 html=none"});

  publish(agreementSection("toolarge", "toolarge", ""));
  ASSERT_TRUE(ui_.runWorker(retrieveAgreement));
  EXPECT_TRUE(requested("/legal/toolarge"));
  EXPECT_EQ(arrivals().size(), 1u);
  EXPECT_FALSE(fileExists(temp_ / L"OrvaloSetup_agreement.txt"));
}

TEST_F(AgreementRetrieval, ArrivalAfterAcceptOnlyLogsAndTheInstallRecordsBuiltin) {
  scenario_.putFile(L"legal\\agreement.txt", kServerText);
  scenario_.putFile(L"legal\\agreement.html", "<p>x</p>");
  publish(agreementSection("agreement.txt", "late", ""));
  ASSERT_TRUE(open());
  const std::wstring builtin = ui_.text(kIdAgreementEdit);
  ui_.switchToOptions();
  ASSERT_TRUE(ui_.runWorker(retrieveAgreement));
  EXPECT_EQ(arrivals().size(), 1u);
  EXPECT_EQ(ui_.ctx().agreementVersion, L"builtin");
  EXPECT_EQ(ui_.text(kIdAgreementEdit), builtin);
  EXPECT_FALSE(ui_.ctx().browserCreated);
  EXPECT_FALSE(ui_.visible(kIdAgreementEdit));
}

// The install stops at the missing client, after it has written its markers and the agreement
// copy: enough to see which agreement it kept, without a shortcut, a registration or a started
// program. A folder in the place of the setup copy keeps the install from taking that copy for
// the client; the marker folder makes the folder an earlier attempt's.
TEST_F(AgreementRetrieval, InstallKeepsTheAgreementShownAndItsVersion) {
  scenario_.putFile(L"legal\\agreement.txt", kServerText);
  publish(agreementSection("agreement.txt", "2026.12-installed", ""));
  ASSERT_TRUE(open());
  ASSERT_TRUE(ui_.runWorker(retrieveAgreement));
  ASSERT_EQ(ui_.ctx().agreementVersion, L"2026.12-installed");
  ui_.switchToOptions();
  TempDir dir;
  ASSERT_TRUE(util::createDirectories(dir / L"OrvaloSetup.exe"));
  ASSERT_TRUE(util::createDirectories(dir / L"update"));
  ASSERT_TRUE(util::createDirectories(dir / L"legal"));
  ASSERT_TRUE(util::writeFile(dir / L"legal\\agreement_install.txt", "accepted long ago", 17));
  SendMessageW(ui_.item(kIdFolderEdit), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(dir.path().c_str()));
  ui_.click(kIdInstall);
  ASSERT_TRUE(waitUntil([&] { return ui_.text(kIdInstall) == kRetryButton; }, 60000)) << util::toUtf8(ui_.text(kIdStatus));
  EXPECT_EQ(ui_.text(kIdStatus), kFailurePrefix + std::wstring(L"安装完成，但未在安装目录找到主程序（Orvalo.exe）"));
  EXPECT_EQ(readFileBytes(markerDirectory(dir.path()) + L"\\_agreement.done"), "2026.12-installed");
  EXPECT_EQ(readFileBytes(dir / L"legal\\agreement_install.txt"), kServerText);
}

TEST_F(AgreementRetrieval, ClosingTheWindowWhileTheServerKeepsSilentIsPrompt) {
  const std::wstring path = scenario_.putFile(L"legal\\slow.txt", std::string(400000, 'x'));
  // The agreement's server accepts the request and says nothing for half a minute.
  scenario_.setFaultRules(R"({"rules": [{"silent": 30}]})");
  const std::string section = "[agreement]\r\nurl=" + util::toUtf8(scenario_.faultUrl(L"legal/slow.txt")) +
                              "\r\nversion=slow\r\nsha256=" + digestOf(path) + "\r\n";
  publish(section);
  ASSERT_TRUE(open(true));
  ASSERT_TRUE(waitUntil([&] { return scenario_.faultRequests().size() >= 1; }, 15000));
  Sleep(300);
  const auto start = std::chrono::steady_clock::now();
  ui_.close();  // returns when the window is gone
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));  // not the time-out
  EXPECT_TRUE(arrivals().empty());
}

}  // namespace
