// The uninstaller's plain rules: which folders it accepts, when it hands over, which processes it
// ends and the command lines it builds.
#include "uninstall/uninstall_rules.h"

#include <gtest/gtest.h>

using namespace uninstall;

TEST(FolderRules, DriveRootsAreTooShort) {
  EXPECT_TRUE(isFolderTooShort(L""));
  EXPECT_TRUE(isFolderTooShort(L"C:"));
  EXPECT_TRUE(isFolderTooShort(L"C:\\"));
  EXPECT_FALSE(isFolderTooShort(L"C:\\a"));
}

TEST(HandOver, RunningFromTheFolderOrBelowHandsOver) {
  EXPECT_TRUE(runsFromInside(L"D:\\Orvalo", L"D:\\Orvalo"));
  EXPECT_TRUE(runsFromInside(L"d:\\ORVALO\\", L"D:\\Orvalo"));
  EXPECT_TRUE(runsFromInside(L"D:\\Orvalo\\bin", L"D:\\Orvalo\\"));
}

TEST(HandOver, ASiblingWhoseNameBeginsAlikeRemovesInPlace) {
  EXPECT_FALSE(runsFromInside(L"D:\\Orvalo2", L"D:\\Orvalo"));
  EXPECT_FALSE(runsFromInside(L"D:\\Downloads", L"D:\\Orvalo"));
  EXPECT_FALSE(runsFromInside(L"D:\\", L"D:\\Orvalo"));
}

TEST(WorkerParameters, AreTheQuotedFolderAndThePurgeFlag) {
  EXPECT_EQ(workerParameters(L"C:\\Orvalo", false), L"--uninstall-worker \"C:\\Orvalo\"");
  EXPECT_EQ(workerParameters(L"C:\\Orvalo", true), L"--uninstall-worker \"C:\\Orvalo\" --purge-data");
}

TEST(SelfDeletion, WaitsThenDeletesTheQuotedExecutableWithSystemProgramsByFullPath) {
  const ShellCommand command = selfDeleteCommand(
      L"C:\\Users\\李 四\\Temp\\OrvaloSetup_helper.exe", L"C:\\Win dows\\system32");
  EXPECT_EQ(command.application, L"C:\\Win dows\\system32\\cmd.exe");
  // cmd strips the first and the last quote of a /c line that begins with one: the outer pair
  // keeps the quotes around both paths, so that spaces in either survive.
  EXPECT_EQ(command.commandLine,
            L"\"C:\\Win dows\\system32\\cmd.exe\" /c "
            L"\"\"C:\\Win dows\\system32\\ping.exe\" -n 3 127.0.0.1 >nul & del /f /q "
            L"\"C:\\Users\\李 四\\Temp\\OrvaloSetup_helper.exe\"\"");
}

TEST(ProcessesToEnd, AreThoseRunningFromTheFolderOrBelowButNotTheCaller) {
  const std::vector<ProcessImage> running = {
      {4, L"C:\\windows\\system32\\services.exe"},
      {10, L"D:\\Orvalo\\Orvalo.exe"},
      {11, L"d:\\orvalo\\tools\\helper.exe"},
      {12, L"D:\\Orvalo2\\Orvalo.exe"},            // sibling folder, name begins alike
      {13, L"D:\\Orvalo.exe"},                     // beside the folder
      {14, L"D:\\Orvalo\\OrvaloSetup.exe"},        // the caller
      {15, L""},
  };
  EXPECT_EQ(processesToEnd(running, L"D:\\Orvalo", 14), (std::vector<size_t>{1, 2}));
  EXPECT_EQ(processesToEnd(running, L"D:\\Orvalo\\", 99), (std::vector<size_t>{1, 2, 5}));
}
