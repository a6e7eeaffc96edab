# Shared by tools/run-windows-tests.sh and tools/render-wine-screenshot.sh (sourced, not run):
# a Wine prefix of our own under build-windows/, an Xvfb display, the simulated controller on a
# pseudo-terminal mapped to a COM name of our own, and the windows of pscsetup.exe found with
# xdotool. No COM name ever leads to /dev/ttyS*, /dev/ttyUSB* or /dev/ttyACM*.
#
# Callers set ROOT (the source tree) first. Everything started here is recorded and stopped by
# wine_session_stop, by process id.

WIN_BUILD=${WIN_BUILD:-$ROOT/build-windows}
NATIVE_BUILD=${NATIVE_BUILD:-$ROOT/build-native-w}
PSCSETUP_EXE=$WIN_BUILD/platform/win32/pscsetup.exe
DIALOG_CAPTION='电源开关控制器设置软件'

export WINEPREFIX=$WIN_BUILD/wineprefix
export WINEDEBUG=-all
export WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer dialogs

_session_pids=()
_session_tmp=""

# The simulated controller: the Linux build's, or one built here for the purpose.
find_pscsim() {
  if [ -x "$ROOT/build/sim/pscsim" ]; then
    PSCSIM=$ROOT/build/sim/pscsim
    return
  fi
  if [ ! -x "$NATIVE_BUILD/sim/pscsim" ]; then
    echo "building pscsim natively in $NATIVE_BUILD"
    cmake -S "$ROOT" -B "$NATIVE_BUILD" -DCMAKE_BUILD_TYPE=Release -DPSC_BUILD_DIALOG=OFF \
      -DPSC_BUILD_TESTS=OFF >/dev/null
    cmake --build "$NATIVE_BUILD" --target pscsim -j2 >/dev/null
  fi
  PSCSIM=$NATIVE_BUILD/sim/pscsim
}

# Removes every COM link that leads to a real serial device. Wine's mount manager makes
# such links (com1 -> /dev/ttyS0, ...) when its services start; none may stay.
drop_real_com_links() {
  local link target
  for link in "$WINEPREFIX"/dosdevices/com*; do
    [ -L "$link" ] || continue
    target=$(readlink "$link")
    case "$target" in
      /dev/ttyS*|/dev/ttyUSB*|/dev/ttyACM*) rm -f "$link" ;;
    esac
  done
}

# Creates the prefix once, sets the font replacements (the dialog's Song face and the
# shell dialog faces -> AR PL UMing CN) and Wine's own window frames, starts a wineserver
# for the session and clears the real COM links it made.
wine_session_start() {
  [ -n "$_session_tmp" ] || _session_tmp=$(mktemp -d)
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "creating the Wine prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
  cat >"$_session_tmp/settings.reg.utf8" <<'EOF'
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"SimSun"="AR PL UMing CN"
"宋体"="AR PL UMing CN"
"MS Shell Dlg"="AR PL UMing CN"
"MS Shell Dlg 2"="AR PL UMing CN"

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Decorated"="N"
EOF
  # regedit reads UTF-16 files with their byte-order mark.
  { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE "$_session_tmp/settings.reg.utf8"; } \
    >"$_session_tmp/settings.reg"
  # The server's own output (it dumps its objects when a pseudo-terminal it holds hangs up)
  # goes to a log of its own.
  wineserver -p 300 >"$WIN_BUILD/wineserver.log" 2>&1
  wine regedit /S "$(winepath -w "$_session_tmp/settings.reg" 2>/dev/null)" >/dev/null 2>&1
  # Starting a program starts the services, and with them the mount manager's COM links.
  wine cmd /c exit >/dev/null 2>&1
  drop_real_com_links
}

# An Xvfb display of its own: DISPLAY is set for what follows. Start it before the Wine
# session, whose desktop process takes the display it finds.
start_xvfb() {
  [ -n "$_session_tmp" ] || _session_tmp=$(mktemp -d)
  local fdfile=$_session_tmp/display
  Xvfb -displayfd 3 -noreset -screen 0 1024x768x24 -nolisten tcp 3>"$fdfile" >"$_session_tmp/xvfb.log" 2>&1 &
  _session_pids+=($!)
  local i
  for i in $(seq 100); do
    [ -s "$fdfile" ] && break
    sleep 0.1
  done
  export DISPLAY=":$(head -1 "$fdfile")"
}

# start_sim COMn LOGFILE [pscsim options...]: the controller on a pseudo-terminal that
# the prefix's COMn leads to. Sets SIM_PID.
start_sim() {
  local com=$1 log=$2
  shift 2
  local name
  name=$(echo "$com" | tr 'A-Z' 'a-z')
  "$PSCSIM" --link "$WINEPREFIX/dosdevices/$name" "$@" >"$log" 2>&1 &
  SIM_PID=$!
  _session_pids+=("$SIM_PID")
  local i
  for i in $(seq 100); do
    grep -q ' -> /dev/pts/' "$log" 2>/dev/null && return 0
    sleep 0.05
  done
  echo "pscsim did not start: $(cat "$log")" >&2
  return 1
}

stop_pid() {
  local pid=$1
  kill "$pid" 2>/dev/null || return 0
  local i
  for i in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -9 "$pid" 2>/dev/null || true
}

# Starts pscsetup.exe; sets APP_PID and APP_WINDOW (the dialog's X window).
start_pscsetup() {
  drop_real_com_links
  wine "$PSCSETUP_EXE" >"$_session_tmp/pscsetup.log" 2>&1 &
  APP_PID=$!
  _session_pids+=("$APP_PID")
  APP_WINDOW=$(wait_window "$DIALOG_CAPTION" 60) || return 1
  xdotool windowfocus --sync "$APP_WINDOW" 2>/dev/null || xdotool windowfocus "$APP_WINDOW"
  sleep 0.5
}

# wait_window NAME SECONDS: prints the id of the first window whose name contains NAME.
wait_window() {
  local name=$1 seconds=$2 id
  local deadline=$((SECONDS + seconds))
  while [ $SECONDS -le $deadline ]; do
    id=$(xdotool search --onlyvisible --name "$name" 2>/dev/null | head -1)
    if [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    sleep 0.05
  done
  return 1
}

# wait_no_window NAME SECONDS
wait_no_window() {
  local name=$1 seconds=$2
  local deadline=$((SECONDS + seconds))
  while [ $SECONDS -le $deadline ]; do
    xdotool search --onlyvisible --name "$name" >/dev/null 2>&1 || return 0
    sleep 0.05
  done
  return 1
}

# Keys to the window that has the focus, spaced out so that Wine takes each one.
keys() {
  xdotool key --delay 120 "$@"
  sleep 0.3
}

wine_session_stop() {
  local i
  for ((i = ${#_session_pids[@]} - 1; i >= 0; i--)); do
    stop_pid "${_session_pids[i]}"
  done
  _session_pids=()
  wineserver -k >/dev/null 2>&1 || true
  drop_real_com_links
  [ -n "$_session_tmp" ] && rm -rf "$_session_tmp"
  _session_tmp=""
}
