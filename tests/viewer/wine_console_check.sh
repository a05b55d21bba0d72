#!/usr/bin/env bash
# End-to-end check of the real Win32 path: the Windows viewer.exe runs under wine in a console
# window (wineconsole) on an X display, and the pixels it shows on the window (blitted with GDI
# from its surface) are compared with the picture, from client offset (10, 10) on: 3 s after
# the window appears, and again 1 s after another X window covered the picture and went away
# (wine keeps no pixels of a covered window: the console repaints what comes back, and the
# viewer must find that and show those rows again). Meanwhile, while it waits, the share of a
# core the program takes. Then Enter ends the run, with status 0.
#
# Usage: tests/viewer/wine_console_check.sh WINDOWS_BUILD_DIR [PICTURE.bmp [ROWS]]
#   (WINDOWS_BUILD_DIR as made with --toolchain cmake/mingw-x86_64.cmake; PICTURE defaults to
#   examples/Painting.bmp). Needs wine, xvfb, x11-utils, xdotool and imagemagick. WINE names
#   the wine loader (default: wine). Prints how many rows and pixels match each time; exits 0
#   if at least ROWS rows do both times (default: all of them), the cover hid the picture, the
#   waiting program took under 2% of a core, and the run ended after Enter with status 0.
set -euo pipefail
build=$(realpath "$1")
picture=$(realpath "${2:-$(dirname "$0")/../../examples/Painting.bmp}")
export WINEDEBUG=-all
console=
cover=

work=$(mktemp -d)
cleanup() {
  if [ -n "$cover" ]; then kill "$cover" 2>/dev/null || true; fi
  if [ -n "$console" ]; then kill "$console" 2>/dev/null || true; fi
  if [ -n "${xvfb:-}" ]; then kill "$xvfb" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
cp "$picture" "$work/Painting.bmp"
cd "$work"

if [ -z "${DISPLAY:-}" ]; then
  # A display of its own, on a number no other X server uses.
  Xvfb -displayfd 3 -screen 0 1600x1000x24 3>"$work/display" >/dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 50); do
    [ -s "$work/display" ] && break
    sleep 0.1
  done
  export DISPLAY=":$(cat "$work/display")"
fi

# A wine server still running from programs started without this display would keep the new
# window off it: wait for it to end first.
wineserver -w
"${WINE:-wine}" wineconsole "$build/viewer.exe" >/dev/null 2>&1 &
console=$!
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
height=${size#*x}
width=${size%x*}
# Rows are painted in stored order: an ordinary (bottom-up) bitmap shows upside down.
convert Painting.bmp -flip expected.png

# How many of the picture's rows the screen shows exactly, and how many pixels: "ROWS PIXELS".
exact() {
  import -window root screen.png
  convert screen.png -crop "${size}+$((x + 10))+$((y + 10))" +repage painted.png
  local rows=0 row differ
  for row in $(seq 0 $((height - 1))); do
    differ=$(compare -metric AE "expected.png[${width}x1+0+$row]" \
                                "painted.png[${width}x1+0+$row]" null: 2>&1 || true)
    [ "$differ" = 0 ] && rows=$((rows + 1))
  done
  differ=$(compare -metric AE expected.png painted.png null: 2>&1 || true)
  echo "$rows $((width * height - differ))"
}
read -r first firstPixels < <(exact)
echo "console window $window, client area at ($x, $y), 3 s after it appeared: $first of" \
     "$height rows exact, $firstPixels of $((width * height)) pixels"

# The waiting program's share of a core, from its user and system time over 5 s. It is the
# viewer.exe that runs in this folder (another one may run elsewhere on the machine).
viewer=
for pid in $(pgrep -x viewer.exe || true); do
  [ "$(readlink "/proc/$pid/cwd" 2>/dev/null)" = "$work" ] && viewer=$pid
done
[ -n "$viewer" ] || { echo "viewer.exe not found among the processes" >&2; exit 1; }
ticks() { awk '{ print $14 + $15 }' "/proc/$viewer/stat"; }
before=$(ticks)
sleep 5
hundredths=$(( ($(ticks) - before) * 10000 / $(getconf CLK_TCK) / 5 ))
echo "waiting, it took $((hundredths / 100)).$(printf '%02d' $((hundredths % 100)))% of a core"

# Another window over the picture and a little around it, then gone.
xmessage -geometry "$((width + 40))x$((height + 40))+$((x - 10))+$((y - 10))" covered \
  >/dev/null 2>&1 &
cover=$!
for _ in $(seq 40); do
  xwininfo -root -tree | grep -q '"xmessage"' && break
  sleep 0.25
done
sleep 0.5
read -r covered _ < <(exact)
kill "$cover"
wait "$cover" 2>/dev/null || true
cover=
sleep 1
read -r after afterPixels < <(exact)
echo "covered: $covered rows showing; 1 s after the cover went away: $after of $height rows" \
     "exact, $afterPixels of $((width * height)) pixels"

# Enter, typed into the window, ends the run.
xdotool windowfocus "$window" key Return
for _ in $(seq 40); do
  kill -0 "$console" 2>/dev/null || break
  sleep 0.25
done
if kill -0 "$console" 2>/dev/null; then
  echo "still running 10 s after Enter" >&2
  exit 1
fi
status=0
wait "$console" || status=$?
console=
echo "ended with status $status"

want=${3:-$height}
[ "$status" -eq 0 ] && [ "$first" -ge "$want" ] && [ "$after" -ge "$want" ] &&
  [ "$covered" -lt "$height" ] && [ "$hundredths" -lt 200 ]
