# Shared by the whole-run benchmarks (sourced, not run).
#
# make_photo [PICTURE]: writes Painting.bmp in the current directory, 1920 x 1080, 24 bits,
# from PICTURE or, without one, from a photograph-like wallpaper of Debian's ukui-wallpapers
# package, else from ImageMagick's plasma fractal.
make_photo() {
  local source_picture=${1:-}
  if [ -z "$source_picture" ]; then
    if apt-get download ukui-wallpapers >/dev/null 2>&1; then
      dpkg-deb -x ukui-wallpapers_*.deb wallpapers
      source_picture=wallpapers/usr/share/backgrounds/rhythm.jpg
    else
      convert -size 1920x1080 -seed 7 plasma:fractal plasma.png
      source_picture=plasma.png
    fi
  fi
  convert "$source_picture" -resize '1920x1080^' -gravity center -extent 1920x1080 \
    -type TrueColor BMP3:Painting.bmp
}

# median: the median of the numbers on standard input, one a line.
median() {
  sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
