#!/usr/bin/env bash
# The 32-bit Windows build: cross-built Mbed TLS and expat (cached), then
# the tool and its Wine-run tests in build/win.
set -euo pipefail
if [ $# -ne 0 ]; then
  echo "usage: bash scripts/build-win.sh" >&2
  exit 2
fi
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
deps="$top/build/win-deps"
bash scripts/build-win-deps.sh "$deps"
cmake -S . -B build/win -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" \
  -DCORVANE_WIN_DEPS_PREFIX="$deps" -DCORVANE_BENCH=OFF >/dev/null
cmake --build build/win -j "$(nproc)"
