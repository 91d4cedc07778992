#!/usr/bin/env bash
# Cross-builds Mbed TLS 2.28.x and expat 2.5.0 as static i686 mingw-w64
# libraries from Debian's source packages, and installs them into PREFIX_DIR
# (include/, lib/) for the Windows build (cmake/mingw-i686.cmake).
#
#   scripts/build-win-deps.sh PREFIX_DIR      (as root, for apt-get)
#
# The sources are the exact versions of the installed native packages
# (libmbedtls14, libexpat1), security updates included, so the Windows build
# ships the same fixes the native tests run against; the script fails if
# apt-get cannot supply that version.
#
# A stamp left by a successful run makes later runs return at once; it records
# a hash of this script, of the toolchain file and of both versions, so
# changing either, or a new security upload, rebuilds.
#
# What consumers of these libraries must add on Windows:
#   - Mbed TLS: link mbedtls mbedx509 mbedcrypto (in that order), then ws2_32
#     (net_sockets) and advapi32 (the default entropy source calls
#     CryptGenRandom; 2.28 does not use bcrypt).
#   - expat: define XML_STATIC (expat's own CMake package, expat::expat, does
#     so). mingw GCC happens to link without it, but MSVC-style compilers then
#     declare every function dllimport and the static libexpat.a won't link.
set -euo pipefail

if [ $# -ne 1 ] || [ -z "$1" ]; then
  echo "usage: $0 PREFIX_DIR" >&2
  exit 2
fi

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
toolchain=$repo/cmake/mingw-i686.cmake
prefix=$(realpath -m "$1")
stamp=$prefix/.corvane-win-deps.stamp

# Wine's i386 copy of a library may be installed beside the native one; the
# native architecture's is the one the native build links.
native_version() { # BINARY_PACKAGE
  dpkg-query -W -f='${Version}' "$1:$(dpkg --print-architecture)" 2>/dev/null ||
    { echo "build-win-deps: error: $1 is not installed (run scripts/install-deps.sh first)" >&2; exit 1; }
}
mbedtls_version=$(native_version libmbedtls14)
expat_version=$(native_version libexpat1)
key=$({ cat "${BASH_SOURCE[0]}" "$toolchain"; echo "mbedtls=$mbedtls_version expat=$expat_version"; } |
  sha256sum | cut -d' ' -f1)

if [ "$(cat "$stamp" 2>/dev/null || true)" = "$key" ]; then
  echo "build-win-deps: up to date in $prefix"
  exit 0
fi

log() { echo "build-win-deps: $*"; }
die() { echo "build-win-deps: error: $*" >&2; exit 1; }

case "$prefix" in
  / | /usr | /usr/local) die "refusing to install into $prefix" ;;
esac
for tool in i686-w64-mingw32-gcc-posix i686-w64-mingw32-g++-posix cmake apt-get dpkg-source dpkg-parsechangelog; do
  command -v "$tool" >/dev/null || die "$tool not found (run scripts/install-deps.sh first)"
done

# apt-get source needs Sources indexes with the native versions in them; they
# exist only with install-deps.sh's deb-src entry (security suite included).
source_known() { # SOURCE_PACKAGE VERSION
  # Not grep -q: its early exit would fail apt-cache on SIGPIPE under pipefail.
  apt-cache showsrc "$1" 2>/dev/null | grep -Fx "Version: $2" >/dev/null
}
if ! source_known mbedtls "$mbedtls_version" || ! source_known expat "$expat_version"; then
  [ "$(id -u)" -eq 0 ] || die "no deb-src index with mbedtls $mbedtls_version and expat $expat_version; run scripts/install-deps.sh as root"
  log "refreshing the deb-src entry"
  bash "$repo/scripts/install-deps.sh" --sources-only
  source_known mbedtls "$mbedtls_version" || die "apt has no source for mbedtls $mbedtls_version"
  source_known expat "$expat_version" || die "apt has no source for expat $expat_version"
fi

# Start from a clean slate except the downloaded source files, which apt-get
# re-verifies and does not fetch again; half-built state from an interrupted
# run must not leak into this one.
rm -f "$stamp"
rm -rf "${prefix:?}/include" "${prefix:?}/lib" "${prefix:?}/share" "${prefix:?}/build"
mkdir -p "$prefix/src"
rm -rf "$prefix"/src/mbedtls-*/ "$prefix"/src/expat-*/

log "fetching Debian sources into $prefix/src"
# Output goes to a log: apt-get's warning that _apt cannot read the folder
# (it then downloads as root) is harmless but looks alarming.
# A mirror may list a security upload's source in its index yet not serve
# the files (seen: 404 for the .dsc and .debian.tar.xz). Then the newest
# source it does serve for the same upstream version is built instead, and
# the versions list says which native revision could not be had, so the
# Windows build's version test reports the gap instead of passing over it.
unavailable=()
fetch_source() { # SOURCE_PACKAGE NATIVE_VERSION; prints the version fetched
  local pkg=$1 want=$2 v
  if (cd "$prefix/src" && apt-get source -q "$pkg=$want") >>"$prefix/src/apt-get-source.log" 2>&1; then
    echo "$want"
    return 0
  fi
  for v in $(apt-cache showsrc "$pkg" 2>/dev/null | sed -n 's/^Version: //p' | sort -u | sort -rV); do
    [ "$v" != "$want" ] && [ "$(upstream "$v")" = "$(upstream "$want")" ] || continue
    if (cd "$prefix/src" && apt-get source -q "$pkg=$v") >>"$prefix/src/apt-get-source.log" 2>&1; then
      echo "build-win-deps: WARNING: the archive does not serve the source of $pkg $want; building $v" >&2
      echo "$v"
      return 0
    fi
  done
  cat "$prefix/src/apt-get-source.log" >&2
  die "apt-get source $pkg failed"
}
: >"$prefix/src/apt-get-source.log"
upstream() { local v=${1#*:}; echo "${v%-*}"; }
native_mbedtls=$mbedtls_version native_expat=$expat_version
mbedtls_version=$(fetch_source mbedtls "$native_mbedtls")
expat_version=$(fetch_source expat "$native_expat")
[ "$mbedtls_version" = "$native_mbedtls" ] || unavailable+=("mbedtls_native_unavailable=$native_mbedtls")
[ "$expat_version" = "$native_expat" ] || unavailable+=("expat_native_unavailable=$native_expat")

# The upstream part of the version names the unpacked folder; the Debian
# revision is checked in the changelog, since only it tells security fixes apart.
mbedtls_src=$prefix/src/mbedtls-$(upstream "$mbedtls_version")
expat_src=$prefix/src/expat-$(upstream "$expat_version")
for pair in "$mbedtls_src|$mbedtls_version" "$expat_src|$expat_version"; do
  dir=${pair%%|*} want=${pair#*|}
  [ -d "$dir" ] || die "apt-get source gave no $(basename "$dir") (see $prefix/src)"
  got=$(dpkg-parsechangelog -l "$dir/debian/changelog" -S Version)
  [ "$got" = "$want" ] || die "$(basename "$dir") is Debian version $got, the native package is $want"
done
case "$mbedtls_version" in 2.28.*) ;; *) die "Mbed TLS $mbedtls_version is not 2.28.x, which this tool is written against" ;; esac

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
jobs=$(nproc)

# Both builds pass the deps prefix explicitly so the toolchain file does not
# fall back to its default location while building into somewhere else. The
# prefix is mapped out of the objects (assertion texts name source files), so
# the exe does not depend on where its libraries were built.
cmake_build() { # NAME SOURCE_DIR [CMAKE ARGS...]
  local name=$1 src=$2
  shift 2
  log "building $name"
  cmake -S "$src" -B "$prefix/build/$name" "${generator[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCORVANE_WIN_DEPS_PREFIX="$prefix" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DCMAKE_C_FLAGS="-ffile-prefix-map=$prefix=deps" \
    "$@" >"$prefix/build/$name.configure.log" 2>&1 ||
    die "configuring $name failed, see $prefix/build/$name.configure.log"
  cmake --build "$prefix/build/$name" -j "$jobs" >"$prefix/build/$name.build.log" 2>&1 ||
    die "building $name failed, see $prefix/build/$name.build.log"
  cmake --install "$prefix/build/$name" >>"$prefix/build/$name.build.log" 2>&1 ||
    die "installing $name failed, see $prefix/build/$name.build.log"
}
mkdir -p "$prefix/build"

# Upstream's default config.h is used as shipped (Debian's extra options live
# in debian/rules, which this does not run). Warnings are not fatal: a newer
# cross compiler's new warnings must not break the dependency build.
cmake_build mbedtls "$mbedtls_src" \
  -DENABLE_TESTING=OFF -DENABLE_PROGRAMS=OFF \
  -DUSE_STATIC_MBEDTLS_LIBRARY=ON -DUSE_SHARED_MBEDTLS_LIBRARY=OFF \
  -DMBEDTLS_FATAL_WARNINGS=OFF

# The tool verifies secp256k1/ECDSA signatures over SHA-256 and talks TLS as a
# client; a config without any of these would only fail much later, at link
# time or at run time, so the installed header is checked now with the cross
# compiler (which also runs Mbed TLS's own check_config.h consistency rules).
check_c=$prefix/build/mbedtls-config-check.c
{
  echo '#include <mbedtls/config.h>'
  for opt in ECP_DP_SECP256K1_ENABLED ECDSA_C ECP_C SHA256_C MD_C PK_PARSE_C \
             ENTROPY_C CTR_DRBG_C SSL_TLS_C SSL_CLI_C; do
    printf '#ifndef MBEDTLS_%s\n#error "Mbed TLS is built without MBEDTLS_%s"\n#endif\n' "$opt" "$opt"
  done
} >"$check_c"
i686-w64-mingw32-gcc-posix -fsyntax-only -I"$prefix/include" "$check_c" ||
  die "the Mbed TLS configuration in $prefix/include/mbedtls/config.h lacks options the tool needs (see above)"

# Debian builds expat with autotools, whose config header says "#define
# XML_DTD 1"; its backported security fixes test "#if XML_DTD == 1", which
# does not compile against the CMake template's bare "#define XML_DTD". Give
# the template the same value (a no-op once the template already has one).
sed -i -E 's/^#cmakedefine (XML_DTD|XML_NS)$/#cmakedefine \1 1/' "$expat_src/expat/expat_config.h.cmake"

cmake_build expat "$expat_src/expat" \
  -DEXPAT_SHARED_LIBS=OFF -DEXPAT_BUILD_TOOLS=OFF -DEXPAT_BUILD_EXAMPLES=OFF \
  -DEXPAT_BUILD_TESTS=OFF -DEXPAT_BUILD_DOCS=OFF -DEXPAT_BUILD_FUZZERS=OFF

for lib in libmbedtls.a libmbedx509.a libmbedcrypto.a libexpat.a; do
  [ -f "$prefix/lib/$lib" ] || die "$lib was not installed into $prefix/lib"
done

# The Debian versions built, for the Windows build's check against the native
# packages it is tested beside.
printf 'mbedtls=%s\nexpat=%s\n' "$mbedtls_version" "$expat_version" >"$prefix/share/corvane-win-deps.versions"
printf '%s\n' "${unavailable[@]}" >>"$prefix/share/corvane-win-deps.versions"
echo "$key" >"$stamp"
log "done: mbedtls $mbedtls_version and expat $expat_version in $prefix"
