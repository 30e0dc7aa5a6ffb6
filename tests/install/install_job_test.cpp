// The install job on its own, without a window: a real site on the loopback nginx, a recording
// sink, and the real install folder, registry and temporary folder.
#include "install/install_job.h"

#include "install/registration.h"
#include "install/texts.h"
#include "net/sha256.h"
#include "support/recording_sink.h"
#include "support/temp_dir.h"
#include "support/test_servers.h"
#include "support/zip_bytes.h"
#include "util/files.h"
#include "util/handles.h"
#include "util/paths.h"
#include "util/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

using testing_support::RecordingSink;
using testing_support::zipOf;

namespace {

// Sets the cancel event when a stage with the given beginning starts.
// A package's stage as the job words it.
std::wstring stageOf(const wchar_t* verb, const wchar_t* label) {
  return verb + std::wstring(label) + install::kStageEllipsis;
}

class CancellingSink : public RecordingSink {
 public:
  CancellingSink(std::wstring prefix, HANDLE event) : prefix_(std::move(prefix)), event_(event) {}
  void stage(const std::wstring& text) override {
    RecordingSink::stage(text);
    if (text.rfind(prefix_, 0) == 0) SetEvent(event_);
  }

 private:
  std::wstring prefix_;
  HANDLE event_;
};

class InstallJob : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string deps = zipOf({{"runtime/lib.dll", std::string(300000, 'd')}});
    const std::string main = zipOf({{"OrvaloTrader/Orvalo.exe", "MZ client"}, {"OrvaloTrader/readme.txt", "2.0"}});
    util::createDirectories(testing_support::serverStatePath(L"www\\" + scenario_.name() + L"\\download"));
    scenario_.putFile(L"deps.zip", deps);
    scenario_.putFile(L"main.zip", main);
    const std::string manifest =
        "[deps]\r\nurl=" + util::toUtf8(scenario_.nginxUrl(L"deps.zip")) + "\r\nversion=1.0\r\nsha256=" +
        sha256Hex(deps) + "\r\n[main]\r\nurl=" + util::toUtf8(scenario_.nginxUrl(L"main.zip")) +
        "\r\nversion=2.0\r\nsha256=" + sha256Hex(main) + "\r\n";
    scenario_.putFile(L"download\\manifest.ini", manifest);
    request_.baseUrl = scenario_.nginxUrl(L"");
    request_.baseUrl.pop_back();
    request_.createShortcut = false;
    request_.launch = false;
    request_.agreementText = L"协议";
    request_.agreementVersion = L"2026.1";
  }
  void TearDown() override {
    if (util::normalizePathKey(readInstallLocation()).rfind(util::normalizePathKey(dir_.path()), 0) == 0) {
      RegDeleteTreeW(HKEY_CURRENT_USER, kUninstallKeyPath);
    }
  }

  testing_support::ServerScenario scenario_;
  testing_support::TempDir dir_;
  install::InstallRequest request_;
};

TEST_F(InstallJob, InstallsWithoutAWindowAndReportsItsStagesInOrder) {
  request_.installDir = dir_ / L"app";
  RecordingSink sink;
  const prog::JobResult result = install::runInstall(request_, sink, nullptr);
  ASSERT_TRUE(result.ok()) << util::toUtf8(result.failure.text);
  EXPECT_EQ(result.mainProgram, request_.installDir + L"\\Orvalo.exe");
  EXPECT_TRUE(util::isExistingFile(request_.installDir + L"\\lib.dll"));  // one top folder is entered
  EXPECT_TRUE(util::isExistingFile(request_.installDir + L"\\legal\\agreement_install.txt"));

  // The dependencies unpack while the main program downloads; their stage shows only when the
  // job has to wait for them.
  std::vector<std::wstring> stages = sink.stages;
  const auto waited = std::find(stages.begin(), stages.end(), stageOf(install::kExtractingStage, L"依赖包"));
  if (waited != stages.end()) {
    EXPECT_EQ(*(waited - 1), stageOf(install::kVerifyingStage, L"主程序"));
    stages.erase(waited);
  }
  const std::vector<std::wstring> expected = {
      install::kFetchingVersionStage,
      install::kFetchingSizesStage,
      stageOf(install::kDownloadingStage, L"依赖包"),
      stageOf(install::kVerifyingStage, L"依赖包"),
      stageOf(install::kDownloadingStage, L"主程序"),
      stageOf(install::kVerifyingStage, L"主程序"),
      stageOf(install::kExtractingStage, L"主程序"),
      stageOf(install::kOverwritingStage, L"主程序"),
      install::kAgreementReadyStage};
  EXPECT_EQ(stages, expected);
  ASSERT_FALSE(sink.packages.empty());
  for (size_t i = 1; i < sink.packages.size(); ++i) {
    EXPECT_GE(sink.packages[i].permille, sink.packages[i - 1].permille) << "the bar never runs backwards";
  }
  EXPECT_EQ(sink.packages.back().permille, 1000) << "the last package's share runs to its end";
}

// Packages listed with mirrors: a source that refuses connections, answers 404 or serves other
// bytes is given up for the next, and the record names where each package came from.
TEST_F(InstallJob, PackagesComeFromTheNextMirrorAndFailCleanlyWhenNoSourceServesTheirBytes) {
  const std::string deps = zipOf({{"runtime/lib.dll", std::string(300000, 'd')}});
  const std::string main = zipOf({{"OrvaloTrader/Orvalo.exe", "MZ client"}});
  scenario_.putFile(L"deps.zip", deps);
  scenario_.putFile(L"main.zip", main);
  const std::string dead = "http://127.0.0.1:1/";  // loopback, nobody listens: refused at once
  const auto serveManifest = [&](const std::string& depsSources, const std::string& mainSources) {
    scenario_.putFile(L"download\\manifest.ini", "[deps]\r\nurl=" + depsSources + "\r\nversion=1.0\r\nsha256=" +
                                                     sha256Hex(deps) + "\r\n[main]\r\nurl=" + mainSources +
                                                     "\r\nversion=2.0\r\nsha256=" + sha256Hex(main) + "\r\n");
  };
  const std::string depsMirror = util::toUtf8(scenario_.faultUrl(L"deps.zip"));
  const std::string mainMirror = util::toUtf8(scenario_.faultUrl(L"main.zip"));
  serveManifest(dead + "deps.zip\r\nmirrors=" + depsMirror,
                util::toUtf8(scenario_.nginxUrl(L"missing.zip")) + "\r\nmirrors=" + dead + "main.zip " + mainMirror);
  request_.installDir = dir_ / L"app";
  RecordingSink sink;
  const prog::JobResult result = install::runInstall(request_, sink, nullptr);
  ASSERT_TRUE(result.ok()) << util::toUtf8(result.failure.text);
  EXPECT_TRUE(util::isExistingFile(request_.installDir + L"\\lib.dll"));
  EXPECT_EQ(sink.notes, (std::vector<std::wstring>{L"依赖包 " + std::wstring(install::kSourceBefore) +
                                                       util::toWide(util::kCodePageUtf8, depsMirror),
                                                   L"主程序 " + std::wstring(install::kSourceBefore) +
                                                       util::toWide(util::kCodePageUtf8, mainMirror)}));

  // Every source of the main program serves the dependencies' bytes.
  serveManifest(depsMirror, util::toUtf8(scenario_.nginxUrl(L"deps.zip")) + "\r\nmirrors=" + depsMirror);
  request_.installDir = dir_ / L"again";
  RecordingSink refused;
  const prog::JobResult failed = install::runInstall(request_, refused, nullptr);
  EXPECT_EQ(failed.failure.kind, prog::FailureKind::kVerification);
  EXPECT_EQ(failed.failure.text, std::wstring(L"主程序") + install::kDigestMismatch);
  EXPECT_FALSE(util::isExistingFile(request_.installDir + L"\\Orvalo.exe"));
}

TEST_F(InstallJob, CancelAtEachStageEndsCancelledAndLeavesNoTemporaryFiles) {
  for (const std::wstring& stage :
       {std::wstring(install::kFetchingVersionStage), std::wstring(install::kFetchingSizesStage),
        stageOf(install::kDownloadingStage, L"主程序"), stageOf(install::kVerifyingStage, L"主程序"),
        stageOf(install::kExtractingStage, L"主程序")}) {
    SCOPED_TRACE(util::toUtf8(stage));
    util::Handle cancel(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    CancellingSink sink(stage, cancel.get());
    request_.installDir = dir_ / (L"c" + std::to_wstring(sink.stages.size()) + stage);
    const prog::JobResult result = install::runInstall(request_, sink, cancel.get());
    EXPECT_FALSE(result.ok());
    EXPECT_TRUE(result.cancelled());
    EXPECT_EQ(result.failure.text, util::kCancelledText);
    EXPECT_EQ(prog::exitCodeFor(result), prog::kExitCancelled);
    bool leftover = false;
    util::forEachEntry(util::tempDirectory(), [&](const std::wstring&, const WIN32_FIND_DATAW& data) {
      leftover = leftover || std::wstring(data.cFileName).rfind(L"QVSetup_", 0) == 0;
      return true;
    });
    EXPECT_FALSE(leftover);
    EXPECT_FALSE(util::isExistingFile(request_.installDir + L"\\lib.dll.upg_tmp"));
  }
}

}  // namespace

// A repair whose package turns out damaged at its last entry, after the files before it went in
// place, puts every one of them back: the installation is the one it was, not a mix.
TEST_F(InstallJob, ARepairThatFailsAtTheLastEntryPutsEveryFileBack) {
  request_.installDir = dir_ / L"app";
  RecordingSink first;
  ASSERT_TRUE(install::runInstall(request_, first, nullptr).ok());
  const std::wstring readme = request_.installDir + L"\\readme.txt";
  ASSERT_TRUE(util::writeFile(readme, "the user's readme", 17));

  std::string main = zipOf({{"OrvaloTrader/Orvalo.exe", "MZ client 2"},
                            {"OrvaloTrader/readme.txt", "2.0 again"},
                            {"OrvaloTrader/zz_last.txt", "last entry of the package", 0}});
  main[main.find("last entry")] = 'L';  // its CRC-32 no longer matches
  scenario_.putFile(L"main.zip", main);
  std::string manifest = testing_support::readFileBytes(
      testing_support::serverStatePath(L"www\\" + scenario_.name() + L"\\download\\manifest.ini"));
  const size_t digest = manifest.rfind("sha256=") + 7;
  manifest.replace(digest, 64, sha256Hex(main));
  scenario_.putFile(L"download\\manifest.ini", manifest);

  RecordingSink repair;
  const prog::JobResult result = install::runInstall(request_, repair, nullptr);
  EXPECT_FALSE(result.ok());
  EXPECT_NE(result.failure.text.find(L"zz_last.txt"), std::wstring::npos) << util::toUtf8(result.failure.text);
  EXPECT_EQ(testing_support::readFileBytes(request_.installDir + L"\\Orvalo.exe"), "MZ client");
  EXPECT_EQ(testing_support::readFileBytes(readme), "the user's readme");
  EXPECT_FALSE(util::isExistingFile(request_.installDir + L"\\zz_last.txt"));
  EXPECT_FALSE(util::isExistingFile(request_.installDir + L"\\update\\upgrade.journal"));
}
