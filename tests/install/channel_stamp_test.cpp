#include "install/channel_stamp.h"

#include "resources/resource_ids.h"
#include "support/run_process.h"
#include "support/temp_dir.h"
#include "util/files.h"
#include "util/handles.h"
#include "util/paths.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

using testing_support::TempDir;

std::string trailer(uint32_t length, const char* magic = "QVCH") {
  std::string t(magic, 4);
  for (int shift = 0; shift < 32; shift += 8) t += static_cast<char>((length >> shift) & 0xFF);
  return t;
}

std::string stamp(const std::string& payload) {
  return payload + trailer(static_cast<uint32_t>(payload.size()));
}

class StampTrailer : public ::testing::Test {
 protected:
  // Writes bytes to a file and reads its trailer through an open handle, as the installer does.
  bool read(const std::string& bytes, std::string& payload) {
    const std::wstring path = dir_ / L"setup.exe";
    EXPECT_TRUE(util::writeFile(path, bytes.data(), bytes.size()));
    util::FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(file.valid());
    payload = "stale";
    return readFileStamp(file.get(), payload);
  }

  TempDir dir_;
  const std::string image_ = std::string("MZ\x90\0", 4) + std::string(4000, 'x');
};

TEST_F(StampTrailer, FindsNothingWithoutAStamp) {
  std::string payload;
  EXPECT_FALSE(read(image_, payload));
  EXPECT_TRUE(payload.empty());
  EXPECT_FALSE(read("", payload));
  EXPECT_FALSE(read(trailer(0), payload));           // exactly 8 bytes: too small
  EXPECT_FALSE(read("abc" + trailer(3), payload));  // 11 bytes, N below 4
}

TEST_F(StampTrailer, AcceptsPayloadsOfFourTo65536Bytes) {
  std::string payload;
  EXPECT_FALSE(read(image_ + stamp("abc"), payload));
  ASSERT_TRUE(read(image_ + stamp("abcd"), payload));
  EXPECT_EQ(payload, "abcd");
  // The payload may fill the whole file in front of the trailer.
  ASSERT_TRUE(read(stamp("wxyz"), payload));
  EXPECT_EQ(payload, "wxyz");

  std::string largest(65536, '\0');
  for (size_t i = 0; i < largest.size(); ++i) largest[i] = static_cast<char>(i * 7);
  ASSERT_TRUE(read(image_ + stamp(largest), payload));
  EXPECT_EQ(payload, largest);
  EXPECT_FALSE(read(image_ + stamp(largest + "!"), payload));
  EXPECT_TRUE(payload.empty());
}

TEST_F(StampTrailer, RefusesDamagedTrailers) {
  std::string payload;
  EXPECT_FALSE(read(image_ + "abcd" + trailer(4, "qvch"), payload));
  EXPECT_FALSE(read(image_ + "abcd" + trailer(4, "QVCh"), payload));
  // A length beyond the file's start.
  EXPECT_FALSE(read(std::string(100, 'x') + trailer(101), payload));
  EXPECT_FALSE(read(std::string(100, 'x') + trailer(65536), payload));
  EXPECT_FALSE(read(image_ + "abcd" + trailer(0xFFFFFFFF), payload));
  EXPECT_TRUE(read(std::string(100, 'x') + trailer(100), payload));
}

TEST_F(StampTrailer, LetsTheLastOfTwoStampsWin) {
  std::string payload;
  ASSERT_TRUE(read(image_ + stamp("[Channel]\nid=first\n") + stamp("[Channel]\nid=second\n"), payload));
  EXPECT_EQ(payload, "[Channel]\nid=second\n");
  // The first stamp is just content in front of the second payload.
  ASSERT_TRUE(read(image_ + stamp("first") + trailer(5 + 8), payload));
  EXPECT_EQ(payload, "first" + trailer(5));
}

TEST_F(StampTrailer, KeepsThePayloadByteForByte) {
  using namespace std::string_literals;
  const std::string payload = "\xEF\xBB\xBF[Channel]\r\nid=渠道\r\nref=\0x\r\n"s;
  std::string out;
  ASSERT_TRUE(read(image_ + stamp(payload), out));
  EXPECT_EQ(out, payload);
}

TEST(LoadRcData, ReadsTheResourcesOfTheRunningModule) {
  std::string bytes = "stale";
  EXPECT_EQ(loadRcData(IDR_CHANNEL_DEFAULT, bytes), L"");
  EXPECT_EQ(bytes, std::string("[Channel]\nid=\nref=\n"));
  EXPECT_EQ(loadRcData(IDR_AGREEMENT_BUILTIN, bytes), L"");
  EXPECT_FALSE(bytes.empty());
  EXPECT_EQ(loadRcData(999, bytes), L"资源不存在");
  EXPECT_TRUE(bytes.empty());
  EXPECT_EQ(loadRcData(IDI_APP_ICON, bytes), L"资源不存在");  // an icon, not RT_RCDATA
}

TEST(ReadChannelStamp, UsesTheDefaultPayloadWhenTheExecutableHasNoStamp) {
  std::string payload = "stale";
  EXPECT_EQ(readChannelStamp(payload), L"");
  EXPECT_EQ(payload, std::string("[Channel]\nid=\nref=\n"));
  EXPECT_EQ(payload.size(), 19u);
}

// Runs in a stamped copy of this test program only: writes what the copy reads as its own stamp.
TEST(ReadChannelStamp, ChildWritesItsOwnStamp) {
  wchar_t out[1024];
  if (GetEnvironmentVariableW(L"ORVALO_STAMP_OUT", out, 1024) == 0) {
    GTEST_SKIP() << "runs only inside the stamped copy";
  }
  std::string payload;
  ASSERT_EQ(readChannelStamp(payload), L"");
  ASSERT_TRUE(util::writeFile(out, payload.data(), payload.size()));
}

TEST(ReadChannelStamp, AStampedCopyOfAnExecutableReadsItsOwnStamp) {
  TempDir dir;
  std::string self;
  ASSERT_TRUE(util::readFile(util::modulePath(), self));
  const std::string payload = "\xEF\xBB\xBF[Channel]\r\nid=partner-7\r\nref=spring\r\n";
  const std::wstring copy = dir / L"stamped_tests.exe";
  const std::string stamped = self + stamp(payload);
  ASSERT_TRUE(util::writeFile(copy, stamped.data(), stamped.size()));

  const std::wstring result = dir / L"payload.bin";
  ASSERT_TRUE(SetEnvironmentVariableW(L"ORVALO_STAMP_OUT", result.c_str()));
  const testing_support::ProcessResult run = testing_support::runProcess(
      testing_support::quoteArg(copy) + L" --gtest_filter=ReadChannelStamp.ChildWritesItsOwnStamp");
  SetEnvironmentVariableW(L"ORVALO_STAMP_OUT", nullptr);
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(testing_support::readFileBytes(result), payload);
}

}  // namespace
