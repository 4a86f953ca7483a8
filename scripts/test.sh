#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite twice: once
# on the normal build, once with AddressSanitizer and UndefinedBehaviorSanitizer;
# then the threaded tests with ThreadSanitizer.
# Then the memory and fuzz checks: the demo pipeline with both programs under
# valgrind's memcheck (on a build that tells valgrind about the memory
# manager's chunks, where the use-after-release death test runs too), and
# every fuzz target for 60 seconds (fuzz/run.sh, which installs clang).
# TAVO_FUZZ_SECONDS changes the fuzzing time; 0 skips the fuzzing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/deps.sh
scripts/deps.sh valgrind

jobs=$(nproc)
# Each stage prints its name when it starts and how long the one before took.
stage_name="" stage_start=$SECONDS
phase() {
  [ -n "$stage_name" ] && echo "== test.sh: $stage_name took $((SECONDS - stage_start)) s"
  stage_name=$* stage_start=$SECONDS
  [ "$*" = done ] || echo "== test.sh: $* ($(date +%T))"
}

phase "normal build and tests"
scripts/build.sh build
(cd build && ctest --output-on-failure -j "$jobs")

phase "sanitizer build and tests"
scripts/build.sh build-sanitize -DTAVO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
(cd build-sanitize && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
   ctest --output-on-failure -j "$jobs")

# The threads under ThreadSanitizer: the frame pipeline's own tests, and the
# program end to end on every thread count and with its evaluation (done
# beside the tracks' reading).
phase "thread sanitizer build and threaded tests"
scripts/build.sh --targets build-tsan "test_frame_pipeline test_trackvideo test_evaluation_run" -DTAVO_TSAN=ON \
  -DCMAKE_BUILD_TYPE=Debug
(cd build-tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/tests/tsan.supp" \
   ctest --output-on-failure -j "$jobs" -R 'FramePipeline|WhateverTheThreads|EndToEndEvaluation')

phase "valgrind"
cmake -S . -B build-valgrind -DTAVO_VALGRIND=ON >/dev/null
cmake --build build-valgrind -j "$jobs" --target histfeat trackpair test_memory
scripts/valgrind.sh build-valgrind
(cd build-valgrind && ctest --output-on-failure -R '^MemoryCheckingDeathTest\.')

seconds=${TAVO_FUZZ_SECONDS:-60}
if [ "$seconds" -gt 0 ]; then
  phase "fuzzing, $seconds s per target"
  fuzz/run.sh "$seconds"
fi
phase "done"
