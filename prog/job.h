// What a long job (the install, the upgrade) reports while it runs and what it ends with. The
// jobs know no window: whoever runs one hands it a sink, a window adapter or a log.
#pragma once

#include <cstdint>
#include <string>

namespace prog {

// Position of the whole job.
struct TotalInfo {
  uint64_t index = 0;    // 1-based number of the package being worked on
  uint64_t count = 0;    // packages in the job
  int32_t permille = 0;  // 0 to 1000
};

// Called on the job's thread, one call at a time; each call only hands data over.
class JobSink {
 public:
  virtual ~JobSink() = default;
  // A new stage begins (its text without counters).
  virtual void stage(const std::wstring& text) { (void)text; }
  // The status line, counters included.
  virtual void status(const std::wstring& line) = 0;
  // The counters of the current step (total 0: no measure).
  virtual void progress(uint64_t done, uint64_t total) = 0;
  // The whole job's position.
  virtual void package(const TotalInfo& total) = 0;
};

struct JobResult {
  bool ok = false;
  bool cancelled = false;   // never together with ok
  std::wstring failure;     // the failure text when not ok ("已取消" when cancelled)
  std::wstring mainProgram;  // the install's client, when it found one
};

inline JobResult jobFailed(std::wstring failure) {
  JobResult result;
  result.failure = std::move(failure);
  return result;
}

}  // namespace prog
