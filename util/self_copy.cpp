#include "util/self_copy.h"

#include "util/paths.h"

#include <windows.h>

std::wstring helperExecutablePath() { return util::tempDirectory() + L"\\OrvaloSetup_helper.exe"; }

bool copySelfToTemp(std::wstring& path) {
  path = helperExecutablePath();
  const DWORD attrs = GetFileAttributesW(path.c_str());
  if (attrs != INVALID_FILE_ATTRIBUTES && !(attrs & FILE_ATTRIBUTE_DIRECTORY)) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
  }
  return CopyFileW(util::modulePath().c_str(), path.c_str(), FALSE) != FALSE;
}
