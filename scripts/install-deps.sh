#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on Debian 12.
# Safe to run again: apt-get skips what is already there.
#
#   scripts/install-deps.sh [--sources-only]   (--sources-only: deb-src entry only)
set -euo pipefail

sources_only=0
case "${1:-}" in
  "") ;;
  --sources-only) sources_only=1 ;;
  *) echo "usage: scripts/install-deps.sh [--sources-only]" >&2; exit 2 ;;
esac

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: run as root (apt-get is needed)" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive

# Wine for the 32-bit Windows build needs the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi

# Source packages are needed to cross-build Mbed TLS and expat for mingw, and
# from the same suites as the native packages: the security suite carries the
# fixed versions the native build links, so the Windows build must use them too.
# This is the one place that writes the entry; build-win-deps.sh runs
# "install-deps.sh --sources-only" when it finds it missing.
debsrc=/etc/apt/sources.list.d/corvane-deb-src.sources
debsrc_text='Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg'
if [ "$(cat "$debsrc" 2>/dev/null || true)" != "$debsrc_text" ]; then
  printf '%s\n' "$debsrc_text" >"$debsrc"
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
update_lists() { apt-get update -qq && touch "$stamp"; }
if lists_fresh; then
  echo "install-deps: package lists are fresh, not updating" >&2
else
  update_lists
fi
if [ "$sources_only" -eq 1 ]; then
  exit 0
fi
packages=(
  build-essential cmake ninja-build pkg-config git ca-certificates
  clang clang-format clang-format-16 libclang-rt-14-dev llvm
  libmbedtls-dev libexpat1-dev libgtest-dev googletest
  mingw-w64 g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix
  dpkg-dev devscripts
  wine wine32 xvfb xauth
  nginx-light apache2 apache2-utils tinyproxy squid curl openssl python3 osslsigncode
  valgrind time
)
# Lists we kept may point at packages the archive has since replaced; one
# refresh then retries.
apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null ||
  { update_lists && apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null; }
