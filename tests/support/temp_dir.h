// A fresh folder in the user's temporary folder for one test, removed with everything in it.
#pragma once

#include <string>

namespace testing_support {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::wstring& path() const { return path_; }
  // path() joined with a relative name.
  std::wstring operator/(const std::wstring& name) const;

 private:
  std::wstring path_;
};

// Whole content of a file as bytes; empty when it cannot be read.
std::string readFileBytes(const std::wstring& path);
bool fileExists(const std::wstring& path);
bool dirExists(const std::wstring& path);

}  // namespace testing_support
