#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer under AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs each for SECONDS (60 by default) from its seeds, the
# findings kept as regressions and (for the whole run) the BMP Suite corpus. A finding stops
# the run with a non-zero status; its input is saved in BUILD_DIR/findings/TARGET/ (keep it in
# tests/fuzz/regressions/TARGET/ once fixed). What each target found on its way (the corpus)
# stays in BUILD_DIR/corpus/TARGET/ for the next run.
#
# Usage: bash tests/fuzz/run.sh [SECONDS] [TARGET...]    (targets: run replies encoders presenter)
#   BUILD_DIR  where to build (default: build-fuzz)
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(run replies encoders presenter)
build=$(realpath -m "${BUILD_DIR:-build-fuzz}")

bash examples/install_packages.sh clang-14 libclang-rt-14-dev cmake make libdeflate-dev zlib1g-dev \
  libpng-dev libgtest-dev
CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -DVIEWER_FUZZ=ON -DVIEWER_WERROR=ON \
  -DVIEWER_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
programs=()
for target in "${targets[@]}"; do programs+=("fuzz_${target}_fuzzer"); done
cmake --build "$build" -j2 --target "${programs[@]}"

bmpsuite=$(sed -n 's/^VIEWER_BMPSUITE_DIR:PATH=//p' "$build/CMakeCache.txt")
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
for target in "${targets[@]}"; do
  corpus=$build/corpus/$target findings=$build/findings/$target
  mkdir -p "$corpus" "$findings"
  seeds=(tests/fuzz/seeds/$target tests/fuzz/regressions/$target)
  if [ "$target" = run ]; then
    mkdir -p "$build/seeds-run"
    find "$bmpsuite" examples -name '*.bmp' -exec cp {} "$build/seeds-run/" \; 2>/dev/null || true
    seeds+=("$build/seeds-run")
  fi
  existing=()
  for s in "${seeds[@]}"; do [ -d "$s" ] && existing+=("$s"); done
  echo "== $target: $seconds s"
  log=$build/fuzz-$target.log
  if ! "$build/tests/fuzz/fuzz_${target}_fuzzer" -max_total_time="$seconds" -timeout=10 \
      -max_len=65536 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" \
      "$corpus" "${existing[@]}" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz target $target: a finding, saved in $findings/" >&2
    exit 1
  fi
  grep -E '^#[0-9]+.*(DONE|pulse)' "$log" | tail -n 1
  grep -E 'stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$log"
done
