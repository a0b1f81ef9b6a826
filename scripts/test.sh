#!/usr/bin/env bash
# Sets up, builds and runs every test. Usage: scripts/test.sh [--sanitize | --threads] [ctest options...]
# With CI set, a skipped test fails the run: CI has every peer the tests need installed by
# scripts/setup.sh, so a skip there means a missing setup step, not a reason.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh --tests
mode=""
case "${1:-}" in --sanitize | --threads) mode=$1; shift ;; esac
bash scripts/build.sh $mode
dir=build
[ "$mode" = "--sanitize" ] && dir=build-asan
[ "$mode" = "--threads" ] && dir=build-tsan

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# Qt and the libraries below it are not instrumented; the few reports of theirs are listed there.
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp}
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" "$@" 2>&1 | tee "$log" || status=$?
# ctest marks a skipped test "***Skipped" (and lists it as "(Skipped)" at the end).
if [ -n "${CI:-}" ] && grep -qE '\*\*\*Skipped|\(Skipped\)' "$log"; then
  echo "test: these tests were skipped, which CI does not allow (a peer or setup step is missing):" >&2
  grep -E '\*\*\*Skipped|\(Skipped\)' "$log" >&2
  status=1
fi
exit $status
