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

// What kind of failure ended a job: an unattended install turns it into its exit code, so each
// failure site says which it is. The windows show the text and ignore the kind.
enum class FailureKind {
  kNone,        // succeeded
  kRefused,     // refused before anything changed
  kNetwork,     // the server: connection, status, manifest, digest
  kFileSystem,  // the disk: folders, extraction, copies, files of the install
  kCancelled,
};

struct JobResult {
  bool ok = false;
  bool cancelled = false;   // never together with ok
  std::wstring failure;     // the failure text when not ok ("已取消" when cancelled)
  std::wstring mainProgram;  // the install's client, when it found one
  FailureKind kind = FailureKind::kNone;
};

inline JobResult jobFailed(std::wstring failure, FailureKind kind = FailureKind::kRefused) {
  JobResult result;
  result.failure = std::move(failure);
  result.kind = kind;
  return result;
}

// Exit codes of the unattended install and removal. Administrators' scripts test them: the
// numbers never change meaning.
enum ExitCode : int {
  kExitDone = 0,        // installed, or removed completely
  kExitRefused = 1,     // refused before anything changed
  kExitNetwork = 2,     // download or verification failure
  kExitFileSystem = 3,  // file-system failure, or a removal that left something behind
  kExitCancelled = 4,
};

inline int exitCodeFor(const JobResult& result) {
  if (result.ok) return kExitDone;
  switch (result.kind) {
    case FailureKind::kNone:
    case FailureKind::kRefused: return kExitRefused;
    case FailureKind::kNetwork: return kExitNetwork;
    case FailureKind::kFileSystem: return kExitFileSystem;
    case FailureKind::kCancelled: return kExitCancelled;
  }
  return kExitRefused;
}

}  // namespace prog
