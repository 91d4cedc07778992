#!/usr/bin/env bash
# Shows, for each library of deps/sources.lock, the versions the Debian
# archive apt is configured with lists, newest first, and which of them it
# serves whole (every file of the source package, with the size and SHA-256
# its Sources index gives). With --write, pins into the lock the newest one
# served whole of the pinned major version (expat ships its security fixes
# as new minor versions; a new major version changes the interfaces the tool
# calls and is a port, not an upload to take).
#
#   scripts/deps-newest.sh [--write] [SUITE...]
#
# The suites searched default to Debian's stable, testing and unstable
# lines with their security and update suites; give others to search
# those. The archive's own Sources indexes are read: no host is named here.
set -euo pipefail
deps_name=deps-newest
. "$(dirname "$0")/deps-common.sh"

write=0
if [ "${1:-}" = "--write" ]; then
  write=1
  shift
fi
suites=("$@")
[ ${#suites[@]} -gt 0 ] ||
  suites=(bookworm bookworm-updates bookworm-security trixie trixie-updates trixie-security
    forky sid)
for tool in curl xz sha256sum; do
  command -v "$tool" >/dev/null || deps_die "$tool not found (run scripts/install-deps.sh first)"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Every Sources stanza of our libraries, from every suite any archive has,
# as lines "NAME VERSION DIRECTORY SHA256 SIZE FILE", one per file.
names=$(deps_lock_rows | awk '$1 == "library" { print $2 }' | tr '\n' ' ')
for base in $(deps_archives); do
  for suite in "${suites[@]}"; do
    out=$work/$(echo "$base$suite" | tr -c 'a-zA-Z0-9' _).xz
    curl -fsS -o "$out" "${base%/}/dists/$suite/main/source/Sources.xz" 2>/dev/null || continue
    xz -dc "$out" | awk -v names=" $names " '
      /^Package: / { p = $2; v = ""; d = ""; n = 0; sums = 0 }
      /^Version: / { v = $2 }
      /^Directory: / { d = $2 }
      /^Checksums-Sha256:/ { sums = 1; next }
      /^[^ ]/ { sums = 0 }
      sums && /^ / { f[n++] = $1 " " $2 " " $3 }
      /^$/ { if (index(names, " " p " ")) for (i = 0; i < n; i++) print p, v, d, f[i]; n = 0 }
      END { if (index(names, " " p " ")) for (i = 0; i < n; i++) print p, v, d, f[i] }
    ' >>"$work/files"
  done
done
[ -s "$work/files" ] || deps_die "no archive apt is configured with has a Sources index for: $names"
sort -u "$work/files" -o "$work/files"

for name in $names; do
  pinned=$(deps_lock_version "$name")
  line=$(deps_upstream "$pinned" | cut -d. -f1).x
  echo "$name (pinned $pinned):"
  newest=
  for version in $(awk -v n="$name" '$1 == n { print $2 }' "$work/files" | sort -u | sort -rV); do
    whole=yes
    while read -r _ _ dir sha size file; do
      deps_fetch_checked "$dir" "$file" "$sha" "$size" "$work/probe" 2>/dev/null || whole=no
      rm -f "$work/probe"
      [ "$whole" = yes ] || break
    done < <(awk -v n="$name" -v v="$version" '$1 == n && $2 == v' "$work/files")
    echo "  $version: $([ "$whole" = yes ] && echo "served whole" || echo "listed, not served whole")"
    if [ "$whole" = yes ] && [ -z "$newest" ] &&
      [ "$(deps_upstream "$version" | cut -d. -f1).x" = "$line" ]; then
      newest=$version
    fi
  done
  [ -n "$newest" ] || { echo "  no version of the $line line is served whole"; continue; }
  echo "  newest of the $line line served whole: $newest"
  if [ "$write" -eq 1 ] && [ "$newest" != "$pinned" ]; then
    rows=$(awk -v n="$name" -v v="$newest" '$1 == n && $2 == v' "$work/files")
    dir=$(echo "$rows" | head -1 | cut -d' ' -f3)
    # The library's rows are replaced in place; the others stay as they are.
    awk -v n="$name" -v v="$newest" -v d="$dir" -v rows="$rows" '
      $1 == "library" && $2 == n {
        print "library", n, v, d
        split(rows, r, "\n")
        for (i = 1; i in r; i++) { split(r[i], f, " "); print "file", n, f[4], f[5], f[6] }
        next
      }
      $1 == "file" && $2 == n { next }
      { print }
    ' "$deps_lock" >"$work/lock"
    cp "$work/lock" "$deps_lock"
    echo "  deps/sources.lock now pins $name $newest"
  fi
done
