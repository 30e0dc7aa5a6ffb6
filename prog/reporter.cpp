#include "prog/reporter.h"

#include <algorithm>
#include <cwchar>
#include <utility>

#include "prog/size_format.h"

namespace prog {
namespace {

struct PhaseShare {
  uint64_t start;
  uint64_t span;
};

// Thousandths of a package: downloading dominates, verifying is quick, copying outweighs
// unpacking because every file is written twice (temporary name, then the move).
constexpr PhaseShare kPhaseShares[] = {{0, 700}, {700, 50}, {750, 100}, {850, 150}};

constexpr size_t kPercentChars = 16;

}  // namespace

Reporter::Reporter(StatusSink statusSink, CountsSink countsSink, TotalSink totalSink)
    : statusSink_(std::move(statusSink)),
      countsSink_(std::move(countsSink)),
      totalSink_(std::move(totalSink)) {}

Reporter::Reporter(JobSink& sink)
    : Reporter([&sink](const std::wstring& line) { sink.status(line); },
               [&sink](uint64_t done, uint64_t total) { sink.progress(done, total); },
               [&sink](const TotalInfo& total) { sink.package(total); }) {
  stageSink_ = &sink;
}

void Reporter::note(const std::wstring& line) {
  if (stageSink_) stageSink_->note(line);
}

void Reporter::setStage(const std::wstring& text, int32_t phase) {
  if (stageSink_) stageSink_->stage(text);
  stageText_ = text;
  phase_ = phase;
  done_ = 0;
  total_ = 0;
  noCounts_ = true;
  showSizes_ = false;
  emit();
}

void Reporter::setCounts(uint64_t done, uint64_t total, bool withSizes) {
  noCounts_ = false;
  showSizes_ = withSizes;
  done_ = done;
  total_ = total;
  emit();
}

void Reporter::setPackage(uint64_t packageIndex, uint64_t packageCount, uint64_t packageWeight,
                          uint64_t doneWeight, uint64_t totalWeight) {
  packageIndex_ = packageIndex;
  packageCount_ = packageCount;
  packageWeight_ = packageWeight;
  doneWeight_ = doneWeight;
  totalWeight_ = totalWeight;
  stagePermille_ = 0;
  emitTotal();
}

std::wstring Reporter::composeLine() const {
  std::wstring line = stageText_;
  if (noCounts_ || total_ == 0) return line;
  // Halves round up; above 100 % stays visible rather than being hidden by a clamp.
  const uint64_t percent = (done_ * 100 + total_ / 2) / total_;
  wchar_t buffer[kPercentChars];
  std::swprintf(buffer, kPercentChars, L" %llu%%", static_cast<unsigned long long>(percent));
  line += buffer;
  if (showSizes_) line += L" · " + formatSize(done_) + L"/" + formatSize(total_);
  return line;
}

void Reporter::emit() {
  const std::wstring line = composeLine();
  // Status lines go out only when their text changes: a download reporting every chunk would
  // otherwise flood the window with identical lines.
  if (line != lastLine_) {
    lastLine_ = line;
    if (statusSink_) statusSink_(lastLine_);
  }
  if (countsSink_) {
    if (noCounts_) {
      countsSink_(0, 0);
    } else {
      countsSink_(done_, total_);
    }
  }
  if (packageCount_ != 0 && phase_ >= kPhaseDownload && phase_ <= kPhaseOverwrite && total_ != 0) {
    const PhaseShare& share = kPhaseShares[phase_];
    const uint64_t inPhase = std::min<uint64_t>(done_ * 1000 / total_, 1000);
    const uint64_t reached = inPhase * share.span / 1000 + share.start;
    if (reached > stagePermille_) stagePermille_ = reached;
    emitTotal();
  }
}

void Reporter::emitTotal() {
  if (!totalSink_ || packageCount_ == 0) return;
  TotalInfo info;
  info.index = packageIndex_ + 1;
  info.count = packageCount_;
  uint64_t permille;
  if (totalWeight_ != 0 && packageWeight_ != 0) {
    permille = ((packageWeight_ * stagePermille_) / 1000 + doneWeight_) * 1000 / totalWeight_;
  } else {
    permille = (packageIndex_ * 1000 + stagePermille_) / packageCount_;
  }
  info.permille = static_cast<int32_t>(permille);
  totalSink_(info);
}

}  // namespace prog
