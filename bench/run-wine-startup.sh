#!/usr/bin/env bash
# Time from starting CorvaneChatBootstrap.exe to its window being shown, under
# Wine on a virtual display; prints every run and the median.
#   bench/run-wine-startup.sh [BUILD_DIR [runs]]     (default: build/win, 10)
# BUILD_DIR is a Windows cross build; it is configured with the benches on and
# the tool and bench/wine_startup are (re)built in it first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/win}
runs=${2:-10}
case "$runs" in
  '' | *[!0-9]* | 0) bad=1 ;;
  *) bad=0 ;;
esac
if [ $# -gt 2 ] || [ "$bad" -ne 0 ]; then
  echo "usage: bench/run-wine-startup.sh [BUILD_DIR [runs]]   (runs: a positive number)" >&2
  exit 2
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DCORVANE_TESTS=OFF >/dev/null
fi
# A build folder made with the benches off gets them turned on.
cmake -S "$root" -B "$build" -DCORVANE_BENCH=ON >/dev/null
ninja -C "$build" -j2 corvane-bootstrap wine_startup
build=$(cd "$build" && pwd)
# shellcheck source=../scripts/wine-env.sh
. "$root/scripts/wine-env.sh" "$build"
wine_prefix_init
# wineserver is started beforehand so the first run does not also pay for
# it, and ended while the display is still up so Wine's helpers leave quietly.
wineserver -p
xvfb-run -a sh -c 'wine "$1" "$2" "$3"; status=$?; wineserver -k; exit $status' sh \
  "$build/bench/wine_startup.exe" "$build/CorvaneChatBootstrap.exe" "$runs"
