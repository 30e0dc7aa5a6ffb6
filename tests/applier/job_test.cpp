// The upgrade job in this process against the loopback servers: a plan of three items applied
// over a prepared installation, and every failure with its exact text, the installation left as
// it was when the fetch phase fails and the client started again when a later step fails.
#include "applier/texts.h"
#include "applier/upgrade_job.h"
#include "applier/upgrade_rules.h"
#include "applier/upgrade_steps.h"
#include "install/upgrade_journal.h"
#include "net/sha256.h"
#include "packages/package_index_io.h"
#include "support/file_holder.h"
#include "support/temp_dir.h"
#include "support/test_servers.h"
#include "upgrade_fixture.h"
#include "util/files.h"
#include "util/handles.h"
#include "util/paths.h"
#include "util/text.h"

#include <gtest/gtest.h>

using namespace testing_support;
using namespace upgrade_testing;

namespace {

std::string digestOf(const std::string& bytes) {
  TempDir dir;
  util::writeFile(dir / L"f", bytes.data(), bytes.size());
  std::string digest;
  EXPECT_TRUE(sha256File(dir / L"f", digest, nullptr, nullptr));
  return digest;
}

std::wstring wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

bool startsWith(const std::wstring& text, const std::wstring& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool anyStartsWith(const std::vector<std::wstring>& lines, const std::wstring& prefix) {
  for (const std::wstring& line : lines) {
    if (startsWith(line, prefix)) return true;
  }
  return false;
}

class UpgradeJob : public ::testing::Test {
 protected:
  void SetUp() override {
    install_ = dir_ / L"Orvalo 量化";
    prepareInstallation(install_);
    before_ = treeOf(install_);
    ctx_.options.exe = install_ + L"\\Orvalo.exe";
    ctx_.options.launch = false;
  }

  UpgradeItem item(const std::wstring& file, const std::string& bytes, const std::wstring& kind,
                   const std::wstring& version, const std::wstring& dest = L"") {
    scenario_.putFile(file, bytes);
    UpgradeItem it;
    it.url = scenario_.nginxUrl(file);
    it.sha256 = wide(digestOf(bytes));
    it.kind = kind;
    it.version = version;
    it.dest = dest;
    return it;
  }

  void expectUntouched() {
    EXPECT_TRUE(treeOf(install_) == before_) << "the installation changed";
    EXPECT_FALSE(dirExists(install_ + L"\\backup"));
  }

  ServerScenario scenario_;
  TempDir dir_;
  std::wstring install_;
  std::map<std::wstring, std::string> before_;
  applier::Ctx ctx_;
};

TEST_F(UpgradeJob, AppliesAPlanOfThreeItems) {
  ctx_.items.push_back(item(L"main_2.0.0.zip", packageBytes(L"main.zip"), L"", L"2.0.0"));
  ctx_.items.push_back(item(L"quotes_2.1.zip", packageBytes(L"component.zip"), L"Quotes", L"v2.1-rc", L"plugins\\quotes"));
  ctx_.items.push_back(item(L"notes_2.0.txt", "release notes 2.0", L"docs", L"2.0", L"docs/说明"));

  const JobOutcome outcome = runJob(ctx_);
  ASSERT_TRUE(outcome.success) << util::toUtf8(outcome.failure);

  // The main package's content root went into the install folder, the databases stayed.
  EXPECT_EQ(readFileBytes(install_ + L"\\readme.txt"), "Orvalo量化 2.0.0\n");
  EXPECT_EQ(readFileBytes(install_ + L"\\bin\\engine.dll"), "engine 2.0.0");
  EXPECT_EQ(readFileBytes(install_ + L"\\Orvalo.exe"), readFileBytes(util::moduleDirectory() + L"\\Orvalo.exe"));
  EXPECT_EQ(readFileBytes(install_ + L"\\data\\orvalo.db"), "the user's settings");
  EXPECT_EQ(readFileBytes(install_ + L"\\orvalo.db"), "the user's trades");
  EXPECT_EQ(readFileBytes(install_ + L"\\plugins\\quotes\\quotes.cfg"), "quotes 2.1");
  EXPECT_EQ(readFileBytes(install_ + L"\\plugins\\quotes\\行情.txt"), "行情插件 2.1\n");
  EXPECT_EQ(readFileBytes(install_ + L"\\docs\\说明\\notes_2.0.txt"), "release notes 2.0");
  EXPECT_EQ(readFileBytes(install_ + L"\\channel.ini"), before_[L"\\channel.ini"]);

  EXPECT_EQ(readFileBytes(install_ + L"\\update\\_update.done"), "2.0.0");
  EXPECT_EQ(readFileBytes(install_ + L"\\update\\_quotes.done"), "v2.1");
  EXPECT_EQ(readFileBytes(install_ + L"\\update\\_docs.done"), "2.0");

  // The snapshot holds the folder's database with its companion, not the one in data.
  const std::vector<std::wstring> snapshots = snapshotFolders(install_);
  ASSERT_EQ(snapshots.size(), 1u);
  EXPECT_EQ(readFileBytes(snapshots[0] + L"\\orvalo.db"), "the user's trades");
  EXPECT_EQ(readFileBytes(snapshots[0] + L"\\orvalo.db-wal"), "the user's recent trades");
  EXPECT_TRUE(anyStartsWith(outcome.statuses, applier::kSnapshotDoneStage + snapshots[0]));

  EXPECT_TRUE(jobLeftoversInTemp().empty());
  // The replaced files' old copies wait under the committed journal for the process to delete
  // them after the window has said the upgrade is done.
  EXPECT_TRUE(fileExists(install_ + L"\\readme.txt.upg_old"));
  EXPECT_EQ(install::recoverUpgrade(install_), install::Recovery::kCommitted);
  EXPECT_FALSE(fileExists(install_ + L"\\readme.txt.upg_old"));
  EXPECT_FALSE(fileExists(install::upgradeJournalPath(install_)));
  const auto counted = [](const wchar_t* stage, size_t index) {
    return stage + applier::packageCounterSuffix(index, 3);
  };
  for (const std::wstring& stage :
       {std::wstring(applier::kFetchingSizesStage), counted(applier::kDownloadingStage, 0),
        counted(applier::kVerifyingStage, 1), counted(applier::kExtractingStage, 0),
        counted(applier::kDownloadingStage, 2), std::wstring(applier::kWaitingForClientStage),
        counted(applier::kOverwritingStage, 0), counted(applier::kOverwritingStage, 2)}) {
    EXPECT_TRUE(anyStartsWith(outcome.statuses, stage)) << util::toUtf8(stage);
  }
  EXPECT_FALSE(anyStartsWith(outcome.statuses, applier::kLaunchingStage));  // launch false
  ASSERT_FALSE(outcome.packages.empty());
  EXPECT_EQ(outcome.packages.front().index, 1u);
  EXPECT_EQ(outcome.packages.front().count, 3u);
  EXPECT_EQ(outcome.packages.back().index, 3u);
}

TEST_F(UpgradeJob, ABareMainProgramReplacesTheClientThroughATemporaryFile) {
  ctx_.items.push_back(item(L"Orvalo_2.0.1.exe", "new client program", L"MAIN", L"2.0.1 beta"));
  const JobOutcome outcome = runJob(ctx_);
  ASSERT_TRUE(outcome.success) << util::toUtf8(outcome.failure);
  EXPECT_EQ(readFileBytes(install_ + L"\\Orvalo.exe"), "new client program");
  EXPECT_FALSE(fileExists(install_ + L"\\Orvalo.exe.upg_tmp"));
  EXPECT_FALSE(fileExists(install_ + L"\\Orvalo_2.0.1.exe"));
  EXPECT_EQ(readFileBytes(install_ + L"\\update\\_update.done"), "2.0.1");
  EXPECT_TRUE(anyStartsWith(outcome.statuses, applier::kOverwritingMainStage + std::wstring(applier::kStageEllipsis)));
  EXPECT_FALSE(fileExists(util::tempDirectory() + L"\\Orvalo_2.0.1.exe"));
}

TEST_F(UpgradeJob, ASecondItemThatFailsToDownloadTouchesNothing) {
  ctx_.items.push_back(item(L"main_2.0.0.zip", packageBytes(L"main.zip"), L"", L"2.0.0"));
  UpgradeItem missing;
  missing.url = scenario_.nginxUrl(L"missing_2.0.zip");
  ctx_.items.push_back(missing);
  const JobOutcome outcome = runJob(ctx_);
  EXPECT_FALSE(outcome.success);
  EXPECT_TRUE(startsWith(outcome.failure, applier::kDownloadFailed)) << util::toUtf8(outcome.failure);
  EXPECT_GT(outcome.failure.size(), 8u);
  expectUntouched();
  EXPECT_FALSE(fileExists(util::tempDirectory() + L"\\up1_missing_2.0.zip"));
  // The first item's content stays fetched, and what the download got stays for a resume.
  util::deleteDirRecursive(util::tempDirectory() + L"\\OrvaloSetup_upgrade_x0");
  util::deleteFileForce(util::tempDirectory() + L"\\up1_missing_2.0.zip.part");
}

TEST_F(UpgradeJob, ADigestMismatchTouchesNothing) {
  UpgradeItem main = item(L"main_2.0.0.zip", packageBytes(L"main.zip"), L"", L"2.0.0");
  main.sha256[0] = main.sha256[0] == L'0' ? L'1' : L'0';
  ctx_.items.push_back(main);
  JobOutcome outcome = runJob(ctx_);
  EXPECT_EQ(outcome.failure, applier::kDigestMismatch);
  expectUntouched();
  EXPECT_FALSE(fileExists(util::tempDirectory() + L"\\main_2.0.0.zip"));

  // A digest in upper case never matches.
  UpgradeItem upper = item(L"main_2.0.0.zip", packageBytes(L"main.zip"), L"", L"2.0.0");
  for (wchar_t& c : upper.sha256) c = static_cast<wchar_t>(towupper(c));
  ctx_.items = {upper};
  outcome = runJob(ctx_);
  EXPECT_EQ(outcome.failure, applier::kDigestMismatch);
  expectUntouched();
}

TEST_F(UpgradeJob, ABrokenZipTouchesNothing) {
  ctx_.items.push_back(item(L"broken_2.0.zip", packageBytes(L"broken.zip"), L"", L"2.0.0"));
  const JobOutcome outcome = runJob(ctx_);
  EXPECT_TRUE(startsWith(outcome.failure, applier::kExtractFailed)) << util::toUtf8(outcome.failure);
  EXPECT_GT(outcome.failure.size(), 8u);
  expectUntouched();
  EXPECT_FALSE(fileExists(util::tempDirectory() + L"\\broken_2.0.zip"));
  EXPECT_FALSE(dirExists(util::tempDirectory() + L"\\OrvaloSetup_upgrade_x")) << "the extraction folder stays";
}

TEST_F(UpgradeJob, AnExeWithoutSeparatorFailsBeforeAnyDownload) {
  ctx_.items.push_back(item(L"main_2.0.0.zip", packageBytes(L"main.zip"), L"", L"2.0.0"));
  ctx_.options.exe = L"Orvalo.exe";
  const JobOutcome outcome = runJob(ctx_);
  EXPECT_EQ(outcome.failure, applier::kBadExeArgument);
  EXPECT_TRUE(scenario_.nginxRequests().empty());
  expectUntouched();
}

// Items that cannot be put in place fail before the client is waited for, so that a client still
// running is left alone; a bad destination fails even before any download.
TEST_F(UpgradeJob, ADotDotDestinationIsRefusedBeforeAnyDownload) {
  ctx_.items.push_back(item(L"main_2.0.0.zip", packageBytes(L"main.zip"), L"", L"2.0.0"));
  ctx_.items.push_back(item(L"quotes_2.1.zip", packageBytes(L"component.zip"), L"quotes", L"2.1", L"plugins/../.."));
  const JobOutcome outcome = runJob(ctx_);
  EXPECT_EQ(outcome.failure, applier::kDestParentSegment);
  EXPECT_TRUE(scenario_.nginxRequests().empty());
  EXPECT_FALSE(anyStartsWith(outcome.statuses, applier::kWaitingForClientStage));
  expectUntouched();
}

// A kind names the item's marker file "_<kind>.done", a relative destination names folders.
TEST_F(UpgradeJob, KindsAndDestinationsThatAreNoPlainNamesAreRefusedBeforeAnyDownload) {
  const struct {
    const wchar_t* kind;
    const wchar_t* dest;
    std::wstring failure;
  } cases[] = {
      {L"..\\..\\x", L"", applier::kBadKindArgument + std::wstring(L"..\\..\\x")},
      {L"Update", L"", applier::kBadKindArgument + std::wstring(L"Update")},
      {L"quotes", L"plugins\\NUL", applier::kDestBadName + std::wstring(L"plugins\\NUL")},
  };
  for (const auto& c : cases) {
    ctx_.items.clear();
    ctx_.items.push_back(item(L"main_2.0.0.zip", packageBytes(L"main.zip"), L"", L"2.0.0"));
    ctx_.items.push_back(item(L"quotes_2.1.zip", packageBytes(L"component.zip"), c.kind, L"2.1", c.dest));
    const JobOutcome outcome = runJob(ctx_);
    EXPECT_EQ(outcome.failure, c.failure);
  }
  EXPECT_TRUE(scenario_.nginxRequests().empty());
  expectUntouched();
}

TEST_F(UpgradeJob, ASingleDatabaseFileIsNeverPutInPlace) {
  ctx_.items.push_back(item(L"orvalo.db", "a database from the server", L"quotes", L"2.1"));
  const JobOutcome outcome = runJob(ctx_);
  EXPECT_EQ(outcome.failure, applier::kDatabaseRefused + install_ + L"\\orvalo.db");
  EXPECT_FALSE(anyStartsWith(outcome.statuses, applier::kWaitingForClientStage));
  expectUntouched();
  util::deleteFileForce(util::tempDirectory() + L"\\orvalo.db");
}

// The single package of the command line, with content already on disk that is not there.
TEST_F(UpgradeJob, MissingSourceContentIsReportedBeforeTheWait) {
  ctx_.options.src = dir_ / L"没有的内容";
  JobOutcome outcome = runJob(ctx_);
  EXPECT_EQ(outcome.failure, applier::kContentMissing + (dir_ / L"没有的内容"));
  // Neither --url nor --src: nothing to put in place.
  ctx_.options.src.clear();
  outcome = runJob(ctx_);
  EXPECT_EQ(outcome.failure, applier::kContentMissing);
  EXPECT_FALSE(anyStartsWith(outcome.statuses, applier::kWaitingForClientStage));
  expectUntouched();
}

// A failure while the files go in place: the client, closed for the upgrade, is started again,
// unless the run was told not to start it.
TEST_F(UpgradeJob, AFailureAfterTheClientClosedStartsItAgain) {
  const std::wstring held = install_ + L"\\docs\\notes_2.0.txt";
  util::createDirectories(install_ + L"\\docs");
  ASSERT_TRUE(util::writeFile(held, "old notes", 9));
  FileHolder holder(held);
  ASSERT_TRUE(holder.holding());
  for (const bool launch : {false, true}) {
    ctx_.options.launch = launch;
    ctx_.items = {item(L"notes_2.0.txt", "release notes 2.0", L"docs", L"2.0", L"docs")};
    const JobOutcome outcome = runJob(ctx_);
    EXPECT_TRUE(startsWith(outcome.failure, applier::kOverwriteFailed + std::wstring(applier::kReasonOpen))) << util::toUtf8(outcome.failure);
    std::vector<util::Handle> clients;
    for (DWORD pid : processIdsNamed(L"Orvalo.exe")) {
      if (util::Handle client = applier::openClientProcess(std::to_wstring(pid), ctx_.options.exe)) {
        clients.push_back(std::move(client));
      }
    }
    EXPECT_EQ(clients.size(), launch ? 1u : 0u) << "launch " << launch;
    for (const util::Handle& client : clients) {
      TerminateProcess(client.get(), 0);
      WaitForSingleObject(client.get(), 10000);
    }
  }
  util::deleteFileForce(util::tempDirectory() + L"\\notes_2.0.txt");
}

// Content already on disk (--src) is put in place and its --clean folder removed afterwards.
TEST_F(UpgradeJob, ContentOnDiskIsAppliedAndItsCleanFolderRemoved) {
  const std::wstring content = dir_ / L"content";
  util::createDirectories(content + L"\\bin");
  util::writeFile(content + L"\\bin\\engine.dll", "engine 3", 8);
  ctx_.options.src = content;
  ctx_.options.clean = content;
  ctx_.options.version = L"3.0";
  const JobOutcome outcome = runJob(ctx_);
  ASSERT_TRUE(outcome.success) << util::toUtf8(outcome.failure);
  EXPECT_EQ(readFileBytes(install_ + L"\\bin\\engine.dll"), "engine 3");
  EXPECT_EQ(readFileBytes(install_ + L"\\update\\_update.done"), "3.0");
  EXPECT_FALSE(dirExists(content));
}

// A file, then two packages of one kind, all with a file in common: the last one's file and
// version go in place. When a later step fails, the rollback brings back what was there before.
TEST_F(UpgradeJob, APackageMayReplaceAFileOfAnEarlierOne) {
  const std::wstring held = install_ + L"\\docs\\notes_2.0.txt";
  ASSERT_TRUE(util::createDirectories(install_ + L"\\docs"));
  ASSERT_TRUE(util::writeFile(held, "old notes", 9));
  const std::map<std::wstring, std::string> before = treeOf(install_);
  const UpgradeItem quotes = item(L"quotes_2.1.zip", packageBytes(L"component.zip"), L"Quotes", L"2.1", L"plugins\\quotes");
  const UpgradeItem hotfix = item(L"quotes_2.1.1.zip", packageBytes(L"hotfix.zip"), L"Quotes", L"2.1.1", L"plugins\\quotes");
  const UpgradeItem single = item(L"quotes.cfg", "quotes 2.0", L"Config", L"2.0", L"plugins\\quotes");
  {
    FileHolder holder(held);
    ASSERT_TRUE(holder.holding());
    ctx_.items = {single, quotes, hotfix, item(L"notes_2.0.txt", "release notes 2.0", L"docs", L"2.0", L"docs")};
    EXPECT_TRUE(startsWith(runJob(ctx_).failure, applier::kOverwriteFailed + std::wstring(applier::kReasonOpen)));
  }
  std::map<std::wstring, std::string> after = treeOf(install_);
  // The databases' snapshot stays after a failed upgrade.
  after.erase(after.lower_bound(L"\\backup\\"), after.lower_bound(L"\\backup]"));
  EXPECT_TRUE(after == before) << "the rollback left the installation changed";

  ctx_.items = {single, quotes, hotfix};
  const JobOutcome outcome = runJob(ctx_);
  ASSERT_TRUE(outcome.success) << util::toUtf8(outcome.failure);
  EXPECT_EQ(readFileBytes(install_ + L"\\plugins\\quotes\\quotes.cfg"), "quotes 2.1.1");
  EXPECT_EQ(readFileBytes(install_ + L"\\plugins\\quotes\\行情.txt"), "行情插件 2.1\n");
  EXPECT_EQ(readFileBytes(install_ + L"\\update\\_quotes.done"), "2.1.1");
  util::deleteFileForce(util::tempDirectory() + L"\\notes_2.0.txt");
}

}  // namespace

// A package with an index: only the entries that differ are fetched when all is well; a server
// that ignores ranges, an index that fails its digest and one that points at other bytes each
// bring the whole package instead. Every run ends with version 2 exactly, the user's database kept.
TEST_F(UpgradeJob, WithAnIndexOnlyChangedEntriesAreFetchedAndAnyDoubtFetchesTheWholePackage) {
  const IndexedRelease& release = indexedRelease();
  PackageIndex misplaced = release.index2;
  for (PackageIndexEntry& e : misplaced.entries) {
    if (e.path == release.changed[1]) e.headerOffset += 1;
  }
  struct Case {
    const char* name;
    std::wstring zip;
    std::string index;
    bool wrongDigest;
  };
  for (const Case& c : {Case{"by index", L"r2.zip", release.indexBytes2, false},
                        Case{"ranges ignored", L"noranges/r2.zip", release.indexBytes2, false},
                        Case{"wrong digest", L"d2.zip", release.indexBytes2, true},
                        Case{"misplaced entry", L"m2.zip", formatPackageIndex(misplaced), false}}) {
    SCOPED_TRACE(c.name);
    const std::wstring dir = dir_ / util::toWide(util::kCodePageUtf8, c.name);
    prepareInstallation(dir);
    putFiles(dir, release.files1);
    scenario_.putFile(c.zip + L".index", c.index);
    applier::Ctx ctx;
    ctx.options.exe = dir + L"\\Orvalo.exe";
    ctx.options.launch = false;
    UpgradeItem main = item(c.zip, release.zip2, L"main", L"2.0.0");
    main.index = scenario_.nginxUrl(c.zip + L".index");
    main.indexSha256 = c.wrongDigest ? digestOf("another index") : digestOf(c.index);
    ctx.items.push_back(main);

    const JobOutcome outcome = runJob(ctx);
    ASSERT_TRUE(outcome.success) << util::toUtf8(outcome.failure);
    for (const auto& [path, bytes] : release.files2) EXPECT_EQ(readFileBytes(dir + L"\\" + path), bytes) << util::toUtf8(path);
    EXPECT_EQ(readFileBytes(dir + L"\\data\\orvalo.db"), "the user's settings");
    EXPECT_EQ(readFileBytes(dir + L"\\update\\_update.done"), "2.0.0");
    EXPECT_TRUE(jobLeftoversInTemp().empty());

    const std::string zipName = util::toUtf8(c.zip.substr(c.zip.find_last_of(L'/') + 1));
    const std::string ranges = onlyChangedRangesFetched(scenario_.nginxRequests(), zipName, release);
    if (std::string(c.name) == "by index") {
      EXPECT_EQ(ranges, "");
      EXPECT_TRUE(anyStartsWith(outcome.statuses, applier::kFetchingChangesStage));
    } else {
      EXPECT_NE(ranges, "");  // the whole package: a request without a range
    }
  }
}
