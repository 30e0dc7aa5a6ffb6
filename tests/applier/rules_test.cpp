// The upgrade's plain rules: local package names, destinations, counters, process ids, the
// client's program path, the clean-up guard, and the helper's command line through the system's
// own splitting.
#include "applier/helper_command.h"
#include "applier/upgrade_rules.h"
#include "install/markers.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <shellapi.h>

#include <vector>

using namespace applier;

namespace {

TEST(LocalPackageName, TakesAUsableFileNameFromThePath) {
  EXPECT_EQ(localPackageName(L"https://h/pkg/main_1.2.3.zip?sig=abc#x", 0, 1), L"main_1.2.3.zip");
  EXPECT_EQ(localPackageName(L"http://h/dl\\Tool.EXE", 0, 1), L"Tool.EXE");
  EXPECT_EQ(localPackageName(L"http://h/a/notes.txt", 0, 1), L"notes.txt");
}

TEST(LocalPackageName, FallsBackForNamesThatDoNotLookLikeFiles) {
  EXPECT_EQ(localPackageName(L"http://h/a.zip", 0, 1), L"OrvaloSetup_upgrade.zip");  // too short
  EXPECT_EQ(localPackageName(L"http://h/download?id=7", 0, 1), L"OrvaloSetup_upgrade.zip");
  EXPECT_EQ(localPackageName(L"http://h/.hidden", 0, 1), L"OrvaloSetup_upgrade.zip");  // dot first
  EXPECT_EQ(localPackageName(L"http://h/archive.tarball", 0, 1), L"OrvaloSetup_upgrade.zip");  // 7 after dot
  EXPECT_EQ(localPackageName(L"http://h/bad|name.zip", 0, 1), L"OrvaloSetup_upgrade.zip");
  EXPECT_EQ(localPackageName(L"http://h/" + std::wstring(125, L'n') + L".zip", 0, 1), L"OrvaloSetup_upgrade.zip");
  EXPECT_EQ(localPackageName(L"nohost", 0, 1), L"OrvaloSetup_upgrade.zip");
  // The extension is taken from the last path piece only, never from the host or the query.
  EXPECT_EQ(localPackageName(L"http://h/g.php?f=1", 0, 1), L"OrvaloSetup_upgrade.php");
  EXPECT_EQ(localPackageName(L"http://h/g.php?f=1.5", 0, 1), L"OrvaloSetup_upgrade.php");
  EXPECT_EQ(localPackageName(L"http://h/x.EXE#frag", 0, 1), L"OrvaloSetup_upgrade.EXE");
  EXPECT_EQ(localPackageName(L"http://h/x.backup?f", 0, 1), L"OrvaloSetup_upgrade.zip");
  EXPECT_EQ(localPackageName(L"https://dl.cn/u?f=1", 0, 1), L"OrvaloSetup_upgrade.zip");
  EXPECT_EQ(localPackageName(L"http://h/a.exe", 0, 1), L"OrvaloSetup_upgrade.exe");
  // Names Windows would not take literally are never used.
  EXPECT_EQ(localPackageName(L"http://h/NUL.zip", 0, 1), L"OrvaloSetup_upgrade.zip");
  EXPECT_EQ(localPackageName(L"http://h/com1.tar.gz", 0, 1), L"OrvaloSetup_upgrade.gz");
  EXPECT_EQ(localPackageName(std::wstring(L"http://h/main\x01.zip"), 0, 1), L"OrvaloSetup_upgrade.zip");
}

TEST(LocalPackageName, TwoOrMoreItemsGetTheirIndexInFront) {
  EXPECT_EQ(localPackageName(L"http://h/main_2.zip", 0, 3), L"up0_main_2.zip");
  EXPECT_EQ(localPackageName(L"http://h/a.zip", 2, 3), L"up2_OrvaloSetup_upgrade.zip");
}

TEST(PackageCounterSuffix, OnlyForSeveralItems) {
  EXPECT_EQ(packageCounterSuffix(0, 1), L"");
  EXPECT_EQ(packageCounterSuffix(1, 3), L"（2/3）");
}

TEST(InstallFolder, IsTheFolderOfTheExecutable) {
  std::wstring folder;
  ASSERT_TRUE(installFolderOf(L"C:\\Orvalo\\Orvalo.exe", folder));
  EXPECT_EQ(folder, L"C:\\Orvalo");
  ASSERT_TRUE(installFolderOf(L"D:/Apps/x/Orvalo.exe", folder));
  EXPECT_EQ(folder, L"D:/Apps/x");
  EXPECT_FALSE(installFolderOf(L"Orvalo.exe", folder));
  EXPECT_FALSE(installFolderOf(L"", folder));
}

TEST(Destination, EmptyAbsoluteAndRelative) {
  std::wstring dest;
  ASSERT_EQ(DestinationCheck::kOk, resolveDestination(L"C:\\Orvalo", L"", dest));
  EXPECT_EQ(dest, L"C:\\Orvalo");
  ASSERT_EQ(DestinationCheck::kOk, resolveDestination(L"C:\\Orvalo", L"D:\\Other", dest));
  EXPECT_EQ(dest, L"D:\\Other");
  ASSERT_EQ(DestinationCheck::kOk, resolveDestination(L"C:\\Orvalo", L"\\\\server\\share", dest));
  EXPECT_EQ(dest, L"\\\\server\\share");
  ASSERT_EQ(DestinationCheck::kOk, resolveDestination(L"C:\\Orvalo", L"plugins\\x", dest));
  EXPECT_EQ(dest, L"C:\\Orvalo\\plugins\\x");
  ASSERT_EQ(DestinationCheck::kOk, resolveDestination(L"C:\\Orvalo", L"plugins//x/", dest));
  EXPECT_EQ(dest, L"C:\\Orvalo\\plugins\\x");
  ASSERT_EQ(DestinationCheck::kOk, resolveDestination(L"C:\\Orvalo", L"./x", dest));
  EXPECT_EQ(dest, L"C:\\Orvalo\\.\\x");
  ASSERT_EQ(DestinationCheck::kOk, resolveDestination(L"C:\\", L"x", dest));
  EXPECT_EQ(dest, L"C:\\x");
}

TEST(Destination, DotDotSegmentsAreRefused) {
  std::wstring dest = L"unchanged";
  EXPECT_EQ(DestinationCheck::kParentSegment, resolveDestination(L"C:\\Orvalo", L"plugins/../x", dest));
  EXPECT_EQ(DestinationCheck::kParentSegment, resolveDestination(L"C:\\Orvalo", L"..", dest));
  EXPECT_EQ(DestinationCheck::kParentSegment, resolveDestination(L"C:\\Orvalo", L"a\\..\\..\\Windows", dest));
  EXPECT_EQ(dest, L"unchanged");
  // Only a whole segment counts.
  EXPECT_EQ(DestinationCheck::kOk, resolveDestination(L"C:\\Orvalo", L"a..b\\..c", dest));
  EXPECT_EQ(dest, L"C:\\Orvalo\\a..b\\..c");
}

TEST(Destination, SegmentsThatAreNoPlainNamesAreRefused) {
  std::wstring dest = L"unchanged";
  for (const wchar_t* bad : {L"a\\...", L"plugins/NUL", L"x/ab:c", L"com1.tar.gz\\y", L"a /b", L"a|b"}) {
    EXPECT_EQ(DestinationCheck::kBadName, resolveDestination(L"C:\\Orvalo", bad, dest)) << bad;
  }
  EXPECT_EQ(dest, L"unchanged");
}

TEST(MarkerRules, KindsAndVersionCharacters) {
  EXPECT_EQ(normalizedKind(L""), L"main");
  EXPECT_EQ(normalizedKind(L"MAIN"), L"main");
  EXPECT_EQ(normalizedKind(L"Quotes"), L"quotes");
  EXPECT_EQ(normalizedKind(L"行情Q"), L"行情q");
  EXPECT_EQ(componentMarkerName(L"quotes"), L"_quotes.done");
  // A kind names a marker file: it must be a plain name, and only the main program writes the
  // main program's marker.
  for (const wchar_t* good : {L"", L"main", L"MAIN", L"quotes", L"llm_deps", L"行情"}) {
    EXPECT_TRUE(isAcceptableKind(good)) << good;
  }
  for (const wchar_t* bad : {L"..\\..\\x", L"..", L"a/b", L"nul", L"x.", L"update", L"Component", L"agreement"}) {
    EXPECT_FALSE(isAcceptableKind(bad)) << bad;
  }
  EXPECT_EQ(filterUpdateVersion(L"v1.2.3-beta"), L"v1.2.3");
  EXPECT_EQ(filterUpdateVersion(L"beta"), L"");
  EXPECT_EQ(filterUpdateVersion(L"V２.0"), L"V.0");  // full-width digits are not version characters
}

TEST(ProcessId, ReadLikeWcstol) {
  EXPECT_EQ(parseProcessId(L"4242"), 4242u);
  EXPECT_EQ(parseProcessId(L"  17abc"), 17u);
  EXPECT_EQ(parseProcessId(L""), 0u);
  EXPECT_EQ(parseProcessId(L"abc"), 0u);
  EXPECT_EQ(parseProcessId(L"99999999999999999999"), 0u);
}

TEST(ClientProgramPath, TheSameFileWhateverTheSpelling) {
  EXPECT_TRUE(isSameProgramPath(L"C:\\Orvalo 量化\\Orvalo.exe", L"c:/orvalo 量化/ORVALO.EXE"));
  EXPECT_FALSE(isSameProgramPath(L"C:\\Other\\Orvalo.exe", L"C:\\Orvalo\\Orvalo.exe"));
  EXPECT_FALSE(isSameProgramPath(L"C:\\Orvalo\\Orvalo.exe", L"C:\\Orvalo\\Orvalo.exe.bak"));
  EXPECT_FALSE(isSameProgramPath(L"", L""));
}

TEST(CleanUpGuard, NeverADriveRootTheInstallFolderOrTheDestination) {
  EXPECT_TRUE(mayDeleteCleanFolder(L"C:\\Temp\\OrvaloSetup_upgrade_x", L"C:\\Orvalo", L"C:\\Orvalo"));
  EXPECT_FALSE(mayDeleteCleanFolder(L"C:\\", L"C:\\Orvalo", L"C:\\Orvalo"));
  EXPECT_FALSE(mayDeleteCleanFolder(L"", L"C:\\Orvalo", L"C:\\Orvalo"));
  EXPECT_FALSE(mayDeleteCleanFolder(L"c:\\orvalo", L"C:\\Orvalo", L"C:\\Orvalo\\x"));
  EXPECT_FALSE(mayDeleteCleanFolder(L"C:\\ORVALO\\X", L"C:\\Orvalo", L"C:\\Orvalo\\x"));
}

std::vector<std::wstring> splitByTheSystem(const std::wstring& line) {
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(line.c_str(), &count);
  std::vector<std::wstring> args(argv, argv + count);
  LocalFree(argv);
  return args;
}

// The helper must receive exactly the first process's arguments, whatever they hold.
TEST(HelperCommandLine, RoundTripsThroughTheSystemsSplitting) {
  const std::vector<std::wstring> args = {
      L"--apply", L"--exe", L"D:\\Apps\\", L"--dest", L"C:\\带 空格\\插件\\\\", L"--version",
      L"say \"hi\"", L"--kind", L"a\\\"b", L"--url", L"", L"--pid", L"12"};
  const std::wstring helper = L"C:\\Users\\测试 用户\\Temp\\OrvaloSetup_helper.exe";
  const std::wstring line = helperCommandLine(helper, args);
  std::vector<std::wstring> expected = {helper};
  expected.insert(expected.end(), args.begin(), args.end());
  expected.push_back(L"--from-helper");
  EXPECT_EQ(splitByTheSystem(line), expected);
}

TEST(HelperCommandLine, PlainArgumentsAreJustQuoted) {
  EXPECT_EQ(helperCommandLine(L"C:\\T\\OrvaloSetup_helper.exe", {L"--apply", L"--plan", L"C:\\p.json", L"--pid", L"42"}),
            L"\"C:\\T\\OrvaloSetup_helper.exe\" \"--apply\" \"--plan\" \"C:\\p.json\" \"--pid\" \"42\" --from-helper");
}

}  // namespace
