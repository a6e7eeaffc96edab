#!/usr/bin/env bash
# Start-up time and peak memory of pscsetup on Linux: from the program's start until its
# dialog window is mapped on an X display (its own Xvfb), and the resident peak afterwards.
# Prints figures; it is not a test.
#   bench/startup.sh [RUNS] [PSCSETUP]      (defaults: 20, build/platform/qt/pscsetup)
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-20}
exe=${2:-build/platform/qt/pscsetup}
caption="电源开关控制器设置软件"
[ -x "$exe" ] || { echo "no $exe: build first (cmake --preset default && cmake --build --preset default)" >&2; exit 2; }
for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "needs $tool (tools/setup-deps.sh linux)" >&2; exit 2; }
done

# Xvfb picks a free display itself and writes its number to the pipe.
fifo=$(mktemp -u)
mkfifo "$fifo"
Xvfb -displayfd 3 -noreset -screen 0 1280x800x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
xvfb=$!
read -r -t 10 number <"$fifo" || { echo "Xvfb did not start" >&2; exit 1; }
rm -f "$fifo"
display=:$number
app=
cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
export DISPLAY=$display
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}

# Nothing listens on COM1 here; the dialog does not open a port until asked.
export PSCSETUP_COM1=/nonexistent
times=()
peaks=()
for _ in $(seq "$runs"); do
  start=$(date +%s%N)
  "$exe" 2>>"${XDG_RUNTIME_DIR}/pscsetup.err" & app=$!
  shown=
  for _ in $(seq 2000); do
    if xdotool search --onlyvisible --name "$caption" >/dev/null 2>&1; then shown=$(date +%s%N); break; fi
    sleep 0.002
  done
  [ -n "$shown" ] || { echo "the dialog did not appear within 4 s:" >&2; cat "${XDG_RUNTIME_DIR}/pscsetup.err" >&2; exit 1; }
  sleep 0.3
  peaks+=("$(awk '/^VmHWM:/ {print $2}' "/proc/$app/status")")
  kill "$app"; wait "$app" 2>/dev/null || true; app=
  times+=($(( (shown - start) / 1000000 )))
done

median() { printf '%s\n' "$@" | sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
maxof() { printf '%s\n' "$@" | sort -n | tail -1; }
echo "pscsetup start-up, $runs runs on Xvfb (start to dialog mapped, as seen by polling every 2 ms):"
echo "  median $(median "${times[@]}") ms, worst $(maxof "${times[@]}") ms"
echo "peak resident memory (VmHWM): median $(( $(median "${peaks[@]}") / 1024 )) MB, worst $(( $(maxof "${peaks[@]}") / 1024 )) MB"
