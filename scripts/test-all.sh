#!/usr/bin/env bash
# The whole test suite, as CI runs it on a fresh Debian 12 machine (as root):
# dependencies, format check, native build and tests, sanitizer builds, the
# Windows cross build with its tests under Wine, and the fuzzers.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
jobs=$(nproc)
fuzz_seconds=${FUZZ_SECONDS:-60}

step() { printf '\n==== %s\n' "$*"; }

step "dependencies"
bash scripts/install-deps.sh

step "format"
bash scripts/check-format.sh

step "native build and tests"
cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build/native -j "$jobs"
ctest --test-dir build/native --output-on-failure -j "$jobs" -LE wine

step "core tests under AddressSanitizer and UndefinedBehaviorSanitizer"
CC=clang CXX=clang++ cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCORVANE_SANITIZE=address,undefined -DCORVANE_BENCH=OFF >/dev/null
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build/asan --output-on-failure -j "$jobs" -L core

step "threaded tests under ThreadSanitizer"
CC=clang CXX=clang++ cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCORVANE_SANITIZE=thread -DCORVANE_BENCH=OFF >/dev/null
cmake --build build/tsan -j "$jobs"
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build/tsan --output-on-failure -j "$jobs" -L threads

step "Windows cross build"
bash scripts/build-win.sh

step "Windows tests under Wine"
# shellcheck source=scripts/wine-env.sh
. scripts/wine-env.sh "$top/build/win"
wine_prefix_init
xvfb-run -a ctest --test-dir build/win --output-on-failure -L wine

step "reproducible Windows exe"
bash scripts/check-reproducible.sh "$top/build/win-deps"

step "fuzzing, ${fuzz_seconds} s per harness, two at a time"
bash scripts/run-fuzz.sh -t "$fuzz_seconds"

step "all tests passed"
