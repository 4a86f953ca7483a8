#!/usr/bin/env bash
# examples/pipeline.sh HISTFEAT TRACKPAIR WORKDIR [FOOTAGE]
#
# The whole pipeline on a footage directory (default: examples/footage beside
# this script), which holds frames frame_NN.jpg and boxes.txt, one line per
# object and frame: "object frame" and three candidate boxes x1 y1 x2 y2.
#
# For every line, puts the frame in WORKDIR as "v200.jpg" and the three boxes as
# "pos.txt", runs HISTFEAT there and renames its "objects_info_1.txt" to
# "objects_info_h<object>_<frame>.txt"; then runs "TRACKPAIR objects frames" in
# WORKDIR and prints its report on standard output. histfeat's echo of the boxes
# goes to WORKDIR/histfeat.log. Exit status 1 (with a message on standard error)
# when a step fails or the footage is not complete (every object in every frame).
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
: > histfeat.log

objects=0
frames=0
lines=0
while read -r object frame boxes; do
  case $object in '#'* | '') continue ;; esac
  image=$(printf '%s/frame_%02d.jpg' "$footage" "$frame")
  [ -f "$image" ] || fail "no frame $image for object $object"
  cp "$image" v200.jpg
  printf '%s\n' "$boxes" > pos.txt
  "$histfeat" >> histfeat.log || fail "histfeat failed on object $object, frame $frame"
  mv objects_info_1.txt "objects_info_h${object}_${frame}.txt"
  ((object > objects)) && objects=$object
  ((frame > frames)) && frames=$frame
  lines=$((lines + 1))
done < "$footage/boxes.txt"

((lines == objects * frames)) ||
  fail "$footage/boxes.txt has $lines lines, not one per object and frame ($objects x $frames)"
"$trackpair" "$objects" "$frames"
