# Uninstall stage of the demo (sourced by demo/run_demo.sh after the install and upgrade stages,
# the client possibly still running): the registered uninstall command started as Windows starts
# it, both questions answered, and what is left afterwards.
#   ORVALO_DEMO_PURGE=1 answers Yes to the user-data question (default: No, keep the data).
# shellcheck shell=bash

say "== 卸载 =="
declare -F wine_text >/dev/null ||
  wine_text() { "$WINE_RUN" "$@" 2>/dev/null | iconv -f GBK -t UTF-8 | tr -d '\r'; }
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\OrvaloTrader'
caption="Orvalo量化 卸载"
purge=${ORVALO_DEMO_PURGE:-0}

uninstall_command=$(wine_text reg query "$uninstall_key" /v UninstallString | sed -n 's/.*REG_SZ *//p')
if [ -z "$uninstall_command" ]; then
  say "注册表中没有卸载命令，跳过卸载。"
  return 0
fi
say "注册的卸载命令：$uninstall_command"

# The client's user data, as a client that has been used leaves it, so that the answer to the
# second question shows.
local_data=$(wine_text winepath -u "$(wine_text cmd /c echo '%LOCALAPPDATA%')\\OrvaloTrader")
roaming_data=$(wine_text winepath -u "$(wine_text cmd /c echo '%APPDATA%')\\OrvaloTrader")
for data in "$local_data" "$roaming_data"; do
  mkdir -p "$data/config"
  printf '{"session":"demo"}\n' >"$data/config/login.json"
done
helper_unix=$(wine_text winepath -u "$(wine_text cmd /c echo '%TEMP%')\\OrvaloSetup_helper.exe")
shortcut="${ORVALO_WINEHOME:-$HOME}/Orvalo量化.lnk"
client_before=no
driver wait OrvaloDemoClientWnd 1000 >/dev/null 2>&1 && client_before=yes

driver run "$uninstall_command" >"$OUT/uninstall-exit.txt" &
uninstall_pid=$!

if [ "${INTERACTIVE:-0}" = 1 ]; then
  say "卸载程序已启动，请回答两个问题并关闭结果提示。"
else
  driver waitbox "$caption" 30000 >/dev/null && sleep 0.3 && shot 20-uninstall-confirm
  driver answer "$caption" yes 5000 >/dev/null
  driver waitbox "$caption" 30000 >/dev/null && sleep 0.3 && shot 21-uninstall-user-data
  if [ "$purge" = 1 ]; then
    say "回答：确认卸载；删除用户数据"
    driver answer "$caption" yes 5000 >/dev/null
  else
    say "回答：确认卸载；保留用户数据"
    driver answer "$caption" no 5000 >/dev/null
  fi
fi
wait "$uninstall_pid" && first_exit=0 || first_exit=$?
say "卸载程序退出码：$first_exit"

# The temporary worker shows the result; its file goes a few seconds after the box is closed.
if result=$(driver waitbox "$caption" 60000 | tr -d '\r'); then
  say "卸载结果：$(printf '%s' "$result" | tr '\n' ' ')"
  if [ "${INTERACTIVE:-0}" != 1 ]; then
    sleep 0.3
    shot 22-uninstall-result
    driver answer "$caption" ok 5000 >/dev/null
  fi
fi
waited=0
while [ -e "$helper_unix" ] && [ "$waited" -lt 3000 ]; do  # up to ten minutes for a user
  sleep 0.2
  waited=$((waited + 1))
  [ "${INTERACTIVE:-0}" = 1 ] || [ "$waited" -lt 100 ] || break
done

presence() { if [ -e "$1" ]; then printf '仍在'; else printf '已删除'; fi; }
say "安装目录 $INSTALL_DIR：$(presence "$INSTALL_DIR_UNIX")"
if "$WINE_RUN" reg query "$uninstall_key" >/dev/null 2>&1; then
  say "注册表卸载信息：仍在"
else
  say "注册表卸载信息：已删除"
fi
say "桌面快捷方式 Orvalo量化.lnk：$(presence "$shortcut")"
if [ "$client_before" = yes ]; then
  if driver gone OrvaloDemoClientWnd 5000 >/dev/null 2>&1; then
    say "正在运行的客户端：已结束"
  else
    say "正在运行的客户端：仍在运行"
  fi
fi
say "临时卸载程序 OrvaloSetup_helper.exe：$(presence "$helper_unix")"
for data in "$local_data" "$roaming_data"; do
  if [ -d "$data" ]; then state=保留; else state=已删除; fi
  say "用户数据 $(wine_text winepath -w "$data")：$state"
done
