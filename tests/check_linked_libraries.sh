#!/usr/bin/env bash
# No program of the build loads the system's expat or Mbed TLS: each ELF
# executable under BUILD_DIR is read for the shared libraries it needs. The
# pinned static libraries leave no such entry; a link against the system's
# copies would. Also fails when it finds no program at all.
#   tests/check_linked_libraries.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: tests/check_linked_libraries.sh BUILD_DIR}
checked=0
bad=0
while IFS= read -r -d '' file; do
  head -c 4 "$file" | grep -q $'\x7fELF' || continue
  needed=$(readelf -d "$file" 2>/dev/null | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p')
  checked=$((checked + 1))
  if grep -E '^lib(expat|mbedtls|mbedx509|mbedcrypto)\.so' <<<"$needed" >/dev/null; then
    echo "$file needs: $(grep -E '^lib(expat|mbed)' <<<"$needed" | tr '\n' ' ')" >&2
    bad=1
  fi
done < <(find "$build" -type f -perm -u+x -not -path '*/CMakeFiles/*' -print0)
echo "checked $checked programs"
[ "$checked" -gt 0 ] || { echo "no programs found under $build" >&2; exit 1; }
exit $bad
