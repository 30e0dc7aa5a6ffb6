// Run modes that this build does not contain yet. Each says so and fails, so that a caller
// (the installed client, Windows' list of apps) never mistakes the missing mode for success.
#include "applier/applier.h"
#include "uninstall/uninstall.h"
#include "wizard/wizard.h"

#include <windows.h>

namespace {

int reportUnavailable(const wchar_t* caption) {
  MessageBoxW(nullptr, L"此版本的安装程序不提供该功能。", caption, MB_OK | MB_ICONERROR);
  return 1;
}

}  // namespace

int runWizard(const std::wstring&) { return reportUnavailable(L"OrvaloTrader 安装"); }

int runUpgrade(const RunOptions&, bool) { return reportUnavailable(L"OrvaloTrader 升级"); }

int runUninstall(const std::wstring&) { return reportUnavailable(L"Orvalo量化 卸载"); }

int runUninstallWorker(const std::wstring&, bool) {
  return reportUnavailable(L"Orvalo量化 卸载");
}
