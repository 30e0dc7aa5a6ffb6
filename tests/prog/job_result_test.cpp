#include "prog/job.h"

#include <gtest/gtest.h>

namespace {

using prog::FailureKind;

TEST(JobExitCode, EachKindHasTheExitCodeAdministratorsTest) {
  const struct {
    FailureKind kind;
    int code;
  } cases[] = {
      {FailureKind::kNone, prog::kExitDone},           {FailureKind::kRefused, prog::kExitRefused},
      {FailureKind::kInternal, prog::kExitRefused},    {FailureKind::kNetwork, prog::kExitNetwork},
      {FailureKind::kVerification, prog::kExitNetwork}, {FailureKind::kDisk, prog::kExitFileSystem},
      {FailureKind::kCancelled, prog::kExitCancelled},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(prog::exitCodeFor(prog::jobFailed(c.kind, L"x")), c.code) << static_cast<int>(c.kind);
  }
  EXPECT_EQ(prog::exitCodeFor(prog::JobResult()), prog::kExitDone);
}

TEST(JobExitCode, OnlyTheKindDecidesNeverTheText) {
  // A cancel reworded is still a cancel; another failure worded like a cancel is not one.
  const prog::JobResult reworded = prog::jobFailed(FailureKind::kCancelled, L"用户已停止安装");
  EXPECT_TRUE(reworded.cancelled());
  EXPECT_EQ(prog::exitCodeFor(reworded), prog::kExitCancelled);
  const prog::JobResult lookalike = prog::jobFailed(FailureKind::kDisk, util::kCancelledText);
  EXPECT_FALSE(lookalike.cancelled());
  EXPECT_EQ(prog::exitCodeFor(lookalike), prog::kExitFileSystem);
}

TEST(JobExitCode, AStepThatAddsWhatItWasDoingKeepsTheKind) {
  const util::Failure digest = util::prefixed(L"下载主程序失败：", util::failure(FailureKind::kVerification, L"y"));
  EXPECT_EQ(digest.kind, FailureKind::kVerification);
  EXPECT_EQ(digest.text, L"下载主程序失败：y");
  // The user reads a cancel as the bare cancel, whichever step noticed it.
  const util::Failure cancel = util::prefixed(L"下载主程序失败：", util::cancelledFailure());
  EXPECT_TRUE(cancel.cancelled());
  EXPECT_EQ(cancel.text, util::kCancelledText);
  EXPECT_TRUE(util::cancelledOr(true, util::failure(FailureKind::kDisk, L"z")).cancelled());
  EXPECT_EQ(util::cancelledOr(false, util::failure(FailureKind::kDisk, L"z")).kind, FailureKind::kDisk);
}

}  // namespace
