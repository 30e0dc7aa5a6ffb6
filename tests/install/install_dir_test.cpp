#include "install/install_dir.h"

#include "install/texts.h"
#include "support/temp_dir.h"
#include "util/files.h"

#include <gtest/gtest.h>

using testing_support::TempDir;

using namespace install;

namespace {

const std::wstring kLocal = L"C:\\users\\trader\\AppData\\Local";
const InstallDirContext kContext{kLocal, L""};

std::wstring accepted(const std::wstring& text, bool subfolder, const InstallDirContext& context = kContext) {
  const InstallDirCheck check = validateInstallDir(text, subfolder, context);
  EXPECT_TRUE(check.ok) << "refused: " << check.message.size();
  return check.dir;
}

std::wstring refused(const std::wstring& text, bool subfolder, const InstallDirContext& context = kContext) {
  const InstallDirCheck check = validateInstallDir(text, subfolder, context);
  EXPECT_FALSE(check.ok);
  EXPECT_TRUE(check.dir.empty());
  return check.message;
}

void makeFile(const std::wstring& path) { ASSERT_TRUE(util::writeFile(path, "x", 1)); }

}  // namespace

TEST(ValidateInstallDir, EmptyTextAsksForAFolder) {
  EXPECT_EQ(refused(L"", false), kDirEmpty);
  EXPECT_EQ(refused(L"  ", true), kDirEmpty);
}

TEST(ValidateInstallDir, TextThatIsNotAFullPathIsRefused) {
  for (const wchar_t* text : {L"Orvalo", L"Orvalo\\x", L"D:Orvalo", L"\\Orvalo", L"%LOCALAPPDATA%\\x",
                              L"\\\\?\\D:\\Orvalo", L"\\\\server"}) {
    EXPECT_EQ(refused(text, false), kDirNotAbsolute) << text;
    EXPECT_EQ(refused(text, true), kDirNotAbsolute) << text;
  }
  EXPECT_EQ(refused(L"D:\\a<b", false), kDirBadCharacters);
  EXPECT_EQ(refused(L"D:\\a:b", true), kDirBadCharacters);
}

TEST(ValidateInstallDir, EverySpellingOfADriveRootIsRefusedWithoutSubfolder) {
  for (const wchar_t* text : {L"D:\\", L"D:\\\\\\", L"D:", L"D:/", L"D:\\.", L"D:\\..", L"d:\\Apps\\..",
                              L"\\\\server\\share", L"\\\\server\\share\\"}) {
    EXPECT_EQ(refused(text, false), kDirDriveRoot) << text;
  }
  EXPECT_EQ(accepted(L"D:\\", true), L"D:\\OrvaloTrader");
  EXPECT_EQ(accepted(L"D:/..", true), L"D:\\OrvaloTrader");
  EXPECT_EQ(accepted(L"\\\\server\\share", true), L"\\\\server\\share\\OrvaloTrader");
}

TEST(ValidateInstallDir, PathIsNormalised) {
  EXPECT_EQ(accepted(L"D:\\Apps\\", false), L"D:\\Apps");
  EXPECT_EQ(accepted(L"D:\\Apps\\\\", true), L"D:\\Apps\\OrvaloTrader");
  EXPECT_EQ(accepted(L"D:/Apps/", false), L"D:\\Apps");
  EXPECT_EQ(accepted(L"D:\\Apps\\.\\x\\..\\Orvalo", false), L"D:\\Apps\\Orvalo");
  EXPECT_EQ(accepted(L"  E:\\量化 交易 ", false), L"E:\\量化 交易");
}

TEST(ValidateInstallDir, LocalAppDataItselfIsRefusedInEverySpelling) {
  for (const std::wstring& text : {std::wstring(L"c:\\USERS\\trader\\appdata\\LOCAL"), kLocal + L"\\",
                                   std::wstring(L"C:/users/trader/AppData/Local"), kLocal + L"\\.",
                                   kLocal + L"\\Programs\\.."}) {
    EXPECT_EQ(refused(text, false), kDirLocalAppDataRoot);
  }
  EXPECT_EQ(accepted(L"c:\\USERS\\trader\\appdata\\LOCAL", true), L"c:\\USERS\\trader\\appdata\\LOCAL\\OrvaloTrader");
  EXPECT_EQ(accepted(kLocal + L"\\Programs", false), kLocal + L"\\Programs");
}

// Uninstalling removes the install folder as a whole: a folder with other people's files is
// refused before anything is written, whatever it holds.
TEST(ValidateInstallDir, ForeignFolderWithContentIsRefusedAndLeftAlone) {
  TempDir tools;
  makeFile(tools / L"editor.exe");
  const std::wstring message = refused(tools.path(), false);
  EXPECT_EQ(message, kDirNotEmptyPrefix + tools.path() + kDirNotEmptyAdvice);
  EXPECT_EQ(accepted(tools.path(), true), tools / L"OrvaloTrader");

  TempDir onlyFolder;
  ASSERT_TRUE(util::createDirectories(onlyFolder / L"photos"));
  EXPECT_NE(refused(onlyFolder.path() + L"\\", false).find(kDirNotEmptyPrefix), std::wstring::npos);

  TempDir parent;
  makeFile(parent / L"notes.txt");
  EXPECT_EQ(refused(parent / L"notes.txt", false), kDirIsAFile);
  EXPECT_EQ(util::countFiles(tools.path()), 1u);
  EXPECT_FALSE(util::isExistingFolder(tools / L"OrvaloTrader"));
}

TEST(ValidateInstallDir, EmptyMissingAndOwnFoldersAreAccepted) {
  TempDir empty;
  EXPECT_EQ(accepted(empty.path(), false), empty.path());
  EXPECT_EQ(accepted(empty / L"new\\deeper", false), empty / L"new\\deeper");

  TempDir channel;  // an installation
  makeFile(channel / L"channel.ini");
  makeFile(channel / L"Orvalo.exe");
  EXPECT_EQ(accepted(channel.path(), false), channel.path());

  TempDir begun;  // an attempt that failed after its first package
  ASSERT_TRUE(util::createDirectories(begun / L"update"));
  makeFile(begun / L"deps.dll");
  EXPECT_EQ(accepted(begun.path(), false), begun.path());

  TempDir registered;  // the registered installation, in another spelling
  makeFile(registered / L"Orvalo.exe");
  EXPECT_EQ(accepted(registered.path() + L"\\", false, {kLocal, registered.path()}), registered.path());

  TempDir kept;  // what an uninstall that kept the user's databases leaves
  ASSERT_TRUE(util::createDirectories(kept / L"data"));
  ASSERT_TRUE(util::createDirectories(kept / L"backup\\20261201"));
  makeFile(kept / L"data\\orvalo.db");
  makeFile(kept / L"data\\orvalo.db-wal");
  makeFile(kept / L"backup\\20261201\\orvalo.db");
  makeFile(kept / L"backup\\20261201\\manifest.txt");
  EXPECT_EQ(accepted(kept.path(), false), kept.path());
  makeFile(kept / L"data\\notes.txt");
  EXPECT_FALSE(validateInstallDir(kept.path(), false, kContext).ok);
}

TEST(DefaultInstallDir, IsProgramsOrvaloTraderBelowLocalAppData) {
  EXPECT_EQ(defaultInstallDir(kLocal), kLocal + L"\\Programs\\OrvaloTrader");
  EXPECT_EQ(defaultInstallDir(L""), L"\\Programs\\OrvaloTrader");
}
