// A file with several sources: which one is given up for the next, and a download in parts that
// takes pieces from two servers at once and finishes on one when the other fails half-way.
#include "net/download.h"
#include "net/multipart.h"
#include "net/sha256.h"

#include "net_test_helpers.h"
#include "support/temp_dir.h"
#include "support/test_servers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace net_tests;
using namespace testing_support;

namespace {

constexpr uint64_t kMiB = 1048576;

class Mirrors : public ::testing::Test {
 protected:
  DownloadResult fetch(const std::vector<std::wstring>& sources, const std::string& expected, size_t& used) {
    return downloadFromSources(sources, expected, dest_, {}, nullptr, &used);
  }
  void expectTheFile(const DownloadResult& result, const std::string& body) {
    ASSERT_TRUE(result.ok()) << testing::PrintToString(result.failure.text);
    EXPECT_EQ(result.sha256, sha256Hex(body));
    EXPECT_EQ(filesIn(dir_.path()), std::vector<std::wstring>{L"pkg.zip"});
  }

  ServerScenario scenario_;
  TempDir dir_;
  const std::wstring dest_ = dir_ / L"pkg.zip";
};

TEST_F(Mirrors, UnreachableAndErrorAnsweringSourcesAreGivenUpForTheNext) {
  const std::string body = patternBytes(300000, 3);
  scenario_.putFile(L"pkg.zip", body);
  size_t used = 9;
  const DownloadResult result = fetch(
      {refusedUrl(L"/pkg.zip"), scenario_.nginxUrl(L"missing.zip"), scenario_.faultUrl(L"pkg.zip")}, {}, used);
  expectTheFile(result, body);
  EXPECT_EQ(used, 2u);

  // With no source left, the last one's failure is the call's.
  const DownloadResult none = fetch({refusedUrl(L"/pkg.zip"), scenario_.nginxUrl(L"missing.zip")}, {}, used);
  EXPECT_FALSE(none.ok());
  EXPECT_NE(none.failure.text.find(L"404"), std::wstring::npos) << testing::PrintToString(none.failure.text);
  EXPECT_EQ(used, 1u);
}

TEST_F(Mirrors, OtherBytesAreRefusedForTheNextSourceAndTheLastOnesAreLeftToTheCaller) {
  const std::string body = patternBytes(300000, 4);
  const std::string other = patternBytes(300000, 5);
  scenario_.putFile(L"pkg.zip", body);
  scenario_.putFile(L"other.zip", other);
  size_t used = 9;
  expectTheFile(fetch({scenario_.nginxUrl(L"other.zip"), scenario_.faultUrl(L"pkg.zip")}, sha256Hex(body), used),
                body);
  EXPECT_EQ(used, 1u);

  // The caller refuses it by its digest, as it would from a single source.
  const DownloadResult last =
      fetch({scenario_.nginxUrl(L"other.zip"), scenario_.faultUrl(L"other.zip")}, sha256Hex(body), used);
  ASSERT_TRUE(last.ok());
  EXPECT_EQ(last.sha256, sha256Hex(other));
  EXPECT_EQ(used, 1u);
}

// The part threads start on both servers in turn; every piece the mirror is asked for but the
// probe and the first of a part breaks off half-way, so each of its threads gives it up after its
// retries and the first source finishes their parts.
TEST_F(Mirrors, PartsTakePiecesFromEverySourceAndFinishOnOneWhenTheOtherFailsHalfWay) {
  const std::string body = patternBytes(30 * kMiB, 6);
  scenario_.putFile(L"pkg.zip", body);
  const std::vector<PartRange> ranges = partRanges(body.size());
  const auto firstPiece = [&ranges](size_t part) {
    return "bytes=" + std::to_string(ranges[part].start) + "-" +
           std::to_string(pieceEnd(ranges[part].start, ranges[part].end));
  };
  std::string rules = "{\"rules\": [{\"when\": {\"range\": \"bytes=0-0\"}}";
  for (size_t part = 0; part < ranges.size(); ++part) rules += ", {\"when\": {\"range\": \"" + firstPiece(part) + "\"}}";
  scenario_.setFaultRules(rules + ", {\"drop_after\": 100000}]}");
  size_t used = 9;
  const DownloadResult result =
      fetch({scenario_.nginxUrl(L"pkg.zip"), scenario_.faultUrl(L"pkg.zip")}, sha256Hex(body), used);
  expectTheFile(result, body);
  EXPECT_EQ(used, 0u);

  const std::vector<LoggedRequest> mirror = scenario_.faultRequests();
  ASSERT_GE(mirror.size(), 4u + 3u) << "the probe, three whole pieces and at least one part's three attempts";
  // Half of the parts began on the mirror: each first piece was asked once, of one server.
  const std::vector<LoggedRequest> main = scenario_.nginxRequests();
  size_t fromMirror = 0;
  for (size_t part = 0; part < ranges.size(); ++part) {
    const std::string first = firstPiece(part);
    const auto askedFor = [&first](const LoggedRequest& request) { return request.range == first; };
    const auto onMirror = std::count_if(mirror.begin(), mirror.end(), askedFor);
    EXPECT_EQ(onMirror + std::count_if(main.begin(), main.end(), askedFor), 1) << first;
    fromMirror += static_cast<size_t>(onMirror);
  }
  EXPECT_EQ(fromMirror, ranges.size() / 2);
}

}  // namespace
