#!/usr/bin/env bash
# Fetches the library sources named in deps/sources.lock from the Debian
# archive apt is configured with, checks every file's size and SHA-256, and
# unpacks each with Debian's patches applied. Prints one line per library:
#   NAME DEBIAN_VERSION SOURCE_DIR
#
#   scripts/deps-fetch.sh
#
# Sources land in $CORVANE_DEPS_CACHE/src (default ~/.cache/corvane-deps).
# A library whose unpacked tree was made from checked files of the same lock
# rows is not fetched again. A missing file or a wrong hash fails, naming the
# file, and leaves no unpacked tree behind.
set -euo pipefail
deps_name=deps-fetch
. "$(dirname "$0")/deps-common.sh"

[ $# -eq 0 ] || { echo "usage: scripts/deps-fetch.sh" >&2; exit 2; }
for tool in curl sha256sum dpkg-source apt-get; do
  command -v "$tool" >/dev/null || deps_die "$tool not found (run scripts/install-deps.sh first)"
done
[ -f "$deps_lock" ] || deps_die "no lock file at $deps_lock"

src=$deps_cache/src
mkdir -p "$src"

for name in $(deps_lock_rows | awk '$1 == "library" { print $2 }'); do
  read -r _ _ version dir < <(deps_lock_rows | awk -v n="$name" '$1 == "library" && $2 == n')
  rows=$(deps_lock_rows | awk -v n="$name" '$2 == n')
  tree=$src/$name-$version
  # The stamp holds the lock rows the tree was made from.
  if [ -d "$tree" ] && [ "$(cat "$tree.stamp" 2>/dev/null || true)" = "$rows" ]; then
    echo "$name $version $tree"
    continue
  fi
  rm -rf "$tree" "$tree.stamp" "$src/download-$name"
  mkdir -p "$src/download-$name"
  dsc=
  while read -r _ _ sha size file; do
    deps_fetch_checked "$dir" "$file" "$sha" "$size" "$src/download-$name/$file" || exit 1
    case "$file" in *.dsc) dsc=$file ;; esac
  done < <(deps_lock_rows | awk -v n="$name" '$1 == "file" && $2 == n')
  [ -n "$dsc" ] || deps_die "the lock names no .dsc for $name"
  # Every file dpkg-source reads was checked above; --no-check only skips
  # the signature of the .dsc, whose key the machine need not have.
  (cd "$src/download-$name" &&
    dpkg-source --no-check -x "$dsc" "$tree" >"$src/$name-unpack.log" 2>&1) ||
    { rm -rf "$tree"; deps_die "dpkg-source could not unpack $dsc (see $src/$name-unpack.log)"; }
  got=$(dpkg-parsechangelog -l "$tree/debian/changelog" -S Version)
  [ "$got" = "$version" ] || { rm -rf "$tree"; deps_die "$dsc unpacked to Debian version $got, the lock says $version"; }
  rm -rf "$src/download-$name"
  printf '%s\n' "$rows" >"$tree.stamp"
  deps_log "$name $version checked and unpacked"
  echo "$name $version $tree"
done
