#include "net/single_stream.h"

#include "net/sha256.h"
#include "net/texts.h"

#include "net_test_helpers.h"
#include "support/temp_dir.h"
#include "support/test_servers.h"
#include "util/files.h"
#include "util/handles.h"

#include <gtest/gtest.h>

#include <windows.h>

using namespace net_tests;
using namespace testing_support;

namespace {

const std::wstring kInterruptedSuffix = net::kReasonClose + std::wstring(net::kResumableSuffix);

class SingleStream : public ::testing::Test {
 protected:
  DownloadResult fetch(const std::wstring& url, const ByteProgress& progress = {},
                       CancelEvent cancel = nullptr) {
    HttpConnection connection;
    connect(connection, url);
    return downloadSingleStream(connection, dest_, progress, cancel);
  }

  ServerScenario scenario_;
  TempDir dir_;
  const std::wstring dest_ = dir_ / L"main.zip";
  const std::wstring part_ = dest_ + L".part";
  const std::string body_ = patternBytes(300000);
};

TEST_F(SingleStream, FetchesIntoThePartialFileAndRenamesItOverAnExistingDestination) {
  scenario_.putFile(L"main.zip", body_);
  net_tests::writeBytes(dest_, "old content");
  ProgressLog progress;
  const DownloadResult result = fetch(scenario_.nginxUrl(L"main.zip"), progress.recorder());
  EXPECT_TRUE(result.ok());
  EXPECT_FALSE(result.cancelled());
  EXPECT_EQ(result.failure.text, L"");
  EXPECT_EQ(readFileBytes(dest_), body_);
  EXPECT_EQ(result.sha256, sha256Hex(body_));
  EXPECT_FALSE(fileExists(part_));
  ASSERT_FALSE(progress.calls.empty());
  EXPECT_EQ(progress.calls.front(), std::make_pair(uint64_t{0}, uint64_t{body_.size()}));
  EXPECT_EQ(progress.calls.back(), std::make_pair(uint64_t{body_.size()}, uint64_t{body_.size()}));
  const auto requests = scenario_.nginxRequests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].range, "-");  // nothing to resume: no range
}

TEST_F(SingleStream, ResumesFromThePartialFileWithAnOpenRange) {
  scenario_.putFile(L"main.zip", body_);
  writePartial(part_, body_.substr(0, 123456), validatorOf(scenario_.nginxUrl(L"main.zip")));
  ProgressLog progress;
  const DownloadResult result = fetch(scenario_.nginxUrl(L"main.zip"), progress.recorder());
  ASSERT_TRUE(result.ok()) << testing::PrintToString(result.failure.text);
  EXPECT_EQ(readFileBytes(dest_), body_);
  ASSERT_EQ(scenario_.nginxRequests().size(), 2u);  // after the probe of the test
  EXPECT_EQ(scenario_.nginxRequests()[1].range, "bytes=123456-");
  EXPECT_EQ(result.sha256, sha256Hex(body_));  // the kept head is in it
  EXPECT_EQ(filesIn(dir_.path()), std::vector<std::wstring>{L"main.zip"});  // no validator left
  ASSERT_FALSE(progress.calls.empty());
  EXPECT_EQ(progress.calls.front(), std::make_pair(uint64_t{123456}, uint64_t{body_.size()}));
}

TEST_F(SingleStream, StartsOverWhenTheServerIgnoresTheRange) {
  scenario_.putFile(L"main.zip", body_);
  scenario_.setFaultRules(R"({"rules": [{"ignore_range": true}]})");
  writePartial(part_, std::string(200000, 'x'), L"\"v1\"");
  ProgressLog progress;
  const DownloadResult result = fetch(scenario_.faultUrl(L"main.zip"), progress.recorder());
  ASSERT_TRUE(result.ok()) << testing::PrintToString(result.failure.text);
  EXPECT_EQ(readFileBytes(dest_), body_);
  EXPECT_EQ(progress.calls.front(), std::make_pair(uint64_t{0}, uint64_t{body_.size()}));
  EXPECT_EQ(scenario_.faultRequests()[0].range, "bytes=200000-");
  EXPECT_EQ(result.sha256, sha256Hex(body_));  // the discarded head is not
}

TEST_F(SingleStream, CompletePartialFileGets416AndIsFetchedOnceMore) {
  scenario_.putFile(L"main.zip", body_);
  writePartial(part_, body_, validatorOf(scenario_.nginxUrl(L"main.zip")));
  const DownloadResult result = fetch(scenario_.nginxUrl(L"main.zip"));
  ASSERT_TRUE(result.ok()) << testing::PrintToString(result.failure.text);
  EXPECT_EQ(readFileBytes(dest_), body_);
  const auto requests = scenario_.nginxRequests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[1].range, "bytes=300000-");
  EXPECT_EQ(requests[2].range, "-");
}

TEST_F(SingleStream, SecondRangeNotSatisfiableIsAnUnexpectedStatus) {
  scenario_.putFile(L"main.zip", body_);
  scenario_.setFaultRules(R"({"rules": [{"status": 416}]})");
  writePartial(part_, "abc", L"\"v1\"");
  const DownloadResult result = fetch(scenario_.faultUrl(L"main.zip"));
  EXPECT_FALSE(result.ok());
  EXPECT_FALSE(result.cancelled());
  EXPECT_EQ(result.failure.text, net::kBadStatus + std::wstring(L"416"));
  EXPECT_EQ(scenario_.faultRequests().size(), 2u);
  EXPECT_TRUE(filesIn(dir_.path()).empty());
}

TEST_F(SingleStream, NotFoundLeavesNothing) {
  const DownloadResult result = fetch(scenario_.nginxUrl(L"absent.zip"));
  EXPECT_FALSE(result.ok());
  EXPECT_EQ(result.failure.text, net::kBadStatus + std::wstring(L"404"));
  EXPECT_TRUE(filesIn(dir_.path()).empty());
}

TEST_F(SingleStream, BodyWithoutLengthEndsWhenTheServerClosesIt) {
  scenario_.putFile(L"main.zip", body_);
  scenario_.setFaultRules(R"({"rules": [{"no_length": true}]})");
  ProgressLog progress;
  const DownloadResult result = fetch(scenario_.faultUrl(L"main.zip"), progress.recorder());
  ASSERT_TRUE(result.ok()) << testing::PrintToString(result.failure.text);
  EXPECT_EQ(readFileBytes(dest_), body_);
  for (const auto& call : progress.calls) EXPECT_EQ(call.second, 0u);
}

// The connection closes in an orderly way after part of a body whose length was stated. WinHTTP
// reports that as the end of the body; the download must not pass it off as a complete file.
TEST_F(SingleStream, ConnectionClosedBeforeTheStatedLengthIsAnInterruptionThatResumes) {
  scenario_.putFile(L"main.zip", body_);
  scenario_.setFaultRules(R"({"rules": [{"times": 1, "drop_after": 100000}]})");
  const DownloadResult first = fetch(scenario_.faultUrl(L"main.zip"));
  EXPECT_FALSE(first.ok());
  EXPECT_FALSE(first.cancelled());
  EXPECT_TRUE(startsWith(first.failure.text, std::wstring(net::kInterrupted) + net::kReasonOpen)) << testing::PrintToString(first.failure.text);
  EXPECT_TRUE(endsWith(first.failure.text, kInterruptedSuffix));
  EXPECT_FALSE(fileExists(dest_));
  EXPECT_EQ(readFileBytes(part_), body_.substr(0, 100000));

  const DownloadResult second = fetch(scenario_.faultUrl(L"main.zip"));
  ASSERT_TRUE(second.ok()) << testing::PrintToString(second.failure.text);
  EXPECT_EQ(readFileBytes(dest_), body_);
  const auto requests = scenario_.faultRequests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].range, "bytes=100000-");
}

// The vendor published a new release at the same address after the first attempt broke off: the
// old head must not be spliced onto the new tail.
TEST_F(SingleStream, ChangedResourceUnderAStalePartialFileGivesTheNewFileByteForByte) {
  scenario_.putFile(L"old.zip", patternBytes(body_.size(), 9));
  scenario_.putFile(L"main.zip", body_);
  scenario_.setFaultRules(R"({"rules": [{"when": {"request": 1}, "serve_file": "old.zip", "drop_after": 100000}]})");
  EXPECT_FALSE(fetch(scenario_.faultUrl(L"main.zip")).ok());
  ASSERT_EQ(readFileBytes(part_).size(), 100000u);
  const DownloadResult result = fetch(scenario_.faultUrl(L"main.zip"));
  ASSERT_TRUE(result.ok()) << testing::PrintToString(result.failure.text);
  EXPECT_TRUE(readFileBytes(dest_) == body_);
  EXPECT_EQ(scenario_.faultRequests()[1].range, "bytes=100000-");  // answered 200: If-Range
}

TEST_F(SingleStream, AnswerForOtherBytesThanAskedStartsTheFileOverOnce) {
  scenario_.putFile(L"main.zip", body_);
  writePartial(part_, body_.substr(0, 5000), validatorOf(scenario_.faultUrl(L"main.zip")));
  scenario_.setFaultRules(R"({"rules": [{"when": {"range_start": 5000}, "shift_range": 1000}]})");
  const DownloadResult result = fetch(scenario_.faultUrl(L"main.zip"));
  ASSERT_TRUE(result.ok()) << testing::PrintToString(result.failure.text);
  EXPECT_TRUE(readFileBytes(dest_) == body_);
  EXPECT_EQ(scenario_.faultRequests().back().range, "-");
}

TEST_F(SingleStream, ConnectionResetMidBodyKeepsWhatArrived) {
  scenario_.putFile(L"main.zip", body_);
  scenario_.setFaultRules(R"({"rules": [{"times": 1, "reset_after": 65536, "stall": 0.2}]})");
  const DownloadResult result = fetch(scenario_.faultUrl(L"main.zip"));
  EXPECT_FALSE(result.ok());
  EXPECT_TRUE(startsWith(result.failure.text, std::wstring(net::kInterrupted) + net::kReasonOpen)) << testing::PrintToString(result.failure.text);
  EXPECT_TRUE(endsWith(result.failure.text, kInterruptedSuffix));
  const std::string kept = readFileBytes(part_);
  EXPECT_LE(kept.size(), 65536u);
  EXPECT_EQ(kept, body_.substr(0, kept.size()));
}

TEST_F(SingleStream, RequestHandleFailureLeavesThePartialFileAsItWas) {
  writePartial(part_, "kept", L"\"v1\"");
  HttpConnection unopened;  // no connect handle: the request cannot be created
  const DownloadResult result = downloadSingleStream(unopened, dest_, {}, nullptr);
  EXPECT_FALSE(result.ok());
  EXPECT_TRUE(startsWith(result.failure.text, std::wstring(net::kRequestFailed) + net::kReasonOpen)) << testing::PrintToString(result.failure.text);
  EXPECT_TRUE(endsWith(result.failure.text, L"）"));
  EXPECT_EQ(readFileBytes(part_), "kept");
}

TEST_F(SingleStream, RefusedConnectionIsAConnectFailure) {
  writePartial(part_, "kept", L"\"v1\"");
  const DownloadResult result = fetch(net_tests::refusedUrl(L"/main.zip"));
  EXPECT_FALSE(result.ok());
  EXPECT_TRUE(startsWith(result.failure.text, std::wstring(net::kConnectFailed) + net::kReasonOpen)) << testing::PrintToString(result.failure.text);
  EXPECT_TRUE(endsWith(result.failure.text, L"）"));
  EXPECT_EQ(readFileBytes(part_), "kept");
}

TEST_F(SingleStream, UnwritablePartialFileNamesItsPath) {
  scenario_.putFile(L"main.zip", body_);
  HttpConnection connection;
  connect(connection, scenario_.nginxUrl(L"main.zip"));
  const std::wstring dest = dir_ / L"missing-folder\\main.zip";
  const DownloadResult result = downloadSingleStream(connection, dest, {}, nullptr);
  EXPECT_FALSE(result.ok());
  EXPECT_TRUE(startsWith(result.failure.text, net::kCannotWriteFile + dest + L".part" + std::wstring(net::kReasonOpen)))
      << testing::PrintToString(result.failure.text);
  EXPECT_TRUE(endsWith(result.failure.text, L"）"));
}

TEST_F(SingleStream, FailedWriteIsADiskFailure) {
  scenario_.putFile(L"main.zip", body_);
  HttpConnection connection;
  connect(connection, scenario_.nginxUrl(L"main.zip"));
  const std::wstring dest = testing_support::fullDiskDestination();
  const DownloadResult result = downloadSingleStream(connection, dest, {}, nullptr);
  EXPECT_FALSE(result.ok());
  EXPECT_FALSE(result.cancelled());
  EXPECT_TRUE(startsWith(result.failure.text, std::wstring(net::kDiskWriteFailed) + net::kReasonOpen)) << testing::PrintToString(result.failure.text);
  EXPECT_TRUE(endsWith(result.failure.text, L"）"));
}

TEST_F(SingleStream, FailedRenameKeepsTheCompletePartialFile) {
  scenario_.putFile(L"main.zip", body_);
  ASSERT_TRUE(util::createDirectories(dest_));  // a folder where the file should go
  net_tests::writeBytes(dest_ + L"\\inside.txt", "x");
  const DownloadResult result = fetch(scenario_.nginxUrl(L"main.zip"));
  EXPECT_FALSE(result.ok());
  EXPECT_TRUE(startsWith(result.failure.text, std::wstring(net::kRenameFailed) + net::kReasonOpen)) << testing::PrintToString(result.failure.text);
  EXPECT_TRUE(endsWith(result.failure.text, L"）"));
  EXPECT_EQ(readFileBytes(part_), body_);
}

TEST_F(SingleStream, CancelEventStopsTheTransferAndRemovesThePartialFile) {
  scenario_.putFile(L"main.zip", body_);
  scenario_.setFaultRules(R"({"rules": [{"chunk": [16384, 0.02]}]})");
  util::Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ProgressLog progress;
  const ByteProgress setOnFirstBytes = [&](uint64_t done, uint64_t total) {
    progress.calls.emplace_back(done, total);
    if (done > 0) SetEvent(event.get());
    return true;
  };
  const DownloadResult result = fetch(scenario_.faultUrl(L"main.zip"), setOnFirstBytes, event.get());
  EXPECT_FALSE(result.ok());
  EXPECT_TRUE(result.cancelled());
  EXPECT_EQ(result.failure.text, util::kCancelledText);
  EXPECT_FALSE(fileExists(part_));
  EXPECT_FALSE(fileExists(dest_));
  EXPECT_LT(progress.calls.back().first, body_.size());
}

TEST_F(SingleStream, ProgressReturningFalseCancelsBeforeTheBody) {
  scenario_.putFile(L"main.zip", body_);
  writePartial(part_, body_.substr(0, 5000), validatorOf(scenario_.nginxUrl(L"main.zip")));
  const DownloadResult result =
      fetch(scenario_.nginxUrl(L"main.zip"), [](uint64_t, uint64_t) { return false; });
  EXPECT_TRUE(result.cancelled());
  EXPECT_FALSE(result.ok());
  EXPECT_EQ(result.failure.text, util::kCancelledText);
  EXPECT_FALSE(fileExists(part_));
}

}  // namespace
