#!/usr/bin/env bash
# Sets up, builds and runs every test. Usage: scripts/test.sh [--sanitize] [ctest options...]
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
mode=""
if [ "${1:-}" = "--sanitize" ]; then mode=--sanitize; shift; fi
bash scripts/build.sh $mode
dir=build
[ "$mode" = "--sanitize" ] && dir=build-asan

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" "$@"
