#!/usr/bin/env bash
# Set-up, build and every test, under Wine and a private virtual display.
set -euo pipefail
ORVALO_ROOT=$(cd "$(dirname "$0")/.." && pwd)
build=${ORVALO_BUILD_DIR:-$ORVALO_ROOT/build}
# shellcheck source=scripts/lib/session.sh
. "$ORVALO_ROOT/scripts/lib/session.sh"

"$ORVALO_ROOT/scripts/setup.sh"
configure_and_build "$build"

trap stop_session EXIT
ORVALO_HEADLESS=1 start_display
start_wine "$build"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" "$@"
