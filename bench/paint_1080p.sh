#!/usr/bin/env bash
# Whole-process time to paint a 1920 x 1080 picture at 1:1 on a pseudo-terminal big enough to
# hold it (1940 columns x 550 rows, so 1940 x 1100 half-block pixels), against timg's half
# blocks and against `cat` of the very bytes the viewer wrote (what the terminal itself costs).
# Runs are interleaved; medians of RUNS (default 5) runs are reported, with the ratios.
#
# Usage: bench/paint_1080p.sh [BUILD_DIR] [PICTURE]
#   BUILD_DIR  where `viewer` and `bench/pty_run` were built (default: build)
#   PICTURE    any picture ImageMagick reads; it is cropped and resized to 1920 x 1080.
#              Default: a photograph-like wallpaper from Debian's ukui-wallpapers package,
#              else ImageMagick's plasma fractal.
set -euo pipefail
source "$(dirname "$0")/photo_1080p.sh"
build=$(realpath "${1:-build}")
source_picture=${2:-}
runs=${RUNS:-5}
columns=1940 rows=550

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

make_photo "$source_picture"


: > viewer.times; : > timg.times; : > cat.times
for _ in $(seq "$runs"); do
  read -r ms bytes _ < <("$build/bench/pty_run" $columns $rows viewer.out "$build/viewer")
  echo "$ms" >> viewer.times; viewer_bytes=$bytes
  read -r ms bytes _ < <("$build/bench/pty_run" $columns $rows - cat viewer.out)
  echo "$ms" >> cat.times
  if command -v timg >/dev/null; then
    read -r ms bytes _ < <("$build/bench/pty_run" $columns $rows - timg -ph -g4000x3000 Painting.bmp)
    echo "$ms" >> timg.times; timg_bytes=$bytes
  fi
done

viewer_ms=$(median < viewer.times)
cat_ms=$(median < cat.times)
printf 'viewer      %8.1f ms  %10d bytes  %.2f bytes/pixel\n' "$viewer_ms" "$viewer_bytes" \
  "$(echo "$viewer_bytes / (1920 * 1080)" | bc -l)"
printf 'cat (same)  %8.1f ms  viewer / cat = %.2f\n' "$cat_ms" "$(echo "$viewer_ms / $cat_ms" | bc -l)"
if [ -s timg.times ]; then
  timg_ms=$(median < timg.times)
  printf 'timg -ph    %8.1f ms  %10d bytes  viewer / timg = %.2f\n' "$timg_ms" "$timg_bytes" \
    "$(echo "$viewer_ms / $timg_ms" | bc -l)"
fi
echo "medians of $runs interleaved runs; all times from start to the last byte on the terminal"
