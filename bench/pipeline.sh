#!/usr/bin/env bash
# bench/pipeline.sh [ROUNDS]: the pipeline driver (examples/pipeline.sh), which
# runs histfeat once for all frames (--batch), against the former driver, which
# ran one histfeat process per object and frame, on the bundled sequence and at
# full scale.
#
# Installs what is missing (the build tools, OpenCV's development packages,
# python3, GNU time), builds histfeat and trackpair (Release) into $BUILD_DIR
# (default /tmp/tavo-pipeline-bench-build), generates with bench/pipeline_gen.py
# the full-scale sequence into $DATA_DIR (default /tmp/tavo-pipeline-data): 100
# objects x 500 frames, the 500 frames links to the 30 bundled ones, boxes from
# smooth tracks; then, ROUNDS times (default 3), one after the other so that a
# busy machine slows all alike:
#   1. the bundled sequence (4 objects x 30 frames) with --batch and per frame;
#   2. the full sequence with --batch;
#   3. per frame, on the first $PER_FRAME_LINES lines (default 200: object 1,
#      frames 1..200) of the full sequence only: all 50,000 lines would take
#      hours. Its full-scale figure is extrapolated from the time per line;
#   4. the file system alone: python3 writes 50,000 files of a record file's
#      size the way histfeat does (temporary file, write, close, rename), the
#      floor under any histfeat that writes them.
# Each run gets a fresh work directory under $WORK_DIR (default
# /tmp/tavo-pipeline-work; put it on tmpfs, e.g. /dev/shm/..., to see the cost
# of the disk's file system). histfeat and trackpair are run through wrappers
# that log the wall time, user and system time and peak memory of every
# process. Output files and reports of the two drivers are compared (cmp).
# Prints the medians and whether the goal holds: at full scale, --batch spends
# less time in histfeat than trackpair spends on the whole report.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/timing.sh"
rounds=${1:-3}
build=${BUILD_DIR:-/tmp/tavo-pipeline-bench-build}
data=${DATA_DIR:-/tmp/tavo-pipeline-data}
work=${WORK_DIR:-/tmp/tavo-pipeline-work}
subset=${PER_FRAME_LINES:-200}
objects=100
frames=500

# ---- what the benchmark needs ------------------------------------------------------
"$root/scripts/deps.sh" g++ cmake make libopencv-core-dev libopencv-imgproc-dev \
  libopencv-imgcodecs-dev python3 time
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTAVO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target histfeat trackpair >/dev/null

# ---- the inputs -----------------------------------------------------------------------
stamp="$objects $frames $(md5sum < "$root/bench/pipeline_gen.py" | cut -c1-32)"
if [ ! -f "$data/.stamp" ] || [ "$(cat "$data/.stamp")" != "$stamp" ]; then
  echo "Generating the sequence in $data ..." >&2
  rm -rf "$data"
  python3 "$root/bench/pipeline_gen.py" "$root/examples/footage" "$data/full" $objects $frames >&2
  echo "$stamp" > "$data/.stamp"
fi
# The per-frame subset: the same frames, the first $subset lines (one object).
rm -rf "$data/subset"
cp -P -r "$data/full" "$data/subset"
awk -v n="$subset" '!/^#/ && n-- > 0' "$data/full/boxes.txt" > "$data/subset/boxes.txt"
awk '$1 != 1 { exit 1 }' "$data/subset/boxes.txt" ||
  { echo "pipeline.sh: PER_FRAME_LINES must not exceed one object's $frames lines" >&2; exit 1; }

# ---- the drivers ------------------------------------------------------------------------
# per_frame_pipeline HISTFEAT TRACKPAIR WORKDIR FOOTAGE: the former driver loop,
# one histfeat process per line of FOOTAGE/boxes.txt, in WORKDIR with the fixed
# names v200.jpg, pos.txt and objects_info_1.txt; then trackpair.
per_frame_pipeline() {
  local histfeat=$1 trackpair=$2 dir=$3 footage=$4 objects=0 frames=0
  (
    cd "$dir"
    : > histfeat.log
    while read -r object frame boxes; do
      case $object in '#'* | '') continue ;; esac
      cp "$(printf '%s/frame_%02d.jpg' "$footage" "$frame")" v200.jpg
      printf '%s\n' "$boxes" > pos.txt
      "$histfeat" >> histfeat.log
      mv objects_info_1.txt "objects_info_h${object}_${frame}.txt"
      ((object > objects)) && objects=$object
      ((frame > frames)) && frames=$frame
    done < "$footage/boxes.txt"
    "$trackpair" "$objects" "$frames"
  )
}

# The wrappers (bench/timing.sh): $bin/histfeat and $bin/trackpair run the real programs and
# append "name wall_s user_s sys_s peak_kB" to the file named in $TIMING_LOG.
bin=$work/bin
rm -rf "$work"
timing_wrappers "$bin" "$build" histfeat trackpair

results=$work/results  # "case round histfeat_s trackpair_s driver_s user_s sys_s peak_kB lines"
: > "$results"
# one CASE ROUND DRIVER FOOTAGE: one timed run of DRIVER (batch or per_frame).
one() {
  local name=$1 round=$2 driver=$3 footage=$4 dir=$work/$1
  rm -rf "$dir"
  mkdir -p "$dir"
  export TIMING_LOG=$work/$name.log
  : > "$TIMING_LOG"
  local start end
  start=$EPOCHREALTIME
  if [ "$driver" = batch ]; then
    "$root/examples/pipeline.sh" "$bin/histfeat" "$bin/trackpair" "$dir" "$footage" > "$dir.report"
  else
    per_frame_pipeline "$bin/histfeat" "$bin/trackpair" "$dir" "$footage" > "$dir.report"
  fi
  end=$EPOCHREALTIME
  local lines
  lines=$(grep -vc '^#' "$footage/boxes.txt")
  awk -v c="$name" -v r="$round" -v d="$(awk -v s="$start" -v e="$end" 'BEGIN { print e - s }')" \
    -v n="$lines" '
    $1 == "histfeat" { h += $2; u += $3; s += $4; if ($5 > m) m = $5 }
    $1 == "trackpair" { t += $2 }
    END { printf "%s %d %.6f %.6f %.6f %.2f %.2f %d %d\n", c, r, h, t, d, u, s, m, n }' \
    "$TIMING_LOG" >> "$results"
}
same_outputs() {  # same_outputs DIR_A DIR_B: every detection file of A is in B, byte for byte
  local f
  for f in "$1"/objects_info_h*.txt; do cmp -s "$f" "$2/${f##*/}" || return 1; done
}

full_lines=$(grep -vc '^#' "$data/full/boxes.txt")
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
for ((i = 1; i <= rounds; i++)); do
  one bundled_batch "$i" batch "$root/examples/footage"
  one bundled_per_frame "$i" per_frame "$root/examples/footage"
  one full_batch "$i" batch "$data/full"
  one subset_per_frame "$i" per_frame "$data/subset"
  rm -rf "$work/files_only"
  mkdir "$work/files_only"
  python3 - "$work/files_only" "$full_lines" "$i" >> "$results" <<'PY'
import os, sys, time
folder, count, round_ = sys.argv[1], int(sys.argv[2]), sys.argv[3]
text = b"0.000000 " * 190
start = time.perf_counter()
for n in range(count):
    path = "%s/objects_info_h%d_%d.txt" % (folder, n // 500 + 1, n % 500 + 1)
    with open(path + ".tmp", "xb") as f:
        f.write(text)
    os.rename(path + ".tmp", path)
print("files_only %s %.6f 0 %.6f 0 0 0 %d" % (round_, time.perf_counter() - start,
                                              time.perf_counter() - start, count))
PY
  cmp -s "$work/bundled_batch.report" "$work/bundled_per_frame.report" &&
    same_outputs "$work/bundled_per_frame" "$work/bundled_batch" &&
    cmp -s "$work/bundled_batch/histfeat.log" "$work/bundled_per_frame/histfeat.log" &&
    same_outputs "$work/subset_per_frame" "$work/full_batch" ||
    { echo "pipeline.sh: the two drivers' outputs differ" >&2; exit 1; }
  echo "round $i of $rounds done (load $(cut -d' ' -f1-3 /proc/loadavg))" >&2
done

# ---- summary ---------------------------------------------------------------------------
lines_of() { awk -v c="$1" '$1 == c { print $9; exit }' "$results"; }

echo
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), load now $(cut -d' ' -f1-3 /proc/loadavg)"
echo "work directory: $work ($(df -T "$work" | awk 'NR == 2 { print $2 }')); $rounds rounds, medians (fastest-slowest), seconds"
printf '%-18s %6s %22s %9s %9s %9s %10s %9s\n' case lines "histfeat" "user" "sys" \
  trackpair "driver" "peak MB"
for c in bundled_batch bundled_per_frame full_batch subset_per_frame files_only; do
  printf '%-18s %6s %9s %12s %9s %9s %9s %10s %9s\n' "$c" "$(lines_of "$c")" "$(median "$c" 3)" \
    "($(spread "$c" 3))" "$(median "$c" 6)" "$(median "$c" 7)" "$(median "$c" 4)" \
    "$(median "$c" 5)" "$(awk -v c="$c" '$1 == c && $8 > m { m = $8 } END { printf "%.1f", m / 1024 }' "$results")"
done
per_line=$(awk -v t="$(median subset_per_frame 3)" -v n="$(lines_of subset_per_frame)" \
  'BEGIN { printf "%.4f", t / n }')
batch=$(median full_batch 3)
tp=$(median full_batch 4)
echo "per frame: $per_line s of histfeat per line; extrapolated to the $full_lines lines of the" \
  "full sequence: $(awk -v p="$per_line" -v n="$full_lines" 'BEGIN { printf "%.0f", p * n }') s" \
  "(x$(awk -v p="$per_line" -v n="$full_lines" -v b="$batch" 'BEGIN { printf "%.0f", p * n / b }') the batch)"
echo "goal: --batch at full scale spends less time in histfeat ($batch s) than trackpair" \
  "on the whole report ($tp s): $(awk -v b="$batch" -v t="$tp" 'BEGIN { print b < t ? "met" : "MISSED" }')"
