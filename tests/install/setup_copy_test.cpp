// The installation's copy of the setup against setups of other versions: the real OrvaloSetup.exe
// of this build and a program that carries a later version.
#include "install/setup_copy.h"

#include "support/temp_dir.h"
#include "util/files.h"
#include "util/paths.h"

#include <gtest/gtest.h>

namespace {

const std::wstring kSetup = util::moduleDirectory() + L"\\OrvaloSetup.exe";
const std::wstring kNewer = util::moduleDirectory() + L"\\newer_setup.exe";

std::string bytesOf(const std::wstring& path) {
  std::string bytes;
  EXPECT_TRUE(util::readFile(path, bytes));
  return bytes;
}

TEST(SetupCopy, VersionsAreReadFromTheFilesResource) {
  const auto ours = install::fileVersionOf(kSetup);
  ASSERT_TRUE(ours.has_value());
  EXPECT_EQ(install::fileVersionOf(kNewer), std::optional<uint64_t>(60000ull << 48 | 1));
  testing_support::TempDir dir;
  ASSERT_TRUE(util::writeFile(dir / L"plain.exe", "MZ", 2));
  EXPECT_FALSE(install::fileVersionOf(dir / L"plain.exe").has_value());
  EXPECT_FALSE(install::fileVersionOf(dir / L"missing.exe").has_value());
  EXPECT_FALSE(install::fixedFileVersion(std::string(40, '\0')).has_value());
}

TEST(SetupCopy, AnOlderSetupLeavesANewerCopyAndReplacesAnOlderOne) {
  testing_support::TempDir dir;
  const std::wstring copy = dir / L"OrvaloSetup.exe";
  ASSERT_TRUE(util::copyFileOver(kNewer, copy));
  install::refreshSetupCopy(kSetup, copy);
  EXPECT_EQ(bytesOf(copy), bytesOf(kNewer)) << "a repair with an older setup downgraded the copy";

  install::refreshSetupCopy(kNewer, dir / L"other.exe");  // none there yet
  EXPECT_EQ(bytesOf(dir / L"other.exe"), bytesOf(kNewer));

  // A copy from before setups carried a version is older than any.
  ASSERT_TRUE(util::writeFile(copy, "MZ old", 6));
  install::refreshSetupCopy(kSetup, copy);
  EXPECT_EQ(bytesOf(copy), bytesOf(kSetup));
  install::refreshSetupCopy(kNewer, copy);
  EXPECT_EQ(bytesOf(copy), bytesOf(kNewer)) << "a newer setup replaces the copy";
}

}  // namespace
