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

median() {
  awk -v c="$1" -v k="$2" '$1 == c { print $k }' "$results" | sort -g |
    awk '{ v[NR] = $1 } END { printf "%.3f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

spread() {
  awk -v c="$1" -v k="$2" '$1 == c { v = $k; if (min == "" || v < min) min = v; if (v > max) max = v }
    END { printf "%.3f-%.3f", min, max }' "$results"
}

verdict() { awk "BEGIN { print ($1) ? \"met\" : \"MISSED\" }"; }
