#!/usr/bin/env bash
# The main job: set-up and build of OrvaloSetup.exe.
set -euo pipefail
ORVALO_ROOT=$(cd "$(dirname "$0")/.." && pwd)
build=${ORVALO_BUILD_DIR:-$ORVALO_ROOT/build}
# shellcheck source=scripts/lib/session.sh
. "$ORVALO_ROOT/scripts/lib/session.sh"

"$ORVALO_ROOT/scripts/setup.sh"
configure_and_build "$build"
echo "OrvaloSetup.exe: $build/bin/OrvaloSetup.exe"
