#!/usr/bin/env bash
# The viewer against its peers on 1920 x 1080 photographs at 1:1, each program on a
# pseudo-terminal that answers like the terminal it writes for, runs interleaved, medians
# reported, for each photograph of a set of different detail (photo_1080p.sh: smooth, plasma,
# detailed) or the pictures given:
#   kitty graphics: viewer on kitty elsewhere (direct transmission), viewer on kitty on this
#                   machine (shared memory), chafa -f kitty
#   sixel: viewer with 1024 and with 256 colour registers, img2sixel, chafa -f sixels, with
#          the PSNR of what a terminal would show, against the picture
#   text cells: viewer, timg -ph
# and `cat` of the very bytes the viewer wrote, for what the terminal itself costs. Each
# program's minor page faults are reported beside its time and bytes.
# The terminal has cells of 8 x 17 pixels: 250 x 70 cells (2000 x 1190 pixels) for kitty
# images, 1940 x 550 cells for half blocks. For sixel its cells are 8 x 18 pixels (2000 x 1260):
# chafa sizes a picture in whole cells, and 1080 rows are 60 of those, so that chafa too paints
# the picture 1:1 (-s 240x61: a box 1920 pixels wide, the picture's own width) and every
# program's fidelity is measured on the same pixels. Then, for the viewer's sixel canvas on
# one thread, the time spent quantizing and in all, and its fidelity (bench/sixel_stages).
#
# Usage: bench/compare_peers.sh [BUILD_DIR] [PICTURE...]   (RUNS=7 by default)
#   PICTURE: smooth, plasma, detailed (the default: all three), or a file ImageMagick reads.
set -euo pipefail
source "$(dirname "$0")/photo_1080p.sh"
build=$(realpath "${1:-build}")
shift || true
pictures=("$@")
[ ${#pictures[@]} -gt 0 ] || pictures=(smooth plasma detailed)
runs=${RUNS:-7}
run=$build/bench/pty_run
images=(--pixels 2000x1190 250 70)
sixel=(--pixels 2000x1260 250 70)
names=(viewer-kitty viewer-kitty-shm cat-kitty chafa-kitty viewer-sixel viewer-sixel256
       cat-sixel256 img2sixel chafa-sixel viewer-text cat-text timg)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ratio() { echo "$1 / $2" | bc -l | cut -c1-5; }
psnr() { "$build/bench/sixel_psnr" "$1.out" Painting.bmp "$2" "$3" "$4" "$5" | cut -d' ' -f1; }

declare -A bytes quality
measure() {  # NAME ANSWER GEOMETRY... -- PROGRAM ARGUMENTS...
  local name=$1 answer=$2; shift 2
  local geometry=()
  while [ "$1" != -- ]; do geometry+=("$1"); shift; done
  shift
  read -r ms count minor < <("$run" --answer "$answer" "${geometry[@]}" "$name.out" "$@")
  echo "$ms" >> "$name.times"
  echo "$minor" >> "$name.faults"
  bytes[$name]=$count
}

for picture in "${pictures[@]}"; do
  enter_photo "$work" "$picture"
  for _ in $(seq "$runs"); do
    measure viewer-kitty kitty "${images[@]}" -- "$build/viewer"
    measure viewer-kitty-shm kitty-local "${images[@]}" -- "$build/viewer"
    measure cat-kitty plain "${images[@]}" -- cat viewer-kitty.out
    measure chafa-kitty kitty "${images[@]}" -- chafa -f kitty -s 240x63 Painting.bmp
    measure viewer-sixel sixel "${sixel[@]}" -- "$build/viewer"
    measure viewer-sixel256 sixel-256 "${sixel[@]}" -- "$build/viewer"
    measure cat-sixel256 plain "${sixel[@]}" -- cat viewer-sixel256.out
    measure img2sixel sixel "${sixel[@]}" -- img2sixel Painting.bmp
    measure chafa-sixel sixel "${sixel[@]}" -- chafa -f sixels -s 240x61 Painting.bmp
    measure viewer-text plain 1940 550 -- "$build/viewer"
    measure cat-text plain 1940 550 -- cat viewer-text.out
    measure timg plain 1940 550 -- timg -ph -g4000x3000 Painting.bmp
  done

  echo "== $picture: $(convert Painting.bmp -format '%k' info:) colours"
  printf '%-17s %9s %12s %8s %8s %s\n' program ms bytes bytes/px faults "PSNR (dB)"
  for name in "${names[@]}"; do
    quality[$name]=""
    case $name in
      viewer-kitty) quality[$name]=$(psnr "$name" 10 10 flipped 8x17) ;;
      chafa-kitty) quality[$name]=$(psnr "$name" 0 0 upright 8x17) ;;
      viewer-sixel|viewer-sixel256) quality[$name]=$(psnr "$name" 10 10 flipped 8x18) ;;
      img2sixel|chafa-sixel) quality[$name]=$(psnr "$name" 0 0 upright 8x18) ;;
    esac
    printf '%-17s %9.1f %12d %8.2f %8d %s\n' "$name" "$(median < "$name.times")" "${bytes[$name]}" \
      "$(echo "${bytes[$name]} / (1920 * 1080)" | bc -l)" "$(median < "$name.faults")" "${quality[$name]}"
  done
  echo "medians of $runs interleaved runs, from the start until the terminal had the last byte"
  echo "(and, for viewer-kitty-shm, had read the last shared memory object);"
  echo "viewer-kitty-shm / chafa-kitty: time $(ratio "$(median < viewer-kitty-shm.times)" "$(median < chafa-kitty.times)")"
  for registers in 1024 256; do
    name=viewer-sixel; [ "$registers" = 256 ] && name=viewer-sixel256
    echo "sixel, $registers registers: viewer / chafa: time $(ratio "$(median < $name.times)" \
"$(median < chafa-sixel.times)"), bytes $(ratio "${bytes[$name]}" "${bytes[chafa-sixel]}"), PSNR \
$(echo "${quality[$name]} - ${quality[chafa-sixel]}" | bc -l) dB more"
  done
  echo "chafa painted $(grep -a -o '"1;1;[0-9]*;[0-9]*' chafa-sixel.out | head -1 | cut -d';' -f3,4 | tr ';' x)" \
    "pixels of the 1920 x 1080 picture"
  for registers in 1024 256; do
    read -r quantizing all count fidelity < <("$build/bench/sixel_stages" Painting.bmp "$registers" 8x18)
    echo "viewer's sixel canvas, $registers registers, one thread: ${quantizing} ms quantizing," \
      "$(echo "$all - $quantizing" | bc -l) ms encoding, $count bytes, $fidelity dB"
  done
  echo
done
