#!/usr/bin/env bash
# Sets up, builds and runs the benchmarks. Usage: scripts/bench.sh [NAME...] [-- BENCHMARK_OPTIONS...]
#   scripts/bench.sh                          every benchmark in bench/, one after another
#   scripts/bench.sh biff_read_bench          one of them
#   scripts/bench.sh live_log_bench -- --benchmark_repetitions=3
# Each reports its figures beside a peer or a physical floor measured in the same run (README).
set -euo pipefail
cd "$(dirname "$0")/.."

names=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do names+=("$1"); shift; done
[ "${1:-}" = "--" ] && shift
bash scripts/setup.sh --tests
bash scripts/build.sh --bench
if [ ${#names[@]} -eq 0 ]; then
  for source in bench/*_bench.cpp; do names+=("$(basename "$source" .cpp)"); done
fi
for name in "${names[@]}"; do
  [ -x "build/bench/$name" ] || { echo "bench: build/bench/$name was not built" >&2; exit 1; }
  echo "== $name"
  "build/bench/$name" "$@"
done
