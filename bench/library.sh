#!/usr/bin/env bash
# bench/library.sh [Google Benchmark flags...]: the library against its peers.
#
# Installs what is missing (the build tools, Debian's libbenchmark-dev,
# libabsl-dev, libmimalloc-dev, libjemalloc-dev), builds bench_library
# (Release) into $BUILD_DIR (default /tmp/tavo-bench-build), runs every
# benchmark $REPETITIONS times (default 5; Google Benchmark's repetitions, in
# one process), keeps the JSON in $BUILD_DIR/bench/library.json, and prints
# the median time per item of each benchmark with its ratio to the library's
# own row, and whether the goals hold (bench/library_summary.py). Extra
# arguments go to bench_library, e.g. --benchmark_filter=Find.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-/tmp/tavo-bench-build}
repetitions=${REPETITIONS:-5}

"$root/scripts/deps.sh" g++ cmake make libbenchmark-dev libabsl-dev libmimalloc-dev libjemalloc-dev python3

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTAVO_BUILD_BENCH=ON \
  -DTAVO_BUILD_TESTS=OFF -DTAVO_BUILD_HISTFEAT=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target bench_library >/dev/null

json=$build/bench/library.json
"$build/bench/bench_library" --benchmark_repetitions="$repetitions" \
  --benchmark_report_aggregates_only=true --benchmark_out="$json" \
  --benchmark_out_format=json "$@" >&2
/usr/bin/python3 "$root/bench/library_summary.py" "$json"
