"""The page's numbers: frame 30 followed through GL's pipeline with the
checker's model of the scene (check.scene), step by step, as pure
functions. What GL itself drew or read back comes in as arrays (a frame:
rows x columns x 3, top row first; a texture level: rows x columns x 3,
bottom row first, as t runs; a depth buffer: rows x columns of the
buffer's integers, top row first) and is measured here, never assumed.

Window coordinates are GL's: x from the left, y from the bottom, pixel
(c, r) centred on (c + 0.5, r + 0.5)."""
import math
from typing import NamedTuple

import numpy as np

from check.scene import CAMERA, PROJECTION, Scene, glu_size, rotate, scale, translate

FRAME = 30
# The calls that build each matrix, as src/demo.cpp makes them (each must
# appear there word for word), and gluPerspective's arguments.
LOOK_AT = "gluLookAt(0, 0, 600, 0, 0, 0, 0, 1, 0)"
PERSPECTIVE = "gluPerspective(45, 1.333, 1, 1000)"
FOVY, ASPECT, NEAR, FAR = 45, 1.333, 1, 1000
EYE_Z = 600
IMAGE_SHIFT = "glTranslatef(static_cast<float>(-w / 2.0), static_cast<float>(-h / 2.0), 0)"
VIEWPORT = "glViewport(0, 0, 640, 480)"
# Where the page's own steps and the model's functions reach a number two
# ways (a matrix, window coordinates), they may differ by float rounding:
# this much, far below the decimals the page shows.
SAME = 1e-9
# Points along each box edge at which the depth test is followed.
EDGE_POINTS = 4000
# A pixel centre this far inside a quad's outline, in pixels, is surely
# the quad's: GL snaps vertices to 1/16 of a pixel or finer.
SNAP = 1 / 16
# The pixels whose texture lookups the page follows: one on a copy of the
# photograph on the tiled quad, one on the image quad where the photograph
# changes fast (its horizon), as object points (x, y) of each quad.
TILED_POINT, IMAGE_POINT = (-25, 25), (0.25, 0.45)  # the image quad's as fractions of its size
# Where the gradient's colours are compared with the frame: pixel centres
# at least this far inside its outline, clear of its edges' blending.
INSIDE = 1.5
# The seam is fitted on the pixels of each row at least this far inside the
# tiled quad's outline, on rows where they span this many pixels (the
# quad's top and bottom edges slope: rows there hold a part of it only).
SEAM_INSIDE, SEAM_SPAN = 3, 80
# The sun in the photograph: its pixels are brighter than this in every
# channel, and it lies above the horizon (the upper part of the photograph).
SUN_LEAST, SUN_ABOVE = (245, 225, 150), 0.55
# The wire box's green as drawn (glColor3d(0, 1, 0)): a pixel is the box's
# where green is at least this and red and blue at most the other.
BOX_GREEN, BOX_OTHER = 200, 60


class Object(NamedTuple):
    """One object of the scene as the page follows it: its label letter, the
    calls that build its modelview and each one's matrix (4 x 4), the
    modelview, and its corners (n x 3, object units) in drawing order."""
    name: str
    letter: str
    calls: list
    modelview: np.ndarray
    corners: np.ndarray


def product(matrices):
    out = np.eye(4)
    for m in matrices:
        out = out @ m
    return out


def box_corners():
    """The box's corners in the order its edges first reach them (n x 3)."""
    out = []
    for _, a, b in Scene.box():
        for p in (a, b):
            if p not in out:
                out.append(p)
    return np.array(out, float)


def objects(scene, width, height):
    """The four objects of the scene (at its angle, with a photograph of
    width x height), their modelviews built call by call and held against
    the model's own."""
    angle, q = scene.angle, scene.quads
    flat = lambda quad: np.array([(x, y, 0) for x, y in quad.corners], float)
    out = [
        Object("tiled quad", "T", [(LOOK_AT, CAMERA), ("glTranslatef(0, 100, 100)", translate(0, 100, 100)),
                                   ("glRotatef(-angle, 0, 1, 0)", rotate(-angle, 0, 1, 0))],
               q["tiled quad"].modelview, flat(q["tiled quad"])),
        Object("gradient quad", "G", [(LOOK_AT, CAMERA), ("glTranslatef(0, -100, 200)", translate(0, -100, 200)),
                                      ("glRotatef(angle, 1, 0, 0)", rotate(angle, 1, 0, 0)),
                                      ("glTranslatef(0, -50, 0)", translate(0, -50, 0))],
               q["gradient quad"].modelview, flat(q["gradient quad"])),
        Object("image quad", "I", [(LOOK_AT, CAMERA),
                                   (IMAGE_SHIFT, translate(np.float32(-width / 2.0), np.float32(-height / 2.0), 0))],
               q["image quad"].modelview, flat(q["image quad"])),
        Object("wire box", "B", [(LOOK_AT, CAMERA), ("glScalef(400, 300, 400)", scale(400, 300, 400))],
               Scene.BOX, box_corners()),
    ]
    for o in out:
        if not np.allclose(product(m for _, m in o.calls), o.modelview, rtol=0, atol=SAME):
            raise AssertionError(f"the {o.name}'s calls do not make the model's modelview")
    return out


def source_calls(source, objs):
    """The calls the page names that src/demo.cpp does not make: []."""
    named = [PERSPECTIVE, VIEWPORT] + [c for o in objs for c, _ in o.calls]
    return [c for c in named if c not in source]


def projection_terms():
    """gluPerspective's terms as the page explains them, held against the
    model's projection: (f = 1 / tan(fovy / 2), f / aspect)."""
    f = 1 / math.tan(math.radians(FOVY / 2))
    if not (math.isclose(PROJECTION[1, 1], f, abs_tol=SAME) and math.isclose(PROJECTION[0, 0], f / ASPECT,
                                                                               abs_tol=SAME)):
        raise AssertionError(f"the model's projection is not {PERSPECTIVE}")
    return f, f / ASPECT


class Corner(NamedTuple):
    """One corner through the pipeline: object, eye and clip coordinates,
    normalised device coordinates, window x, y and depth, and its distance
    from the eye."""
    label: str
    point: np.ndarray
    eye: np.ndarray
    clip: np.ndarray
    ndc: np.ndarray
    window: np.ndarray

    @property
    def distance(self):
        return float(np.linalg.norm(self.eye[:3]))


def corners(scene, o):
    """The object's corners through the model's matrices; the window
    coordinates are the model's own (Scene.window), held against the steps."""
    points = np.column_stack([o.corners, np.ones(len(o.corners))])
    eye = points @ o.modelview.T
    clip = eye @ PROJECTION.T
    ndc = clip[:, :3] / clip[:, 3:]
    window = scene.window(o.modelview, o.corners)
    if not np.allclose((ndc + 1) / 2 * [scene.w, scene.h, 1], window, rtol=0, atol=SAME):
        raise AssertionError(f"the {o.name}'s corners: the steps do not make the model's window coordinates")
    return [Corner(f"{o.letter}{i}", *rows) for i, rows in enumerate(zip(o.corners, eye, clip, ndc, window), 1)]


def clip_reach(cs):
    """How near the corners come to clipping: the largest |x| / w and |y| /
    w (1 is the window's edge), and the least and largest z / w (-1 is the
    near plane, 1 the far), over all corners (every corner of the scene)."""
    clip = np.array([c.clip for c in cs])
    ratio = clip[:, :3] / clip[:, 3:]
    return float(abs(ratio[:, 0]).max()), float(abs(ratio[:, 1]).max()), float(ratio[:, 2].min()), \
        float(ratio[:, 2].max())


# ------------------------------------------------------------------ depth


def depth_at(scene, distance):
    """The window depth of a point `distance` units in front of the eye,
    along the view axis."""
    return float(scene.window(np.eye(4), [(0, 0, -distance)])[0, 2])


def distance_at(depth, near=NEAR, far=FAR):
    """The distance along the view axis whose window depth is `depth`: the
    window depth d = far (w - near) / ((far - near) w) undone."""
    return far * near / (far - depth * (far - near))


def depth_step(scene, distance, bits):
    """How far along the view axis one step of a `bits`-bit depth buffer
    reaches at `distance`: units."""
    d = depth_at(scene, distance)
    if not math.isclose(distance_at(d), distance, rel_tol=1e-9):
        raise AssertionError("the depth formula does not undo the model's window depth")
    return distance_at(d + 1 / (2 ** bits - 1)) - distance


def depth_grain(values, bits):
    """How coarsely a renderer fills its depth buffer: the bits at the low end
    that are 0 in every depth it holds (an array of its integers), the
    cleared 1 and 0 left out. A renderer that works depth out as a 32-bit
    float fills a 32-bit buffer to 24 bits' worth near 1."""
    held = values[(values > 0) & (values < 2 ** bits - 1)].astype(np.uint64)
    grain = 0
    while grain < bits and len(held) and not (held & np.uint64((1 << (grain + 1)) - 1)).any():
        grain += 1
    return grain


# ------------------------------------------------------- the division by w


def trapezoid(cs):
    """The tiled quad's left and right edges on screen, in pixels: T1-T4 and
    T2-T3, as its corners lie (T1, T2, T3, T4)."""
    return float(cs[3].window[1] - cs[0].window[1]), float(cs[2].window[1] - cs[1].window[1])


# -------------------------------------------------------- interpolation


class Seam(NamedTuple):
    """Where the tiled quad's copies meet across (s = 1, its object x = 0)
    on screen, and where interpolating straight across the screen would put
    it: the middles of its bottom and top edges; and the s that such
    interpolation gives at those middles, where GL's is less."""
    x: float
    y0: float
    y1: float
    straight_bottom: float
    straight_top: float
    s_at_middle: float


def seam(scene):
    quad = scene.quads["tiled quad"]
    (x0, y0), (x1, y1) = scene.window(quad.modelview, [(0, -50, 0), (0, 50, 0)])[:, :2]
    if not math.isclose(x0, x1, abs_tol=SAME):
        raise AssertionError("the tiled quad's seam is not upright on screen")
    p = scene.corners(quad)
    # Perspective-correct interpolation along an edge at its screen middle:
    # s / w and 1 / w are what run straight across the screen.
    w = (PROJECTION @ quad.modelview @ np.array([[-50, 50, 50, -50], [-50, -50, 50, 50], [0] * 4, [1] * 4]))[3]
    s = np.array([0, 1, 1, 0]) * quad.repeats
    s_mid = (s[0] / w[0] + s[1] / w[1]) / (1 / w[0] + 1 / w[1])
    return Seam(float(x0), float(y0), float(y1), float((p[0, 0] + p[1, 0]) / 2), float((p[2, 0] + p[3, 0]) / 2),
                float(s_mid))


def seam_measured(frame_pixels, scene):
    """Where s = 1 lies in a frame whose fragment program shows s / 2 in red
    (the "Try it" that shows the texture coordinates): on each row well
    inside the tiled quad, the red values turned back into s and fitted
    with s = (a x + b) / (c x + 1), the form perspective-correct
    interpolation takes along a row, then solved for s = 1. Returns the
    rows' solutions (an array of window x)."""
    quad = scene.quads["tiled quad"]
    xs = np.arange(scene.w) + 0.5
    out = []
    for row in range(scene.h):
        y = scene.h - row - 0.5
        inside = scene.inside(quad, xs, np.full_like(xs, y)) >= SEAM_INSIDE
        if not inside.any() or np.ptp(xs[inside]) < SEAM_SPAN:
            continue
        # x from the window's middle keeps the fit well conditioned.
        x, s = xs[inside] - scene.w / 2, frame_pixels[row, inside, 0] / 255 * 2
        (a, b, c), *_ = np.linalg.lstsq(np.column_stack([x, np.ones_like(x), -x * s]), s, rcond=None)
        out.append(scene.w / 2 + (1 - b) / (a - c))
    return np.array(out)


class Crease(NamedTuple):
    """How the gradient quad's colours fit each way of splitting it into two
    triangles: the mean difference of the frame from the model's colours,
    0..255 a channel, split along G1-G3 and along G2-G4; and at the pixel
    under the quad's middle, the frame's colour and each split's."""
    along_13: float
    along_24: float
    pixel: tuple
    shown: tuple
    model_13: tuple
    model_24: tuple


def crease(frame_pixels, scene):
    quad = scene.quads["gradient quad"]
    box = scene.box_around([quad], 0)
    inside = scene.inside_box(quad, box) >= INSIDE
    rows, cols = np.nonzero(inside)
    rows, cols = rows + box[0].start, cols + box[1].start
    x, y = cols + 0.5, scene.h - rows - 0.5
    got = frame_pixels[rows, cols].astype(float)
    split_13, split_24 = scene.blends(quad, x, y)
    middle = scene.window(quad.modelview, [(0, 50, 0)])[0]
    px, py = int(middle[0]), int(middle[1])
    m13, m24 = (b[0] for b in scene.blends(quad, np.array([px + 0.5]), np.array([py + 0.5])))
    return Crease(float(abs(got - split_13).mean()), float(abs(got - split_24).mean()), (px, py),
                  tuple(int(v) for v in frame_pixels[scene.h - 1 - py, px]), tuple(m13), tuple(m24))


# ------------------------------------------------------------- fragments


class Fragments(NamedTuple):
    """The fragments GL makes of each quad at frame 30: pixel centres its
    outline covers (by name), those of the image quad where the tiled or the
    gradient quad, nearer, drew first, and how many centres lie so near an
    edge (within SNAP) that GL's snapping may count them either way."""
    covered: dict
    overlap: int
    unsure: dict


def fragments(scene):
    covered, unsure = {}, {}
    masks = {}
    for name, quad in scene.quads.items():
        box = scene.box_around([quad], 1)
        d = scene.inside_box(quad, box)
        mask = np.zeros((scene.h, scene.w), bool)
        mask[box] = d >= 0
        masks[name] = mask
        covered[name] = int(mask.sum())
        unsure[name] = int((abs(d) < SNAP).sum())
    overlap = int((masks["image quad"] & (masks["tiled quad"] | masks["gradient quad"])).sum())
    return Fragments(covered, overlap, unsure)


# -------------------------------------------------------------- the texture


class Level(NamedTuple):
    """One level a lookup reads: its number, its size, its weight in the
    blend, the point in its texels (u, v from the bottom left, before the
    repeat), the first of the 2 x 2 texels that bilinear filtering blends
    (i0, j0 = floor(u - 1/2), floor(v - 1/2), before the repeat) and the
    fractions (alpha, beta) that weigh them."""
    k: int
    width: int
    height: int
    weight: float
    u: float
    v: float
    i0: int
    j0: int
    alpha: float
    beta: float


class Sample(NamedTuple):
    """A texture lookup at one pixel as GL 2.0 writes it out: the pixel, the
    2 x 2 block it is shaded in (its bottom-left pixel), s and t at its
    centre; the differences of u = s w0 and v = t h0 (texels of level 0)
    between the block's columns on the pixel's row and between its rows
    on the pixel's column; rho across and up, rho, lambda = log2(rho); the
    levels blended; the pixel's outline in the texture (4 x 2: s, t of its
    corners from the bottom left, counter-clockwise) and its sides' lengths
    in texels of level 0; and the checker's tolerance (s0, s1, t0, t1)."""
    pixel: tuple
    block: tuple
    s: float
    t: float
    dudx: float
    dvdx: float
    dudy: float
    dvdy: float
    rho_x: float
    rho_y: float
    lam: float
    levels: list
    outline: np.ndarray
    sides: tuple
    tolerance: tuple

    @property
    def rho(self):
        return max(self.rho_x, self.rho_y)


def st_at(scene, quad, x, y):
    """s and t at window points x, y (arrays): perspective-correct, as the
    model's texture_coordinates give them."""
    (s, *_), (t, *_) = scene.texture_coordinates(quad, np.asarray(x, float), np.asarray(y, float))
    return s, t


def sample(scene, quad, point):
    """The lookup at the pixel under the quad's object point (x, y)."""
    wx, wy, _ = scene.window(quad.modelview, [(point[0], point[1], 0)])[0]
    px, py = int(math.floor(wx)), int(math.floor(wy))
    bx, by = px - px % 2, py - py % 2
    w0, h0 = glu_size(scene.texture.width), glu_size(scene.texture.height)
    s, t = st_at(scene, quad, [px + 0.5, bx + 0.5, bx + 1.5, px + 0.5, px + 0.5],
                 [py + 0.5, py + 0.5, py + 0.5, by + 0.5, by + 1.5])
    dudx, dvdx = (s[2] - s[1]) * w0, (t[2] - t[1]) * h0
    dudy, dvdy = (s[4] - s[3]) * w0, (t[4] - t[3]) * h0
    rho_x, rho_y = math.hypot(dudx, dvdx), math.hypot(dudy, dvdy)
    lam = math.log2(max(rho_x, rho_y))
    top = int(round(math.log2(max(w0, h0))))
    if lam <= 0:  # magnified: GL_LINEAR on level 0
        weights = [(0, 1.0)]
    elif lam >= top:
        weights = [(top, 1.0)]
    else:
        k = int(math.floor(lam))
        weights = [(k, 1 - (lam - k)), (k + 1, lam - k)]
    levels = []
    for k, weight in weights:
        w, h = max(1, w0 >> k), max(1, h0 >> k)
        u, v = float(s[0]) * w, float(t[0]) * h
        i0, j0 = math.floor(u - 0.5), math.floor(v - 0.5)
        levels.append(Level(k, w, h, weight, u, v, i0, j0, u - 0.5 - i0, v - 0.5 - j0))
    a, b, _ = scene.hits(quad, np.array([px, px + 1, px + 1, px], float), np.array([py, py, py + 1, py + 1], float))
    outline = np.column_stack([a, b]) * quad.repeats
    sides = (math.hypot((outline[1, 0] - outline[0, 0]) * w0, (outline[1, 1] - outline[0, 1]) * h0),
             math.hypot((outline[3, 0] - outline[0, 0]) * w0, (outline[3, 1] - outline[0, 1]) * h0))
    _, _, sc, tc, hs, ht = scene.lookup(quad, np.array([px + 0.5]), np.array([py + 0.5]))
    tolerance = (float(sc[0] - hs[0]), float(sc[0] + hs[0]), float(tc[0] - ht[0]), float(tc[0] + ht[0]))
    return Sample((px, py), (bx, by), float(s[0]), float(t[0]), dudx, dvdx, dudy, dvdy, rho_x, rho_y, lam, levels,
                  outline, sides, tolerance)


def filtered(levels, look, tint):
    """The colour GL_LINEAR_MIPMAP_LINEAR gives the lookup from the texture's
    levels as GL holds them (rows from the bottom), tinted: (3,) floats,
    0..255, before rounding."""
    out = np.zeros(3)
    for lv in look.levels:
        texels = levels[lv.k].astype(float)
        rows, cols = np.array([lv.j0, lv.j0 + 1]) % lv.height, np.array([lv.i0, lv.i0 + 1]) % lv.width
        t = texels[np.ix_(rows, cols)]  # [row, column, channel]
        out += lv.weight * ((1 - lv.beta) * ((1 - lv.alpha) * t[0, 0] + lv.alpha * t[0, 1])
                            + lv.beta * ((1 - lv.alpha) * t[1, 0] + lv.alpha * t[1, 1]))
    return out * np.array(tint)


def tolerance_reach(look, w0):
    """The coarsest level whose 2 x 2 texels the checker's tolerance is wide
    enough to hold across, and its width in texels of level 0."""
    width = (look.tolerance[1] - look.tolerance[0]) * w0
    return int(math.floor(math.log2(width / 2))), width


def sun(pixels):
    """The sun in a picture (rows x columns x 3, top row first): the width
    and height of the bright disc above the horizon, in pixels."""
    top = pixels[:int(len(pixels) * SUN_ABOVE)]
    bright = (top >= np.array(SUN_LEAST)).all(axis=-1)
    rows, cols = np.nonzero(bright)
    if not len(rows):
        return 0, 0
    return int(cols.max() - cols.min() + 1), int(rows.max() - rows.min() + 1)


# ---------------------------------------------------------------- hidden


class Hidden(NamedTuple):
    """A box edge at frame 30: its name, its length on screen (pixels, the
    part within the window), and what the depth test hides of it: on
    screen, by quad (pixels), and the share of its length in space; and its
    hidden stretches (window points from end to end, by quad)."""
    name: str
    length: float
    hidden: dict
    space: float
    stretches: list


def hidden_edges(scene):
    """Each box edge followed at EDGE_POINTS steps: where a quad covers a
    step's middle nearer than the edge (window depth), the depth test hides
    it; on screen each step is as long as its ends lie apart there."""
    out = []
    t = np.linspace(0, 1, EDGE_POINTS + 1)
    for name, a, b in scene.box():
        ends = scene.window(scene.BOX, np.outer(1 - t, a) + np.outer(t, b))
        steps = np.hypot(*np.diff(ends[:, :2], axis=0).T)
        x, y, z = ((ends[1:] + ends[:-1]) / 2).T
        seen = (x >= 0) & (x < scene.w) & (y >= 0) & (y < scene.h)
        depths = []
        for q in scene.quads.values():
            depth = scene.hits(q, x, y)[2]
            with np.errstate(invalid="ignore"):
                depths.append(np.where((scene.inside(q, x, y) >= 0) & (depth < z) & seen, depth, np.inf))
        depths = np.array(depths)
        names = np.array(list(scene.quads), object)
        by = np.where(np.isfinite(depths.min(axis=0)), names[depths.argmin(axis=0)], None)
        hidden = {n: float(steps[by == n].sum()) for n in scene.quads if (by == n).any()}
        stretches = []
        for n in hidden:
            k = np.flatnonzero(np.diff(np.concatenate(([0], (by == n).astype(int), [0]))))
            stretches += [(n, ends[i0:i1 + 1, :2]) for i0, i1 in zip(k[::2], k[1::2])]
        out.append(Hidden(name, float(steps[seen].sum()), hidden, float((by != None).mean()), stretches))  # noqa: E711
    return out


def green_columns(frame_pixels, scene, a, b):
    """An edge of the box that runs more across than up, as the frame shows
    it: for each column whose centre lies between its ends, whether a pixel
    within one row of the line is the box's green. Returns (the columns, a
    bool array)."""
    (x0, y0), (x1, y1) = scene.window(scene.BOX, [a, b])[:, :2]
    if x1 < x0:
        (x0, y0), (x1, y1) = (x1, y1), (x0, y0)
    cols = np.arange(math.ceil(x0 - 0.5), math.floor(x1 - 0.5) + 1)
    y = y0 + (cols + 0.5 - x0) / (x1 - x0) * (y1 - y0)
    rows = scene.h - 1 - np.floor(y).astype(int)
    green = np.zeros(len(cols), bool)
    for dr in (-1, 0, 1):
        p = frame_pixels[np.clip(rows + dr, 0, scene.h - 1), cols].astype(int)
        green |= (p[:, 1] >= BOX_GREEN) & (p[:, 0] <= BOX_OTHER) & (p[:, 2] <= BOX_OTHER)
    return cols, green


# ------------------------------------------------------------- the near plane


class NearCut(NamedTuple):
    """What a near plane `near` units from the eye cuts from the scene: the
    tiled quad's cut on screen (the window x where its eye depth is the
    near distance), the objects wholly nearer than it, the box's edges
    wholly nearer, and where those it crosses now begin (name, window x, y)."""
    near: float
    tiled_x: float
    gone: list
    box_gone: list
    box_starts: list


def near_cut(scene, objs, near):
    tiled = next(o for o in objs if o.name == "tiled quad")
    # Along the tiled quad's bottom edge, the eye z runs straight with x:
    # where it is -near, the near plane cuts it (it cuts every row there).
    (z0, z1) = (tiled.modelview @ np.array([[-50, -50, 0, 1], [50, -50, 0, 1]]).T)[2]
    x = -50 + 100 * (-near - z0) / (z1 - z0)
    tiled_x = float(scene.window(tiled.modelview, [(x, -50, 0)])[0, 0])
    gone = []
    for o in objs:
        z = (np.column_stack([o.corners, np.ones(len(o.corners))]) @ o.modelview.T)[:, 2]
        if (z > -near).all():
            gone.append(o.name)
    box_gone, starts = [], []
    for name, a, b in scene.box():
        za, zb = (Scene.BOX @ np.array([*a, 1]))[2], (Scene.BOX @ np.array([*b, 1]))[2]
        if za > -near and zb > -near:
            box_gone.append(name)
        elif (za > -near) != (zb > -near):
            f = (-near - za) / (zb - za)
            starts.append((name, scene.window(Scene.BOX, [np.add(a, f * np.subtract(b, a))])[0, :2]))
    return NearCut(near, tiled_x, gone, box_gone, starts)
