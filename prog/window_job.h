// A job run on a thread of its own for a window: its reports become posted job messages, and its
// end always reaches the window.
#pragma once

#include "prog/job.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <thread>

namespace prog {

// Turns sink calls into posted job messages. A download reports every few kilobytes, far more
// often than a window can redraw; posting each report floods the window's queue, the window
// falls behind and the job crawls. Intermediate reports are therefore posted at most every
// 50 ms; the first and the last of a step (a new stage, a new package, counters at 0 or at
// their total) always go through.
class WindowSink final : public JobSink {
 public:
  explicit WindowSink(HWND window) : window_(window) {}
  void status(const std::wstring& line) override;
  void progress(uint64_t done, uint64_t total) override;
  void package(const TotalInfo& total) override;

 private:
  class Throttle {
   public:
    bool due(bool force);

   private:
    uint64_t lastMs_ = 0;
    bool started_ = false;
  };

  HWND window_;
  Throttle status_;
  Throttle progress_;
  Throttle package_;
  uint64_t lastPackageIndex_ = 0;
};

using JobBody = std::function<JobResult(JobSink& sink)>;

// One job at a time. The window starts it, gets WM_JOB_DONE when it has ended (posted again and
// again while the queue is full, so it is never lost while the window lives) and then takes the
// result with finish().
class WindowJob {
 public:
  WindowJob() = default;
  WindowJob(const WindowJob&) = delete;
  WindowJob& operator=(const WindowJob&) = delete;
  ~WindowJob();  // waits for a job still running

  // False when no thread could be started; the job then never ran.
  [[nodiscard]] bool start(HWND window, JobBody body);
  bool running() const { return thread_.joinable(); }
  // Waits for the job's thread (it has ended or is about to) and returns its result.
  JobResult finish();

 private:
  std::thread thread_;
  std::shared_ptr<JobResult> result_;
};

}  // namespace prog
