#!/usr/bin/env bash
# examples/pipeline.sh HISTFEAT TRACKPAIR WORKDIR [FOOTAGE]
#
# The whole pipeline on a footage directory (default: examples/footage beside
# this script), which holds frames frame_NN.jpg and boxes.txt, one line per
# object and frame: "object frame" and three candidate boxes x1 y1 x2 y2.
#
# For every line, writes the three boxes to WORKDIR as "pos_h<object>_<frame>.txt"
# and a line "FRAME pos_h<object>_<frame>.txt objects_info_h<object>_<frame>.txt"
# to WORKDIR/histfeat.list, then runs "HISTFEAT --batch histfeat.list" in WORKDIR
# (one process for all lines), then "TRACKPAIR objects frames" there, and prints
# its report on standard output. histfeat's echo of the boxes goes to
# WORKDIR/histfeat.log. Exit status 1 (with a message on standard error) when a
# step fails or the footage is not complete (every object in every frame).
set -euo pipefail

if [ $# -lt 3 ] || [ $# -gt 4 ]; then
  echo "usage: $0 HISTFEAT TRACKPAIR WORKDIR [FOOTAGE]" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
absolute() { case $1 in /*) echo "$1" ;; *) echo "$PWD/$1" ;; esac; }
histfeat=$(absolute "$1")
trackpair=$(absolute "$2")
work=$3
footage=$(absolute "${4:-$here/footage}")
fail() { echo "pipeline: $*" >&2; exit 1; }

[ -x "$histfeat" ] || fail "no executable $histfeat"
[ -x "$trackpair" ] || fail "no executable $trackpair"
[ -f "$footage/boxes.txt" ] || fail "no $footage/boxes.txt"
mkdir -p "$work"
cd "$work"
# histfeat's list cannot hold names with blanks: reach such a footage directory
# through a link.
frames_dir=$footage
case $footage in *[[:space:]]*) ln -sfn "$footage" .footage && frames_dir=.footage ;; esac

: > histfeat.list
# One pass over boxes.txt: the box files and the list; on standard output each
# frame used (with the first object that uses it), then "objects frames lines".
summary=$(awk -v frames_dir="$frames_dir" '
  $1 ~ /^#/ || NF == 0 { next }
  {
    image = sprintf("%s/frame_%02d.jpg", frames_dir, $2)
    pos = "pos_h" $1 "_" $2 ".txt"
    boxes = $3
    for (i = 4; i <= NF; i++) boxes = boxes " " $i
    print boxes > pos
    close(pos)
    print image, pos, "objects_info_h" $1 "_" $2 ".txt" > "histfeat.list"
    if (!(image in used)) { used[image] = 1; print "frame", image, $1 }
    if ($1 + 0 > objects) objects = $1 + 0
    if ($2 + 0 > frames) frames = $2 + 0
    lines++
  }
  END { close("histfeat.list"); print "count", objects + 0, frames + 0, lines + 0 }
' "$footage/boxes.txt")
while read -r what a b c; do
  case $what in
    frame) [ -f "$a" ] || fail "no frame ${a/#"$frames_dir"/$footage} for object $b" ;;
    count) objects=$a frames=$b lines=$c ;;
  esac
done <<< "$summary"

"$histfeat" --batch histfeat.list > histfeat.log ||
  fail "histfeat failed on lines of $work/histfeat.list (messages above)"

((lines == objects * frames)) ||
  fail "$footage/boxes.txt has $lines lines, not one per object and frame ($objects x $frames)"
"$trackpair" "$objects" "$frames"
