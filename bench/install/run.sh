#!/usr/bin/env bash
# The whole online install of about 300 MB from nginx on loopback, OrvaloSetup.exe driven through
# its wizard, against a shell pipeline doing the same work (curl, sha256sum, unzip, cp), in one
# run. Prints both times, their ratio and the peak working set of OrvaloSetup.exe. The data lives
# outside the repository (ORVALO_BENCH_DIR, default /tmp/orvalo-bench-install).
set -euo pipefail
ORVALO_ROOT=$(cd "$(dirname "$0")/../.." && pwd)
build=${ORVALO_BUILD_DIR:-$ORVALO_ROOT/build}
work=${ORVALO_BENCH_DIR:-/tmp/orvalo-bench-install}
export ORVALO_WINEPREFIX=$work/prefix ORVALO_WINEHOME=$work/home
# shellcheck source=scripts/lib/session.sh
. "$ORVALO_ROOT/scripts/lib/session.sh"

"$ORVALO_ROOT/scripts/setup.sh"
configure_and_build "$build" >/dev/null
servers=$work/servers
cleanup() {
  bash "$ORVALO_ROOT/tests/support/servers/servers.sh" stop "$servers" >/dev/null 2>&1 || true
  stop_session
}
trap cleanup EXIT
ORVALO_HEADLESS=1 start_display
start_wine "$build"
bash "$ORVALO_ROOT/tests/support/servers/servers.sh" start "$servers" >/dev/null
# shellcheck disable=SC1091
. "$servers/servers.env"
base=http://127.0.0.1:$http_port/bench
site=$servers/www/bench
rm -rf "$site"
python3 "$ORVALO_ROOT/bench/install/make_packages.py" "$site" "$base" "$build/bin/Orvalo.exe" \
  "$ORVALO_ROOT/resources/agreement.txt"
echo "packages: $(du -cb "$site"/download/*.zip | tail -n1 | cut -f1) bytes"

# The pipeline: every package downloaded, checked, unpacked and copied into place.
pipeline() {
  local target=$work/pipeline-target tmp=$work/pipeline-tmp name sum
  rm -rf "$target" "$tmp" && mkdir -p "$target" "$tmp"
  for name in deps quotes main; do
    curl -s -o "$tmp/$name.zip" "$base/download/$name.zip"
    sum=$(tr -d '\r' <"$site/download/manifest.ini" |
      awk -v s="[$name]" '$0==s{f=1;next} /^\[/{f=0} f&&/^sha256=/{sub("sha256=","");print}')
    echo "$sum  $tmp/$name.zip" | sha256sum -c --quiet
    unzip -q "$tmp/$name.zip" -d "$tmp/$name"
    cp -r "$tmp/$name"/*/. "$target/"
    rm -rf "$tmp/$name.zip" "$tmp/$name"
  done
}

driver() { "$build/wine-run" "$build/bin/ui_driver.exe" "$@"; }
setup_install() {
  local folder='C:\bench\OrvaloTrader'
  rm -rf "$ORVALO_WINEPREFIX/drive_c/bench"
  "$build/wine-run" "$build/bin/OrvaloSetup.exe" --base "$base" &
  local setup=$!
  driver wait OrvaloSetupWizardWnd 30000 >/dev/null
  driver click OrvaloSetupWizardWnd 2015 >/dev/null
  driver click OrvaloSetupWizardWnd 2017 >/dev/null
  driver settext OrvaloSetupWizardWnd 2004 "$folder" >/dev/null
  local start end pid peak=0 hwm
  pid=$(pgrep -f 'OrvaloSetup.exe --base' | head -n1)
  start=$(date +%s.%N)
  driver click OrvaloSetupWizardWnd 2011 >/dev/null
  # Poll the wine process's peak resident size until the status says the install has ended.
  while :; do
    hwm=$(awk '/VmHWM/{print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
    [ "${hwm:-0}" -gt "$peak" ] && peak=$hwm
    status=$(driver text OrvaloSetupWizardWnd 2008 2>/dev/null | tr -d '\r')
    [ -n "${ORVALO_BENCH_TRACE:-}" ] && echo "$(date +%s.%N | cut -c7-14) $status" >&2
    case "$status" in 安装完成*|安装失败*) break ;; esac
    sleep 0.2
  done
  end=$(date +%s.%N)
  wait "$setup" || true
  "$build/wine-run" taskkill /f /im Orvalo.exe >/dev/null 2>&1 || true
  echo "$status" >&2
  echo "$(echo "$end - $start" | bc) $peak"
}

t0=$(date +%s.%N); pipeline; t1=$(date +%s.%N)
pipe=$(echo "$t1 - $t0" | bc)
read -r ours peak <<<"$(setup_install)"
echo "pipeline (curl, sha256sum, unzip, cp): ${pipe} s"
echo "OrvaloSetup.exe install:               ${ours} s"
awk -v a="$ours" -v b="$pipe" -v p="$peak" 'BEGIN {
  printf "ratio (ours / pipeline time): %.2f (goal: at most 1.2)\n", a / b
  printf "peak working set of OrvaloSetup.exe: %.1f MiB (goal: at most 64)\n", p / 1024 }'
