#!/usr/bin/env bash
# Takes the documentation's pictures of the setup dialog, headless: docs/dialog-start.png
# (as it starts) and docs/dialog-status.png (after a status read from the simulated
# controller). Builds what is missing first: the default preset, or the build tree in
# $PSC_BUILD_DIR when that is set.
# Usage: tools/render-dialog.sh [output directory]   (default: docs)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
out=${1:-docs}

if [ -n "${PSC_BUILD_DIR:-}" ]; then
  build=$PSC_BUILD_DIR
  [ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build "$build" -j2 --target pscsetup-render
else
  build=build
  [ -f "$build/CMakeCache.txt" ] || cmake --preset default
  cmake --build --preset default --target pscsetup-render
fi

mkdir -p "$out"
QT_QPA_PLATFORM=offscreen "$build/platform/qt/pscsetup-render" "$out"
