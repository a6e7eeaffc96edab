#!/usr/bin/env bash
# Writes docs/dialog-wine.png: pscsetup.exe's dialog under Wine and Xvfb, with the port open
# on the simulated controller (COM5, a pseudo-terminal) and a status read.
# Usage: tools/render-wine-screenshot.sh [--no-deps] [OUTPUT.png]
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"

if [ "${1:-}" = "--no-deps" ]; then
  shift
else
  tools/setup-deps.sh windows
fi
out=${1:-docs/dialog-wine.png}
[ -x build-windows/platform/win32/pscsetup.exe ] || tools/build-windows.sh --no-deps

# shellcheck source=tools/wine-session.sh
source tools/wine-session.sh
trap 'wine_session_stop' EXIT
find_pscsim
start_xvfb
wine_session_start
start_sim COM5 "$_session_tmp/sim.log"
start_pscsetup

# Select COM5, open it, read the status; the success message is closed again.
keys Tab Down Down Down Down shift+Tab space
keys shift+Tab space
box=$(wait_window '成功' 10)
xdotool windowfocus "$box"
keys Return
wait_no_window '成功' 5
xdotool windowfocus "$APP_WINDOW"
sleep 0.5

mkdir -p "$(dirname "$out")"
import -window "$APP_WINDOW" "$out"
echo "wrote $out ($(identify -format '%wx%h' "$out"))"
