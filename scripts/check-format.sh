#!/usr/bin/env bash
# Fails when any C++ source of the project differs from the repo's
# .clang-format. Build folders (and whatever else is not part of the
# sources) are never scanned.
#
#   bash scripts/check-format.sh
set -euo pipefail
if [ $# -ne 0 ]; then
  echo "usage: bash scripts/check-format.sh" >&2
  exit 2
fi
cd "$(dirname "$0")/.."

files=()
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  while IFS= read -r -d '' f; do files+=("$f"); done \
    < <(git ls-files -z -- '*.cpp' '*.h')
else
  while IFS= read -r -d '' f; do files+=("$f"); done \
    < <(find . \( -path ./build -o -path './build-*' -o -path ./.git \) -prune \
          -o -type f \( -name '*.cpp' -o -name '*.h' \) -print0)
fi
[ ${#files[@]} -gt 0 ] || { echo "format: no sources found" >&2; exit 1; }
clang-format-16 --dry-run --Werror -- "${files[@]}"

# Product constants are PREFIX_NAME, never kName; clang-format cannot say so.
if grep -nE '\bconst\b[^=;(]*\bk[A-Z][A-Za-z0-9]*[[:space:]]*(\[|=)' \
    -r --include='*.cpp' --include='*.h' core http update ui platform tools; then
  echo "format: constants above are named kName; use PREFIX_NAME" >&2
  exit 1
fi
echo "format: ${#files[@]} files clean"
