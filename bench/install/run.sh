#!/usr/bin/env bash
# The whole online install of about 320 MB from nginx on loopback through OrvaloSetup.exe --silent,
# and the upgrade of the same packages through OrvaloSetup.exe --apply, each against a shell
# pipeline doing the same work (curl, sha256sum, unzip, cp), all in one run: ORVALO_BENCH_RUNS
# runs (default 5) of each, the median of each tool's ratios to the pipeline of its run, and the
# peak memory of the install as growth over the same program ending at once. The data lives
# outside the repository (ORVALO_BENCH_DIR, default /tmp/orvalo-bench-install).
set -euo pipefail
ORVALO_ROOT=$(cd "$(dirname "$0")/../.." && pwd)
build=${ORVALO_BUILD_DIR:-$ORVALO_ROOT/build}
work=${ORVALO_BENCH_DIR:-/tmp/orvalo-bench-install}
runs=${ORVALO_BENCH_RUNS:-5}
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
keep_desktop_open
bash "$ORVALO_ROOT/tests/support/servers/servers.sh" start "$servers" >/dev/null
# shellcheck disable=SC1091
. "$servers/servers.env"
base=http://127.0.0.1:$http_port/bench
site=$servers/www/bench
rm -rf "$site"
python3 "$ORVALO_ROOT/bench/install/make_packages.py" "$site" "$base" "$build/bin/Orvalo.exe" \
  "$ORVALO_ROOT/resources/agreement.txt"
echo "packages: $(du -cb "$site"/download/{deps,quotes,main}.zip | tail -n1 | cut -f1) bytes, $runs runs each"

wine_run() { "$build/wine-run" "$@"; }
digest_of() {
  tr -d '\r' <"$site/download/manifest.ini" |
    awk -v s="[$1]" '$0==s{f=1;next} /^\[/{f=0} f&&/^sha256=/{sub("sha256=","");print}'
}
seconds_since() { awk -v a="$(date +%s.%N)" -v b="$1" 'BEGIN { printf "%.3f\n", a - b }'; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# The pipeline: every package downloaded, checked, unpacked and copied into place.
pipeline() {
  local target=$work/pipeline-target tmp=$work/pipeline-tmp name
  rm -rf "$target" "$tmp" && mkdir -p "$target" "$tmp"
  local start
  start=$(date +%s.%N)
  for name in deps quotes main; do
    curl -s -o "$tmp/$name.zip" "$base/download/$name.zip"
    echo "$(digest_of "$name")  $tmp/$name.zip" | sha256sum -c --quiet
    unzip -q "$tmp/$name.zip" -d "$tmp/$name"
    cp -r "$tmp/$name"/*/. "$target/"
    rm -rf "$tmp/$name.zip" "$tmp/$name"
  done
  seconds_since "$start"
}

# measured CMD...: runs the command and prints "seconds peak_kib exit_code": its time and its peak
# resident memory as the kernel kept it (the rusage of the waited process), without polling that
# would take CPU from the work measured.
measured() {
  python3 - "$@" <<'PY'
import os, subprocess, sys, time
start = time.monotonic()
child = subprocess.Popen(sys.argv[1:], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)
_, status, usage = os.wait4(child.pid, 0)
print(f"{time.monotonic() - start:.3f} {usage.ru_maxrss} {os.waitstatus_to_exitcode(status)}")
PY
}

folder='C:\bench\OrvaloTrader'
unix_folder=$ORVALO_WINEPREFIX/drive_c/bench/OrvaloTrader
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\OrvaloTrader'

# silent_install BASE: prints "seconds peak_kib exit_code".
silent_install() {
  rm -rf "$ORVALO_WINEPREFIX/drive_c/bench"
  wine_run reg delete "$uninstall_key" /f >/dev/null 2>&1 || true
  measured "$build/wine-run" "$build/bin/OrvaloSetup.exe" --silent --accept-agreement --dir "$folder" \
    --no-shortcut --no-launch --base "$1"
}

driver() { wine_run "$build/bin/ui_driver.exe" "$@"; }
# upgrade: the three packages applied over the installation; prints the seconds until the
# upgrade window says it is done.
upgrade() {
  local plan=$work/plan.json
  cat >"$plan" <<EOF
{"exe": "C:\\\\bench\\\\OrvaloTrader\\\\Orvalo.exe", "launch": false, "items": [
 {"url": "$base/download/deps.zip", "sha256": "$(digest_of deps)", "version": "2.0.1", "kind": "deps"},
 {"url": "$base/download/quotes.zip", "sha256": "$(digest_of quotes)", "version": "2.0.1", "kind": "quotes"},
 {"url": "$base/download/main.zip", "sha256": "$(digest_of main)", "version": "2.0.1", "kind": "main"}]}
EOF
  local start
  start=$(date +%s.%N)
  wine_run "$unix_folder/OrvaloSetup.exe" --apply --plan "Z:${plan//\//\\}" >/dev/null 2>&1
  driver waittext OrvaloSetupUpgradeWnd 3001 升级完成 600000 >/dev/null || echo "upgrade did not finish" >&2
  seconds_since "$start"
  driver gone OrvaloSetupUpgradeWnd 30000 >/dev/null || true
  # The helper deletes the replaced files' old copies after its window has closed: the next
  # measurement starts once it has ended.
  local _
  for _ in $(seq 300); do
    pgrep -f OrvaloSetup_helper >/dev/null || break
    sleep 0.1
  done
}

: >"$work/pipeline.times"
: >"$work/install.times"
: >"$work/install.peaks"
: >"$work/upgrade.times"
# Each measurement starts with nothing waiting to be written: the gigabyte the one before it left
# in the page cache would otherwise be written out during it, to the cost of whichever tool runs
# next (and most of all of the upgrade, the only one that forces its files to disk).
for run in $(seq "$runs"); do
  sync
  pipeline >>"$work/pipeline.times"
  sync
  read -r seconds peak code <<<"$(silent_install "$base")"
  [ "$code" = 0 ] || { echo "install run $run failed with exit code $code" >&2; exit 1; }
  echo "$seconds" >>"$work/install.times"
  echo "$peak" >>"$work/install.peaks"
  sync
  upgrade >>"$work/upgrade.times"
done
# The same program refused at once (nothing listens there): its peak is the idle process's.
read -r _ idle _ <<<"$(silent_install http://127.0.0.1:9/none)"

# The machine's load drifts over a run of several minutes: each tool is compared with the pipeline
# of its own run, measured seconds before it, and the median of those ratios is the figure.
per_run() { paste "$work/$1.times" "$work/pipeline.times" | awk '{ printf "%.2f\n", $1 / $2 }'; }
echo "pipeline (curl, sha256sum, unzip, cp): $(median <"$work/pipeline.times") s   runs: $(tr '\n' ' ' <"$work/pipeline.times")"
echo "OrvaloSetup.exe --silent install:      $(median <"$work/install.times") s   runs: $(tr '\n' ' ' <"$work/install.times")"
echo "OrvaloSetup.exe --apply upgrade:       $(median <"$work/upgrade.times") s   runs: $(tr '\n' ' ' <"$work/upgrade.times")"
echo "install / pipeline: $(per_run install | median) (goal: at most 1.2)   runs: $(per_run install | tr '\n' ' ')"
echo "upgrade / pipeline: $(per_run upgrade | median) (goal: at most 1.3)   runs: $(per_run upgrade | tr '\n' ' ')"
peak=$(median <"$work/install.peaks")
awk -v p="$peak" -v i="$idle" 'BEGIN {
  printf "memory growth of the install over the idle process: %.1f MiB (goal: at most 32; peak %.1f MiB, idle %.1f MiB)\n",
    (p - i) / 1024, p / 1024, i / 1024 }'
