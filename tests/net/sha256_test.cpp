#include "net/sha256.h"

#include "net_test_helpers.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

using testing_support::TempDir;

namespace {

TEST(Sha256File, EmptyFileGivesTheDigestOfNothingWithoutProgress) {
  TempDir dir;
  net_tests::writeBytes(dir / L"empty", "");
  net_tests::ProgressLog progress;
  std::string digest;
  ASSERT_TRUE(sha256File(dir / L"empty", digest, nullptr, progress.recorder()));
  EXPECT_EQ(digest, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_TRUE(progress.calls.empty());
}

TEST(Sha256File, OneMebibyteIsOneBlockAndOneProgressCall) {
  TempDir dir;
  net_tests::writeBytes(dir / L"zeros", std::string(1048576, '\0'));
  net_tests::ProgressLog progress;
  std::string digest;
  util::Failure failure = util::failure(util::FailureKind::kRefused, L"untouched");
  ASSERT_TRUE(sha256File(dir / L"zeros", digest, &failure, progress.recorder()));
  EXPECT_EQ(digest, "30e14955ebf1352266dc2ff8067e68104607e750abb9d3b36582b8af909fcb58");
  EXPECT_EQ(failure.text, L"untouched");
  EXPECT_EQ(progress.calls,
            (std::vector<std::pair<uint64_t, uint64_t>>{{1048576, 1048576}}));
}

TEST(Sha256File, ShortInputMatchesTheKnownDigest) {
  TempDir dir;
  net_tests::writeBytes(dir / L"abc", "abc");
  std::string digest;
  ASSERT_TRUE(sha256File(dir / L"abc", digest, nullptr, {}));
  EXPECT_EQ(digest, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Sha256File, MissingFileNamesThePathAndGivesNoDigest) {
  TempDir dir;
  const std::wstring path = dir / L"missing.zip";
  std::string digest = "unchanged";
  util::Failure failure;
  EXPECT_FALSE(sha256File(path, digest, &failure, {}));
  EXPECT_EQ(digest, "unchanged");
  EXPECT_EQ(failure.kind, util::FailureKind::kDisk);
  EXPECT_EQ(failure.text.rfind(net::kCannotOpenFile + path + net::kReasonOpen, 0), 0u)
      << testing::PrintToString(failure.text);
  EXPECT_EQ(failure.text.back(), net::kReasonClose[0]);
  EXPECT_FALSE(sha256File(path, digest, nullptr, {}));  // no text asked for, none produced
}

TEST(Sha256File, CallbackReturningFalseStopsAfterTheFirstBlock) {
  TempDir dir;
  net_tests::writeBytes(dir / L"big", std::string(3 * 1048576, 'a'));
  int calls = 0;
  std::string digest;
  util::Failure failure;
  EXPECT_FALSE(sha256File(dir / L"big", digest, &failure, [&](uint64_t done, uint64_t total) {
    ++calls;
    EXPECT_EQ(done, 1048576u);
    EXPECT_EQ(total, 3u * 1048576);
    return false;
  }));
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(failure.cancelled());
  EXPECT_EQ(failure.text, util::kCancelledText);
  EXPECT_TRUE(digest.empty());
}

}  // namespace

// The processor's path (where the machine has it) against the platform's, at every length
// around the block and padding boundaries, added in pieces of every shape.
TEST(Sha256, BothEnginesAgreeAtEveryLengthAndSplit) {
  std::string data;
  for (int i = 0; i < 300; ++i) data += static_cast<char>((i * 131 + 7) & 0xFF);
  for (size_t length = 0; length <= data.size(); ++length) {
    Sha256 platform;
    ASSERT_TRUE(platform.begin(Sha256::Engine::kPlatform));
    platform.add(data.data(), length);
    const std::string expected = platform.finish();
    for (size_t piece : {size_t{1}, size_t{63}, size_t{64}, size_t{65}, size_t{1000}}) {
      Sha256 fastest;
      ASSERT_TRUE(fastest.begin());
      for (size_t at = 0; at < length; at += piece) fastest.add(data.data() + at, std::min(piece, length - at));
      ASSERT_EQ(fastest.finish(), expected) << "length " << length << " piece " << piece;
    }
  }
  EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}
