#!/usr/bin/env bash
# bench/evaluation.sh [ROUNDS]: the scoring core (trackvideo/evaluation) as a
# whole process on generated sequences.
#
# Builds evaluation_bench (Release, -DTAVO_BUILD_BENCH=ON) into $BUILD_DIR
# (default build-bench in the source tree), writes with evaluation_gen.py into
# $DATA_DIR (default /tmp/tavo-evaluation-data; written again every run, it
# takes a second) two sequences:
#   seqA  1000 frames, 50 pedestrians in view (seed 1)
#   seqB   600 frames, 30 pedestrians in view (seed 2)
# each as a sequence folder (seqinfo.ini, gt/gt.txt) with the tracker's rows
# in results/NAME.txt, then times ROUNDS runs (default 5) of
#   one  evaluation_bench seqA alone
#   two  evaluation_bench seqA and seqB, with the COMBINED row
# and prints their medians (fastest-slowest), the scores table of `two`
# ($DATA_DIR/scores.csv) and the counts of events, which must equal IDSW and
# Frag of the table. bench/README.md tells how the table was checked against
# the official evaluation.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/timing.sh"
rounds=${1:-5}
build=${BUILD_DIR:-$root/build-bench}
data=${DATA_DIR:-/tmp/tavo-evaluation-data}

"$root/scripts/deps.sh" g++ cmake make python3 time
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTAVO_BUILD_BENCH=ON \
  -DTAVO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j 2 --target evaluation_bench >/dev/null
rm -rf "$data"
/usr/bin/python3 "$root/bench/evaluation_gen.py" "$data" seqA 1000 50 1 seqB 600 30 2

bench=$build/bench/evaluation_bench
one=(seqA 1000 "$data/seqA/gt/gt.txt" "$data/results/seqA.txt")
two=("${one[@]}" seqB 600 "$data/seqB/gt/gt.txt" "$data/results/seqB.txt")
results=$data/results.txt
: > "$results"
for round in $(seq 1 "$rounds"); do
  timed_run "$results" one "$round" "$data/one.csv" "$data/one.err" "$bench" "${one[@]}"
  timed_run "$results" two "$round" "$data/scores.csv" "$data/events.txt" "$bench" "${two[@]}"
done
for name in one two; do
  echo "$name: wall $(median $name 3) s ($(spread $name 3)), user $(median $name 4) s"
done
cat "$data/scores.csv" "$data/events.txt"
