#!/usr/bin/env bash
# deps-fetch.sh refuses what the lock does not vouch for, naming the file:
# each row changes one file's line of a copy of the lock, and the fetch into
# an empty cache must fail with the row's message and leave no unpacked tree.
#   tests/check_deps_fetch.sh
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dsc=$(awk '$1 == "file" && $2 == "expat" && $5 ~ /\.dsc$/ { print $5 }' "$repo/deps/sources.lock")
sha=$(awk -v f="$dsc" '$5 == f { print $3 }' "$repo/deps/sources.lock")
# sed expression on the .dsc's line | message expected on standard error
rows=(
  "s/$sha/$(printf '%064d' 0)/|$dsc: SHA-256 $sha, the lock says $(printf '%064d' 0)"
  "/$dsc/s/ [0-9]* $dsc/ 1 $dsc/|$dsc: "
  "s/$dsc/missing-$dsc/|missing-$dsc: not served by any archive apt is configured with"
)
failed=0
for row in "${rows[@]}"; do
  edit=${row%%|*} want=${row#*|}
  sed "$edit" "$repo/deps/sources.lock" >"$work/lock"
  rm -rf "$work/cache"
  if CORVANE_DEPS_LOCK=$work/lock CORVANE_DEPS_CACHE=$work/cache \
    bash "$repo/scripts/deps-fetch.sh" >"$work/out" 2>"$work/err"; then
    echo "FAILED: '$edit' was fetched" >&2
    failed=1
  elif ! grep -qF "$want" "$work/err"; then
    echo "FAILED: '$edit' said: $(cat "$work/err"); expected: $want" >&2
    failed=1
  elif compgen -G "$work/cache/src/expat-*/" >/dev/null; then
    echo "FAILED: '$edit' left an unpacked tree" >&2
    failed=1
  fi
done
exit $failed
