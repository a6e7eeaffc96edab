#!/usr/bin/env bash
# Sets up what is missing, builds everything and runs every test suite:
#   1. Windows: the portable unit tests cross-built with mingw-w64 under Wine, and the
#      dialog smoke test of pscsetup.exe under Wine and Xvfb;
#   2. the whole Linux suite under AddressSanitizer and UndefinedBehaviorSanitizer;
#   3. a bounded fuzzing run of the exchange, and a short soak against the faulty simulator;
#   4. last, the Linux suite (unit, termios against the simulator, the Qt dialog headless),
#      whose ctest summary ends the output.
# Exits non-zero when any of them fails.
set -uo pipefail
cd "$(dirname "$0")/.."

tools/setup-deps.sh all || exit 1

failed=()
step() {
  local name=$1; shift
  echo
  echo "=== $name"
  if "$@"; then echo "=== $name: passed"; else echo "=== $name: FAILED"; failed+=("$name"); fi
}

[ -x tools/run-windows-tests.sh ] && step "Windows build and tests under Wine" tools/run-windows-tests.sh
[ -x tools/run-sanitizers.sh ] && step "Sanitizer build and tests" tools/run-sanitizers.sh
[ -x tools/run-fuzz.sh ] && step "Fuzzing the exchange" tools/run-fuzz.sh "${PSC_FUZZ_SECONDS:-60}"
[ -x tools/run-soak.sh ] && step "Soak against the faulty simulator" tools/run-soak.sh

step "Linux build" bash -c 'cmake --preset default >/dev/null && cmake --build --preset default'

# The other suites' outcome first, so that the Linux suite's own summary closes the output.
echo
if [ ${#failed[@]} -ne 0 ]; then
  echo "Failed: ${failed[*]}"
else
  echo "Windows, sanitizer, fuzzing and soak runs passed."
fi

echo
echo "=== Linux tests (unit, termios against the simulator, the Qt dialog headless)"
ctest_rc=1
[[ " ${failed[*]} " == *" Linux build "* ]] || { ctest --preset default; ctest_rc=$?; }
[ ${#failed[@]} -eq 0 ] && [ "$ctest_rc" -eq 0 ]
