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
# xterm.js in headless Chromium: Debian's chromium, and Node.js with npm (the machine's own
# where it has them). Without them that one check is skipped, not the suite.
bash examples/install_packages.sh chromium || echo "chromium could not be installed" >&2
command -v npm >/dev/null || bash examples/install_packages.sh npm ||
  echo "npm could not be installed" >&2
# Memcheck over whole runs.
bash examples/install_packages.sh valgrind
# The manual page's check: groff, and man to render it.
bash examples/install_packages.sh groff-base man-db

build=${BUILD_DIR:-build}
# shellcheck disable=SC2086  # the extra arguments are words on purpose
cmake -S . -B "$build" ${VIEWER_CMAKE_ARGS:-}
cmake --build "$build" -j2
# The xterm.js check's packages, exactly as its lockfile pins them, from npm's cache where they
# are there; without them (no registry, no cache) that check is skipped.
mkdir -p "$build/xtermjs"
cp tests/viewer/xtermjs/package.json tests/viewer/xtermjs/package-lock.json "$build/xtermjs/"
(cd "$build/xtermjs" && npm ci --prefer-offline --no-audit --no-fund --loglevel=error) ||
  echo "The xterm.js packages could not be installed: RealTerminal.xtermjs will be skipped." >&2
# shellcheck disable=SC2086
ctest --test-dir "$build" -j2 --output-on-failure --no-tests=error ${CTEST_ARGS:-}
