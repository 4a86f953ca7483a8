#!/usr/bin/env python3
# bench/kitti_gen.py - random KITTI tracking sequences for comparing the KITTI
# evaluation with the official kit's: OUT/image_02/NNNN (empty .png files: an
# evaluation alone reads no pixel), OUT/label_02/NNNN.txt, OUT/results/NNNN.txt,
# and the same files in the kit's layout under OUT/kit (gt/label_02,
# gt/evaluate_tracking.seqmap.training, trackers/mine/data).
# Cars, vans, pedestrians, sitting people and other types; occlusion 0-3 and
# truncation 0-2; DontCare areas; results that follow the objects with noise,
# switch ids, mistype distractors, and add false positives (some short, some
# inside DontCare areas).
# usage: bench/kitti_gen.py OUT SEED SEQUENCES
import os
import random
import sys

out, seed, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
random.seed(seed)


def box(cx, cy, w, h):
    return (cx - w / 2, cy - h / 2, cx + w / 2, cy + h / 2)


def row(f, i, t, trunc, occ, b, score=None):
    s = f"{f} {i} {t} {trunc} {occ} -10 {b[0]:.3f} {b[1]:.3f} {b[2]:.3f} {b[3]:.3f} 1.5 1.6 3.9 1 1 10 0.1"
    return s + (f" {score:.4f}" if score is not None else "")


def write(paths, rows):
    for p in paths:
        with open(os.path.join(out, p), "w") as f:
            f.write("\n".join(rows) + "\n")


for d in ["image_02", "label_02", "results", "kit/gt/label_02", "kit/trackers/mine/data"]:
    os.makedirs(os.path.join(out, d), exist_ok=True)
seqmap = []
types = ["Car", "Car", "Car", "Van", "Pedestrian", "Pedestrian", "Person", "Cyclist", "Truck"]
for s in range(count):
    name, n = f"{s:04d}", random.randint(15, 40)
    os.makedirs(os.path.join(out, "image_02", name), exist_ok=True)
    for f in range(n):
        open(os.path.join(out, "image_02", name, f"{f:06d}.png"), "w").close()
    seqmap.append(f"{name} empty 000000 {n:06d}")
    objs = []
    for k in range(random.randint(4, 12)):
        a = random.randint(0, n - 1)
        objs.append(dict(id=k, t=random.choice(types), a=a, b=random.randint(a, n - 1),
                         x=random.uniform(50, 500), y=random.uniform(50, 300),
                         w=random.uniform(15, 120), h=random.uniform(15, 100),
                         vx=random.uniform(-5, 5), vy=random.uniform(-2, 2), tid=100 + k))
    areas = [box(random.uniform(0, 600), random.uniform(0, 400), random.uniform(30, 200),
                 random.uniform(30, 150)) for _ in range(random.randint(0, 3))]
    gt, tr, next_id = [], [], 500
    for f in range(n):
        gt += [row(f, -1, "DontCare", -1, -1, b) for b in areas if random.random() < 0.8]
        ids = set()
        for o in objs:
            if not o["a"] <= f <= o["b"]:
                continue
            cx, cy = o["x"] + o["vx"] * f, o["y"] + o["vy"] * f
            gt.append(row(f, o["id"], o["t"], random.choice([0, 0, 0, 0, 1, 2]),
                          random.choice([0, 0, 0, 1, 2, 3]), box(cx, cy, o["w"], o["h"])))
            if random.random() < 0.85:
                if random.random() < 0.04:  # a switch
                    o["tid"], next_id = next_id, next_id + 1
                j = lambda: random.uniform(-0.15, 0.15)
                b = box(cx + o["w"] * j(), cy + o["h"] * j(), o["w"] * (1 + j()), o["h"] * (1 + j()))
                t = o["t"] if o["t"] in ("Car", "Pedestrian") else random.choice(["Car", "Pedestrian", o["t"]])
                tr.append(row(f, o["tid"], t, 0, 0, b, random.random()))
                ids.add(o["tid"])
        for _ in range(random.randint(0, 3)):  # false positives
            if areas and random.random() < 0.4:
                a = random.choice(areas)
                b = box((a[0] + a[2]) / 2 + random.uniform(-20, 20), (a[1] + a[3]) / 2,
                        random.uniform(10, 60), random.uniform(10, 60))
            else:
                b = box(random.uniform(0, 600), random.uniform(0, 400), random.uniform(10, 80),
                        random.choice([random.uniform(10, 30), 25, random.uniform(20, 90)]))
            i = random.randint(900, 910) if random.random() < 0.5 else 2000 + f
            if i not in ids:
                ids.add(i)
                tr.append(row(f, i, random.choice(["Car", "Pedestrian"]), 0, 0, b, random.random()))
    write([f"label_02/{name}.txt", f"kit/gt/label_02/{name}.txt"], gt)
    write([f"results/{name}.txt", f"kit/trackers/mine/data/{name}.txt"], tr)
write(["kit/gt/evaluate_tracking.seqmap.training"], seqmap)
