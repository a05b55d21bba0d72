#!/usr/bin/env bash
# Builds the viewer and shows the sample picture in this terminal; press Enter to end.
set -euo pipefail
cd "$(dirname "$0")/.."
bash examples/install_packages.sh cmake g++ make libdeflate-dev
cmake -S . -B build >/dev/null
cmake --build build -j2 --target viewer >/dev/null
cd examples
exec ../build/viewer
