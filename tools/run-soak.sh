#!/usr/bin/env bash
# Builds pscsoak (build-soak) and runs a short soak for CI: the three device operations
# through the real termios port against the simulated controller on a pseudo-terminal,
# its faults switched at random between exchanges. About a minute and a half.
#   tools/run-soak.sh [exchanges] [seed]
# Prints the seed and the counts; exits non-zero on any wrong result or hang.
set -uo pipefail
cd "$(dirname "$0")/.."

exchanges=${1:-1200}
seed=${2:-$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')}
build=build-soak

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPSC_BUILD_DIALOG=OFF >/dev/null || exit 1
cmake --build "$build" -j2 --target pscsoak || exit 1

"$build"/soak/pscsoak --exchanges "$exchanges" --seed "$seed" --time-scale 10
