#!/usr/bin/env bash
# Builds everything and runs the whole test suite, installing what a fresh Debian machine lacks.
#
# Usage: bash tests/run.sh
#   BUILD_DIR          where to build (default: build)
#   VIEWER_CMAKE_ARGS  more options for cmake, e.g. "-DVIEWER_WERROR=ON" or
#                      "-DVIEWER_SANITIZE=address,undefined"
#   CTEST_ARGS         more options for ctest, e.g. "-L canvas"
set -euo pipefail
cd "$(dirname "$0")/.."
bash examples/install_packages.sh cmake g++ make libdeflate-dev zlib1g-dev libpng-dev libgtest-dev \
  libgmock-dev libbenchmark-dev
# For the checks in real terminals on a virtual X display.
bash examples/install_packages.sh xvfb x11-utils xdotool imagemagick fonts-dejavu-core xterm kitty \
  mlterm rxvt-unicode
# Memcheck over whole runs.
bash examples/install_packages.sh valgrind
# The manual page's check: groff, and man to render it.
bash examples/install_packages.sh groff-base man-db

build=${BUILD_DIR:-build}
# shellcheck disable=SC2086  # the extra arguments are words on purpose
cmake -S . -B "$build" ${VIEWER_CMAKE_ARGS:-}
cmake --build "$build" -j2
# shellcheck disable=SC2086
ctest --test-dir "$build" -j2 --output-on-failure --no-tests=error ${CTEST_ARGS:-}
