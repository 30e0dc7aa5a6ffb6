// The progress reporter of the install and upgrade jobs: turns "which stage, how far, which
// package" into a status line, the current step's counters and the whole job's position, each
// handed to a sink that the job's owner supplies (usually posting a window message).
#pragma once

#include "prog/job.h"

#include <cstdint>
#include <functional>
#include <string>

namespace prog {

// Phases of one package; each owns a fixed share of the package's progress.
enum Phase : int32_t {
  kPhaseNone = -1,
  kPhaseDownload = 0,
  kPhaseVerify = 1,
  kPhaseExtract = 2,
  kPhaseOverwrite = 3,
};

using StatusSink = std::function<void(const std::wstring& line)>;
using CountsSink = std::function<void(uint64_t done, uint64_t total)>;
using TotalSink = std::function<void(const TotalInfo& total)>;

// Not thread-safe: a job drives it from one thread at a time (a multi-part download calls in
// under its own progress lock). Sinks run on the calling thread and must only hand data over.
class Reporter {
 public:
  Reporter(StatusSink statusSink, CountsSink countsSink, TotalSink totalSink);
  // Reports to the job's sink, which also learns of each new stage.
  explicit Reporter(JobSink& sink);

  // A new stage without counters; phase is one of Phase (kPhaseNone outside a package).
  void setStage(const std::wstring& text, int32_t phase);
  // Counters of the current stage; withSizes appends them as sizes to the line (bytes).
  void setCounts(uint64_t done, uint64_t total, bool withSizes);
  // Starts package packageIndex (0-based) of packageCount. With weights, the overall position
  // is weighted by them; with totalWeight or packageWeight 0, every package counts the same.
  void setPackage(uint64_t packageIndex, uint64_t packageCount, uint64_t packageWeight,
                  uint64_t doneWeight, uint64_t totalWeight);

  // Sends the status line when it changed, always the counters, and the overall position while
  // a package phase is measured.
  void emit();
  // Sends the overall position (nothing without a package sequence).
  void emitTotal();

  // A line for the job sink's record only (nothing without a job sink).
  void note(const std::wstring& line);

  const std::wstring& lastLine() const { return lastLine_; }

 private:
  std::wstring composeLine() const;

  StatusSink statusSink_;
  CountsSink countsSink_;
  TotalSink totalSink_;
  JobSink* stageSink_ = nullptr;
  std::wstring stageText_;
  int32_t phase_ = kPhaseNone;
  bool noCounts_ = true;
  bool showSizes_ = false;
  uint64_t done_ = 0;
  uint64_t total_ = 0;
  uint64_t packageIndex_ = 0;
  uint64_t packageCount_ = 0;
  uint64_t packageWeight_ = 0;
  uint64_t doneWeight_ = 0;
  uint64_t totalWeight_ = 0;
  uint64_t stagePermille_ = 0;  // never decreases within a package
  std::wstring lastLine_;
};

}  // namespace prog
