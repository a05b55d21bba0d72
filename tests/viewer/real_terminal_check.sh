#!/usr/bin/env bash
# The viewer in a real terminal on a virtual X display: a screenshot of the terminal's text
# area must show the picture where it belongs and nothing else; Enter (typed as a user would)
# must end the run with status 0, the cursor as it was found. Exits 77 (skipped) where the X
# server, the terminal, xdotool or ImageMagick is missing.
#
# Usage: tests/viewer/real_terminal_check.sh TERMINAL VIEWER PICTURE [hidden-cursor|CELL_HEIGHT]
#   PICTURE: a bitmap file, or plasma:WxH for a photograph-like one that ImageMagick makes (its
#   plasma fractal: smooth with noise, so that kitty images go in many pieces).
#   xterm:       xterm -ti vt340 set to 256 colour registers of its 1024: sixel images, with
#                the registers set to 1024 while the viewer runs and back to 256 after it;
#                colours are compared within what sixel's percentages can carry (1.5%), and
#                again once the registers are back.
#   kitty:       kitty graphics, through shared memory; every pixel must be exact.
#   kitty-remote: kitty graphics through the terminal, as to a kitty on another machine: the
#                viewer runs with shared memory and /tmp of its own (a mount namespace; needs
#                root), which kitty cannot read. Every pixel must be exact.
#   mlterm:      sixel images, as xterm.
#   xterm-plain: xterm -ti vt100: half-block text cells.
#   urxvt:       rxvt-unicode, which prints strings it does not know (the kitty questions):
#                half-block text cells.
#   Text cells are compared at the middle of each half cell; urxvt approximates 24-bit colours
#   (measured: up to 114 of 255 off in a channel), so there each channel may be 45% off. In every case, everything outside
#   the picture but the cursor's cell must still show the terminal's background.
#   hidden-cursor: the cursor is hidden before the viewer starts, and must be hidden after it.
#   CELL_HEIGHT (xterm, mlterm: 16, 17, 18 or 20): cells that tall, and the picture made as
#   tall as the window (its colours reduced to 256): every pixel above the last text row must
#   show, and nothing may scroll (a sixel terminal scrolls when an image reaches its last row,
#   which would move the whole picture up).
set -uo pipefail

# A real terminal on a busy machine can answer the viewer's questions later than it waits, and
# then rightly gets text cells, or can fail to open its window at all: a run whose window or
# picture never showed is tried again, twice at most, each in a new terminal. Every other
# failure stands at once.
if [ -z "${VIEWER_CHECK_ATTEMPT:-}" ]; then
  for attempt in 1 2 3; do
    VIEWER_CHECK_ATTEMPT=$attempt bash "$0" "$@"
    status=$?
    [ "$status" = 3 ] || exit "$status"
  done
  exit 1
fi

terminal=$1
viewer=$(realpath "$2")
picture=$3
[[ $picture == plasma:* ]] || picture=$(realpath "$picture")
option=${4:-}
cursor=shown cell_height_wanted=
case "$option" in
  hidden-cursor) cursor=hidden-cursor ;;
  [0-9]*) cell_height_wanted=$option ;;
esac
command=${terminal%-plain}
command=${command%-remote}
for tool in Xvfb xwininfo xdotool import convert compare "$command"; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
elsewhere=
if [ "$terminal" = kitty-remote ]; then
  own="mount -t tmpfs none /dev/shm && mount -t tmpfs none /tmp"
  elsewhere="unshare --mount sh -c '$own && exec \"\$0\"'"
  marker=/dev/shm/real-terminal-check-$$
  if ! unshare --mount sh -c "mount -t tmpfs none /dev/shm && touch $marker" 2>/dev/null ||
     [ -e "$marker" ]; then
    rm -f "$marker"
    echo "skipped: no shared memory of its own for the viewer (a mount namespace needs root)"
    exit 77
  fi
fi

work=$(mktemp -d)
cleanup() {
  [ -n "${term_pid:-}" ] && kill "$term_pid" 2>/dev/null
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
columns=100 rows=40
case "$terminal" in xterm) font_size=10 ;; mlterm) line_spacing=1 ;; esac
if [ -n "$cell_height_wanted" ]; then
  # DejaVu Sans Mono: xterm's point sizes and mlterm's line spacing for these cell heights.
  case "$terminal:$cell_height_wanted" in
    xterm:16) font_size=9.2 ;; xterm:17) font_size=10 ;; xterm:18) font_size=10.5 ;;
    xterm:20) font_size=12 ;;
    mlterm:16|mlterm:17|mlterm:18|mlterm:20) line_spacing=$((cell_height_wanted - 16)) ;;
    *) echo "no cells $cell_height_wanted pixels tall for $terminal" >&2; exit 2 ;;
  esac
  rows=30
  convert "$picture" -resize "700x$((rows * cell_height_wanted))!" +dither -colors 256 \
    -type TrueColor "BMP3:$work/Painting.bmp"
else
  case "$picture" in
    plasma:*) convert -size "${picture#plasma:}" -seed 5 plasma:fractal -type TrueColor \
                "BMP3:$work/Painting.bmp" ;;
    *) cp "$picture" "$work/Painting.bmp" ;;
  esac
fi
cd "$work"
if [ -n "$elsewhere" ]; then
  # The mount of its own covers /tmp, where the viewer may lie (a clone made there): it runs as
  # a copy in this folder, which stays its current folder under the mount.
  cp "$viewer" viewer
  viewer=./viewer
fi

# A display number of its own, chosen by the server, so that checks can run side by side.
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>display.txt >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s display.txt ] && break; sleep 0.1; done
[ -s display.txt ] || { echo "skipped: Xvfb did not start"; exit 77; }
export DISPLAY=:$(head -n 1 display.txt)
# Accepting connections, which on a loaded machine can come later than the number; a terminal
# started before that gives up at once.
for _ in $(seq 300); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.1; done
xwininfo -root >/dev/null 2>&1 ||
  { echo "$terminal (attempt $VIEWER_CHECK_ATTEMPT): the X server took no connection"; exit 3; }

# The viewer starts once the terminal's window is up and settled (a terminal still starting, on
# a loaded machine, can answer its questions later than the viewer waits). After it ends, the
# shell records its status and asks the terminal whether the cursor is shown (DECRQM), and a
# sixel terminal how many colour registers it has (XTSMGRAPHICS; the answer is 12 bytes for 256).
mkfifo go
hide=
[ "$cursor" = hidden-cursor ] && hide="printf '\\033[?25l';"
registers_question=
[ "$terminal" = xterm ] &&
  registers_question="printf '\\033[?1;1;0S'; timeout --foreground 5 dd bs=1 count=12 of=registers 2>/dev/null;"
run="cat '$work/go' >/dev/null; $hide cd '$work' && $elsewhere '$viewer'; echo \$? >status;
     stty raw -echo; printf '\\033[?25\$p'; timeout --foreground 5 dd bs=1 count=9 of=cursor 2>/dev/null;
     $registers_question stty sane; sleep 60"
compare=pixels fuzz=0
case "$terminal" in
  xterm)
    xterm -ti vt340 -xrm 'XTerm*numColorRegisters: 256' -xrm 'XTerm*internalBorder: 0' \
          -bw 0 -fa 'DejaVu Sans Mono' -fs "$font_size" -geometry "${columns}x${rows}+0+0" \
          -e sh -c "$run" &
    fuzz=1.5% ;;
  kitty|kitty-remote)
    LIBGL_ALWAYS_SOFTWARE=1 kitty --config NONE -o font_family='DejaVu Sans Mono' \
          -o font_size=10 -o placement_strategy=top-left -o window_padding_width=0 \
          -o initial_window_width=800 -o initial_window_height=680 \
          -o remember_window_size=no sh -c "$run" >terminal.log 2>&1 &
    ;;
  xterm-plain)
    columns=180 rows=60 compare=cells
    xterm -ti vt100 -xrm 'XTerm*internalBorder: 0' -bw 0 -fa 'DejaVu Sans Mono' -fs 10 \
          -geometry 180x60+0+0 -e sh -c "$run" & ;;
  urxvt)
    columns=175 rows=56 compare=cells fuzz=45%
    urxvt -tn xterm-256color -fn 'xft:DejaVu Sans Mono:size=10' -bg black -fg white +sb -b 0 \
          -geometry 175x56+0+0 -e sh -c "$run" & ;;
  mlterm)
    mlterm --geometry "${columns}x${rows}+0+0" --deffont='DejaVu Sans Mono' -w 13 \
           --lsp="$line_spacing" --border=0 --sbmod=none -e sh -c "$run" >terminal.log 2>&1 &
    fuzz=1.5% ;;
  *) echo "unknown terminal $terminal" >&2; exit 2 ;;
esac
term_pid=$!

find_window() {
  window=$(xwininfo -root -tree 2>/dev/null | awk -v t="$command" 'tolower($0) ~ t && /[0-9]+x[0-9]+\+/ { print $1; exit }')
  [ -n "$window" ]
}
for _ in $(seq 300); do  # a minute: a loaded machine starts a terminal slowly
  find_window && break
  kill -0 "$term_pid" 2>/dev/null || break  # it has ended without one
  sleep 0.2
done
if [ -z "$window" ]; then
  echo "$terminal (attempt $VIEWER_CHECK_ATTEMPT): no window appeared; what it printed:"
  tail -n 20 terminal.log 2>/dev/null
  exit 3
fi
sleep 1
if [ -n "$cell_height_wanted" ]; then
  area_height=$(xwininfo -id "$window" | awk '/Height:/ { print $2 }')
  [ "$((area_height / rows))" = "$cell_height_wanted" ] ||
    { echo "skipped: $terminal has cells $((area_height / rows)) pixels tall here, not $cell_height_wanted"; exit 77; }
fi
echo go >go

# What must show: the picture from (10, 10), rows in stored order; with CELL_HEIGHT, only its
# part above the last text row.
picture_size=$(identify -format '%wx%h' Painting.bmp)
convert Painting.bmp -flip expected.png
[ -n "$cell_height_wanted" ] &&
  convert expected.png -crop "x$(((rows - 1) * cell_height_wanted - 10))+0+0" +repage expected.png
size=$(identify -format '%wx%h' expected.png)
width=${size%x*} height=${picture_size#*x}

# What lies outside the picture and the cursor's cell (top left): the background only, which
# the last text row shows (nothing is ever painted there).
outside_clean() {  # AREA.png CELL_WIDTH CELL_HEIGHT LEFT TOP RIGHT BOTTOM
  local background colours
  background=$(convert "$1" -format '%[pixel:p{w-1,h-1}]' info:)
  colours=$(convert "$1" -fill "$background" -draw "rectangle $4,$5 $6,$7" \
            -draw "rectangle 0,0 $(($2 - 1)),$(($3 - 1))" -format '%k' info:)
  [ "$colours" = 1 ]
}

# Compares the window with what must show, into `differ` (and the bounds of the picture);
# false where it cannot be seen now.
look() {
  find_window || return 1  # (kitty makes its window anew as it starts)
  x=$(xwininfo -id "$window" | awk '/Absolute upper-left X/ { print $4 }')
  y=$(xwininfo -id "$window" | awk '/Absolute upper-left Y/ { print $4 }')
  area_width=$(xwininfo -id "$window" | awk '/Width:/ { print $2 }')
  area_height=$(xwininfo -id "$window" | awk '/Height:/ { print $2 }')
  cell_width=$((area_width / columns)) cell_height=$((area_height / rows))
  import -window root screen.png 2>/dev/null || return 1
  convert screen.png -crop "${area_width}x${area_height}+$x+$y" +repage area.png
  if [ "$compare" = pixels ]; then
    # Pixel (x, y) of the picture is screen pixel (10 + x, 10 + y).
    convert area.png -crop "${size}+10+10" +repage painted.png
    differ=$(compare -fuzz "$fuzz" -metric AE expected.png painted.png null: 2>&1)
    left=10 top=10 right=$((10 + width - 1)) bottom=$((10 + height - 1))
  else
    # Pixel (x, y) is the upper (even y) or lower half of text cell (10 + x, (10 + y) / 2).
    convert area.png -crop "$((width * cell_width))x$((height * cell_height / 2))+$((10 * cell_width))+$((5 * cell_height))" \
            +repage -sample "${size}!" painted.png
    # Pixels whose worst channel is further off than the tolerance.
    differ=$(convert expected.png painted.png -compose difference -composite -separate \
             -threshold "$fuzz" -evaluate-sequence max -format '%[fx:mean*w*h]' info: 2>&1)
    left=$((10 * cell_width)) top=$((5 * cell_height))
    right=$(((10 + width) * cell_width - 1)) bottom=$((5 * cell_height + (height + 1) / 2 * cell_height - 1))
  fi
}

differ=unknown
for _ in $(seq 40); do
  sleep 0.5
  look || continue
  [ "$differ" = 0 ] && outside_clean area.png "$cell_width" "$cell_height" "$left" "$top" "$right" "$bottom" && break
done
echo "$terminal (attempt $VIEWER_CHECK_ATTEMPT): text area at ($x, $y), cells of ${cell_width}x$cell_height, $differ pixels of $size differ (tolerance $fuzz)"
[ "$differ" = 0 ] || { convert area.png "/tmp/real-terminal-$terminal.png"; exit 3; }
outside_clean area.png "$cell_width" "$cell_height" "$left" "$top" "$right" "$bottom" ||
  { echo "$terminal: something besides the picture was drawn"; convert area.png "/tmp/real-terminal-$terminal.png"; exit 1; }

# Enter ends the run with status 0, the cursor as it was found.
xdotool mousemove --window "$window" 20 20 key Return  # where the pointer is, focus is
for _ in $(seq 50); do [ -s cursor ] && break; sleep 0.2; done
status=$(cat status 2>/dev/null)
reply=$(cat -v cursor 2>/dev/null)
want='^[[?25;1$y'
[ "$cursor" = hidden-cursor ] && want='^[[?25;2$y'
echo "$terminal: status ${status:-none} after Enter; the cursor: $reply (want $want)"
[ "$status" = 0 ] && [ "$reply" = "$want" ] || exit 1
if [ -n "$registers_question" ]; then
  # Its own 256 registers back, and the picture still whole.
  for _ in $(seq 50); do [ -s registers ] && break; sleep 0.2; done
  registers=$(cat -v registers 2>/dev/null)
  look
  echo "$terminal: registers after the run: $registers (want ^[[?1;0;256S); then $differ pixels of $size differ"
  [ "$registers" = '^[[?1;0;256S' ] && [ "$differ" = 0 ]
fi
