#!/usr/bin/env bash
# Time from pressing Install in the tool's test build to the program file of
# a signed 64 MiB release in place, under Wine on a virtual display, the
# release over HTTPS from the tests' loopback nginx (tests/wine/with_nginx.py);
# prints every run, the median, and the TLS version and suite nginx saw.
#   bench/run-wine-install.sh [BUILD_DIR [runs]]     (default: build/win, 5)
# BUILD_DIR is a Windows cross build; it is configured with the tests and the
# benches on, and the test build of the tool and bench/wine_install are
# (re)built in it first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/win}
runs=${2:-5}
case "$runs" in
  '' | *[!0-9]* | 0) bad=1 ;;
  *) bad=0 ;;
esac
if [ $# -gt 2 ] || [ "$bad" -ne 0 ]; then
  echo "usage: bench/run-wine-install.sh [BUILD_DIR [runs]]   (runs: a positive number)" >&2
  exit 2
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
fi
cmake -S "$root" -B "$build" -DCORVANE_TESTS=ON -DCORVANE_BENCH=ON >/dev/null
ninja -C "$build" -j2 wine_install
build=$(cd "$build" && pwd)
# shellcheck source=../scripts/wine-env.sh
. "$root/scripts/wine-env.sh" "$build"
wine_prefix_init
wineserver -p
# with_nginx.py's nginx logs each request's TLS version and suite.
# shellcheck disable=SC2016
xvfb-run -a python3 "$root/tests/wine/with_nginx.py" bash -c '
  wine "$@"
  status=$?
  echo "requests by TLS version and suite:"
  sort "$CORVANE_WINE_ACCESS_LOG" | uniq -c
  wineserver -k
  exit $status' bash "$build/bench/wine_install.exe" "$runs"
