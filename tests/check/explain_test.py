#!/usr/bin/env python3
"""The page on how the picture is made against GL itself: the modelview of
each object at the moment it is drawn and the projection, read back from
GL at frame 30, and each corner as gluProject puts it with them.

  explain_test.py STATE PAGE PHOTOGRAPH

STATE is what tests/check/readback.c wrote at frame 30 of the real demo,
PAGE the committed page, PHOTOGRAPH the photograph the demo showed (it
sizes the image quad). Held: the command's matrices (check.explain, from
the checker's model) within float precision of GL's; its corners' window
coordinates within a thousandth of a pixel of gluProject's; and the
numbers the page prints, at the decimals it prints them to."""
import re
import sys

import numpy as np
from PIL import Image

from check import explain
from check.scene import PROJECTION, Scene

# GL keeps its matrices in single precision: an element may lie this many
# of float's steps (relative to the larger of 1 and its size) from the
# exact product. (Seen here: at most 6.6e-7 on elements up to 600.)
FLOAT_STEPS = 4
STEP = float(np.finfo(np.float32).eps)
# gluProject of GL's own matrices and the model's window coordinates, in
# pixels. (Seen here: at most 8.6e-6.)
PIXEL = 1e-3
# Where GL's matrices differ from the page's rounded numbers: half the last
# decimal shown, and float precision.
MATRIX_PLACES, WINDOW_PLACES = 4, 2


def near(got, want, places=None):
    """Whether `got` lies within float precision of GL's `want`, and within
    half the last decimal where it was rounded to `places`."""
    slack = FLOAT_STEPS * STEP * np.maximum(1, abs(want)) + (0.5 * 10 ** -places if places else 0)
    return bool((abs(np.asarray(got) - want) <= slack).all())


def page_matrices(text):
    """The matrices the page prints: {"projection": 4 x 4, object name:
    its modelview, 4 x 4}."""
    blocks = re.findall(r"```\n(.*?)\n```", text, re.S)
    out = {}
    titled = re.findall(r"\*\*([A-Z][a-z]+ [a-z]+)\*\*: `[^\n]*\n\n```\n(.*?)\n```", text, re.S)
    for name, block in titled:
        rows = [line.split() for line in block.splitlines()[1:]]
        out[name.lower()] = np.array([r[-4:] for r in rows], float)
    first = [line.split() for line in blocks[0].splitlines()[1:]]
    out["projection"] = np.array([r[:4] for r in first], float)
    return out


def page_windows(text):
    """The corners' window coordinates as the page prints them: {label: (x, y)}."""
    return {label: (float(x), float(y)) for label, x, y in
            re.findall(r"^\| ([A-Z]\d) \|.*\| \((-?[\d.]+), (-?[\d.]+)\) \| [\d.]+ \|$", text, re.M)}


def main(argv):
    records = explain.state(argv[1])
    with open(argv[2]) as f:
        text = f.read()
    w, h = Image.open(argv[3]).size
    objs = explain.objects(explain.FRAME, w, h)
    scene = Scene(explain.FRAME, explain.Photo(w, h, [], [], [[(0, 0, 0)]]), explain.PROJECT_TINT)
    printed, windows = page_matrices(text), page_windows(text)
    failures = 0

    def held(ok, what):
        nonlocal failures
        print(f"{'ok' if ok else 'FAIL'} {what}")
        failures += not ok

    held(len(records) == len(objs), f"{len(records)} primitives drawn at frame 30, the page follows {len(objs)}")
    for o, (_, modelview, projection, viewport, vertices) in zip(objs, records):
        held(near(o.modelview, modelview), f"{o.name}: the command's modelview is GL's")
        held(near(printed.get(o.name, np.zeros((4, 4))), modelview, MATRIX_PLACES),
             f"{o.name}: the page's modelview is GL's")
        held(near(PROJECTION, projection) and near(printed["projection"], projection, MATRIX_PLACES),
             f"{o.name}: the projection, the command's and the page's, is GL's")
        held(viewport == (0, 0, scene.w, scene.h), f"{o.name}: the viewport is {viewport}")
        points = np.array([p for p, _ in vertices])
        glu = np.array([q for _, q in vertices])
        # Each corner the page follows is a vertex GL was given.
        for c in explain.corners(scene, o):
            k = np.flatnonzero((points == c.point).all(axis=1))
            if not len(k):
                held(False, f"{c.label}: no vertex of GL's at {tuple(c.point)}")
                continue
            off = float(abs(c.window - glu[k[0]])[:2].max())
            held(off <= PIXEL, f"{c.label}: the command's window point is {off:.1e} pixels from gluProject's")
            shown = windows.get(c.label)
            held(shown is not None and near(shown, glu[k[0], :2], WINDOW_PLACES),
                 f"{c.label}: the page's window point {shown} is gluProject's, to two decimals")
    print(f"{'FAIL' if failures else 'ok'} the page against GL: {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
