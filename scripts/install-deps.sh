#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on Debian 12.
# Safe to run again: apt-get skips what is already there.
#
#   scripts/install-deps.sh
set -euo pipefail

if [ $# -ne 0 ]; then
  echo "usage: scripts/install-deps.sh" >&2
  exit 2
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: run as root (apt-get is needed)" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive

# Wine for the 32-bit Windows build needs the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi

# The package lists count as fresh for six hours after our last update,
# unless a source entry (or the i386 architecture) changed since.
stamp=/var/lib/apt/lists/corvane-updated
lists_fresh() {
  [ -e "$stamp" ] || return 1
  [ -n "$(find "$stamp" -mmin -360)" ] || return 1
  [ -z "$(find /etc/apt/sources.list /etc/apt/sources.list.d /var/lib/dpkg/arch \
            -newer "$stamp" 2>/dev/null)" ]
}
# A mirror in the middle of a sync can fail one index while serving the rest
# (seen: "File has unexpected size" for one architecture's Packages). Try
# again after a pause; if it still fails, go on with the indexes that did
# come, and let the install below say whether anything is really missing.
update_lists() {
  local try
  for try in 1 2 3; do
    if apt-get update -qq; then
      touch "$stamp"
      return 0
    fi
    [ "$try" -eq 3 ] || sleep 20
  done
  echo "install-deps: warning: some package indexes failed to update; using those that came" >&2
}
if lists_fresh; then
  echo "install-deps: package lists are fresh, not updating" >&2
else
  update_lists
fi
packages=(
  build-essential cmake ninja-build pkg-config git ca-certificates
  clang clang-format clang-format-16 libclang-rt-14-dev llvm
  libgtest-dev googletest
  mingw-w64 g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix
  dpkg-dev xz-utils bzip2
  wine wine32 xvfb xauth
  nginx-light apache2 apache2-utils tinyproxy squid curl openssl python3 osslsigncode
  valgrind time
)
# Lists we kept may point at packages the archive has since replaced; one
# refresh then retries.
apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null ||
  { update_lists && apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null; }
