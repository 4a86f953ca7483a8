#!/usr/bin/env bash
# scripts/demo.sh: the pipeline on the bundled real footage (examples/footage:
# 30 frames of a pedestrian video, four tracked people, three candidate boxes
# per person and frame). Installs missing Debian packages, builds histfeat and
# trackpair into build/ (or $BUILD_DIR) when needed, runs histfeat on every
# object and frame in a fresh work directory, then trackpair, and prints
# trackpair's report on standard output; everything else goes to standard error.
# KEEP_WORK=1 keeps the work directory and names it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/deps.sh >&2

build=${BUILD_DIR:-build}
histfeat=$build/histfeat/histfeat
trackpair=$build/trackpair/trackpair
if [ -x "$histfeat" ] && [ -x "$trackpair" ]; then
  cmake --build "$build" -j "$(nproc)" --target histfeat trackpair >&2
else
  scripts/build.sh "$build" >&2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tavo-demo.XXXXXX")
if [ "${KEEP_WORK:-0}" = 1 ]; then
  echo "demo: work directory $work" >&2
else
  trap 'rm -rf "$work"' EXIT
fi
examples/pipeline.sh "$histfeat" "$trackpair" "$work"
