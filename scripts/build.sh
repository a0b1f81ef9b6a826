#!/usr/bin/env bash
# Configures and builds. Usage: scripts/build.sh [--sanitize | --threads | --bench | --program]
#   (default)    build/        g++, RelWithDebInfo: the program and the tests
#   --program    build/        the same configuration, but only the program
#   --bench      build/        the same configuration with the benchmarks, and builds them too
#   --sanitize   build-asan/   clang with AddressSanitizer + UndefinedBehaviorSanitizer, the tests (the
#                              windows' too, offscreen) and the libFuzzer targets
#   --threads    build-tsan/   clang with ThreadSanitizer: the tests of the serial port and the core
# With CI set, warnings are errors.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-}
dir=build
options=(-G Ninja)
if [ -n "${CI:-}" ]; then options+=(-DLINOGRAF_WERROR=ON); fi
targets=()
case "$mode" in
  "") options+=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DLINOGRAF_TESTS=ON) ;;
  # Without the tests, so the packages of `scripts/setup.sh` alone are enough.
  --program) options+=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DLINOGRAF_TESTS=OFF); targets=(--target linograf) ;;
  --bench) options+=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DLINOGRAF_TESTS=ON -DLINOGRAF_BENCH=ON) ;;
  --sanitize)
    dir=build-asan
    options+=(-DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
              -DLINOGRAF_SANITIZE=ON -DLINOGRAF_FUZZ=ON -DLINOGRAF_GUI=ON -DLINOGRAF_BENCH=OFF)
    ;;
  --threads)
    dir=build-tsan
    options+=(-DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
              -DLINOGRAF_THREAD_SANITIZE=ON -DLINOGRAF_GUI=OFF -DLINOGRAF_BENCH=OFF)
    ;;
  *) echo "usage: $0 [--sanitize | --threads | --bench | --program]" >&2; exit 2 ;;
esac
# The benchmarks are built only when asked for (scripts/bench.sh).
if [ -z "$mode" ]; then options+=(-DLINOGRAF_BENCH=OFF); fi
cmake -S . -B "$dir" "${options[@]}"
cmake --build "$dir" -j "$(nproc)" "${targets[@]}"
