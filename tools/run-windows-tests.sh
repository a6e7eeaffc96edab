#!/usr/bin/env bash
# The Windows build and its tests, on Linux: cross-builds pscsetup.exe and the unit tests with
# mingw-w64, checks the executable (size, imported DLLs, resources), runs the unit tests under
# Wine, and drives pscsetup.exe under Wine and Xvfb against the simulated controller on a
# pseudo-terminal mapped to COM5 (COM6 is left unmapped: a port that does not exist).
# Usage: tools/run-windows-tests.sh [--no-deps]
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"

[ "${1:-}" = "--no-deps" ] || tools/setup-deps.sh windows || exit 1
tools/build-windows.sh --no-deps || { echo "FAIL: the Windows build"; exit 1; }

# shellcheck source=tools/wine-session.sh
source tools/wine-session.sh
LOGS=$WIN_BUILD/test-logs
rm -rf "$LOGS"
mkdir -p "$LOGS"

results=()
failures=0
pass() { results+=("PASS  $1"); echo "PASS  $1"; }
fail() { results+=("FAIL  $1"); echo "FAIL  $1"; failures=$((failures + 1)); }
check() {  # check NAME COMMAND...
  local name=$1
  shift
  if "$@"; then pass "$name"; else fail "$name"; fi
}

trap 'wine_session_stop' EXIT

# --- The executable -------------------------------------------------------------------------
size=$(stat -c %s "$PSCSETUP_EXE")
dlls=$(x86_64-w64-mingw32-objdump -p "$PSCSETUP_EXE" | sed -n 's/^\s*DLL Name: //p' | sort -f | tr '\n' ' ')
echo "pscsetup.exe: $size bytes; imports: $dlls"
check "pscsetup.exe is under 1 MB ($size bytes)" test "$size" -lt 1048576
only_system_dlls() {
  local dll
  for dll in $dlls; do
    case "$(echo "$dll" | tr 'a-z' 'A-Z')" in
      KERNEL32.DLL|USER32.DLL|GDI32.DLL|MSVCRT.DLL|ADVAPI32.DLL|SHELL32.DLL|COMCTL32.DLL|UCRTBASE.DLL|API-MS-WIN-CRT-*) ;;
      *) echo "  not a system DLL: $dll"; return 1 ;;
    esac
  done
}
check "pscsetup.exe imports system DLLs only ($dlls)" only_system_dlls

ico=$WIN_BUILD/platform/win32/pscsetup.ico
icon_sizes() {
  local got
  got=$(identify -format '%wx%h %z\n' "$ico" 2>/dev/null | sort | tr '\n' ';')
  [ "$got" = "16x16 4;32x32 4;" ] || { echo "  icon images: $got"; return 1; }
}
check "icon: 32x32 and 16x16 images, 16 colours" icon_sizes
# The version block and its description, as the resource compiler stores them (UTF-16).
version_resource() {
  python3 - "$PSCSETUP_EXE" <<'EOF'
import sys
data = open(sys.argv[1], 'rb').read()
need = ['080404b0', 'FileDescription', '电源开关控制器设置软件', '1.0.0.1']
missing = [s for s in need if s.encode('utf-16-le') not in data]
# VS_FIXEDFILEINFO: signature, structure version, file version 1.0 and 0.1.
fixed = bytes.fromhex('bd04effe' '00000100' '00000100' '01000000')
if missing or fixed not in data:
    print('  missing in the version resource:', missing, '' if fixed in data else 'FILEVERSION 1.0.0.1')
    sys.exit(1)
EOF
}
check "version resource 1.0.0.1, Chinese (PRC), caption as description" version_resource

# --- Unit tests under Wine ------------------------------------------------------------------
# Wine's desktop process takes the display it finds at the session's start.
start_xvfb
echo "Xvfb on $DISPLAY"
wine_session_start
if wine "$WIN_BUILD/tests/unit_tests.exe" >"$LOGS/unit_tests.log" 2>&1 && grep -q '^\[  PASSED  \]' "$LOGS/unit_tests.log"; then
  pass "unit tests under Wine: $(grep '^\[==========\]' "$LOGS/unit_tests.log" | tail -1 | sed 's/^\[==========\] //')"
else
  tail -30 "$LOGS/unit_tests.log"
  fail "unit tests under Wine (log: $LOGS/unit_tests.log)"
fi

# --- pscsetup.exe under Wine and Xvfb ---------------------------------------------------------
find_pscsim

# press KEYS... then expect a message box with CAPTION within SECONDS; closes it with Enter.
# Sets BOX_SECONDS to how long the box took to come.
expect_box() {
  local caption=$1 seconds=$2
  shift 2
  local start box
  start=$(date +%s.%N)
  xdotool key --delay 120 "$@"
  box=$(wait_window "$caption" "$seconds") || return 1
  BOX_SECONDS=$(python3 -c "import sys; print(f'{float(sys.argv[1]) - float(sys.argv[2]):.2f}')" "$(date +%s.%N)" "$start")
  sleep 0.3
  xdotool windowfocus "$box" 2>/dev/null
  keys Return
  wait_no_window "$caption" 5 || return 1
  xdotool windowfocus "$APP_WINDOW" 2>/dev/null
  sleep 0.3
}

sim_saw() {  # sim_saw LOG PATTERN: the trace has a line starting with PATTERN
  grep -q "^$2" "$1"
}

app_ended() {
  local i
  for i in $(seq 100); do
    kill -0 "$APP_PID" 2>/dev/null || return 0
    sleep 0.1
  done
  return 1
}

# Run 1: a controller that answers. Tab order from the focused "打开串口": COM list, then
# (once the port is open) the four other buttons come before it.
SIM_LOG=$LOGS/sim-answering.log
if start_sim COM5 "$SIM_LOG" && start_pscsetup; then
  pass "pscsetup.exe shows its dialog under Wine"
  # A port with nothing behind it: COM6.
  keys Tab Down Down Down Down Down
  check "opening COM6 (no such port) fails with a message" expect_box '错误' 10 shift+Tab space
  # COM5: opens; the focus passes from the disabled "打开串口" to the COM list.
  keys Tab Up shift+Tab space
  # "读取状态" is the previous control before the COM list.
  check "read status at 01 succeeds" expect_box '成功' 10 shift+Tab space
  check "read status puts 01 03 02 on the wire and gets the status" \
    bash -c "grep -q '^rx 01 03 02 A1 31' '$SIM_LOG' && grep -q '^tx 01 02 01' '$SIM_LOG'"
  # Second working mode: the mode list is three Tabs on from "读取状态".
  keys Tab Tab Tab Down
  check "set mode 1 at 01 succeeds" expect_box '成功' 10 shift+Tab shift+Tab shift+Tab shift+Tab space
  check "set mode puts 01 05 01 on the wire" \
    bash -c "grep -q '^rx 01 05 01 ' '$SIM_LOG' && grep -q '^tx 01 01 00 ' '$SIM_LOG'"
  # Address 05: the address list is three Tabs on from "设置模式".
  keys Tab Tab Tab Down Down Down Down
  check "set address 05 succeeds" expect_box '成功' 10 shift+Tab shift+Tab shift+Tab shift+Tab space
  check "set address puts F0 04 05 on the wire" \
    bash -c "grep -q '^rx F0 04 05 ' '$SIM_LOG' && grep -q '^tx 05 05 00 ' '$SIM_LOG'"
  check "read status at the new address 05 succeeds" expect_box '成功' 10 Tab Tab space
  check "read status at 05 puts 05 03 02 on the wire" \
    bash -c "grep -q '^rx 05 03 02 ' '$SIM_LOG' && grep -q '^tx 05 02 01 ' '$SIM_LOG'"
  check "each command took one exchange (4 requests on the wire)" \
    test "$(grep -c '^rx ' "$SIM_LOG")" -eq 4
  keys Escape
  check "Escape ends pscsetup.exe" app_ended
else
  fail "pscsetup.exe shows its dialog under Wine"
fi
stop_pid "$APP_PID"
stop_pid "$SIM_PID"

# Run 2: a controller that stays silent.
SIM_LOG=$LOGS/sim-silent.log
if start_sim COM5 "$SIM_LOG" --silent && start_pscsetup; then
  keys Tab Down Down Down Down shift+Tab space
  if expect_box '错误' 10 shift+Tab space; then
    pass "read status with a silent controller fails after ${BOX_SECONDS} s"
    check "the failure came after 2.5 s and within 3.5 s" \
      python3 -c "import sys; sys.exit(0 if 2.5 <= $BOX_SECONDS <= 3.5 else 1)"
  else
    fail "read status with a silent controller fails with a message"
  fi
  check "five transmissions of 01 03 02 to the silent controller" \
    test "$(grep -c '^rx 01 03 02 A1 31' "$SIM_LOG")" -eq 5
  keys Escape
  check "Escape ends pscsetup.exe" app_ended
else
  fail "pscsetup.exe shows its dialog under Wine (silent controller)"
fi

wine_session_stop
trap - EXIT

echo
echo "== Windows tests =="
printf '%s\n' "${results[@]}"
echo "pscsetup.exe: $size bytes; imports: $dlls"
if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed; logs in $LOGS"
  exit 1
fi
echo "all passed"
