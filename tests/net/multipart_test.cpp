#include "net/multipart.h"

#include "net/sha256.h"
#include "net/texts.h"

#include "net_test_helpers.h"
#include "support/temp_dir.h"
#include "support/test_servers.h"
#include "util/files.h"
#include "util/handles.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>

using namespace net_tests;
using namespace testing_support;

namespace {

constexpr uint64_t kMiB = 1048576;
const std::wstring kKeptSuffix = net::kPartsKept;

std::string rangeHeader(const PartRange& range) {
  return "bytes=" + std::to_string(range.start) + "-" + std::to_string(range.end);
}

TEST(PartRanges, EightMegabytesGiveFourEqualParts) {
  const auto ranges = partRanges(8 * kMiB);
  ASSERT_EQ(ranges.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(ranges[i].start, i * 2 * kMiB);
    EXPECT_EQ(ranges[i].end, (i + 1) * 2 * kMiB - 1);
  }
}

TEST(PartRanges, LastPartTakesTheRemainder) {
  const auto ranges = partRanges(8 * kMiB + 3);
  ASSERT_EQ(ranges.size(), 4u);
  EXPECT_EQ(ranges[3].start, 3 * (2 * kMiB));
  EXPECT_EQ(ranges[3].end, 8 * kMiB + 2);
  const auto hundred = partRanges(100 * kMiB);
  ASSERT_EQ(hundred.size(), 6u);
  EXPECT_EQ(hundred[0].end, 100 * kMiB / 6 - 1);
  EXPECT_EQ(hundred[5].end, 100 * kMiB - 1);
}

TEST(PartRanges, CountFollowsTheSizeBetweenTwoAndSix) {
  EXPECT_EQ(partRanges(10 * kMiB).size(), 5u);
  EXPECT_EQ(partRanges(12 * kMiB).size(), 6u);
  EXPECT_EQ(partRanges(4 * kMiB).size(), 2u);
  EXPECT_EQ(partRanges(12 * kMiB - 1).size(), 5u);
}

TEST(PartRanges, PiecesOfFourMebibytesTakeASliverAlongAndSplitsHalveWhatIsLeft) {
  EXPECT_EQ(pieceEnd(0, 10 * kMiB), 4 * kMiB - 1);
  EXPECT_EQ(pieceEnd(kMiB, 5 * kMiB + 100), 5 * kMiB + 100);  // a 100-byte request saved
  EXPECT_EQ(pieceEnd(5, 5), 5u);
  uint64_t at = 0;
  EXPECT_FALSE(splitPoint(kMiB, 2 * kMiB - 1, at));  // 1 MiB left: its holder finishes it
  ASSERT_TRUE(splitPoint(kMiB, 2 * kMiB, at));
  EXPECT_EQ(at, kMiB + kMiB / 2);
  EXPECT_FALSE(splitPoint(9 * kMiB, 9 * kMiB - 1, at));  // everything asked for
}

// What a failed earlier call leaves: every part's kept bytes at their offsets in the data file,
// filler elsewhere (a byte fetched again shows), the state and the validator.
void keepParts(const std::wstring& dest, const std::string& body, const std::vector<PartState>& parts,
               const std::wstring& validator) {
  std::string data(body.size(), 'x');
  for (const PartState& part : parts) data.replace(part.start, part.have, body, part.start, part.have);
  writePartial(partsDataPath(dest), data, validator);
  ASSERT_TRUE(writePartsState(dest, body.size(), parts));
}

PartState keptOf(const PartRange& range, uint64_t have) { return {range.start, range.end, have}; }

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
    ASSERT_TRUE(result.ok()) << testing::PrintToString(result.failure.text);
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
  const std::vector<PartRange> ranges_ = partRanges(body_.size());
};

TEST_F(Multipart, FetchesEveryRangeInParallelIntoOneFile) {
  scenario_.putFile(L"main.zip", body_);
  ProgressLog progress;
  const DownloadResult result = fetch(scenario_.nginxUrl(L"main.zip"), progress.recorder());
  ASSERT_TRUE(result.ok()) << testing::PrintToString(result.failure.text);
  EXPECT_EQ(result.failure.text, L"");
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

TEST_F(Multipart, CompleteRangeFromAnEarlierCallAsksForNothingAndADamagedStateStartsOver) {
  scenario_.putFile(L"main.zip", body_);
  const PartRange& first = ranges_[0];
  const std::wstring validator = validatorOf(scenario_.nginxUrl(L"main.zip"));
  std::vector<PartState> kept;
  for (const PartRange& range : ranges_) kept.push_back(keptOf(range, 0));
  kept[0].have = first.end + 1;
  keepParts(dest_, body_, kept, validator);
  ProgressLog progress;
  const DownloadResult result = fetch(scenario_.nginxUrl(L"main.zip"), progress.recorder());
  expectOnlyTheFile(result, body_);  // with the kept range's bytes
  for (const auto& request : scenario_.nginxRequests()) {
    EXPECT_NE(request.range, rangeHeader(first));  // the complete range asks for nothing
  }
  EXPECT_EQ(scenario_.nginxRequests().size(), 5u);  // two probes and three ranges
  // Only this call's bytes count: the first range's are not reported again.
  EXPECT_EQ(progress.calls.back().first, body_.size() - (first.end + 1));

  // A state claiming more than its range, another total, or a data file shorter than the kept
  // bytes: nothing of it is trusted, every range is fetched again.
  const std::vector<std::function<void()>> damages = {
      [&] {
        kept[1].have = ranges_[1].end - ranges_[1].start + 2;
        keepParts(dest_, body_, kept, validator);
        kept[1].have = 0;
      },
      [&] {
        keepParts(dest_, body_, kept, validator);
        ASSERT_TRUE(writePartsState(dest_, body_.size() + 1, kept));
      },
      [&] {
        keepParts(dest_, body_, kept, validator);
        writePartial(partsDataPath(dest_), body_.substr(0, first.end), validator);
      },
  };
  for (const auto& damage : damages) {
    const size_t before = scenario_.nginxRequests().size();
    damage();
    expectOnlyTheFile(fetch(scenario_.nginxUrl(L"main.zip")), body_);
    EXPECT_EQ(scenario_.nginxRequests().size() - before, 1u + ranges_.size());  // probe, ranges
  }
}

// An earlier call split the last range, completed its far half and part of the near one, and
// left part of another range: only the missing bytes are asked for, and the digest covers all.
TEST_F(Multipart, SixPartsWithSomeKeptFromAnEarlierCallMergeIntoTheRightDigest) {
  const std::string body = patternBytes(12 * kMiB + 5, 8);
  scenario_.putFile(L"main.zip", body);
  const std::wstring validator = validatorOf(scenario_.nginxUrl(L"main.zip"));
  const auto ranges = partRanges(body.size());
  ASSERT_EQ(ranges.size(), 6u);
  const uint64_t split = 11 * kMiB;
  keepParts(dest_, body,
            {keptOf(ranges[0], 2 * kMiB), keptOf(ranges[1], 0), keptOf(ranges[2], 0), keptOf(ranges[3], 1000),
             keptOf(ranges[4], 0), {ranges[5].start, split - 1, kMiB / 2}, {split, ranges[5].end, ranges[5].end + 1 - split}},
            validator);
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
  const auto ranges = partRanges(body.size());
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
  const std::string body = patternBytes(30 * kMiB, 10);
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
  ASSERT_TRUE(result.ok()) << testing::PrintToString(result.failure.text);
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
  ASSERT_TRUE(once.ok()) << testing::PrintToString(once.failure.text);
  EXPECT_TRUE(readFileBytes(dest_) == body_);

  scenario_.setFaultRules("{\"rules\": [" + rule + "}]}");
  const DownloadResult always = fetch(scenario_.faultUrl(L"main.zip"));
  EXPECT_FALSE(always.ok());
  EXPECT_EQ(always.failure.text, net::kPartsFailed + std::wstring(net::kWrongRange) + kKeptSuffix);
  std::vector<PartState> kept;
  ASSERT_TRUE(readPartsState(dest_, body_.size(), kept));
  ASSERT_EQ(kept.size(), ranges_.size());
  EXPECT_EQ(kept[2].have, 0u);  // the shifted bytes are not kept
}

TEST_F(Multipart, BodyRunningPastItsRangeIsCutAtTheRangeEnd) {
  scenario_.putFile(L"main.zip", body_);
  scenario_.setFaultRules(R"({"rules": [{"when": {"range_start": 0, "range_end": 2097151}, "extra_bytes": 4096}]})");
  const DownloadResult result = fetch(scenario_.faultUrl(L"main.zip"));
  ASSERT_TRUE(result.ok()) << testing::PrintToString(result.failure.text);
  EXPECT_TRUE(readFileBytes(dest_) == body_);
}

TEST_F(Multipart, PartFailingThreeTimesKeepsEveryRangeAndTheNextCallFetchesTheRest) {
  scenario_.putFile(L"main.zip", body_);
  const PartRange& broken = ranges_[1];
  scenario_.setFaultRules("{\"rules\": [{\"when\": {\"range_end\": " + std::to_string(broken.end) +
                          "}, \"times\": 3, \"drop_after\": 1000}]}");
  const DownloadResult first = fetch(scenario_.faultUrl(L"main.zip"));
  EXPECT_FALSE(first.ok());
  EXPECT_FALSE(first.cancelled());
  EXPECT_EQ(first.failure.text, net::kPartsFailed + std::wstring(net::kPartIncomplete) + kKeptSuffix);
  std::vector<PartState> kept;
  ASSERT_TRUE(readPartsState(dest_, body_.size(), kept));
  ASSERT_EQ(kept.size(), ranges_.size());
  for (size_t i = 0; i < kept.size(); ++i) {
    EXPECT_EQ(kept[i].have, i == 1 ? 3000 : ranges_[i].end - ranges_[i].start + 1) << i;
  }
  EXPECT_EQ(readFileBytes(partsDataPath(dest_)).substr(broken.start, 3000), body_.substr(broken.start, 3000));
  EXPECT_FALSE(fileExists(dest_));

  const size_t before = scenario_.faultRequests().size();
  const DownloadResult second = fetch(scenario_.faultUrl(L"main.zip"));
  ASSERT_TRUE(second.ok()) << testing::PrintToString(second.failure.text);
  EXPECT_TRUE(readFileBytes(dest_) == body_);
  const auto requests = scenario_.faultRequests();
  ASSERT_EQ(requests.size(), before + 2);  // the probe and the rest of the broken part
  EXPECT_EQ(requests.back().range,
            "bytes=" + std::to_string(broken.start + 3000) + "-" + std::to_string(broken.end));
}

TEST_F(Multipart, RangeNotSatisfiableCostsAnAttemptAndTheThirdGivesUp) {
  scenario_.putFile(L"main.zip", body_);
  const std::string rule = "{\"when\": {\"range_end\": " + std::to_string(ranges_[1].end) + "}, \"status\": 416";
  scenario_.setFaultRules("{\"rules\": [" + rule + ", \"times\": 2}]}");
  const DownloadResult twice = fetch(scenario_.faultUrl(L"main.zip"));
  ASSERT_TRUE(twice.ok()) << testing::PrintToString(twice.failure.text);
  EXPECT_TRUE(readFileBytes(dest_) == body_);

  scenario_.setFaultRules("{\"rules\": [" + rule + "}]}");
  const size_t before = scenario_.faultRequests().size();
  const DownloadResult always = fetch(scenario_.faultUrl(L"main.zip"));
  EXPECT_FALSE(always.ok());
  EXPECT_EQ(always.failure.text, net::kPartsFailed + (net::kPartBadStatus + std::wstring(L"416")) + kKeptSuffix);
  const auto requests = scenario_.faultRequests();
  const std::string asked = "-" + std::to_string(ranges_[1].end);
  size_t refused = 0;
  for (size_t i = before; i < requests.size(); ++i) {
    if (requests[i].range.size() > asked.size() &&
        requests[i].range.compare(requests[i].range.size() - asked.size(), asked.size(), asked) == 0) {
      ++refused;
    }
  }
  EXPECT_EQ(refused, 3u);
}

TEST_F(Multipart, UnexpectedStatusOfAPartAbortsTheOthers) {
  scenario_.putFile(L"main.zip", body_);
  scenario_.setFaultRules("{\"rules\": [{\"when\": {\"range_start\": 0}, \"status\": 403}]}");
  const DownloadResult result = fetch(scenario_.faultUrl(L"main.zip"));
  EXPECT_FALSE(result.ok());
  EXPECT_EQ(result.failure.text, net::kPartsFailed + (net::kPartBadStatus + std::wstring(L"403")) + kKeptSuffix);
}

TEST_F(Multipart, ThePartThatFailedIsReportedNotAnEarlierOneItStopped) {
  scenario_.putFile(L"main.zip", body_);
  // Parts deliver slowly, and the last one is refused: the first part, stopped by the abort
  // without a message of its own, has nothing to say.
  scenario_.setFaultRules("{\"rules\": [{\"when\": {\"range_end\": " +
                          std::to_string(ranges_[3].end) +
                          "}, \"status\": 500}, {\"chunk\": [65536, 0.05]}]}");
  const DownloadResult result = fetch(scenario_.faultUrl(L"main.zip"));
  EXPECT_FALSE(result.ok());
  EXPECT_EQ(result.failure.text, net::kPartsFailed + (net::kPartBadStatus + std::wstring(L"500")) + kKeptSuffix);
}

TEST_F(Multipart, RefusedConnectionsAreRetriedThenReported) {
  HttpConnection connection;
  connect(connection, net_tests::refusedUrl(L"/main.zip"));
  const DownloadResult result = downloadMultipart(connection, 8 * kMiB, L"", dest_, {}, nullptr);
  EXPECT_FALSE(result.ok());
  EXPECT_TRUE(startsWith(result.failure.text, net::kPartsFailed + (net::kConnectFailed + std::wstring(net::kReasonOpen))))
      << testing::PrintToString(result.failure.text);
}

TEST_F(Multipart, RequestHandleFailureIsReported) {
  HttpConnection unopened;
  const DownloadResult result = downloadMultipart(unopened, 8 * kMiB, L"", dest_, {}, nullptr);
  EXPECT_FALSE(result.ok());
  // Whichever part was first to fail, the first in order has either the message or nothing.
  EXPECT_TRUE(startsWith(result.failure.text, net::kPartsFailed + (net::kRequestFailed + std::wstring(net::kReasonOpen))) ||
              result.failure.text == net::kPartsFailed + std::wstring(net::kUnknownError) + kKeptSuffix)
      << testing::PrintToString(result.failure.text);
}

TEST_F(Multipart, UnwritableDataFileNamesItsPath) {
  scenario_.putFile(L"main.zip", body_);
  ASSERT_TRUE(util::createDirectories(partsDataPath(dest_)));  // a folder in the data file's place
  const DownloadResult result = fetch(scenario_.nginxUrl(L"main.zip"));
  EXPECT_FALSE(result.ok());
  EXPECT_TRUE(startsWith(result.failure.text, net::kPartsFailed + std::wstring(net::kCannotWritePart) + partsDataPath(dest_) + net::kReasonOpen))
      << testing::PrintToString(result.failure.text);
}

TEST_F(Multipart, FailedWriteOfAPartAbortsTheDownload) {
  scenario_.putFile(L"main.zip", body_);
  HttpConnection connection;
  connect(connection, scenario_.nginxUrl(L"main.zip"));
  const std::wstring dest = testing_support::fullDiskDestination();
  const DownloadResult result = downloadMultipart(connection, body_.size(), L"", dest, {}, nullptr);
  util::deleteFileForce(partsStatePath(dest));  // kept for a resume
  EXPECT_FALSE(result.ok());
  EXPECT_TRUE(startsWith(result.failure.text, net::kPartsFailed + (net::kDiskWriteFailed + std::wstring(net::kReasonOpen))))
      << testing::PrintToString(result.failure.text);
}

TEST_F(Multipart, DataFileOfAnotherSizeIsRefusedAndNotKept) {
  scenario_.putFile(L"main.zip", body_);
  // Once everything has arrived, a byte is appended to the data file.
  const ByteProgress growTheDataFile = [&](uint64_t done, uint64_t total) {
    if (done < total) return true;
    util::FileHandle file(CreateFileW(partsDataPath(dest_).c_str(), FILE_APPEND_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    EXPECT_TRUE(file && WriteFile(file.get(), "!", 1, &written, nullptr));
    return true;
  };
  const DownloadResult result = fetch(scenario_.nginxUrl(L"main.zip"), growTheDataFile);
  EXPECT_FALSE(result.ok());
  EXPECT_EQ(result.failure.text,
            net::withReason(net::kMergedSizeWrong,
                            std::to_wstring(body_.size() + 1) + net::kNotEqual + std::to_wstring(body_.size())));
  EXPECT_TRUE(filesIn(dir_.path()).empty());
}

TEST_F(Multipart, FailedRenameKeepsTheCompleteDataFileForTheNextCall) {
  scenario_.putFile(L"main.zip", body_);
  ASSERT_TRUE(util::createDirectories(dest_));
  net_tests::writeBytes(dest_ + L"\\inside.txt", "x");
  const DownloadResult result = fetch(scenario_.nginxUrl(L"main.zip"));
  EXPECT_FALSE(result.ok());
  EXPECT_TRUE(startsWith(result.failure.text, std::wstring(net::kRenameFailed) + net::kReasonOpen))
      << testing::PrintToString(result.failure.text);
  EXPECT_TRUE(readFileBytes(partsDataPath(dest_)) == body_);

  ASSERT_TRUE(util::deleteDirRecursive(dest_));
  const size_t before = scenario_.nginxRequests().size();
  expectOnlyTheFile(fetch(scenario_.nginxUrl(L"main.zip")), body_);
  EXPECT_EQ(scenario_.nginxRequests().size() - before, 1u);  // the probe; the kept bytes are complete
}

TEST_F(Multipart, CancelEventRemovesTheDataFile) {
  scenario_.putFile(L"main.zip", body_);
  util::Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  const ByteProgress setEventAfterAMegabyte = [&](uint64_t done, uint64_t) {
    if (done >= kMiB) SetEvent(event.get());
    return true;
  };
  const DownloadResult result =
      fetch(scenario_.nginxUrl(L"main.zip?rate=4m"), setEventAfterAMegabyte, event.get());
  EXPECT_FALSE(result.ok());
  EXPECT_TRUE(result.cancelled());
  EXPECT_EQ(result.failure.text, util::kCancelledText);
  EXPECT_TRUE(filesIn(dir_.path()).empty());
}

TEST_F(Multipart, ProgressReturningFalseRemovesTheDataFile) {
  scenario_.putFile(L"main.zip", body_);
  const DownloadResult result = fetch(scenario_.nginxUrl(L"main.zip?rate=4m"),
                                      [](uint64_t done, uint64_t) { return done < kMiB; });
  EXPECT_TRUE(result.cancelled());
  EXPECT_EQ(result.failure.text, util::kCancelledText);
  EXPECT_TRUE(filesIn(dir_.path()).empty());
}

}  // namespace
