#include "util/files.h"

#include "util/handles.h"
#include "util/paths.h"

#include <cstring>
#include <vector>

namespace util {
namespace {

bool isDotEntry(const wchar_t* name) {
  return (name[0] == L'.' && name[1] == L'\0') ||
         (name[0] == L'.' && name[1] == L'.' && name[2] == L'\0');
}

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

bool isExistingFolder(const std::wstring& path) {
  const DWORD attrs = GetFileAttributesW(path.c_str());
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool isExistingFile(const std::wstring& path) {
  const DWORD attrs = GetFileAttributesW(path.c_str());
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool isWalkableFolder(const WIN32_FIND_DATAW& data) {
  return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

bool forEachEntry(const std::wstring& folder, const DirEntryVisitor& visit) {
  WIN32_FIND_DATAW data{};
  FindHandle find(FindFirstFileW(joinPath(folder, L"*").c_str(), &data));
  if (!find) return true;
  bool goOn = true;
  do {
    if (isDotEntry(data.cFileName)) continue;
    goOn = visit(joinPath(folder, data.cFileName), data);
    if (!goOn) break;
  } while (FindNextFileW(find.get(), &data));
  return goOn;
}

bool createDirectories(const std::wstring& path) {
  std::wstring target = path;
  trimTrailingSeparators(target);
  if (target.empty()) return true;
  if (isExistingFolder(target)) return true;

  std::wstring prefix;
  size_t pos = 0;
  if (target.size() > 1 && target[1] == L':') {
    prefix = target.substr(0, 2);
    pos = 2;
  }
  while (pos < target.size()) {
    size_t end = pos;
    while (end < target.size() && !isSeparator(target[end])) ++end;
    if (end > pos) {
      const std::wstring segment = target.substr(pos, end - pos);
      prefix = prefix.empty() ? segment : prefix + L'\\' + segment;
      if (!CreateDirectoryW(prefix.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        return false;
      }
    }
    pos = end + 1;
  }
  return isExistingFolder(target);
}

bool writeFile(const std::wstring& path, const void* data, size_t count) {
  if (count > MAXDWORD) {
    SetLastError(ERROR_ARITHMETIC_OVERFLOW);
    return false;
  }
  FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  if (count == 0) return true;
  DWORD written = 0;
  if (!WriteFile(file.get(), data, static_cast<DWORD>(count), &written, nullptr)) return false;
  return written == count;
}

bool readFile(const std::wstring& path, std::string& bytes, size_t maxBytes) {
  bytes.clear();
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size)) return false;
  if (static_cast<uint64_t>(size.QuadPart) > maxBytes) {
    SetLastError(ERROR_FILE_TOO_LARGE);
    return false;
  }
  // Read until the end rather than trusting the size: the file may change while it is read.
  std::string data;
  data.reserve(static_cast<size_t>(size.QuadPart));
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) return false;
    if (got == 0) break;
    if (data.size() + got > maxBytes) {
      SetLastError(ERROR_FILE_TOO_LARGE);
      return false;
    }
    data.append(buffer, got);
  }
  bytes = std::move(data);
  return true;
}

uint64_t fileSize(HANDLE file) {
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(file, &size) || size.QuadPart < 0) return 0;
  return static_cast<uint64_t>(size.QuadPart);
}

bool deleteFileForce(const std::wstring& path) {
  const DWORD attrs = GetFileAttributesW(path.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES) return true;
  if (attrs & FILE_ATTRIBUTE_DIRECTORY) return true;
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  return DeleteFileW(path.c_str()) != FALSE;
}

bool renameOpenFile(HANDLE file, const std::wstring& target, bool replace) {
  const size_t nameBytes = target.size() * sizeof(wchar_t);
  std::vector<unsigned char> info(sizeof(FILE_RENAME_INFO) + nameBytes, 0);
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(info.data());
  rename->ReplaceIfExists = replace ? TRUE : FALSE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(nameBytes);
  std::memcpy(rename->FileName, target.c_str(), nameBytes);
  return SetFileInformationByHandle(file, FileRenameInfo, rename, static_cast<DWORD>(info.size())) != FALSE;
}

bool renameFile(const std::wstring& source, const std::wstring& target, bool replace) {
  FileHandle file(CreateFileW(source.c_str(), DELETE | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  return file && renameOpenFile(file.get(), target, replace);
}

bool copyFileOver(const std::wstring& source, const std::wstring& target, CopyOverStep* failedStep) {
  const std::wstring temp = target + L".upg_tmp";
  deleteFileForce(temp);  // a leftover of an interrupted run
  CopyOverStep failed = CopyOverStep::kNone;
  if (!CopyFileExW(source.c_str(), temp.c_str(), nullptr, nullptr, nullptr,
                   COPY_FILE_ALLOW_DECRYPTED_DESTINATION)) {
    failed = CopyOverStep::kCopy;
  } else if (!MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    failed = CopyOverStep::kMove;
  }
  if (failedStep) *failedStep = failed;
  if (failed == CopyOverStep::kNone) return true;
  // Callers describe the failed call; the clean-up must not replace its error.
  const DWORD error = GetLastError();
  deleteFileForce(temp);
  SetLastError(error);
  return false;
}

bool deleteDirRecursive(const std::wstring& folder) {
  const DWORD attrs = GetFileAttributesW(folder.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES || !(attrs & FILE_ATTRIBUTE_DIRECTORY)) return true;

  // A link to a folder is removed as a link; its target is never emptied.
  if (!(attrs & FILE_ATTRIBUTE_REPARSE_POINT)) {
    const bool allRemoved =
        forEachEntry(folder, [](const std::wstring& path, const WIN32_FIND_DATAW& data) {
          if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            return deleteDirRecursive(path);
          }
          SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
          return DeleteFileW(path.c_str()) != FALSE;
        });
    if (!allRemoved) return false;
  }
  // A read-only folder cannot be removed; the flag is often set on folders only for display.
  if (attrs & FILE_ATTRIBUTE_READONLY) {
    SetFileAttributesW(folder.c_str(), attrs & ~FILE_ATTRIBUTE_READONLY);
  }
  return RemoveDirectoryW(folder.c_str()) != FALSE;
}

uint64_t countFiles(const std::wstring& folder) {
  uint64_t count = 0;
  forEachEntry(folder, [&count](const std::wstring& path, const WIN32_FIND_DATAW& data) {
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (isWalkableFolder(data)) count += countFiles(path);
    } else {
      ++count;
    }
    return true;
  });
  return count;
}

}  // namespace util
