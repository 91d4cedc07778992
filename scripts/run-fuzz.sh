#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang (address and undefined-behaviour
# sanitizers) and runs each for a while, two at a time; any crash, leak or
# sanitizer report fails the run.
#
#   scripts/run-fuzz.sh [-t SECONDS | SECONDS] [HARNESS...]
#
# SECONDS per harness defaults to FUZZ_SECONDS, else 60; FUZZ_JOBS harnesses
# run at once (default 2). HARNESS names are those listed in
# fuzz/CMakeLists.txt (http_response, url, path, ...); without names every
# harness runs. Seeds come from fuzz/corpus/<first part>/<rest>
# (http_response: fuzz/corpus/http/response) or fuzz/corpus/<name>; new
# inputs go to the build folder (FUZZ_BUILD_DIR, default build/fuzz), not
# the seeds.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
usage() {
  echo "usage: scripts/run-fuzz.sh [-t SECONDS | SECONDS] [HARNESS...]" >&2
  echo "harnesses: $(known_harnesses | tr '\n' ' ')" >&2
  exit 2
}
known_harnesses() {
  sed -n '/^set(CORVANE_FUZZ_HARNESSES/,/)/p' "$root/fuzz/CMakeLists.txt" |
    sed 's/set(CORVANE_FUZZ_HARNESSES//; s/)//' | tr -s ' \t' '\n' | sed '/^$/d'
}
is_count() {
  case "$1" in
    '' | *[!0-9]* | 0) return 1 ;;
    *) return 0 ;;
  esac
}

seconds=${FUZZ_SECONDS:-60}
jobs=${FUZZ_JOBS:-2}
case "${1:-}" in
  -h | --help) usage ;;
  -t)
    [ $# -ge 2 ] || usage
    seconds=$2
    shift 2
    ;;
  -*) usage ;;
  *)
    if [ $# -gt 0 ] && is_count "$1"; then
      seconds=$1
      shift
    fi
    ;;
esac
is_count "$seconds" || usage
is_count "$jobs" || usage

mapfile -t known < <(known_harnesses)
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] || harnesses=("${known[@]}")
for name in "${harnesses[@]}"; do
  found=0
  for candidate in "${known[@]}"; do
    [ "$name" = "$candidate" ] && found=1
  done
  if [ $found -eq 0 ]; then
    echo "run-fuzz: no harness named '$name'" >&2
    usage
  fi
done
command -v clang++ >/dev/null || { echo "run-fuzz: clang++ is needed" >&2; exit 1; }

build=${FUZZ_BUILD_DIR:-$root/build/fuzz}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCORVANE_FUZZ=ON -DCORVANE_TESTS=OFF -DCORVANE_BENCH=OFF \
  -DCORVANE_SANITIZE=address,undefined >/dev/null
targets=()
for name in "${harnesses[@]}"; do targets+=("fuzz_$name"); done
ninja -C "$build" -j2 "${targets[@]}"

# Runs one harness; its exit status is libFuzzer's.
run_one() {
  local name=$1 seeds work
  seeds=$root/fuzz/corpus/${name/_//}
  [ -d "$seeds" ] || seeds=$root/fuzz/corpus/$name
  work=$build/fuzz-work/$name
  mkdir -p "$work"
  local args=("$work")
  [ -d "$seeds" ] && args+=("$seeds")
  (cd "$work" && "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -max_len=4096 \
    -timeout=10 -print_final_stats=1 "${args[@]}" >"$build/fuzz-$name.log" 2>&1)
}

report() {
  local name=$1 status=$2
  if [ "$status" -ne 0 ]; then
    echo "run-fuzz: $name FAILED; see $build/fuzz-$name.log" >&2
    tail -40 "$build/fuzz-$name.log" >&2
    failed=1
  else
    echo "run-fuzz: $name: $(grep -E '^stat::number_of_executed_units' "$build/fuzz-$name.log" |
      tr -s ' ' | cut -d' ' -f2) runs in ${seconds}s"
  fi
}

echo "run-fuzz: ${#harnesses[@]} harnesses, ${seconds}s each, $jobs at a time"
failed=0
declare -A running=()
for name in "${harnesses[@]}"; do
  while [ ${#running[@]} -ge "$jobs" ]; do
    status=0
    wait -n -p done_pid "${!running[@]}" || status=$?
    report "${running[$done_pid]}" "$status"
    unset "running[$done_pid]"
  done
  run_one "$name" &
  running[$!]=$name
done
while [ ${#running[@]} -gt 0 ]; do
  status=0
  wait -n -p done_pid "${!running[@]}" || status=$?
  report "${running[$done_pid]}" "$status"
  unset "running[$done_pid]"
done
exit $failed
