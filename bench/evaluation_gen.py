#!/usr/bin/env python3
"""Ground truth and a tracker's results for timing and checking the scores.

    evaluation_gen.py OUT NAME FRAMES OBJECTS SEED [NAME FRAMES OBJECTS SEED ...]

writes, per sequence, OUT/NAME/seqinfo.ini, OUT/NAME/gt/gt.txt (the nine
columns of ground truth) and OUT/results/NAME.txt (a tracker's ten columns).
Deterministic for a seed; standard library only.

The ground truth: OBJECTS pedestrians in view at a time, moving in straight
lines with fractional boxes in a 1920 x 1080 frame, each living a few hundred
frames and replaced when it leaves; a few static people, people on vehicles,
reflections and distractors (classes 7, 2, 12, 8), other classes (3, 4, 9),
zero-marked pedestrian rows (flag 0), and some frames with no ground truth.
The tracker: each pedestrian's box jittered (overlaps from about 0.3 to
0.98), missed in short runs (fragments), ids exchanged when two people meet
(switches at meetings), new ids after long losses (restarts), boxes on the
distractors (removed by the scoring), false positives, and a few frames with
no output at all. Coordinates are written with two decimals, so exact ties of
overlap are improbable.
"""
import os
import random
import sys

WIDTH, HEIGHT = 1920.0, 1080.0
DISTRACTOR_CLASSES = [7, 7, 7, 2, 12, 8]
OTHER_CLASSES = [3, 4, 9]


class Walker:
    def __init__(self, rng, gid, frame, cls=1):
        self.gid = gid
        self.cls = cls
        self.w = rng.uniform(30, 90)
        self.h = self.w * rng.uniform(2.0, 3.0)
        self.x = rng.uniform(0, WIDTH - self.w)
        self.y = rng.uniform(0, HEIGHT - self.h)
        still = cls != 1 and rng.random() < 0.7
        self.vx = 0.0 if still else rng.uniform(-4, 4)
        self.vy = 0.0 if still else rng.uniform(-1.5, 1.5)
        self.end = frame + rng.randint(80, 600)
        self.zero_from = -1
        if cls == 1 and rng.random() < 0.08:  # part of its life zero-marked (occluded)
            self.zero_from = frame + rng.randint(0, 60)
            self.zero_to = self.zero_from + rng.randint(5, 30)

    def step(self):
        self.x += self.vx
        self.y += self.vy

    def inside(self):
        return -self.w / 2 < self.x < WIDTH - self.w / 2 and -self.h / 2 < self.y < HEIGHT - self.h / 2


def jitter(rng, x, y, w, h, scale):
    dx, dy = rng.gauss(0, scale * w), rng.gauss(0, scale * h)
    sw, sh = rng.uniform(1 - 2 * scale, 1 + 2 * scale), rng.uniform(1 - 2 * scale, 1 + 2 * scale)
    return x + dx, y + dy, w * sw, h * sh


def fmt(v):
    return '%.2f' % v


def make(out, name, frames, objects, seed):
    rng = random.Random(seed)
    seq_dir = os.path.join(out, name)
    os.makedirs(os.path.join(seq_dir, 'gt'), exist_ok=True)
    os.makedirs(os.path.join(out, 'results'), exist_ok=True)
    with open(os.path.join(seq_dir, 'seqinfo.ini'), 'w') as f:
        f.write('[Sequence]\nname=%s\nimDir=img1\nframeRate=25\nseqLength=%d\n'
                'imWidth=1920\nimHeight=1080\nimExt=.jpg\n' % (name, frames))
    next_gid = [1]
    next_tid = [1]

    def new_walker(frame, cls=1):
        w = Walker(rng, next_gid[0], frame, cls)
        next_gid[0] += 1
        return w

    walkers = [new_walker(1) for _ in range(objects)]
    others = [new_walker(1, rng.choice(DISTRACTOR_CLASSES + OTHER_CLASSES)) for _ in range(objects // 8)]
    track_of = {}  # gt id -> tracker id
    missing = {}   # gt id -> frames left of a miss
    empty_gt = set(rng.sample(range(2, frames), max(1, frames // 200)))
    empty_tracker = set(rng.sample(range(2, frames), max(1, frames // 250)))
    gt_rows, tr_rows = [], []
    for frame in range(1, frames + 1):
        for group in (walkers, others):
            for i, w in enumerate(group):
                w.step()
                if frame > w.end or not w.inside():
                    group[i] = new_walker(frame, w.cls if group is others else 1)
        frame_tr = []
        if frame not in empty_gt:
            for w in walkers:
                flag = 0 if 0 <= w.zero_from <= frame < w.zero_to else 1
                vis = rng.uniform(0.1, 1.0)
                gt_rows.append((frame, w.gid, w.x, w.y, w.w, w.h, flag, 1, vis))
            for w in others:
                gt_rows.append((frame, w.gid, w.x, w.y, w.w, w.h, 1 if w.cls in DISTRACTOR_CLASSES else 0,
                                w.cls, rng.uniform(0.1, 1.0)))
        # Switches at meetings: two close pedestrians exchange their tracker ids.
        if rng.random() < 0.15:
            a, b = rng.sample(walkers, 2)
            for c in walkers:
                if c is not a and abs(c.x - a.x) < 60 and abs(c.y - a.y) < 60:
                    b = c
                    break
            if a.gid in track_of and b.gid in track_of:
                track_of[a.gid], track_of[b.gid] = track_of[b.gid], track_of[a.gid]
        for w in walkers:
            if w.gid not in track_of or rng.random() < 0.002:  # new track, or a restart
                track_of[w.gid] = next_tid[0]
                next_tid[0] += 1
            if missing.get(w.gid, 0) > 0:
                missing[w.gid] -= 1
                continue
            if rng.random() < 0.01:
                missing[w.gid] = rng.randint(1, 25)
                if missing[w.gid] > 15:  # lost long: comes back under a new id
                    track_of[w.gid] = next_tid[0]
                    next_tid[0] += 1
                continue
            scale = rng.choice([0.02, 0.04, 0.08, 0.15])
            frame_tr.append((track_of[w.gid],) + jitter(rng, w.x, w.y, w.w, w.h, scale))
        for w in others:
            if rng.random() < 0.5:
                frame_tr.append((100000 + w.gid,) + jitter(rng, w.x, w.y, w.w, w.h, 0.03))
        for _ in range(rng.randint(0, 3)):  # false positives, on short-lived ids
            frame_tr.append((200000 + rng.randint(0, 500), rng.uniform(0, 1800), rng.uniform(0, 900),
                             rng.uniform(30, 90), rng.uniform(80, 200)))
        if frame in empty_tracker:
            continue
        seen = set()
        for tid, x, y, w, h in frame_tr:
            if tid in seen or w <= 1 or h <= 1:
                continue
            seen.add(tid)
            tr_rows.append((frame, tid, x, y, w, h, rng.uniform(0.3, 1.0)))
    with open(os.path.join(seq_dir, 'gt', 'gt.txt'), 'w') as f:
        for r in gt_rows:
            f.write('%d,%d,%s,%s,%s,%s,%d,%d,%s\n' % (r[0], r[1], fmt(r[2]), fmt(r[3]), fmt(r[4]),
                                                     fmt(r[5]), r[6], r[7], fmt(r[8])))
    with open(os.path.join(out, 'results', name + '.txt'), 'w') as f:
        for r in tr_rows:
            f.write('%d,%d,%s,%s,%s,%s,%s,-1,-1,-1\n' % (r[0], r[1], fmt(r[2]), fmt(r[3]), fmt(r[4]),
                                                         fmt(r[5]), fmt(r[6])))


def main(argv):
    if len(argv) < 6 or (len(argv) - 2) % 4 != 0:
        sys.exit(__doc__)
    out = argv[1]
    for i in range(2, len(argv), 4):
        make(out, argv[i], int(argv[i + 1]), int(argv[i + 2]), int(argv[i + 3]))


if __name__ == '__main__':
    main(sys.argv)
