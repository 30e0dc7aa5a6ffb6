#include "util/paths.h"

#include <gtest/gtest.h>

#include <windows.h>

using util::isPathInside;
using util::joinPath;

TEST(FileNameOf, EitherSeparatorEndsTheFolderPart) {
  EXPECT_EQ(util::fileNameOf(L"C:\\a/b\\数据.db"), L"数据.db");
  EXPECT_EQ(util::fileNameOf(L"C:\\a\\b/c.db"), L"c.db");
  EXPECT_EQ(util::fileNameOf(L"plain.db"), L"plain.db");
  EXPECT_EQ(util::fileNameOf(L"C:\\a\\"), L"");
}

TEST(JoinPath, AddsOneBackslashBetweenBaseAndName) {
  EXPECT_EQ(joinPath(L"C:\\a", L"b.txt"), L"C:\\a\\b.txt");
  EXPECT_EQ(joinPath(L"", L"b.txt"), L"b.txt");
  EXPECT_EQ(joinPath(L"C:\\a", L""), L"C:\\a\\");
}

TEST(JoinPath, NameStartingWithSeparatorIsAppendedAsItIs) {
  EXPECT_EQ(joinPath(L"C:\\a", L"\\b"), L"C:\\a\\b");
  EXPECT_EQ(joinPath(L"C:\\a", L"/b"), L"C:\\a/b");
}

TEST(JoinPath, TrailingSeparatorOfBaseIsKept) {
  EXPECT_EQ(joinPath(L"C:\\a\\", L"b"), L"C:\\a\\\\b");
}

TEST(TrimTrailingSeparators, RemovesMixedRunButKeepsDriveRoot) {
  std::wstring p = L"C:\\a\\b/\\//";
  util::trimTrailingSeparators(p);
  EXPECT_EQ(p, L"C:\\a\\b");

  std::wstring root = L"C:\\\\/";
  util::trimTrailingSeparators(root);
  EXPECT_EQ(root, L"C:\\");

  std::wstring shortPath = L"a\\";
  util::trimTrailingSeparators(shortPath);
  EXPECT_EQ(shortPath, L"a\\");  // 2 characters: never shortened below 3
}

TEST(NormalizePathKey, LowersAsciiAndTrims) {
  EXPECT_EQ(util::normalizePathKey(L"C:\\Users\\ORVALO\\"), L"c:\\users\\orvalo");
  EXPECT_EQ(util::normalizePathKey(L"D:\\量化"), L"d:\\量化");
}

TEST(IsPathInside, IgnoresCaseAndTrailingSeparators) {
  EXPECT_TRUE(isPathInside(L"c:\\apps\\orvalo\\bin\\x.exe", L"C:\\Apps\\Orvalo\\"));
  EXPECT_TRUE(isPathInside(L"C:\\Apps\\Orvalo\\x.exe\\", L"c:\\apps\\orvalo"));
}

TEST(IsPathInside, DirectChildAndDeeperAreInside) {
  EXPECT_TRUE(isPathInside(L"C:\\Apps\\Orvalo\\a", L"C:\\Apps\\Orvalo"));
  EXPECT_TRUE(isPathInside(L"C:\\Apps\\Orvalo\\a\\b\\c", L"C:\\Apps\\Orvalo"));
}

TEST(IsPathInside, SiblingWithSamePrefixIsNotInside) {
  EXPECT_FALSE(isPathInside(L"C:\\Apps\\Orvalo2\\x.exe", L"C:\\Apps\\Orvalo"));
  EXPECT_FALSE(isPathInside(L"C:\\Apps\\OrvaloTrader", L"C:\\Apps\\Orvalo"));
}

TEST(IsPathInside, FolderIsNotInsideItself) {
  EXPECT_FALSE(isPathInside(L"C:\\Apps\\Orvalo", L"C:\\Apps\\Orvalo"));
  EXPECT_FALSE(isPathInside(L"C:\\Apps\\Orvalo\\", L"c:\\apps\\orvalo"));
}

TEST(IsPathInside, EmptyFolderContainsNothing) {
  EXPECT_FALSE(isPathInside(L"C:\\x", L""));
  EXPECT_FALSE(isPathInside(L"", L""));
}

TEST(SystemFolders, ModulePathNamesThisTestExecutable) {
  const std::wstring path = util::modulePath();
  ASSERT_FALSE(path.empty());
  EXPECT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
  const std::wstring dir = util::moduleDirectory();
  EXPECT_TRUE(isPathInside(path, dir));
  EXPECT_EQ(path.find_last_of(L"\\/"), dir.size());
}

TEST(SystemFolders, TempDirectoryHasNoTrailingSeparatorAndExists) {
  const std::wstring temp = util::tempDirectory();
  ASSERT_GT(temp.size(), 3u);
  EXPECT_NE(temp.back(), L'\\');
  const DWORD attrs = GetFileAttributesW(temp.c_str());
  ASSERT_NE(attrs, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(attrs & FILE_ATTRIBUTE_DIRECTORY);
}

TEST(SystemFolders, LocalAppDataExists) {
  const std::wstring local = util::localAppDataDirectory();
  ASSERT_FALSE(local.empty());
  const DWORD attrs = GetFileAttributesW(local.c_str());
  ASSERT_NE(attrs, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(attrs & FILE_ATTRIBUTE_DIRECTORY);
}
