#!/usr/bin/env bash
# The shipped executable: 64-bit, GUI subsystem, wWinMain entry, and nothing but system DLLs
# imported (the C++ runtime is linked in, so no runtime DLL has to travel with it). The imports
# resolved at start must be KnownDLLs, which always come from System32, or COMCTL32, which the
# manifest redirects to the side-by-side version 6; anything else (WinHTTP, BCrypt, DXGI) would
# be looked for beside the executable first and must be delay-loaded or loaded by path.
set -euo pipefail
exe=$1
headers=$(x86_64-w64-mingw32-objdump -p "$exe")
grep -q 'Magic.*020b' <<<"$headers" || { echo "not PE32+"; exit 1; }
grep -q 'Subsystem.*(Windows GUI)' <<<"$headers" || { echo "not a GUI program"; exit 1; }
x86_64-w64-mingw32-objdump -f "$exe" | grep -q 'architecture: i386:x86-64' || { echo "not x86-64"; exit 1; }
# grep reads to the end: with -q it would stop at the match, and nm, still writing, would die of
# SIGPIPE and fail the pipeline whenever the match is not in nm's last block of output.
x86_64-w64-mingw32-nm "$exe" | grep -w 'wWinMain' >/dev/null || { echo "no wWinMain"; exit 1; }
bad=$(grep 'DLL Name:' <<<"$headers" | grep -Ei 'libstdc|libgcc|winpthread|libwinpthread' || true)
if [ -n "$bad" ]; then echo "runtime DLL imported: $bad"; exit 1; fi
allowed='^(advapi32|comctl32|gdi32|kernel32|msvcrt|ole32|oleaut32|shell32|user32)\.dll$'
imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")
[ -n "$imports" ] || { echo "no import table read"; exit 1; }
loose=$(tr 'A-Z' 'a-z' <<<"$imports" | grep -Ev "$allowed" || true)
if [ -n "$loose" ]; then echo "imported at start, yet searched beside the executable:" $loose; exit 1; fi
echo "ok"
