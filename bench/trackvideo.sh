#!/usr/bin/env bash
# bench/trackvideo.sh [ROUNDS]: trackvideo on a video and its tracks against the
# file route (one box file per object and frame, histfeat --batch, trackpair),
# side by side in one run.
#
# Installs what is missing (the build tools, OpenCV's development packages with
# videoio, GNU time), builds trackvideo, histfeat, trackpair and trackvideo_gen
# (Release, -DTAVO_BUILD_BENCH=ON) into $BUILD_DIR (default build-bench in the
# source tree), generates with trackvideo_gen into $DATA_DIR (default
# /tmp/tavo-trackvideo-data; generated again only when the generator changed) a
# 500-frame 320 x 240 Motion-JPEG AVI with 100 tracks of three boxes per frame
# (150,000 boxes), the same frames as JPEG files (encoded apart by libjpeg) and
# the same boxes in examples/pipeline.sh's layout. Also builds video_floor and
# installs Debian's python3-opencv, -numpy, -scipy and -pandas for the peer.
# Then:
#   1. once, untimed: every run's report must be the same; trackvideo's
#      --detections files over the JPEG folder must equal histfeat's byte for
#      byte; over the video they are compared and the differing files counted
#      (the video holds other JPEG encodings of the frames than the files);
#      the peer's table (bench/trackvideo_peer.py) must equal trackvideo's over
#      the video (byte for byte, or differ only in last digits of reals, which
#      are counted) and the floor must count the frames;
#   2. ROUNDS rounds (default 5), the order of the routes alternating from
#      round to round so that a busy machine slows both alike:
#        video   trackvideo --tracks T --video V --csv C
#        frames  trackvideo --tracks T --frames DIR --csv C   (for reference)
#        no_csv  trackvideo --tracks T --video V              (the report alone)
#        encounters  as video, with --encounters E --html DIR  (beside video,
#                each round in the other order; goal: at most 10 % more)
#        files   examples/pipeline.sh with histfeat and trackpair run through
#                wrappers that time them: only histfeat --batch + trackpair
#                count, not the writing of the 50,000 box files before them;
#        floor   bench/video_floor V: decoding and converting to BGR alone
#        peer    bench/trackvideo_peer.py --tracks T --video V --csv C;
#      wall time (the shell's clock), user and system time and peak resident
#      memory (GNU time) of every process, each report compared with the first;
#   3. trackvideo --version, STARTUP_RUNS times (default 51): the start-up;
# and prints medians (fastest-slowest), the ratios trackvideo / floor and
# peer / trackvideo, and whether the goals hold: trackvideo at least 5x faster
# than the file route, at most 1 s, below 200 MB.
# Work files go to $WORK_DIR (default /tmp/tavo-trackvideo-work).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/timing.sh"
rounds=${1:-5}
startup_runs=${STARTUP_RUNS:-51}
build=${BUILD_DIR:-$root/build-bench}
data=${DATA_DIR:-/tmp/tavo-trackvideo-data}
work=${WORK_DIR:-/tmp/tavo-trackvideo-work}
frames=500
objects=100

# ---- what the benchmark needs ------------------------------------------------------
"$root/scripts/deps.sh" python3-opencv python3-numpy python3-scipy python3-pandas
build_for_trackvideo "$root" "$build" trackvideo histfeat trackpair trackvideo_gen video_floor
trackvideo=$build/trackvideo/trackvideo
floor=$build/bench/video_floor
peer=$root/bench/trackvideo_peer.py

# ---- the input -----------------------------------------------------------------------
stamp="$frames $objects $(cat "$root/bench/trackvideo_gen.cpp" "$root/bench/generator.h" | md5sum | cut -c1-32)"
if [ ! -f "$data/.stamp" ] || [ "$(cat "$data/.stamp")" != "$stamp" ]; then
  echo "Generating the input in $data ..." >&2
  rm -rf "$data"
  "$build/bench/trackvideo_gen" "$data" $frames $objects >&2
  echo "$stamp" > "$data/.stamp"
fi
tracks=$data/tracks.txt
video=$data/video.avi

# ---- the runs -------------------------------------------------------------------------
# histfeat and trackpair run through wrappers (bench/timing.sh) that append
# "name wall_s user_s sys_s peak_kB" to the file named in $TIMING_LOG.
bin=$work/bin
rm -rf "$work"
timing_wrappers "$bin" "$build" histfeat trackpair

results=$work/results  # "case round wall_s user_s sys_s peak_kB"
: > "$results"
failed() { echo "trackvideo.sh: $1 failed:" >&2; cat "$2" >&2; exit 1; }

# trackvideo_run CASE ROUND ARGS...: one timed run of trackvideo, report in $work/CASE.report.
trackvideo_run() {
  local name=$1 round=$2 start end
  shift 2
  start=$EPOCHREALTIME
  /usr/bin/time -f "%U %S %M" -o "$work/$name.time" "$trackvideo" "$@" \
    > "$work/$name.report" 2> "$work/$name.err" || failed "trackvideo ($name)" "$work/$name.err"
  end=$EPOCHREALTIME
  echo "$name $round $(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.6f", e - s }')" \
    "$(tail -n 1 "$work/$name.time")" >> "$results"
}

# file_route ROUND: examples/pipeline.sh in a fresh directory; logs histfeat,
# trackpair, their sum (files) and the whole driver.
file_route() {
  local round=$1 dir=$work/route start end
  # Removing the last run's 100,000 files leaves the file system busy for
  # seconds; wait for it here, not in histfeat's time.
  rm -rf "$dir"
  sync
  export TIMING_LOG=$work/route.log
  : > "$TIMING_LOG"
  start=$EPOCHREALTIME
  "$root/examples/pipeline.sh" "$bin/histfeat" "$bin/trackpair" "$dir" "$data/footage" \
    > "$work/files.report" 2> "$work/files.err" || failed "the file route" "$work/files.err"
  end=$EPOCHREALTIME
  awk -v r="$round" -v d="$(awk -v s="$start" -v e="$end" 'BEGIN { print e - s }')" '
    { wall[$1] += $2; user[$1] += $3; sys[$1] += $4; if ($5 > peak[$1]) peak[$1] = $5 }
    END {
      for (p in wall) printf "%s %d %.6f %.2f %.2f %d\n", p, r, wall[p], user[p], sys[p], peak[p]
      printf "files %d %.6f %.2f %.2f %d\n", r, wall["histfeat"] + wall["trackpair"],
        user["histfeat"] + user["trackpair"], sys["histfeat"] + sys["trackpair"],
        (peak["histfeat"] > peak["trackpair"] ? peak["histfeat"] : peak["trackpair"])
      printf "driver %d %.6f 0 0 0\n", r, d
    }' "$TIMING_LOG" >> "$results"
}

same_reports() {
  local c
  for c in "$@"; do
    cmp -s "$work/files.report" "$work/$c.report" ||
      { echo "trackvideo.sh: the report of $c differs from the file route's" >&2; exit 1; }
  done
}

# ---- 1. the same results --------------------------------------------------------------
file_route 0
trackvideo_run check_frames 0 --tracks "$tracks" --frames "$data/frames" --quiet \
  --detections "$work/detections_frames" --csv "$work/frames.csv"
trackvideo_run check_video 0 --tracks "$tracks" --video "$video" --quiet \
  --detections "$work/detections_video" --csv "$work/video.csv"
same_reports check_frames check_video
differing() {  # differing DIR: detection files of DIR not byte for byte the file route's
  local f n=0 total=0
  for f in "$work/route"/objects_info_h*.txt; do
    total=$((total + 1))
    cmp -s "$f" "$1/${f##*/}" || n=$((n + 1))
  done
  echo "$n of $total"
}
frames_differ=$(differing "$work/detections_frames")
video_differ=$(differing "$work/detections_video")
[ "${frames_differ%% *}" = 0 ] ||
  { echo "trackvideo.sh: over the JPEG folder, $frames_differ detection files differ from histfeat's" >&2; exit 1; }
csv_rows=$(($(wc -l < "$work/video.csv") - 1))
csv_differ=$(diff "$work/frames.csv" "$work/video.csv" | grep -c '^>' || true)
report_lines=$(wc -l < "$work/files.report")
echo "report: $report_lines lines, $(wc -c < "$work/files.report") bytes, the same from all routes;" \
  "CSV: $csv_rows pairs" >&2
echo "detection files differing from histfeat's: over the folder $frames_differ," \
  "over the video $video_differ; CSV rows differing between folder and video: $csv_differ" >&2
# floor_run / peer_run CASE ROUND: one timed run each (bench/timing.sh's timed_run).
floor_run() { timed_run "$results" "$1" "$2" "$work/$1.out" "$work/$1.err" "$floor" "$video"; }
peer_run() {
  timed_run "$results" "$1" "$2" "$work/$1.out" "$work/$1.err" /usr/bin/python3 "$peer" \
    --tracks "$tracks" --video "$video" --csv "$work/$1.csv"
}
floor_run check_floor 0
[ "$(cat "$work/check_floor.out")" = "$frames" ] ||
  { echo "trackvideo.sh: the floor decoded $(cat "$work/check_floor.out") frames, not $frames" >&2; exit 1; }
peer_run check_peer 0
peer_same=$(csv_compare "$work/video.csv" "$work/check_peer.csv") ||
  { echo "trackvideo.sh: the peer's table differs from trackvideo's: $peer_same" >&2; exit 1; }
echo "peer's table against trackvideo's over the video: $peer_same" >&2
: > "$results"

# ---- 2. timed rounds -------------------------------------------------------------------
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
for ((i = 1; i <= rounds; i++)); do
  run_trackvideo() {
    # The encounters and their page beside the table alone, in turns first.
    local table=(trackvideo_run video "$i" --tracks "$tracks" --video "$video" --csv "$work/video.csv")
    local page=(trackvideo_run encounters "$i" --tracks "$tracks" --video "$video"
      --csv "$work/enc_video.csv" --encounters "$work/encounters.csv" --html "$work/page")
    if ((i % 2)); then "${table[@]}"; "${page[@]}"; else "${page[@]}"; "${table[@]}"; fi
    trackvideo_run frames "$i" --tracks "$tracks" --frames "$data/frames" --csv "$work/frames.csv"
    trackvideo_run no_csv "$i" --tracks "$tracks" --video "$video"
  }
  run_peers() {
    floor_run floor "$i"
    peer_run peer "$i"
  }
  if ((i % 2)); then
    run_trackvideo
    run_peers
    file_route "$i"
  else
    file_route "$i"
    run_peers
    run_trackvideo
  fi
  same_reports video frames no_csv encounters
  cmp -s "$work/video.csv" "$work/enc_video.csv" ||
    { echo "trackvideo.sh: the table differs with --encounters --html" >&2; exit 1; }
  echo "round $i of $rounds done (load $(cut -d' ' -f1-3 /proc/loadavg))" >&2
done

# ---- 3. start-up -----------------------------------------------------------------------
startup "$results" version "$startup_runs" "$trackvideo" --version
echo "start-up: $startup_runs runs of trackvideo --version done (load $(cut -d' ' -f1-3 /proc/loadavg))" >&2

# ---- summary ---------------------------------------------------------------------------

echo
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')," \
  "load now $(cut -d' ' -f1-3 /proc/loadavg)"
echo "work directory: $work ($(df -T "$work" | awk 'NR == 2 { print $2 }')); $rounds rounds," \
  "medians (fastest-slowest), seconds"
printf '%-10s %8s %14s %7s %7s %9s\n' case wall "" user sys "peak MB"
for c in video encounters frames no_csv histfeat trackpair files driver floor peer version; do
  printf '%-10s %8s %14s %7s %7s %9s\n' "$c" "$(median "$c" 3)" "($(spread "$c" 3))" \
    "$(median "$c" 4)" "$(median "$c" 5)" "$(peak_mb "$c")"
done
video_s=$(median video 3)
files_s=$(median files 3)
speedup=$(awk -v f="$files_s" -v v="$video_s" 'BEGIN { printf "%.1f", f / v }')
echo "(version: $startup_runs runs of trackvideo --version; peer's table: $peer_same)"
echo "ratios of the medians: trackvideo (video) / floor: wall $(ratio "$video_s" "$(median floor 3)")," \
  "cpu $(ratio "$(cpu video)" "$(cpu floor)"); peer / trackvideo (video): wall" \
  "$(ratio "$(median peer 3)" "$video_s"), cpu $(ratio "$(cpu peer)" "$(cpu video)")"
echo "goal: trackvideo (video) >= 5x faster than histfeat + trackpair: ${speedup}x," \
  "$(verdict "$speedup >= 5")"
echo "goal: trackvideo (video) whole run <= 1 s: $video_s s, $(verdict "$video_s <= 1")"
echo "goal: trackvideo (video) peak < 200 MB: $(peak_mb video) MB, $(verdict "$(peak_mb video) < 200")"
# Round by round: the two ran one after the other.
encounters_ratio=$(awk '$1 == "video" { v[$2] = $3 } $1 == "encounters" { e[$2] = $3 }
  END { for (r in v) if (r in e) print e[r] / v[r] }' "$results" | sort -g |
  awk '{ x[NR] = $1 } END { printf "%.3f", NR % 2 ? x[(NR + 1) / 2] : (x[NR / 2] + x[NR / 2 + 1]) / 2 }')
echo "goal: --encounters --html at most 10 % over --csv alone (video):" \
  "${encounters_ratio}x round by round, $(verdict "$encounters_ratio <= 1.10")"
