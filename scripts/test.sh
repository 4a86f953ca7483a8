#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite twice: once
# on the normal build, once with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/deps.sh

jobs=$(nproc)
scripts/build.sh build
(cd build && ctest --output-on-failure -j "$jobs")

scripts/build.sh build-sanitize -DTAVO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
(cd build-sanitize && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
   ctest --output-on-failure -j "$jobs")
