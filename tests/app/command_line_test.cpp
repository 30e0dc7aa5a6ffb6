#include "app/command_line.h"

#include "uninstall/uninstall_rules.h"
#include "util/handles.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

namespace {

CommandLine parse(std::vector<std::wstring> args) {
  args.insert(args.begin(), L"C:\\Setup\\OrvaloSetup.exe");
  return parseCommandLine(args);
}

}  // namespace

TEST(ParseCommandLine, NoArgumentsIsTheWizardWithDefaultServer) {
  const CommandLine cmd = parse({});
  EXPECT_EQ(chooseRunMode(cmd), RunMode::Wizard);
  EXPECT_TRUE(cmd.base.empty());
  EXPECT_TRUE(cmd.options.launch);
}

TEST(ParseCommandLine, ProgramPathIsNeverAnOption) {
  EXPECT_EQ(chooseRunMode(parseCommandLine({L"--apply"})), RunMode::Wizard);
}

TEST(ParseCommandLine, EveryValueOptionFillsItsField) {
  const CommandLine cmd = parse({L"--base", L"http://b", L"--url", L"u", L"--plan", L"p",
                                 L"--sha256", L"s", L"--src", L"sr", L"--pid", L"42",
                                 L"--version", L"1.2", L"--exe", L"e", L"--kind", L"k",
                                 L"--dest", L"d", L"--clean", L"c", L"--uninstall-worker", L"w"});
  EXPECT_EQ(cmd.base, L"http://b");
  EXPECT_EQ(cmd.options.url, L"u");
  EXPECT_EQ(cmd.options.plan, L"p");
  EXPECT_EQ(cmd.options.sha256, L"s");
  EXPECT_EQ(cmd.options.src, L"sr");
  EXPECT_EQ(cmd.options.pid, L"42");
  EXPECT_EQ(cmd.options.version, L"1.2");
  EXPECT_EQ(cmd.options.exe, L"e");
  EXPECT_EQ(cmd.options.kind, L"k");
  EXPECT_EQ(cmd.options.dest, L"d");
  EXPECT_EQ(cmd.options.clean, L"c");
  EXPECT_EQ(cmd.uninstallDir, L"w");
  EXPECT_TRUE(cmd.uninstallWorker);
}

TEST(ParseCommandLine, ValueOptionTakesTheNextArgumentEvenAnOptionName) {
  const CommandLine cmd = parse({L"--url", L"--sha256", L"0123abcd"});
  EXPECT_EQ(cmd.options.url, L"--sha256");
  EXPECT_TRUE(cmd.options.sha256.empty());
  // The consumed option name must not have switched a mode either.
  const CommandLine consumed = parse({L"--dest", L"--apply"});
  EXPECT_EQ(consumed.options.dest, L"--apply");
  EXPECT_FALSE(consumed.apply);
}

TEST(ParseCommandLine, ValueOptionAsLastArgumentGetsEmptyValue) {
  const CommandLine cmd = parse({L"--base", L"x", L"--base"});
  EXPECT_TRUE(cmd.base.empty());
  EXPECT_EQ(chooseRunMode(cmd), RunMode::Wizard);
  const CommandLine worker = parse({L"--uninstall-worker"});
  EXPECT_TRUE(worker.uninstallWorker);
  EXPECT_TRUE(worker.uninstallDir.empty());
  EXPECT_EQ(chooseRunMode(worker), RunMode::UninstallWorker);
}

TEST(ParseCommandLine, LaunchIsFalseOnlyForExactlyZero) {
  EXPECT_FALSE(parse({L"--launch", L"0"}).options.launch);
  EXPECT_TRUE(parse({L"--launch"}).options.launch);
  EXPECT_TRUE(parse({L"--launch", L"1"}).options.launch);
  EXPECT_TRUE(parse({L"--launch", L"no"}).options.launch);
  EXPECT_TRUE(parse({L"--launch", L"false"}).options.launch);
  EXPECT_TRUE(parse({L"--launch", L"00"}).options.launch);
  EXPECT_TRUE(parse({L"--launch", L""}).options.launch);
  EXPECT_TRUE(parse({L"--launch", L"0", L"--launch", L"1"}).options.launch);
  EXPECT_FALSE(parse({L"--launch", L"1", L"--launch", L"0"}).options.launch);
}

TEST(ParseCommandLine, NamesAreExactAndCaseSensitive) {
  EXPECT_FALSE(parse({L"--APPLY"}).apply);
  EXPECT_FALSE(parse({L"-apply"}).apply);
  EXPECT_FALSE(parse({L"/apply"}).apply);
  EXPECT_FALSE(parse({L"--appl"}).apply);
  EXPECT_FALSE(parse({L"--apply=1"}).apply);
  const CommandLine joined = parse({L"--url=http://x"});
  EXPECT_TRUE(joined.options.url.empty());
  EXPECT_EQ(chooseRunMode(parse({L"-uninstall", L"--Uninstall"})), RunMode::Wizard);
}

TEST(ParseCommandLine, UnknownArgumentsAreSkippedWithoutConsumingAValue) {
  const CommandLine cmd = parse({L"stray", L"--unknown", L"--apply", L"--pid", L"7"});
  EXPECT_TRUE(cmd.apply);
  EXPECT_EQ(cmd.options.pid, L"7");
}

TEST(ParseCommandLine, LastRepeatedValueWins) {
  const CommandLine cmd = parse({L"--url", L"first", L"--url", L"second"});
  EXPECT_EQ(cmd.options.url, L"second");
}

TEST(ParseCommandLine, ValuesAreKeptUnchanged) {
  const CommandLine cmd = parse({L"--exe", L"  C:\\程序\\Orvalo.exe ", L"--version", L"1.2.3 Beta"});
  EXPECT_EQ(cmd.options.exe, L"  C:\\程序\\Orvalo.exe ");
  EXPECT_EQ(cmd.options.version, L"1.2.3 Beta");
}

TEST(ChooseRunMode, WorkerBeatsUninstallBeatsApply) {
  EXPECT_EQ(chooseRunMode(parse({L"--apply", L"--uninstall"})), RunMode::Uninstall);
  EXPECT_EQ(chooseRunMode(parse({L"--uninstall", L"--apply"})), RunMode::Uninstall);
  EXPECT_EQ(chooseRunMode(parse({L"--apply", L"--from-helper"})), RunMode::Apply);

  const CommandLine worker =
      parse({L"--uninstall", L"--uninstall-worker", L"C:\\Apps\\Orvalo", L"--purge-data"});
  EXPECT_EQ(chooseRunMode(worker), RunMode::UninstallWorker);
  EXPECT_EQ(worker.uninstallDir, L"C:\\Apps\\Orvalo");
  EXPECT_TRUE(worker.purgeData);
}

TEST(ChooseRunMode, FlagsAreNeverResetByLaterArguments) {
  const CommandLine cmd = parse({L"--apply", L"--from-helper", L"--base", L"x", L"--apply"});
  EXPECT_TRUE(cmd.apply);
  EXPECT_TRUE(cmd.fromHelper);
  EXPECT_EQ(chooseRunMode(cmd), RunMode::Apply);
}

TEST(ChooseRunMode, SilentInstallsUnlessAnotherModeIsAsked) {
  const CommandLine cmd = parse({L"--silent", L"--accept-agreement", L"--dir", L"D:\\Apps\\Orvalo",
                                 L"--cuda", L"--no-shortcut", L"--no-launch", L"--log", L"D:\\日志.txt"});
  EXPECT_EQ(chooseRunMode(cmd), RunMode::SilentInstall);
  EXPECT_TRUE(cmd.acceptAgreement && cmd.cuda && cmd.noShortcut && cmd.noLaunch);
  EXPECT_EQ(cmd.dir, L"D:\\Apps\\Orvalo");
  EXPECT_EQ(cmd.log, L"D:\\日志.txt");

  // A silent removal is the uninstaller's mode, told to ask nothing.
  const CommandLine removal = parse({L"--silent", L"--uninstall", L"--purge-data"});
  EXPECT_EQ(chooseRunMode(removal), RunMode::Uninstall);
  EXPECT_TRUE(removal.silent && removal.purgeData);
  EXPECT_EQ(chooseRunMode(parse({L"--Silent", L"-silent"})), RunMode::Wizard);
}

// The worker's entry reads back exactly the folder and the choice the uninstaller passed it.
TEST(WorkerParameters, GiveTheWorkerExactlyTheFolderBack) {
  for (const std::wstring folder :
       {L"C:\\Program Files\\Orvalo 量化", L"D:\\Orvalo\\", L"D:\\量化\\\\", L"C:\\a b\\c"}) {
    for (bool purge : {false, true}) {
      const std::wstring line = L"\"C:\\Users\\李\\AppData\\Local\\Temp\\OrvaloSetup_helper.exe\" " +
                                uninstall::workerParameters(folder, purge);
      int argc = 0;
      wchar_t** argv = CommandLineToArgvW(line.c_str(), &argc);
      ASSERT_NE(argv, nullptr);
      util::LocalMem owner(argv);
      const CommandLine cmd = parseCommandLine(std::vector<std::wstring>(argv, argv + argc));
      EXPECT_EQ(chooseRunMode(cmd), RunMode::UninstallWorker) << folder;
      EXPECT_EQ(cmd.uninstallDir, folder);
      EXPECT_EQ(cmd.purgeData, purge) << folder;
    }
  }
}
