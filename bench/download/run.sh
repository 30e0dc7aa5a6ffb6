#!/usr/bin/env bash
# Download and digest speed of orvalo-tool against curl, aria2c and sha256sum, all in the same
# run: downloads behind a shaping relay that makes loopback look like a real link (a rate per
# connection, or a shared line, and a round trip), and unlimited from nginx on loopback; with the
# peak memory of the tool's Windows process. Behind the relay the figures are the medians of
# three rounds' ratios, on plain loopback the ratios of the medians of three runs each.
#   bash bench/download/run.sh            (build tree: $ORVALO_BUILD_DIR or build/)
# Test files and downloads stay in the build tree (bench-download/); the servers, the relays and
# the Wine server are stopped at the end.
set -euo pipefail
ORVALO_ROOT=$(cd "$(dirname "$0")/../.." && pwd)
build=${ORVALO_BUILD_DIR:-$ORVALO_ROOT/build}
# shellcheck source=scripts/lib/session.sh
. "$ORVALO_ROOT/scripts/lib/session.sh"
servers_dir=$ORVALO_ROOT/tests/support/servers
servers=$servers_dir/servers.sh

"$ORVALO_ROOT/scripts/setup.sh"
configure_and_build "$build" >/dev/null
work=$build/bench-download
state=$work/servers
out=$work/out
mkdir -p "$state/www/bench" "$out"

shapers=()
cleanup() {
  local pid
  for pid in "${shapers[@]}"; do kill "$pid" 2>/dev/null || true; done
  "$servers" stop "$state" || true
  stop_session
  rm -rf "$out"
}
trap cleanup EXIT
start_wine "$build"
keep_desktop_open
"$servers" start "$state"
# shellcheck disable=SC1091
. "$state/servers.env"
base=http://127.0.0.1:$http_port/bench

for mib in 64 512; do
  file=$state/www/bench/f$mib.bin
  if [ "$(stat -c %s "$file" 2>/dev/null || echo 0)" != $((mib * 1048576)) ]; then
    head -c $((mib * 1048576)) /dev/urandom >"$file"
  fi
done

now() { date +%s.%N; }
# seconds COMMAND...: runs it quietly and prints the elapsed seconds.
seconds() {
  local start
  start=$(now)
  "$@" >/dev/null 2>&1
  awk -v a="$(now)" -v b="$start" 'BEGIN { printf "%.2f", a - b }' 
}
# tool LOG ARGS...: orvalo-tool under /usr/bin/time, its stderr (progress, peak) kept in LOG.
tool() {
  local log=$1
  shift
  /usr/bin/time -v "$build/wine-run" "$build/bin/orvalo-tool.exe" "$@" >"$log.out" 2>"$log"
  grep -qx 'ok\|[0-9a-f]\{64\}' "$log.out"
}
peak_mib() {  # the Windows process's own peak working set, and the whole Wine process's RSS
  local ws rss
  ws=$(sed -n 's/^peak-working-set \([0-9]*\) bytes/\1/p' "$1" | tail -n1)
  rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$1")
  awk -v ws="$ws" -v rss="$rss" \
    'BEGIN { printf "%.1f MiB working set, %.1f MiB Wine process RSS", ws / 1048576, rss / 1024 }' 
}
winpath() { echo "Z:${1//\//\\}"; }
same() { cmp -s "$1" "$2" || { echo "MISMATCH: $2" >&2; exit 1; }; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
median() { printf '%s\n' "$@" | sort -g | sed -n "$(( ($# + 1) / 2 ))p"; }
runs=3

# The links a user has, made by the shaping relay in front of nginx: (a) a CDN that holds each
# connection to 2 MB/s across all its requests, (b) the user's own line of 12 MB/s, both 40 ms
# away. nginx itself limits nothing here.
per_connection=2000000 line=12000000 rtt=40
start_shaper() {  # start_shaper NAME ARGS...: a relay in front of nginx; its address in $NAME_base
  local name=$1
  shift
  rm -f "$state/$name.port"
  setsid python3 "$servers_dir/shaper.py" --target "$http_port" --port-file "$state/$name.port" "$@" \
    </dev/null >>"$state/logs/$name.out" 2>&1 &
  shapers+=($!)
  local i
  for i in $(seq 100); do [ -s "$state/$name.port" ] && break; sleep 0.05; done
  printf -v "${name}_base" 'http://127.0.0.1:%s/bench' "$(cat "$state/$name.port")"
}
start_shaper cdn --rate $per_connection --rtt $rtt
start_shaper home --line $line --rtt $rtt

# The tools take turns within a round, so that a passing load on the machine touches all of them
# alike; the ratios are taken within each round, and the figures are their medians.
echo "== 64 MiB, each connection at 2 MB/s, ${rtt} ms round trip (median of $runs rounds)"
r_curl=() r_aria=()
for run in $(seq $runs); do
  rm -f "$out"/*
  t_curl=$(seconds curl -sS -o "$out/curl64" "$cdn_base/f64.bin")
  same "$state/www/bench/f64.bin" "$out/curl64"
  t_aria=$(seconds aria2c -q -x6 -s6 -k2M --allow-overwrite=true -d "$out" -o aria64 "$cdn_base/f64.bin")
  same "$state/www/bench/f64.bin" "$out/aria64"
  t_tool=$(seconds tool "$work/fetch64.log" fetch "$cdn_base/f64.bin" "$(winpath "$out/tool64")")
  same "$state/www/bench/f64.bin" "$out/tool64"
  r_curl+=("$(ratio "$t_curl" "$t_tool")") r_aria+=("$(ratio "$t_aria" "$t_tool")")
  echo "round $run: curl ${t_curl}s, aria2c -x6 ${t_aria}s, orvalo-tool ${t_tool}s:" \
    "${r_curl[-1]} x curl, ${r_aria[-1]} x aria2c"
done
echo "orvalo-tool speed: $(median "${r_curl[@]}") x curl, $(median "${r_aria[@]}") x aria2c -x6 (goal >= 1.0)"
echo "orvalo-tool peak: $(peak_mib "$work/fetch64.log")"

echo "== 64 MiB, a 12 MB/s line, ${rtt} ms round trip (median of $runs rounds)"
r_line=()
for run in $(seq $runs); do
  rm -f "$out"/*
  t_tool=$(seconds tool "$work/line64.log" fetch "$home_base/f64.bin" "$(winpath "$out/tool64")")
  same "$state/www/bench/f64.bin" "$out/tool64"
  r_line+=("$(awk -v t="$t_tool" -v line=$line 'BEGIN { printf "%.2f", 67108864 / t / line }')")
  echo "round $run: orvalo-tool ${t_tool}s: ${r_line[-1]} of the line"
done
echo "orvalo-tool speed: $(median "${r_line[@]}") of the line (goal >= 0.90)"

echo "== 512 MiB, no limit (median of $runs runs each)"
t_curl=() t_tool=()
for run in $(seq $runs); do
  rm -f "$out"/*
  t_curl+=("$(seconds curl -sS -o "$out/curl512" "$base/f512.bin")")
  same "$state/www/bench/f512.bin" "$out/curl512"
  rm -f "$out/curl512"
  t_tool+=("$(seconds tool "$work/fetch512.log" fetch "$base/f512.bin" "$(winpath "$out/tool512")")")
  same "$state/www/bench/f512.bin" "$out/tool512"
done
m_curl=$(median "${t_curl[@]}") m_tool=$(median "${t_tool[@]}")
echo "curl ${t_curl[*]} s, orvalo-tool ${t_tool[*]} s"
echo "orvalo-tool throughput: $(ratio "$m_curl" "$m_tool") x curl (goal >= 0.5)"
echo "orvalo-tool peak: $(peak_mib "$work/fetch512.log")"

echo "== SHA-256 of 512 MiB (median of $runs runs each)"
expected=$(sha256sum "$state/www/bench/f512.bin" | cut -d' ' -f1)
t_sum=() t_tool=()
for run in $(seq $runs); do
  t_sum+=("$(seconds sha256sum "$state/www/bench/f512.bin")")
  t_tool+=("$(seconds tool "$work/sha512.log" sha256 "$(winpath "$state/www/bench/f512.bin")")")
  [ "$(cat "$work/sha512.log.out")" = "$expected" ] || { echo "digest MISMATCH" >&2; exit 1; }
done
m_sum=$(median "${t_sum[@]}") m_tool=$(median "${t_tool[@]}")
echo "sha256sum ${t_sum[*]} s, orvalo-tool ${t_tool[*]} s"
echo "orvalo-tool throughput: $(ratio "$m_sum" "$m_tool") x sha256sum (goal >= 0.8)"
echo "orvalo-tool peak: $(peak_mib "$work/sha512.log")"
