#include "wizard/install_dir.h"

#include "util/paths.h"

#include <cwctype>

namespace wizard {
namespace {

bool equalsIgnoringCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  }
  return true;
}

InstallDirCheck refuse(const wchar_t* message) { return {false, {}, message}; }

}  // namespace

InstallDirCheck validateInstallDir(const std::wstring& text, bool createSubfolder,
                                   const std::wstring& localAppData) {
  if (text.empty()) return refuse(L"请选择或输入安装位置");
  std::wstring dir = text;
  while (dir.size() > 2 && dir.back() == L'\\') dir.pop_back();
  if (createSubfolder) dir += L"\\OrvaloTrader";
  if (dir.size() <= 3) return refuse(L"安装位置不能是盘符根目录");
  if (equalsIgnoringCase(dir, localAppData)) {
    return refuse(L"安装位置不能是 %LOCALAPPDATA% 根目录");
  }
  return {true, dir, {}};
}

InstallDirCheck validateInstallDir(const std::wstring& text, bool createSubfolder) {
  return validateInstallDir(text, createSubfolder, util::localAppDataDirectory());
}

std::wstring defaultInstallDir(const std::wstring& localAppData) {
  return localAppData + L"\\Programs\\OrvaloTrader";
}

}  // namespace wizard
