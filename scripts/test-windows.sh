#!/usr/bin/env bash
# The Windows build, tested under Wine: builds the windows preset (mingw-w64)
# and vlx400-sim for Linux, then, in a throw-away Wine prefix on a virtual X
# display, runs the unit suites of the Windows build (the native dialog's
# among them), end-to-end checks of kvqctl.exe against simulated actuators on
# pseudo-terminals mapped as COM ports, and kvq.exe's demo to a picture at
# READY. Every wait is bounded; the whole run takes about four minutes.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
started=$(date +%s)

echo "== windows build"
scripts/build.sh windows
cmake --preset default >/dev/null
cmake --build --preset default --target vlx400-sim

build="$root/build/windows"
kvqctl="$build/src/cli/kvqctl.exe"
sim="$root/build/default/sim/vlx400-sim"

work="$(mktemp -d "${TMPDIR:-/tmp}/kvq-windows.XXXXXX")"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEARCH=win64
# No Mono or Gecko installer prompts in a fresh prefix.
export WINEDLLOVERRIDES="mscoree,mshtml="
# Wine turns Unix file names and arguments into Windows' wide text by the
# locale's character set: UTF-8, so the names outside ASCII below arrive whole.
export LC_ALL=C.UTF-8
sim_pids=()
xvfb_pid=""
cleanup() {
  for pid in "${sim_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  timeout 20 wineserver -k >/dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The dialog needs a display: a virtual one, on the first free number.
echo "== virtual display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
[ -s "$work/display" ] || { echo "test-windows: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

echo "== wine prefix"
timeout 180 wineboot -i >"$work/wineboot.log" 2>&1 || { cat "$work/wineboot.log"; exit 1; }
# No window manager runs on the virtual display: Wine draws the captions and
# frames itself.
for value in Decorated Managed; do
  timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v "$value" /d N /f >/dev/null 2>&1
done

# start_sim COMn [options]: a simulated actuator on a new pseudo-terminal,
# mapped as COMn. The mapping takes effect at the next start of wineserver.
start_sim() {
  local port="$1"
  shift
  "$sim" "$@" >"$work/sim-$port.out" 2>"$work/sim-$port.err" &
  sim_pids+=("$!")
  local pty=""
  for _ in $(seq 50); do
    pty="$(head -n1 "$work/sim-$port.out" 2>/dev/null || true)"
    [ -n "$pty" ] && break
    sleep 0.1
  done
  [ -n "$pty" ] || { echo "test-windows: the simulator for $port did not start" >&2; exit 1; }
  timeout 60 wine reg add 'HKLM\Software\Wine\Ports' /v "$port" /d "$pty" /f >/dev/null 2>&1
}

start_sim COM5 --serial WIN0000042 --version 01.23 --model AP1721-65-18 --tilt-speed 20
start_sim COM6 --serial WIN0000043 --version 01.23 --model AP1721-65-18
# At 2.0 degrees: inside the range of the model it changes to.
start_sim COM7 --serial WIN0000044 --version 01.23 --model AP1721-65-18 --tilt 2.0
start_sim COM8 --serial WIN0000045
timeout 20 wineserver -k >/dev/null 2>&1 || true

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

echo "== windows unit suites"
while read -r suite; do
  [ -n "$suite" ] || continue
  exe="$(find "$build/tests" -name "$suite.exe" | head -n1)"
  if KVQ_TEST_SIM_PORT=COM8 timeout 300 wine "$exe" --gtest_brief=1 </dev/null >"$work/$suite.log" 2>&1; then
    echo "$suite: $(grep -E '^\[  PASSED' "$work/$suite.log")"
  else
    cat "$work/$suite.log" >&2
    fail "$suite"
  fi
done <"$build/windows-tests.txt"

echo "== kvqctl.exe end to end"
# A working directory as a technician's: the antenna table, and for the
# download a firmware file of another version than the actuator's. Its name is
# outside ASCII and has a blank, as a user's folder can.
dir="$work/Jörg's site"
mkdir -p "$dir"
cp examples/KVQ_SAMPLE.ascu "$dir/"

# kvqctl NAME ARGS...: runs kvqctl.exe in the site directory; output in
# $work/NAME.out and .err, exit code in $rc.
kvqctl() {
  local name="$1"
  shift
  rc=0
  (cd "$dir" && timeout 120 wine "$kvqctl" "$@" </dev/null >"$work/$name.out" 2>"$work/$name.err") || rc=$?
}
expect_rc() {  # NAME WANTED
  [ "$rc" -eq "$2" ] || { fail "$1: exit code $rc, not $2"; sed 's/^/    /' "$work/$1.out" "$work/$1.err" >&2; }
}
expect_json() {  # NAME "KEY":VALUE ... (in the last line, the final object)
  local name="$1" last
  shift
  last="$(tail -n1 "$work/$name.out" | tr -d '\r')"
  for field in "$@"; do
    grep -qF -- "$field" <<<"$last" || fail "$name: no $field in $last"
  done
}
expect_err() {  # NAME TEXT
  tr -d '\r' <"$work/$1.err" | grep -qF -- "$2" || { fail "$1: stderr lacks '$2'"; sed 's/^/    /' "$work/$1.err" >&2; }
}

kvqctl status --port COM5 --json status
expect_rc status 0
expect_json status '"statusLine1":"READY"' '"serialNumber":"WIN0000042"' \
  '"softwareVersion":"01.23"' '"antennaModel":"Panel65-1710-2170-18dBi"' '"minTilt":0' \
  '"maxTilt":100' '"currentTilt":0'

kvqctl set-tilt --port COM5 --json set-tilt 6.5
expect_rc set-tilt 0
expect_json set-tilt '"statusLine1":"READY"' '"currentTilt":65' '"requestedTilt":65'

kvqctl outside --port COM5 set-tilt 12.5
expect_rc outside 2
expect_err outside "outside the range of antenna model"

kvqctl change-model --port COM7 --json change-model Panel90-1695-2690-16dBi
expect_rc change-model 0
expect_json change-model '"statusLine1":"READY"' '"antennaModel":"Panel90-1695-2690-16dBi"' \
  '"minTilt":20' '"maxTilt":100' '"currentTilt":20'

# The download: a file of version 02.00 beside an actuator at 01.23.
{
  printf '\001\000'
  printf '02.00'
  head -c 3 /dev/zero
  head -c 1000 /dev/zero | tr '\0' '\125'
} >"$dir/vlx400fw.bin"
# Only update-firmware writes the software; status names both versions.
kvqctl firmware-status --port COM6 --json status
expect_rc firmware-status 0
expect_json firmware-status '"softwareVersion":"01.23"' '"firmwareFileVersion":"02.00"'
expect_err firmware-status "kvqctl update-firmware"
kvqctl firmware --port COM6 --json update-firmware
rm -f "$dir/vlx400fw.bin"
expect_rc firmware 0
expect_json firmware '"statusLine1":"READY"' '"serialNumber":"WIN0000043"' '"softwareVersion":"02.00"'

# The demo: the simulated actuator inside the process, on the in-memory line.
kvqctl demo --demo --json status
expect_rc demo 0
expect_json demo '"statusLine1":"READY"' '"serialNumber":"XXXT0000001"'

# Trace files named on the command line: relative (made absolute against the
# site directory) and with a Cyrillic name; each starts with its title.
for name in line-trace.txt "Иван.txt"; do
  rm -f "$dir/$name"
  kvqctl trace --demo --trace "$name" status
  expect_rc trace 0
  head -n1 "$dir/$name" 2>/dev/null | grep -q "^# kvqctl line trace" ||
    fail "trace: no trace file $name with its title in the site directory"
done

# Why an open failed, in the same sentences as on Linux.
kvqctl missing --port COM9 status
expect_rc missing 4
expect_err missing "Cannot open serial port COM9: the port does not exist or is not connected."

# A port another kvqctl.exe holds: busy. The holder then ends on Ctrl-C.
(cd "$dir" && exec timeout 120 wine "$kvqctl" --port COM5 monitor </dev/null >"$work/holder.out" 2>"$work/holder.err") &
holder=$!
for _ in $(seq 100); do
  grep -q "READY" "$work/holder.out" 2>/dev/null && break
  sleep 0.1
done
grep -q "READY" "$work/holder.out" || fail "holder: the monitor did not reach READY"
kvqctl busy --port COM5 status
expect_rc busy 4
expect_err busy "another program is using it. Close that program and try again."
# timeout passes the interrupt on to the program.
kill -INT "$holder"
holder_rc=0
wait "$holder" || holder_rc=$?
[ "$holder_rc" -eq 130 ] || fail "holder: exit code $holder_rc after Ctrl-C, not 130"

echo "== kvq.exe"
# The demo to READY, its picture saved, then closed; the picture stays in the
# build tree (docs/kvq-windows-ready.png is one of them).
kvq="$build/src/ui/kvq.exe"
picture="$build/kvq-windows-ready.png"
rm -f "$picture"
rc=0
(cd "$dir" && timeout 180 wine "$kvq" --demo --screenshot "$(winepath -w "$picture")" \
  </dev/null >"$work/kvq.out" 2>"$work/kvq.err") || rc=$?
expect_rc kvq 0
expect_err kvq "Communication has been started on serial port 1."
# A PNG as wide and high as the dialog: 401 x 279 dialog units and more.
if [ -s "$picture" ] && [ "$(head -c 8 "$picture" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ]; then
  width=$((16#$(od -An -tx1 -j16 -N4 "$picture" | tr -d ' \n')))
  height=$((16#$(od -An -tx1 -j20 -N4 "$picture" | tr -d ' \n')))
  { [ "$width" -ge 600 ] && [ "$height" -ge 450 ]; } || fail "kvq: the picture is $width x $height"
  echo "kvq.exe at READY: $picture ($width x $height)"
else
  fail "kvq: no picture at $picture"
fi

# Closing during a move asks first; unattended, the answer is yes.
rc=0
(cd "$dir" && timeout 180 wine "$kvq" --demo --screenshot "$(winepath -w "$work/moving.png")" \
  --screenshot-then close-while-moving </dev/null >"$work/kvq-moving.out" 2>"$work/kvq-moving.err") || rc=$?
expect_rc kvq-moving 0
expect_err kvq-moving "Close Configuration Tool: The actuator is moving to a new tilt."
# Each box was shown, taken and answered: the port report, then the question.
for box in 1 2; do
  [ -s "$work/moving-box$box.png" ] || fail "kvq-moving: no picture of box $box"
done

echo "== package"
# The zip as a technician gets it: unpacked elsewhere, its demo started from
# another folder finds the sample table beside the programs.
scripts/package-windows.sh >"$work/package.log" 2>&1 || { cat "$work/package.log" >&2; fail "package-windows.sh"; }
if [ -s build/kvq-windows-x64.zip ]; then
  mkdir -p "$work/unpacked" "$work/elsewhere"
  unzip -q build/kvq-windows-x64.zip -d "$work/unpacked"
  rc=0
  (cd "$work/elsewhere" && timeout 120 wine "$work/unpacked/kvq-windows-x64/kvqctl.exe" --demo --json status \
    </dev/null >"$work/packaged.out" 2>"$work/packaged.err") || rc=$?
  expect_rc packaged 0
  expect_json packaged '"statusLine1":"READY"'
  # The dialog too, its sample table the one beside it.
  rc=0
  (cd "$work/elsewhere" && timeout 180 wine "$work/unpacked/kvq-windows-x64/kvq.exe" --demo \
    --screenshot "$(winepath -w "$work/packaged.png")" </dev/null >"$work/packaged-kvq.out" \
    2>"$work/packaged-kvq.err") || rc=$?
  expect_rc packaged-kvq 0
  expect_err packaged-kvq 'kvq-windows-x64\examples\KVQ_SAMPLE.ascu'
else
  fail "package-windows.sh made no build/kvq-windows-x64.zip"
fi

echo "windows run: $(($(date +%s) - started)) s"
if [ "$failures" -ne 0 ]; then
  echo "test-windows: $failures check(s) failed" >&2
  exit 1
fi
echo "test-windows: all passed"
