# Shared by the deps-*.sh scripts (sourced, not run): where the pinned
# sources live, the archives apt is configured with, and a checked download.

deps_repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
deps_lock=${CORVANE_DEPS_LOCK:-$deps_repo/deps/sources.lock}
# Outside the source tree, so a fresh clone, a second work tree and a
# `git clean` all reuse what was fetched and built once.
deps_cache=${CORVANE_DEPS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/corvane-deps}

deps_die() {
  echo "${deps_name:-deps}: error: $*" >&2
  exit 1
}
deps_log() { echo "${deps_name:-deps}: $*" >&2; }

# The Debian archives apt fetches its indexes from, one base address a line
# (e.g. ".../debian/"). No host is written into the repo: a machine behind a
# mirror fetches from its mirror.
deps_archives() {
  apt-get indextargets --format '$(REPO_URI)' 2>/dev/null | sort -u | grep -E '^https?://'
}

# Fetches DIRECTORY/FILE from the first archive that serves it into OUT and
# checks its size and SHA-256 against the lock's. Returns nonzero, saying why
# and naming the file, when no archive serves it or the bytes differ; OUT
# then does not exist, so nothing unchecked is left to build from.
deps_fetch_checked() { # DIRECTORY FILE SHA256 SIZE OUT
  local dir=$1 file=$2 sha=$3 size=$4 out=$5 base got tried=()
  rm -f "$out" "$out.part"
  for base in $(deps_archives); do
    tried+=("$base")
    if curl -fsS --retry 2 -o "$out.part" "${base%/}/$dir/$file" 2>/dev/null; then
      break
    fi
    rm -f "$out.part"
  done
  if [ ! -f "$out.part" ]; then
    echo "${deps_name:-deps}: error: $file: not served by any archive apt is configured with (tried: ${tried[*]:-none})" >&2
    return 1
  fi
  got=$(stat -c %s "$out.part")
  if [ "$got" != "$size" ]; then
    rm -f "$out.part"
    echo "${deps_name:-deps}: error: $file: $got bytes, the lock says $size" >&2
    return 1
  fi
  got=$(sha256sum "$out.part" | cut -d' ' -f1)
  if [ "$got" != "$sha" ]; then
    rm -f "$out.part"
    echo "${deps_name:-deps}: error: $file: SHA-256 $got, the lock says $sha" >&2
    return 1
  fi
  mv "$out.part" "$out"
}

# The lock's rows: "library NAME VERSION DIR" and "file NAME SHA SIZE FILE".
deps_lock_rows() { grep -E '^(library|file) ' "$deps_lock"; }
deps_lock_version() { # NAME
  deps_lock_rows | awk -v n="$1" '$1 == "library" && $2 == n { print $3 }'
}
# Upstream part of a Debian version: no epoch, no revision.
deps_upstream() {
  local v=${1#*:}
  echo "${v%-*}"
}
