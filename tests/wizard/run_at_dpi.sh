#!/usr/bin/env bash
# Runs a Windows test program with the prefix's display DPI set to another value, and puts 96 back
# afterwards. Wine reads the DPI from the registry when a program starts.
set -euo pipefail
wine_run=$1 dpi=$2
shift 2
key='HKCU\Control Panel\Desktop'
set_dpi() { "$wine_run" reg add "$key" /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1; }
set_dpi "$dpi"
trap 'set_dpi 96' EXIT
ORVALO_EXPECT_DPI=$dpi "$wine_run" "$@"
