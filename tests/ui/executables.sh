#!/usr/bin/env bash
# kvq and kvqctl as a person or a script starts them: kvq without a display and
# with a bad argument, kvq's demo up to READY with its screenshot, kvqctl's demo.
set -u
kvq="$1"
kvqctl="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
unset KVQ_SERIAL_PORTS
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# No display: one sentence that points to the headless tool, exit code 2.
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$kvq" >out 2>err
code=$?
[ "$code" -eq 2 ] || fail "no display: exit code $code, expected 2"
[ "$(wc -l <err)" -eq 1 ] || fail "no display: expected one line, got: $(cat err)"
grep -q "kvqctl --demo status" err || fail "no display: no hint to kvqctl: $(cat err)"
[ -s out ] && fail "no display: printed on stdout: $(cat out)"

# A bad argument: says which, exit code 2, no window.
QT_QPA_PLATFORM=offscreen timeout 20 "$kvq" --port COM1 >out 2>err
code=$?
[ "$code" -eq 2 ] || fail "bad argument: exit code $code, expected 2"
grep -q "unknown argument '--port'" err || fail "bad argument: $(cat err)"

# The demo: the dialog reaches READY against the simulated actuator, saves
# its picture and ends; the demo directory goes with it.
start=$(date +%s)
QT_QPA_PLATFORM=offscreen timeout 90 "$kvq" --demo --screenshot "$work/ready.png" >out 2>err
code=$?
[ "$code" -eq 0 ] || fail "demo: exit code $code: $(cat err)"
[ "$(head -c 8 ready.png 2>/dev/null | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] ||
  fail "demo: no PNG written: $(cat err)"
grep -q "Communication has been started on serial port 1" err || fail "demo: no port report: $(cat err)"
demo_dir="$(sed -n 's/.*working directory \(.*\)$/\1/p' err)"
[ -n "$demo_dir" ] || fail "demo: did not name its directory: $(cat err)"
[ -n "$demo_dir" ] && [ -e "$demo_dir" ] && fail "demo: left $demo_dir behind"
echo "kvq --demo reached READY in $(( $(date +%s) - start )) s"

# A table in the working directory is the demo's table; its broken line is
# reported (the screenshot run says its boxes on stderr).
mkdir -p "$work/own" && cd "$work/own"
printf 'AT-VERSION\t1\nAP1721-65-18\t0\t100\t0\t27E635693256169A\tOwnPanel\nAPX\tabc\t120\n' >own.ascu
QT_QPA_PLATFORM=offscreen timeout 90 "$kvq" --demo --screenshot "$work/own.png" >out 2>err
code=$?
[ "$code" -eq 0 ] || fail "demo with own table: exit code $code: $(cat err)"
grep -q "antenna table from $work/own/own.ascu" err || fail "demo: own table not used: $(cat err)"
grep -q 'line 3: the minimum tilt "abc" is not a number; line ignored' err ||
  fail "demo: table warning not shown: $(cat err)"
cd "$work"

# The headless demo reports the simulated actuator as ready.
timeout 90 "$kvqctl" --demo --json status >out 2>err
code=$?
[ "$code" -eq 0 ] || fail "kvqctl --demo: exit code $code: $(cat err)"
last="$(tail -n 1 out)"
echo "$last" | grep -q '"state":9,' || fail "kvqctl --demo: not at rest after its check: $last"
echo "$last" | grep -q '"problemText":""' || fail "kvqctl --demo: a problem: $last"
echo "$last" | grep -q '"maxTilt":100' || fail "kvqctl --demo: tilt range missing: $last"

[ "$failures" -eq 0 ] && echo "executables: all cases passed"
exit $(( failures > 0 ))
