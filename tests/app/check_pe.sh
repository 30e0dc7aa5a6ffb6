#!/usr/bin/env bash
# The shipped executable: 64-bit, GUI subsystem, wWinMain entry, and nothing but system DLLs
# imported (the C++ runtime is linked in, so no runtime DLL has to travel with it).
set -euo pipefail
exe=$1
headers=$(x86_64-w64-mingw32-objdump -p "$exe")
grep -q 'Magic.*020b' <<<"$headers" || { echo "not PE32+"; exit 1; }
grep -q 'Subsystem.*(Windows GUI)' <<<"$headers" || { echo "not a GUI program"; exit 1; }
x86_64-w64-mingw32-objdump -f "$exe" | grep -q 'architecture: i386:x86-64' || { echo "not x86-64"; exit 1; }
x86_64-w64-mingw32-nm "$exe" | grep -qw 'wWinMain' || { echo "no wWinMain"; exit 1; }
bad=$(grep 'DLL Name:' <<<"$headers" | grep -Ei 'libstdc|libgcc|winpthread|libwinpthread' || true)
if [ -n "$bad" ]; then echo "runtime DLL imported: $bad"; exit 1; fi
echo "ok"
