#!/usr/bin/env bash
# Idle cost of the tool connected to a simulated actuator and at READY: CPU
# share of one core and context switches per second, summed over every thread
# of the tool's process, measured over a window after READY.
#   bench/idle/idle-cost.sh [BUILD_DIR] [SECONDS]
# Prints one line each for `kvqctl monitor` and for `kvq` (under Xvfb when
# there is no display). A benchmark, not a test: it prints figures and
# asserts nothing.
set -euo pipefail
cd "$(dirname "$0")/../.."
build="${1:-build/default}"
window="${2:-30}"
work="$(mktemp -d)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cp examples/*.ascu "$work/"

start_sim() {
  "$build/sim/vlx400-sim" --model AP2627-33-21 --tilt 2.5 >"$work/sim.out" 2>/dev/null &
  pids+=($!)
  for _ in $(seq 100); do
    [ -s "$work/sim.out" ] && break
    sleep 0.05
  done
  head -1 "$work/sim.out"
}

# Sums utime+stime (clock ticks) and context switches over every thread.
sample() {
  local pid="$1" ticks=0 switches=0
  for task in /proc/"$pid"/task/*; do
    read -r -a stat <"$task/stat" || continue
    # Fields after the command name: utime is the 14th, stime the 15th field.
    local rest="${stat[*]}"
    rest="${rest##*) }"
    read -r -a f <<<"$rest"
    ticks=$((ticks + f[11] + f[12]))
    local v n
    v=$(awk '/^voluntary_ctxt_switches/ {print $2}' "$task/status")
    n=$(awk '/^nonvoluntary_ctxt_switches/ {print $2}' "$task/status")
    switches=$((switches + v + n))
  done
  echo "$ticks $switches"
}

measure() {
  local name="$1" pid="$2" hz
  hz=$(getconf CLK_TCK)
  read -r t0 s0 < <(sample "$pid")
  local start end
  start=$(date +%s.%N)
  sleep "$window"
  read -r t1 s1 < <(sample "$pid")
  end=$(date +%s.%N)
  awk -v n="$name" -v t="$((t1 - t0))" -v s="$((s1 - s0))" -v hz="$hz" -v a="$start" -v b="$end" \
    'BEGIN { d = b - a; printf "%-16s cpu %.2f %% of a core, %.0f context switches/s over %.1f s\n", n, 100 * t / hz / d, s / d, d }'
}

wait_ready() {
  local file="$1"
  for _ in $(seq 300); do
    grep -q "READY" "$file" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "idle-cost: no READY in $file" >&2
  return 1
}

root="$PWD"
# kvqctl monitor, connected and idle at READY.
dev="$(start_sim)"
(cd "$work" && exec "$root/$build/src/cli/kvqctl" --port "$dev" monitor) >"$work/monitor.out" 2>&1 &
pids+=($!)
monitor=$!
wait_ready "$work/monitor.out"
sleep 2
measure "kvqctl monitor" "$monitor"
kill "$monitor"
kill "${pids[0]}"
wait 2>/dev/null || true
pids=()

# kvq at READY, the simulator offered as COM1.
dev="$(start_sim)"
display=()
if [ -z "${DISPLAY:-}" ]; then display=(xvfb-run -a); fi
(cd "$work" && KVQ_SERIAL_PORTS="COM1=$dev" exec "${display[@]}" "$root/$build/src/ui/kvq") \
  >"$work/kvq.out" 2>&1 &
pids+=($!)
kvq=""
for _ in $(seq 100); do
  kvq="$(pgrep -n -f "^$root/$build/src/ui/kvq\$" || true)"
  [ -n "$kvq" ] && break
  sleep 0.1
done
[ -n "$kvq" ] || { echo "idle-cost: kvq did not start" >&2; exit 1; }
# The dialog shows READY about 6 s after start; give it 10.
sleep 10
measure "kvq" "$kvq"
