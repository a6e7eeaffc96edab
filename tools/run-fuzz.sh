#!/usr/bin/env bash
# Builds the libFuzzer target of the exchange with clang in build-fuzz and fuzzes it for
# N seconds (default 60):  tools/run-fuzz.sh [seconds]
# It works on a copy of the seeds (build-fuzz/corpus; fuzz/corpus stays untouched), keeps
# what it learns there for the next run, and prints executions, time and corpus size.
# Exits non-zero when the fuzzer finds a crash, a broken promise of the exchange, a hang
# or a leak; the input that did it is left in build-fuzz/crashes/.
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
build=build-fuzz

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPSC_BUILD_FUZZ=ON -DPSC_BUILD_TESTS=OFF -DPSC_BUILD_DIALOG=OFF >/dev/null || exit 1
cmake --build "$build" -j2 --target transact_fuzzer || exit 1

corpus=$build/corpus
crashes=$build/crashes
mkdir -p "$corpus" "$crashes"
cp -n fuzz/corpus/* "$corpus"/

log=$build/fuzz.log
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
start=$(date +%s)
"$build"/fuzz/transact_fuzzer -max_total_time="$seconds" -max_len=4096 -timeout=10 \
  -print_final_stats=1 -artifact_prefix="$crashes"/ "$corpus" >"$log" 2>&1
rc=$?
elapsed=$(( $(date +%s) - start ))

runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
echo "fuzz: ${runs:-?} executions in ${elapsed} s (${rate:-?}/s), corpus $(ls "$corpus" | wc -l) inputs" \
     "($(ls fuzz/corpus | wc -l) seeds)"
if [ $rc -ne 0 ]; then
  grep -B2 -A30 'promise broken\|ERROR:\|runtime error' "$log" | head -60
  echo "fuzz: FAILED (exit $rc), inputs in $crashes:"
  ls -l "$crashes"
  exit 1
fi
echo "fuzz: no crash"
