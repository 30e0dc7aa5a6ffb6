#include "packages/zip_extract.h"
#include "packages/texts.h"
#include "packages/zip_place.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <ctime>
#include <set>
#include <utility>
#include <vector>

#include "support/temp_dir.h"
#include "util/files.h"
#include "util/text.h"

using testing_support::dirExists;
using testing_support::fileExists;
using testing_support::readFileBytes;
using testing_support::TempDir;

namespace {

// The archives written by make_test_zips.py before the tests run.
std::wstring testZip(const std::wstring& name) {
  return util::toWide(util::kCodePageUtf8, ORVALO_TEST_ZIP_DIR) + L"\\" + name;
}

using Calls = std::vector<std::pair<uint64_t, uint64_t>>;

struct Extraction {
  bool ok = false;
  std::wstring contentRoot = L"stale";  // must be cleared by every call
  std::wstring failure;
  Calls progress;
};

Extraction extract(const std::wstring& zip, const std::wstring& target) {
  Extraction result;
  result.ok = extractZip(zip, target, result.contentRoot, &result.failure,
                         [&result](uint64_t done, uint64_t total) {
                           result.progress.emplace_back(done, total);
                           return true;
                         });
  return result;
}

std::set<std::wstring> entryNames(const std::wstring& folder) {
  std::set<std::wstring> names;
  util::forEachEntry(folder, [&](const std::wstring&, const WIN32_FIND_DATAW& data) {
    names.insert(data.cFileName);
    return true;
  });
  return names;
}

}  // namespace

TEST(IsSafeEntryPath, RefusesNamesThatLeaveTheTargetOrAreNoPlainNames) {
  for (const wchar_t* name :
       {L"", L"../evil.dll", L"a\\..\\b.txt", L"/abs.txt", L"\\abs.txt", L"C:x.txt", L"c:\\x.txt",
        L"a/../", L"..", L"a/..", L"a/b\\..\\..\\c", L"ab:c", L"a/ab:c/d", L"NUL.txt",
        L"pkg/com1.tar.gz", L"x. ", L"a./b", L"a/./b.txt", L"./x", L"a//b", L"...", L"a/.../c",
        L"pkg//", L"a|b"}) {
    EXPECT_FALSE(isSafeEntryPath(name)) << util::toUtf8(name);
  }
}

TEST(IsSafeEntryPath, AcceptsPlainPiecesAndOneTrailingSeparator) {
  for (const wchar_t* name : {L"a/..b/c", L"..a", L".x/y", L"pkg/", L"pkg\\", L"包/乗.txt",
                              L"com10/console.exe"}) {
    EXPECT_TRUE(isSafeEntryPath(name)) << util::toUtf8(name);
  }
}

TEST(FindContentRoot, OnlyASingleSubfolderIsEntered) {
  TempDir tmp;
  EXPECT_EQ(findContentRoot(tmp.path()), tmp.path()) << "empty folder";
  EXPECT_EQ(findContentRoot(tmp / L"missing"), tmp / L"missing");
  ASSERT_TRUE(util::createDirectories(tmp / L"only\\inner"));
  EXPECT_EQ(findContentRoot(tmp.path()), tmp.path() + L"\\only");
  ASSERT_TRUE(util::writeFile(tmp / L"file.txt", "x", 1));
  EXPECT_EQ(findContentRoot(tmp.path()), tmp.path()) << "a top-level file";
  TempDir single;
  ASSERT_TRUE(util::writeFile(single / L"file.txt", "x", 1));
  EXPECT_EQ(findContentRoot(single.path()), single.path()) << "a single file";
}

TEST(ExtractZip, OneTopLevelFolderBecomesTheContentRoot) {
  TempDir tmp;
  const std::wstring target = tmp / L"out";
  const Extraction r = extract(testZip(L"one_folder.zip"), target);
  ASSERT_TRUE(r.ok) << util::toUtf8(r.failure);
  EXPECT_EQ(r.contentRoot, target + L"\\pkg");
  EXPECT_EQ(readFileBytes(target + L"\\pkg\\a.txt"), "alpha");
  EXPECT_EQ(readFileBytes(target + L"\\pkg\\sub\\b.txt"), "beta");
  EXPECT_EQ(r.progress, (Calls{{0, 4}, {1, 4}, {2, 4}, {3, 4}, {4, 4}}));
  EXPECT_TRUE(r.failure.empty());
}

TEST(ExtractZip, TwoTopLevelFoldersOrATopLevelFileKeepTheTarget) {
  TempDir tmp;
  for (const wchar_t* zip : {L"two_folders.zip", L"top_file.zip"}) {
    const std::wstring target = tmp / zip;
    const Extraction r = extract(testZip(zip), target);
    ASSERT_TRUE(r.ok) << util::toUtf8(r.failure);
    EXPECT_EQ(r.contentRoot, target) << util::toUtf8(zip);
  }
  EXPECT_TRUE(fileExists(tmp / L"top_file.zip\\readme.txt"));
  EXPECT_TRUE(fileExists(tmp / L"two_folders.zip\\two\\b.txt"));
}

TEST(ExtractZip, FoldersAreMadeWithoutDirectoryEntriesAndDataAndTimesSurvive) {
  TempDir tmp;
  const std::wstring target = tmp / L"out";
  const Extraction r = extract(testZip(L"no_dir_entries.zip"), target);
  ASSERT_TRUE(r.ok) << util::toUtf8(r.failure);
  EXPECT_EQ(r.contentRoot, target + L"\\x");
  EXPECT_EQ(readFileBytes(target + L"\\x\\y\\z.txt"), "deep");
  EXPECT_EQ(readFileBytes(target + L"\\x\\w.txt"), "shallow");
  // Several megabytes, larger than every buffer on the way: the streaming must not lose a byte.
  const std::string big = readFileBytes(target + L"\\x\\big.bin");
  EXPECT_GT(big.size(), 4000000u);
  EXPECT_TRUE(big == readFileBytes(testZip(L"no_dir_entries.big.bin")));

  // The entry's local time 2021-06-15 09:30:42, as the library converts it.
  std::tm stamp{};
  stamp.tm_year = 2021 - 1900;
  stamp.tm_mon = 5;
  stamp.tm_mday = 15;
  stamp.tm_hour = 9;
  stamp.tm_min = 30;
  stamp.tm_sec = 42;
  stamp.tm_isdst = -1;
  const uint64_t expected =
      (static_cast<uint64_t>(std::mktime(&stamp)) + 11644473600ULL) * 10000000ULL;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(
      GetFileAttributesExW((target + L"\\x\\y\\z.txt").c_str(), GetFileExInfoStandard, &data));
  const uint64_t written = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                           data.ftLastWriteTime.dwLowDateTime;
  EXPECT_EQ(written, expected);
}

TEST(ExtractZip, EmptyArchiveGivesTheEmptyTargetAndOneProgressCall) {
  TempDir tmp;
  const std::wstring target = tmp / L"out";
  const Extraction r = extract(testZip(L"empty.zip"), target);
  ASSERT_TRUE(r.ok) << util::toUtf8(r.failure);
  EXPECT_EQ(r.contentRoot, target);
  EXPECT_TRUE(dirExists(target));
  EXPECT_TRUE(entryNames(target).empty());
  EXPECT_EQ(r.progress, (Calls{{0, 0}}));
}

TEST(ExtractZip, UnsafeNamesStopTheExtractionAndNothingIsLeftBehind) {
  const std::vector<std::wstring> unsafe = {
      L"../evil.dll", L"a\\..\\b.txt", L"/abs.txt", L"\\abs.txt", L"C:x.txt",  L"a/../",
      L"ab:c",        L"NUL.txt",        L"x. ",      L"a/./b.txt", L"d//e.txt", L"sub/com1.tar.gz"};
  for (size_t i = 0; i < unsafe.size(); ++i) {
    SCOPED_TRACE(util::toUtf8(unsafe[i]));
    TempDir tmp;
    const std::wstring target = tmp / L"out";
    const Extraction r = extract(testZip(L"unsafe_" + std::to_wstring(i) + L".zip"), target);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.failure, packages::kUnsafeEntry + unsafe[i]);
    EXPECT_TRUE(r.contentRoot.empty());
    // Every name is judged before the first entry is written.
    EXPECT_TRUE(entryNames(tmp.path()).empty());
    EXPECT_TRUE(r.progress.empty());
  }
}

TEST(ExtractZip, DotPiecesAndDeviceLikeNamesThatArePlainStayInside) {
  TempDir tmp;
  const std::wstring target = tmp / L"out";
  const Extraction r = extract(testZip(L"dot_pieces.zip"), target);
  ASSERT_TRUE(r.ok) << util::toUtf8(r.failure);
  EXPECT_EQ(readFileBytes(target + L"\\a\\..b\\c.txt"), "c");
  EXPECT_EQ(readFileBytes(target + L"\\a\\.x\\d.txt"), "d");
  EXPECT_EQ(readFileBytes(target + L"\\com10\\e.txt"), "e");
  EXPECT_EQ(entryNames(tmp.path()), std::set<std::wstring>{L"out"});
}

TEST(ExtractZip, CrcMismatchFailsAndRemovesTheTarget) {
  TempDir tmp;
  const std::wstring target = tmp / L"out";
  const Extraction r = extract(testZip(L"crc.zip"), target);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failure, packages::kDamagedEntry + std::wstring(L"bad.txt"));
  EXPECT_TRUE(r.contentRoot.empty());
  EXPECT_FALSE(dirExists(target)) << "the good entries before it must go as well";
  EXPECT_EQ(r.progress, (Calls{{0, 4}, {1, 4}, {2, 4}}));
}

// Sizes in the headers are the packer's word only: neither a claim larger than the disk nor data
// larger than the claim may reach it.
TEST(ExtractZip, DeclaredSizesBoundTheOutput) {
  TempDir tmp;
  const Extraction overrun = extract(testZip(L"overrun.zip"), tmp / L"overrun");
  EXPECT_FALSE(overrun.ok);
  EXPECT_EQ(overrun.failure, packages::kExtractFailed + std::wstring(L"small.txt") + packages::kOverran);
  EXPECT_FALSE(dirExists(tmp / L"overrun"));

  const Extraction huge = extract(testZip(L"huge.zip"), tmp / L"huge");
  EXPECT_FALSE(huge.ok);
  EXPECT_EQ(huge.failure, packages::kDiskFull + std::wstring(L"huge.bin"));
  EXPECT_EQ(huge.progress, (Calls{{0, 1}}));
  EXPECT_TRUE(entryNames(tmp.path()).empty());
}

TEST(ExtractZip, FilesThatAreNoZipCannotBeRead) {
  TempDir tmp;
  for (const std::wstring& zip :
       {testZip(L"not_a_zip.zip"), testZip(L"truncated.zip"), tmp / L"missing.zip", tmp.path()}) {
    const Extraction r = extract(zip, tmp / L"out");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.failure, packages::kZipUnreadable + zip);
    EXPECT_TRUE(r.contentRoot.empty());
    EXPECT_TRUE(r.progress.empty());
  }
}

TEST(ExtractZip, OldFilesInTheTargetAreRemovedFirst) {
  TempDir tmp;
  const std::wstring target = tmp / L"out";
  ASSERT_TRUE(util::createDirectories(target + L"\\pkg\\old"));
  ASSERT_TRUE(util::writeFile(target + L"\\stale.txt", "old", 3));
  ASSERT_TRUE(util::writeFile(target + L"\\pkg\\a.txt", "previous attempt", 16));
  SetFileAttributesW((target + L"\\pkg\\a.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  const Extraction r = extract(testZip(L"one_folder.zip"), target);
  ASSERT_TRUE(r.ok) << util::toUtf8(r.failure);
  EXPECT_EQ(r.contentRoot, target + L"\\pkg") << "the stale file must not make two top entries";
  EXPECT_EQ(entryNames(target + L"\\pkg"), (std::set<std::wstring>{L"a.txt", L"sub"}));
  EXPECT_EQ(readFileBytes(target + L"\\pkg\\a.txt"), "alpha");
}

TEST(ExtractZip, TargetThatCannotBeCreatedIsReported) {
  TempDir tmp;
  ASSERT_TRUE(util::writeFile(tmp / L"blocker", "x", 1));
  const std::wstring target = tmp / L"blocker\\out";
  const Extraction r = extract(testZip(L"one_folder.zip"), target);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failure, packages::kFolderNotRemade + target);
  EXPECT_TRUE(r.contentRoot.empty());
}

TEST(ExtractZip, WithoutProgressOrFailureTextStillReportsTheResult) {
  TempDir tmp;
  std::wstring root;
  EXPECT_FALSE(extractZip(testZip(L"crc.zip"), tmp / L"a", root, nullptr, nullptr));
  EXPECT_TRUE(extractZip(testZip(L"one_folder.zip"), tmp / L"b", root, nullptr, nullptr));
  EXPECT_EQ(root, tmp / L"b\\pkg");
}

TEST(ExtractZip, ProgressAnsweringFalseStopsBetweenEntriesAndRemovesTheTarget) {
  TempDir tmp;
  std::wstring root;
  std::wstring failure;
  const ByteProgress stopAfterTwo = [](uint64_t done, uint64_t) { return done < 2; };
  EXPECT_FALSE(extractZip(testZip(L"one_folder.zip"), tmp / L"out", root, &failure, stopAfterTwo));
  EXPECT_EQ(failure, util::kCancelledText);
  EXPECT_FALSE(util::isExistingFolder(tmp / L"out"));
}

// Also run on an English system (see CMakeLists.txt), whose ANSI code page cannot spell the
// Chinese folders: archive and files must go through wide paths.
TEST(ExtractZipUnicode, ChineseNamesInBothEncodingsBelowAChineseFolder) {
  TempDir tmp;
  ASSERT_TRUE(util::createDirectories(tmp / L"下载"));
  const std::wstring zip = tmp / L"下载\\量化包.zip";
  ASSERT_TRUE(CopyFileW(testZip(L"chinese.zip").c_str(), zip.c_str(), FALSE));
  const std::wstring target = tmp / L"解压\\目标";

  const Extraction r = extract(zip, target);
  ASSERT_TRUE(r.ok) << util::toUtf8(r.failure);
  // Flagged UTF-8: the same name on every system.
  EXPECT_EQ(readFileBytes(target + L"\\包\\中文名.txt"), "UTF-8 名字");
  // Unflagged: the system's ANSI code page decides, as the packer's tool intended.
  std::wstring ansiName =
      util::toWide(util::kCodePageAnsi, "\xB0\xFC/\x81\x5C\xBA\xBA\xD7\xD6.txt");
  for (wchar_t& c : ansiName) {
    if (c == L'/') c = L'\\';
  }
  EXPECT_EQ(readFileBytes(target + L"\\" + ansiName), "GBK name");
  if (GetACP() == 936) {
    EXPECT_EQ(ansiName, L"包\\乗汉字.txt") << "the trail byte 0x5C is no separator";
    EXPECT_EQ(r.contentRoot, target + L"\\包");
  }
}

TEST(ExtractZipUnicode, FailureTextsCarryTheWidePath) {
  TempDir tmp;
  const std::wstring zip = tmp / L"没有\\包.zip";
  const Extraction r = extract(zip, tmp / L"解压");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failure, packages::kZipUnreadable + zip);
}

namespace {

struct InPlace {
  bool ok = false;
  std::wstring failure;
  util::FailureKind kind = util::FailureKind::kNone;
  Calls progress;
};

InPlace extractInPlace(const std::wstring& zip, const std::wstring& target, uint64_t stopAfter = UINT64_MAX) {
  InPlace result;
  util::Failure failure;
  result.ok = extractZipInPlace(zip, target, PlaceHooks{}, &failure, [&](uint64_t done, uint64_t total) {
    result.progress.emplace_back(done, total);
    return done < stopAfter;
  });
  result.failure = failure.text;
  result.kind = failure.kind;
  return result;
}

bool anyStagedFile(const std::wstring& folder) {
  bool found = false;
  util::forEachEntry(folder, [&](const std::wstring& path, const WIN32_FIND_DATAW& data) {
    const std::wstring name = data.cFileName;
    found = found || (name.size() > 8 && name.compare(name.size() - 8, 8, L".upg_tmp") == 0) ||
            ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && anyStagedFile(path));
    return !found;
  });
  return found;
}

void put(const std::wstring& path, const std::string& bytes) {
  ASSERT_TRUE(util::createDirectories(path.substr(0, path.rfind(L'\\'))));
  ASSERT_TRUE(util::writeFile(path, bytes.data(), bytes.size()));
}

}  // namespace

TEST(ExtractZipInPlace, UnwrapsReplacesFilesKeepsTheUsersDatabasesAndLeavesNothingStaged) {
  TempDir dir;
  put(dir / L"app.exe", "old program");
  put(dir / L"data\\user.db", "the user's trades");
  const InPlace result = extractInPlace(testZip(L"place.zip"), dir.path());
  ASSERT_TRUE(result.ok) << util::toUtf8(result.failure);
  EXPECT_EQ(readFileBytes(dir / L"app.exe"), "new program");
  EXPECT_EQ(readFileBytes(dir / L"data\\user.db"), "the user's trades");
  for (int i = 0; i < 4; ++i) {  // inflated by two threads, each file whole
    const std::wstring n = std::to_wstring(i);
    EXPECT_TRUE(readFileBytes(dir / (L"big\\" + n + L".bin")) == readFileBytes(testZip(L"place.big" + n + L".bin")));
  }
  EXPECT_FALSE(dirExists(dir / L"OrvaloTrader"));
  EXPECT_FALSE(anyStagedFile(dir.path()));
  ASSERT_FALSE(result.progress.empty());
  EXPECT_EQ(result.progress.front(), std::make_pair(uint64_t{1}, uint64_t{6}));  // the database counts as handled
  EXPECT_EQ(result.progress.back(), std::make_pair(uint64_t{6}, uint64_t{6}));
}

TEST(ExtractZipInPlace, StopsCleanlyOnABadEntryACancelOrAnUnsafeName) {
  {
    TempDir dir;
    const InPlace result = extractInPlace(testZip(L"crc.zip"), dir.path());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.failure, packages::kDamagedEntry + std::wstring(L"bad.txt"));
    EXPECT_TRUE(fileExists(dir / L"good2.txt"));  // placed before the failure
    EXPECT_FALSE(fileExists(dir / L"after.txt"));
    EXPECT_FALSE(anyStagedFile(dir.path()));
  }
  {
    TempDir dir;
    const InPlace result = extractInPlace(testZip(L"place.zip"), dir.path(), 2);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.failure, util::kCancelledText);
    EXPECT_EQ(result.kind, util::FailureKind::kCancelled);
    EXPECT_FALSE(anyStagedFile(dir.path()));
  }
  {
    TempDir dir;
    const InPlace result = extractInPlace(testZip(L"unsafe_0.zip"), dir.path());
    EXPECT_EQ(result.failure, packages::kUnsafeEntry + std::wstring(L"../evil.dll"));
    EXPECT_TRUE(entryNames(dir.path()).empty()) << "nothing is written before every name is checked";
  }
}

namespace {

// The thread's own copy of a test archive: it deletes what it has unpacked.
std::wstring copyOfZip(const TempDir& dir, const std::wstring& name) {
  const std::wstring copy = dir / (L"queued_" + name);
  EXPECT_TRUE(CopyFileW(testZip(name).c_str(), copy.c_str(), FALSE));
  return copy;
}

}  // namespace

TEST(ExtractionThread, UnpacksInQueueOrderAndDropsWhatIsQueuedBehindAFailure) {
  TempDir zips, target, other;
  ExtractionThread thread;
  const std::wstring first = copyOfZip(zips, L"top_file.zip");  // pkg\a.txt "1"
  thread.start(first, target.path(), L"first", PlaceHooks{}, {});
  thread.start(copyOfZip(zips, L"one_folder.zip"), target / L"pkg", L"second", PlaceHooks{}, {});  // a.txt "alpha"
  util::Failure failure;
  EXPECT_TRUE(thread.finishOne(failure));
  EXPECT_FALSE(fileExists(first));
  EXPECT_TRUE(thread.finish(failure));
  EXPECT_FALSE(thread.running());
  EXPECT_EQ(readFileBytes(target / L"pkg\\a.txt"), "alpha");  // the later package wins

  const std::wstring dropped = copyOfZip(zips, L"one_folder.zip");
  thread.start(copyOfZip(zips, L"crc.zip"), target.path(), L"broken", PlaceHooks{}, {});
  thread.start(dropped, other.path(), L"dropped", PlaceHooks{}, {});
  EXPECT_FALSE(thread.finish(failure));
  EXPECT_EQ(failure.text, packages::kDamagedEntry + std::wstring(L"bad.txt"));
  EXPECT_EQ(failure.kind, util::FailureKind::kDisk);
  EXPECT_TRUE(entryNames(other.path()).empty());
  EXPECT_FALSE(fileExists(dropped));
  EXPECT_TRUE(thread.finish(failure));  // reported once: a later batch starts afresh
}

// Packages made by Info-ZIP on Linux (UTF-8 names without the flag, one of them also valid GBK)
// and by bsdtar ("./" before every name) arrive under the names their makers meant.
TEST(ZipsFromOtherTools, Utf8NamesWithoutTheFlagAndDotSlashNamesArriveAsNamed) {
  TempDir tmp;
  Extraction r = extract(testZip(L"infozip_utf8.zip"), tmp / L"a");
  ASSERT_TRUE(r.ok) << util::toUtf8(r.failure);
  EXPECT_EQ(readFileBytes(tmp / L"a\\行情\\数据.txt"), "quotes");
  EXPECT_EQ(readFileBytes(tmp / L"a\\交易\\表.txt"), "table");

  r = extract(testZip(L"bsdtar_dot.zip"), tmp / L"b");
  ASSERT_TRUE(r.ok) << util::toUtf8(r.failure);
  EXPECT_EQ(r.contentRoot, tmp / L"b\\OrvaloTrader");
  EXPECT_EQ(readFileBytes(tmp / L"b\\OrvaloTrader\\lib\\a.dll"), "library");
  const InPlace placed = extractInPlace(testZip(L"bsdtar_dot.zip"), tmp / L"c");
  ASSERT_TRUE(placed.ok) << util::toUtf8(placed.failure);
  EXPECT_EQ(readFileBytes(tmp / L"c\\app.exe"), "program");
}

// What cannot be unpacked is named for what it is, before anything is written, by extraction
// and by the check the release tools run.
TEST(ZipsFromOtherTools, RefusalsNameTheMethodTheEncryptionTheClashAndTheCount) {
  const std::wstring method = packages::kUnsupportedMethod;
  const std::pair<const wchar_t*, std::wstring> cases[] = {
      {L"deflate64.zip", method + L"Deflate64" + packages::kMethodAfter + L"big.txt"},
      {L"bzip2.zip", method + L"BZip2" + packages::kMethodAfter},
      {L"encrypted.zip", packages::kEncryptedEntry + std::wstring(L"a.txt")},
      {L"case_clash.zip", packages::kCaseClash + std::wstring(L"lib/")},
      {L"file_and_folder.zip", packages::kCaseClash},
      {L"wrapped_count.zip", packages::kCountWrapped},
  };
  for (const auto& [zip, text] : cases) {
    SCOPED_TRACE(util::toUtf8(zip));
    TempDir tmp;
    const Extraction r = extract(testZip(zip), tmp / L"out");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.failure.rfind(text, 0), 0u) << util::toUtf8(r.failure);
    const InPlace placed = extractInPlace(testZip(zip), tmp.path());
    EXPECT_EQ(placed.failure, r.failure);
    EXPECT_TRUE(entryNames(tmp.path()).empty());
    std::wstring checked;
    EXPECT_FALSE(checkZip(testZip(zip), checked));
    EXPECT_EQ(checked, r.failure);
  }
}
