#!/usr/bin/env bash
# Makes the README's pictures: the Windows program's main window as Wine
# shows it on a virtual display, with a fresh install folder, once per
# display scale (the prefix's LogPixels, put back afterwards).
#   scripts/screenshot-win.sh [BUILD_DIR [DPI...]]   (default: build/win, 96 144)
# writes docs/window-<DPI>dpi.png for each DPI. Not part of the tests; it
# installs ImageMagick and xdotool when missing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if { [ $# -ge 1 ] && [ ! -d "$1" ]; }; then
  echo "usage: scripts/screenshot-win.sh [BUILD_DIR [DPI...]]   (BUILD_DIR: a Windows build folder)" >&2
  exit 2
fi
build=$(cd "${1:-$root/build/win}" && pwd)
shift || true
dpis=("$@")
[ ${#dpis[@]} -gt 0 ] || dpis=(96 144)
for dpi in "${dpis[@]}"; do
  case $dpi in
    '' | *[!0-9]*)
      echo "screenshot-win: DPI must be a number, not $dpi" >&2
      exit 2
      ;;
  esac
done
exe=$build/CorvaneChatBootstrap.exe
display=:97
# Room for the window at 200% scale.
screen=1280x1024

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
Xvfb "$display" -screen 0 "${screen}x24" -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
export DISPLAY=$display
# shellcheck source=wine-env.sh
. "$root/scripts/wine-env.sh" "$build"
desktop='HKCU\Control Panel\Desktop'
old_dpi=""
saved=false
cleanup() {
  wineserver -k 2>/dev/null || true
  if $saved; then
    if [ -n "$old_dpi" ]; then
      wine reg add "$desktop" /v LogPixels /t REG_DWORD /d "$((old_dpi))" /f >/dev/null 2>&1 || true
    else
      wine reg delete "$desktop" /v LogPixels /f >/dev/null 2>&1 || true
    fi
    wineserver -w 2>/dev/null || true
  fi
  kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
for _ in $(seq 50); do
  xdotool getdisplaygeometry >/dev/null 2>&1 && break
  sleep 0.1
done

wine_prefix_init
# The user's value (none in a fresh prefix, which then follows the machine's).
old_dpi=$({ wine reg query "$desktop" /v LogPixels 2>/dev/null || true; } |
  awk '$1 == "LogPixels" {print $3}' | tr -d '\r')
saved=true
folder="$work/Corvane Chat"
mkdir -p "$folder"
for dpi in "${dpis[@]}"; do
  out=$root/docs/window-${dpi}dpi.png
  wine reg add "$desktop" /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null
  # A Wine desktop of the screen's size draws the window's own frame and
  # caption, which no window manager would here; its plain backdrop is
  # trimmed.
  wine explorer /desktop=shot,$screen "$exe" -cvdir "$(winepath -w "$folder")" &
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
  # The next scale needs a fresh start of everything in the prefix.
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
done
