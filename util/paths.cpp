#include "util/paths.h"

#include <windows.h>
#include <shlobj.h>

#include <cwctype>
#include <memory>

namespace util {
namespace {

// Windows paths end at 32767 characters; a module name never needs more room than that.
constexpr size_t kMaxModulePath = 65536;

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

struct CoTaskMemDeleter {
  void operator()(wchar_t* p) const { CoTaskMemFree(p); }
};

}  // namespace

std::wstring fileNameOf(const std::wstring& path) {
  const size_t cut = path.find_last_of(L"\\/");
  return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

std::wstring joinPath(const std::wstring& base, const std::wstring& name) {
  if (base.empty()) return name;
  if (!name.empty() && isSeparator(name.front())) return base + name;
  return base + L'\\' + name;
}

void trimTrailingSeparators(std::wstring& path) {
  while (path.size() > 3 && isSeparator(path.back())) path.pop_back();
}

std::wstring normalizePathKey(const std::wstring& path) {
  std::wstring key = path;
  trimTrailingSeparators(key);
  for (wchar_t& c : key) c = static_cast<wchar_t>(std::towlower(c));
  return key;
}

bool isPathInside(const std::wstring& path, const std::wstring& folder) {
  const std::wstring pathKey = normalizePathKey(path);
  const std::wstring folderKey = normalizePathKey(folder);
  if (folderKey.empty() || folderKey.size() >= pathKey.size()) return false;
  if (pathKey.compare(0, folderKey.size(), folderKey) != 0) return false;
  return pathKey[folderKey.size()] == L'\\';
}

std::wstring modulePath() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD len =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (len == 0) return {};
    // A full buffer means the path may have been cut: try again with twice the room.
    if (len >= buffer.size() - 1) {
      if (buffer.size() >= kMaxModulePath) return {};
      buffer.resize(buffer.size() * 2);
      continue;
    }
    buffer.resize(len);
    return buffer;
  }
}

std::wstring fullPath(const std::wstring& path) {
  if (path.empty()) return {};
  const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return {};
  std::wstring buffer(needed, L'\0');
  const DWORD len = GetFullPathNameW(path.c_str(), needed, buffer.data(), nullptr);
  if (len == 0 || len >= needed) return {};
  buffer.resize(len);
  return buffer;
}

std::wstring moduleDirectory() {
  const std::wstring path = modulePath();
  const size_t cut = path.find_last_of(L"\\/");
  if (cut == std::wstring::npos) return L".";
  return path.substr(0, cut);
}

std::wstring tempDirectory() {
  wchar_t buffer[MAX_PATH];
  const DWORD len = GetTempPathW(MAX_PATH, buffer);
  if (len == 0 || len > MAX_PATH) return {};
  std::wstring path(buffer, len);
  trimTrailingSeparators(path);
  return path;
}

std::wstring systemDirectory() {
  wchar_t buffer[MAX_PATH];
  const UINT len = GetSystemDirectoryW(buffer, MAX_PATH);
  if (len == 0 || len >= MAX_PATH) return {};
  std::wstring path(buffer, len);
  trimTrailingSeparators(path);
  return path;
}

std::wstring localAppDataDirectory() {
  wchar_t* raw = nullptr;
  const HRESULT hr = SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &raw);
  std::unique_ptr<wchar_t, CoTaskMemDeleter> owned(raw);
  if (FAILED(hr) || !owned) return {};
  return owned.get();
}

}  // namespace util
