#include "net/download.h"

#include "net/texts.h"
#include "net_test_helpers.h"
#include "support/temp_dir.h"
#include "support/test_servers.h"
#include "util/files.h"
#include "util/handles.h"

#include <gtest/gtest.h>

#include <thread>

#include <windows.h>

using namespace net_tests;
using namespace testing_support;

namespace {

constexpr size_t kThreshold = 8388608;

std::vector<std::string> rangesAsked(const std::vector<testing_support::LoggedRequest>& requests) {
  std::vector<std::string> ranges;
  for (const auto& request : requests) ranges.push_back(request.range);
  std::sort(ranges.begin(), ranges.end());
  return ranges;
}

class DownloadFile : public ::testing::Test {
 protected:
  ServerScenario scenario_;
  TempDir dir_;
  const std::wstring dest_ = dir_ / L"pkg.zip";
};

TEST_F(DownloadFile, EightMegabytesAreFetchedInFourParts) {
  const std::string body = patternBytes(kThreshold, 3);
  scenario_.putFile(L"pkg.zip", body);
  const DownloadResult result = downloadFile(scenario_.faultUrl(L"pkg.zip"), dest_, {}, nullptr);
  ASSERT_TRUE(result.ok()) << testing::PrintToString(result.failure.text);
  EXPECT_TRUE(readFileBytes(dest_) == body);
  const auto requests = scenario_.faultRequests();
  ASSERT_EQ(requests.size(), 5u);
  EXPECT_EQ(requests[0].range, "bytes=0-0");
  EXPECT_EQ(rangesAsked(requests),
            (std::vector<std::string>{"bytes=0-0", "bytes=0-2097151", "bytes=2097152-4194303",
                                      "bytes=4194304-6291455", "bytes=6291456-8388607"}));
}

TEST_F(DownloadFile, OneByteLessIsASingleStream) {
  const std::string body = patternBytes(kThreshold - 1, 4);
  scenario_.putFile(L"pkg.zip", body);
  const DownloadResult result = downloadFile(scenario_.faultUrl(L"pkg.zip"), dest_, {}, nullptr);
  ASSERT_TRUE(result.ok()) << testing::PrintToString(result.failure.text);
  EXPECT_TRUE(readFileBytes(dest_) == body);
  const auto requests = scenario_.faultRequests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].range, "bytes=0-0");
  EXPECT_EQ(requests[1].range, "-");
}

TEST_F(DownloadFile, ServerWithoutRangesGetsOneStreamWhateverTheSize) {
  const std::string body = patternBytes(kThreshold + 100, 5);
  scenario_.putFile(L"pkg.zip", body);
  scenario_.setFaultRules(R"({"rules": [{"ignore_range": true}]})");
  const DownloadResult result = downloadFile(scenario_.faultUrl(L"pkg.zip"), dest_, {}, nullptr);
  ASSERT_TRUE(result.ok()) << testing::PrintToString(result.failure.text);
  EXPECT_TRUE(readFileBytes(dest_) == body);
  EXPECT_EQ(scenario_.faultRequests().size(), 2u);
}

// What an earlier call left for the other way of downloading (the server then told another size)
// goes once the file is in place.
TEST_F(DownloadFile, LeftoversOfTheOtherWayGoOnceTheFileIsInPlace) {
  const wchar_t* const leftovers[] = {L".part", L".part.validator", L".parts", L".parts.validator", L".parts.state"};
  for (const size_t size : {kThreshold, kThreshold - 1}) {  // in parts, then one stream
    const std::string body = patternBytes(size, 6);
    scenario_.putFile(L"pkg.zip", body);
    for (const wchar_t* suffix : leftovers) ASSERT_TRUE(util::writeFile(dest_ + suffix, "old", 3));
    const DownloadResult result = downloadFile(scenario_.faultUrl(L"pkg.zip"), dest_, {}, nullptr);
    ASSERT_TRUE(result.ok()) << testing::PrintToString(result.failure.text);
    EXPECT_TRUE(readFileBytes(dest_) == body);
    for (const wchar_t* suffix : leftovers) EXPECT_FALSE(fileExists(dest_ + suffix)) << size;
  }
}

TEST_F(DownloadFile, UnsupportedSchemeIsANetworkSetUpFailure) {
  const DownloadResult result = downloadFile(L"ftp://127.0.0.1/pkg.zip", dest_, {}, nullptr);
  EXPECT_FALSE(result.ok());
  EXPECT_FALSE(result.cancelled());
  EXPECT_TRUE(startsWith(result.failure.text, std::wstring(net::kInitFailed) + net::kReasonOpen)) << testing::PrintToString(result.failure.text);
  EXPECT_EQ(result.failure.text.back(), L'）');
  EXPECT_TRUE(filesIn(dir_.path()).empty());
}

TEST_F(DownloadFile, UnreachableServerFailsAtSend) {
  const DownloadResult result = downloadFile(net_tests::refusedUrl(L"/pkg.zip"), dest_, {}, nullptr);
  EXPECT_FALSE(result.ok());
  EXPECT_TRUE(startsWith(result.failure.text, std::wstring(net::kConnectFailed) + net::kReasonOpen)) << testing::PrintToString(result.failure.text);
}

TEST_F(DownloadFile, CancelledThroughTheEventOnBothPaths) {
  for (const size_t size : {kThreshold - 1, kThreshold}) {
    SCOPED_TRACE(size);
    const std::wstring file = L"f" + std::to_wstring(size);
    scenario_.putFile(file, patternBytes(size));
    util::Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const ByteProgress setEvent = [&](uint64_t done, uint64_t) {
      if (done >= 1048576) SetEvent(event.get());
      return true;
    };
    const DownloadResult result =
        downloadFile(scenario_.nginxUrl(file + L"?rate=8m"), dest_, setEvent, event.get());
    EXPECT_TRUE(result.cancelled());
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.failure.text, util::kCancelledText);
    EXPECT_TRUE(filesIn(dir_.path()).empty());
  }
}

// A server that accepts the connection and never answers holds a WinHTTP call for its whole
// time-out; the cancel must not wait for it.
TEST_F(DownloadFile, CancelIsAnsweredAtOnceWhileTheServerKeepsSilent) {
  scenario_.putFile(L"main.zip", patternBytes(1000));
  scenario_.setFaultRules(R"({"rules": [{"silent": 30}]})");
  util::Handle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::thread canceller([&] {
    Sleep(300);
    SetEvent(event.get());
  });
  const ULONGLONG start = GetTickCount64();
  const DownloadResult result = downloadFile(scenario_.faultUrl(L"main.zip"), dest_, {}, event.get());
  const ULONGLONG elapsed = GetTickCount64() - start;
  canceller.join();
  EXPECT_TRUE(result.cancelled());
  EXPECT_EQ(result.failure.text, util::kCancelledText);
  EXPECT_LT(elapsed, 5000u);  // the receive time-out is a minute
  uint64_t size = 0;
  EXPECT_FALSE(queryRemoteSize(scenario_.faultUrl(L"main.zip"), size, event.get()));
}

TEST_F(DownloadFile, CancelledThroughTheCallbackOnBothPaths) {
  for (const size_t size : {kThreshold - 1, kThreshold}) {
    SCOPED_TRACE(size);
    const std::wstring file = L"f" + std::to_wstring(size);
    scenario_.putFile(file, patternBytes(size));
    const DownloadResult result =
        downloadFile(scenario_.nginxUrl(file + L"?rate=8m"), dest_,
                     [](uint64_t done, uint64_t) { return done < 1048576; }, nullptr);
    EXPECT_TRUE(result.cancelled());
    EXPECT_EQ(result.failure.text, util::kCancelledText);
    EXPECT_TRUE(filesIn(dir_.path()).empty());
  }
}

}  // namespace
