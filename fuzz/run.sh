#!/bin/sh
# fuzz/run.sh SECONDS [TARGET...]: builds the libFuzzer targets with clang
# (AddressSanitizer and UndefinedBehaviorSanitizer throughout) into
# $TAVO_FUZZ_BUILD (default build-fuzz/ at the top of the tree) and runs each
# target for SECONDS seconds on a copy of its seed corpus (fuzz/corpus/<target>/).
# Installs clang and its runtime (libclang-rt-14-dev) first when they are
# missing. Exits non-zero if any target finds a crash; the crashing inputs are
# left in the build directory's artifacts/ directory.
set -eu

seconds=${1:?usage: fuzz/run.sh SECONDS [TARGET...]}
shift
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TAVO_FUZZ_BUILD:-$top/build-fuzz}
jobs=${TAVO_FUZZ_JOBS:-2}

"$top/scripts/deps.sh" clang libclang-rt-14-dev cmake make libopencv-core-dev \
  libopencv-imgproc-dev libopencv-imgcodecs-dev libopencv-videoio-dev \
  libavformat-dev libavcodec-dev libswscale-dev libavutil-dev pkg-config

cmake -S "$top" -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVO_SANITIZE=ON -DTAVO_BUILD_FUZZ=ON \
  -DTAVO_BUILD_TESTS=OFF >/dev/null

targets="$*"
if [ -z "$targets" ]; then
  for dir in "$top"/fuzz/corpus/*/; do
    targets="$targets $(basename "$dir")"
  done
fi
# shellcheck disable=SC2086
cmake --build "$build" -j "$jobs" --target $targets

mkdir -p "$build/artifacts"
failed=
for t in $targets; do
  corpus="$build/corpus/$t"
  mkdir -p "$corpus"
  cp "$top/fuzz/corpus/$t"/* "$corpus"/
  echo "== $t: $seconds s"
  if ! "$build/fuzz/$t" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-" "$corpus" \
      2>"$build/$t.log"; then
    failed="$failed $t"
  fi
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)|ERROR|SUMMARY' "$build/$t.log" || true
done
if [ -n "$failed" ]; then
  echo "crashes in:$failed (inputs in $build/artifacts)" >&2
  exit 1
fi
