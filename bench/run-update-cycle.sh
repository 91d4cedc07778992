#!/usr/bin/env bash
# Builds bench/update_cycle optimised (-O2) and runs it:
#   bench/run-update-cycle.sh [arguments of update_cycle]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD_DIR:-$root/build/bench}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DCORVANE_TESTS=OFF -DCORVANE_BENCH=ON >/dev/null
ninja -C "$build" update_cycle
"$build/bench/update_cycle" "$@"
