#include "install/markers.h"

#include "util/client_contract.h"
#include "util/files.h"
#include "util/paths.h"
#include "util/text.h"

#include <windows.h>
#include <shellapi.h>

std::wstring markerDirectory(const std::wstring& installDir) {
  std::wstring dir = installDir;
  util::trimTrailingSeparators(dir);
  dir += std::wstring(L"\\") + client::kMarkerDirName;
  util::createDirectories(dir);
  return dir;
}

void writeMarker(const std::wstring& installDir, const std::wstring& name, const std::wstring& version) {
  if (version.empty()) return;
  const std::string bytes = util::toUtf8(version);
  (void)util::writeFile(markerDirectory(installDir) + L"\\" + name, bytes.data(), bytes.size());
}

std::wstring filterUpdateVersion(const std::wstring& version) {
  std::wstring kept;
  for (wchar_t c : version) {
    if (c == L'.' || (c >= L'0' && c <= L'9') || c == L'V' || c == L'v') kept += c;
  }
  return kept;
}

std::string updateMarkerBytes(const std::wstring& version) {
  const std::wstring kept = filterUpdateVersion(version);
  return kept.empty() ? std::string() : util::fromWide(util::kCodePageAnsi, kept);
}

bool writeUpdateMarker(const std::wstring& installDir, const std::wstring& version) {
  const std::string bytes = updateMarkerBytes(version);
  if (bytes.empty()) return true;
  return util::writeFile(markerDirectory(installDir) + L"\\_update.done", bytes.data(), bytes.size());
}

bool launchProgram(const std::wstring& exe) {
  const size_t cut = exe.find_last_of(L"\\/");
  const std::wstring dir = cut == std::wstring::npos ? std::wstring(L".") : exe.substr(0, cut);
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.lpFile = exe.c_str();
  info.lpDirectory = dir.c_str();
  info.nShow = SW_SHOWNORMAL;
  return ShellExecuteExW(&info) != FALSE;
}
