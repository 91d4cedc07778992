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

step "all native tests under AddressSanitizer and UndefinedBehaviorSanitizer"
CC=clang CXX=clang++ cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCORVANE_SANITIZE=address,undefined -DCORVANE_BENCH=OFF >/dev/null
cmake --build build/asan -j "$jobs"
# Two at a time: the tool tests run servers and the tool as a child, and a
# sanitized child is slow enough that more would only crowd each other. The
# options reach that child too, so a leak or a fault there fails its test.
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan --output-on-failure -j 2 -L 'core|http|update|ui'

step "threaded, update and tool tests under ThreadSanitizer"
CC=clang CXX=clang++ cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCORVANE_SANITIZE=thread -DCORVANE_BENCH=OFF >/dev/null
cmake --build build/tsan -j "$jobs"
# Threads that end unjoined are no fault here: the tool keeps a thread's
# handle for the life of the process, as on Windows, and never joins it.
TSAN_OPTIONS="halt_on_error=1 report_thread_leaks=0" \
  ctest --test-dir build/tsan --output-on-failure -j 2 -L 'threads|update|ui'

step "one Install and one Repair of the tool under valgrind memcheck"
# The native build's tool, unsanitized, under memcheck: any error, or a block
# definitely lost at exit, makes valgrind's exit code fail the test.
# Both must run: a renamed test would otherwise leave the step passing on
# the other alone.
CORVANE_TOOL_WRAPPER="$(command -v valgrind) -q --error-exitcode=97 --leak-check=full \
--errors-for-leak-kinds=definite --show-leak-kinds=definite" \
  ctest --test-dir build/native --output-on-failure -R \
  '^(Script/InstallScriptTest.InstallCreatesTheFoldersRunsTheCycleAndStartsTheChatProgram/ScriptWaits|RepairTest.SuccessShowsCancelOnlyDuringTheCycleAndStartsNothing)( |$)' |
  tee build/native/valgrind-step.log
grep -q 'tests passed, 0 tests failed out of 2$' build/native/valgrind-step.log ||
  { echo "test-all: the Install and the Repair under valgrind did not both run" >&2; exit 1; }

step "Windows cross build"
bash scripts/build-win.sh

step "Windows tests under Wine"
# shellcheck source=scripts/wine-env.sh
. scripts/wine-env.sh "$top/build/win"
wine_prefix_init
xvfb-run -a ctest --test-dir build/win --output-on-failure -L wine

step "reproducible Windows exe"
bash scripts/check-reproducible.sh

step "fuzzing, ${fuzz_seconds} s per harness, two at a time"
bash scripts/run-fuzz.sh -t "$fuzz_seconds"

step "all tests passed"
