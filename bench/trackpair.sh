#!/usr/bin/env bash
# bench/trackpair.sh [RUNS]: trackpair at the largest input its format allows,
# against the straightforward driver and an independent peer.
#
# Installs what is missing (the build tools, Debian's python3-scipy and GNU
# time), builds trackpair, trackpair_baseline, trackpair_gen and
# trackpair_phases (Release) into $BUILD_DIR (default /tmp/tavo-bench-build),
# generates the input into $DATA_DIR (default /tmp/tavo-trackpair-data; 100
# objects x 500 frames x 3 detections, 49,900 files, about 90 MB; generated
# again only when missing), then:
#   1. runs each program once to warm the page cache and checks that the
#      three reports are byte for byte the same;
#   2. times RUNS rounds (default 5) of whole runs, the three programs one
#      after the other in each round, so that a busy machine slows all three
#      alike: wall time and peak resident memory of each run;
#   3. runs trackpair_phases for the parse throughput on the records alone
#      and the time of each pass;
# and prints the medians, the ratios to trackpair and whether the goals hold
# (20x the baseline, 5x the peer, peak memory below 64 MB).
#
# The programs: trackpair (build/trackpair/trackpair), the baseline
# (bench/trackpair_baseline.cpp, same library, fscanf and one dictionary
# lookup per comparison), the peer (bench/trackpair_peer.py on Debian's
# /usr/bin/python3 with python3-scipy, cKDTree.query_pairs per frame). Each
# writes its report into a file in $DATA_DIR.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-5}
build=${BUILD_DIR:-/tmp/tavo-bench-build}
data=${DATA_DIR:-/tmp/tavo-trackpair-data}
objects=100
frames=500
detections=3

# ---- what the benchmark needs ------------------------------------------------------
"$root/scripts/deps.sh" g++ cmake make python3-scipy python3-numpy time

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTAVO_BUILD_BENCH=ON \
  -DTAVO_BUILD_TESTS=OFF -DTAVO_BUILD_HISTFEAT=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" \
  --target trackpair trackpair_baseline trackpair_gen trackpair_phases >/dev/null

tp=$build/trackpair/trackpair
base=$build/bench/trackpair_baseline
peer=(/usr/bin/python3 "$root/bench/trackpair_peer.py")

# ---- the input -----------------------------------------------------------------------
stamp="$objects $detections $frames $(cat "$root/bench/trackpair_gen.cpp" "$root/bench/generator.h" | md5sum | cut -c1-32)"
if [ ! -f "$data/.stamp" ] || [ "$(cat "$data/.stamp")" != "$stamp" ]; then
  echo "Generating the input in $data ..." >&2
  rm -rf "$data"
  mkdir -p "$data"
  "$build/bench/trackpair_gen" "$data" "$objects" "$frames" "$detections" >&2
  echo "$stamp" > "$data/.stamp"
fi
cd "$data"
input_bytes=$(cat objects_info_h*.txt | wc -c)

# ---- warm-up and identical output ----------------------------------------------------
"$tp" $objects $frames > report.trackpair
"$base" $objects $frames > report.baseline
"${peer[@]}" $objects $frames > report.peer
cmp report.trackpair report.baseline
cmp report.trackpair report.peer
lines=$(wc -l < report.trackpair)
echo "input: $(ls objects_info_h*.txt | wc -l) files, $input_bytes bytes;" \
  "report: $lines lines, $(wc -c < report.trackpair) bytes, identical for all three" >&2

# ---- timed rounds ----------------------------------------------------------------------
# timed NAME COMMAND...: appends "NAME seconds peak_kB" to $results.
results=$(mktemp)
trap 'rm -f "$results"' EXIT
timed() {
  local name=$1
  shift
  local start end
  start=$(date +%s%N)
  /usr/bin/time -f "%M" -o time.out "$@" $objects $frames > "report.$name"
  end=$(date +%s%N)
  cmp -s report.trackpair "report.$name" || { echo "$name: report differs" >&2; exit 1; }
  echo "$name $(((end - start) / 1000)) $(cat time.out)" >> "$results"
}
for ((i = 1; i <= runs; i++)); do
  timed trackpair "$tp"
  timed baseline "$base"
  timed peer "${peer[@]}"
  echo "round $i of $runs done" >&2
done

phases=$("$build/bench/trackpair_phases" $objects $frames 5)

# ---- summary ---------------------------------------------------------------------------
median() {  # median of the microsecond column for $1, in seconds
  awk -v n="$1" '$1 == n { print $2 }' "$results" | sort -n |
    awk '{ v[NR] = $1 } END { m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2;
                              printf "%.3f", m / 1e6 }'
}
spread() {  # fastest and slowest run of $1, in seconds
  awk -v n="$1" '$1 == n { v = $2 / 1e6; if (min == "" || v < min) min = v; if (v > max) max = v }
                 END { printf "%.3f-%.3f", min, max }' "$results"
}
peak() {  # largest peak resident memory of $1, in MB
  awk -v n="$1" '$1 == n && $3 > m { m = $3 } END { printf "%.1f", m / 1024 }' "$results"
}
t_tp=$(median trackpair)
t_base=$(median baseline)
t_peer=$(median peer)
m_tp=$(peak trackpair)
r_base=$(awk -v a="$t_base" -v b="$t_tp" 'BEGIN { printf "%.1f", a / b }')
r_peer=$(awk -v a="$t_peer" -v b="$t_tp" 'BEGIN { printf "%.1f", a / b }')
verdict() { awk -v x="$1" -v g="$2" -v dir="$3" \
  'BEGIN { ok = dir == ">" ? x >= g : x < g; print ok ? "met" : "MISSED" }'; }

echo
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "input: $objects objects x $frames frames x $detections detections, $input_bytes bytes; $runs rounds"
printf '%-10s %10s %14s %12s %10s\n' program "median s" "runs s" "x trackpair" "peak MB"
printf '%-10s %10s %14s %12s %10s\n' trackpair "$t_tp" "$(spread trackpair)" 1.0 "$m_tp"
printf '%-10s %10s %14s %12s %10s\n' baseline "$t_base" "$(spread baseline)" "$r_base" \
  "$(peak baseline)"
printf '%-10s %10s %14s %12s %10s\n' peer "$t_peer" "$(spread peer)" "$r_peer" "$(peak peer)"
echo "$phases" | sed 's/^/phases: /'
parse=$(echo "$phases" | awk '/^parse_mb_per_s:/ { print $2 }')
echo "goal: 20x faster than the baseline: $r_base ($(verdict "$r_base" 20 ">"))"
echo "goal: 5x faster than the peer: $r_peer ($(verdict "$r_peer" 5 ">"))"
echo "goal: peak memory below 64 MB: $m_tp MB ($(verdict "$m_tp" 64 "<"))"
echo "goal: parse 500 MB/s or more: $parse MB/s ($(verdict "$parse" 500 ">"))"
