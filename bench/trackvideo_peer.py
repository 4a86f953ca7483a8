#!/usr/bin/python3
"""bench/trackvideo_peer.py - an independent peer of trackvideo's table for the benchmark.

    /usr/bin/python3 trackvideo_peer.py --tracks T --video V --csv C [--radius N]

Writes the table of `trackvideo --tracks T --video V --csv C` (no report, no
other output) with Debian's python3-opencv, -numpy, -scipy and -pandas:

- the tracks read with pandas (comma-separated rows frame,id,left,top,width,
  height and any further columns; no header line), corners rounded half away
  from zero, det counted from 1 within (id, frame) in file order;
- frames 1 to F (F the last frame of the tracks) decoded one at a time by
  cv2.VideoCapture;
- per box its 64 histogram values as trackvideo's records hold them: one
  numpy bincount over the box's pixels (clipped to the frame) of a per-frame
  image of bin numbers (channel 0 >> 3, 32 + (channel 1 >> 3), 64 +
  (channel 2 >> 4)), each bin count * (0.333 / pixels) rounded to float32, of
  which bins 0-23, 32-55 and 64-79 are kept;
- per frame the candidate pairs from scipy's cKDTree(corners).query_pairs(
  radius - 1, p=1) (L1 <= radius - 1 is L1 < radius on integer corners), pairs
  of one track dropped, each pair turned so that id_a < id_b;
- hist_l1 as trackvideo sums it (a float32 sum, rounded after each of the 64
  terms computed in double), iou in double, hist_hellinger as the mean over
  the three planes of sqrt(max(0, 1 - sum sqrt(a b) / sqrt(sum a * sum b)))
  with the sums taken in the same order as trackvideo's (numpy's own sum
  orders its additions otherwise, so the sums run bin by bin, vectorised over
  the pairs);
- rows sorted by frame, id_a, det_a, id_b, det_b and written with pandas'
  to_csv, floats "%.6f", in blocks of about 100,000 rows.

Valid input only: no checks beyond what the libraries do themselves.
"""
import argparse
import sys

import cv2
import numpy as np
import pandas as pd
from scipy.spatial import cKDTree

COLUMNS = ["frame", "id_a", "det_a", "id_b", "det_b", "l1", "hist_l1",
           "left_a", "top_a", "width_a", "height_a",
           "left_b", "top_b", "width_b", "height_b", "iou", "hist_hellinger"]
PLANES = [(0, 24), (24, 48), (48, 64)]  # of the 64 kept values
FLT_EPSILON = float(np.finfo(np.float32).eps)
BLOCK_ROWS = 100_000


def round_half_away(v):
    return (np.sign(v) * np.floor(np.abs(v) + 0.5)).astype(np.int64)


def read_tracks(path):
    t = pd.read_csv(path, header=None, usecols=range(6), dtype=np.float64,
                    names=["frame", "id", "left", "top", "width", "height"])
    frame = t["frame"].to_numpy().astype(np.int64)
    ids = t["id"].to_numpy().astype(np.int64)
    left, top = t["left"].to_numpy(), t["top"].to_numpy()
    x1, y1 = round_half_away(left), round_half_away(top)
    x2 = round_half_away(left + t["width"].to_numpy()) - 1
    y2 = round_half_away(top + t["height"].to_numpy()) - 1
    det = pd.DataFrame({"f": frame, "i": ids}).groupby(["f", "i"], sort=False).cumcount()
    det = det.to_numpy().astype(np.int64) + 1
    order = np.argsort(frame, kind="stable")  # file order within a frame
    return (frame[order], ids[order], det[order],
            np.stack([x1, y1, x2, y2], axis=1)[order])


def box_values(bins, corners):
    """The 64 float32 histogram values of each box (rows of corners) over `bins`."""
    h, w = bins.shape[:2]
    x1 = np.maximum(corners[:, 0], 0)
    y1 = np.maximum(corners[:, 1], 0)
    x2 = np.minimum(corners[:, 2], w - 1)
    y2 = np.minimum(corners[:, 3], h - 1)
    counts = np.empty((len(corners), 80), dtype=np.float64)
    for k in range(len(corners)):
        counts[k] = np.bincount(bins[y1[k]:y2[k] + 1, x1[k]:x2[k] + 1].ravel(), minlength=80)
    pixels = ((x2 - x1 + 1) * (y2 - y1 + 1)).astype(np.float64)
    values = (counts * (0.333 / pixels)[:, None]).astype(np.float32)
    return np.concatenate([values[:, 0:24], values[:, 32:56], values[:, 64:80]], axis=1)


def hist_l1(a, b):
    """Per row of a and b (float32, n x 64): the float32 sum of |a - b| in order."""
    s = np.zeros(len(a), dtype=np.float32)
    a64, b64 = a.astype(np.float64), b.astype(np.float64)
    for i in range(a.shape[1]):
        s = (s.astype(np.float64) + np.abs(a64[:, i] - b64[:, i])).astype(np.float32)
    return s


def plane_sums(values):
    """Per box and plane: its values summed in double, bin by bin."""
    sums = np.zeros((len(values), 3))
    v = values.astype(np.float64)
    for p, (lo, hi) in enumerate(PLANES):
        for i in range(lo, hi):
            sums[:, p] += v[:, i]
    return sums


def hellinger(roots_a, roots_b, sums_a, sums_b):
    total = np.zeros(len(roots_a))
    for p, (lo, hi) in enumerate(PLANES):
        overlap = np.zeros(len(roots_a))
        for i in range(lo, hi):
            overlap += roots_a[:, i] * roots_b[:, i]
        product = sums_a[:, p] * sums_b[:, p]
        scale = np.ones(len(roots_a))
        big = np.abs(product) > FLT_EPSILON
        scale[big] = 1 / np.sqrt(product[big])
        total += np.sqrt(np.maximum(0.0, 1 - overlap * scale))
    return total / 3


def iou(ca, cb):
    def area(x1, y1, x2, y2):
        return np.where((x2 < x1) | (y2 < y1), 0.0,
                        (x2 - x1 + 1).astype(np.float64) * (y2 - y1 + 1).astype(np.float64))
    meet = area(np.maximum(ca[:, 0], cb[:, 0]), np.maximum(ca[:, 1], cb[:, 1]),
                np.minimum(ca[:, 2], cb[:, 2]), np.minimum(ca[:, 3], cb[:, 3]))
    union = area(*ca.T) + area(*cb.T) - meet
    out = np.zeros(len(ca))
    some = meet != 0
    out[some] = meet[some] / union[some]
    return out


def frame_rows(f, ids, dets, corners, values, radius):
    """The table of one frame as a DataFrame, or None without pairs."""
    if len(ids) < 2:
        return None
    pairs = cKDTree(corners).query_pairs(radius - 1, p=1, output_type="ndarray")
    if len(pairs) == 0:
        return None
    i, j = pairs[:, 0], pairs[:, 1]
    keep = ids[i] != ids[j]
    i, j = i[keep], j[keep]
    if len(i) == 0:
        return None
    turn = ids[i] > ids[j]
    i, j = np.where(turn, j, i), np.where(turn, i, j)
    order = np.lexsort((dets[j], ids[j], dets[i], ids[i]))
    i, j = i[order], j[order]
    ca, cb = corners[i], corners[j]
    roots = np.sqrt(values.astype(np.float64))
    sums = plane_sums(values)
    return pd.DataFrame({
        "frame": np.full(len(i), f, dtype=np.int64),
        "id_a": ids[i], "det_a": dets[i], "id_b": ids[j], "det_b": dets[j],
        "l1": np.abs(ca - cb).sum(axis=1),
        "hist_l1": hist_l1(values[i], values[j]).astype(np.float64),
        "left_a": ca[:, 0], "top_a": ca[:, 1],
        "width_a": ca[:, 2] - ca[:, 0] + 1, "height_a": ca[:, 3] - ca[:, 1] + 1,
        "left_b": cb[:, 0], "top_b": cb[:, 1],
        "width_b": cb[:, 2] - cb[:, 0] + 1, "height_b": cb[:, 3] - cb[:, 1] + 1,
        "iou": iou(ca, cb),
        "hist_hellinger": hellinger(roots[i], roots[j], sums[i], sums[j]),
    }, columns=COLUMNS)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tracks", required=True)
    parser.add_argument("--video", required=True)
    parser.add_argument("--csv", required=True)
    parser.add_argument("--radius", type=int, default=80)
    args = parser.parse_args()

    frame, ids, dets, corners = read_tracks(args.tracks)
    last = int(frame.max())
    starts = np.searchsorted(frame, np.arange(1, last + 2))

    capture = cv2.VideoCapture(args.video)
    if not capture.isOpened():
        sys.exit("trackvideo_peer.py: cannot open " + args.video)
    bins = None
    waiting, rows = [], 0
    with open(args.csv, "w", newline="") as out:
        out.write(",".join(COLUMNS) + "\n")
        for f in range(1, last + 1):
            ok, image = capture.read()
            if not ok:
                sys.exit("trackvideo_peer.py: %s ends before frame %d" % (args.video, f))
            lo, hi = starts[f - 1], starts[f]
            if hi == lo:
                continue
            if bins is None or bins.shape != image.shape:
                bins = np.empty(image.shape, dtype=np.uint8)
            np.right_shift(image[:, :, 0], 3, out=bins[:, :, 0])
            np.right_shift(image[:, :, 1], 3, out=bins[:, :, 1])
            bins[:, :, 1] += 32
            np.right_shift(image[:, :, 2], 4, out=bins[:, :, 2])
            bins[:, :, 2] += 64
            values = box_values(bins, corners[lo:hi])
            table = frame_rows(f, ids[lo:hi], dets[lo:hi], corners[lo:hi], values, args.radius)
            if table is not None:
                waiting.append(table)
                rows += len(table)
            if rows >= BLOCK_ROWS or (f == last and waiting):
                pd.concat(waiting).to_csv(out, header=False, index=False, float_format="%.6f")
                waiting, rows = [], 0


if __name__ == "__main__":
    main()
