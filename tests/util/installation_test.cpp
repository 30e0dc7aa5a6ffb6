// What makes a folder an installation, and which of its entries an uninstall keeps for the user.
#include "util/installation.h"

#include <gtest/gtest.h>

using namespace util;

TEST(FolderRules, TheRegisteredLocationIsAnInstallationWhateverItHolds) {
  InstallEvidence e;
  e.registered = true;
  EXPECT_TRUE(looksLikeInstallation(e));
}

TEST(FolderRules, TheSetupCopyAloneIsNoInstallation) {
  // A downloads folder holding the downloaded setup.
  InstallEvidence e;
  e.setupCopy = true;
  EXPECT_FALSE(looksLikeInstallation(e));
}

TEST(FolderRules, ChannelFileOrMarkersBesideTheSetupCopyAreAnInstallation) {
  InstallEvidence channel;
  channel.setupCopy = channel.channelFile = true;
  EXPECT_TRUE(looksLikeInstallation(channel));
  InstallEvidence markers;
  markers.setupCopy = markers.markerDir = true;
  EXPECT_TRUE(looksLikeInstallation(markers));
}

TEST(FolderRules, ChannelFileAndMarkersWithoutTheSetupCopyAreNoInstallation) {
  InstallEvidence e;
  e.channelFile = e.markerDir = true;
  EXPECT_FALSE(looksLikeInstallation(e));
  EXPECT_FALSE(looksLikeInstallation(InstallEvidence{}));
}

TEST(UninstallKeptFiles, AreDatabasesAnywhereAndTheTopBackupFolder) {
  EXPECT_TRUE(isKeptUserEntry(L"orders.db", false) && isKeptUserEntry(L"a\\b\\q.DB-WAL", false));
  EXPECT_TRUE(isKeptUserEntry(L"BackUp", true));
  EXPECT_FALSE(isKeptUserEntry(L"backup", false) || isKeptUserEntry(L"plugins\\backup", true));
  EXPECT_FALSE(isKeptUserEntry(L"store.db", true));  // a folder named like a database is walked
  EXPECT_FALSE(isKeptUserEntry(L"data\\orders.db.bak", false));
}
