#!/usr/bin/env python3
"""Makes the bundled dataset examples/dataset from the bundled footage.

    examples/dataset/make.py

Writes two sequence folders in the layout of benchmarks of tracked people,
each with seqinfo.ini, img1/000001.jpg ... (relative symbolic links to the
footage's frames, so the bytes are the footage's own) and gt/gt.txt, and
the list LIST that names both; footage-01-dance, footage-01 with its frames
named in eight digits (img1/00000001.jpg ...), as a dataset of dancers
names them; and kitti/, the footage in KITTI's tracking layout
(image_02/0000/000000.jpg ..., label_02/0000.txt). Anything the script wrote before is replaced;
the output depends on examples/footage alone, so running it again changes
nothing.

gt/gt.txt has nine columns, frame,id,left,top,width,height,flag,class,
visibility, rows ordered by id and then frame (as benchmarks ship them):
every box of examples/footage/tracks.txt with flag 1, class 1 (pedestrian),
visibility 1, and one row per frame that the evaluation rules drop, a few
pixels from a tracked person, so that it would make candidate pairs if kept.
"""
import os
import shutil
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
FOOTAGE = os.path.join(os.path.dirname(HERE), "footage")

# The rows the rules drop, by frame in turn: (id, flag, class, visibility).
# Flag 0 is dropped whatever the class; classes other than 1 are dropped
# unless --classes keeps them.
IGNORED = [
    (5, 0, 1, 0.25),  # a person the annotators marked as not to be evaluated
    (6, 1, 7, 1.0),   # a static person
    (7, 1, 8, 0.5),   # a distractor (a reflection, a poster)
    (8, 1, 3, 1.0),   # a car
]
DX, DY = 5, 3  # offset of an ignored row from the person it stands next to

# (folder, first footage frame, last footage frame), renumbered from 1.
SEQUENCES = [
    ("footage-01", 1, 30),
    ("footage-02", 11, 20),
]

# footage-01 again, its frames named in eight digits (img1/00000001.jpg ...).
DANCE = ("footage-01-dance", 1, 30)


def read_tracks():
    """The footage's rows as (frame, id, left, top, width, height), file order."""
    rows = []
    with open(os.path.join(FOOTAGE, "tracks.txt")) as f:
        for n, line in enumerate(f, 1):
            fields = line.strip().split(",")
            if len(fields) < 6:
                sys.exit("make.py: tracks.txt:%d: fewer than 6 columns" % n)
            rows.append(tuple(int(v) for v in fields[:6]))
    return rows


def gt_rows(tracks, first, last):
    """gt.txt's lines for footage frames first..last, renumbered from 1."""
    rows = []  # (id, frame, order, text)
    for order, (frame, ident, left, top, width, height) in enumerate(tracks):
        if first <= frame <= last:
            f = frame - first + 1
            rows.append((ident, f, order,
                         "%d,%d,%d,%d,%d,%d,1,1,1" % (f, ident, left, top, width, height)))
    people = sorted({r[1] for r in tracks})
    for frame in range(first, last + 1):
        ident, flag, cls, vis = IGNORED[(frame - 1) % len(IGNORED)]
        person = people[(frame - 1) % len(people)]
        _, _, left, top, width, height = next(
            r for r in tracks if r[0] == frame and r[1] == person)
        f = frame - first + 1
        rows.append((ident, f, len(tracks),
                     "%d,%d,%d,%d,%d,%d,%d,%d,%g" %
                     (f, ident, left + DX, top + DY, width, height, flag, cls, vis)))
    # By id, then frame; the three boxes of a person and frame keep their order.
    rows.sort(key=lambda r: (r[0], r[1], r[2]))
    return [r[3] for r in rows]


def write(path, lines):
    with open(path, "w", newline="\n") as f:
        f.write("".join(line + "\n" for line in lines))


def link_frame(link, frame):
    """A relative symbolic link at `link` to the footage's frame `frame`."""
    depth = os.path.relpath(os.path.dirname(link), os.path.dirname(HERE)).count(os.sep) + 1
    os.symlink(os.path.join(*[".."] * depth, "footage", "frame_%02d.jpg" % frame), link)
    if not os.path.isfile(link):
        sys.exit("make.py: %s points to nothing" % link)


def make_sequence(tracks, name, first, last, digits=6):
    seq = os.path.join(HERE, name)
    if os.path.lexists(seq):
        shutil.rmtree(seq)
    os.makedirs(os.path.join(seq, "img1"))
    os.makedirs(os.path.join(seq, "gt"))
    write(os.path.join(seq, "seqinfo.ini"), [
        "[Sequence]",
        "name=%s" % name,
        "imDir=img1",
        "frameRate=10",
        "seqLength=%d" % (last - first + 1),
        "imWidth=320",
        "imHeight=240",
        "imExt=.jpg",
    ])
    for frame in range(first, last + 1):
        link_frame(os.path.join(seq, "img1", "%0*d.jpg" % (digits, frame - first + 1)), frame)
    write(os.path.join(seq, "gt", "gt.txt"), gt_rows(tracks, first, last))


def kitti_rows(tracks):
    """label_02/0000.txt: every box of the footage as a Pedestrian row of
    KITTI's 17 fields (frames from 0, right and bottom edges exclusive, the
    3-D fields unknown), file order kept; in every fifth frame a DontCare
    area and a Cyclist next to a person, rows the default types leave out."""
    rows = []
    unknown = "-1 -1 -1 -1000 -1000 -1000 -10"
    for n, (frame, ident, left, top, width, height) in enumerate(tracks):
        rows.append("%d %d Pedestrian 0 0 -10 %d %d %d %d %s" %
                    (frame - 1, ident, left, top, left + width, top + height, unknown))
        if frame % 5 == 0 and (n + 1 == len(tracks) or tracks[n + 1][0] != frame):
            rows.append("%d -1 DontCare -1 -1 -10 0 0 40 30 %s" % (frame - 1, unknown))
            rows.append("%d 90 Cyclist 0 1 -10 %d %d %d %d %s" %
                        (frame - 1, left + DX, top + DY, left + DX + width, top + DY + height,
                         unknown))
    return rows


def make_kitti(tracks):
    """kitti/: the footage in KITTI's tracking layout, image_02/0000/000000.jpg
    ... (the footage's JPEG frames, named as KITTI names its PNG ones) and
    label_02/0000.txt."""
    root = os.path.join(HERE, "kitti")
    if os.path.lexists(root):
        shutil.rmtree(root)
    os.makedirs(os.path.join(root, "image_02", "0000"))
    os.makedirs(os.path.join(root, "label_02"))
    for frame in range(1, max(t[0] for t in tracks) + 1):
        link_frame(os.path.join(root, "image_02", "0000", "%06d.jpg" % (frame - 1)), frame)
    write(os.path.join(root, "label_02", "0000.txt"), kitti_rows(tracks))


def main():
    tracks = read_tracks()
    for name, first, last in SEQUENCES:
        make_sequence(tracks, name, first, last)
    # footage-01 as a dataset of dancers names its frames: eight digits.
    make_sequence(tracks, DANCE[0], DANCE[1], DANCE[2], digits=8)
    make_kitti(tracks)
    write(os.path.join(HERE, "LIST"),
          ["# The bundled dataset, one sequence folder a line, paths from the repository root"
           " (examples/dataset/make.py writes this file)."] +
          ["examples/dataset/" + name for name, _, _ in SEQUENCES])


if __name__ == "__main__":
    main()
