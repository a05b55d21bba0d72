#!/usr/bin/env bash
# The Windows program's two ways of painting a console window, timed on a 1920 x 1080 picture
# under wine: a GDI SetPixel call a pixel against the canvas's surface shown by blits
# (gdi_paint_bench.cpp), in wine's console window on an X display.
#
# Usage: bench/gdi_1080p.sh WINDOWS_BUILD_DIR [ROUNDS]
#   (WINDOWS_BUILD_DIR as made with --toolchain cmake/mingw-x86_64.cmake). Needs wine and
#   xvfb; WINE names the wine loader (default: wine). Prints the medians of ROUNDS rounds
#   (default 5) of each; exits 1 where a round did not show the whole picture.
set -euo pipefail
build=$(realpath "$1")
rounds=${2:-5}
export WINEDEBUG=-all
work=$(mktemp -d)
cleanup() {
  if [ -n "${xvfb:-}" ]; then kill "$xvfb" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"

# A screen of its own, larger than the console window the picture needs.
Xvfb -displayfd 3 -screen 0 2100x1300x24 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 50); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
export DISPLAY=":$(cat "$work/display")"

wineserver -w  # a server started for another display would keep the window off this one
status=0
"${WINE:-wine}" wineconsole "$build/bench/gdi_paint_bench.exe" results.txt "$rounds" \
  >/dev/null 2>&1 || status=$?
cat results.txt 2>/dev/null || echo "no results (status $status)"
exit "$status"
