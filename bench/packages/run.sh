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
keep_desktop_open

mkdir -p "$work"
if [ ! -f "$work/pkg.zip" ]; then
  rm -rf "$work/src"
  python3 "$ORVALO_ROOT/bench/packages/make_tree.py" "$work/src/pkg"
  (cd "$work/src" && zip -q -r "$work/pkg.zip.part" pkg && mv "$work/pkg.zip.part" "$work/pkg.zip")
fi
{ printf 'PK\005\006'; head -c 18 /dev/zero; } >"$work/tiny.zip"  # an empty archive

win() { printf 'Z:%s' "${1//\//\\}"; }

# once NAME COMMAND...: one round of a tool, into a fresh folder with nothing of the round before
# waiting to be written: "NAME seconds peak_kib".
once() {
  local name=$1
  shift
  rm -rf "$work/out"
  sync
  printf '%s %s\n' "$name" "$(/usr/bin/time -f '%e %M' "$@" 2>&1 >/dev/null | tail -n1)"
}

rm -rf "$work/tree" && unzip -q "$work/pkg.zip" -d "$work/tree"
tool=("$build/wine-run" "$build/bin/orvalo-tool.exe")
# Every round measures each tool once: a ratio compares tools measured seconds apart, whatever the
# machine's load does over the whole run.
results=$(
  for _ in $(seq "$rounds"); do
    once unzip unzip -q "$work/pkg.zip" -d "$work/out"
    once tool-unzip "${tool[@]}" unzip "$(win "$work/pkg.zip")" "$(win "$work/out")"
    once tool-place "${tool[@]}" place "$(win "$work/pkg.zip")" "$(win "$work/out")"
    once tool-unzip-empty "${tool[@]}" unzip "$(win "$work/tiny.zip")" "$(win "$work/out")"
    once cp cp -r "$work/tree/pkg" "$work/out"
    once tool-copy "${tool[@]}" copy "$(win "$work/tree/pkg")" "$(win "$work/out")"
  done
)
rm -rf "$work/out"
echo "$results"

files=$(find "$work/tree/pkg" -type f | wc -l)
bytes=$(du -sb "$work/tree/pkg" | cut -f1)
awk -v files="$files" -v bytes="$bytes" '
  function median(a, n,   i, j, t) {
    for (i = 2; i <= n; i++) for (j = i; j > 1 && a[j - 1] > a[j]; j--) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t }
    return a[int((n + 1) / 2)]
  }
  # The median of the per-round speed ratios theirs / ours, and the median times.
  function report(label, ours, theirs,   r, ratios, a, b, n) {
    n = rounds[ours]
    for (r = 1; r <= n; r++) { ratios[r] = secs[theirs, r] / secs[ours, r]; a[r] = secs[ours, r]; b[r] = secs[theirs, r] }
    printf "%s orvalo-tool %.2f s, %s %.2f s: speed ratio %.2f\n", label, median(a, n), theirs, median(b, n), median(ratios, n)
  }
  { n = ++rounds[$1]; secs[$1, n] = $2; if ($3 > kib[$1]) kib[$1] = $3 }
  END {
    printf "package: %d files, %.0f MB unpacked (medians of %d rounds)\n", files, bytes / 1e6, rounds["unzip"]
    report("unzip:", "tool-unzip", "unzip")
    report("place (unpacked straight into place, as an install does):", "tool-place", "unzip")
    report("copy: ", "tool-copy", "cp")
    printf "orvalo-tool peak RSS: unzip %.1f MiB, copy %.1f MiB, unzip of an empty archive %.1f MiB (Wine itself)\n", kib["tool-unzip"] / 1024, kib["tool-copy"] / 1024, kib["tool-unzip-empty"] / 1024
  }' <<<"$results"
