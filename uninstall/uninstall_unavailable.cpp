// This build has no uninstaller yet: both entries say so and fail, so that neither Windows' list
// of apps nor the wizard mistakes the missing mode for a finished removal.
#include "uninstall/uninstall.h"

#include <windows.h>

namespace {

int reportUnavailable() {
  MessageBoxW(nullptr, L"此版本的安装程序不提供该功能。", L"Orvalo量化 卸载", MB_OK | MB_ICONERROR);
  return 1;
}

}  // namespace

int runUninstall(const std::wstring&) { return reportUnavailable(); }

int runUninstallWorker(const std::wstring&, bool) { return reportUnavailable(); }
