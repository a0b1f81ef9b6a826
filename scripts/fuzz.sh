#!/usr/bin/env bash
# Runs every libFuzzer target of the sanitizer build for a bounded time, seeded from fuzz/corpus/.
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shopt -s nullglob
found=0
for fuzzer in build-asan/fuzz/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  found=1
  name=$(basename "$fuzzer")
  work=$(mktemp -d)
  seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds=("fuzz/corpus/$name")
  echo "fuzz: $name for ${seconds}s"
  "$fuzzer" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
    "$work" "${seeds[@]}" 2>&1 | tail -n 12
  rm -rf "$work"
done
[ $found -eq 1 ] || { echo "fuzz: no fuzz targets were built (run scripts/build.sh --sanitize first)" >&2; exit 1; }
