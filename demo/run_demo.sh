#!/usr/bin/env bash
# The life of an installation on this machine, against a real download server on loopback:
# install with the wizard, upgrade from the running client, uninstall as Windows would.
#
#   demo/run_demo.sh BUILD_DIR
#
# With a display (DISPLAY set, ORVALO_HEADLESS unset) the wizard is left to the user; otherwise
# a private virtual display is used and every step is driven and photographed. Screenshots and
# the report land in out/demo. The demo has a Wine prefix of its own, made fresh for each run.
set -euo pipefail
ORVALO_ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:?usage: run_demo.sh BUILD_DIR}" && pwd)
WINE_RUN=$BUILD/wine-run
OUT=$ORVALO_ROOT/out/demo
DEMO_STATE=$BUILD/demo/servers
export ORVALO_WINEPREFIX=$BUILD/demo/prefix ORVALO_WINEHOME=$BUILD/demo/home
# shellcheck source=scripts/lib/session.sh
. "$ORVALO_ROOT/scripts/lib/session.sh"

INTERACTIVE=0
if [ -n "${DISPLAY:-}" ] && [ "${ORVALO_HEADLESS:-0}" != 1 ]; then INTERACTIVE=1; fi

cleanup() {
  bash "$ORVALO_ROOT/tests/support/servers/servers.sh" stop-vendor "$DEMO_STATE" >/dev/null 2>&1 || true
  bash "$ORVALO_ROOT/tests/support/servers/servers.sh" stop "$DEMO_STATE" >/dev/null 2>&1 || true
  stop_session
}
trap cleanup EXIT

say() { printf '%s\n' "$*" | tee -a "$OUT/report.txt"; }
shot() {
  import -window root png:- 2>/dev/null | convert - -trim +repage "$OUT/$1.png" 2>/dev/null || true
}
driver() { "$WINE_RUN" "$BUILD/bin/ui_driver.exe" "$@"; }
# Text of Wine's console tools (reg, winepath) comes in the Chinese code page.
wine_text() { "$WINE_RUN" "$@" 2>/dev/null | iconv -f GBK -t UTF-8 | tr -d '\r'; }

rm -rf "$OUT" "$ORVALO_WINEPREFIX" "$ORVALO_WINEHOME"
mkdir -p "$OUT"
start_display
start_wine "$BUILD"

bash "$ORVALO_ROOT/tests/support/servers/servers.sh" start "$DEMO_STATE" >/dev/null
# The vendor's own site, https://localhost/ on port 443, where the demo build takes its hints
# from; its test authority is trusted in the demo's prefix only.
bash "$ORVALO_ROOT/tests/support/servers/servers.sh" start-vendor "$DEMO_STATE" >/dev/null
"$WINE_RUN" "$BUILD/bin/trust_ca.exe" "Z:$(printf '%s' "$DEMO_STATE/tls/ca.der" | tr / '\\')"
# shellcheck disable=SC1091
. "$DEMO_STATE/servers.env"
DEMO_BASE=http://127.0.0.1:$http_port/demo
DEMO_WWW=$DEMO_STATE/www/demo
winpath() { printf 'Z:%s' "${1//\//\\}"; }
tool() { "$WINE_RUN" "$BUILD/bin/orvalo-tool.exe" "$@"; }
# The project's test key stands in for the vendor's: the demo's builds carry its public half.
RELEASE_KEY=$(winpath "$ORVALO_ROOT/tests/support/release_test.key")
RELEASE_PUB=$(winpath "$ORVALO_ROOT/tests/support/release_test.pub")

# publish [make_site options]: the demo server's release made as a vendor makes one. The
# packages and their description (release.ini) first, then the signed manifest from the release
# tool, the signed update description, and a check of the live server before anybody uses it.
publish() {
  python3 "$ORVALO_ROOT/demo/server/make_site.py" "$DEMO_WWW" "$DEMO_BASE" "$BUILD/bin/signed/Orvalo.exe" \
    "$ORVALO_ROOT/resources/agreement.txt" --version 1.0.0 \
    --hints-base https://localhost/demo --text-only-agreement "$@"
  tool make-manifest "$(winpath "$DEMO_WWW")" "$DEMO_BASE" --key "$RELEASE_KEY" --vendor-domain localhost |
    tr -d '\r' | tee -a "$OUT/report.txt"
  tool sign "$(winpath "$DEMO_WWW/update/latest.json")" "$RELEASE_KEY" >/dev/null
  say "检查下载服务器（orvalo-tool verify-server）："
  if ! tool verify-server "$DEMO_BASE" --key "$RELEASE_PUB" --vendor-domain localhost 2>/dev/null |
    tr -d '\r' | sed 's/^/  /' | tee -a "$OUT/report.txt"; then
    say "下载服务器检查未通过。"
    exit 1
  fi
}

rm -rf "$DEMO_WWW"
publish
say "演示服务器：$DEMO_BASE"

INSTALL_DIR=""
INSTALL_DIR_UNIX=""
for stage in install upgrade uninstall; do
  if [ -f "$ORVALO_ROOT/demo/stages/$stage.sh" ]; then
    # shellcheck disable=SC1090
    . "$ORVALO_ROOT/demo/stages/$stage.sh"
  fi
done
say "截图与报告：$OUT"
