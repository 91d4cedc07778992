#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang (address and undefined-behaviour
# sanitizers) and runs each for a while; any crash, leak or sanitizer report
# fails the run.
#
#   scripts/run-fuzz.sh [-t SECONDS] [HARNESS...]
#
# HARNESS names are those listed in fuzz/CMakeLists.txt (http_response,
# http_chunked, ...); without names every built harness runs. Seeds come from
# fuzz/corpus/<first part>/<rest> (http_response: fuzz/corpus/http/response)
# or fuzz/corpus/<name>; new inputs go to the build folder, not the seeds.
set -euo pipefail

seconds=${FUZZ_SECONDS:-60}
if [ "${1:-}" = "-t" ]; then
  seconds=$2
  shift 2
fi

root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCORVANE_FUZZ=ON -DCORVANE_TESTS=OFF -DCORVANE_BENCH=OFF \
  -DCORVANE_SANITIZE=address,undefined >/dev/null

harnesses=("$@")
if [ ${#harnesses[@]} -eq 0 ]; then
  mapfile -t harnesses < <(ninja -C "$build" -t targets all |
    sed -n 's/^fuzz_\([A-Za-z0-9_]*\): phony$/\1/p' | sort -u)
fi
if [ ${#harnesses[@]} -eq 0 ]; then
  echo "run-fuzz: no harnesses found" >&2
  exit 1
fi
targets=()
for name in "${harnesses[@]}"; do targets+=("fuzz_$name"); done
ninja -C "$build" "${targets[@]}"

failed=0
for name in "${harnesses[@]}"; do
  seeds=$root/fuzz/corpus/${name/_//}
  [ -d "$seeds" ] || seeds=$root/fuzz/corpus/$name
  work=$build/fuzz-work/$name
  mkdir -p "$work"
  args=("$work")
  [ -d "$seeds" ] && args+=("$seeds")
  echo "run-fuzz: $name for ${seconds}s (seeds: ${seeds#$root/})"
  if ! (cd "$work" && "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -max_len=4096 \
        -timeout=10 -print_final_stats=1 "${args[@]}" >"$build/fuzz-$name.log" 2>&1); then
    echo "run-fuzz: $name FAILED; see $build/fuzz-$name.log" >&2
    tail -40 "$build/fuzz-$name.log" >&2
    failed=1
  else
    grep -E '^stat::number_of_executed_units|^Done' "$build/fuzz-$name.log" || true
  fi
done
exit $failed
