#!/usr/bin/env bash
# Shows the setup dialog against the simulated controller: installs what is missing,
# builds the default preset, starts pscsim on a pseudo-terminal as COM1 and runs
# pscsetup. Options are handed to pscsim (for example --refuse or --status 0x1C; see
# build/sim/pscsim --help). The wire trace of pscsim appears on this terminal.
# Usage: tools/run-dialog.sh [pscsim options]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# First, so that xvfb-run is there to be suggested when there is no display.
tools/setup-deps.sh linux

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  cat >&2 <<'MSG'
run-dialog: no display (neither DISPLAY nor WAYLAND_DISPLAY is set), so the dialog
cannot be shown. Either
  - run it on a virtual X display:   xvfb-run -a tools/run-dialog.sh
  - run it invisible, headless:      QT_QPA_PLATFORM=offscreen tools/run-dialog.sh
  - or take pictures of the dialog:  tools/render-dialog.sh   (writes docs/*.png)
MSG
  exit 1
fi

cmake --preset default
cmake --build --preset default --target pscsetup pscsim

tmp=$(mktemp -d "${TMPDIR:-/tmp}/pscsetup-run.XXXXXX")
sim_pid=""
app_pid=""
stop() {
  if [ -n "$1" ] && kill -0 "$1" 2>/dev/null; then
    kill "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
  fi
}
cleanup() {
  stop "$app_pid"
  stop "$sim_pid"
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

build/sim/pscsim --link "$tmp/com1" "$@" &
sim_pid=$!
for _ in $(seq 100); do
  [ -L "$tmp/com1" ] && break
  kill -0 "$sim_pid" 2>/dev/null || { echo "run-dialog: pscsim did not start" >&2; exit 1; }
  sleep 0.05
done
slave=$(readlink "$tmp/com1" || true)
if [ -z "$slave" ]; then
  echo "run-dialog: pscsim did not name its pseudo-terminal" >&2
  exit 1
fi

export PSCSETUP_COM1="$slave"
echo "run-dialog: COM1 is the simulated controller on $slave"
# In the background, so that a signal to this script ends the dialog and the simulator.
build/platform/qt/pscsetup &
app_pid=$!
status=0
wait "$app_pid" || status=$?
app_pid=""
exit "$status"
