# Upgrade stage of the demo (sourced by demo/run_demo.sh after the install stage, with the
# installed client running): the server publishes a newer version, the client checks for updates
# and hands over to OrvaloSetup.exe --apply, whose window is photographed; then the versions, the
# database snapshot and the user's databases are reported.
# shellcheck shell=bash

say "== 升级 =="
upgrade_version=1.1.0
marker_unix=$INSTALL_DIR_UNIX/update/_update.done
# The client creates its databases when it starts: trades.db in the install folder (snapshotted)
# and data\orvalo.db below it; the new main package carries a data\orvalo.db of its own.
driver wait OrvaloDemoClientWnd 30000 >/dev/null || { say "客户端没有在运行。"; exit 1; }
digest() { sha256sum "$1" | cut -d' ' -f1; }
trades_before=$(digest "$INSTALL_DIR_UNIX/trades.db")
data_before=$(digest "$INSTALL_DIR_UNIX/data/orvalo.db")
say "升级前版本：$(cat "$marker_unix")，行情组件：$(cat "$INSTALL_DIR_UNIX/update/_quotes.done")"

publish --update-version "$upgrade_version"
say "服务器发布新版本 $upgrade_version：$DEMO_BASE/update/latest.json"
old_client=$(driver pid OrvaloDemoClientWnd | tr -d '\r')

# The client's own button: it writes the plan, starts OrvaloSetup.exe --apply and exits.
driver click OrvaloDemoClientWnd 1001 >/dev/null
if ! driver wait OrvaloSetupUpgradeWnd 30000 >/dev/null; then
  shot 06-upgrade-missing
  say "升级窗口没有出现。"
  exit 1
fi
shot 06-upgrading
status=$(driver waittext OrvaloSetupUpgradeWnd 3001 升级完成 180000 | tr -d '\r') || {
  shot 07-upgrade-failed
  say "升级未完成：$status"
  exit 1
}
# No picture of the result: the restarted client already covers the window for its last 0.9 s.
say "升级窗口：$status"
driver gone OrvaloSetupUpgradeWnd 30000 >/dev/null || true
new_client=""
for _ in $(seq 150); do
  new_client=$(driver pid OrvaloDemoClientWnd 2>/dev/null | tr -d '\r') || true
  if [ -n "$new_client" ] && [ "$new_client" != "$old_client" ]; then break; fi
  sleep 0.2
done
sleep 0.5
shot 07-client-upgraded

say "升级后版本：$(cat "$marker_unix")，行情组件：$(cat "$INSTALL_DIR_UNIX/update/_quotes.done")"
say "客户端已重新启动：进程 $old_client → ${new_client:-（未找到）}"
say "安装目录 readme.txt：$(tr -d '\n' <"$INSTALL_DIR_UNIX/readme.txt")"
snapshot=$(find "$INSTALL_DIR_UNIX/backup" -mindepth 1 -maxdepth 1 -type d -name 'upgrade_*' 2>/dev/null | sort | tail -n1)
if [ -n "$snapshot" ]; then
  say "数据库快照：$INSTALL_DIR\\backup\\$(basename "$snapshot")（$(cd "$snapshot" && ls | tr '\n' ' ')）"
else
  say "数据库快照：没有生成"
fi
for pair in "trades.db:$trades_before" "data/orvalo.db:$data_before"; do
  file=${pair%%:*} before=${pair#*:}
  if [ "$(digest "$INSTALL_DIR_UNIX/$file")" = "$before" ]; then
    say "用户数据库 $file 未被改动（SHA-256 ${before:0:16}…）"
  else
    say "用户数据库 $file 被改动了！"
  fi
done
