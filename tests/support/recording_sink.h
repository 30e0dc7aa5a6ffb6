// A job sink that keeps everything a job reports, for tests that run a job without a window.
#pragma once

#include "prog/job.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

class RecordingSink : public prog::JobSink {
 public:
  void stage(const std::wstring& text) override {
    std::lock_guard<std::mutex> guard(lock_);
    stages.push_back(text);
  }
  void note(const std::wstring& line) override {
    std::lock_guard<std::mutex> guard(lock_);
    notes.push_back(line);
  }
  void status(const std::wstring& line) override {
    std::lock_guard<std::mutex> guard(lock_);
    statuses.push_back(line);
  }
  void progress(uint64_t done, uint64_t total) override {
    std::lock_guard<std::mutex> guard(lock_);
    counts.emplace_back(done, total);
  }
  void package(const prog::TotalInfo& total) override {
    std::lock_guard<std::mutex> guard(lock_);
    packages.push_back(total);
  }

  std::vector<std::wstring> stages;
  std::vector<std::wstring> statuses;
  std::vector<std::wstring> notes;
  std::vector<std::pair<uint64_t, uint64_t>> counts;
  std::vector<prog::TotalInfo> packages;

 private:
  std::mutex lock_;
};

}  // namespace testing_support
