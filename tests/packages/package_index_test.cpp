#include "packages/package_index_io.h"
#include "packages/texts.h"
#include "packages/manifest.h"

#include <gtest/gtest.h>
#include <miniz.h>

#include <cstring>
#include <string>
#include <vector>

#include "net/sha256.h"
#include "support/temp_dir.h"
#include "support/zip_bytes.h"
#include "util/files.h"
#include "util/text.h"

using testing_support::readFileBytes;
using testing_support::TempDir;
using testing_support::ZipSource;
using testing_support::zipOf;

namespace {


uint16_t le16(const std::string& bytes, uint64_t at) {
  return static_cast<uint16_t>(static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8);
}

// The content an entry's stated place holds: the local header found at its offset, then exactly
// the compressed size, stored or inflated.
std::string contentAt(const std::string& zip, const PackageIndexEntry& e) {
  if (zip.compare(e.headerOffset, 4, "PK\x03\x04") != 0) return "no local header";
  const uint64_t data = e.headerOffset + 30 + le16(zip, e.headerOffset + 26) + le16(zip, e.headerOffset + 28);
  const std::string packed = zip.substr(data, e.compressedSize);
  if (e.method == 0) return packed;
  size_t size = 0;
  void* out = tinfl_decompress_mem_to_heap(packed.data(), packed.size(), &size, 0);
  std::string content(static_cast<const char*>(out), size);
  mz_free(out);
  return content;
}

const std::string kDigest(64, 'a');

std::string line(const std::string& rest) { return std::string(kPackageIndexHeader) + "\n" + rest; }

}  // namespace

TEST(PackageIndex, StatesEveryFileEntrysContentAndWhereItsCompressedBytesLie) {
  std::string big;
  for (int i = 0; i < 20000; ++i) big += "line " + std::to_string(i % 97) + "\n";
  const std::vector<ZipSource> entries = {{"pkg/", "", 0},
                                      {"pkg/stored.txt", "kept as it is", 0},
                                      {"pkg/big.txt", big},
                                      {u8"pkg/数据 文件.txt", ""}};
  const std::string zip = zipOf(entries);
  TempDir dir;
  ASSERT_TRUE(util::writeFile(dir / L"p.zip", zip.data(), zip.size()));

  PackageIndex index;
  std::wstring error;
  ASSERT_TRUE(buildPackageIndex(dir / L"p.zip", index, error)) << util::toUtf8(error);
  ASSERT_EQ(index.entries.size(), 3u);  // the folder entry is no file
  for (size_t i = 0; i < 3; ++i) {
    const PackageIndexEntry& e = index.entries[i];
    const std::string& content = entries[i + 1].data;
    SCOPED_TRACE(e.path);
    EXPECT_EQ(e.path, entries[i + 1].name);
    EXPECT_EQ(e.size, content.size());
    EXPECT_EQ(e.sha256, sha256Hex(content));
    EXPECT_EQ(e.crc32, mz_crc32(MZ_CRC32_INIT, reinterpret_cast<const mz_uint8*>(content.data()), content.size()));
    EXPECT_EQ(contentAt(zip, e), content);
  }
  EXPECT_EQ(index.entries[0].method, 0);
  EXPECT_EQ(index.entries[1].method, 8);
  EXPECT_LT(index.entries[1].compressedSize, big.size() / 10);

  // What is written is read back to the same record, and the text stays small.
  ASSERT_TRUE(writePackageIndexFile(dir / L"p.zip.index", index, error));
  EXPECT_LT(readFileBytes(dir / L"p.zip.index").size(), 3 * 120u);
  PackageIndex back;
  ASSERT_TRUE(readPackageIndexFile(dir / L"p.zip.index", back, error)) << util::toUtf8(error);
  ASSERT_EQ(back.entries.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(formatPackageIndex(PackageIndex{{back.entries[i]}}), formatPackageIndex(PackageIndex{{index.entries[i]}}));
  }
}

TEST(PackageIndex, RefusesZipsWhoseNamesOrContentWouldNotExtract) {
  TempDir dir;
  PackageIndex index;
  std::wstring error;
  const std::string unsafe = zipOf({{"ok.txt", "1", 0}, {"../evil.dll", "2", 0}});
  ASSERT_TRUE(util::writeFile(dir / L"unsafe.zip", unsafe.data(), unsafe.size()));
  EXPECT_FALSE(buildPackageIndex(dir / L"unsafe.zip", index, error));
  EXPECT_EQ(error, L"压缩包含非法路径条目：../evil.dll");
  EXPECT_TRUE(index.entries.empty());

  std::string damaged = zipOf({{"a.txt", "first entry", 0}});
  damaged[damaged.find("first")] = 'F';  // the CRC-32 no longer matches
  ASSERT_TRUE(util::writeFile(dir / L"crc.zip", damaged.data(), damaged.size()));
  EXPECT_FALSE(buildPackageIndex(dir / L"crc.zip", index, error));
  EXPECT_EQ(error, std::wstring(packages::kDamagedEntry) + L"a.txt");

  EXPECT_FALSE(buildPackageIndex(dir / L"none.zip", index, error));
  EXPECT_EQ(error, L"无法打开压缩包：" + (dir / L"none.zip"));
}

TEST(PackageIndex, RefusesEveryLineItCannotTrust) {
  const std::string good = kDigest + " 0000abcd 8 100 20 40 dir/a b.txt\n";
  PackageIndex index;
  std::wstring error;
  ASSERT_TRUE(parsePackageIndex(line(good), index, error));
  ASSERT_EQ(index.entries.size(), 1u);
  EXPECT_EQ(index.entries[0].path, "dir/a b.txt");
  EXPECT_EQ(index.entries[0].crc32, 0xabcdu);
  EXPECT_EQ(index.entries[0].headerOffset, 100u);
  ASSERT_TRUE(parsePackageIndex(line(""), index, error));  // a package without files
  EXPECT_TRUE(index.entries.empty());

  const std::string bad[] = {
      "",                                                          // no header
      "orvalo-package-index 2\n" + good,                           // a later format
      line(good.substr(0, good.size() - 1)),                       // cut in its last line
      line(std::string(64, 'A') + " 0000abcd 8 100 20 40 a.txt\n"),  // upper-case digest
      line(std::string(63, 'a') + " 0000abcd 8 100 20 40 a.txt\n"),
      line(kDigest + " abcd 8 100 20 40 a.txt\n"),                  // short CRC-32
      line(kDigest + " 0000abcd 12 100 20 40 a.txt\n"),             // neither stored nor deflated
      line(kDigest + " 0000abcd 0 100 20 40 a.txt\n"),              // stored, yet sizes differ
      line(kDigest + " 0000abcd 8 -1 20 40 a.txt\n"),
      line(kDigest + " 0000abcd 8 100  20 40 a.txt\n"),             // a field left empty
      line(kDigest + " 0000abcd 8 18446744073709551615 1 40 a.txt\n"),  // its range wraps
      line(kDigest + " 0000abcd 8 184467440737095516150 1 40 a.txt\n"),
      line(kDigest + " 0000abcd 8 100 20 40\n"),                    // no path
      line(kDigest + " 0000abcd 8 100 20 40 ../evil.dll\n"),
      line(kDigest + " 0000abcd 8 100 20 40 C:x.txt\n"),
      line(kDigest + " 0000abcd 8 100 20 40 /abs.txt\n"),
      line(kDigest + " 0000abcd 8 100 20 40 a\\..\\..\\b.txt\n"),
      line(kDigest + " 0000abcd 8 100 20 40 a\r\n"),
      line(kDigest + " 0000abcd 8 100 20 40 \xff\xfe.txt\n"),      // not UTF-8
      line(good + "\n"),                                            // an empty line
  };
  for (const std::string& text : bad) {
    SCOPED_TRACE(text);
    index.entries.assign(1, PackageIndexEntry{});
    EXPECT_FALSE(parsePackageIndex(text, index, error));
    EXPECT_TRUE(index.entries.empty());
    EXPECT_EQ(error.rfind(L"包索引无效", 0), 0u);
  }
}

TEST(PackageIndex, RefusesAFileOverItsBoundBeforeParsing) {
  TempDir dir;
  std::string text = line("");
  text.resize(kMaxPackageIndexBytes + 1, '\n');
  ASSERT_TRUE(util::writeFile(dir / L"big.index", text.data(), text.size()));
  PackageIndex index;
  std::wstring error;
  EXPECT_FALSE(readPackageIndexFile(dir / L"big.index", index, error));
  EXPECT_EQ(error, L"包索引无效");
  EXPECT_FALSE(parsePackageIndex(text, index, error));
}

TEST(PackageIndex, ManifestSectionsCarryAnIndexOnlyWithAnAddressAndADigest) {
  const std::string head = "[deps]\r\nurl=http://h/deps.zip\r\n[main]\r\nurl=http://h/main.zip\r\n";
  ServerManifest m;
  std::wstring error;
  ASSERT_TRUE(parseManifest(head + "index=http://h/main.zip.index\r\nindex_sha256=" + std::string(64, 'A') + "\r\n",
                            m, error));
  EXPECT_EQ(m.main.index, L"http://h/main.zip.index");
  EXPECT_EQ(m.main.indexSha256, kDigest);
  EXPECT_TRUE(m.deps.index.empty());
  EXPECT_TRUE(m.deps.indexSha256.empty());

  const std::pair<std::string, std::wstring> bad[] = {
      {"index=http://h/main.zip.index\r\n", L"版本清单中 [main] 的包索引缺少有效的 SHA256"},
      {"index=http://h/i\r\nindex_sha256=" + std::string(63, 'a') + "\r\n",
       L"版本清单中 [main] 的包索引缺少有效的 SHA256"},
      {"index=main.zip.index\r\nindex_sha256=" + kDigest + "\r\n", L"版本清单中 [main] 的包索引地址无效：main.zip.index"},
      {"index_sha256=" + kDigest + "\r\n", L"版本清单中 [main] 的包索引地址无效："},
  };
  for (const auto& [lines, text] : bad) {
    EXPECT_FALSE(parseManifest(head + lines, m, error)) << lines;
    EXPECT_EQ(error, text);
  }
}
