#!/usr/bin/env bash
# An upgrade and a repair that fetch only the entries that differ, against the same runs fetching
# the whole package, through the real OrvaloSetup.exe under Wine: bytes fetched (nginx's byte log)
# and time, on plain loopback and behind the shaping relay at 2 MB/s per connection and a 40 ms
# round trip. The package: 2000 files, about 150 MB, zipped with Debian's zip; version 2 changes
# three of them and adds one. The upgrade (--apply with a plan) starts from a fresh copy of an
# installation of version 1; the repair (--silent over an installation of version 2) mends one
# changed, one truncated and one deleted file. Every run's installation is then compared with an
# unzip of version 2, byte for byte. Median of ORVALO_BENCH_ROUNDS rounds (default 3), each round
# running every case once, the two variants taking turns.
#   bash bench/upgrade/run.sh            (build tree: $ORVALO_BUILD_DIR or build/)
# The packages stay in the build tree (bench-upgrade/) for later runs, with a Wine prefix of
# their own; the servers, the relay, the display and the Wine server are stopped at the end.
set -euo pipefail
ORVALO_ROOT=$(cd "$(dirname "$0")/../.." && pwd)
build=${ORVALO_BUILD_DIR:-$ORVALO_ROOT/build}
work=$build/bench-upgrade
rounds=${ORVALO_BENCH_ROUNDS:-3}
# Installs register themselves and remember release serials: not in the tests' prefix.
export ORVALO_WINEPREFIX=$work/prefix ORVALO_WINEHOME=$work/home
# shellcheck source=scripts/lib/session.sh
. "$ORVALO_ROOT/scripts/lib/session.sh"
servers_dir=$ORVALO_ROOT/tests/support/servers
servers=$servers_dir/servers.sh
packages=("python3" "$ORVALO_ROOT/bench/upgrade/packages.py")

"$ORVALO_ROOT/scripts/setup.sh"
configure_and_build "$build" >/dev/null
state=$work/servers
site=$state/www/bench-upgrade
mkdir -p "$state/www"

shaper=""
cleanup() {
  [ -z "$shaper" ] || kill "$shaper" 2>/dev/null || true
  "$servers" stop "$state" || true
  stop_session
}
trap cleanup EXIT
ORVALO_HEADLESS=1 start_display
start_wine "$build"
keep_desktop_open
"$servers" start "$state"
# shellcheck disable=SC1091
. "$state/servers.env"
bytes_log=$state/logs/nginx-bytes.log
touch "$bytes_log"

wine_run() { "$build/wine-run" "$@"; }
tool() { wine_run "$build/bin/orvalo-tool.exe" "$@"; }
driver() { wine_run "$build/bin/ui_driver.exe" "$@"; }
winpath() { echo "Z:${1//\//\\}"; }
seconds_since() { awk -v a="$(date +%s.%N)" -v b="$1" 'BEGIN { printf "%.2f", a - b }'; }

# The packages, made once: the manifests name a placeholder server, replaced per link below.
placeholder=http://127.0.0.1:1
stamp=$(sha256sum "$ORVALO_ROOT/bench/upgrade/packages.py" | cut -c1-16)
if [ "$(cat "$site/made" 2>/dev/null)" != "$stamp" ]; then
  echo "making the packages (once)"
  rm -rf "$site" "$work/trees" "$work/reference"
  "${packages[@]}" trees "$work/trees"
  for version in 1 2; do
    mkdir -p "$site/v$version/download"
    (cd "$work/trees/v$version" && zip -q -r "$site/v$version/download/main.zip" OrvaloTrader)
    (cd "$work/trees/deps" && zip -q -r "$site/v$version/download/deps.zip" deps)
    printf '[deps]\nfile=download/deps.zip\nversion=%s.0.0\n[main]\nfile=download/main.zip\nversion=%s.0.0\nexe=Orvalo.exe\n' \
      "$version" "$version" >"$site/v$version/release.ini"
    tool make-manifest "$(winpath "$site/v$version")" "$placeholder/bench-upgrade/v$version" >/dev/null
  done
  # The plan's index, as a vendor makes one for an update description: the same text as the
  # manifest's.
  tool index "$(winpath "$site/v2/download/main.zip")" "$(winpath "$work/main.zip.index")" >/dev/null
  cmp "$work/main.zip.index" "$site/v2/download/main.zip.index"
  # What every run must leave: version 2 unzipped, each package without its top-level folder.
  mkdir -p "$work/reference"
  for name in main deps; do
    unzip -q "$site/v2/download/$name.zip" -d "$work/unzipped"
    cp -a "$work/unzipped"/*/. "$work/reference/"
    rm -rf "$work/unzipped"
  done
  rm -rf "$work/trees"
  echo "$stamp" >"$site/made"
fi

# The link: nginx itself, and the relay in front of it (each connection 2 MB/s, 40 ms away).
rm -f "$state/cdn.port"
setsid python3 "$servers_dir/shaper.py" --target "$http_port" --port-file "$state/cdn.port" \
  --rate 2000000 --rtt 40 </dev/null >>"$state/logs/cdn.out" 2>&1 &
shaper=$!
for _ in $(seq 100); do [ -s "$state/cdn.port" ] && break; sleep 0.05; done
declare -A server=([loopback]="http://127.0.0.1:$http_port" [cdn]="http://127.0.0.1:$(cat "$state/cdn.port")")

# One site per link and variant: the manifest of version 2 with the link's address, with its
# index lines or without them.
for link in loopback cdn; do
  for variant in index whole; do
    mkdir -p "$site/$link-$variant/download"
    sed "s|$placeholder/|${server[$link]}/|" "$site/v2/download/manifest.ini" |
      if [ "$variant" = index ]; then cat; else grep -v '^index'; fi >"$site/$link-$variant/download/manifest.ini"
  done
done
mkdir -p "$site/loopback-v1/download"
sed "s|$placeholder/|${server[loopback]}/|" "$site/v1/download/manifest.ini" >"$site/loopback-v1/download/manifest.ini"

folder='C:\bench\OrvaloTrader'
installed=$ORVALO_WINEPREFIX/drive_c/bench/OrvaloTrader
# silent BASE: the unattended install (a repair when the folder holds the manifest's version);
# fails with its exit code.
silent() {
  wine_run "$build/bin/OrvaloSetup.exe" --silent --base "$1" --dir "$folder" --accept-agreement \
    --no-shortcut --no-launch </dev/null >/dev/null 2>&1 || {
    local code=$?
    echo "OrvaloSetup.exe --silent --base $1 failed with exit code $code" >&2
    return "$code"
  }
}
same_as_version2() {  # same_as_version2 EXTRAS: the installation is version 2 plus those names
  "${packages[@]}" same "$installed" "$work/reference" "$1" || {
    echo "the installation is not version 2" >&2
    exit 1
  }
}

# The installations each run starts from, made by the install itself: version 1 for the
# upgrade, version 2 for the repair.
rm -rf "$installed" "$work/installed-v1" "$work/installed-v2"
silent "${server[loopback]}/bench-upgrade/loopback-v1"
cp -a "$installed" "$work/installed-v1"
rm -rf "$installed"
silent "${server[loopback]}/bench-upgrade/loopback-whole"
same_as_version2 "$work/installed-v1"
cp -a "$installed" "$work/installed-v2"

restore() {  # restore VERSION: a fresh copy of that installation, nothing left to write out
  rm -rf "$installed"
  cp -a "$work/installed-v$1" "$installed"
  sync
}
digest() { sha256sum "$1" | cut -d' ' -f1; }
helper_running() {  # OrvaloSetup_helper.exe of this prefix, until it has deleted the old copies
  local pid
  for pid in $(pgrep -f OrvaloSetup_helper || true); do
    { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$ORVALO_WINEPREFIX" && return 0
  done
  return 1
}

# upgrade LINK VARIANT: the plan's one item, the main package of version 2, with its index or
# without; prints the seconds until the window says the upgrade is done.
upgrade() {
  local link=$1 variant=$2 plan=$work/plan.json url=${server[$1]}/bench-upgrade/v2/download/main.zip
  local index=""
  [ "$variant" = whole ] || index=", \"index\": \"$url.index\", \"index_sha256\": \"$(digest "$work/main.zip.index")\""
  printf '{"exe": "C:\\\\bench\\\\OrvaloTrader\\\\Orvalo.exe", "launch": false, "items": [{"kind": "main", "url": "%s", "sha256": "%s", "version": "2.0.0"%s}]}\n' \
    "$url" "$(digest "$site/v2/download/main.zip")" "$index" >"$plan"
  local start
  start=$(date +%s.%N)
  wine_run "$installed/OrvaloSetup.exe" --apply --plan "$(winpath "$plan")" </dev/null >/dev/null 2>&1
  if ! driver waittext OrvaloSetupUpgradeWnd 3001 升级完成 300000 >/dev/null; then
    echo "the upgrade did not finish: $(driver text OrvaloSetupUpgradeWnd 3001)" >&2
    exit 1
  fi
  seconds_since "$start"
  driver gone OrvaloSetupUpgradeWnd 30000 >/dev/null || true
  for _ in $(seq 300); do helper_running || break; sleep 0.1; done
}

# repair LINK VARIANT: the install over the damaged installation; prints its seconds.
repair() {
  local start
  start=$(date +%s.%N)
  silent "${server[$1]}/bench-upgrade/$1-$2"
  seconds_since "$start"
}

# The bytes each variant must fetch with the index: the entries that differ (header, name, extra
# field, compressed bytes) and the indexes themselves.
restore 1
expected_upgrade=$(($("${packages[@]}" expected "$site/v2/download/main.zip" "$work/main.zip.index" "$installed") +
  $(stat -c %s "$work/main.zip.index")))
restore 2
echo "repair damages: $("${packages[@]}" damage "$installed" | tr '\n' ' ')"
expected_repair=0
for name in main deps; do
  expected_repair=$((expected_repair + $("${packages[@]}" expected "$site/v2/download/$name.zip" \
    "$site/v2/download/$name.zip.index" "$installed") + $(stat -c %s "$site/v2/download/$name.zip.index")))
done
echo "package: $(unzip -Z1 "$site/v1/download/main.zip" | grep -vc '/$') files," \
  "$(stat -c %s "$site/v1/download/main.zip") bytes zipped (version 1)," \
  "$(stat -c %s "$site/v2/download/main.zip") bytes (version 2)"

# once CASE LINK VARIANT: one measured run from a fresh installation, checked; appends
# "case link variant seconds bytes requests" to the results.
results=$work/results.txt
: >"$results"
once() {
  local case=$1 link=$2 variant=$3 from seconds bytes requests
  if [ "$case" = upgrade ]; then restore 1; else restore 2 && "${packages[@]}" damage "$installed" >/dev/null; fi
  from=$(stat -c %s "$bytes_log")
  seconds=$("$case" "$link" "$variant")
  sleep 0.2  # nginx logs a request once its answer has gone
  read -r bytes requests <<<"$("${packages[@]}" fetched "$bytes_log" "$from" /bench-upgrade/)"
  same_as_version2 "$work/installed-v$([ "$case" = upgrade ] && echo 1 || echo 2)"
  echo "$case $link $variant $seconds $bytes $requests" | tee -a "$results"
}

for round in $(seq "$rounds"); do
  # The variants take turns, the first of a round alternating, so that a warmer cache or a
  # passing load favours neither.
  order=(index whole)
  ((round % 2)) || order=(whole index)
  for case in upgrade repair; do
    for link in loopback cdn; do
      for variant in "${order[@]}"; do once "$case" "$link" "$variant"; done
    done
  done
done

report() {  # report CASE EXPECTED
  awk -v case="$1" -v expected="$2" '
    function median(a, n,   i, j, t) {
      for (i = 2; i <= n; i++) for (j = i; j > 1 && a[j - 1] > a[j]; j--) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t }
      return a[int((n + 1) / 2)]
    }
    $1 == case { n = ++runs[$2, $3]; secs[$2, $3, n] = $4; bytes[$2, $3, n] = $5; reqs[$2, $3, n] = $6 }
    END {
      for (v = 0; v < 2; v++) {
        variant = v ? "whole" : "index"
        n = runs["loopback", variant]
        for (r = 1; r <= n; r++) { b[r] = bytes["loopback", variant, r]; q[r] = reqs["loopback", variant, r] }
        fetched[variant] = median(b, n)
        printf "%s %s: %d bytes in %d requests\n", case, variant, fetched[variant], median(q, n)
      }
      printf "%s bytes with the index: %.2f x the entries that differ and the indexes (%d bytes; goal <= 1.2), %.3f of the whole\n",
        case, fetched["index"] / expected, expected, fetched["index"] / fetched["whole"]
      n = runs["loopback", "index"]
      for (r = 1; r <= n; r++) {
        ratio[r] = secs["loopback", "index", r] / secs["loopback", "whole", r]
        a[r] = secs["loopback", "index", r]; b[r] = secs["loopback", "whole", r]
      }
      printf "%s on loopback: index %.2f s, whole %.2f s: time ratio %.2f (goal <= 0.4)\n", case, median(a, n), median(b, n), median(ratio, n)
      n = runs["cdn", "index"]
      for (r = 1; r <= n; r++) {
        ratio[r] = secs["cdn", "whole", r] / secs["cdn", "index", r]
        a[r] = secs["cdn", "index", r]; b[r] = secs["cdn", "whole", r]
      }
      printf "%s at 2 MB/s per connection, 40 ms: index %.2f s, whole %.2f s: %.1f x faster (goal >= 10)\n", case, median(a, n), median(b, n), median(ratio, n)
    }' "$results"
}
echo "== medians of $rounds rounds"
report upgrade "$expected_upgrade"
report repair "$expected_repair"
