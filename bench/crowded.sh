#!/usr/bin/env bash
# bench/crowded.sh [ROUNDS]: crowded frames on one thread and on two, side by
# side in one run.
#
# Builds trackvideo and trackvideo_gen (Release, -DTAVO_BUILD_BENCH=ON) into
# $BUILD_DIR (default build-bench in the source tree), makes in $DATA_DIR
# (default /tmp/tavo-crowded-data) a 120-frame 320 x 240 Motion-JPEG AVI
# (trackvideo_gen) and a tracks file of 1,200 boxes of 14 x 22 pixels in every
# frame, spread over the frame by a fixed generator (144,000 boxes); then, for
# ROUNDS rounds (default 5), the order alternating from round to round:
#   one  trackvideo --tracks T --video V --csv C --radius 20 --threads 1
#   two  the same with --threads 2
# Every run's table and report must equal the first's. Prints the medians of
# wall, processor time and peak memory, and the ratio one / two (goal: at
# least 1.6 on two cores). $TRACKVIDEO runs another build of trackvideo
# instead (the same data and checks), for a comparison with an older tree.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/timing.sh"
rounds=${1:-5}
build=${BUILD_DIR:-$root/build-bench}
data=${DATA_DIR:-/tmp/tavo-crowded-data}
work=$(mktemp -d "${TMPDIR:-/tmp}/tavo-crowded.XXXXXX")
trap 'rm -rf "$work"' EXIT

build_for_trackvideo "$root" "$build" trackvideo trackvideo_gen
trackvideo=${TRACKVIDEO:-$build/trackvideo/trackvideo}
if [ ! -s "$data/crowd.txt" ]; then
  "$build/bench/trackvideo_gen" "$data" 120 10 >&2
  awk 'BEGIN { s = 12345
    for (f = 1; f <= 120; f++)
      for (k = 1; k <= 1200; k++) {
        s = (s * 1103515245 + 12345) % 2147483648; x = s % 306
        s = (s * 1103515245 + 12345) % 2147483648; y = s % 218
        printf "%d,%d,%d,%d,14,22\n", f, k, x, y } }' > "$data/crowd.txt"
fi

results=$work/results
run_case() {  # NAME ROUND THREADS
  timed_run "$results" "$1" "$2" "$work/$1.report" "$work/$1.err" "$trackvideo" \
    --tracks "$data/crowd.txt" --video "$data/video.avi" --csv "$work/$1.csv" --radius 20 \
    --threads "$3" --quiet
  if [ -e "$work/first.csv" ]; then
    cmp -s "$work/$1.csv" "$work/first.csv" && cmp -s "$work/$1.report" "$work/first.report" ||
      { echo "crowded.sh: $1's table or report differs from the first run's" >&2; exit 1; }
  else
    mv "$work/$1.csv" "$work/first.csv"
    mv "$work/$1.report" "$work/first.report"
  fi
}
for ((r = 1; r <= rounds; r++)); do
  if ((r % 2)); then run_case one "$r" 1; run_case two "$r" 2
  else run_case two "$r" 2; run_case one "$r" 1; fi
done
printf '%-5s %8s %13s %8s %9s\n' case wall_s spread cpu_s peak_MB
for c in one two; do
  printf '%-5s %8s %13s %8s %9s\n' "$c" "$(median "$c" 3)" "$(spread "$c" 3)" "$(cpu "$c")" \
    "$(peak_mb "$c")"
done
speedup=$(ratio "$(median one 3)" "$(median two 3)")
echo "two threads: ${speedup}x the speed of one (goal: at least 1.6): $(verdict "$speedup >= 1.6")"
