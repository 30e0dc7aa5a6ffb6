#!/usr/bin/env bash
# Screenshots of the wizard at 96 and 144 DPI under a private virtual display: the agreement
# page, the options page and the failed state (the server address leads nowhere); then both
# windows after a change of DPI while open (the window tests' bitmaps). They land in
# out/screenshots. Uses a Wine prefix of its own, so the display setting touches nothing else.
set -euo pipefail
ORVALO_ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${ORVALO_BUILD_DIR:-$ORVALO_ROOT/build}
OUT=$ORVALO_ROOT/out/screenshots
export ORVALO_WINEPREFIX=$BUILD/screenshots/prefix ORVALO_WINEHOME=$BUILD/screenshots/home
# shellcheck source=scripts/lib/session.sh
. "$ORVALO_ROOT/scripts/lib/session.sh"
trap stop_session EXIT

driver() { "$BUILD/wine-run" "$BUILD/bin/ui_driver.exe" "$@" >/dev/null; }
shot() { import -window root png:- | convert - -trim +repage "$OUT/$1.png"; }

mkdir -p "$OUT"
ORVALO_HEADLESS=1 start_display
start_wine "$BUILD"
for dpi in 96 144; do
  "$BUILD/wine-run" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f \
    >/dev/null 2>&1
  # Port 9 (discard) has no server on loopback: the install fails at once with its message.
  "$BUILD/wine-run" "$BUILD/bin/OrvaloSetup.exe" --base http://127.0.0.1:9 &
  setup=$!
  driver wait OrvaloSetupWizardWnd 30000
  sleep 0.5
  shot "wizard-$dpi-agreement"
  driver click OrvaloSetupWizardWnd 2015
  driver click OrvaloSetupWizardWnd 2017
  sleep 0.5
  shot "wizard-$dpi-options"
  driver click OrvaloSetupWizardWnd 2011
  driver waittext OrvaloSetupWizardWnd 2008 安装失败 60000
  sleep 0.3
  shot "wizard-$dpi-failed"
  driver click OrvaloSetupWizardWnd 2010
  wait "$setup" || true
done

# Started at 96 DPI, the windows receive WM_DPICHANGED for each DPI in turn.
"$BUILD/wine-run" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1
bitmaps=$(mktemp -d)
trap 'rm -rf "$bitmaps"; stop_session' EXIT
ORVALO_SCREENSHOT_DIR="Z:$bitmaps" "$BUILD/wine-run" "$BUILD/bin/wizard_window_tests.exe" \
  --gtest_filter='WizardWindow.DpiChange*' >/dev/null
ORVALO_SCREENSHOT_DIR="Z:$bitmaps" "$BUILD/wine-run" "$BUILD/bin/upgrade_window_tests.exe" \
  --gtest_filter='UpgradeWindow.DpiChange*' >/dev/null
for bmp in "$bitmaps"/*.bmp; do convert "$bmp" "$OUT/$(basename "$bmp" .bmp).png"; done
echo "screenshots: $OUT"
