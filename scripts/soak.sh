#!/usr/bin/env bash
# The soak run: installs what is missing, builds kvq_soak (optimised, with debug
# information) in build/soak and runs it; every argument goes to kvq_soak.
#
#   scripts/soak.sh                       30 minutes, 200 moves, 1% of answers corrupted
#   scripts/soak.sh --quick               a two-minute check
#   scripts/soak.sh --minutes 120 --moves 800 --csv build/soak/memory.csv
#
# kvq_soak --help lists its options. The exit status is kvq_soak's (0: passed;
# 1: a move timed out or was falsely reported done, memory grew, or a worker did
# not end on stop; 2: usage or set-up error), or 2 when the build fails.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh

build="build/soak"
mkdir -p "$build"
if ! cmake --preset soak >"$build/configure.log" 2>&1; then
    cat "$build/configure.log" >&2
    echo "soak: configure failed" >&2
    exit 2
fi
if ! cmake --build --preset soak --target kvq_soak -j "$(nproc)" >"$build/build.log" 2>&1; then
    cat "$build/build.log" >&2
    echo "soak: build failed" >&2
    exit 2
fi
exec "$build/bench/soak/kvq_soak" "$@"
