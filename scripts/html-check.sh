#!/usr/bin/env bash
# scripts/html-check.sh [BUILD_DIR]: the encounters page (--html) in a real
# browser. Installs Debian's chromium when missing, builds trackvideo into
# BUILD_DIR (default: build) when needed, writes the page of the bundled
# footage into a temporary folder with
#   trackvideo --tracks examples/footage/tracks.txt --frames examples/footage
#              --html DIR --encounters DIR/encounters.csv
# and opens DIR/index.html (file://) in headless Chromium, driven through the
# npm package playwright-core installed into the same temporary folder
# (scripts/html-check.js says what is checked). Prints what it checked and
# "html-check: OK", or what failed with status 1; leaves nothing behind.
# HTML_CHECK_SCREENSHOT=FILE keeps a screenshot of the page.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
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

echo "html-check: trackvideo --tracks examples/footage/tracks.txt --frames examples/footage --html DIR --encounters DIR/encounters.csv"
mkdir "$page"
"$trackvideo" --tracks examples/footage/tracks.txt --frames examples/footage --html "$page" \
  --encounters "$page/encounters.csv" --quiet >"$work/report.txt"
rows=$(($(wc -l <"$page/encounters.csv") - 1))
echo "html-check: the run wrote $rows encounters into encounters.csv"
[ -f "$page/index.html" ] || { echo "html-check: no index.html was written" >&2; exit 1; }

echo "html-check: installing playwright-core into a temporary folder" >&2
npm install --prefix "$work/npm" --no-audit --no-fund --no-save --silent playwright-core >&2
echo "html-check: playwright-core $(node -p "require('$work/npm/node_modules/playwright-core/package.json').version"), $("$chromium" --version 2>/dev/null)"

NODE_PATH=$work/npm/node_modules node scripts/html-check.js "$page" "$chromium" ${HTML_CHECK_SCREENSHOT:+"$HTML_CHECK_SCREENSHOT"}
