#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on Debian 12.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: run as root (apt-get is needed)" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive

# Wine for the 32-bit Windows build needs the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi

# Source packages are needed to cross-build Mbed TLS and expat for mingw.
if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ &&
   ! grep -qs '^deb-src' /etc/apt/sources.list; then
  cat > /etc/apt/sources.list.d/corvane-deb-src.sources <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
fi

apt-get update -qq
apt-get install -y -qq --no-install-recommends \
  build-essential cmake ninja-build pkg-config git ca-certificates \
  clang clang-format libclang-rt-14-dev llvm \
  libmbedtls-dev libexpat1-dev libgtest-dev googletest \
  mingw-w64 g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix \
  dpkg-dev devscripts \
  wine wine32 xvfb xauth \
  nginx-light apache2 tinyproxy curl openssl python3 \
  valgrind time >/dev/null
