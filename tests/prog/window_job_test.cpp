// The window side of a job: the throttled sink and the end that always arrives. The window is a
// message-only window of the test thread, which pumps only when the test says so.
#include "prog/job_messages.h"
#include "prog/window_job.h"
#include "util/payload.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

class WindowJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window_, nullptr);
  }
  void TearDown() override {
    prog::freeQueuedJobPayloads(window_);
    DestroyWindow(window_);
  }

  // Pumps until WM_JOB_DONE (true) or ten seconds have passed; counts the progress messages.
  bool pumpUntilDone() {
    const ULONGLONG deadline = GetTickCount64() + 10000;
    MSG msg;
    while (GetTickCount64() < deadline) {
      if (!PeekMessageW(&msg, window_, 0, 0, PM_REMOVE)) {
        Sleep(5);
        continue;
      }
      switch (msg.message) {
        case prog::WM_JOB_DONE: return true;
        case prog::WM_JOB_PROGRESS: {
          const auto bar = util::takePayload<prog::BarProgress>(msg.lParam);
          progress_.push_back(bar->done);
          break;
        }
        case prog::WM_JOB_STATUS: util::takePayload<std::wstring>(msg.lParam); break;
        case prog::WM_JOB_PACKAGE: util::takePayload<prog::TotalInfo>(msg.lParam); break;
        default: break;
      }
    }
    return false;
  }

  HWND window_ = nullptr;
  std::vector<uint64_t> progress_;
};

TEST_F(WindowJobTest, ProgressIsThrottledButTheFirstAndTheLastOfAStepArrive) {
  prog::WindowJob job;
  ASSERT_TRUE(job.start(window_, [](prog::JobSink& sink) {
    for (uint64_t done = 0; done <= 100000; ++done) sink.progress(done, 100000);
    return prog::JobResult();
  }));
  ASSERT_TRUE(pumpUntilDone());
  EXPECT_TRUE(job.finish().ok());
  ASSERT_GE(progress_.size(), 2u);
  EXPECT_LT(progress_.size(), 1000u);
  EXPECT_EQ(progress_.front(), 0u);
  EXPECT_EQ(progress_.back(), 100000u);
}

TEST_F(WindowJobTest, TheEndReachesAWindowThatDidNotPumpForAWhile) {
  // A queue the window has not emptied: as full as the system lets it be.
  for (int i = 0; i < 20000 && PostMessageW(window_, WM_USER, 0, 0); ++i) {
  }
  prog::WindowJob job;
  ASSERT_TRUE(job.start(window_, [](prog::JobSink& sink) {
    for (int i = 0; i < 100; ++i) sink.status(L"第 " + std::to_wstring(i) + L" 步");
    prog::JobResult result;
    result.mainProgram = L"C:\\app\\Orvalo.exe";
    return result;
  }));
  Sleep(500);
  ASSERT_TRUE(pumpUntilDone());
  const prog::JobResult result = job.finish();
  EXPECT_TRUE(result.ok());
  EXPECT_EQ(result.mainProgram, L"C:\\app\\Orvalo.exe");
}

TEST_F(WindowJobTest, WhatEscapesTheJobEndsItAsAFailure) {
  prog::WindowJob job;
  ASSERT_TRUE(job.start(window_, [](prog::JobSink&) -> prog::JobResult { throw std::runtime_error("boom"); }));
  ASSERT_TRUE(pumpUntilDone());
  const prog::JobResult result = job.finish();
  EXPECT_EQ(result.failure.kind, prog::FailureKind::kInternal);
  EXPECT_EQ(result.failure.text, L"内部错误：boom");
}

}  // namespace
