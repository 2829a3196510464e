#!/usr/bin/env python3
"""The page on how the picture is made against GL itself: the modelview of
each object at the moment it is drawn and the projection, read back from
GL at frame 30, each corner as gluProject puts it with them, the fragments
of each primitive that passed the depth test, and the depth buffer.

  gl_test.py STATE DEPTH PAGE PHOTOGRAPH

STATE and DEPTH are what page/readback.c wrote at frame 30 of the real demo
(READBACK_OUT, READBACK_DEPTH), PAGE the committed page, PHOTOGRAPH the
photograph the demo showed (it sizes the image quad). Held: the command's
matrices (page.figures, from the checker's model) within float precision
of GL's; its corners' window coordinates within a thousandth of a pixel of
gluProject's; the numbers the page prints, at the decimals it prints them
to; each quad's fragments that passed the depth test, as GL counted them,
the model's (its pixel centres covered, the image quad's less those the
tiled and the gradient quad hold), give or take the centres that lie on an
edge; and the depth buffer, at every pixel a quad alone covers, within a
step of the buffer's precision of the model's depth there."""
import re
import sys

import numpy as np
from PIL import Image

from check.scene import PROJECT_TINT, PROJECTION, Photo, Scene
from page import figures, runs

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
# The depth buffer against the model's depth, in steps of its precision
# (seen here: at most 1.12, on the gradient quad, which leans most), where a
# pixel centre lies this far inside a quad's outline and at least as far
# outside every other's.
DEPTH_STEPS, DEPTH_INSIDE = 2, 1.5


def near(got, want, places=None):
    """Whether `got` lies within float precision of GL's `want`, and within
    half the last decimal where it was rounded to `places`."""
    slack = FLOAT_STEPS * STEP * np.maximum(1, abs(want)) + (0.5 * 10 ** -places if places else 0)
    return bool((abs(np.asarray(got) - want) <= slack).all())


def page_matrices(text):
    """The matrices the page prints: {"projection": 4 x 4, object name:
    its modelview, 4 x 4}."""
    out = {}
    titled = re.findall(r"\*\*([A-Z][a-z]+ [a-z]+)\*\*: `[^\n]*\n\n```\n(.*?)\n```", text, re.S)
    for name, block in titled:
        rows = [line.split() for line in block.splitlines()[1:]]
        out[name.lower()] = np.array([r[-4:] for r in rows], float)
    first = next(b for b in re.findall(r"```\n(.*?)\n```", text, re.S) if b.startswith("projection "))
    out["projection"] = np.array([r.split()[:4] for r in first.splitlines()[1:]], float)
    return out


def page_windows(text):
    """The corners' window coordinates as the page prints them: {label: (x, y)}."""
    return {label: (float(x), float(y)) for label, x, y in
            re.findall(r"^\| ([A-Z]\d) \|.*\| \((-?[\d.]+), (-?[\d.]+)\) \| [\d.]+ \|$", text, re.M)}


def main(argv):
    bits, primitives = runs.state(argv[1])
    buffer_bits, depth = runs.depth_buffer(argv[2])
    with open(argv[3]) as f:
        text = f.read()
    w, h = Image.open(argv[4]).size
    scene = Scene(figures.FRAME, Photo(w, h, [], [], [[(0, 0, 0)]]), PROJECT_TINT)
    objs = figures.objects(scene, w, h)
    printed, windows = page_matrices(text), page_windows(text)
    failures = 0

    def held(ok, what):
        nonlocal failures
        print(f"{'ok' if ok else 'FAIL'} {what}")
        failures += not ok

    held(len(primitives) == len(objs), f"{len(primitives)} primitives drawn at frame 30, the page follows {len(objs)}")
    for o, p in zip(objs, primitives):
        held(near(o.modelview, p.modelview), f"{o.name}: the command's modelview is GL's")
        held(near(printed.get(o.name, np.zeros((4, 4))), p.modelview, MATRIX_PLACES),
             f"{o.name}: the page's modelview is GL's")
        held(near(PROJECTION, p.projection) and near(printed["projection"], p.projection, MATRIX_PLACES),
             f"{o.name}: the projection, the command's and the page's, is GL's")
        held(p.viewport == (0, 0, scene.w, scene.h), f"{o.name}: the viewport is {p.viewport}")
        points = np.array([v for v, _ in p.vertices])
        glu = np.array([q for _, q in p.vertices])
        # Each corner the page follows is a vertex GL was given.
        for c in figures.corners(scene, o):
            k = np.flatnonzero((points == c.point).all(axis=1))
            if not len(k):
                held(False, f"{c.label}: no vertex of GL's at {tuple(c.point)}")
                continue
            off = float(abs(c.window - glu[k[0]])[:2].max())
            held(off <= PIXEL, f"{c.label}: the command's window point is {off:.1e} pixels from gluProject's")
            shown = windows.get(c.label)
            held(shown is not None and near(shown, glu[k[0], :2], WINDOW_PLACES),
                 f"{c.label}: the page's window point {shown} is gluProject's, to two decimals")

    # The fragments that passed the depth test: all of the tiled and the
    # gradient quad's (drawn first, apart), the image quad's but where those hold the pixel.
    fr = figures.fragments(scene)
    passed = {o.name: p.samples for o, p in zip(objs, primitives)}
    want = {**fr.covered, "image quad": fr.covered["image quad"] - fr.overlap}
    for name in scene.quads:
        held(abs(passed[name] - want[name]) <= fr.unsure[name],
             f"{name}: {passed[name]} fragments passed the depth test, the model {want[name]} "
             f"(give or take {fr.unsure[name]} on an edge)")

    # The depth buffer where one quad alone is drawn, against the model.
    held(bits == buffer_bits and bits >= 16, f"the depth buffer has {bits} bits")
    grain = figures.depth_grain(depth, bits)
    step = 2.0 ** grain / (2 ** bits - 1)
    reach = {n: np.full((scene.h, scene.w), -np.inf) for n in scene.quads}
    for name, quad in scene.quads.items():
        box = scene.box_around([quad], 2 * DEPTH_INSIDE)
        reach[name][box] = scene.inside_box(quad, box)
    for name, quad in scene.quads.items():
        alone = (reach[name] >= DEPTH_INSIDE) & np.logical_and.reduce(
            [reach[n] <= -DEPTH_INSIDE for n in scene.quads if n != name])
        rows, cols = np.nonzero(alone)
        model = scene.hits(quad, cols + 0.5, scene.h - rows - 0.5)[2]
        off = float(abs(depth[rows, cols] / (2 ** bits - 1) - model).max() / step)
        held(off <= DEPTH_STEPS, f"{name}: the depth buffer is the model's depth within {off:.2f} of a step "
                                 f"of {bits - grain} bits, at {len(rows)} pixels")
    print(f"{'FAIL' if failures else 'ok'} the page against GL: {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
