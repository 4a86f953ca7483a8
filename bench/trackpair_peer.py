#!/usr/bin/python3
"""bench/trackpair_peer.py - an independent peer of trackpair for the benchmark.

    /usr/bin/python3 trackpair_peer.py num_of_objects num_of_frames

Reads the same detection files from the current directory and prints the same
report, computed with Debian's python3-scipy: per frame, one k-d tree over
the four box values of every detection, cKDTree.query_pairs(79, p=1) for the
pairs at an L1 distance of at most 79 (below 80, the values being integers),
pairs of the same object dropped. Each file is parsed whole with numpy
(np.fromstring, every value of it, as trackpair checks every value too).
Valid input only: no checks beyond what the parsing does itself.
"""
import sys

import numpy as np
from scipy.spatial import cKDTree


def main():
    objects, frames = int(sys.argv[1]), int(sys.argv[2])

    # boxes[r][q]: array of shape (N, 4) of object q in frame index r, stored
    # as trackpair stores them (x1 y1 x2 y2 from the file's x1 x2 y1 y2).
    boxes = [[None] * objects for _ in range(frames)]
    for q in range(objects):
        for r in range(1, frames):
            with open("objects_info_h%d_%d.txt" % (q + 1, r + 1), "rb") as f:
                values = np.fromstring(f.read(), dtype=np.float64, sep=" ")
            n = int(values[0]) if values.size else 0
            records = values[1:1 + n * 68].reshape(n, 68)
            boxes[r][q] = records[:, [0, 2, 1, 3]].astype(np.int64)

    # candidates[r][q][s]: the (a, b) pairs of detection s of object q.
    candidates = [None] * frames
    for r in range(1, frames):
        owner, index = [], []
        for q in range(objects):
            n = len(boxes[r][q])
            owner.extend([q] * n)
            index.extend(range(n))
        lists = [[[] for _ in range(len(boxes[r][q]))] for q in range(objects)]
        if owner:
            points = np.concatenate([boxes[r][q] for q in range(objects)])
            for i, j in cKDTree(points).query_pairs(79, p=1):
                qi, qj = owner[i], owner[j]
                if qi != qj:
                    lists[qi][index[i]].append((qj, index[j]))
                    lists[qj][index[j]].append((qi, index[i]))
        candidates[r] = lists

    out = []
    for q in range(objects):
        for r in range(1, frames):
            for s, found in enumerate(candidates[r][q]):
                found.sort()
                out.append("%d %d %d " % (q, r, s) + "".join("%d %d " % ab for ab in found) + "\n")
    sys.stdout.write("".join(out))


if __name__ == "__main__":
    main()
