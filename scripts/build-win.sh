#!/usr/bin/env bash
# The 32-bit Windows build: the tool and its Wine-run tests in build/win
# (configure cross-builds the pinned Mbed TLS and expat once, cached).
set -euo pipefail
if [ $# -ne 0 ]; then
  echo "usage: bash scripts/build-win.sh" >&2
  exit 2
fi
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
cmake -S . -B build/win -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" -DCORVANE_BENCH=OFF >/dev/null
cmake --build build/win -j "$(nproc)"
