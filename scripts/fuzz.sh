#!/usr/bin/env bash
# Builds the fuzz targets (fuzz/) with clang's libFuzzer under AddressSanitizer
# (leak checking on) and UndefinedBehaviorSanitizer, and runs each in turn.
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET]      default 30
#
# Needs the Debian packages clang and libclang-rt-14-dev (scripts/deps.sh lists
# them); this script installs nothing. Everything it writes stays in build/fuzz:
# the build, a working corpus per target (seeded from fuzz/corpus, which is
# never modified), logs, and any input that broke a target (artifacts/).
#
# Exit status: 0 when every target ran its time clean; 1 when any target
# crashed, leaked, timed out, ran out of memory or drew a sanitizer report (all
# targets still run); 2 for a usage, tool or build error.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-30}"
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: scripts/fuzz.sh [SECONDS_PER_TARGET]  (a whole number of seconds, at least 1)" >&2
    exit 2
fi

targets=(fuzz_link fuzz_actuator fuzz_antenna_table fuzz_settings fuzz_trace)
root="$(pwd)"
out="build/fuzz"
build="$out/build"

for tool in clang clang++ cmake; do
    if ! command -v "$tool" >/dev/null; then
        echo "fuzz: $tool is missing (install clang, libclang-rt-14-dev and cmake)" >&2
        exit 2
    fi
done
mkdir -p "$out"
# libFuzzer's runtime comes with libclang-rt-14-dev, not with clang itself.
probe="$out/probe"
mkdir -p "$probe"
printf 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }\n' \
    >"$probe/probe.cpp"
if ! clang++ -fsanitize=fuzzer,address,undefined "$probe/probe.cpp" -o "$probe/probe" \
    >"$probe/log" 2>&1; then
    cat "$probe/log" >&2
    echo "fuzz: clang cannot link a libFuzzer target (install libclang-rt-14-dev)" >&2
    exit 2
fi

echo "== configure ($build, preset fuzz)"
if ! cmake --preset fuzz >"$out/configure.log" 2>&1; then
    cat "$out/configure.log" >&2
    echo "fuzz: configure failed" >&2
    exit 2
fi
echo "== build"
if ! cmake --build --preset fuzz --target "${targets[@]}" -j "$(nproc)" >"$out/build.log" 2>&1; then
    cat "$out/build.log" >&2
    echo "fuzz: build failed" >&2
    exit 2
fi
grep -E 'warning:' "$out/build.log" | sort -u || true

# Sanitizer reports end the run with a finding; none is waved through.
export ASAN_OPTIONS="detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

failed=()
summary=()
for target in "${targets[@]}"; do
    corpus="$out/corpus/$target"
    artifacts="$out/artifacts/$target"
    log="$out/logs/$target.log"
    mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
    cp -R "fuzz/corpus/$target/." "$corpus/"
    echo "== $target: ${seconds}s"
    started="$out/logs/$target.started"
    touch "$started"
    status=0
    # The targets write nothing to their working directory; run them in the
    # artifacts directory all the same, so a stray file could not land in the tree.
    (cd "$artifacts" && exec "$root/$build/fuzz/$target" \
        -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$root/$artifacts/" \
        "$root/$corpus") </dev/null >"$log" 2>&1 || status=$?

    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)"
    # Without final stats (a crash), the last status line's count.
    [ -n "$runs" ] || runs="$(grep -oE '^#[0-9]+' "$log" | tail -n1 | tr -d '#' || true)"
    speed="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n1)"
    coverage="$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -n1 || true)"
    verdict="clean"
    if [ "$status" -ne 0 ] ||
        grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:|invariant broken' \
            "$log"; then
        verdict="FOUND SOMETHING (exit $status): $(grep -m1 -E 'ERROR:|runtime error:|invariant broken' "$log" || echo 'see log')"
        failed+=("$target")
        find "$artifacts" -type f -newer "$started" | sed 's|^|    artifact: |'

    fi
    line="$target: ${runs:-?} executions, ${speed:-?}/s, ${coverage:-cov ?} — $verdict"
    summary+=("$line")
    echo "   $line"
done

echo "== summary (${seconds}s per target; logs in $out/logs)"
printf '   %s\n' "${summary[@]}"
if [ ${#failed[@]} -ne 0 ]; then
    echo "fuzz: findings in ${failed[*]}" >&2
    exit 1
fi
echo "fuzz: all targets clean"
