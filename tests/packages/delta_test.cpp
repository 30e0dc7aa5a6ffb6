#include "packages/delta.h"
#include "packages/texts.h"

#include <gtest/gtest.h>
#include <miniz.h>

#include <string>
#include <utility>
#include <vector>

#include "net/sha256.h"
#include "support/temp_dir.h"
#include "support/zip_bytes.h"
#include "util/files.h"
#include "util/text.h"

using testing_support::fileExists;
using testing_support::readFileBytes;
using testing_support::TempDir;

namespace {

using Entries = testing_support::ZipEntries;

std::string zipOf(const Entries& entries, int level = 6) { return testing_support::zipBytes(entries, level); }

// The index of a zip in memory, read from its central directory as the vendor's tool reads it.
PackageIndex indexOf(const std::string& zipBytes, const Entries& entries) {
  mz_zip_archive zip{};
  EXPECT_TRUE(mz_zip_reader_init_mem(&zip, zipBytes.data(), zipBytes.size(), 0));
  PackageIndex index;
  for (mz_uint i = 0; i < mz_zip_reader_get_num_files(&zip); ++i) {
    mz_zip_archive_file_stat stat;
    EXPECT_TRUE(mz_zip_reader_file_stat(&zip, i, &stat));
    index.entries.push_back({stat.m_filename, stat.m_uncomp_size, sha256Hex(entries[i].second), stat.m_crc32,
                             stat.m_method, stat.m_local_header_ofs, stat.m_comp_size});
  }
  mz_zip_reader_end(&zip);
  return index;
}

// Content that deflate cannot shrink, so that it keeps entries apart in the zip.
std::string noise(size_t count, uint32_t seed) {
  std::string bytes(count, '\0');
  for (char& c : bytes) {
    seed = seed * 1664525u + 1013904223u;
    c = static_cast<char>(seed >> 24);
  }
  return bytes;
}

void put(const std::wstring& path, const std::string& bytes) {
  ASSERT_TRUE(util::createDirectories(path.substr(0, path.rfind(L'\\'))));
  ASSERT_TRUE(util::writeFile(path, bytes.data(), bytes.size()));
}

// Fetches the needed entries as a client would, from the zip's bytes by range, and writes each
// to its place; the failure of the first entry that fails, or none.
util::Failure applyByRanges(const PackageIndex& index, const std::string& zipBytes, const std::vector<size_t>& needed,
                            const std::wstring& dir) {
  std::vector<delta::FetchRange> ranges;
  std::wstring text;
  if (!delta::rangesFor(index, needed, zipBytes.size(), ranges, text)) {
    return util::failure(util::FailureKind::kVerification, text);
  }
  std::vector<std::wstring> targets;
  EXPECT_TRUE(delta::entryTargets(index, dir, targets, text));
  for (const delta::FetchRange& range : ranges) {
    const std::string fetched = zipBytes.substr(range.first, range.count);
    for (size_t i : range.entries) {
      const size_t at = index.entries[i].headerOffset - range.first;
      // Folders are the caller's, as they are made before any file is staged.
      EXPECT_TRUE(util::createDirectories(targets[i].substr(0, targets[i].rfind(L'\\'))));
      util::Failure failure;
      if (!delta::writeEntry(index.entries[i], fetched.data() + at, fetched.size() - at, targets[i], failure)) {
        return failure;
      }
    }
  }
  return {};
}

TEST(DeltaUpgrade, FetchesAndWritesOnlyTheEntriesThatDiffer) {
  const Entries v2 = {{"app/same.txt", std::string(5000, 's')},
                      {"app/changed_same_size.txt", "new content 1"},
                      {"app/changed_size.txt", std::string(3000, 'n')},
                      {"app/missing/added.bin", noise(100000, 7)},
                      {"app/data/user.db", "package database"},
                      {"app/stored.txt", "stored bytes"}};
  const std::string zipBytes = zipOf(v2);
  const PackageIndex index = indexOf(zipBytes, v2);
  TempDir dir;
  // An installation of the previous version: the package's wrapping folder "app" is not there.
  put(dir / L"same.txt", v2[0].second);
  put(dir / L"changed_same_size.txt", "old content 1");
  put(dir / L"changed_size.txt", "old");
  put(dir / L"data\\user.db", "the user's own data");

  std::vector<size_t> needed;
  util::Failure failure;
  // Only the two files of the entry's size are hashed; a false answer stops as a cancel.
  EXPECT_FALSE(delta::entriesNeeded(index, dir.path(), needed, &failure, [](uint64_t, uint64_t) { return false; }));
  EXPECT_TRUE(failure.cancelled());
  uint64_t hashed = 0, toHash = 0;
  ASSERT_TRUE(delta::entriesNeeded(index, dir.path(), needed, &failure, [&](uint64_t done, uint64_t total) {
    hashed = done;
    toHash = total;
    return true;
  }));
  EXPECT_EQ(needed, (std::vector<size_t>{1, 2, 3, 5}));
  EXPECT_EQ(hashed, 5000u + 13u);
  EXPECT_EQ(toHash, 5000u + 13u);

  ASSERT_EQ(applyByRanges(index, zipBytes, needed, dir.path()).text, L"");
  for (const auto& [name, data] : v2) {
    if (name == "app/data/user.db") continue;
    std::wstring rel = util::toWide(util::kCodePageUtf8, name.substr(4));
    for (wchar_t& c : rel) c = c == L'/' ? L'\\' : c;
    EXPECT_EQ(readFileBytes(dir / rel), data) << name;
  }
  EXPECT_EQ(readFileBytes(dir / L"data\\user.db"), "the user's own data");
  ASSERT_TRUE(delta::entriesNeeded(index, dir.path(), needed, &failure));
  EXPECT_TRUE(needed.empty());

  // Stored entries (method 0) come back as they are.
  const Entries stored = {{"a.txt", "plain"}, {"b.txt", noise(1000, 3)}};
  const std::string storedZip = zipOf(stored, 0);
  const PackageIndex storedIndex = indexOf(storedZip, stored);
  ASSERT_EQ(storedIndex.entries[1].method, 0);
  ASSERT_EQ(applyByRanges(storedIndex, storedZip, {0, 1}, dir.path()).text, L"");
  EXPECT_EQ(readFileBytes(dir / L"b.txt"), stored[1].second);
}

TEST(DeltaRanges, CoalesceNeighboursAndStayWithinTheStatedSizes) {
  const Entries entries = {{"a", "aaaa"}, {"b", "bbbb"}, {"gap", noise(200000, 1)}, {"c", "cccc"}};
  const std::string zipBytes = zipOf(entries);
  const PackageIndex index = indexOf(zipBytes, entries);
  std::vector<delta::FetchRange> ranges;
  std::wstring text;
  ASSERT_TRUE(delta::rangesFor(index, {3, 0, 1}, zipBytes.size(), ranges, text));
  ASSERT_EQ(ranges.size(), 2u);
  EXPECT_EQ(ranges[0].entries, (std::vector<size_t>{0, 1}));
  EXPECT_EQ(ranges[0].first, index.entries[0].headerOffset);
  EXPECT_EQ(ranges[0].first + ranges[0].count, index.entries[2].headerOffset);  // cut at the next header
  EXPECT_EQ(ranges[1].entries, (std::vector<size_t>{3}));
  EXPECT_LE(ranges[1].first + ranges[1].count, zipBytes.size());

  // An index whose sizes reach past the zip, into the next entry, or past 2^64 is not used.
  const auto refused = [&](PackageIndex bad, size_t entry) {
    return !delta::rangesFor(bad, {entry}, zipBytes.size(), ranges, text) && ranges.empty() &&
           text == packages::kIndexBadRange + util::toWide(util::kCodePageUtf8, bad.entries[entry].path);
  };
  PackageIndex bad = index;
  bad.entries[3].compressedSize = zipBytes.size();
  EXPECT_TRUE(refused(bad, 3));
  bad = index;
  bad.entries[0].compressedSize += index.entries[1].headerOffset - index.entries[0].headerOffset;
  EXPECT_TRUE(refused(bad, 0));
  bad = index;
  bad.entries[3].headerOffset = UINT64_MAX - 10;
  EXPECT_TRUE(refused(bad, 3));
  bad = index;
  bad.entries[1].compressedSize = UINT64_MAX;
  EXPECT_TRUE(refused(bad, 1));
  bad = index;
  bad.entries[1].headerOffset = index.entries[0].headerOffset;
  EXPECT_TRUE(refused(bad, 1));
}

TEST(DeltaEntry, BytesThatDoNotMatchTheIndexAreRefusedAndLeaveNothing) {
  const Entries entries = {{"one.txt", std::string(4000, '1') + "end"}, {"two.txt", std::string(4000, '2')}};
  const std::string zipBytes = zipOf(entries);
  const PackageIndex index = indexOf(zipBytes, entries);
  TempDir dir;
  const std::wstring out = dir / L"one.txt";
  const PackageIndexEntry& one = index.entries[0];
  const std::string fromOne = zipBytes.substr(one.headerOffset);
  const auto refusal = [&](const PackageIndexEntry& entry, const std::string& bytes) {
    util::Failure failure;
    EXPECT_FALSE(delta::writeEntry(entry, bytes.data(), bytes.size(), out, failure));
    EXPECT_FALSE(fileExists(out));
    return failure.kind == util::FailureKind::kVerification ? failure.text : L"not a verification failure";
  };
  const std::wstring name = L"one.txt";

  // The index points at another entry's bytes, or at no header at all.
  EXPECT_EQ(refusal(one, zipBytes.substr(index.entries[1].headerOffset)), packages::kDeltaHeaderBad + name);
  EXPECT_EQ(refusal(one, fromOne.substr(1)), packages::kDeltaHeaderBad + name);
  PackageIndexEntry wrongMethod = one;
  wrongMethod.method = 0;
  EXPECT_EQ(refusal(wrongMethod, fromOne), packages::kDeltaHeaderBad + name);
  // Fewer bytes than the header and the compressed size need.
  EXPECT_EQ(refusal(one, fromOne.substr(0, 20)), packages::kDeltaTruncated + name);
  EXPECT_EQ(refusal(one, fromOne.substr(0, 30 + 7 + one.compressedSize - 1)), packages::kDeltaTruncated + name);
  // A damaged deflate stream.
  std::string damaged = fromOne;
  for (size_t i = 0; i < 8; ++i) damaged[30 + 7 + i] ^= 0x5a;
  const std::wstring damage = refusal(one, damaged);
  EXPECT_TRUE(damage == packages::kDeltaInflateFailed + name || damage == packages::kDeltaSizeMismatch + name ||
              damage == packages::kDeltaCrcMismatch + name)
      << util::toUtf8(damage);
  // Content that differs from what the index states.
  PackageIndexEntry wrong = one;
  wrong.size -= 1;
  EXPECT_EQ(refusal(wrong, fromOne), packages::kDeltaSizeMismatch + name);
  wrong = one;
  wrong.size += 1;
  EXPECT_EQ(refusal(wrong, fromOne), packages::kDeltaSizeMismatch + name);
  wrong = one;
  wrong.crc32 ^= 1;
  EXPECT_EQ(refusal(wrong, fromOne), packages::kDeltaCrcMismatch + name);
  wrong = one;
  wrong.sha256 = index.entries[1].sha256;
  EXPECT_EQ(refusal(wrong, fromOne), packages::kDeltaHashMismatch + name);
}

TEST(DeltaUpgrade, UnsafeEntryNamesAreRefused) {
  for (const char* name : {"../evil.txt", "C:/evil.txt", "a//b.txt", "NUL.txt"}) {
    PackageIndex index;
    index.entries.push_back({name, 1, std::string(64, '0'), 0, 0, 0, 1});
    std::vector<size_t> needed;
    util::Failure failure;
    EXPECT_FALSE(delta::entriesNeeded(index, L"C:\\nowhere", needed, &failure)) << name;
    EXPECT_EQ(failure.text, packages::kUnsafeEntry + util::toWide(util::kCodePageUtf8, name));
  }
}

}  // namespace
