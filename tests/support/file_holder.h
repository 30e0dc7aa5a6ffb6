// Another process (hold_file.exe, built beside the tests) that keeps a file open without sharing,
// the way a running program or a viewer holds a file; ended when the holder goes.
#pragma once

#include "util/handles.h"

#include <string>

namespace testing_support {

class FileHolder {
 public:
  explicit FileHolder(const std::wstring& path);
  ~FileHolder();
  FileHolder(const FileHolder&) = delete;
  FileHolder& operator=(const FileHolder&) = delete;

  // True once nobody else can open the file.
  bool holding() const { return holding_; }

 private:
  util::Handle process_;
  bool holding_ = false;
};

}  // namespace testing_support
