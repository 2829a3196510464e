#!/usr/bin/env python3
"""The frame checker must say what is wrong, not only that something is: a
good frame passes every check, and the same frame altered in known ways
fails, naming the object and the fault.

  check_test.py KEPT   (a scratch folder kept by check.py --keep)"""
import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import check as C  # noqa: E402


def flipped(frame, scene):
    row = frame.w * 3
    rows = [frame.data[r * row:(r + 1) * row] for r in range(frame.h)]
    frame.data[:] = b"".join(reversed(rows))


def shifted(frame, scene):  # 2 pixels to the right
    row = frame.w * 3
    for r in range(frame.h):
        line = frame.data[r * row:(r + 1) * row]
        frame.data[r * row:(r + 1) * row] = bytes(6) + line[:-6]


def edge_painted_black(frame, scene):  # the box's front left edge
    _, a, b = scene.box()[3]
    for _, (x, y) in C.edge_points(scene, a, b, 400):
        for dx in (-2, -1, 0, 1, 2):
            i = (int(y) * frame.w + int(x) + dx) * 3
            frame.data[i:i + 3] = bytes(3)


def each_pixel_of(name, change):
    def alter(frame, scene):
        quad = {q.name: q for q in scene.quads}[name]
        xs, ys = zip(*(scene.project(p) for p in quad.corners))
        for y in range(int(min(ys)), int(max(ys)) + 1):
            for x in range(int(min(xs)), int(max(xs)) + 1):
                f = scene.front(x + 0.5, y + 0.5)
                if f and f[0].name == name:
                    i = (y * frame.w + x) * 3
                    frame.data[i:i + 3] = change(frame.data[i:i + 3])
    return alter


rng = random.Random(1)
CASES = (
    ("flipped", flipped, "image quad: the photograph right way up", "upside down"),
    ("shifted 2 px", shifted, "image quad: pixel rectangle", "left edge at x=167, expected 165"),
    ("a box edge painted black", edge_painted_black, "wire box: 12 edges", "front left edge missing"),
    ("two gradient corners swapped", each_pixel_of("gradient quad", lambda c: bytes((c[1], c[0], c[2]))),
     "gradient quad: corner colours", "red and green swapped"),
    ("noise in place of the photograph", each_pixel_of("image quad", lambda c: bytes(rng.randrange(256) for _ in c)),
     "image quad: the photograph right way up", "points off"),
)


def main():
    path = os.path.join(sys.argv[1], "project", "frame-30.ppm")
    scene = C.Scene(30, C.quadrants(320, 240), C.PROJECT_TINT)
    failures = 0
    good = [r for r in C.check_frame(C.Frame.read(path), scene) if r[1]]
    if good:
        print(f"FAIL the unaltered frame: {good}")
        failures += 1
    for name, alter, check, words in CASES:
        frame = C.Frame.read(path)
        alter(frame, scene)
        problem = dict(C.check_frame(frame, scene))[check]
        if not problem or words not in problem:
            print(f"FAIL {name}: {check} gave {problem!r}, expected a fault with {words!r}")
            failures += 1
        else:
            print(f"ok {name}: {check}: {problem}")
    print(f"{len(CASES) + 1 - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
