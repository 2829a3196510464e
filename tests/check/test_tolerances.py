"""Each tolerance of the table (check/tolerances.py) at its edge: a correct
frame drawn here from the scene's picture, changed by just less than the
tolerance allows, passes; changed by just more, it fails, on the check the
tolerance belongs to. No X, no build."""
import functools
import types

import numpy as np
import pytest

from check import frame, model, tolerances as T
from check.checks import BOX, CLEAR_CHECK, COLOUR_GRID, IMAGE_COLOURS
from check.frame import check_frame
from check.photographs import PHOTOGRAPHS
from check.look import Look
from check.picture import line_offsets, reference_at, render, segments
from check.scene import PROJECT_TINT, Scene

ANGLE = 30
SCENE = Scene(ANGLE, PHOTOGRAPHS["quadrants"][0], PROJECT_TINT, 320, 240)


@functools.lru_cache(maxsize=None)
def picture():
    """The correct frame, and which object each pixel shows: (h, w, 3) and
    (h, w)."""
    rows, cols = np.mgrid[:SCENE.h, :SCENE.w]
    ref = reference_at(SCENE, cols.ravel() + 0.5, SCENE.h - rows.ravel() - 0.5, colours=False)
    return render(SCENE), ref.objects.reshape(SCENE.h, SCENE.w), ref.edge.reshape(SCENE.h, SCENE.w)


def failing(pixels):
    """The checks that fail on a frame of these pixels."""
    frame.LATEST.clear()
    frame.SEEN.clear()
    f = types.SimpleNamespace(pixels=np.clip(pixels, 0, 255).astype(np.uint8), w=SCENE.w, h=SCENE.h, number=ANGLE,
                              positions=[(0.5, 0.5)], samples=0)
    return {r.check for r in check_frame(f, SCENE) if r.problem or r.error}


def image(share=1.0):
    """The image quad's pixels away from its edges (every one, or a share of
    them spread over it), as a mask."""
    pixels, objects, edge = picture()
    mask = (objects == 3) & ~edge
    keep = np.zeros(mask.sum(), bool)
    keep[np.round(np.linspace(0, len(keep) - 1, int(round(share * len(keep))))).astype(int)] = True
    out = np.zeros_like(mask)
    out[mask] = keep
    return out


def shifted(d, mask, sign=None):
    """The picture with every channel moved d levels at the mask's pixels, up
    where there is room, or by `sign` (+1 or -1 a pixel)."""
    pixels = picture()[0].astype(int)
    room = np.where(pixels <= 255 - abs(d), 1, -1)
    step = room if sign is None else sign[..., None]
    pixels[mask] += (d * step)[mask]
    return pixels


def checkerboard(shape):
    rows, cols = np.indices(shape)
    return np.where((rows + cols) % 2, 1, -1)


def levels_off(d):  # each point off by d, the cells' means unmoved
    return failing(shifted(d, image(), checkerboard(picture()[1].shape)))


def mean_off(d):  # every point of the image quad off by d alike
    return failing(shifted(d, image()))


def black(level):  # the window where nothing is drawn
    pixels, objects, edge = picture()
    pixels = pixels.astype(int)
    pixels[(objects == 0) & ~edge] = level
    return failing(pixels)


def few(n):  # n lit points where nothing is drawn, on the clear colour's grid
    pixels = picture()[0].astype(int)
    clear = Look(types.SimpleNamespace(pixels=picture()[0], positions=[(0.5, 0.5)]), SCENE).clear
    rows, cols = np.nonzero(clear[::COLOUR_GRID, ::COLOUR_GRID])
    pick = np.linspace(0, len(rows) - 1, n).astype(int)
    pixels[rows[pick] * COLOUR_GRID, cols[pick] * COLOUR_GRID] = 255
    return failing(pixels)


def misses(share):  # a share of the image quad's points off beyond LEVELS_OFF, means kept
    d = T.LEVELS_OFF + 10
    return failing(shifted(d, image(share), checkerboard(picture()[1].shape)))


def line_slack(width):  # the box's lines drawn `width` pixels wide across their shorter axis
    pixels, objects, _ = picture()
    pixels = pixels.astype(int)
    rows, cols = np.mgrid[:SCENE.h, :SCENE.w]
    x, y = cols.ravel() + 0.5, SCENE.h - rows.ravel() - 0.5
    for ends in segments(SCENE):
        offset = line_offsets(ends, x, y)[0].reshape(rows.shape)
        pixels[(offset >= -0.5) & (offset < width - 0.5) & (objects == 0)] = (0, 255, 0)
    return failing(pixels)


def edge_shown(share):  # the front bottom edge's line painted out over a share of its length
    pixels, objects, _ = picture()
    pixels = pixels.astype(int)
    _, a, b = SCENE.box()[0]
    (x0, y0), (x1, _) = SCENE.window(SCENE.BOX, [a, b])[:, :2]
    row = int(SCENE.h - y0)
    cut = int(x0 + (1 - share) * (x1 - x0))
    pixels[row - 2:row + 3, cut:int(x1) + 2] = 0
    return failing(pixels)


def moves(d):  # mid levels moved up to d, black and white kept: a map of every colour, or none
    levels = np.arange(256)
    curve = np.round(levels + d * np.sin(np.pi * levels / 255)).astype(np.uint8)
    points = model.grid(curve[picture()[0]])
    ident = reference_at(SCENE, points.x, points.y)
    return {c.kind for c in model.colour_causes(SCENE, ident, points)}


def curve_squeeze(g):  # decoded with a gamma of g: 0 and 64 shown 255 (64 / 255) ** g apart; undone, or colours lost
    curve = np.round(255 * (np.arange(256) / 255) ** g).astype(np.uint8)
    points = model.grid(curve[picture()[0]])
    found = {c.kind for c in model.colour_causes(SCENE, reference_at(SCENE, points.x, points.y), points)}
    return set() if "colours" in found else {"lost"}


# name, the probe, the value just inside the tolerance and just beyond it,
# and what the probe gives beyond it (a check that fails, or a cause).
EDGES = [
    ("LEVELS_OFF", levels_off, T.LEVELS_OFF - 2, T.LEVELS_OFF + 4, IMAGE_COLOURS),
    ("MEAN_OFF", mean_off, T.MEAN_OFF - 2, T.MEAN_OFF + 3, IMAGE_COLOURS),
    ("BLACK", black, T.BLACK, T.BLACK + 2, CLEAR_CHECK),
    ("FEW", few, T.FEW - 1, T.FEW, CLEAR_CHECK),
    ("MISSES", misses, T.MISSES - 0.03, T.MISSES + 0.05, IMAGE_COLOURS),
    ("LINE_SLACK", line_slack, 2, 3, BOX),  # a line 1 wider passes, 2 wider fails
    ("EDGE_SHOWN", edge_shown, T.EDGE_SHOWN - 0.15, T.EDGE_SHOWN + 0.15, BOX),
    ("MOVES", moves, T.MOVES - 5, T.MOVES + 8, "colours"),
    ("CURVE_SQUEEZE", curve_squeeze, 3.0, 3.8, "lost"),  # 4 levels of 64 apart, then 1
]


@pytest.mark.parametrize("name, probe, inside, beyond, fails", EDGES, ids=[e[0] for e in EDGES])
def test_a_tolerance_at_its_edge(name, probe, inside, beyond, fails):
    assert not probe(inside), f"{name}: {inside} should pass"
    assert fails in probe(beyond), f"{name}: {beyond} should fail {fails}"


def test_the_correct_frame_passes():
    assert failing(picture()[0]) == set()
