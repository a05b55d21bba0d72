# Shared by the whole-run benchmarks (sourced, not run).
#
# make_photo [PICTURE|smooth|plasma|detailed]: writes Painting.bmp in the current directory,
# 1920 x 1080, 24 bits, from PICTURE (any file ImageMagick reads, resized to fill and cropped),
# or from one of the set of photographs of different detail the benchmarks sweep:
#   smooth    a wallpaper of smooth gradients (rhythm.jpg, Debian's ukui-wallpapers)
#   plasma    ImageMagick's plasma fractal: smooth with noise in every pixel
#   detailed  a photograph of a forest path, every pixel foliage (Path, Debian's
#             plasma-workspace-wallpapers)
# Without an argument: smooth. A package that cannot be fetched falls back to plasma.
make_photo() {
  local source_picture=${1:-smooth}
  case "$source_picture" in
    smooth)
      source_picture=plasma
      if apt-get download ukui-wallpapers >/dev/null 2>&1; then
        dpkg-deb -x ukui-wallpapers_*.deb wallpapers && rm -f ukui-wallpapers_*.deb
        source_picture=wallpapers/usr/share/backgrounds/rhythm.jpg
      fi ;;
    detailed)
      source_picture=plasma
      if apt-get download plasma-workspace-wallpapers >/dev/null 2>&1; then
        dpkg-deb -x plasma-workspace-wallpapers_*.deb wallpapers && rm -f plasma-workspace-wallpapers_*.deb
        source_picture=wallpapers/usr/share/wallpapers/Path/contents/images/2560x1600.jpg
      fi ;;
  esac
  if [ "$source_picture" = plasma ]; then
    convert -size 1920x1080 -seed 7 plasma:fractal plasma.png
    source_picture=plasma.png
  fi
  echo "the picture: from $source_picture" >&2
  convert "$source_picture" -strip -resize '1920x1080^' -gravity center -extent 1920x1080 \
    -type TrueColor BMP3:Painting.bmp
}

# enter_photo WORK PICTURE: a directory of its own under WORK for PICTURE (two pictures may have
# the same name), made the current one, with Painting.bmp made there from PICTURE (as
# make_photo takes it).
enter_photo() {
  local picture=$2
  if [ -f "$picture" ]; then picture=$(realpath "$picture"); fi
  photo_count=$((${photo_count:-0} + 1))
  mkdir -p "$1/$photo_count"
  cd "$1/$photo_count"
  make_photo "$picture"
}

# median: the median of the numbers on standard input, one a line.
median() {
  sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
