#!/usr/bin/env bash
# kitty graphics through the terminal, as to a kitty on another machine (over ssh): the viewer
# against chafa -f kitty, on a pseudo-terminal that answers like such a kitty, 250 x 70 cells of
# 8 x 17 pixels. Two cases, runs interleaved, medians reported with the ratio to chafa's:
#   pty   the terminal reads as fast as it can
#   link  the terminal gets the bytes through a link of RATE bytes a second (100 Mbit/s)
# and `cat` of the very bytes the viewer wrote, for what the terminal or the link itself costs.
# Bytes a pixel for the 1920 x 1080 photograph and for the sample picture (161 x 100,
# examples/Painting.bmp, shown by chafa in 21 x 6 cells).
#
# Usage: bench/kitty_link.sh [BUILD_DIR] [PICTURE]   (RUNS=5, RATE=12.5e6 by default)
#   VIEWER=PATH times another build of the viewer (an older one, say) with this build's tools.
set -euo pipefail
source "$(dirname "$0")/photo_1080p.sh"
sample=$(realpath "$(dirname "$0")/../examples/Painting.bmp")
build=$(realpath "${1:-build}")
source_picture=${2:-}
runs=${RUNS:-5}
rate=${RATE:-12.5e6}
viewer=$(realpath "${VIEWER:-$build/viewer}")
run=$build/bench/pty_run

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/photo" "$work/sample"
cd "$work/photo"
make_photo "$source_picture"
cp "$sample" "$work/sample/Painting.bmp"
cd "$work"

measure() {  # NAME PICTURE_DIR DRAIN_RATE -- PROGRAM ARGUMENTS...
  local name=$1 dir=$2 drain=$3
  shift 4
  read -r ms count _ < <(cd "$dir" && "$run" --drain "$drain" --answer kitty --pixels 2000x1190 \
                       250 70 "$work/$name.out" "$@")
  echo "$ms" >> "$name.times"
  echo "$count" >> "$name.bytes"
}

for _ in $(seq "$runs"); do
  for link in pty link; do
    drain=0
    [ $link = link ] && drain=$rate
    measure "viewer-$link" photo "$drain" -- "$viewer"
    measure "chafa-$link" photo "$drain" -- chafa -f kitty -s 240x63 Painting.bmp
    measure "cat-$link" photo "$drain" -- cat "$work/viewer-$link.out"
  done
  measure viewer-sample sample 0 -- "$viewer"
  measure chafa-sample sample 0 -- chafa -f kitty -s 21x6 Painting.bmp
done

perPixel() { echo "$(median < "$1.bytes") / $2" | bc -l; }
printf '%-13s %9s %12s %9s %s\n' program ms bytes bytes/px "/ chafa's time"
for link in pty link; do
  chafa_ms=$(median < "chafa-$link.times")
  for name in viewer chafa cat; do
    ms=$(median < "$name-$link.times")
    printf '%-13s %9.1f %12d %9.3f %.3f\n' "$name-$link" "$ms" "$(median < "$name-$link.bytes")" \
      "$(perPixel "$name-$link" $((1920 * 1080)))" "$(echo "$ms / $chafa_ms" | bc -l)"
  done
done
for name in viewer-sample chafa-sample; do
  printf '%-13s %9s %12d %9.3f\n' "$name" - "$(median < "$name.bytes")" \
    "$(perPixel "$name" $((161 * 100)))"
done
echo "medians of $runs interleaved runs, from the start until the terminal had the last byte;"
echo "link: $rate bytes a second; bytes: all the terminal got (bytes a pixel: over the picture's)"
echo "(chafa scales to whole cells: 1896 x 1071 and 160 x 102 pixels)"
