#!/usr/bin/env bash
# A malformed ORVALO_RELEASE_PUBLIC_KEY stops the configure step, naming the setting, before
# anything is configured: never a setup that quietly takes unsigned releases.
set -euo pipefail
src=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
key=$(head -n1 "$src/tests/support/release_test.pub")
for bad in bad "${key%==}" "${key}," "${key},,${key}" "${key} ${key}" "${key},${key:1}"; do
  if out=$(cmake -S "$src" -B "$tmp/build" -DORVALO_RELEASE_PUBLIC_KEY="$bad" 2>&1); then
    echo "configured with ORVALO_RELEASE_PUBLIC_KEY=$bad"
    exit 1
  fi
  grep -q 'ORVALO_RELEASE_PUBLIC_KEY must be' <<<"$out" || { echo "$out"; exit 1; }
  [ ! -e "$tmp/build/CMakeFiles/CMakeSystem.cmake" ] || { echo "got as far as the compiler checks"; exit 1; }
done
