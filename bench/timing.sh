# bench/timing.sh: the timing helpers of the benchmark scripts (sourced).
#
# timing_wrappers DIR BUILD PROGRAM...: writes DIR/PROGRAM for each PROGRAM, a
#   script that runs BUILD/PROGRAM/PROGRAM with its arguments and appends
#   "PROGRAM wall_s user_s sys_s peak_kB" to the file named in $TIMING_LOG
#   (wall time from the shell's clock, the rest from GNU time). Its status is
#   the program's.

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
