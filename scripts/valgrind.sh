#!/usr/bin/env bash
# scripts/valgrind.sh [BUILD_DIR]: runs the demo pipeline (examples/pipeline.sh:
# histfeat on every frame and box list of examples/footage, then trackpair on
# the detection files) with every run of either program under valgrind's
# memcheck. Fails on the first memory error or definitely lost block.
# BUILD_DIR (default: build) is configured and the two programs are built in
# it when needed; use a normal build, not a sanitizer one. Configured with
# -DTAVO_VALGRIND=ON (as scripts/test.sh does), memcheck also sees every chunk
# of the library's memory manager come and go.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
command -v valgrind >/dev/null || { echo "valgrind.sh: valgrind is not installed" >&2; exit 1; }

[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc)" --target histfeat trackpair >/dev/null
build=$(cd "$build" && pwd)  # the programs run from the pipeline's work directory

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/run"
for program in histfeat trackpair; do
  cat > "$work/bin/$program" <<WRAP
#!/bin/sh
exec valgrind --quiet --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite --show-leak-kinds=definite \\
  --log-file="$work/$program.%p.log" "$build/$program/$program" "\$@"
WRAP
  chmod +x "$work/bin/$program"
done

status=0
"$root/examples/pipeline.sh" "$work/bin/histfeat" "$work/bin/trackpair" "$work/run" >"$work/report.txt" ||
  status=$?
runs=$(find "$work" -maxdepth 1 -name "*.log" | wc -l)
if [ "$status" -ne 0 ] || [ "$runs" -eq 0 ] || cat "$work"/*.log | grep -q .; then
  cat "$work"/*.log >&2
  echo "valgrind.sh: memcheck found errors (or a run failed) in $runs runs" >&2
  exit 1
fi
echo "valgrind.sh: $runs runs of histfeat and trackpair, no memory error, no block definitely lost"
