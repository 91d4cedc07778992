#!/usr/bin/env bash
# Authenticode signing of the shipped exe through scripts/sign-win.sh: a
# throw-away self-signed code-signing certificate signs a copy, the copy
# verifies against that certificate, and one byte changed after signing
# makes verification fail.
#
#   check_signing.sh SIGN_WIN_SH EXE
set -euo pipefail
sign=$1
exe=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/corvane-sign.XXXXXX")
trap 'rm -rf "$work"' EXIT

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Corvane Test Publisher" \
  -addext "extendedKeyUsage=codeSigning" -addext "keyUsage=digitalSignature" \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null

cp "$exe" "$work/tool.exe"
bash "$sign" "$work/tool.exe" "$work/cert.pem" "$work/key.pem" "$work/signed.exe"
if ! osslsigncode verify -in "$work/signed.exe" -CAfile "$work/cert.pem" >"$work/good.log" 2>&1; then
  cat "$work/good.log"
  echo "check_signing: the signed exe does not verify" >&2
  exit 1
fi
cmp -s "$work/tool.exe" "$work/signed.exe" && { echo "check_signing: nothing was signed" >&2; exit 1; }

# One byte of code, well inside the image and outside the signature.
cp "$work/signed.exe" "$work/tampered.exe"
offset=4096
byte=$(od -An -tu1 -j "$offset" -N1 "$work/tampered.exe" | tr -d ' ')
printf "$(printf '\\%03o' $(((byte + 1) % 256)))" |
  dd of="$work/tampered.exe" bs=1 seek="$offset" conv=notrunc status=none
if osslsigncode verify -in "$work/tampered.exe" -CAfile "$work/cert.pem" >"$work/bad.log" 2>&1; then
  cat "$work/bad.log"
  echo "check_signing: a changed exe still verifies" >&2
  exit 1
fi
echo "check_signing: signed copy verifies, changed copy is refused"
