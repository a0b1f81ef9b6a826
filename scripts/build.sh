#!/usr/bin/env bash
# Configures and builds. Usage: scripts/build.sh [--sanitize]
#   (default)    build/        g++, RelWithDebInfo, everything including the window
#   --sanitize   build-asan/   clang with AddressSanitizer + UndefinedBehaviorSanitizer, plus the
#                              libFuzzer targets; no window (Qt Widgets is not instrumented)
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-}
case "$mode" in
  "")
    dir=build
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    ;;
  --sanitize)
    dir=build-asan
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DLINOGRAF_SANITIZE=ON -DLINOGRAF_FUZZ=ON -DLINOGRAF_GUI=OFF -DLINOGRAF_BENCH=OFF >/dev/null
    ;;
  *) echo "usage: $0 [--sanitize]" >&2; exit 2 ;;
esac
cmake --build "$dir" -j "$(nproc)"
