#!/usr/bin/env bash
# Authenticode-signs the Windows exe with a maintainer's code-signing
# certificate, so Windows names the publisher instead of warning about an
# unknown one. Update trust does not depend on this signature.
#
#   bash scripts/sign-win.sh EXE CERT.pem KEY.pem [OUT]
#   bash scripts/sign-win.sh EXE CERT.p12 [OUT]        (password in SIGN_PASS)
#
# OUT defaults to EXE (signed in place). The signature carries no time stamp
# by default, so signing works offline; set SIGN_TIMESTAMP_URL to an RFC 3161
# server to have it stay valid after the certificate expires.
set -euo pipefail

usage() {
  echo "usage: sign-win.sh EXE CERT.pem KEY.pem [OUT] | sign-win.sh EXE CERT.p12 [OUT]" >&2
  exit 2
}
[ $# -ge 2 ] || usage
exe=$1
cert=$2
shift 2
case "$cert" in
  *.p12|*.pfx)
    creds=(-pkcs12 "$cert")
    if [ -n "${SIGN_PASS:-}" ]; then creds+=(-pass "$SIGN_PASS"); fi
    ;;
  *)
    [ $# -ge 1 ] || usage
    creds=(-certs "$cert" -key "$1")
    shift
    ;;
esac
out=${1:-$exe}
[ -f "$exe" ] || { echo "sign-win: no such file: $exe" >&2; exit 1; }

stamp=()
if [ -n "${SIGN_TIMESTAMP_URL:-}" ]; then stamp=(-ts "$SIGN_TIMESTAMP_URL"); fi

# osslsigncode will not write over its input; sign to a temporary beside OUT.
tmp=$(mktemp "$(dirname "$out")/.sign-win.XXXXXX")
trap 'rm -f "$tmp"' EXIT
rm -f "$tmp"
osslsigncode sign "${creds[@]}" "${stamp[@]}" -h sha256 \
  -n "Corvane Chat Bootstrap" -in "$exe" -out "$tmp" >/dev/null
mv -f "$tmp" "$out"
echo "sign-win: signed $out"
