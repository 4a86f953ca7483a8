#!/usr/bin/env bash
# scripts/build.sh DIR [cmake options...]: configures and builds into DIR.
# scripts/build.sh --program NAME DIR: builds only the program NAME into DIR,
# configuring DIR first when it is not yet (the demo and the further checks).
# scripts/build.sh --targets DIR "TARGET..." [cmake options...]: configures DIR
# and builds only those targets (and what they need).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" = --program ]; then
  program=$2 dir=$3
  [ -f "$dir/CMakeCache.txt" ] || cmake -S "$root" -B "$dir" >/dev/null
  cmake --build "$dir" -j "$(nproc)" --target "$program"
  exit
fi
if [ "${1:-}" = --targets ]; then
  dir=$2 targets=$3
  shift 3
  cmake -S "$root" -B "$dir" "$@" >/dev/null
  # shellcheck disable=SC2086
  cmake --build "$dir" -j "$(nproc)" --target $targets
  exit
fi
dir=$1; shift
cmake -S "$root" -B "$dir" "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
