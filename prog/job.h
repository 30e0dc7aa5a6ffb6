// What a long job (the install, the upgrade) reports while it runs and what it ends with. The
// jobs know no window: whoever runs one hands it a sink, a window adapter or a log.
#pragma once

#include "util/failure.h"

#include <cstdint>
#include <string>
#include <utility>

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
  // A line for the record only, never shown as progress (where a package came from).
  virtual void note(const std::wstring& line) { (void)line; }
  // The status line, counters included.
  virtual void status(const std::wstring& line) = 0;
  // The counters of the current step (total 0: no measure).
  virtual void progress(uint64_t done, uint64_t total) = 0;
  // The whole job's position.
  virtual void package(const TotalInfo& total) = 0;
};

// What ended a job: no failure, or one whose kind an unattended install turns into its exit code.
// The windows show the text and ignore the kind.
using FailureKind = util::FailureKind;

struct JobResult {
  util::Failure failure;     // none when the job succeeded
  std::wstring mainProgram;  // the install's client, when it found one

  bool ok() const { return !failure; }
  bool cancelled() const { return failure.cancelled(); }
};

inline JobResult jobFailed(util::Failure failure) {
  JobResult result;
  result.failure = std::move(failure);
  return result;
}

inline JobResult jobFailed(FailureKind kind, std::wstring text) {
  return jobFailed(util::failure(kind, std::move(text)));
}

// Exit codes of the unattended install and removal. Administrators' scripts test them: the
// numbers never change meaning.
enum ExitCode : int {
  kExitDone = 0,        // installed, or removed completely
  kExitRefused = 1,     // refused before anything changed, or the program's own failure
  kExitNetwork = 2,     // download or verification failure
  kExitFileSystem = 3,  // file-system failure, or a removal that left something behind
  kExitCancelled = 4,
};

// The exit code of a failure of that kind; only the kind decides it, never the text.
constexpr int exitCodeFor(FailureKind kind) {
  switch (kind) {
    case FailureKind::kNone: return kExitDone;
    case FailureKind::kCancelled: return kExitCancelled;
    case FailureKind::kNetwork:
    case FailureKind::kVerification: return kExitNetwork;
    case FailureKind::kDisk: return kExitFileSystem;
    case FailureKind::kRefused:
    case FailureKind::kInternal: return kExitRefused;
  }
  return kExitRefused;
}

inline int exitCodeFor(const JobResult& result) { return exitCodeFor(result.failure.kind); }

}  // namespace prog
