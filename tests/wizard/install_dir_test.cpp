#include "wizard/install_dir.h"

#include <gtest/gtest.h>

using wizard::validateInstallDir;

namespace {

const std::wstring kLocal = L"C:\\users\\trader\\AppData\\Local";

std::wstring accepted(const std::wstring& text, bool subfolder) {
  const wizard::InstallDirCheck check = validateInstallDir(text, subfolder, kLocal);
  EXPECT_TRUE(check.ok) << check.message.size();
  return check.dir;
}

std::wstring refused(const std::wstring& text, bool subfolder) {
  const wizard::InstallDirCheck check = validateInstallDir(text, subfolder, kLocal);
  EXPECT_FALSE(check.ok);
  EXPECT_TRUE(check.dir.empty());
  return check.message;
}

}  // namespace

TEST(ValidateInstallDir, EmptyTextAsksForAFolder) {
  EXPECT_EQ(refused(L"", false), L"请选择或输入安装位置");
  EXPECT_EQ(refused(L"", true), L"请选择或输入安装位置");
}

TEST(ValidateInstallDir, DriveRootIsRefusedWithoutSubfolderAndAcceptedWithIt) {
  EXPECT_EQ(refused(L"D:\\", false), L"安装位置不能是盘符根目录");
  EXPECT_EQ(refused(L"D:\\\\\\", false), L"安装位置不能是盘符根目录");
  EXPECT_EQ(refused(L"D:", false), L"安装位置不能是盘符根目录");
  EXPECT_EQ(accepted(L"D:\\", true), L"D:\\OrvaloTrader");
  EXPECT_EQ(accepted(L"D:\\\\", true), L"D:\\OrvaloTrader");
}

TEST(ValidateInstallDir, OnlyTrailingBackslashesAreDropped) {
  EXPECT_EQ(accepted(L"D:\\Apps\\", false), L"D:\\Apps");
  EXPECT_EQ(accepted(L"D:\\Apps\\\\", true), L"D:\\Apps\\OrvaloTrader");
  EXPECT_EQ(accepted(L"D:\\Apps/", false), L"D:\\Apps/");
}

TEST(ValidateInstallDir, LocalAppDataItselfIsRefusedInAnyCase) {
  EXPECT_EQ(refused(L"c:\\USERS\\trader\\appdata\\LOCAL", false),
            L"安装位置不能是 %LOCALAPPDATA% 根目录");
  EXPECT_EQ(refused(kLocal + L"\\", false), L"安装位置不能是 %LOCALAPPDATA% 根目录");
  EXPECT_EQ(accepted(L"c:\\USERS\\trader\\appdata\\LOCAL", true),
            L"c:\\USERS\\trader\\appdata\\LOCAL\\OrvaloTrader");
  EXPECT_EQ(accepted(kLocal + L"\\Programs", false), kLocal + L"\\Programs");
}

TEST(ValidateInstallDir, TextIsOtherwiseKeptAsTyped) {
  EXPECT_EQ(accepted(L"  E:\\量化 交易", false), L"  E:\\量化 交易");
  EXPECT_EQ(accepted(L"abcd", false), L"abcd");
}

TEST(DefaultInstallDir, IsProgramsOrvaloTraderBelowLocalAppData) {
  EXPECT_EQ(wizard::defaultInstallDir(kLocal), kLocal + L"\\Programs\\OrvaloTrader");
  EXPECT_EQ(wizard::defaultInstallDir(L""), L"\\Programs\\OrvaloTrader");
}
