#!/usr/bin/env bash
# Makes docs/window.png: the Windows program's main window as Wine shows it on
# a virtual display, with a fresh install folder.
#   scripts/screenshot-win.sh [BUILD_DIR [OUTPUT.png]]   (default: build/win)
# Not part of the tests; it installs ImageMagick and xdotool when missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -gt 2 ] || { [ $# -ge 1 ] && [ ! -d "$1" ]; }; then
  echo "usage: scripts/screenshot-win.sh [BUILD_DIR [OUTPUT.png]]   (BUILD_DIR: a Windows build folder)" >&2
  exit 2
fi
build=$(cd "${1:-$root/build/win}" && pwd)
out=${2:-$root/docs/window.png}
exe=$build/CorvaneChatBootstrap.exe
display=:97

if ! command -v import >/dev/null || ! import -version >/dev/null 2>&1 ||
  ! command -v xdotool >/dev/null; then
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get install -y --no-install-recommends imagemagick xdotool
fi
[ -f "$build/build.ninja" ] && ninja -C "$build" -j2 corvane-bootstrap
[ -f "$exe" ] || {
  echo "screenshot-win: no $exe; build the Windows program first" >&2
  exit 1
}

# A fixed folder keeps the picture the same from run to run.
work=${TMPDIR:-/tmp}/corvane-screenshot
rm -rf "$work"
mkdir -p "$work"
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
cleanup() {
  wineserver -k 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export DISPLAY=$display
for _ in $(seq 50); do
  xdotool getdisplaygeometry >/dev/null 2>&1 && break
  sleep 0.1
done

# shellcheck source=wine-env.sh
. "$root/scripts/wine-env.sh" "$build"
wine_prefix_init
folder="$work/Corvane Chat"
mkdir -p "$folder"
# A Wine desktop of the screen's size draws the window's own frame and
# caption, which no window manager would here; its plain backdrop is trimmed.
wine explorer /desktop=shot,800x600 "$exe" -cvdir "$(winepath -w "$folder")" &
for _ in $(seq 300); do
  xdotool search --onlyvisible --name '^shot' >/dev/null 2>&1 && break
  sleep 0.1
done
# Wine paints the tool's window a moment after the desktop appears.
sleep 3
import -window root "$work/root.png"
mkdir -p "$(dirname "$out")"
convert "$work/root.png" -trim +repage -strip "$out"
echo "screenshot-win: wrote $out"
