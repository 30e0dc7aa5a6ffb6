// The upgrade journal on real files: every way an apply can end or be cut short leaves either
// the old installation or the new one.
#include "install/upgrade_journal.h"

#include "support/temp_dir.h"
#include "util/files.h"
#include "util/text.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

using testing_support::readFileBytes;
using testing_support::TempDir;

namespace {

std::map<std::wstring, std::string> treeOf(const std::wstring& dir, const std::wstring& prefix = L"") {
  std::map<std::wstring, std::string> tree;
  util::forEachEntry(dir, [&](const std::wstring& path, const WIN32_FIND_DATAW& data) {
    const std::wstring name = prefix + data.cFileName;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      tree[name + L"\\"] = "";
      for (const auto& [sub, bytes] : treeOf(path, name + L"\\")) tree[sub] = bytes;
    } else {
      tree[name] = readFileBytes(path);
    }
    return true;
  });
  return tree;
}

void put(const std::wstring& path, const std::string& bytes) {
  ASSERT_TRUE(util::writeFile(path, bytes.data(), bytes.size()));
}

class Journal : public ::testing::Test {
 protected:
  void SetUp() override {
    util::createDirectories(app_ + L"\\update");
    util::createDirectories(app_ + L"\\plugins");
    put(app_ + L"\\Orvalo.exe", "client 1.0");
    put(app_ + L"\\plugins\\quotes.dll", "quotes 1.0");
    put(app_ + L"\\update\\_update.done", "1.0");
    put(staging_ + L"\\client", "client 2.0");
    put(staging_ + L"\\quotes", "quotes 2.0");
    before_ = treeOf(app_);
  }

  // Replaces two files, writes a marker, creates a folder with a new file.
  void applyAll(install::UpgradeJournal& journal) {
    ASSERT_TRUE(journal.begin(app_, L"2.0"));
    ASSERT_TRUE(journal.replace(staging_ + L"\\client", app_ + L"\\Orvalo.exe"));
    ASSERT_TRUE(journal.makeFolder(app_ + L"\\docs\\zh"));
    ASSERT_TRUE(journal.replace(staging_ + L"\\quotes", app_ + L"\\docs\\zh\\notes.txt"));
    ASSERT_TRUE(journal.replace(staging_ + L"\\quotes", app_ + L"\\plugins\\quotes.dll"));
    ASSERT_TRUE(journal.write(app_ + L"\\update\\_update.done", "2.0"));
  }

  TempDir dir_;
  const std::wstring app_ = dir_ / L"app";
  const std::wstring staging_ = dir_.path();
  std::map<std::wstring, std::string> before_;
};

TEST_F(Journal, RollbackPutsEveryFileBackAndCommitKeepsTheNewOnes) {
  {
    install::UpgradeJournal journal;
    applyAll(journal);
    journal.rollback();
  }
  EXPECT_EQ(treeOf(app_), before_);

  install::UpgradeJournal journal;
  applyAll(journal);
  journal.commit();
  const auto after = treeOf(app_);
  EXPECT_EQ(after.at(L"Orvalo.exe"), "client 2.0");
  EXPECT_EQ(after.at(L"docs\\zh\\notes.txt"), "quotes 2.0");
  EXPECT_EQ(after.at(L"update\\_update.done"), "2.0");
  EXPECT_EQ(after.size(), before_.size() + 3);  // docs, docs\zh and the new file; no old copies
  EXPECT_EQ(install::recoverUpgrade(app_), install::Recovery::kNone);
}

TEST_F(Journal, AnInterruptedApplyIsRolledBackAtTheNextStart) {
  {
    install::UpgradeJournal journal;
    applyAll(journal);
  }  // the process dies: the journal stays
  EXPECT_NE(treeOf(app_), before_);
  EXPECT_EQ(install::recoverUpgrade(app_), install::Recovery::kRolledBack);
  EXPECT_EQ(treeOf(app_), before_);

  // Cut between the line and its step: the journal names files it never touched, and a last
  // line without its end names one the user owns.
  const std::wstring path = install::upgradeJournalPath(app_);
  put(path, "ORVALO-UPGRADE-JOURNAL 1\nupgrade 2.0\nreplace " + util::toUtf8(app_ + L"\\Orvalo.exe") +
                "\ncreate " + util::toUtf8(app_ + L"\\plugins\\quotes.dll"));
  EXPECT_EQ(install::recoverUpgrade(app_), install::Recovery::kRolledBack);
  EXPECT_EQ(treeOf(app_), before_);
}

// Files prepared beside their places (and the folders made for them) while the client still ran,
// when the process dies before any went in place.
TEST_F(Journal, FilesPreparedBeforeAnInterruptionAreRemovedAtTheNextStart) {
  {
    install::UpgradeJournal journal;
    ASSERT_TRUE(journal.begin(app_, L"2.0"));
    ASSERT_TRUE(journal.stageBelow(app_));
    ASSERT_TRUE(journal.makeFolder(app_ + L"\\docs\\zh"));
    put(app_ + L"\\Orvalo.exe.upg_tmp", "client 2.0");
    put(app_ + L"\\docs\\zh\\notes.txt.upg_tmp", "notes 2.0");
  }
  EXPECT_EQ(install::recoverUpgrade(app_), install::Recovery::kRolledBack);
  EXPECT_EQ(treeOf(app_), before_);

  // The same, ending with one of them in place; then a batch placed whole and committed.
  const std::vector<std::wstring> targets = {app_ + L"\\Orvalo.exe", app_ + L"\\plugins\\quotes.dll",
                                             app_ + L"\\plugins\\new.dll"};
  const auto prepare = [&](install::UpgradeJournal& journal) {
    ASSERT_TRUE(journal.begin(app_, L"2.0"));
    ASSERT_TRUE(journal.stageBelow(app_));
    for (const std::wstring& target : targets) put(target + L".upg_tmp", "2.0");
  };
  {
    install::UpgradeJournal journal;
    prepare(journal);
    ASSERT_TRUE(journal.placeStaged(targets[0]));
    journal.rollback();
    EXPECT_EQ(treeOf(app_), before_);
  }
  {
    install::UpgradeJournal journal;
    prepare(journal);
    size_t failedAt = 0, placed = 0;
    ASSERT_TRUE(journal.placeStagedAll(targets, [&](size_t) { ++placed; }, failedAt));
    EXPECT_EQ(placed, 3u);
  }  // the process dies before the commit
  EXPECT_EQ(install::recoverUpgrade(app_), install::Recovery::kRolledBack);
  EXPECT_EQ(treeOf(app_), before_);

  install::UpgradeJournal journal;
  prepare(journal);
  size_t failedAt = 0;
  ASSERT_TRUE(journal.placeStagedAll(targets, nullptr, failedAt));
  journal.commit();
  const auto after = treeOf(app_);
  EXPECT_EQ(after.size(), before_.size() + 1);  // the new file, no old copies or staged files
  for (const std::wstring& target : targets) EXPECT_EQ(readFileBytes(target), "2.0");
}

TEST_F(Journal, ABatchWithAReadOnlyTargetIsRefusedBeforeAnyFileMoves) {
  SetFileAttributesW((app_ + L"\\plugins\\quotes.dll").c_str(), FILE_ATTRIBUTE_READONLY);
  install::UpgradeJournal journal;
  ASSERT_TRUE(journal.begin(app_, L"2.0"));
  ASSERT_TRUE(journal.stageBelow(app_));
  put(app_ + L"\\Orvalo.exe.upg_tmp", "client 2.0");
  put(app_ + L"\\plugins\\quotes.dll.upg_tmp", "quotes 2.0");
  size_t failedAt = 9;
  EXPECT_FALSE(journal.placeStagedAll({app_ + L"\\Orvalo.exe", app_ + L"\\plugins\\quotes.dll"}, nullptr, failedAt));
  EXPECT_EQ(failedAt, 1u);
  EXPECT_EQ(readFileBytes(app_ + L"\\Orvalo.exe"), "client 1.0");
  journal.rollback();
  SetFileAttributesW((app_ + L"\\plugins\\quotes.dll").c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(treeOf(app_), before_);
}

TEST_F(Journal, AJournalNamingAnythingOutsideTheInstallationTouchesNothing) {
  put(dir_ / L"outside.txt", "the user's");
  put(install::upgradeJournalPath(app_), "ORVALO-UPGRADE-JOURNAL 1\ncreate " +
                                             util::toUtf8(app_ + L"\\Orvalo.exe") + "\ncreate " +
                                             util::toUtf8(app_ + L"\\..\\outside.txt") + "\n");
  EXPECT_EQ(install::recoverUpgrade(app_), install::Recovery::kUntrusted);
  EXPECT_EQ(readFileBytes(dir_ / L"outside.txt"), "the user's");
  EXPECT_EQ(readFileBytes(app_ + L"\\Orvalo.exe"), "client 1.0");
  EXPECT_EQ(install::recoverUpgrade(app_), install::Recovery::kNone);  // set aside
}

TEST_F(Journal, AReadOnlyTargetIsRefusedAndTheRollbackRestoresTheRest) {
  SetFileAttributesW((app_ + L"\\plugins\\quotes.dll").c_str(), FILE_ATTRIBUTE_READONLY);
  install::UpgradeJournal journal;
  ASSERT_TRUE(journal.begin(app_, L"2.0"));
  ASSERT_TRUE(journal.replace(staging_ + L"\\client", app_ + L"\\Orvalo.exe"));
  EXPECT_FALSE(journal.replace(staging_ + L"\\quotes", app_ + L"\\plugins\\quotes.dll"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  journal.rollback();
  EXPECT_EQ(treeOf(app_), before_);
  SetFileAttributesW((app_ + L"\\plugins\\quotes.dll").c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
