#!/usr/bin/env bash
# Everything the project promises, from a fresh machine: installs what is
# missing, builds, and runs the whole suite in the normal build, again under
# AddressSanitizer + UndefinedBehaviorSanitizer, the threaded tests under
# ThreadSanitizer, each fuzz target for 30 seconds (scripts/fuzz.sh), and the
# Windows build under Wine (scripts/test-windows.sh), and the Debian package
# built, checked, installed, run and removed (scripts/test-package.sh); first
# it checks that every include in src/ points down the layers (scripts/check-layers.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
echo "== layers"
scripts/check-layers.sh

# Most suites wait on a simulated line far more than they compute: twice as many
# at once as there are cores keeps both cores busy.
jobs="$(( $(nproc) * 2 ))"
run() {
  local preset="$1"
  echo "== $preset build"
  scripts/build.sh "$preset"
  echo "== $preset tests"
  ctest --preset "$preset" -j "$jobs"
}

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"

run default
run asan
run tsan
echo "== fuzz"
scripts/fuzz.sh 30
echo "== windows"
scripts/test-windows.sh
echo "== package"
timeout 2400 scripts/test-package.sh
echo "all test runs passed"
