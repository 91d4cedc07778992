#!/usr/bin/env bash
# Builds expat and Mbed TLS from the pinned, checked sources (deps-fetch.sh)
# as static libraries for one configuration, and prints the prefix that
# holds them (include/, lib/, share/corvane-deps.versions).
#
#   scripts/deps-build.sh C_COMPILER CXX_COMPILER [TOOLCHAIN_FILE] [-- C_FLAGS...]
#
# The project's CMake runs this at configure time with its own compilers and
# the flags every object of that build gets (sanitizers, fuzzer coverage),
# so the libraries are instrumented like our code. One build per
# configuration is cached under $CORVANE_DEPS_CACHE/build, keyed by the lock,
# the Mbed TLS configuration, these scripts, the toolchain and the compiler
# with its flags; a later configure with the same key returns at once.
set -euo pipefail
deps_name=deps-build
. "$(dirname "$0")/deps-common.sh"

usage() {
  echo "usage: scripts/deps-build.sh C_COMPILER CXX_COMPILER [TOOLCHAIN_FILE] [-- C_FLAGS...]" >&2
  exit 2
}
[ $# -ge 2 ] || usage
cc=$1 cxx=$2
shift 2
toolchain=
if [ $# -gt 0 ] && [ "$1" != "--" ]; then
  toolchain=$(realpath "$1")
  shift
fi
if [ $# -gt 0 ]; then
  [ "$1" = "--" ] || usage
  shift
fi
cflags="$*"
config_header=$deps_repo/deps/mbedtls_config.h
zeroize_source=$deps_repo/deps/mbedtls_zeroize.c
here=$(dirname "${BASH_SOURCE[0]}")

key=$({
  cat "$deps_lock" "$config_header" "$zeroize_source" "$here/deps-build.sh" "$here/deps-common.sh" "$here/deps-fetch.sh"
  [ -z "$toolchain" ] || cat "$toolchain"
  "$cc" --version
  echo "cc=$cc cxx=$cxx flags=$cflags"
} | sha256sum | cut -c1-24)
prefix=$deps_cache/build/$key
mkdir -p "$deps_cache/build"

# One builder per key; a second configure waits for the first.
exec 9>"$prefix.lock"
flock 9
if [ -f "$prefix/.done" ]; then
  echo "$prefix"
  exit 0
fi

sources=$(bash "$here/deps-fetch.sh")
source_dir() { echo "$sources" | awk -v n="$1" '$1 == n { print $3 }'; }
source_version() { echo "$sources" | awk -v n="$1" '$1 == n { print $2 }'; }

rm -rf "$prefix"
mkdir -p "$prefix/work"
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
# The cache folder is mapped out of the objects (assertion texts name source
# files), so the exe does not depend on where its libraries were built.
cflags="$cflags -ffile-prefix-map=$deps_cache=deps"

cmake_build() { # NAME SOURCE_DIR [CMAKE ARGS...]
  local name=$1 src=$2 log=$prefix/work/$1.log
  shift 2
  deps_log "building $name for $(basename "$cc") ${cflags# }"
  local args=(-S "$src" -B "$prefix/work/$name" "${generator[@]}"
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix"
    -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_C_FLAGS="$cflags"
    -DCMAKE_POSITION_INDEPENDENT_CODE=ON)
  [ -z "$toolchain" ] || args+=(-DCMAKE_TOOLCHAIN_FILE="$toolchain")
  { cmake "${args[@]}" "$@" && cmake --build "$prefix/work/$name" && cmake --install "$prefix/work/$name"; } \
    >"$log" 2>&1 || { tail -30 "$log" >&2; deps_die "building $name failed, see $log"; }
}

cmake_build expat "$(source_dir expat)/expat" \
  -DEXPAT_SHARED_LIBS=OFF -DEXPAT_BUILD_TOOLS=OFF -DEXPAT_BUILD_EXAMPLES=OFF \
  -DEXPAT_BUILD_TESTS=OFF -DEXPAT_BUILD_DOCS=OFF -DEXPAT_BUILD_FUZZERS=OFF \
  -DEXPAT_BUILD_PKGCONFIG=OFF

# The library is built with the project's configuration, and that header is
# installed as the library's default one, so no consumer can compile against
# another layout of the same structures.
cmake_build mbedtls "$(source_dir mbedtls)" \
  -DMBEDTLS_CONFIG_FILE="$config_header" -DGEN_FILES=OFF \
  -DENABLE_TESTING=OFF -DENABLE_PROGRAMS=OFF \
  -DUSE_STATIC_MBEDTLS_LIBRARY=ON -DUSE_SHARED_MBEDTLS_LIBRARY=OFF \
  -DMBEDTLS_FATAL_WARNINGS=OFF
cp "$config_header" "$prefix/include/mbedtls/mbedtls_config.h"
# The configuration leaves the wiping of secrets to us; it goes into
# libmbedcrypto.a, built like the rest of it, so every consumer has it.
ar=$(sed -n 's/^CMAKE_AR:FILEPATH=//p' "$prefix/work/mbedtls/CMakeCache.txt")
pic=()
[ -n "$toolchain" ] || pic=(-fPIC)
# shellcheck disable=SC2086 # the flags are one word each
"$cc" $cflags -O2 "${pic[@]}" -I"$prefix/include" -c "$zeroize_source" \
  -o "$prefix/work/mbedtls_zeroize.o" || deps_die "building $zeroize_source failed"
"$ar" rsD "$prefix/lib/libmbedcrypto.a" "$prefix/work/mbedtls_zeroize.o" ||
  deps_die "adding the wiping of secrets to libmbedcrypto.a failed"

for lib in libmbedtls.a libmbedx509.a libmbedcrypto.a libexpat.a; do
  [ -f "$prefix/lib/$lib" ] || deps_die "$lib was not installed into $prefix/lib"
done
mkdir -p "$prefix/share"
printf 'expat=%s\nmbedtls=%s\n' "$(source_version expat)" "$(source_version mbedtls)" \
  >"$prefix/share/corvane-deps.versions"
rm -rf "$prefix/work"
touch "$prefix/.done"
echo "$prefix"
