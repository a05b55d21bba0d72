#!/usr/bin/env bash
# Two builds of the viewer's sixel canvas side by side, with chafa as the yardstick measured in
# the same rounds: on each photograph (photo_1080p.sh: smooth, plasma, detailed, or the
# pictures given), RUNS rounds of: the first build at 1024 and at 256 colour registers, the
# second build at both, then chafa -f sixels, each on a pseudo-terminal that answers like xterm
# (as compare_peers.sh does). Prints the medians, their ratios to chafa's, and the bytes. For a
# change whose effect is smaller than the spread between two runs of compare_peers.sh.
#
# Usage: bench/sixel_ab.sh BEFORE_BUILD AFTER_BUILD [PICTURE...]   (RUNS=11 by default)
set -euo pipefail
source "$(dirname "$0")/photo_1080p.sh"
before=$(realpath "$1")
after=$(realpath "$2")
shift 2
pictures=("$@")
[ ${#pictures[@]} -gt 0 ] || pictures=(smooth plasma detailed)
runs=${RUNS:-11}
run=$after/bench/pty_run

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ratio() { echo "$1 / $2" | bc -l | cut -c1-4; }

for picture in "${pictures[@]}"; do
  enter_photo "$work" "$picture"
  for _ in $(seq "$runs"); do
    for side in before after; do
      viewer=$before/viewer
      [ "$side" = after ] && viewer=$after/viewer
      for registers in 1024 256; do
        answer=sixel
        [ "$registers" = 256 ] && answer=sixel-256
        read -r ms bytes _ < <("$run" --answer "$answer" --pixels 2000x1260 250 70 out "$viewer")
        echo "$ms" >> "$side-$registers.times"
        echo "$bytes" > "$side-$registers.bytes"
      done
    done
    read -r ms _ < <("$run" --answer sixel --pixels 2000x1260 250 70 out \
      chafa -f sixels -s 240x61 Painting.bmp)
    echo "$ms" >> chafa.times
  done
  chafa=$(median < chafa.times)
  echo "== $picture: chafa $chafa ms (medians of $runs interleaved rounds)"
  for registers in 1024 256; do
    line="$registers registers:"
    for side in before after; do
      ms=$(median < "$side-$registers.times")
      line="$line $side $ms ms ($(ratio "$ms" "$chafa") of chafa's), $(cat "$side-$registers.bytes") bytes;"
    done
    echo "$line"
  done
done
