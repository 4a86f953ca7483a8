#!/usr/bin/env bash
# bench/trackvideo_1080p.sh [ROUNDS]: trackvideo on a 1080p H.264 video against
# its floor and its peer, side by side in one run.
#
# Installs and builds as bench/trackvideo.sh does (trackvideo, trackvideo_gen
# and video_floor into $BUILD_DIR, default build-bench in the source tree),
# generates with trackvideo_gen into $DATA_DIR (default
# /tmp/tavo-trackvideo-1080p-data; again only when the generator changed) a
# 600-frame 1920 x 1080 H.264 MP4 (trackvideo's own encoder) with 30 tracks of
# three boxes per frame (54,000 boxes), and the same frames as JPEG files.
# Then:
#   1. once, untimed: the reports over the MP4 and over the folder must be the
#      same; the peer's table must equal trackvideo's over the MP4 (byte for
#      byte, or differ only in last digits of reals, which are counted); the
#      floor must count 600 frames; the table rows differing between the MP4
#      and the folder are counted (other pixels: H.264 against JPEG);
#   2. ROUNDS rounds (default 3), the order reversed every other round:
#        video   trackvideo --tracks T --video V.mp4 --csv C
#        frames  trackvideo --tracks T --frames DIR --csv C
#        floor   bench/video_floor V.mp4
#        peer    bench/trackvideo_peer.py --tracks T --video V.mp4 --csv C
#      and video1, frames1, floor1: video, frames and floor on one thread
#      (--threads 1), each round's table checked equal to the first run's;
#      wall time (the shell's clock), user and system time and peak resident
#      memory (GNU time);
# and prints medians (fastest-slowest) and the ratios trackvideo / floor,
# peer / trackvideo, frames / video and, on one thread, video1 / floor1 and
# frames1 / frames (the folder's gain from the default threads). Work files go to $WORK_DIR (default
# /tmp/tavo-trackvideo-1080p-work).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/timing.sh"
rounds=${1:-3}
build=${BUILD_DIR:-$root/build-bench}
data=${DATA_DIR:-/tmp/tavo-trackvideo-1080p-data}
work=${WORK_DIR:-/tmp/tavo-trackvideo-1080p-work}
frames=600
objects=30
size=1920x1080

# ---- what the benchmark needs ------------------------------------------------------
"$root/scripts/deps.sh" python3-opencv python3-numpy python3-scipy python3-pandas
build_for_trackvideo "$root" "$build" trackvideo trackvideo_ffmpeg trackvideo_gen video_floor
trackvideo=$build/trackvideo/trackvideo
floor=$build/bench/video_floor
peer=$root/bench/trackvideo_peer.py

# ---- the input -----------------------------------------------------------------------
stamp="$frames $objects $size $(cat "$root/bench/trackvideo_gen.cpp" "$root/bench/generator.h" \
  "$root/trackvideo/video_encoder.cpp" | md5sum | cut -c1-32)"
if [ ! -f "$data/.stamp" ] || [ "$(cat "$data/.stamp")" != "$stamp" ]; then
  echo "Generating the input in $data ..." >&2
  rm -rf "$data"
  "$build/bench/trackvideo_gen" "$data" $frames $objects $size >&2
  echo "$stamp" > "$data/.stamp"
fi
tracks=$data/tracks.txt
video=$data/video.mp4

# ---- the runs -------------------------------------------------------------------------
rm -rf "$work"
mkdir -p "$work"
results=$work/results  # "case round wall_s user_s sys_s peak_kB"
: > "$results"
run() {  # run CASE ROUND: one timed run of CASE (a name ending in 1: on one thread)
  local name=$1 round=$2 out=$work/$1.out err=$work/$1.err one=()
  [[ $name == *1 ]] && one=(--threads 1)
  local timed=(timed_run "$results" "$name" "$round" "$out" "$err")
  case $name in
    video | video1 | check_video)
      "${timed[@]}" "$trackvideo" --tracks "$tracks" --video "$video" --csv "$work/$name.csv" \
        --quiet "${one[@]}" ;;
    frames | frames1 | check_frames)
      "${timed[@]}" "$trackvideo" --tracks "$tracks" --frames "$data/frames" \
        --csv "$work/$name.csv" --quiet "${one[@]}" ;;
    floor | floor1 | check_floor) "${timed[@]}" "$floor" "${one[@]}" "$video" ;;
    peer | check_peer)
      "${timed[@]}" /usr/bin/python3 "$peer" --tracks "$tracks" --video "$video" \
        --csv "$work/$name.csv" ;;
  esac
}

# ---- 1. the same results --------------------------------------------------------------
for c in check_video check_frames check_floor check_peer; do run $c 0; done
cmp -s "$work/check_video.out" "$work/check_frames.out" ||
  { echo "trackvideo_1080p.sh: the reports over the video and the folder differ" >&2; exit 1; }
[ "$(cat "$work/check_floor.out")" = "$frames" ] ||
  { echo "trackvideo_1080p.sh: the floor decoded $(cat "$work/check_floor.out") frames" >&2; exit 1; }
peer_same=$(csv_compare "$work/check_video.csv" "$work/check_peer.csv") ||
  { echo "trackvideo_1080p.sh: the peer's table differs from trackvideo's: $peer_same" >&2; exit 1; }
csv_rows=$(($(wc -l < "$work/check_video.csv") - 1))
csv_differ=$(diff "$work/check_frames.csv" "$work/check_video.csv" | grep -c '^>' || true)
echo "table: $csv_rows pairs; peer's table against trackvideo's: $peer_same;" \
  "rows differing between folder and video: $csv_differ" >&2
: > "$results"

# ---- 2. timed rounds -------------------------------------------------------------------
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
for ((i = 1; i <= rounds; i++)); do
  if ((i % 2)); then
    order="video frames floor video1 frames1 floor1 peer"
  else
    order="peer floor1 frames1 video1 floor frames video"
  fi
  for c in $order; do run "$c" "$i"; done
  for c in video video1; do
    cmp -s "$work/check_video.out" "$work/$c.out" && cmp -s "$work/check_video.csv" "$work/$c.csv" ||
      { echo "trackvideo_1080p.sh: round $i's report or table ($c) differs" >&2; exit 1; }
  done
  for c in frames frames1; do
    cmp -s "$work/check_frames.csv" "$work/$c.csv" ||
      { echo "trackvideo_1080p.sh: round $i's table ($c) differs" >&2; exit 1; }
  done
  echo "round $i of $rounds done (load $(cut -d' ' -f1-3 /proc/loadavg))" >&2
done

# ---- summary ---------------------------------------------------------------------------
echo
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')," \
  "load now $(cut -d' ' -f1-3 /proc/loadavg)"
echo "1080p: $frames frames $size H.264, $objects tracks, $csv_rows table rows; $rounds rounds," \
  "medians (fastest-slowest), seconds"
printf '%-10s %8s %14s %7s %7s %9s %8s\n' case wall "" user sys "peak MB" "frames/s"
for c in video frames floor video1 frames1 floor1 peer; do
  printf '%-10s %8s %14s %7s %7s %9s %8s\n' "$c" "$(median "$c" 3)" \
    "($(spread "$c" 3))" "$(median "$c" 4)" "$(median "$c" 5)" \
    "$(peak_mb "$c")" "$(ratio "$frames" "$(median "$c" 3)")"
done
echo "(peer's table: $peer_same)"
echo "ratios of the medians: trackvideo (video) / floor: wall $(ratio "$(median video 3)" "$(median floor 3)")," \
  "cpu $(ratio "$(cpu video)" "$(cpu floor)"); peer / trackvideo (video): wall" \
  "$(ratio "$(median peer 3)" "$(median video 3)"), cpu $(ratio "$(cpu peer)" "$(cpu video)");" \
  "frames / video: wall $(ratio "$(median frames 3)" "$(median video 3)")"
echo "one thread: trackvideo (video1) / floor1: wall $(ratio "$(median video1 3)" "$(median floor1 3)");" \
  "the folder, --threads 1 / default: wall $(ratio "$(median frames1 3)" "$(median frames 3)")"
