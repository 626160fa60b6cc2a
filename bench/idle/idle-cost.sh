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

# Per thread: id, name, CPU time in nanoseconds (schedstat, exact where
# clock ticks are 10 ms coarse) and context switches.
sample() {
  local pid="$1" task
  for task in /proc/"$pid"/task/*; do
    [ -r "$task/schedstat" ] || continue
    printf '%s %s %s %s\n' "$(basename "$task")" "$(tr ' ' _ <"$task/comm")" \
      "$(cut -d' ' -f1 "$task/schedstat")" \
      "$(awk '/ctxt_switches/ { s += $2 } END { print s }' "$task/status")"
  done
}

measure() {
  local name="$1" pid="$2" start end
  sample "$pid" >"$work/before"
  start=$(date +%s.%N)
  sleep "$window"
  sample "$pid" >"$work/after"
  end=$(date +%s.%N)
  join "$work/before" "$work/after" | awk -v n="$name" -v a="$start" -v b="$end" '
    { d = b - a; cpu = ($6 - $3) / 1e9 / d * 100; cs = ($7 - $4) / d
      total += cpu; switches += cs
      if (cs > 0 || cpu > 0.005) threads = threads sprintf("  %s %.2f %% %.0f/s;", $2, cpu, cs) }
    END { printf "%-16s cpu %.2f %% of a core, %.0f context switches/s over %.1f s (%s )\n",
                 n, total, switches, b - a, threads }'
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
