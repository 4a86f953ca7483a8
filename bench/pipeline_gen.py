#!/usr/bin/env python3
"""bench/pipeline_gen.py FOOTAGE OUT [OBJECTS [FRAMES]]   (default 100 500)

Writes a footage directory OUT for examples/pipeline.sh: frames
frame_NN.jpg for 1..FRAMES, each a symbolic link to one of the frames of
FOOTAGE (the bundled 30, played forwards and backwards: 1..30, 29..2, 1..), so
frames repeat; and boxes.txt, one line per object and frame, "object frame"
and three candidate boxes x1 y1 x2 y2 (inclusive, inside 320 x 240): the
object's box in that frame, its box in the previous frame, and the box
predicted from the last motion, as in the bundled footage.

Every object follows a smooth track: its centre moves on a sum of two slow
waves per axis, its box (16..40 wide, 32..80 high, the size of the people in
the bundled footage and somewhat larger) breathes slowly. The numbers come
from a fixed 64-bit generator, so the output depends only on the arguments.
"""
import math
import os
import sys

WIDTH, HEIGHT = 320, 240


class Generator:
    """splitmix64."""

    def __init__(self, seed):
        self.state = seed

    def next(self):
        self.state = (self.state + 0x9E3779B97F4A7C15) & (2**64 - 1)
        z = self.state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & (2**64 - 1)
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & (2**64 - 1)
        return z ^ (z >> 31)

    def uniform(self, lo, hi):
        return lo + self.next() % (hi - lo + 1)

    def real(self):
        return (self.next() >> 11) / float(1 << 53)


def inside(box):
    """The box moved (not cut) so that it lies inside the frame."""
    x1, y1, x2, y2 = box
    dx = max(0, -x1) - max(0, x2 - (WIDTH - 1))
    dy = max(0, -y1) - max(0, y2 - (HEIGHT - 1))
    return (x1 + dx, y1 + dy, x2 + dx, y2 + dy)


def main(argv):
    if len(argv) not in (3, 4, 5):
        sys.exit("usage: pipeline_gen.py FOOTAGE OUT [OBJECTS [FRAMES]]")
    footage, out = os.path.abspath(argv[1]), argv[2]
    objects = int(argv[3]) if len(argv) > 3 else 100
    frames = int(argv[4]) if len(argv) > 4 else 500
    sources = sorted(f for f in os.listdir(footage) if f.startswith("frame_") and f.endswith(".jpg"))
    if not sources:
        sys.exit("pipeline_gen.py: no frame_NN.jpg in " + footage)
    os.makedirs(out, exist_ok=True)
    cycle = list(range(len(sources))) + list(range(len(sources) - 2, 0, -1)) or [0]
    for f in range(1, frames + 1):
        link = os.path.join(out, "frame_%02d.jpg" % f)
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(os.path.join(footage, sources[cycle[(f - 1) % len(cycle)]]), link)

    g = Generator(20240611)
    lines = ["# object frame, then three candidate boxes x1 y1 x2 y2 (inclusive, 320 x 240)"]
    for q in range(1, objects + 1):
        cx, cy = g.uniform(40, WIDTH - 40), g.uniform(50, HEIGHT - 50)
        ax = [g.uniform(10, 60), g.uniform(3, 20)]
        ay = [g.uniform(5, 40), g.uniform(2, 12)]
        wx = [0.002 + 0.01 * g.real(), 0.01 + 0.03 * g.real()]
        wy = [0.002 + 0.01 * g.real(), 0.01 + 0.03 * g.real()]
        px = [2 * math.pi * g.real() for _ in range(2)]
        py = [2 * math.pi * g.real() for _ in range(2)]
        w0, h0 = g.uniform(16, 40), g.uniform(32, 80)
        breath = 0.005 + 0.01 * g.real()

        def box(t):
            x = cx + sum(ax[i] * math.sin(2 * math.pi * wx[i] * t + px[i]) for i in range(2))
            y = cy + sum(ay[i] * math.sin(2 * math.pi * wy[i] * t + py[i]) for i in range(2))
            s = 1 + 0.1 * math.sin(2 * math.pi * breath * t)
            w, h = max(1, round(w0 * s)), max(1, round(h0 * s))
            x1, y1 = round(x - w / 2), round(y - h / 2)
            return inside((x1, y1, x1 + w - 1, y1 + h - 1))

        previous = box(0)
        for f in range(1, frames + 1):
            now = box(f)
            if f == 1:
                previous = now
            predicted = inside(tuple(2 * a - b for a, b in zip(now, previous)))
            items = [q, f] + list(now) + list(previous) + list(predicted)
            lines.append(" ".join(str(v) for v in items))
            previous = now
    with open(os.path.join(out, "boxes.txt"), "w") as text:
        text.write("\n".join(lines) + "\n")
    print("%d objects x %d frames, %d lines, frames from %d pictures" %
          (objects, frames, len(lines) - 1, len(sources)))


if __name__ == "__main__":
    main(sys.argv)
