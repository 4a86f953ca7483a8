#!/usr/bin/env bash
# scripts/html-check.sh [--faults] [BUILD_DIR]: the encounters page (--html)
# in a real browser. Installs Debian's chromium when missing, builds trackvideo into
# BUILD_DIR (default: build) when needed, writes the page of the bundled
# footage, evaluated, into a temporary folder with
#   trackvideo --sequence SEQ --tracks results.txt --radius 100 --html DIR
#              --encounters DIR/encounters.csv --events DIR/events.csv
# where SEQ is the bundled sequence examples/dataset/footage-01 with its
# ground truth one row per id and frame (the evaluation refuses its repeated
# rows: the first is kept) and results.txt its pedestrians as a tracker that
# swaps ids 2 and 3 from frame 15 and calls 4 anew 9 from frame 22 (three
# encounters, closest in three frames, for the viewer's row clicks; three
# switches, of two causes), and opens DIR/index.html (file://) in
# headless Chromium, driven through the npm package playwright-core
# installed into the same temporary folder
# (scripts/html-check.js says what is checked; the video and timeline
# against the tracks file). Then a page of 10,011 encounters (142 tracks
# side by side in two frames) must load and sort in under a second each.
# Prints what it checked and "html-check: OK", or what failed with status 1;
# leaves nothing behind. HTML_CHECK_SCREENSHOT=FILE keeps a screenshot of the
# page. Then the dataset's page: the bundled dataset's two sequences in a
# temporary folder with
#   trackvideo --batch examples/dataset/LIST --out DIR --with html
# and DIR/index.html opened (scripts/dataset-check.js says what is checked:
# each link leads to a page whose figures are summary.csv's).
# --faults instead breaks copies of the pages on purpose (a seek one
# frame late, the frame readout one off, a bar a frame short, a missing
# mark, a filter hiding nothing, a request outside the folder, a switch row
# dropped; a dataset link to another sequence's page) and passes only when
# the check fails on every one.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
faults=0
if [ "${1:-}" = --faults ]; then faults=1; shift; fi
build=${1:-build}

scripts/deps.sh chromium >&2
command -v node >/dev/null || { echo "html-check: node is not installed" >&2; exit 1; }
command -v npm >/dev/null || { echo "html-check: npm is not installed" >&2; exit 1; }
chromium=/usr/bin/chromium
[ -x "$chromium" ] || { echo "html-check: $chromium is missing" >&2; exit 1; }

trackvideo=$build/trackvideo/trackvideo
scripts/build.sh --program trackvideo "$build" >&2

work=$(mktemp -d "${TMPDIR:-/tmp}/html-check.XXXXXX")
trap 'rm -rf "$work"' EXIT
page=$work/page

seq=$work/seq
mkdir -p "$seq/gt"
cp examples/dataset/footage-01/seqinfo.ini "$seq/"
cp -rL examples/dataset/footage-01/img1 "$seq/img1"
awk -F, '!seen[$1 "," $2]++' examples/dataset/footage-01/gt/gt.txt >"$seq/gt/gt.txt"
awk -F, -v OFS=, '$7 != 0 && $8 == 1 {
  id = $2
  if ($1 >= 15 && (id == 2 || id == 3)) id = 5 - id
  if ($1 >= 22 && id == 4) id = 9
  print $1, id, $3, $4, $5, $6, 1, -1, -1, -1
}' "$seq/gt/gt.txt" >"$work/results.txt"
tracks=$work/results.txt
echo "html-check: trackvideo --sequence SEQ --tracks results.txt --radius 100 --html DIR --encounters DIR/encounters.csv --events DIR/events.csv"
mkdir "$page"
"$trackvideo" --sequence "$seq" --tracks "$tracks" --radius 100 --html "$page" \
  --encounters "$page/encounters.csv" --events "$page/events.csv" --quiet >"$work/report.txt"
rows=$(($(wc -l <"$page/encounters.csv") - 1))
switches=$(grep -c '^[0-9]*,switch,' "$page/events.csv" || true)
echo "html-check: the run wrote $rows encounters into encounters.csv, $switches switches into events.csv"
[ -f "$page/index.html" ] || { echo "html-check: no index.html was written" >&2; exit 1; }

echo "html-check: trackvideo --batch examples/dataset/LIST --out DIR --with html"
dataset=$work/dataset
"$trackvideo" --batch examples/dataset/LIST --out "$dataset" --with html --quiet
[ -f "$dataset/index.html" ] || { echo "html-check: the batch wrote no index.html" >&2; exit 1; }

echo "html-check: installing playwright-core into a temporary folder" >&2
npm install --prefix "$work/npm" --no-audit --no-fund --no-save --silent playwright-core >&2
echo "html-check: playwright-core $(node -p "require('$work/npm/node_modules/playwright-core/package.json').version"), $("$chromium" --version 2>/dev/null)"

check() {
  NODE_PATH=$work/npm/node_modules node scripts/html-check.js "$@"
}

if [ $faults = 1 ]; then
  # name, then a Perl substitution applied once to a copy of index.html.
  broken=(
    'seek one frame late' 's/\(f - first \+ 0\.5\) \/ fps/(f - first + 1.5) \/ fps/'
    'frame readout one off' 's/first \+ Math\.floor\(t \* fps/first + 1 + Math.floor(t * fps/'
    'a bar a frame short' 's/width="(\d+)"(?=[^>]*data-track)/"width=\"" . ($1 - 1) . "\""/e'
    'a missing mark' 's/<rect [^>]*data-encounter=[^\n]*\n//'
    'a filter hiding nothing' "s/el.setAttribute\('hidden', ''\)/void 0/"
    # a picture that exists, beside the folder: only the folder check can tell
    'a request outside the folder' 's/<\/body>/<img src="..\/page\/enc_2_3_1.png"><\/body>/'
    'a switch row dropped' 's/<tr data-switch-frame=[^\n]*\n//'
  )
  caught=0
  for ((k = 0; k < ${#broken[@]}; k += 2)); do
    copy=$work/fault$k
    cp -r "$page" "$copy"
    perl -0pi -e "${broken[k + 1]}" "$copy/index.html"
    cmp -s "$page/index.html" "$copy/index.html" && { echo "html-check: fault \"${broken[k]}\" changed nothing" >&2; exit 1; }
    if out=$(check "$copy" "$chromium" --tracks "$tracks" 2>&1); then
      echo "html-check: fault \"${broken[k]}\" was not caught" >&2
      exit 1
    fi
    echo "html-check: fault \"${broken[k]}\": $(echo "$out" | grep 'FAILED')"
    caught=$((caught + 1))
  done
  copy=$work/dataset-fault
  cp -r "$dataset" "$copy"
  perl -0pi -e 's/href="footage-01\//href="footage-02\//' "$copy/index.html"
  cmp -s "$dataset/index.html" "$copy/index.html" && { echo "html-check: the dataset fault changed nothing" >&2; exit 1; }
  if out=$(NODE_PATH=$work/npm/node_modules node scripts/dataset-check.js "$copy" "$chromium" 2>&1); then
    echo "html-check: fault \"a dataset link to another sequence's page\" was not caught" >&2
    exit 1
  fi
  echo "html-check: fault \"a dataset link to another sequence's page\": $(echo "$out" | grep 'FAILED')"
  caught=$((caught + 1))
  echo "html-check: all $caught faults caught"
  echo "html-check: OK"
  exit 0
fi

check "$page" "$chromium" --tracks "$tracks" \
  ${HTML_CHECK_SCREENSHOT:+--screenshot "$HTML_CHECK_SCREENSHOT"} | grep -v '^html-check: OK$'

NODE_PATH=$work/npm/node_modules node scripts/dataset-check.js "$dataset" "$chromium" | grep -v '^html-check: OK$'

# 142 tracks on one spot in frames 1 and 2: every two of them one encounter.
big=$work/big
mkdir "$big"
for f in 1 2; do
  for id in $(seq 1 142); do echo "$f,$id,100,80,30,60,1,-1,-1,-1"; done
done >"$work/many.txt"
"$trackvideo" --tracks "$work/many.txt" --frames examples/footage --html "$big" --quiet >/dev/null
check "$big" "$chromium" --timing
