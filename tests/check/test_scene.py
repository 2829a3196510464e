"""The checker's geometry against GL's and GLU's own definitions, written
out here apart from check/scene.py: where the demo's corners land in the
window, which way a rotation turns, the size GLU scales a texture to, the
cells a footprint meets, a pixel's coverage at an edge; and the scene seen
edge-on in any window size. No X, no build."""
import math

import numpy as np
import pytest

from check.look import COLOUR_STEP, coverage
from check.photographs import PHOTOGRAPHS
from check.scene import PROJECT_TINT, Colours, Scene, cells_met, glu_size, look_at, rotate

PHOTO = PHOTOGRAPHS["quadrants"][0]

# gluPerspective(45, 1.333, 1, 1000) and gluLookAt from (0, 0, 600) to the
# origin: the eye looks down -z from z = 600.
F = 1 / math.tan(math.radians(45 / 2))
ASPECT, NEAR, FAR, EYE = 1.333, 1, 1000, 600


def project(x, y, z, w, h):
    """gluProject of an eye-space point: window x, y and depth."""
    z_ndc = (FAR + NEAR) / (FAR - NEAR) + 2 * FAR * NEAR / ((FAR - NEAR) * z)
    return w / 2 * (1 + F / ASPECT * x / -z), h / 2 * (1 + F * y / -z), (z_ndc + 1) / 2


def tiled_eye(a, X, Y):
    """display_CB's tiled quad: glTranslatef(0, 100, 100), glRotatef(-a, 0, 1, 0)."""
    a = math.radians(a)
    return X * math.cos(a), Y + 100, X * math.sin(a) + 100 - EYE


def gradient_eye(a, X, Y):
    """glTranslatef(0, -100, 200), glRotatef(a, 1, 0, 0), glTranslatef(0, -50, 0)."""
    a = math.radians(a)
    return X, (Y - 50) * math.cos(a) - 100, (Y - 50) * math.sin(a) + 200 - EYE


def image_eye(_, X, Y):
    """glTranslatef(-w / 2, -h / 2, 0), the photograph's size in units."""
    return X - PHOTO.width / 2, Y - PHOTO.height / 2, -EYE


@pytest.mark.parametrize("w, h", [(640, 480), (800, 300), (1276, 756)])
@pytest.mark.parametrize("angle", [0, 1, 30, 89, 135, 200, 271, 359])
@pytest.mark.parametrize("name, eye", [("tiled quad", tiled_eye), ("gradient quad", gradient_eye),
                                       ("image quad", image_eye)])
def test_corners_land_where_glu_projects_them(name, eye, angle, w, h):
    scene = Scene(angle, PHOTO, PROJECT_TINT, w, h)
    quad = scene.quads[name]
    got = scene.window(quad.modelview, [(x, y, 0) for x, y in quad.corners])
    want = [project(*eye(angle, x, y), w, h) for x, y in quad.corners]
    np.testing.assert_allclose(got, want, atol=1e-6)


@pytest.mark.parametrize("axis, point, turned", [
    ((0, 0, 1), (1, 0, 0), (0, 1, 0)),  # counter-clockwise, seen from the axis' tip
    ((1, 0, 0), (0, 1, 0), (0, 0, 1)),
    ((0, 1, 0), (0, 0, 1), (1, 0, 0)),
    ((0, 0, 2), (0, 1, 0), (-1, 0, 0)),  # the axis' length does not matter
])
def test_rotate_turns_counter_clockwise(axis, point, turned):
    np.testing.assert_allclose((rotate(90, *axis) @ [*point, 1])[:3], turned, atol=1e-12)


@pytest.mark.parametrize("eye, point, seen", [
    ((0, 0, 600), (0, 0, 0), (0, 0, -600)),
    ((0, 0, 600), (10, 20, 0), (10, 20, -600)),
    ((600, 0, 0), (0, 0, 0), (0, 0, -600)),
    ((600, 0, 0), (0, 0, -10), (10, 0, -600)),  # looking down -x, -z lies to the right
])
def test_look_at_puts_the_centre_straight_ahead(eye, point, seen):
    np.testing.assert_allclose((look_at(eye, (0, 0, 0), (0, 1, 0)) @ [*point, 1])[:3], seen, atol=1e-9)


@pytest.mark.parametrize("n, size", [(1, 1), (2, 2), (3, 4), (5, 4), (6, 8), (7, 8), (11, 8), (12, 16), (31, 32),
                                     (33, 32), (47, 32), (48, 64), (100, 128), (160, 128), (240, 256), (336, 256)])
def test_glu_scales_to_the_nearest_power_of_two(n, size):
    assert glu_size(n) == size


def test_glu_power_of_two_rule_from_1_to_4096():
    """2^k for n below 1.5 x 2^k, 2^(k+1) from there (3 x 2^(k-1) goes up)."""
    for n in range(1, 4097):
        k = n.bit_length() - 1
        assert glu_size(n) == (1 << k if 2 * n < 3 << k else 2 << k), n


CUTS = [1 / 6, 1 / 2, 5 / 6]  # the test photograph's frame and quadrants


@pytest.mark.parametrize("centre, half, met", [
    (0.3, 0.01, [0, 1, 0, 0]),
    (0.5, 0.01, [0, 1, 1, 0]),  # on a cut: both sides
    (1.0, 0.05, [1, 0, 0, 1]),  # across the repeat's boundary: its last cell and the next repeat's first
    (0.0, 0.05, [1, 0, 0, 1]),
    (-0.5, 0.01, [0, 1, 1, 0]),  # a repeat below
    (2.95, 0.02, [0, 0, 0, 1]),
    (0.35, 0.3, [1, 1, 1, 0]),
    (0.5, 0.6, [1, 1, 1, 1]),  # a whole repeat
    (float("nan"), 0.1, [1, 1, 1, 1]),  # no number: anything
])
def test_cells_met_repeat(centre, half, met):
    assert cells_met(np.array([centre]), np.array([half]), CUTS)[0].tolist() == [bool(m) for m in met]


RED = Colours(np.array([[255.0, 0, 0]]), np.array([[255.0, 0, 0]]), np.array([255.0]))
RED_TO_WHITE = Colours(np.array([[255.0, 0, 0]]), np.array([[255.0, 255, 255]]), np.array([255.0]))


@pytest.mark.parametrize("colours, got, share", [
    (RED, (255, 0, 0), 1),
    (RED, (128, 0, 0), 0.5),  # half covered
    (RED, (0, 0, 0), 0),
    (RED_TO_WHITE, (128, 64, 64), 0.5),  # half of a blend the footprint allows
    (RED_TO_WHITE, (128, 128, 128), 0.5),
])
def test_coverage_of_a_pixel_at_an_edge(colours, got, share):
    least, most = coverage(np.array([got], np.float32), colours, np.ones(1))
    assert least[0] <= share <= most[0] and most[0] - least[0] <= 2 * COLOUR_STEP / 255 + 1e-6


@pytest.mark.parametrize("got", [(0, 200, 0), (0, 0, 255)])
def test_a_pixel_in_no_share_of_the_colours_holds_something_else(got):
    for lit in (0.0, 1.0):
        least, most = coverage(np.array([got], np.float32), RED, np.array([lit]))
        assert (least[0], most[0]) == (lit, lit)


@pytest.mark.parametrize("w, h", [(640, 480), (1000, 700)])
def test_samples_within_snap_of_an_edge_may_fall_either_way(w, h):
    """The image quad's left edge, where gluProject puts it: GL snaps
    vertices to 4 bits below the pixel at least, so a sample 0.04 from the
    edge may fall either way (1/16), and one 0.1 from it may not."""
    scene = Scene(30, PHOTO, PROJECT_TINT, w, h)
    x0 = project(*image_eye(0, 0, 0), w, h)[0]
    col, row = int(x0), h // 2
    distances = (0.1, 0.04, -0.04, -0.1)
    sure, maybe = scene.samples(scene.quads["image quad"], np.array([row]), np.array([col]),
                                [(x0 - col + d, 0.5) for d in distances])
    assert sure[:, 0].tolist() == [True, False, False, False]
    assert maybe[:, 0].tolist() == [True, True, True, False]
    x = x0 + np.array([-2, -0.5, 0, 0.3, 2])
    np.testing.assert_allclose(scene.inside(scene.quads["image quad"], x, np.full(5, h / 2)), x - x0, atol=1e-3)


# Angles at which the tiled quad is edge-on, or a degree either side.
EDGE_ON = (89, 90, 91, 269, 270, 271)


@pytest.mark.parametrize("w, h", [(w, h) for w in (300, 800, 1300, 2000) for h in (200, 700, 1200)])
@pytest.mark.parametrize("angle", EDGE_ON)
def test_seen_edge_on_in_any_window_size(angle, w, h):
    """Seen exactly edge-on the tiled quad covers no pixel; a degree off, a
    sliver within its corners. Every pixel a quad covers maps back into
    it, and what it may show there is a blend of its colours."""
    scene = Scene(angle, PHOTO, PROJECT_TINT, w, h)
    for name, quad in scene.quads.items():
        box = scene.box_around([quad], 4)
        r, c = np.nonzero(scene.covers(quad, box))
        x, y = c + box[1].start + 0.5, h - (r + box[0].start) - 0.5
        if name == "tiled quad":
            assert (len(x) == 0) == (angle % 180 == 90)
        p = scene.corners(quad)
        assert ((x >= p[:, 0].min()) & (x <= p[:, 0].max()) & (y >= p[:, 1].min()) & (y <= p[:, 1].max())).all()
        k = max(1, len(x) // 500)  # enough of them, at every part
        x, y = x[::k], y[::k]
        a, b, depth = scene.hits(quad, x, y)
        assert ((a >= 0) & (a <= 1) & (b >= 0) & (b <= 1) & (depth > 0) & (depth < 1)).all()
        lo, hi, _ = scene.colours(quad, x, y)
        own = PHOTO.cells.reshape(-1, 3) * quad.tint if quad.repeats else np.array(quad.colours, float)
        assert (lo <= hi).all() and (lo >= own.min(axis=0) - 1e-6).all() and (hi <= own.max(axis=0) + 1e-6).all()
