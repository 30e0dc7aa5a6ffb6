#!/usr/bin/env bash
# Extraction (into a fresh folder, and straight into place as an install does) and folder copy
# against Debian's unzip and cp, in one run, on a package of 2000
# files and about 300 MB. Prints the speed ratios of the medians of ORVALO_BENCH_ROUNDS rounds
# (default 3; ours / theirs as speed, so 1.0 is as fast and higher is faster) and orvalo-tool's peak resident memory. The data lives outside the
# repository (ORVALO_BENCH_DIR, default /tmp/orvalo-bench-packages) and is kept between runs.
set -euo pipefail
ORVALO_ROOT=$(cd "$(dirname "$0")/../.." && pwd)
build=${ORVALO_BUILD_DIR:-$ORVALO_ROOT/build}
work=${ORVALO_BENCH_DIR:-/tmp/orvalo-bench-packages}
rounds=${ORVALO_BENCH_ROUNDS:-3}
# shellcheck source=scripts/lib/session.sh
. "$ORVALO_ROOT/scripts/lib/session.sh"

"$ORVALO_ROOT/scripts/setup.sh"
configure_and_build "$build" >/dev/null
trap stop_session EXIT
start_wine "$build"

mkdir -p "$work"
if [ ! -f "$work/pkg.zip" ]; then
  rm -rf "$work/src"
  python3 "$ORVALO_ROOT/bench/packages/make_tree.py" "$work/src/pkg"
  (cd "$work/src" && zip -q -r "$work/pkg.zip.part" pkg && mv "$work/pkg.zip.part" "$work/pkg.zip")
fi
{ printf 'PK\005\006'; head -c 18 /dev/zero; } >"$work/tiny.zip"  # an empty archive

win() { printf 'Z:%s' "${1//\//\\}"; }

# measure NAME COMMAND...: the median wall time of the rounds (fresh output each time) and the
# largest peak RSS, in seconds and KiB.
measure() {
  local name=$1 times="" peak=0 i stats
  shift
  for i in $(seq "$rounds"); do
    rm -rf "$work/out"
    sync
    stats=$(/usr/bin/time -f '%e %M' "$@" 2>&1 >/dev/null | tail -n1)
    read -r secs kib <<<"$stats"
    times+="$secs"$'\n'
    if [ "$kib" -gt "$peak" ]; then peak=$kib; fi
  done
  printf '%s %s %s\n' "$name" "$(sort -n <<<"${times%$'\n'}" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')" "$peak"
}

results=$(
  measure unzip unzip -q "$work/pkg.zip" -d "$work/out"
  measure tool-unzip "$build/wine-run" "$build/bin/orvalo-tool.exe" unzip "$(win "$work/pkg.zip")" "$(win "$work/out")"
  measure tool-place "$build/wine-run" "$build/bin/orvalo-tool.exe" place "$(win "$work/pkg.zip")" "$(win "$work/out")"
  measure tool-unzip-empty "$build/wine-run" "$build/bin/orvalo-tool.exe" unzip "$(win "$work/tiny.zip")" "$(win "$work/out")"
  rm -rf "$work/tree" && unzip -q "$work/pkg.zip" -d "$work/tree"
  measure cp cp -r "$work/tree/pkg" "$work/out"
  measure tool-copy "$build/wine-run" "$build/bin/orvalo-tool.exe" copy "$(win "$work/tree/pkg")" "$(win "$work/out")"
)
rm -rf "$work/out"
echo "$results"

files=$(find "$work/tree/pkg" -type f | wc -l)
bytes=$(du -sb "$work/tree/pkg" | cut -f1)
awk -v files="$files" -v bytes="$bytes" '
  { secs[$1] = $2; kib[$1] = $3 }
  END {
    printf "package: %d files, %.0f MB unpacked\n", files, bytes / 1e6
    printf "unzip: orvalo-tool %.2f s, unzip -q %.2f s: speed ratio %.2f\n", secs["tool-unzip"], secs["unzip"], secs["unzip"] / secs["tool-unzip"]
    printf "place: orvalo-tool %.2f s (unpacked straight into place, as an install does): speed ratio %.2f\n", secs["tool-place"], secs["unzip"] / secs["tool-place"]
    printf "copy:  orvalo-tool %.2f s, cp -r %.2f s: speed ratio %.2f\n", secs["tool-copy"], secs["cp"], secs["cp"] / secs["tool-copy"]
    printf "orvalo-tool peak RSS: unzip %.1f MiB, copy %.1f MiB, unzip of an empty archive %.1f MiB (Wine itself)\n", kib["tool-unzip"] / 1024, kib["tool-copy"] / 1024, kib["tool-unzip-empty"] / 1024
  }' <<<"$results"
