#!/usr/bin/env bash
# scripts/demo.sh: trackvideo on the bundled real footage (examples/footage:
# 30 frames of a pedestrian video, four tracked people, three candidate boxes
# per person and frame, as the tracks file examples/footage/tracks.txt).
# Installs missing Debian packages, builds trackvideo into build/ (or
# $BUILD_DIR) when needed, and runs it with the table, the encounters, their
# page and the overlay video written into a fresh folder, which it names on
# standard error. The candidate
# report goes to standard output; everything else to standard error.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/deps.sh >&2

build=${BUILD_DIR:-build}
trackvideo=$build/trackvideo/trackvideo
scripts/build.sh --program trackvideo "$build" >&2

out=$(mktemp -d "${TMPDIR:-/tmp}/trackvideo-demo.XXXXXX")
echo "demo: writing $out/pairs.csv, $out/encounters.csv, $out/page/index.html and $out/overlay.avi" >&2
"$trackvideo" --tracks examples/footage/tracks.txt --frames examples/footage \
  --csv "$out/pairs.csv" --encounters "$out/encounters.csv" --html "$out/page" \
  --overlay-video "$out/overlay.avi"
