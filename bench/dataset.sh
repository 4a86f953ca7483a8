#!/usr/bin/env bash
# bench/dataset.sh [ROUNDS]: trackvideo over a dataset of eight sequence folders,
# as a shell loop of single runs against one `trackvideo --batch` run, side by
# side in one run.
#
# Installs what is missing (the build tools, OpenCV's, FFmpeg's, libjpeg's and
# libpng's development packages, GNU time), builds trackvideo and
# trackvideo_gen (Release, -DTAVO_BUILD_BENCH=ON) into $BUILD_DIR (default
# build-bench in the source tree), and generates with trackvideo_gen into
# $DATA_DIR (default /tmp/tavo-dataset-data; generated again only when the
# generator or the sizes below changed) eight sequence folders seq-01 ..
# seq-08 of 320 x 240 JPEG frames: seqinfo.ini, img1/000001.jpg ..., and the
# generator's tracks (three boxes per object and frame) as gt/gt.txt
# (frame,id,left,top,width,height,1,1,1), with list.txt naming the eight.
# Their frame and object counts differ a little (the generator draws the
# objects first, so each object count gives other tracks). Then:
#   1. once, untimed: the loop, --jobs 1 and --jobs $(nproc) into fresh
#      folders; every sequence's report.txt, pairs.csv and encounters.csv from
#      the batch runs must equal the loop's byte for byte;
#   2. ROUNDS rounds (default 5), the order of the cases reversed from round
#      to round so that a busy machine slows them alike:
#        loop   for each sequence S of the list:
#                 trackvideo --sequence S --csv OUT/name/pairs.csv
#                   --encounters OUT/name/encounters.csv --quiet > OUT/name/report.txt
#               (the script $WORK_DIR/loop.sh OUT; --encounters since the batch
#               writes that table too)
#        jobs1  trackvideo --batch LIST --out OUT --jobs 1 --force --quiet
#        jobsN  trackvideo --batch LIST --out OUT --jobs $(nproc) --force --quiet
#      each into its own OUT, written over from round to round (--force, so
#      nothing is skipped); wall time (the shell's clock around the whole
#      case), user and system time of all its processes and the largest peak
#      resident memory (GNU time), and the processor time the rest of the
#      machine took meanwhile (/proc/stat less the case's own: on a shared
#      machine it tells the rounds in which --jobs had no core to spare);
#      the outputs compared with the loop's again;
# and prints medians (fastest-slowest), the ratios jobs1/loop and loop/jobsN
# and whether the goals hold: jobs1 within 5 % of the loop (jobs1/loop <=
# 1.05), loop/jobsN >= 0.6 x (cores - 1) + 1; all this twice, over all runs
# and over those during which the rest of the machine took less than a
# quarter of a core.
# Work files go to $WORK_DIR (default /tmp/tavo-dataset-work).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/timing.sh"
rounds=${1:-5}
build=${BUILD_DIR:-$root/build-bench}
data=${DATA_DIR:-/tmp/tavo-dataset-data}
work=${WORK_DIR:-/tmp/tavo-dataset-work}
cores=$(nproc)
# The eight sequences: frames and objects of each (about 5 s for the loop on
# the 2-core machine).
frames=(400 440 420 480 460 500 430 470)
objects=(60 54 64 50 58 52 62 56)

# ---- what the benchmark needs ------------------------------------------------------
build_for_trackvideo "$root" "$build" trackvideo trackvideo_gen
trackvideo=$build/trackvideo/trackvideo

# ---- the input -----------------------------------------------------------------------
list=$data/list.txt
names=()
for ((k = 0; k < ${#frames[@]}; k++)); do
  names+=("$(printf 'seq-%02d' $((k + 1)))")
done
stamp="${frames[*]} / ${objects[*]} $(cat "$root/bench/trackvideo_gen.cpp" "$root/bench/generator.h" |
  md5sum | cut -c1-32)"
if [ ! -f "$data/.stamp" ] || [ "$(cat "$data/.stamp")" != "$stamp" ]; then
  echo "Generating the input in $data ..." >&2
  rm -rf "$data"
  mkdir -p "$data"
  raw=$data/.raw
  echo "# bench/dataset.sh: ${#names[@]} generated sequences" > "$list"
  for ((k = 0; k < ${#names[@]}; k++)); do
    seq=$data/${names[k]}
    n=${frames[k]}
    rm -rf "$raw"
    echo -n "${names[k]}: " >&2
    "$build/bench/trackvideo_gen" "$raw" "$n" "${objects[k]}" >&2
    mkdir -p "$seq/img1" "$seq/gt"
    for ((f = 1; f <= n; f++)); do
      printf -v from '%s/frames/frame_%02d.jpg' "$raw" $f
      printf -v to '%s/img1/%06d.jpg' "$seq" $f
      mv "$from" "$to"
    done
    # "frame,id,left,top,width,height,1,-1,-1,-1" -> ground truth: considered, class 1, visible.
    awk -F, -v OFS=, '{ print $1, $2, $3, $4, $5, $6, 1, 1, 1 }' "$raw/tracks.txt" > "$seq/gt/gt.txt"
    printf '[Sequence]\nname=%s\nimDir=img1\nframeRate=25\nseqLength=%d\nimWidth=320\nimHeight=240\nimExt=.jpg\n' \
      "${names[k]}" "$n" > "$seq/seqinfo.ini"
    echo "$seq" >> "$list"
  done
  rm -rf "$raw"
  echo "$stamp" > "$data/.stamp"
fi

# ---- the cases ------------------------------------------------------------------------
rm -rf "$work"
mkdir -p "$work"
# The loop, as a script of its own so that it is one process to time (and to
# run by hand): loop.sh OUT.
cat > "$work/loop.sh" <<LOOP
#!/bin/bash
# $work/loop.sh OUT: one trackvideo --sequence run per sequence of $list.
set -e
out=\$1
while read -r seq; do
  case \$seq in '' | '#'*) continue ;; esac
  name=\${seq##*/}
  mkdir -p "\$out/\$name"
  "$trackvideo" --sequence "\$seq" --csv "\$out/\$name/pairs.csv" \\
    --encounters "\$out/\$name/encounters.csv" --quiet > "\$out/\$name/report.txt"
done < "$list"
LOOP
chmod +x "$work/loop.sh"

results=$work/results  # "case round wall_s user_s sys_s peak_kB others_s"
tick=$(getconf CLK_TCK)
busy() { awk '$1 == "cpu" { print $2 + $3 + $4 + $7 + $8 + $9 }' /proc/stat; }  # ticks, all cores
: > "$results"
failed() { echo "dataset.sh: $1 failed:" >&2; cat "$2" >&2; exit 1; }

# run_case CASE ROUND OUT: one timed run of CASE (loop, jobs1, jobsN) writing into OUT.
run_case() {
  local name=$1 round=$2 out=$3 start end busy_start busy_end
  local -a command=("$work/loop.sh" "$out")
  case $name in
    jobs1) command=("$trackvideo" --batch "$list" --out "$out" --jobs 1 --force --quiet) ;;
    jobsN) command=("$trackvideo" --batch "$list" --out "$out" --jobs "$cores" --force --quiet) ;;
  esac
  sync  # the last case's files on disk, not in this one's time
  busy_start=$(busy)
  start=$EPOCHREALTIME
  /usr/bin/time -f "%U %S %M" -o "$work/$name.time" "${command[@]}" > "$work/$name.out" \
    2> "$work/$name.err" || failed "$name" "$work/$name.err"
  end=$EPOCHREALTIME
  busy_end=$(busy)
  tail -n 1 "$work/$name.time" | awk -v c="$name" -v r="$round" -v s="$start" -v e="$end" \
    -v b="$((busy_end - busy_start))" -v t="$tick" \
    '{ o = b / t - $1 - $2; printf "%s %d %.6f %s %s %s %.2f\n", c, r, e - s, $1, $2, $3, o < 0 ? 0 : o }' \
    >> "$results"
}

# same_outputs DIR: every sequence's report.txt, pairs.csv and encounters.csv in DIR equal the
# loop's.
same_outputs() {
  local name file
  for name in "${names[@]}"; do
    for file in report.txt pairs.csv encounters.csv; do
      cmp -s "$work/check_loop/$name/$file" "$1/$name/$file" ||
        { echo "dataset.sh: $1/$name/$file differs from the loop's" >&2; exit 1; }
    done
  done
}

# ---- 1. the same results --------------------------------------------------------------
run_case loop 0 "$work/check_loop"
run_case jobs1 0 "$work/check_jobs1"
run_case jobsN 0 "$work/check_jobsN"
same_outputs "$work/check_jobs1"
same_outputs "$work/check_jobsN"
echo "${#names[@]} sequences, $(cat "$data"/seq-*/gt/gt.txt | wc -l) boxes in" \
  "$(ls "$data"/seq-*/img1 | grep -c jpg) frames; reports $(cat "$work"/check_loop/*/report.txt | wc -c)" \
  "bytes, tables $(cat "$work"/check_loop/*/pairs.csv | wc -l) lines; the same from all three cases" >&2
: > "$results"

# ---- 2. timed rounds -------------------------------------------------------------------
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
cases=(loop jobs1 jobsN)
for ((i = 1; i <= rounds; i++)); do
  order=("${cases[@]}")
  ((i % 2)) || order=(jobsN jobs1 loop)
  for c in "${order[@]}"; do
    run_case "$c" "$i" "$work/out_$c"
  done
  same_outputs "$work/out_loop"
  same_outputs "$work/out_jobs1"
  same_outputs "$work/out_jobsN"
  echo "round $i of $rounds done (load $(cut -d' ' -f1-3 /proc/loadavg))" >&2
done

# ---- summary ---------------------------------------------------------------------------
# round_ratios A B: the median and fastest-slowest of wall(A)/wall(B) over the rounds with both.
round_ratios() {
  awk -v a="$1" -v b="$2" '$1 == a { x[$2] = $3 } $1 == b { y[$2] = $3 }
    END { for (r in x) if (r in y) printf "%.3f\n", x[r] / y[r] }' "$results" | sort -g |
    awk '{ v[NR] = $1 } END { if (NR == 0) { printf "-"; exit }
      printf "%.3f (%.3f-%.3f)", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2, v[1], v[NR] }'
}
# summary: the table and the goals over the lines of $results.
summary() {
  local c loop_s jobs1_s jobsn_s slower speedup goal
  printf '%-8s %3s %8s %14s %7s %7s %9s %7s\n' case n wall "" user sys "peak MB" others
  for c in "${cases[@]}"; do
    printf '%-8s %3s %8s %14s %7s %7s %9s %7s\n' "$c" "$(grep -c "^$c " "$results")" \
      "$(median "$c" 3)" "($(spread "$c" 3))" "$(median "$c" 4)" "$(median "$c" 5)" \
      "$(peak_mb "$c")" "$(median "$c" 7)"
  done
  loop_s=$(median loop 3)
  jobs1_s=$(median jobs1 3)
  jobsn_s=$(median jobsN 3)
  slower=$(awk -v a="$jobs1_s" -v b="$loop_s" 'BEGIN { printf "%.3f", a / b }')
  speedup=$(awk -v a="$loop_s" -v b="$jobsn_s" 'BEGIN { printf "%.3f", a / b }')
  goal=$(awk -v n="$cores" 'BEGIN { printf "%.2f", 0.6 * (n - 1) + 1 }')
  echo "goal: jobs1/loop <= 1.05: $slower, round by round $(round_ratios jobs1 loop)," \
    "$(verdict "$slower <= 1.05")"
  echo "goal: loop/jobsN >= 0.6 x ($cores - 1) + 1 = $goal: $speedup, round by round" \
    "$(round_ratios loop jobsN), $(verdict "$speedup >= $goal")"
}

echo
echo "machine: $cores cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')," \
  "load now $(cut -d' ' -f1-3 /proc/loadavg)"
echo "work directory: $work ($(df -T "$work" | awk 'NR == 2 { print $2 }')); $rounds rounds," \
  "medians (fastest-slowest), seconds; others: processor seconds the rest of the machine took"
echo "jobsN is --jobs $cores; goals: ratios of the medians, then round by round: median (fastest-slowest)"
echo "All runs:"
summary
# The runs during which the rest of the machine took less than a quarter of a core.
awk '$7 < 0.25 * $3' "$results" > "$results.quiet"
echo "Quiet runs only (the rest of the machine below a quarter of a core):"
if [ "$(cut -d' ' -f1 "$results.quiet" | sort -u | wc -l)" = "${#cases[@]}" ]; then
  results=$results.quiet summary
else
  echo "(none for some case)"
fi
