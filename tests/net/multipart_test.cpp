#include "net/multipart.h"

#include "net/sha256.h"

#include "net_test_helpers.h"
#include "support/temp_dir.h"
#include "support/test_servers.h"
#include "util/files.h"
#include "util/handles.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>

using namespace net_tests;
using namespace testing_support;

namespace {

constexpr uint64_t kMiB = 1048576;
const std::wstring kKeptSuffix = L"（已保留分片断点，可重试）";

std::string rangeHeader(const PartRange& range) {
  return "bytes=" + std::to_string(range.start) + "-" + std::to_string(range.end);
}

TEST(PartRanges, EightMegabytesGiveFourEqualParts) {
  const auto ranges = partRanges(8 * kMiB, L"C:\\d\\main.zip");
  ASSERT_EQ(ranges.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(ranges[i].start, i * 2 * kMiB);
    EXPECT_EQ(ranges[i].end, (i + 1) * 2 * kMiB - 1);
    EXPECT_EQ(ranges[i].path, L"C:\\d\\main.zip.p" + std::to_wstring(i));
  }
}

TEST(PartRanges, LastPartTakesTheRemainder) {
  const auto ranges = partRanges(8 * kMiB + 3, L"f");
  ASSERT_EQ(ranges.size(), 4u);
  EXPECT_EQ(ranges[3].start, 3 * (2 * kMiB));
  EXPECT_EQ(ranges[3].end, 8 * kMiB + 2);
  const auto hundred = partRanges(100 * kMiB, L"f");
  ASSERT_EQ(hundred.size(), 6u);
  EXPECT_EQ(hundred[0].end, 100 * kMiB / 6 - 1);
  EXPECT_EQ(hundred[5].end, 100 * kMiB - 1);
}

TEST(PartRanges, CountFollowsTheSizeBetweenTwoAndSix) {
  EXPECT_EQ(partRanges(10 * kMiB, L"f").size(), 5u);
  EXPECT_EQ(partRanges(12 * kMiB, L"f").size(), 6u);
  EXPECT_EQ(partRanges(4 * kMiB, L"f").size(), 2u);
  EXPECT_EQ(partRanges(12 * kMiB - 1, L"f").size(), 5u);
}

TEST(PartRanges, PiecesJustUnderTwoMebibytesTakeASliverAlongAndSplitsHalveWhatIsLeft) {
  EXPECT_EQ(pieceEnd(0, 10 * kMiB), 1984u * 1024 - 1);
  EXPECT_EQ(pieceEnd(kMiB, 3 * kMiB + 100), 3 * kMiB + 100);  // a 100-byte request saved
  EXPECT_EQ(pieceEnd(5, 5), 5u);
  uint64_t at = 0;
  EXPECT_FALSE(splitPoint(kMiB, 5 * kMiB - 1, at));  // 4 MiB left: its holder finishes it
  ASSERT_TRUE(splitPoint(kMiB, 5 * kMiB, at));
  EXPECT_EQ(at, 3 * kMiB);
  EXPECT_FALSE(splitPoint(9 * kMiB, 9 * kMiB - 1, at));  // everything asked for
}

class Multipart : public ::testing::Test {
 protected:
  DownloadResult fetch(const std::wstring& url, const ByteProgress& progress = {},
                       CancelEvent cancel = nullptr) {
    HttpConnection connection;
    connect(connection, url);
    uint64_t total = 0;
    std::wstring validator;
    (void)probeRangeSupport(connection, total, &validator);
    return downloadMultipart(connection, body_.size(), validator, dest_, progress, cancel);
  }
  // The destination holds body, the digest is body's, and nothing else is left in the folder.
  void expectOnlyTheFile(const DownloadResult& result, const std::string& body) {
    ASSERT_TRUE(result.ok) << testing::PrintToString(result.message);
    EXPECT_TRUE(readFileBytes(dest_) == body);
    EXPECT_EQ(result.sha256, sha256Hex(body));
    EXPECT_EQ(filesIn(dir_.path()), std::vector<std::wstring>{L"main.zip"});
  }
  DownloadResult fetchBody(const std::wstring& url, uint64_t size) {
    HttpConnection connection;
    connect(connection, url);
    return downloadMultipart(connection, size, validatorOf(url), dest_, {}, nullptr);
  }

  ServerScenario scenario_;
  TempDir dir_;
  const std::wstring dest_ = dir_ / L"main.zip";
  const std::string body_ = patternBytes(8 * kMiB + 3, 7);
  const std::vector<PartRange> ranges_ = partRanges(body_.size(), dest_);
};

TEST_F(Multipart, FetchesEveryRangeInParallelAndMergesThem) {
  scenario_.putFile(L"main.zip", body_);
  ProgressLog progress;
  const DownloadResult result = fetch(scenario_.nginxUrl(L"main.zip"), progress.recorder());
  ASSERT_TRUE(result.ok) << testing::PrintToString(result.message);
  EXPECT_EQ(result.message, L"");
  EXPECT_TRUE(readFileBytes(dest_) == body_);
  EXPECT_EQ(result.sha256, sha256Hex(body_));
  EXPECT_EQ(filesIn(dir_.path()), std::vector<std::wstring>{L"main.zip"});
  std::vector<std::string> asked;
  for (const auto& request : scenario_.nginxRequests()) {
    if (request.range != "bytes=0-0") asked.push_back(request.range);  // the probe
  }
  std::sort(asked.begin(), asked.end());
  std::vector<std::string> expected;
  for (const auto& range : ranges_) expected.push_back(rangeHeader(range));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(asked, expected);
  // Serialised calls see a count that never falls and ends at the total.
  for (size_t i = 1; i < progress.calls.size(); ++i) {
    EXPECT_GE(progress.calls[i].first, progress.calls[i - 1].first);
  }
  EXPECT_EQ(progress.calls.back(), std::make_pair(uint64_t{body_.size()}, uint64_t{body_.size()}));
}

TEST_F(Multipart, CompleteAndOverlongPartFilesFromAnEarlierCall) {
  scenario_.putFile(L"main.zip", body_);
  const PartRange& first = ranges_[0];
  const PartRange& second = ranges_[1];
  const std::wstring validator = validatorOf(scenario_.nginxUrl(L"main.zip"));
  writePartial(first.path, body_.substr(first.start, first.end - first.start + 1), validator);
  writePartial(second.path, std::string(second.end - second.start + 2, 'x'), validator);
  ProgressLog progress;
  const DownloadResult result = fetch(scenario_.nginxUrl(L"main.zip"), progress.recorder());
  ASSERT_TRUE(result.ok) << testing::PrintToString(result.message);
  EXPECT_TRUE(readFileBytes(dest_) == body_);
  EXPECT_EQ(result.sha256, sha256Hex(body_));  // with the kept part's bytes
  for (const auto& request : scenario_.nginxRequests()) {
    EXPECT_NE(request.range, rangeHeader(first));  // the complete part asks for nothing
  }
  EXPECT_EQ(scenario_.nginxRequests().size(), 5u);  // two probes and three parts
  // Only this call's bytes count: the first part's are not reported again.
  EXPECT_EQ(progress.calls.back().first, body_.size() - (first.end - first.start + 1));
}

// An earlier call split the last range, completed its far half and part of the near one, and
// left part of another range: only the missing bytes are asked for, and the digest covers all.
TEST_F(Multipart, SixPartsWithSomeKeptFromAnEarlierCallMergeIntoTheRightDigest) {
  const std::string body = patternBytes(12 * kMiB + 5, 8);
  scenario_.putFile(L"main.zip", body);
  const std::wstring validator = validatorOf(scenario_.nginxUrl(L"main.zip"));
  const auto ranges = partRanges(body.size(), dest_);
  ASSERT_EQ(ranges.size(), 6u);
  const uint64_t split = 11 * kMiB;
  writePartial(ranges[0].path, body.substr(0, 2 * kMiB), validator);
  writePartial(ranges[3].path, body.substr(ranges[3].start, 1000), validator);
  writePartial(ranges[5].path, body.substr(ranges[5].start, kMiB / 2), validator);
  writePartial(splitPartPath(dest_, 5, split), body.substr(split), validator);
  HttpConnection connection;
  connect(connection, scenario_.nginxUrl(L"main.zip"));
  const DownloadResult result = downloadMultipart(connection, body.size(), validator, dest_, {}, nullptr);
  expectOnlyTheFile(result, body);
  std::vector<std::string> asked;
  for (const auto& request : scenario_.nginxRequests()) {
    if (request.range != "bytes=0-0") asked.push_back(request.range);
  }
  std::sort(asked.begin(), asked.end());
  std::vector<std::string> expected = {
      rangeHeader(ranges[1]), rangeHeader(ranges[2]), rangeHeader(ranges[4]),
      "bytes=" + std::to_string(ranges[3].start + 1000) + "-" + std::to_string(ranges[3].end),
      "bytes=" + std::to_string(ranges[5].start + kMiB / 2) + "-" + std::to_string(split - 1)};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(asked, expected);
}

// Six ranges of 6.7 MiB; the first answer of the last one crawls, so the threads that are done
// take over the far half of its rest, and the first answer for that half breaks off.
TEST_F(Multipart, SlowRangeIsSplitForAFreeConnectionWhoseDroppedAnswerResumes) {
  const std::string body = patternBytes(40 * kMiB, 9);
  scenario_.putFile(L"main.zip", body);
  const auto ranges = partRanges(body.size(), dest_);
  const uint64_t slowStart = ranges[5].start;
  uint64_t split = 0;
  ASSERT_TRUE(splitPoint(pieceEnd(slowStart, ranges[5].end) + 1, ranges[5].end, split));
  scenario_.setFaultRules(
      "{\"rules\": [{\"when\": {\"range_start\": " + std::to_string(split) +
      "}, \"times\": 1, \"drop_after\": 100000}, {\"when\": {\"range_start\": " +
      std::to_string(slowStart) + "}, \"chunk\": [262144, 0.5]}]}");
  const DownloadResult result = fetchBody(scenario_.faultUrl(L"main.zip"), body.size());
  expectOnlyTheFile(result, body);
  std::vector<std::string> starts;
  for (const auto& request : scenario_.faultRequests()) {
    starts.push_back(request.range.substr(0, request.range.find('-') + 1));
  }
  const auto asked = [&](uint64_t start) {
    return std::count(starts.begin(), starts.end(), "bytes=" + std::to_string(start) + "-");
  };
  EXPECT_EQ(asked(split), 1);
  EXPECT_EQ(asked(split + 100000), 1);
}

// A server that honours the first range of each part and then answers 200: whatever the parts
// already hold is dropped and one stream fetches the file.
TEST_F(Multipart, ServerIgnoringRangesAfterTheFirstPiecesFallsBackToOneStream) {
  const std::string body = patternBytes(20 * kMiB, 10);
  scenario_.putFile(L"main.zip", body);
  scenario_.setFaultRules(
      R"({"rules": [{"when": {"request": [1, 2, 3, 4, 5, 6, 7]}}, {"ignore_range": true}]})");
  const DownloadResult result = fetchBody(scenario_.faultUrl(L"main.zip"), body.size());
  expectOnlyTheFile(result, body);
  EXPECT_EQ(scenario_.faultRequests().back().range, "-");
}

TEST_F(Multipart, PartAnsweredWithTheWholeResourceFallsBackToOneStream) {
  scenario_.putFile(L"main.zip", body_);
  scenario_.setFaultRules("{\"rules\": [{\"when\": {\"range_end\": " +
                          std::to_string(ranges_[2].end) + "}, \"ignore_range\": true}]}");
  const DownloadResult result = fetch(scenario_.faultUrl(L"main.zip"));
  ASSERT_TRUE(result.ok) << testing::PrintToString(result.message);
  EXPECT_TRUE(readFileBytes(dest_) == body_);
  EXPECT_EQ(filesIn(dir_.path()), std::vector<std::wstring>{L"main.zip"});
  const auto requests = scenario_.faultRequests();
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests.back().range, "-");  // the single stream starts from the first byte
}

TEST_F(Multipart, RangeAnswerForOtherBytesRestartsThePartOnceThenFails) {
  scenario_.putFile(L"main.zip", body_);
  const std::string rule = "{\"when\": {\"range_end\": " + std::to_string(ranges_[2].end) +
                           "}, \"shift_range\": 7";
  scenario_.setFaultRules("{\"rules\": [" + rule + ", \"times\": 1}]}");
  const DownloadResult once = fetch(scenario_.faultUrl(L"main.zip"));
  ASSERT_TRUE(once.ok) << testing::PrintToString(once.message);
  EXPECT_TRUE(readFileBytes(dest_) == body_);

  scenario_.setFaultRules("{\"rules\": [" + rule + "}]}");
  const DownloadResult always = fetch(scenario_.faultUrl(L"main.zip"));
  EXPECT_FALSE(always.ok);
  EXPECT_EQ(always.message, L"分片下载失败：服务器返回的数据范围与请求不符" + kKeptSuffix);
  EXPECT_FALSE(fileExists(ranges_[2].path));
}

TEST_F(Multipart, BodyRunningPastItsRangeIsCutAtTheRangeEnd) {
  scenario_.putFile(L"main.zip", body_);
  scenario_.setFaultRules(R"({"rules": [{"when": {"range_start": 0, "range_end": 2097151}, "extra_bytes": 4096}]})");
  const DownloadResult result = fetch(scenario_.faultUrl(L"main.zip"));
  ASSERT_TRUE(result.ok) << testing::PrintToString(result.message);
  EXPECT_TRUE(readFileBytes(dest_) == body_);
}

TEST_F(Multipart, PartFailingThreeTimesKeepsEveryPartFileAndTheNextCallFetchesTheRest) {
  scenario_.putFile(L"main.zip", body_);
  const PartRange& broken = ranges_[1];
  scenario_.setFaultRules("{\"rules\": [{\"when\": {\"range_end\": " + std::to_string(broken.end) +
                          "}, \"times\": 3, \"drop_after\": 1000}]}");
  const DownloadResult first = fetch(scenario_.faultUrl(L"main.zip"));
  EXPECT_FALSE(first.ok);
  EXPECT_FALSE(first.cancelled);
  EXPECT_EQ(first.message, L"分片下载失败：分片数据不完整" + kKeptSuffix);
  for (const auto& range : ranges_) EXPECT_TRUE(fileExists(range.path));
  EXPECT_EQ(readFileBytes(broken.path), body_.substr(broken.start, 3000));
  EXPECT_FALSE(fileExists(dest_));

  const size_t before = scenario_.faultRequests().size();
  const DownloadResult second = fetch(scenario_.faultUrl(L"main.zip"));
  ASSERT_TRUE(second.ok) << testing::PrintToString(second.message);
  EXPECT_TRUE(readFileBytes(dest_) == body_);
  const auto requests = scenario_.faultRequests();
  ASSERT_EQ(requests.size(), before + 2);  // the probe and the rest of the broken part
  EXPECT_EQ(requests.back().range,
            "bytes=" + std::to_string(broken.start + 3000) + "-" + std::to_string(broken.end));
}

TEST_F(Multipart, UnexpectedStatusOfAPartAbortsTheOthers) {
  scenario_.putFile(L"main.zip", body_);
  scenario_.setFaultRules("{\"rules\": [{\"when\": {\"range_start\": 0}, \"status\": 403}]}");
  const DownloadResult result = fetch(scenario_.faultUrl(L"main.zip"));
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.message, L"分片下载失败：分片请求异常状态码：403" + kKeptSuffix);
}

TEST_F(Multipart, ThePartThatFailedIsReportedNotAnEarlierOneItStopped) {
  scenario_.putFile(L"main.zip", body_);
  // Parts deliver slowly, and the last one is refused: the first part, stopped by the abort
  // without a message of its own, has nothing to say.
  scenario_.setFaultRules("{\"rules\": [{\"when\": {\"range_end\": " +
                          std::to_string(ranges_[3].end) +
                          "}, \"status\": 500}, {\"chunk\": [65536, 0.05]}]}");
  const DownloadResult result = fetch(scenario_.faultUrl(L"main.zip"));
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.message, L"分片下载失败：分片请求异常状态码：500" + kKeptSuffix);
}

TEST_F(Multipart, RefusedConnectionsAreRetriedThenReported) {
  HttpConnection connection;
  connect(connection, net_tests::refusedUrl(L"/main.zip"));
  const DownloadResult result = downloadMultipart(connection, 8 * kMiB, L"", dest_, {}, nullptr);
  EXPECT_FALSE(result.ok);
  EXPECT_TRUE(startsWith(result.message, L"分片下载失败：连接服务器失败（"))
      << testing::PrintToString(result.message);
}

TEST_F(Multipart, RequestHandleFailureIsReported) {
  HttpConnection unopened;
  const DownloadResult result = downloadMultipart(unopened, 8 * kMiB, L"", dest_, {}, nullptr);
  EXPECT_FALSE(result.ok);
  // Whichever part was first to fail, the first in order has either the message or nothing.
  EXPECT_TRUE(startsWith(result.message, L"分片下载失败：创建请求失败（") ||
              result.message == L"分片下载失败：未知错误" + kKeptSuffix)
      << testing::PrintToString(result.message);
}

TEST_F(Multipart, UnwritablePartFileNamesItsPath) {
  scenario_.putFile(L"main.zip", body_);
  ASSERT_TRUE(util::createDirectories(ranges_[0].path));  // a folder in the part file's place
  const DownloadResult result = fetch(scenario_.nginxUrl(L"main.zip"));
  EXPECT_FALSE(result.ok);
  EXPECT_TRUE(startsWith(result.message, L"分片下载失败：无法写入分片：" + ranges_[0].path + L"（"))
      << testing::PrintToString(result.message);
}

TEST_F(Multipart, FailedWriteOfAPartAbortsTheDownload) {
  scenario_.putFile(L"main.zip", body_);
  HttpConnection connection;
  connect(connection, scenario_.nginxUrl(L"main.zip"));
  const std::wstring dest = testing_support::fullDiskDestination();
  const DownloadResult result = downloadMultipart(connection, body_.size(), L"", dest, {}, nullptr);
  for (const auto& range : partRanges(body_.size(), dest)) {
    if (range.start > 0) util::deleteFileForce(range.path);  // the others, kept for a resume
  }
  EXPECT_FALSE(result.ok);
  EXPECT_TRUE(startsWith(result.message, L"分片下载失败：写入磁盘失败（"))
      << testing::PrintToString(result.message);
}

TEST_F(Multipart, MergeTargetThatCannotBeCreatedKeepsTheParts) {
  // Every part is complete already, so the call goes straight to the merge.
  scenario_.putFile(L"main.zip", body_);
  const std::wstring validator = validatorOf(scenario_.nginxUrl(L"main.zip"));
  for (const auto& range : ranges_) {
    writePartial(range.path, body_.substr(range.start, range.end - range.start + 1), validator);
  }
  ASSERT_TRUE(util::createDirectories(dest_ + L".part"));
  const DownloadResult result = fetch(scenario_.nginxUrl(L"main.zip"));
  EXPECT_FALSE(result.ok);
  EXPECT_TRUE(startsWith(result.message, L"无法创建合并文件：" + dest_ + L".part（"))
      << testing::PrintToString(result.message);
  for (const auto& range : ranges_) EXPECT_TRUE(fileExists(range.path));
  for (const auto& request : scenario_.nginxRequests()) EXPECT_EQ(request.range, "bytes=0-0");
}

TEST_F(Multipart, MergedSizeOtherThanTheTotalIsRefused) {
  scenario_.putFile(L"main.zip", body_);
  // Once everything has arrived, a byte is appended to a part file another part has closed.
  const ByteProgress growOnePart = [&](uint64_t done, uint64_t total) {
    if (done < total) return true;
    for (int attempt = 0; attempt < 500; ++attempt) {
      for (const auto& range : ranges_) {
        util::FileHandle file(CreateFileW(range.path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (file && WriteFile(file.get(), "!", 1, &written, nullptr)) return true;
      }
      Sleep(10);
    }
    return true;
  };
  const DownloadResult result = fetch(scenario_.nginxUrl(L"main.zip"), growOnePart);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.message, L"合并后大小异常（" + std::to_wstring(body_.size() + 1) + L" ≠ " +
                                std::to_wstring(body_.size()) + L"）");
  EXPECT_FALSE(fileExists(dest_ + L".part"));
  for (const auto& range : ranges_) EXPECT_TRUE(fileExists(range.path));
}

TEST_F(Multipart, FailedRenameLeavesTheMergedFileToResume) {
  scenario_.putFile(L"main.zip", body_);
  ASSERT_TRUE(util::createDirectories(dest_));
  net_tests::writeBytes(dest_ + L"\\inside.txt", "x");
  const DownloadResult result = fetch(scenario_.nginxUrl(L"main.zip"));
  EXPECT_FALSE(result.ok);
  EXPECT_TRUE(startsWith(result.message, L"下载文件改名失败（"))
      << testing::PrintToString(result.message);
  EXPECT_TRUE(readFileBytes(dest_ + L".part") == body_);
  for (const auto& range : ranges_) EXPECT_FALSE(fileExists(range.path));
}

TEST_F(Multipart, CancelEventRemovesEveryPartFile) {
  scenario_.putFile(L"main.zip", body_);
  util::Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  const ByteProgress setEventAfterAMegabyte = [&](uint64_t done, uint64_t) {
    if (done >= kMiB) SetEvent(event.get());
    return true;
  };
  const DownloadResult result =
      fetch(scenario_.nginxUrl(L"main.zip?rate=4m"), setEventAfterAMegabyte, event.get());
  EXPECT_FALSE(result.ok);
  EXPECT_TRUE(result.cancelled);
  EXPECT_EQ(result.message, L"已取消");
  EXPECT_TRUE(filesIn(dir_.path()).empty());
}

TEST_F(Multipart, ProgressReturningFalseRemovesEveryPartFile) {
  scenario_.putFile(L"main.zip", body_);
  const DownloadResult result = fetch(scenario_.nginxUrl(L"main.zip?rate=4m"),
                                      [](uint64_t done, uint64_t) { return done < kMiB; });
  EXPECT_TRUE(result.cancelled);
  EXPECT_EQ(result.message, L"已取消");
  EXPECT_TRUE(filesIn(dir_.path()).empty());
}

}  // namespace
