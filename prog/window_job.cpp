#include "prog/window_job.h"

#include "prog/job_messages.h"
#include "prog/debug_log.h"
#include "prog/texts.h"
#include "util/error_text.h"
#include "util/payload.h"
#include "util/text.h"

#include <exception>
#include <system_error>

namespace prog {
namespace {

constexpr uint64_t kReportIntervalMs = 50;
constexpr DWORD kRepostDelayMs = 50;

// Posts WM_JOB_DONE until it is queued or the window is gone: a full queue empties as the
// window works through it.
void postDone(HWND window) {
  while (!PostMessageW(window, WM_JOB_DONE, 0, 0) && IsWindow(window)) Sleep(kRepostDelayMs);
}

}  // namespace

bool WindowSink::Throttle::due(bool force) {
  const uint64_t now = GetTickCount64();
  if (!force && started_ && now - lastMs_ < kReportIntervalMs) return false;
  started_ = true;
  lastMs_ = now;
  return true;
}

void WindowSink::status(const std::wstring& line) {
  // A line without a percentage starts a stage.
  if (!status_.due(line.find(L'%') == std::wstring::npos)) return;
  util::postPayload(window_, WM_JOB_STATUS, 0, std::make_unique<std::wstring>(line));
}

void WindowSink::progress(uint64_t done, uint64_t total) {
  if (!progress_.due(total == 0 || done == 0 || done >= total)) return;
  util::postPayload(window_, WM_JOB_PROGRESS, 0, std::make_unique<BarProgress>(BarProgress{done, total}));
}

void WindowSink::package(const TotalInfo& total) {
  const bool newPackage = total.index != lastPackageIndex_;
  lastPackageIndex_ = total.index;
  if (!package_.due(newPackage || total.permille >= 1000)) return;
  util::postPayload(window_, WM_JOB_PACKAGE, 0, std::make_unique<TotalInfo>(total));
}

WindowJob::~WindowJob() {
  if (thread_.joinable()) thread_.join();
}

bool WindowJob::start(HWND window, JobBody body) {
  if (thread_.joinable()) return false;
  auto result = std::make_shared<JobResult>();
  try {
    thread_ = std::thread([window, body = std::move(body), result] {
      WindowSink sink(window);
      // Whatever escapes the job ends it as a failure; the window still learns that it ended.
      try {
        *result = body(sink);
      } catch (const std::exception& e) {
        appendDebugLog(std::string("[job] internal error: ") + e.what());
        *result = jobFailed(FailureKind::kInternal, internalErrorText(e.what()));
      } catch (...) {
        *result = jobFailed(FailureKind::kInternal, kInternalError);
      }
      postDone(window);
    });
  } catch (const std::system_error&) {
    return false;
  }
  result_ = std::move(result);
  return true;
}

JobResult WindowJob::finish() {
  if (thread_.joinable()) thread_.join();
  JobResult result = result_ ? std::move(*result_) : jobFailed(FailureKind::kInternal, kUnknownError);
  result_.reset();
  return result;
}

void freeQueuedJobPayloads(HWND window) {
  MSG msg;
  while (PeekMessageW(&msg, window, WM_JOB_FIRST, WM_JOB_LAST, PM_REMOVE)) {
    switch (msg.message) {
      case WM_JOB_STATUS: util::takePayload<std::wstring>(msg.lParam); break;
      case WM_JOB_PROGRESS: util::takePayload<BarProgress>(msg.lParam); break;
      case WM_JOB_PACKAGE: util::takePayload<TotalInfo>(msg.lParam); break;
      default: break;
    }
  }
}

}  // namespace prog
