#!/usr/bin/env bash
# Builds one benchmark optimised (-O2) in build/bench and runs it:
#   bench/run-bench.sh TARGET [arguments of the benchmark]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD_DIR:-$root/build/bench}
targets="http_download update_cycle"
if [ $# -lt 1 ] || [[ " $targets " != *" $1 "* ]]; then
  echo "usage: bench/run-bench.sh TARGET [arguments of the benchmark]   (TARGET: ${targets// /, })" >&2
  exit 2
fi
target=$1
shift
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DCORVANE_TESTS=OFF -DCORVANE_BENCH=ON >/dev/null
ninja -C "$build" "$target"
"$build/bench/$target" "$@"
