#!/usr/bin/env bash
# The viewer in a real terminal on a virtual X display: a screenshot of the terminal's text
# area must show the picture at 1:1, its first pixel 10 pixels right of and below the text
# area's corner, every pixel in place. Exits 77 (skipped) where the X server, the terminal or
# ImageMagick is missing.
#
# Usage: tests/viewer/real_terminal_check.sh xterm|mlterm|kitty VIEWER PICTURE.bmp [CELL_HEIGHT]
#   xterm:  xterm -ti vt340 with 1024 colour registers: sixel images; colours are compared
#           within what sixel's percentages can carry (1.5%).
#   mlterm: mlterm (sixel, 1024 registers), compared the same way.
#   kitty:  kitty graphics; every pixel must be exact.
#   CELL_HEIGHT (xterm, mlterm: 16, 17, 18 or 20): cells that tall, and the picture made as
#           tall as the window (its colours reduced to 256): every pixel above the last text
#           row must show, and nothing may scroll (a sixel terminal scrolls when an image
#           reaches its last row, which would move the whole picture up).
set -uo pipefail
terminal=$1
viewer=$(realpath "$2")
picture=$(realpath "$3")
cell_height=${4:-}
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
columns=100 rows=40
if [ -n "$cell_height" ]; then
  # DejaVu Sans Mono: xterm's point sizes and mlterm's line spacing for these cell heights.
  case "$terminal:$cell_height" in
    xterm:16) size=9.2 ;; xterm:17) size=10 ;; xterm:18) size=10.5 ;; xterm:20) size=12 ;;
    mlterm:16|mlterm:17|mlterm:18|mlterm:20) size=$((cell_height - 16)) ;;
    *) echo "no cells $cell_height pixels tall for $terminal" >&2; exit 2 ;;
  esac
  rows=30
  convert "$picture" -resize "700x$((rows * cell_height))!" +dither -colors 256 -type TrueColor \
    "BMP3:$work/Painting.bmp"
else
  case "$terminal" in xterm) size=10 ;; mlterm) size=1 ;; *) size= ;; esac
  cp "$picture" "$work/Painting.bmp"
fi
cd "$work"

# A display number of its own, chosen by the server, so that checks can run side by side.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>display.txt >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s display.txt ] && break; sleep 0.1; done
[ -s display.txt ] || { echo "skipped: Xvfb did not start"; exit 77; }
export DISPLAY=:$(head -n 1 display.txt)
# Accepting connections, which on a loaded machine can come later than the number.
for _ in $(seq 100); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.1; done

# The viewer starts once the terminal's window is up and settled (a terminal still starting, on
# a loaded machine, can answer its questions later than the viewer waits); it waits for Enter,
# and the terminal goes away when the check is done.
mkfifo go
run="cat '$work/go' >/dev/null; cd '$work' && '$viewer'; sleep 60"
case "$terminal" in
  xterm)
    xterm -ti vt340 -xrm 'XTerm*numColorRegisters: 1024' -xrm 'XTerm*internalBorder: 0' \
          -bw 0 -fa 'DejaVu Sans Mono' -fs "$size" -geometry "${columns}x${rows}+0+0" \
          -e sh -c "$run" &
    fuzz=1.5% ;;
  mlterm)
    mlterm --geometry "${columns}x${rows}+0+0" --deffont='DejaVu Sans Mono' -w 13 --lsp="$size" \
           --border=0 --sbmod=none \
           -e sh -c "$run" >/dev/null 2>&1 &
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
if [ -n "$cell_height" ]; then
  height=$(xwininfo -id "$window" | awk '/Height:/ { print $2 }')
  [ "$((height / rows))" = "$cell_height" ] ||
    { echo "skipped: $terminal has cells $((height / rows)) pixels tall here, not $cell_height"; exit 77; }
fi
echo go >go

# What must show: the picture from (10, 10), rows in stored order; with CELL_HEIGHT, only its
# part above the last text row.
convert Painting.bmp -flip expected.png
[ -n "$cell_height" ] && convert expected.png -crop "x$(((rows - 1) * cell_height - 10))+0+0" +repage expected.png
size=$(identify -format '%wx%h' expected.png)
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
