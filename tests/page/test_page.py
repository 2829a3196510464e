"""The page's mathematics against GL's own definitions, written out here
apart from page/figures.py: the depth formula and what a step of the
buffer is worth, where perspective puts the tiled quad's seam and how it is
measured back from a frame, which diagonal a gradient shows, the sampler's
bilinear and trilinear arithmetic, what the depth test hides of the box
and what a near plane cuts; and where the page may be written, and that
writing it again changes nothing. No X, no build."""
import math
import os

import numpy as np
import pytest

from check.scene import PROJECT_TINT, Photo, Scene
from page import figures
from page.files import PAGE, PICTURES, TITLE, refused, write
from page.figures import Level, Sample

# gluPerspective(45, 1.333, 1, 1000), the viewport 640 x 480, the eye at z = 600.
F = 1 / math.tan(math.radians(45 / 2))
ASPECT, NEAR, FAR, EYE, W, H = 1.333, 1, 1000, 600, 640, 480
SCENE = Scene(30, Photo(320, 240, [], [], [[(128, 128, 128)]]), PROJECT_TINT)


def project(x, y, z):
    """gluProject of an eye-space point: window x, y and depth."""
    z_ndc = (FAR + NEAR) / (FAR - NEAR) + 2 * FAR * NEAR / ((FAR - NEAR) * z)
    return W / 2 * (1 + F / ASPECT * x / -z), H / 2 * (1 + F * y / -z), (z_ndc + 1) / 2


def tiled_eye(x, y):
    """The tiled quad at frame 30: glTranslatef(0, 100, 100), glRotatef(-30, 0, 1, 0)."""
    a = math.radians(30)
    return x * math.cos(a), y + 100, x * math.sin(a) + 100 - EYE


# ------------------------------------------------------------------ depth


@pytest.mark.parametrize("distance", [1, 2, 10, 375, 600, 800, 999])
def test_the_depth_formula_undoes_the_window_depth(distance):
    d = project(0, 0, -distance)[2]
    assert figures.depth_at(SCENE, distance) == pytest.approx(d, abs=1e-12)
    assert figures.distance_at(d) == pytest.approx(distance, rel=1e-9)


@pytest.mark.parametrize("distance, bits, units", [
    # d'(w) = f n / ((f - n) w^2): a step of 1 / (2^bits - 1) in d, in units of w.
    (600, 24, 600 ** 2 * (FAR - NEAR) / (FAR * NEAR) / (2 ** 24 - 1)),
    (800, 24, 800 ** 2 * (FAR - NEAR) / (FAR * NEAR) / (2 ** 24 - 1)),
    (2, 16, 2 ** 2 * (FAR - NEAR) / (FAR * NEAR) / (2 ** 16 - 1)),
])
def test_a_step_of_the_depth_buffer_in_units(distance, bits, units):
    assert figures.depth_step(SCENE, distance, bits) == pytest.approx(units, rel=1e-3)


@pytest.mark.parametrize("values, bits, grain", [
    ([0x12345600, 0xFFD42A00, 0x00000100], 32, 8),  # a float's 24 bits in a 32-bit buffer
    ([0x123456, 0xFFD42B, 0x7FFFFF], 24, 0),
    ([0x123458, 0xFFD420, 0xFFFFFF, 0], 24, 3),  # the cleared 1 and 0 say nothing
])
def test_how_coarsely_a_renderer_fills_its_depth_buffer(values, bits, grain):
    assert figures.depth_grain(np.array(values, np.uint64), bits) == grain


# ------------------------------------------------------- interpolation


def test_the_seam_where_perspective_puts_it_and_straight_interpolation_would():
    seam = figures.seam(SCENE)
    x0, y0, _ = project(*tiled_eye(0, -50))
    x1, y1, _ = project(*tiled_eye(0, 50))
    corners = [project(*tiled_eye(x, y))[:2] for x, y in ((-50, -50), (50, -50), (50, 50), (-50, 50))]
    assert (seam.x, seam.y0, seam.y1) == pytest.approx((x0, y0, y1), abs=1e-9) and x0 == pytest.approx(x1)
    assert seam.straight_bottom == pytest.approx((corners[0][0] + corners[1][0]) / 2)
    assert seam.straight_top == pytest.approx((corners[2][0] + corners[3][0]) / 2)
    # Halfway on screen along the bottom edge, s / w and 1 / w run straight.
    w0, w1 = -tiled_eye(-50, -50)[2], -tiled_eye(50, -50)[2]
    assert seam.s_at_middle == pytest.approx((2 / w1) / (1 / w0 + 1 / w1))
    assert seam.straight_bottom - seam.x > 2  # what the page is about: pixels apart


def s_frame(straight):
    """A frame whose tiled quad shows s / 2 in red, 8 bits, as GL
    interpolates it (perspective-correct) or as straight interpolation
    across the screen would."""
    frame = np.zeros((H, W, 3), np.uint8)
    quad = SCENE.quads["tiled quad"]
    box = SCENE.box_around([quad], 0)
    rows, cols = np.mgrid[box[0], box[1]]
    x, y = cols + 0.5, H - rows - 0.5
    if straight:  # s runs straight across the screen from the left edge to the right
        p = SCENE.corners(quad)
        left = p[0, 0] + (y - p[0, 1]) / (p[3, 1] - p[0, 1]) * (p[3, 0] - p[0, 0])
        right = p[1, 0] + (y - p[1, 1]) / (p[2, 1] - p[1, 1]) * (p[2, 0] - p[1, 0])
        s = 2 * (x - left) / (right - left)
    else:
        s = figures.st_at(SCENE, quad, x, y)[0]
    frame[rows, cols, 0] = np.clip(np.round(s / 2 * 255), 0, 255)
    return frame


@pytest.mark.parametrize("straight", [False, True])
def test_the_seam_measured_back_from_a_frame_of_s(straight):
    seam = figures.seam(SCENE)
    got = figures.seam_measured(s_frame(straight), SCENE)
    want = seam.straight_bottom if straight else seam.x
    assert len(got) > 90 and abs(got - want).max() < 0.1


@pytest.mark.parametrize("split, fits", [(0, "13"), (1, "24")])
def test_the_crease_a_gradient_shows(split, fits):
    quad = SCENE.quads["gradient quad"]
    rows, cols = np.mgrid[0:H, 0:W]
    colours = SCENE.blends(quad, cols + 0.5, H - rows - 0.5, (split,))[0]
    inside = SCENE.inside(quad, cols + 0.5, H - rows - 0.5) >= 0
    frame = np.where(inside[..., None], np.round(colours), 0).astype(np.uint8)
    c = figures.crease(frame, SCENE)
    good, bad = (c.along_13, c.along_24) if fits == "13" else (c.along_24, c.along_13)
    assert good < 0.5 < 10 < bad
    # The middle of the quad lies on both diagonals: half of G1 and G3, or of G2 and G4.
    middle = {"13": (127.5, 0, 127.5), "24": (127.5, 255, 0)}[fits]
    assert np.allclose(c.shown, middle, atol=8)


# ---------------------------------------------------------------- sampler


def ramp(width, height):
    """A level whose texels hold their own column and row (rows from the
    bottom, as t runs), so that a blend shows where it read."""
    c, r = np.meshgrid(np.arange(width), np.arange(height))
    return np.stack([c, r, np.zeros_like(c)], axis=-1).astype(float)


def lookup(s, t, weights):
    """A lookup at (s, t) blending the 256 x 256 texture's levels as weighed."""
    levels = []
    for k, weight in weights:
        w = 256 >> k
        u, v = s * w, t * w
        levels.append(Level(k, w, w, weight, u, v, math.floor(u - 0.5), math.floor(v - 0.5),
                            u - 0.5 - math.floor(u - 0.5), v - 0.5 - math.floor(v - 0.5)))
    return Sample((0, 0), (0, 0), s, t, 0, 0, 0, 0, 1, 1, 0, levels, None, None, None)


@pytest.mark.parametrize("s, t, k, want", [
    (0.25, 0.5, 0, (63.5, 127.5)),  # at the centre of texel (64, 128): u - 1/2 = 63.5 ... read as the ramp
    (0.2, 0.3, 2, (0.2 * 64 - 0.5, 0.3 * 64 - 0.5)),  # between texel centres: bilinear is the ramp itself
    (1.25, 2.5, 1, (1.25 * 128 - 0.5 - 128, 2.5 * 128 - 0.5 - 256)),  # GL_REPEAT: a copy further on reads the same
])
def test_bilinear_reads_the_texels_around_the_point(s, t, k, want):
    levels = [ramp(256 >> j, 256 >> j) for j in range(9)]
    got = figures.filtered(levels, lookup(s, t, [(k, 1.0)]), (1, 1, 1))
    assert got[:2] == pytest.approx(want)


def test_trilinear_blends_two_levels_by_their_weights():
    levels = [np.full((256 >> k, 256 >> k, 3), 10.0 * k) for k in range(9)]
    got = figures.filtered(levels, lookup(0.3, 0.7, [(2, 0.57), (3, 0.43)]), PROJECT_TINT)
    assert got == pytest.approx(np.array(PROJECT_TINT) * (0.57 * 20 + 0.43 * 30))


@pytest.mark.parametrize("name, point", [("tiled quad", figures.TILED_POINT), ("image quad", (80, 108))])
def test_a_pixels_outline_in_the_texture_and_its_level(name, point):
    look = figures.sample(SCENE, SCENE.quads[name], point)
    # The pixel's sides in texels of level 0, and rho: the same steps, the
    # one from corner to corner, the other from centre to centre.
    assert look.sides == pytest.approx((look.rho_x, look.rho_y), rel=0.02)
    assert look.lam == pytest.approx(math.log2(max(look.rho_x, look.rho_y)))
    assert sum(lv.weight for lv in look.levels) == pytest.approx(1)
    assert [lv.k for lv in look.levels] == [math.floor(look.lam), math.floor(look.lam) + 1]
    s0, s1, t0, t1 = look.tolerance  # the checker's: it holds the pixel's whole outline
    assert (s0 <= look.outline[:, 0]).all() and (look.outline[:, 0] <= s1).all()
    assert (t0 <= look.outline[:, 1]).all() and (look.outline[:, 1] <= t1).all()


# ---------------------------------------------------------- depth test


def box_window(x, y, z):
    """A point of the box (glScalef(400, 300, 400)) in the window."""
    return project(400 * x, 300 * y, 400 * z - EYE)


def test_what_the_image_quad_hides_of_a_front_to_back_edge():
    # The top left edge, from (-0.5, 0.5, 0.5) to (-0.5, 0.5, -0.5): hidden
    # from where it crosses the image quad's left side (x = -160 at z = -600,
    # on screen) to its far end, which lies behind the photograph.
    left = project(-160, 0, -600)[0]
    near, far = box_window(-0.5, 0.5, 0.5), box_window(-0.5, 0.5, -0.5)
    eye_z = lambda k: -(400 + 400 * k)
    k = next(k for k in np.linspace(0, 1, 100001) if project(-200, 150, eye_z(k))[0] >= left)
    enter = project(-200, 150, eye_z(k))
    hidden = math.hypot(far[0] - enter[0], far[1] - enter[1])
    length = math.hypot(far[0] - near[0], far[1] - near[1])
    edge = next(e for e in figures.hidden_edges(SCENE) if e.name == "top left")
    assert edge.length == pytest.approx(length, rel=1e-4)
    assert edge.hidden == {"image quad": pytest.approx(hidden, abs=0.01)}
    assert edge.space == pytest.approx(1 - k, abs=1e-3)
    assert edge.hidden["image quad"] / edge.length < edge.space  # the far end is shortened on screen


def test_what_a_near_plane_at_500_cuts():
    objs = figures.objects(SCENE, 320, 240)
    cut = figures.near_cut(SCENE, objs, 500)
    # The tiled quad's eye z is -500 at its own x = 0, on screen x = 320.
    assert cut.tiled_x == pytest.approx(project(*tiled_eye(0, -50))[0])
    assert cut.gone == ["gradient quad"]  # 375 to 425 units away
    assert sorted(cut.box_gone) == ["front bottom", "front left", "front right", "front top"]
    starts = {name: tuple(p) for name, p in cut.box_starts}
    # Each front-to-back edge from z = -400 to -800 crosses -500 a quarter of the way.
    assert starts["top left"] == pytest.approx(project(-200, 150, -500)[:2])
    assert starts["bottom right"] == pytest.approx(project(200, -150, -500)[:2])
    assert len(starts) == 4


# ------------------------------------------------------------------ files


def make(tmp_path, what):
    """A folder for --out as a table row names it."""
    out = tmp_path / "out"
    if what == "missing":
        return out
    if what == "a file":
        out.write_text("mine")
        return out
    if what == "a link to an empty folder":
        (tmp_path / "real").mkdir()
        out.symlink_to(tmp_path / "real")
        return out
    out.mkdir()
    if what == "a page of this command's":
        (out / PAGE).write_text(TITLE + "\n")
    elif what == "a file of the user's":
        (out / "notes.txt").write_text("mine")
    elif what == "a file bearing the page's name":
        (out / PAGE).write_text("mine\n")
    elif what == "a page whose pictures are a file":
        (out / PAGE).write_text(TITLE + "\n")
        (out / PICTURES).write_text("mine")
    return out


@pytest.mark.parametrize("what, why", [
    ("missing", None), ("empty", None), ("a page of this command's", None),
    ("a file", "is not a folder"), ("a link to an empty folder", "is not a folder"),
    ("a file of the user's", "is not empty"), ("a file bearing the page's name", "is not empty"),
    ("a page whose pictures are a file", "which is not a folder"),
])
def test_where_the_page_may_go(tmp_path, what, why):
    got = refused(str(make(tmp_path, what)), str(tmp_path / "docs"))
    assert (got is None) if why is None else (why in got)


def test_the_projects_docs_folder_takes_the_page(tmp_path):
    docs = tmp_path / "docs"
    docs.mkdir()
    (docs / "other.md").write_text("the project's")
    assert refused(str(docs), str(docs)) is None


def test_written_again_the_page_changes_nothing_and_drops_only_its_own_old_pictures(tmp_path):
    out = tmp_path / "out"
    text = TITLE + "\n![a](picture/a.png) ![b](picture/b.png)\n"
    assert sorted(write(str(out), text, {"a.png": b"A", "b.png": b"B"})) == [PAGE, "picture/a.png", "picture/b.png"]
    (out / PICTURES / "mine.png").write_bytes(b"mine")
    stamps = {p: os.stat(out / p).st_mtime_ns for p in (PAGE, "picture/a.png")}
    assert write(str(out), text, {"a.png": b"A", "b.png": b"B"}) == []
    assert {p: os.stat(out / p).st_mtime_ns for p in stamps} == stamps
    # A page that no longer names b.png: it goes; the user's picture stays.
    changed = write(str(out), TITLE + "\n![a](picture/a.png)\n", {"a.png": b"A2"})
    assert sorted(changed) == [PAGE, "picture/a.png", "picture/b.png"]
    assert sorted(os.listdir(out / PICTURES)) == ["a.png", "mine.png"]
    assert (out / PICTURES / "a.png").read_bytes() == b"A2" and not list(out.glob(".part-*"))
