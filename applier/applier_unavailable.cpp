// This build has no upgrade applier yet: it says so and fails, so that the installed client never
// takes the missing mode for a finished upgrade.
#include "applier/applier.h"

#include <windows.h>

int runUpgrade(const RunOptions&, bool) {
  MessageBoxW(nullptr, L"此版本的安装程序不提供该功能。", L"OrvaloTrader 升级", MB_OK | MB_ICONERROR);
  return 1;
}
