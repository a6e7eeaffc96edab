#!/usr/bin/env bash
# Cross-builds pscsetup.exe and the unit tests for Windows with mingw-w64, in build-windows/.
# Usage: tools/build-windows.sh [--no-deps]
set -euo pipefail
cd "$(dirname "$0")/.."

[ "${1:-}" = "--no-deps" ] || tools/setup-deps.sh windows

cmake --preset windows >/dev/null
cmake --build --preset windows

exe=build-windows/platform/win32/pscsetup.exe
echo "built $exe: $(stat -c %s "$exe") bytes"
echo "imports: $(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr '\n' ' ')"
