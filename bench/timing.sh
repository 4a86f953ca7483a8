# bench/timing.sh: the timing helpers of the benchmark scripts (sourced).
#
# timing_wrappers DIR BUILD PROGRAM...: writes DIR/PROGRAM for each PROGRAM, a
#   script that runs BUILD/PROGRAM/PROGRAM with its arguments and appends
#   "PROGRAM wall_s user_s sys_s peak_kB" to the file named in $TIMING_LOG
#   (wall time from the shell's clock, the rest from GNU time). Its status is
#   the program's.
# median CASE COLUMN: the median of COLUMN (1-based) over the lines of CASE in
#   the file named in $results (lines "CASE ROUND figures..."), three decimals.
# spread CASE COLUMN: the fastest and slowest of the same, "min-max".
# verdict CONDITION: "met" if the awk expression CONDITION holds, else "MISSED".

timing_wrappers() {
  local dir=$1 build=$2 program
  shift 2
  mkdir -p "$dir"
  for program in "$@"; do
    cat > "$dir/$program" <<WRAP
#!/bin/bash
start=\$EPOCHREALTIME
/usr/bin/time -f "%U %S %M" -o "\$TIMING_LOG.time" "$build/$program/$program" "\$@"
status=\$?
end=\$EPOCHREALTIME
echo "$program \$(awk -v s="\$start" -v e="\$end" 'BEGIN { printf "%.6f", e - s }') \$(tail -n 1 "\$TIMING_LOG.time")" >> "\$TIMING_LOG"
exit \$status
WRAP
    chmod +x "$dir/$program"
  done
}

# build_for_trackvideo ROOT BUILD TARGET...: installs what trackvideo's
#   benchmarks need (the build tools, OpenCV's and FFmpeg's development
#   packages, GNU time) and builds TARGET... in Release with the benchmarks.
build_for_trackvideo() {
  local root=$1 build=$2
  shift 2
  "$root/scripts/deps.sh" g++ cmake make pkg-config libopencv-core-dev libopencv-imgproc-dev \
    libopencv-imgcodecs-dev libopencv-videoio-dev libavformat-dev libavcodec-dev libswscale-dev \
    libavutil-dev libjpeg62-turbo-dev libpng-dev time
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTAVO_BUILD_BENCH=ON \
    -DTAVO_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" -j 2 --target "$@" >/dev/null
}

verdict() { awk "BEGIN { print ($1) ? \"met\" : \"MISSED\" }"; }

# Results files hold one line per timed run: "case round wall_s user_s sys_s peak_kB".
#
# timed_run RESULTS CASE ROUND OUT ERR COMMAND...: runs COMMAND once, standard
#   output to OUT and error to ERR, and appends its line to RESULTS (wall time
#   from the shell's clock, the rest from GNU time). Stops the script, showing
#   ERR, when the command fails.
timed_run() {
  local results=$1 name=$2 round=$3 out=$4 err=$5 start end
  shift 5
  start=$EPOCHREALTIME
  /usr/bin/time -f "%U %S %M" -o "$err.time" "$@" > "$out" 2> "$err" ||
    { echo "${0##*/}: $name failed:" >&2; cat "$err" >&2; exit 1; }
  end=$EPOCHREALTIME
  echo "$name $round $(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.6f", e - s }')" \
    "$(tail -n 1 "$err.time")" >> "$results"
}

# results_median RESULTS CASE COLUMN: the median of COLUMN (1-based) over CASE's lines.
results_median() {
  awk -v c="$2" -v k="$3" '$1 == c { print $k }' "$1" | sort -g |
    awk '{ v[NR] = $1 } END { printf "%.3f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# results_spread RESULTS CASE COLUMN: fastest-slowest.
results_spread() {
  awk -v c="$2" -v k="$3" '$1 == c { v = $k; if (min == "" || v < min) min = v; if (v > max) max = v }
    END { printf "%.3f-%.3f", min, max }' "$1"
}

# results_peak_mb RESULTS CASE: the largest peak resident memory of CASE, MB.
results_peak_mb() { awk -v c="$2" '$1 == c && $6 > m { m = $6 } END { printf "%.1f", m / 1024 }' "$1"; }

# median CASE COLUMN, spread CASE COLUMN, peak_mb CASE, cpu CASE: the same over
#   the results file named by the calling script's $results (cpu: the medians
#   of user and system seconds added).
median() { results_median "$results" "$@"; }
spread() { results_spread "$results" "$@"; }
peak_mb() { results_peak_mb "$results" "$1"; }
cpu() { awk -v u="$(median "$1" 4)" -v s="$(median "$1" 5)" 'BEGIN { printf "%.3f", u + s }'; }

# ratio A B: A / B with two decimals.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

# startup RESULTS CASE RUNS COMMAND...: RUNS timed runs of COMMAND (its output
#   thrown away), each a line of RESULTS with the round number 1..RUNS.
startup() {
  local results=$1 name=$2 runs=$3 i
  shift 3
  for ((i = 1; i <= runs; i++)); do
    timed_run "$results" "$name" "$i" /dev/null "${TMPDIR:-/tmp}/startup.$$.err" "$@"
  done
  rm -f "${TMPDIR:-/tmp}/startup.$$.err" "${TMPDIR:-/tmp}/startup.$$.err.time"
}

# csv_compare EXPECTED GOT: compares two tables row by row. Prints "identical"
#   when they are the same bytes; else, when they have the same rows and every
#   difference is a real field off by one in its last printed digit, "N of M
#   rows differ in the last digit of a real"; otherwise what differs first,
#   and returns 1.
csv_compare() {
  if cmp -s "$1" "$2"; then
    echo identical
    return 0
  fi
  /usr/bin/python3 - "$1" "$2" <<'PY'
import itertools
import sys
rows = differ = 0
with open(sys.argv[1]) as a, open(sys.argv[2]) as b:
    for n, (x, y) in enumerate(itertools.zip_longest(a, b), 1):
        if x is None or y is None:
            print("the tables have different numbers of rows")
            sys.exit(1)
        rows += 1
        if x == y:
            continue
        differ += 1
        fx, fy = x.rstrip("\n").split(","), y.rstrip("\n").split(",")
        ok = len(fx) == len(fy) and n > 1
        for u, v in zip(fx, fy) if ok else ():
            if u != v and not ("." in u and "." in v and
                               abs(round(float(u) * 1e6) - round(float(v) * 1e6)) == 1):
                ok = False
        if not ok:
            print("row %d differs beyond a last digit: %s / %s" % (n, x.strip(), y.strip()))
            sys.exit(1)
print("%d of %d rows differ in the last digit of a real" % (differ, rows - 1))
PY
}
