#!/usr/bin/env bash
# Idle cost of the tool connected to a simulated actuator and at READY, side by
# side: `kvqctl monitor` without a trace, `kvqctl --trace FILE monitor` and
# `kvq` (whose dialog always keeps its line trace for "Save Line Trace..."),
# started together and measured over the same window, so that a machine
# others load weighs on all three alike. Per program: CPU share of one core
# (schedstat, summed over its threads), wake-ups per second (voluntary context
# switches: the thread slept and was woken) and preemptions per second
# (involuntary switches, which mostly tell how loaded the machine is), and the
# busiest threads.
#   bench/idle/idle-cost.sh [--demo] [--runs N] [BUILD_DIR] [SECONDS]
# --demo: each program runs its own simulated actuator in the process on the
# in-memory line (`--demo`; its threads count with the program's); without
# it, each runs against a `vlx400-sim` of its own on a pseudo-terminal.
# BUILD_DIR (build/default) holds sim/vlx400-sim, src/cli/kvqctl and
# src/ui/kvq; SECONDS (20) is the window. kvq runs on the display in DISPLAY,
# else on Qt's offscreen platform (run the script under xvfb-run -a for a
# virtual X display). A benchmark, not a test: it prints figures and asserts
# nothing.
set -euo pipefail
cd "$(dirname "$0")/../.."
demo=0
runs=1
while [ $# -gt 0 ]; do
  case "$1" in
    --demo) demo=1; shift ;;
    --runs) runs="$2"; shift 2 ;;
    -h|--help) sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) break ;;
  esac
done
build="${1:-build/default}"
window="${2:-20}"
case "$build" in /*) ;; *) build="$PWD/$build" ;; esac
work="$(mktemp -d)"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cp examples/*.ascu "$work/"
: >"$work/results"
names=("kvqctl" "kvqctl --trace" "kvq")

# A simulated actuator of its own for one program: prints its device path.
start_sim() {
  local out="$work/sim-$1.out"
  "$build/sim/vlx400-sim" --model AP2627-33-21 --tilt 2.5 >"$out" 2>/dev/null &
  pids+=($!)
  for _ in $(seq 100); do
    [ -s "$out" ] && break
    sleep 0.05
  done
  head -1 "$out"
}

# Starts program i in the background; its pid in started.
start() {
  local i="$1" port=() env=() dialog=()
  if [ "$demo" = 1 ]; then
    port=(--demo)
    dialog=(--demo)
  else
    local dev
    dev="$(start_sim "$i")"
    port=(--port "$dev")
    env=("KVQ_SERIAL_PORTS=COM1=$dev")
  fi
  case "$i" in
    0) (cd "$work" && exec "$build/src/cli/kvqctl" "${port[@]}" monitor) >"$work/out-0" 2>&1 & ;;
    1) (cd "$work" && exec "$build/src/cli/kvqctl" "${port[@]}" --trace "$work/line.trace" monitor) \
         >"$work/out-1" 2>&1 & ;;
    2) local qpa=()
       [ -n "${DISPLAY:-}" ] || qpa=("QT_QPA_PLATFORM=offscreen")
       (cd "$work" && exec env "${env[@]}" "${qpa[@]}" "$build/src/ui/kvq" "${dialog[@]}") \
         >"$work/out-2" 2>&1 & ;;
  esac
  started=$!
  pids+=("$started")
}

# Per thread: id, name, CPU time in nanoseconds (schedstat, exact where clock
# ticks are 10 ms coarse), voluntary and involuntary context switches.
sample() {
  local pid="$1" task
  for task in /proc/"$pid"/task/*; do
    [ -r "$task/schedstat" ] || continue
    printf '%s %s %s %s %s\n' "$(basename "$task")" "$(tr ' ' _ <"$task/comm")" \
      "$(cut -d' ' -f1 "$task/schedstat")" \
      "$(awk '/^voluntary_ctxt_switches/ { print $2 }' "$task/status")" \
      "$(awk '/^nonvoluntary_ctxt_switches/ { print $2 }' "$task/status")"
  done
}

# The machine's busy share of all its cores, from /proc/stat.
busy() {
  awk '/^cpu / { idle = $5 + $6; total = 0; for (i = 2; i <= NF; i++) total += $i; print total, idle }' /proc/stat
}

# One line per program: name, cpu %, wake-ups/s, preemptions/s, threads.
measure() {
  local i start end
  for i in "${!program[@]}"; do sample "${program[$i]}" >"$work/before-$i"; done
  busy >"$work/busy-before"
  start=$(date +%s.%N)
  sleep "$window"
  for i in "${!program[@]}"; do sample "${program[$i]}" >"$work/after-$i"; done
  busy >"$work/busy-after"
  end=$(date +%s.%N)
  for i in "${!program[@]}"; do
    join "$work/before-$i" "$work/after-$i" | awk -v n="${names[$i]}" -v a="$start" -v b="$end" '
      { d = b - a; cpu = ($7 - $3) / 1e9 / d * 100; v = ($8 - $4) / d; f = ($9 - $5) / d
        total += cpu; wakes += v; preempt += f
        if (v >= 0.5 || cpu >= 0.005) threads = threads sprintf(" %s %.2f%% %.0f/s;", $2, cpu, v) }
      END { printf "%s\t%.3f\t%.1f\t%.1f\t%s\n", n, total, wakes, preempt, threads }'
  done >>"$work/results"
  paste "$work/busy-before" "$work/busy-after" | awk -v l="$(cut -d' ' -f1-3 /proc/loadavg)" '
    { total = $3 - $1; idle = $4 - $2
      printf "machine\t%.0f\tload average %s\n", (total - idle) / total * 100, l }' >>"$work/results"
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

mode="against vlx400-sim on a pseudo-terminal"
[ "$demo" = 1 ] && mode="--demo (the simulated actuator in the process)"
echo "idle cost at READY, $mode, $runs run(s) of ${window} s, $(nproc) cores"
for run in $(seq "$runs"); do
  program=()
  for i in 0 1 2; do
    start "$i"
    program[$i]=$started
  done
  wait_ready "$work/out-0"
  wait_ready "$work/out-1"
  # The dialog prints nothing: it shows READY about 6 s after its start.
  sleep 8
  before=$(wc -l <"$work/results")
  measure
  printf 'run %d\n' "$run"
  tail -n +"$((before + 1))" "$work/results" | awk -F'\t' '
    $1 == "machine" { printf "  machine busy %s %% of all cores, %s\n", $2, $3; next }
    { printf "  %-15s cpu %6.3f %% of a core  %6.1f wake-ups/s  %5.1f preempted/s  (%s )\n",
             $1, $2, $3, $4, $5 }'
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  pids=()
  rm -f "$work"/out-* "$work"/sim-*.out "$work/line.trace"
done

# Each program's mean over the runs, and its ratio to kvqctl without a trace.
echo "mean of $runs run(s) (ratio to kvqctl without a trace)"
awk -F'\t' '
  $1 == "machine" { busy += $2; m++; next }
  { cpu[$1] += $2; wake[$1] += $3; pre[$1] += $4; n[$1]++ }
  END {
    base = "kvqctl"; bc = cpu[base] / n[base]; bw = wake[base] / n[base]
    split("kvqctl|kvqctl --trace|kvq", order, "|")
    for (k = 1; k <= 3; k++) {
      p = order[k]; c = cpu[p] / n[p]; w = wake[p] / n[p]
      printf "  %-15s cpu %6.3f %% (%.2f)  %6.1f wake-ups/s (%.2f)  %5.1f preempted/s\n",
             p, c, (bc > 0 ? c / bc : 0), w, (bw > 0 ? w / bw : 0), pre[p] / n[p]
    }
    printf "  machine busy %.0f %% of all cores on average while measured\n", busy / m
  }' "$work/results"
