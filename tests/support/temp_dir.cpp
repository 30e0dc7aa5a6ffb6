#include "support/temp_dir.h"

#include "util/files.h"
#include "util/paths.h"

#include <windows.h>

#include <atomic>
#include <stdexcept>

namespace testing_support {

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  const std::wstring base = util::tempDirectory();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::wstring candidate =
        base + L"\\OrvaloSetup_test_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
        std::to_wstring(counter++) + L"_" + std::to_wstring(GetTickCount64());
    if (CreateDirectoryW(candidate.c_str(), nullptr)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary test folder");
}

TempDir::~TempDir() { util::deleteDirRecursive(path_); }

std::wstring TempDir::operator/(const std::wstring& name) const {
  return util::joinPath(path_, name);
}

std::string readFileBytes(const std::wstring& path) {
  std::string data;
  return util::readFile(path, data) ? data : std::string();
}

bool fileExists(const std::wstring& path) {
  const DWORD attrs = GetFileAttributesW(path.c_str());
  return attrs != INVALID_FILE_ATTRIBUTES && !(attrs & FILE_ATTRIBUTE_DIRECTORY);
}

bool dirExists(const std::wstring& path) {
  const DWORD attrs = GetFileAttributesW(path.c_str());
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace testing_support
