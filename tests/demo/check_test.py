#!/usr/bin/env python3
"""The frame checker must say what is wrong, not only that something is: a
good frame passes every check; the same frame altered in known ways fails,
naming the object and the fault; and so does the real demo with a fault
put in by tests/interpose.c, on whatever display, driver and settings this
runs under (forced multisampling, a tiling window manager, ...).

  check_test.py KEPT   (a scratch folder kept by check.py --keep)

DEMO, CAPTURE, DATA and INTERPOSE in the environment name the demo, the
capture library, the data folder and the interposing library."""
import os
import sys
import tempfile

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
import check as C  # noqa: E402
from check_frame import Frame, Look, check_frame, edge_points  # noqa: E402
from check_scene import PROJECT_TINT, Scene  # noqa: E402


def flipped(frame, look):
    frame.pixels[:] = frame.pixels[::-1].copy()


def shifted(frame, look):  # 2 pixels to the right
    frame.pixels[:, 2:] = frame.pixels[:, :-2].copy()
    frame.pixels[:, :2] = 0


def edge_painted_black(frame, look):  # the box's front left edge
    _, a, b = look.scene.box()[3]
    x, y, _ = edge_points(look, a, b, 2000)
    for dx in (-2, -1, 0, 1, 2):
        frame.pixels[y.astype(int), x.astype(int) + dx] = 0


def each_pixel_of(name, change):
    def alter(frame, look):
        where = look.front == name
        frame.pixels[where] = change(frame.pixels[where])
    return alter


rng = np.random.default_rng(1)
ALTERED = (
    ("flipped", flipped, "image quad: the photograph right way up", "upside down"),
    ("shifted 2 px", shifted, "image quad: pixel rectangle", "its outline"),
    ("a box edge painted black", edge_painted_black, "wire box: 12 edges", "front left edge missing"),
    ("two gradient corners swapped", each_pixel_of("gradient quad", lambda c: c[:, [1, 0, 2]]),
     "gradient quad: corner colours", "red and green swapped"),
    ("noise in place of the photograph", each_pixel_of("image quad", lambda c: rng.integers(0, 256, c.shape)),
     "image quad: the photograph right way up", "points off"),
)

# FAULT, the test photograph, the frame, the check that must fail and words
# that it must say.
FAULTS = (
    ("other-spin", "quadrants", 30, "tiled quad: place, shape and spin", "turns counter-clockwise"),
    ("degree-late", "quadrants", 30, "scene: frame N drawn at N degrees, the first at 1", "drawn at 29 degrees"),
    ("vertical-axis", "quadrants", 30, "gradient quad: place and tumble", "turns about the vertical axis"),
    ("box-edge", "quadrants", 30, "wire box: 12 edges", "front left edge missing"),
    ("grey-as-rgb", "grayscale", 90, "image quad: the photograph right way up", "points off"),
    ("inverted", "Adobe CMYK", 90, "image quad: the photograph right way up", "colours inverted"),
    ("whole-units", "odd size", 90, "image quad: pixel rectangle", "not centred"),
)


def verdict(name, problem, words):
    if not problem or words not in problem:
        print(f"FAIL {name}: gave {problem!r}, expected a fault with {words!r}")
        return 1
    print(f"ok {name}: {problem}")
    return 0


def main():
    path = os.path.join(sys.argv[1], "project", "frame-30.ppm")
    good = Frame(path)
    scene = Scene(30, C.PHOTOGRAPHS["quadrants"][0], PROJECT_TINT, good.w, good.h)
    failures = 0
    wrong = [r for r in check_frame(good, scene) if r[1]]
    if wrong:
        print(f"FAIL the unaltered frame: {wrong}")
        failures += 1
    look = Look(good, scene)
    for name, alter, check, words in ALTERED:
        frame = Frame(path)
        alter(frame, look)
        failures += verdict(f"{name}: {check}", dict(check_frame(frame, scene))[check], words)

    with tempfile.TemporaryDirectory() as scratch:
        run = C.Run(os.environ["DEMO"], os.environ["CAPTURE"], os.environ["DATA"], scratch)
        preload = " ".join(filter(None, [os.environ["INTERPOSE"], os.environ.get("LD_PRELOAD")]))
        for fault, kind, n, check, words in FAULTS:
            d = run.folder(fault, run.data)
            photo = run.photograph(d, kind)
            status, output, _, _ = run.start(d, {"LD_PRELOAD": preload, "FAULT": fault,
                                                 "CAPTURE_FRAMES": str(n), "CAPTURE_EXIT": str(n)})
            shots = run.frames(d, [f"frame-{n}.ppm"])
            if status != 0 or not shots:
                print(f"FAIL {fault}: the demo did not run: {C.demo_failed(output, status)}")
                failures += 1
                continue
            f = shots[f"frame-{n}.ppm"]
            problem = dict(check_frame(f, Scene(n, photo, PROJECT_TINT, f.w, f.h)))[check]
            failures += verdict(f"FAULT={fault}: {check}", problem, words)
    total = 1 + len(ALTERED) + len(FAULTS)
    print(f"{total - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
