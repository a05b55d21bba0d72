#!/usr/bin/env bash
# The viewer in a real terminal on a virtual X display: a screenshot of the terminal's text
# area must show the picture at 1:1, its first pixel 10 pixels right of and below the text
# area's corner, every pixel in place. Exits 77 (skipped) where the X server, the terminal or
# ImageMagick is missing.
#
# Usage: tests/viewer/real_terminal_check.sh xterm|kitty VIEWER PICTURE.bmp
#   xterm: xterm -ti vt340 with 1024 colour registers: sixel images; colours are compared
#          within what sixel's percentages can carry (1.5%).
#   kitty: kitty graphics; every pixel must be exact.
set -uo pipefail
terminal=$1
viewer=$(realpath "$2")
picture=$(realpath "$3")
for tool in Xvfb xwininfo import convert compare "$terminal"; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
cleanup() {
  [ -n "${term_pid:-}" ] && kill "$term_pid" 2>/dev/null
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
cp "$picture" "$work/Painting.bmp"
cd "$work"

# A display number of its own, chosen by the server, so that checks can run side by side.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>display.txt >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s display.txt ] && break; sleep 0.1; done
[ -s display.txt ] || { echo "skipped: Xvfb did not start"; exit 77; }
export DISPLAY=:$(head -n 1 display.txt)

# The viewer starts once the terminal's window is up and settled (a terminal still starting, on
# a loaded machine, can answer its questions later than the viewer waits); it waits for Enter,
# and the terminal goes away when the check is done.
mkfifo go
run="cat '$work/go' >/dev/null; cd '$work' && '$viewer'; sleep 60"
case "$terminal" in
  xterm)
    xterm -ti vt340 -xrm 'XTerm*numColorRegisters: 1024' -xrm 'XTerm*internalBorder: 0' \
          -bw 0 -fa 'DejaVu Sans Mono' -fs 10 -geometry 100x40+0+0 -e sh -c "$run" &
    fuzz=1.5% ;;
  kitty)
    LIBGL_ALWAYS_SOFTWARE=1 kitty --config NONE -o font_family='DejaVu Sans Mono' \
          -o font_size=10 -o placement_strategy=top-left -o window_padding_width=0 \
          -o initial_window_width=800 -o initial_window_height=680 \
          -o remember_window_size=no sh -c "$run" >/dev/null 2>&1 &
    fuzz=0 ;;
  *) echo "unknown terminal $terminal" >&2; exit 2 ;;
esac
term_pid=$!

window=
for _ in $(seq 100); do
  window=$(xwininfo -root -tree 2>/dev/null | awk -v t="$terminal" 'tolower($0) ~ t && /[0-9]+x[0-9]+\+/ { print $1; exit }')
  [ -n "$window" ] && break
  sleep 0.2
done
[ -n "$window" ] || { echo "$terminal: no window appeared"; exit 1; }
sleep 1
echo go >go

size=$(identify -format '%wx%h' Painting.bmp)
convert Painting.bmp -flip expected.png  # rows are painted in stored order
differ=unknown
for _ in $(seq 40); do
  sleep 0.5
  x=$(xwininfo -id "$window" | awk '/Absolute upper-left X/ { print $4 }')
  y=$(xwininfo -id "$window" | awk '/Absolute upper-left Y/ { print $4 }')
  import -window root screen.png 2>/dev/null || continue
  convert screen.png -crop "${size}+$((x + 10))+$((y + 10))" +repage painted.png
  differ=$(compare -fuzz "$fuzz" -metric AE expected.png painted.png null: 2>&1)
  [ "$differ" = 0 ] && break
done
echo "$terminal: text area at ($x, $y), $differ pixels of $size differ (fuzz $fuzz)"
[ "$differ" = 0 ]
