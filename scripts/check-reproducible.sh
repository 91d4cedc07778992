#!/usr/bin/env bash
# Proves the Windows exe is reproducible: builds CorvaneChatBootstrap.exe
# twice from the committed tree (HEAD), in two different temporary folders
# and at two different times, and compares the SHA-256 of the results.
#
#   bash scripts/check-reproducible.sh
#
# Exits non-zero when the two exes differ.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
if [ $# -ne 0 ]; then
  echo "usage: bash scripts/check-reproducible.sh" >&2
  exit 2
fi
jobs=${JOBS:-$(nproc)}

# The copies carry no .git, so the commit time comes in from here, given
# to configure only: the build itself must carry it to the linker.
epoch=$(git log -1 --format=%ct)
commit=$(git rev-parse --short HEAD)

work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-repro.XXXXXX")
trap 'rm -rf "$work"' EXIT

build_one() {
  local src="$work/$1/src-$RANDOM"
  mkdir -p "$src"
  git archive HEAD | tar -x -C "$src"
  SOURCE_DATE_EPOCH=$epoch cmake -S "$src" -B "$src/out-$1" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-i686.cmake" -DCORVANE_BENCH=OFF >/dev/null
  cmake --build "$src/out-$1" -j "$jobs" --target corvane-bootstrap >/dev/null
  sha256sum "$src/out-$1/CorvaneChatBootstrap.exe" | cut -d' ' -f1
}

first=$(build_one a)
# A later wall-clock second, so a stamp taken from the clock would differ.
sleep 2
second=$(build_one b)

echo "commit $commit (SOURCE_DATE_EPOCH=$epoch)"
echo "build a: $first"
echo "build b: $second"
if [ "$first" != "$second" ]; then
  echo "check-reproducible: the two builds differ" >&2
  exit 1
fi
echo "check-reproducible: identical"
