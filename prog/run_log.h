// The log of an unattended run (install or removal): UTF-8 lines with the time of day in a file,
// and the same lines on the console of whoever started the run, when it has one. LogSink turns
// an install job's reports into one line per stage and per package, with sizes and times.
#pragma once

#include "prog/job.h"
#include "util/handles.h"

#include <cstdint>
#include <string>

namespace prog {

// %TEMP%\OrvaloSetup_silent.log
std::wstring defaultRunLogPath();

class RunLog {
 public:
  // Overwrite for a run of its own; Append for the removal's worker, which carries on the log
  // its first process began.
  enum class Mode { kOverwrite, kAppend };
  RunLog(const std::wstring& path, Mode mode);
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;

  bool hasFile() const { return static_cast<bool>(file_); }
  bool hasConsole() const { return static_cast<bool>(console_); }
  // A line for the file and the console.
  void line(const std::wstring& text);
  // A line for the console only: progress, which would swell the file.
  void consoleLine(const std::wstring& text);

 private:
  util::FileHandle file_;
  util::FileHandle console_;
};

// Reports of one install job, on the job's thread.
class LogSink : public JobSink {
 public:
  explicit LogSink(RunLog& log) : log_(log) {}
  void stage(const std::wstring& text) override;
  void note(const std::wstring& line) override;
  void status(const std::wstring& line) override;
  void progress(uint64_t done, uint64_t total) override;
  void package(const TotalInfo& total) override;
  // Writes what is still open (the last stage and package); call once the job has ended.
  void finish();

 private:
  void endStage();
  void endPackage();

  RunLog& log_;
  std::wstring stageText_;
  uint64_t stageStart_ = 0;
  uint64_t stageDone_ = 0;
  uint64_t stageTotal_ = 0;
  uint64_t packageIndex_ = 0;  // 0: no package begun
  uint64_t packageCount_ = 0;
  uint64_t packageStart_ = 0;
  uint64_t packageBytes_ = 0;  // the size of its first measured stage: the download
  uint64_t lastConsoleProgress_ = 0;
};

}  // namespace prog
