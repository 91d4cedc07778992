# shellcheck shell=bash
# Environment for running the 32-bit Windows build under Wine. Source it:
#
#   . scripts/wine-env.sh [BUILD_DIR]     (default: <repo>/build/win)
#   wine_prefix_init                      (once; later calls return at once)
#   wine BUILD_DIR/some-test.exe
#
# From inside a script that has arguments of its own, pass BUILD_DIR: bash
# hands a sourced file the caller's "$1" when it is given none.
#
# The Wine prefix lives in BUILD_DIR/wineprefix, so builds never share or
# depend on the user's ~/.wine and a clean build folder starts from scratch.

_corvane_repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
_corvane_build=${1:-$_corvane_repo/build/win}
mkdir -p "$_corvane_build"

export WINEPREFIX
WINEPREFIX=$(cd "$_corvane_build" && pwd)/wineprefix
# Debian 12 installs only the 32-bit loader here (wine32, no wine64), and that
# loader cannot create or use a 64-bit prefix; asking for win32 outright also
# makes a prefix left by some other Wine fail loudly instead of oddly.
export WINEARCH=win32
# Wine's own debug chatter would drown the programs' output in test logs.
export WINEDEBUG=-all
# Without these, creating the prefix offers to download Mono and Gecko, which
# needs a display and the network; the tool uses neither .NET nor HTML views.
export WINEDLLOVERRIDES="mscoree,mshtml="

# Creates the prefix once. wineboot returns before wineserver has written the
# registry to disk, so "wineserver -w" waits for that; otherwise the next
# program may start against a half-made prefix. A display is not needed for
# console programs, but wineboot may open windows, so give it a virtual one.
wine_prefix_init() {
  local stamp=$WINEPREFIX/.corvane-prefix-ready
  [ -f "$stamp" ] && return 0
  echo "wine-env: creating Wine prefix in $WINEPREFIX (takes a while once)" >&2
  local run=()
  if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
    run=(xvfb-run -a)
  fi
  "${run[@]}" sh -c 'wineboot -i && wineserver -w' || {
    echo "wine-env: wineboot failed for $WINEPREFIX" >&2
    return 1
  }
  : >"$stamp"
}
