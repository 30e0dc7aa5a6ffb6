#!/usr/bin/env bash
# The main job: set-up, build, and the demo of an installation's whole life against a real
# download server on loopback (see demo/run_demo.sh).
set -euo pipefail
ORVALO_ROOT=$(cd "$(dirname "$0")/.." && pwd)
build=${ORVALO_BUILD_DIR:-$ORVALO_ROOT/build}
# shellcheck source=scripts/lib/session.sh
. "$ORVALO_ROOT/scripts/lib/session.sh"

"$ORVALO_ROOT/scripts/setup.sh"
configure_and_build "$build"
echo "OrvaloSetup.exe: $build/bin/OrvaloSetup.exe"
bash "$ORVALO_ROOT/demo/run_demo.sh" "$build"
