#!/usr/bin/env bash
# The viewer against its peers on one 1920 x 1080 photograph at 1:1, each on a pseudo-terminal
# that answers like the terminal it writes for, runs interleaved, medians reported:
#   kitty graphics: viewer on kitty elsewhere (direct transmission), viewer on kitty on this
#                   machine (shared memory), chafa -f kitty
#   sixel (1024 registers): viewer, img2sixel, chafa -f sixels, with the PSNR of what a
#                           terminal would show, against the picture
#   text cells: viewer, timg -ph
# and `cat` of the very bytes the viewer wrote, for what the terminal itself costs.
# The terminal has cells of 8 x 17 pixels: 250 x 70 cells (2000 x 1190 pixels) for images,
# 1940 x 550 cells for half blocks.
#
# Usage: bench/compare_peers.sh [BUILD_DIR] [PICTURE]   (RUNS=5 by default)
set -euo pipefail
source "$(dirname "$0")/photo_1080p.sh"
build=$(realpath "${1:-build}")
source_picture=${2:-}
runs=${RUNS:-5}
run=$build/bench/pty_run
images=(--pixels 2000x1190 250 70)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
make_photo "$source_picture"

declare -A bytes
measure() {  # NAME ANSWER GEOMETRY... -- PROGRAM ARGUMENTS...
  local name=$1 answer=$2; shift 2
  local geometry=()
  while [ "$1" != -- ]; do geometry+=("$1"); shift; done
  shift
  read -r ms count < <("$run" --answer "$answer" "${geometry[@]}" "$name.out" "$@")
  echo "$ms" >> "$name.times"
  bytes[$name]=$count
}

for _ in $(seq "$runs"); do
  measure viewer-kitty kitty "${images[@]}" -- "$build/viewer"
  measure viewer-kitty-shm kitty-local "${images[@]}" -- "$build/viewer"
  measure cat-kitty plain "${images[@]}" -- cat viewer-kitty.out
  measure chafa-kitty kitty "${images[@]}" -- chafa -f kitty -s 240x63 Painting.bmp
  measure viewer-sixel sixel "${images[@]}" -- "$build/viewer"
  measure cat-sixel plain "${images[@]}" -- cat viewer-sixel.out
  measure img2sixel sixel "${images[@]}" -- img2sixel Painting.bmp
  measure chafa-sixel sixel "${images[@]}" -- chafa -f sixels -s 240x63 Painting.bmp
  measure viewer-text plain 1940 550 -- "$build/viewer"
  measure cat-text plain 1940 550 -- cat viewer-text.out
  measure timg plain 1940 550 -- timg -ph -g4000x3000 Painting.bmp
done

psnr() { "$build/bench/sixel_psnr" "$1.out" Painting.bmp "$2" "$3" "$4" | cut -d' ' -f1; }
printf '%-13s %9s %12s %8s %s\n' program ms bytes bytes/px "PSNR (dB)"
for name in viewer-kitty viewer-kitty-shm cat-kitty chafa-kitty viewer-sixel cat-sixel img2sixel chafa-sixel \
            viewer-text cat-text timg; do
  quality=""
  case $name in
    viewer-kitty|viewer-sixel) quality=$(psnr "$name" 10 10 flipped) ;;
    img2sixel|chafa-sixel|chafa-kitty) quality=$(psnr "$name" 0 0 upright) ;;
  esac
  printf '%-13s %9.1f %12d %8.2f %s\n' "$name" "$(median < "$name.times")" "${bytes[$name]}" \
    "$(echo "${bytes[$name]} / (1920 * 1080)" | bc -l)" "$quality"
done
echo "medians of $runs interleaved runs, from the start until the terminal had the last byte"
echo "(and, for viewer-kitty-shm, had read the last shared memory object);"
echo "viewer-kitty-shm / chafa-kitty: $(echo "$(median < viewer-kitty-shm.times) / $(median < chafa-kitty.times)" | bc -l | cut -c1-5)"
echo "chafa scales to whole cells (1920 x 1071 here), so its PSNR is not at 1:1"
