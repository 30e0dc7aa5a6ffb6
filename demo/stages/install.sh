# Install stage of the demo (sourced by demo/run_demo.sh): OrvaloSetup.exe against the demo
# server, walked through the wizard, then what the installation left on disk and in the registry.
# shellcheck shell=bash

say "== 安装 =="
# The build for the vendor domain "localhost": it accepts the hints of https://localhost/demo,
# and only releases signed with the key the demo server's are signed with.
"$WINE_RUN" "$BUILD/bin/vendor-localhost/OrvaloSetup.exe" --base "$DEMO_BASE" &
setup_pid=$!
driver wait OrvaloSetupWizardWnd 30000 >/dev/null
INSTALL_DIR=$(driver text OrvaloSetupWizardWnd 2004 | tr -d '\r')

if [ "$INTERACTIVE" = 1 ]; then
  say "安装向导已打开，请在窗口中完成安装。"
else
  # The server's agreement and hints replace the built-in ones while the page is up.
  driver waittext OrvaloSetupWizardWnd 2014 下载服务器版本 15000 >/dev/null || say "服务器协议未到达"
  sleep 0.5
  shot 01-agreement
  driver click OrvaloSetupWizardWnd 2015 >/dev/null
  driver click OrvaloSetupWizardWnd 2017 >/dev/null
  driver waittext OrvaloSetupWizardWnd 2018 演示服务器 15000 >/dev/null || say "服务器提示未到达"
  sleep 0.5
  shot 02-options
  driver click OrvaloSetupWizardWnd 2011 >/dev/null
  sleep 0.3
  shot 03-installing
  status=$(driver waittext OrvaloSetupWizardWnd 2008 安装完成 180000 | tr -d '\r') || {
    shot 03-failed
    say "安装未完成：$status"
    exit 1
  }
  shot 04-finished
fi
wait "$setup_pid" && setup_exit=0 || setup_exit=$?
INSTALL_DIR=$(wine_text reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\OrvaloTrader' \
  /v InstallLocation | sed -n 's/.*REG_SZ *//p')
if [ -z "$INSTALL_DIR" ]; then
  say "没有找到安装（安装向导退出码 $setup_exit）。"
  exit 1
fi
INSTALL_DIR_UNIX=$(wine_text winepath -u "$INSTALL_DIR")
driver wait OrvaloDemoClientWnd 30000 >/dev/null && sleep 0.5 && shot 05-client

say "安装向导退出码：$setup_exit"
say "安装目录：$INSTALL_DIR"
say "安装目录内容："
(cd "$INSTALL_DIR_UNIX" && find . -type f | sort | sed 's/^/  /') | tee -a "$OUT/report.txt"
say "channel.ini：$(tr '\n' ' ' <"$INSTALL_DIR_UNIX/channel.ini")"
for marker in "$INSTALL_DIR_UNIX"/update/*.done; do
  say "标记 $(basename "$marker")：$(cat "$marker")"
done
say "注册表（卸载信息）："
wine_text reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\OrvaloTrader' |
  sed -n 's/^ *\([A-Za-z]*\) *\(REG_[A-Z_]*\) *\(.*\)$/  \1 (\2) = \3/p' | tee -a "$OUT/report.txt"
if [ -f "$ORVALO_WINEHOME/Orvalo量化.lnk" ]; then say "桌面快捷方式：Orvalo量化.lnk"; fi
