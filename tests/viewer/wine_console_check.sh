#!/usr/bin/env bash
# End-to-end check of the real Win32 path, by hand: the Windows viewer.exe runs under wine in a
# console window (wineconsole) on an X display, and the pixels it painted through GetDC and
# SetPixel are compared with the picture, from client offset (10, 10) on.
#
# Usage: tests/viewer/wine_console_check.sh WINDOWS_BUILD_DIR [PICTURE.bmp]
#   (WINDOWS_BUILD_DIR as made with --toolchain cmake/mingw-x86_64.cmake; PICTURE defaults to
#   examples/Painting.bmp). Needs wine, xvfb, x11-utils and imagemagick. Prints how many rows
#   and pixels match; exits 0 only if all of them do.
#
# Wine 8's console window is not a faithful screen: it repaints the text rows around the cursor
# over the drawing, so parts of a picture can be lost there. That is why this check is not run
# by CI.
set -euo pipefail
build=$(realpath "$1")
picture=$(realpath "${2:-$(dirname "$0")/../../examples/Painting.bmp}")
export WINEDEBUG=-all

work=$(mktemp -d)
cleanup() {
  pkill -f "$build/viewer.exe" 2>/dev/null || true
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
cp "$picture" "$work/Painting.bmp"
cd "$work"

if [ -z "${DISPLAY:-}" ]; then
  export DISPLAY=:57
  Xvfb "$DISPLAY" -screen 0 1600x1000x24 >/dev/null 2>&1 &
  xvfb=$!
  sleep 1
fi

wineconsole "$build/viewer.exe" >/dev/null 2>&1 &
window=
for _ in $(seq 60); do
  window=$(xwininfo -root -tree | awk '/viewer\.exe/ { print $1; exit }')
  [ -n "$window" ] && break
  sleep 0.5
done
[ -n "$window" ] || { echo "no console window appeared" >&2; exit 1; }
sleep 3  # painting, and wine's first repaints

x=$(xwininfo -id "$window" | awk '/Absolute upper-left X/ { print $4 }')
y=$(xwininfo -id "$window" | awk '/Absolute upper-left Y/ { print $4 }')
size=$(identify -format '%wx%h' Painting.bmp)
import -window root screen.png
# Rows are painted in stored order: an ordinary (bottom-up) bitmap shows upside down.
convert Painting.bmp -flip expected.png
convert screen.png -crop "${size}+$((x + 10))+$((y + 10))" +repage painted.png

height=${size#*x}
width=${size%x*}
rows=0
for row in $(seq 0 $((height - 1))); do
  differ=$(compare -metric AE "expected.png[${width}x1+0+$row]" \
                              "painted.png[${width}x1+0+$row]" null: 2>&1 || true)
  [ "$differ" = 0 ] && rows=$((rows + 1))
done
differ=$(compare -metric AE expected.png painted.png null: 2>&1 || true)
echo "console window $window, client area at ($x, $y): $rows of $height rows exact," \
     "$((width * height - differ)) of $((width * height)) pixels"
[ "$differ" = 0 ]
