#!/usr/bin/env bash
# What the viewer's questions cost: on a terminal that answers nothing, here and in an ssh
# session (SSH_CONNECTION set), against timg on the same silent terminal; and on terminals
# whose answers come 150, 300 and 500 ms after each question, which canvas each gets and when
# its picture is complete. Each on a pseudo-terminal of 100 x 40 cells of 8 x 17 pixels with
# standard input at its end (the viewer ends once its picture is shown), runs interleaved,
# medians of RUNS (5) reported: milliseconds until the terminal had read the last byte.
#   silent:  a 1 x 1 picture, so that the time is the wait
#   late:    the sample picture; kitty elsewhere asked in two writes (TERM=xterm-256color) and
#            in one (TERM=xterm-kitty), and a sixel terminal with 256 of 4096 colour registers
#            (xterm.js), which is set to 4096 in the second write and back at the end
#
# Usage: bench/probe_wait.sh [BUILD_DIR]
set -euo pipefail
build=$(realpath "${1:-build}")
sample=$(realpath "$(dirname "$0")/../examples/Painting.bmp")
runs=${RUNS:-5}
run=$build/bench/pty_run
ssh=(--env "SSH_CONNECTION=10.0.0.2 52114 10.0.0.1 22")
geometry=(--pixels 800x680 100 40)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir tiny
printf 'BM\x3a\x00\x00\x00\x00\x00\x00\x00\x36\x00\x00\x00\x28\x00\x00\x00\x01\x00\x00\x00\x01\x00\x00\x00\x01\x00\x18\x00\x00\x00\x00\x00\x04\x00\x00\x00\x13\x0b\x00\x00\x13\x0b\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x30\x20\x10\x00' >tiny/Painting.bmp
cp "$sample" Painting.bmp

median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
canvas() {
  if grep -qaF $'\e_Ga=T' "$1"; then echo kitty
  elif grep -qaF $'\eP' "$1"; then echo sixel
  else echo "text cells"; fi
}
measure() {  # NAME -- PTY_RUN ARGUMENTS...
  local name=$1; shift 2
  read -r ms _ < <("$run" "$@")
  echo "$ms" >>"$work/$name.times"
}

for _ in $(seq "$runs"); do
  (cd tiny && measure silent-here -- --answer silent "${geometry[@]}" - "$build/viewer")
  (cd tiny && measure silent-ssh -- --answer silent "${ssh[@]}" "${geometry[@]}" - "$build/viewer")
  (cd tiny && measure silent-timg -- --answer silent "${geometry[@]}" - timg -g100x40 Painting.bmp)
  for late in 150 300 500; do
    for where in here ssh; do
      where_env=()
      [ "$where" = ssh ] && where_env=("${ssh[@]}")
      measure "kitty-$where-$late" -- --answer kitty --late "$late" "${where_env[@]}" \
        "${geometry[@]}" "kitty-$where-$late.out" "$build/viewer"
      measure "kittyterm-$where-$late" -- --answer kitty --late "$late" "${where_env[@]}" \
        --env TERM=xterm-kitty "${geometry[@]}" "kittyterm-$where-$late.out" "$build/viewer"
      measure "xtermjs-$where-$late" -- --answer xtermjs --late "$late" "${where_env[@]}" \
        "${geometry[@]}" "xtermjs-$where-$late.out" "$build/viewer"
    done
  done
done

here=$(median silent-here.times) over_ssh=$(median silent-ssh.times) timg=$(median silent-timg.times)
echo "A silent terminal (median of $runs, ms until the last byte):"
printf '  %-28s %8s\n' "viewer, here" "$here" "viewer, in an ssh session" "$over_ssh" \
  "timg 1.4.5, here" "$timg"
awk -v a="$here" -v b="$timg" -v c="$over_ssh" \
  'BEGIN { printf "  viewer / timg: %.2f here, %.2f in an ssh session\n", a / b, c / b }'
echo "Answers that come late (median ms; the canvas of the last run):"
printf '  %-44s %6s %18s %18s\n' terminal late here "in an ssh session"
for terminal in kitty kittyterm xtermjs; do
  case $terminal in
    kitty) label="kitty elsewhere (two writes)" ;;
    kittyterm) label="kitty elsewhere, TERM=xterm-kitty (one write)" ;;
    xtermjs) label="xterm.js (256 of 4096 registers)" ;;
  esac
  for late in 150 300 500; do
    printf '  %-44s %6s %7s %-10s %7s %-10s\n' "$label" "$late" \
      "$(median "$terminal-here-$late.times")" "$(canvas "$terminal-here-$late.out")" \
      "$(median "$terminal-ssh-$late.times")" "$(canvas "$terminal-ssh-$late.out")"
  done
done
