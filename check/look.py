"""A frame seen against the scene (scene.py): each quad at the pixels around
it, what is in front, the box's lines, and how the frame fits each quad's
outline in the scene and in its misreadings. What every frame of a window
shares (the image quad, which never moves, the box, the grids, what the
texture shows there) is computed once and kept (Cache), so that a frame
costs what its turning quads cost.

A pixel is judged by coverage: the share of an object's colour that it
holds over the black background, from 0 (nothing) to 1 (the object alone).
Without multisampling GL covers exactly the pixels whose centres lie inside;
with it, the samples inside, resolved into the pixel in a way GL leaves
open. Outlines are compared where nothing else comes within 2 pixels, so
that what lies beyond an edge is the black background."""
from collections import OrderedDict
from functools import cached_property
from typing import NamedTuple

import numpy as np

from .misreadings import ANGLES, OUTLINES
from .scene import Colours, quad_key
from .tolerances import (CLEAR_RESIDUAL, COLOUR_STEP, FEW, LEVELS_OFF, LINE_LEVEL, LINE_REACH, NOT_A_SHARE,
                         RESOLVE_GAMMA)

# The quads that turn with the frame's angle.
TURNING = ("tiled quad", "gradient quad")
# Outlines and colours are judged where nothing else comes this near (the
# box's lines, other quads, other outlines), in pixels.
APART = 2
# Around a quad's outline, the pixels judged reach this far beyond it, and
# what is computed of it this far.
REGION = APART + 1
MARGIN = APART + 6
# Points along each box edge where its green is looked for.
EDGE_POINTS = 24
# A box edge is measured across at this many places along it, each this many
# pixels either side of the line, away from its ends and from other edges by
# this much.
PROFILES = 40
PROFILE_REACH = 4
PROFILE_CLEAR = 6
EMPTY = np.zeros(0, int)
# Of the dark pixels inside a quad, away from its outline, this many at
# most are weighed (a sample stands for the rest).
DARK_MOST = 512


# ------------------------------------------------------------------ helpers


def channel_max(c):
    """The brightest channel of colours (..., 3)."""
    return np.maximum(np.maximum(c[..., 0], c[..., 1]), c[..., 2])


def grow(mask, n=1):
    """Every pixel within n of the mask, in x and in y."""
    out = mask.copy()
    for _ in range(n):
        out[1:] |= out[:-1]
        out[:-1] |= out[1:]
        out[:, 1:] |= out[:, :-1]
        out[:, :-1] |= out[:, 1:]
    return out


def band(mask):
    """Pixels within a pixel of the mask's outline, where GL's samples decide."""
    return grow(mask) & grow(~mask)


def centres(scene, rows, cols):
    """Window coordinates of pixel centres."""
    return cols + 0.5, scene.h - rows - 0.5


def line_coloured(c, colour):
    """Pixels (..., 3) that hold at least a third of a line's colour (LINE_LEVEL
    of 255 in its brightest channel), and little else: each other channel
    within half that channel of the same share of the colour."""
    colour = np.asarray(colour, np.float32)
    k = int(np.argmax(colour))
    share = c[..., k] / colour[k]
    ok = c[..., k] >= LINE_LEVEL * colour[k] / 255
    for j in range(3):
        if j != k:
            ok = ok & (np.abs(c[..., j] - share * colour[j]) <= c[..., k] / 2)
    return ok


class Cache:
    """What is computed once per window, quad or photograph: the most
    recently used few, by key."""

    def __init__(self, size):
        self.size, self.kept = size, OrderedDict()

    def get(self, key, make):
        if key in self.kept:
            self.kept.move_to_end(key)
            return self.kept[key]
        value = self.kept[key] = make()
        while len(self.kept) > self.size:
            self.kept.popitem(last=False)
        return value


CACHE = Cache(64)


def scene_key(scene):
    return scene.key()


# ------------------------------------------------- each quad at its pixels


class Patch(NamedTuple):
    """A quad at the pixel centres of a box around it (MARGIN beyond its
    corners): how far each lies inside its outline, whether it covers it
    and its window depth there, and the pixels near it."""
    box: tuple  # rows, columns: two slices of the frame
    inside: np.ndarray
    covers: np.ndarray
    depth: np.ndarray  # infinite where it does not cover
    near: np.ndarray  # within APART of what it covers
    wide: np.ndarray  # within REGION of it
    band: np.ndarray  # within 1 of its outline
    rim: np.ndarray  # within 2 of its outline


def make_patch(scene, quad):
    box = scene.box_around([quad], MARGIN)
    inside = scene.inside_box(quad, box)
    covers = inside >= 0
    depth = np.full(covers.shape, np.inf, np.float32)
    plane = scene.depth_plane(quad)
    if plane is not None and covers.any():
        x = np.arange(box[1].start, box[1].stop, dtype=np.float32) + 0.5
        y = scene.h - np.arange(box[0].start, box[0].stop, dtype=np.float32) - 0.5
        depth = np.where(covers, plane[0] + plane[1] * x[None, :] + plane[2] * y[:, None], np.inf).astype(np.float32)
    edge = band(covers)
    return Patch(box, inside, covers, depth, grow(covers, APART), grow(covers, REGION), edge, grow(edge))


def at_pixels(p, mask, rows, cols):
    """A patch's mask (one of its fields over its box) at frame pixels
    (rows, columns): False outside the box."""
    r, c = rows - p.box[0].start, cols - p.box[1].start
    within = (r >= 0) & (c >= 0) & (r < mask.shape[0]) & (c < mask.shape[1])
    out = np.zeros(len(rows), bool)
    out[within] = mask[r[within], c[within]]
    return out


def patch(scene, quad):
    return CACHE.get(("patch", scene_key(scene), quad_key(quad)), lambda: make_patch(scene, quad))


def paste(shape, patches, field, base=None):
    """A frame-sized mask: `base` or nothing, and each patch's `field`."""
    out = np.zeros(shape, bool) if base is None else base.copy()
    for p in patches:
        out[p.box] |= getattr(p, field)
    return out


# ------------------------------------------------------------- the box


class BoxEdge(NamedTuple):
    name: str
    ends: np.ndarray  # window x, y of its two ends (2 x 2)
    cols: np.ndarray  # EDGE_POINTS points along it, within the frame
    rows: np.ndarray
    depth: np.ndarray
    around: np.ndarray  # the 3 x 3 pixels around each point: [point, pixel] flat indices
    allowed: float  # the pixels of a column (row) a width-1 line covers at most
    profiles: np.ndarray  # places measured across it: [place, pixel] flat indices of the frame


class BoxLines(NamedTuple):
    lines: np.ndarray  # pixels whose centres lie within LINE_REACH of an edge
    apart: np.ndarray  # within APART of those
    edges: list  # BoxEdge


def line_mask(scene, segments, d):
    """Pixels whose centres lie within d of the segments (window points)."""
    out = np.zeros((scene.h, scene.w), bool)
    for (x0, y0), (x1, y1) in segments:
        c0, c1 = (int(np.clip(v, 0, scene.w)) for v in (min(x0, x1) - d, max(x0, x1) + d + 1))
        r0, r1 = (int(np.clip(scene.h - v, 0, scene.h)) for v in (max(y0, y1) + d + 1, min(y0, y1) - d))
        x, y = np.meshgrid(np.arange(c0, c1) + 0.5, scene.h - np.arange(r0, r1) - 0.5)
        dx, dy = x1 - x0, y1 - y0
        t = np.clip(((x - x0) * dx + (y - y0) * dy) / max(dx * dx + dy * dy, 1e-9), 0, 1)
        out[r0:r1, c0:c1] |= np.hypot(x - x0 - t * dx, y - y0 - t * dy) <= d
    return out


def make_box_lines(scene):
    s = scene
    ends = [s.window(s.BOX, [a, b]) for _, a, b in s.box()]
    segments = [e[:, :2] for e in ends]
    lines = line_mask(s, segments, LINE_REACH)
    edges = []
    for k, (name, a, b) in enumerate(s.box()):
        t = (np.arange(EDGE_POINTS) + 0.5) / EDGE_POINTS
        x, y, depth = s.window(s.BOX, np.outer(1 - t, a) + np.outer(t, b)).T
        c, r = x.astype(int), (s.h - y).astype(int)
        shown = (c >= 1) & (c < s.w - 1) & (r >= 1) & (r < s.h - 1)
        others = line_mask(s, segments[:k] + segments[k + 1:], LINE_REACH + 1)
        c, r = c[shown], r[shown]
        near = [np.clip(r + dr, 0, s.h - 1) * s.w + np.clip(c + dc, 0, s.w - 1) for dr in (-1, 0, 1) for dc in (-1, 0, 1)]
        edges.append(BoxEdge(name, segments[k], c, r, depth[shown], np.stack(near, axis=1).reshape(-1, 9),
                             *profiles(s, segments[k], others)))
    return BoxLines(lines, grow(lines, APART), edges)


def profiles(scene, ends, others):
    """Places across an edge: at each, the pixels of one column (for an edge
    that runs more across than up) or row within PROFILE_REACH of the line,
    clear of the frame's border, the edge's ends and the other edges."""
    (x0, y0), (x1, y1) = ends
    across = abs(x1 - x0) >= abs(y1 - y0)
    slope = (y1 - y0) / (x1 - x0) if across else (x1 - x0) / (y1 - y0)
    allowed = float(np.hypot(1, slope)) if np.isfinite(slope) else 1.0
    length = np.hypot(x1 - x0, y1 - y0)
    out = []
    if not np.isfinite(length) or length < 4 * PROFILE_CLEAR:
        return allowed, np.zeros((0, 2 * PROFILE_REACH + 1), int)
    for t in np.linspace(PROFILE_CLEAR / length, 1 - PROFILE_CLEAR / length, PROFILES):
        x, y = x0 + t * (x1 - x0), y0 + t * (y1 - y0)
        offsets = np.arange(-PROFILE_REACH, PROFILE_REACH + 1)
        if across:
            col = int(x)
            line_y = y0 + (col + 0.5 - x0) * slope
            rows = int(scene.h - line_y) + offsets
            cols = np.full(len(rows), col)
        else:
            row = int(scene.h - y)
            line_x = x0 + (scene.h - row - 0.5 - y0) * slope
            cols = int(line_x) + offsets
            rows = np.full(len(cols), row)
        if rows.min() < 0 or cols.min() < 0 or rows.max() >= scene.h or cols.max() >= scene.w:
            continue
        if others[rows, cols].any():
            continue
        out.append(rows * scene.w + cols)
    return allowed, np.array(out, int).reshape(-1, 2 * PROFILE_REACH + 1)


def box_lines(scene):
    return CACHE.get(("box", scene_key(scene)), lambda: make_box_lines(scene))


def grid_points(scene, step):
    """Points every `step` pixels: (rows, columns)."""
    return CACHE.get(("grid", scene_key(scene), step),
                     lambda: tuple(g.ravel() for g in np.mgrid[:scene.h:step, :scene.w:step]))


# ------------------------------------------------------------- one frame


class Look:
    """One frame against one scene: each quad at its pixels, what is in
    front, the box's lines, and where each kind of check may look."""

    def __init__(self, frame, scene, search=True):
        # `search`: whether the angles and the misreadings are looked for.
        self.frame, self.scene, self.search = frame, scene, search
        # A cause of the whole frame found before the checks (a Problem), and
        # the map of every colour that it undid, if any.
        self.cause, self.cmap = None, None
        self.pixels = frame.pixels
        self.flat_pixels = frame.pixels.reshape(-1, 3)
        self.lit = channel_max(frame.pixels) > LEVELS_OFF
        shape = (scene.h, scene.w)
        self.names = list(scene.quads)
        self.patches = {n: patch(scene, q) for n, q in scene.quads.items()}
        self.box = box_lines(scene)
        # The quad in front at each pixel (its place in drawing order, from 1)
        # and its depth.
        self.front = np.zeros(shape, np.int8)
        self.depth = np.full(shape, np.inf, np.float32)
        for i, name in enumerate(self.names, 1):
            p = self.patches[name]
            depth, front = self.depth[p.box], self.front[p.box]
            nearer = p.depth < depth
            depth[nearer], front[nearer] = p.depth[nearer], i
        self.lines = self.box.lines
        self.near_quads = paste(shape, self.patches.values(), "wide")
        self.clear = ~(self.near_quads | self.box.apart)
        self.edges = paste(shape, self.patches.values(), "rim", self.lines)
        self.near_bits = np.zeros(shape, np.uint8)
        for i, name in enumerate(self.names):
            p = self.patches[name]
            self.near_bits[p.box] |= p.near.astype(np.uint8) << i

    @cached_property
    def fits(self):
        """How the frame fits each quad's outline (outlines), computed where
        a check first asks: a frame that a cause of the whole frame explains
        may need none."""
        return self.outlines()

    def code(self, name):
        return self.names.index(name) + 1

    def got(self, rows, cols):
        return self.pixels[rows, cols].astype(np.float32)

    # ----------------------------------------------------------- outlines

    def outline_cases(self, name, misreadings):
        """The quad in the scene and in each of the misreadings, on the
        pixels around all of them: {misreading (None: the scene): Case}."""
        scenes = {None: self.scene, **{m: m.scene(self.scene) for m in misreadings}}
        key = ("outline", scene_key(self.scene), tuple(self.frame.positions),
               tuple(quad_key(s.quads[name]) for s in scenes.values()), self.scene.texture.key)
        shape = CACHE.get(key, lambda: outline_shape(self.scene, name, scenes, self.frame.positions, self.lines))
        # Not within APART of anything else.
        others = sum(1 << i for i, n in enumerate(self.names) if n != name)
        keep = shape.region & ((self.near_bits[shape.box] & others) == 0)
        lit = self.lit[shape.box]
        # Away from every outline a lit pixel is the quad or not at all; the
        # share of its colour counts near an outline, and where a pixel that
        # some reading covers is dark (the quad may be dark there).
        deep = keep & ~shape.near
        dark_r, dark_c = np.nonzero(deep & ~lit & shape.covered)
        # A quad missing over a large part leaves many such pixels, each as
        # costly as an outline's: a sample of them stands for the rest, each
        # weighing as many as it stands for, so that the cost is the
        # frame's, not its fault's.
        every = max(1, -(-len(dark_r) // DARK_MOST))
        dark_r, dark_c = dark_r[::every], dark_c[::every]
        deep_lit = deep & lit
        near = keep[shape.near_rows, shape.near_cols]
        rows = np.concatenate([shape.near_rows[near], dark_r]) + shape.box[0].start
        cols = np.concatenate([shape.near_cols[near], dark_c]) + shape.box[1].start
        got = self.flat_pixels[rows * self.scene.w + cols].astype(np.float32)
        lit_share = np.concatenate([lit[shape.near_rows[near], shape.near_cols[near]], np.zeros(len(dark_r), bool)])
        lit_share = lit_share.astype(np.float32)
        weigh = np.concatenate([shape.edge[near], np.zeros(len(dark_r), bool)]) | (lit_share == 0)
        cases = {}
        for how, r in shape.readings.items():
            colours = r.edge_colours
            index = np.concatenate([shape.edge_index[near], np.full(len(dark_r), -1)])[weigh]
            lo, hi, dim = (np.empty((len(index), 3)), np.empty((len(index), 3)), np.empty(len(index)))
            known = index >= 0
            lo[known], hi[known], dim[known] = (v[index[known]] for v in colours)
            if not known.all():  # dark pixels, away from the edge: what the quad may show there
                lo[~known], hi[~known], dim[~known] = quad_colours(r.scene, r.quad, rows[weigh][~known],
                                                                   cols[weigh][~known])
            least, most = lit_share.copy(), lit_share.copy()
            least[weigh], most[weigh] = coverage(got[weigh], Colours(lo, hi, dim), lit_share[weigh])
            on = np.concatenate([r.on[near], np.zeros(len(dark_r), bool)])
            taken = r.on_index[near][r.on[near]]
            out_r, out_c = np.nonzero(deep_lit & ~r.inside_map)
            weight = np.concatenate([np.ones(near.sum(), np.float32), np.full(len(dark_r), every, np.float32)])
            cases[how] = Case(rows, cols, weight, least, most,
                              np.concatenate([r.inside[near], r.inside_map[dark_r, dark_c]]), on,
                              r.sure[:, taken], r.maybe[:, taken],
                              np.concatenate([r.distance[near], r.distance_map[dark_r, dark_c]]),
                              out_r + shape.box[0].start, out_c + shape.box[1].start, r.distance_map[out_r, out_c])
        return cases

    def outlines(self):
        """How the frame fits each quad's outline in the scene and in each
        misreading: {name: {misreading (None: the scene): Fit}}, with the
        samples resolved into pixels as explains the frame best: GL leaves
        the resolve open, so the mean of the samples (of the colour values
        or, gamma-correct, of the light) and each sample alone are tried,
        each quad taking whichever reading fits it best, and the one that
        explains the most quads is taken (a quad drawn wrong explains none).
        The angles of the two turning quads are tried where the scene leaves
        enough unexplained for one to be named (better_reading); each quad's
        own misreadings where a check asks (misreading); a frame the scene
        explains has only the scene's fits."""
        cases = {name: self.outline_cases(name, ()) for name in OUTLINES}
        fits = self.fits_of(cases)
        residual = {name: f[None].residual for name, f in fits.items()}
        if self.search and sum(residual[n] for n in TURNING) >= CLEAR_RESIDUAL:
            # The nearest first: the frame's angle a degree off, which
            # explains both turning quads at once, then further; their
            # other misreadings only where no angle does. A degree back is
            # kept (the frame before showing through is told by it).
            # The angle this process found last first: a machine a frame or
            # two late is so at every frame.
            # Beyond NEAR degrees, further only while each fits closer.
            closest = np.inf
            for far in [None] * bool(LATEST_ANGLE[0]) + sorted({abs(off) for off in ANGLES}):
                offsets = [off for off, ms in ANGLES.items() if (off == LATEST_ANGLE[0] if far is None else
                                                                  abs(off) == far or off == -1)
                           if all(explains_strays(self.scene, n, fits[n][None], m) for n, m in zip(TURNING, ms))]
                if not any(off == LATEST_ANGLE[0] if far is None else abs(off) == far for off in offsets):
                    continue
                cases.update({name: self.outline_cases(name, tuple(ANGLES[off][k] for off in offsets))
                              for k, name in enumerate(TURNING)})
                fits = self.fits_of(cases)
                off = angle_fits(fits)
                if not off and far:
                    here = min(angle_residual(fits, o) for o in offsets if abs(o) == far)
                    if far >= NEAR and here >= closest:
                        break
                    closest = min(closest, here)
                # Where a degree or two explain a frame alike (near face-on),
                # one further the same way may explain it better still.
                while off and off + np.sign(off) in ANGLES and angle_residual(fits, off) >= CLEAR_RESIDUAL / 2:
                    further = dict(cases)
                    further.update({name: self.outline_cases(name, (ANGLES[-1][k], ANGLES[off][k],
                                                                    ANGLES[off + np.sign(off)][k]))
                                    for k, name in enumerate(TURNING)})
                    more = self.fits_of(further, keep=False)
                    if angle_fits(more) != off + np.sign(off):
                        break
                    cases, fits, off = further, self.fits_of(further), off + np.sign(off)
                if off:
                    LATEST_ANGLE[0] = off
                    return fits
        return fits

    def misreading(self, name):
        """The misreading of the quad's own (OUTLINES) that explains the frame
        as a correct frame is explained, tried only where it may explain the
        quad's stray pixels (explains_strays): (the Misreading, the quad's
        fits {misreading (None: the scene): Fit}), or (None, its fits)."""
        fits = self.fits
        if not self.search:
            return None, fits[name]
        found = better_reading(fits[name], OUTLINES[name])  # the frame's angle tried already
        if found:
            return found, fits[name]
        readings = tuple(m for m in OUTLINES[name] if explains_strays(self.scene, name, fits[name][None], m)
                         and m not in fits[name])
        if fits[name][None].residual < CLEAR_RESIDUAL or not readings:
            return None, fits[name]
        cases = dict(self.cases)
        cases[name] = self.outline_cases(name, readings)
        mine = self.fits_of(cases, keep=False)[name]
        return better_reading(mine, readings), mine

    def fits_of(self, cases, keep=True):
        n = len(self.frame.positions)
        options = [([1 / n] * n, 1), ([1 / n] * n, RESOLVE_GAMMA)] + [(list(np.eye(n)[k]), 1) for k in range(n)]
        if n > 1:  # the resolve that explains the most quads, then the most of them
            def unexplained(o):
                left = [min((outside(c, o) * c.weight).sum() for c in by_reading.values())
                        for by_reading in cases.values()]
                return sum(r >= CLEAR_RESIDUAL for r in left), sum(left)
            best = min(options, key=unexplained)
        else:
            best = options[0]
        if keep:
            self.cases, self.resolve = cases, best
        fits = {}
        for name, by_reading in cases.items():
            fits[name] = {}
            for how, c in by_reading.items():
                miss = outside(c, best)
                off = miss > 0.5
                stray = off & ~c.on
                deep = len(c.deep_rows)  # lit, outside: a stray each
                missing = float((np.maximum(0, c.low(best) - c.most) * c.weight).sum())
                miss = miss * c.weight
                fits[name][how] = Fit(int(c.weight[stray].sum()) + deep, float(miss.sum()) + deep,
                                      np.concatenate([c.rows[stray], c.deep_rows]),
                                      np.concatenate([c.cols[stray], c.deep_cols]),
                                      np.concatenate([~c.inside[stray], np.ones(deep, bool)]),
                                      np.concatenate([c.distance[stray], c.deep_distance]),
                                      np.concatenate([c.rows[off], c.deep_rows]),
                                      np.concatenate([c.cols[off], c.deep_cols]),
                                      np.concatenate([c.rows, c.deep_rows]), np.concatenate([c.cols, c.deep_cols]),
                                      np.concatenate([miss, np.ones(deep, np.float32)]), missing)
        return fits


def explains_strays(scene, name, fit, misreading):
    """Whether the misreading may explain the quad's stray pixels in the
    scene's fit: a reading that fits the frame has inside its outline
    (within a pixel) at least half of the pixels drawn outside the scene's,
    and outside it half of those missing inside. With too few strays to go
    by, it may."""
    if fit.stray <= FEW or fit.rows is None or not len(fit.rows):
        return True
    x, y = centres(scene, fit.rows, fit.cols)
    d = misreading.scene(scene).inside(misreading.scene(scene).quads[name], x, y)
    with np.errstate(invalid="ignore"):
        ok = np.where(fit.outside, d >= -1, d <= 1)
    return bool(ok.mean() >= 0.5)


# Each turning quad's misreadings that turn it a degree either way.
ANGLE_READINGS = {name: tuple(ms[k] for ms in ANGLES.values()) for k, name in enumerate(TURNING)}


def better_reading(fits, readings):
    """The misreading that explains the frame as a correct frame is
    explained, and far better than the scene does: of `readings`, those
    that were tried (fits: {misreading (None: the scene): Fit})."""
    readings = [how for how in readings if how in fits]
    if fits[None].residual < CLEAR_RESIDUAL or not readings:
        return None
    best = min(readings, key=lambda how: fits[how].residual)
    f = fits[best]
    if f.stray <= FEW and f.residual < CLEAR_RESIDUAL and f.residual * 2 < fits[None].residual:
        return best
    return None


def angle_fits(fits):
    """The frame's angle off by the offset in ANGLES that explains both
    turning quads together (fits: {quad: {misreading: Fit}}), or None."""
    both = {None: [fits[n][None] for n in TURNING]}
    if sum(f.residual for f in both[None]) < CLEAR_RESIDUAL:
        return None
    for off, misreadings in ANGLES.items():
        if all(m in fits[n] for n, m in zip(TURNING, misreadings)):  # tried where they may fit
            both[off] = [fits[n][m] for n, m in zip(TURNING, misreadings)]
    summed = {how: Fit(sum(f.stray for f in fs), sum(f.residual for f in fs), *([None] * 6))
              for how, fs in both.items()}
    return better_reading(summed, tuple(off for off in ANGLES if off in both))


# The angles looked for each frame where the turning quads fit badly: one
# this far off, and further only while each fits closer.
NEAR = 4
# The angle off this process found last (a cause of the whole frame's time).
LATEST_ANGLE = [None]


def angle_residual(fits, off):
    """The turning quads' residual summed, drawn OFF degrees off."""
    return sum(fits[n][m].residual for n, m in zip(TURNING, ANGLES[off]))


def union_fit(look, name, other):
    """How the frame fits the quad drawn over the misreading `other` of it
    (both drawn, the scene's last, as where the frame before shows through
    around the quad): the coverage GL may give is the most of the two, the
    colours either's; a Fit's stray and residual, or None where that
    misreading was not tried."""
    look.fits  # noqa: B018 - the cases are made with the fits
    by_reading = look.cases.get(name, {})
    if other not in by_reading:
        return None
    a, b = by_reading[None], by_reading[other]
    lo = np.maximum(a.low(look.resolve), b.low(look.resolve))
    hi = np.maximum(outside_high(a, look.resolve), outside_high(b, look.resolve))
    least, most = np.minimum(a.least, b.least), np.maximum(a.most, b.most)
    miss = np.maximum(0, np.maximum(lo - most, least - hi))
    stray = (miss > 0.5) & ~(a.on | b.on)
    deep = len(np.intersect1d(a.deep_rows * look.scene.w + a.deep_cols, b.deep_rows * look.scene.w + b.deep_cols))
    return Fit(int(a.weight[stray].sum()) + deep, float((miss * a.weight).sum()) + deep, *([None] * 6))


class Reading(NamedTuple):
    """One reading of a quad on the pixels of an outline's region: over the
    region's box, and at the pixels near an outline."""
    scene: object
    quad: object
    inside_map: np.ndarray  # the pixel centre lies inside the outline, over the box
    distance_map: np.ndarray  # how far inside (pixels; negative outside), over the box
    inside: np.ndarray  # the same, at the pixels near an outline
    distance: np.ndarray
    on: np.ndarray  # within a pixel of the outline, where the samples decide
    on_index: np.ndarray  # each pixel's place among those on it
    sure: np.ndarray  # there, the samples surely in, and maybe in: [sample, pixel on]
    maybe: np.ndarray
    edge_colours: Colours  # what it may show at the pixels within 2 of an outline


class OutlineShape(NamedTuple):
    """The pixels around a quad's outline in all its readings, and each
    reading there: what is the same in every frame where the quads are."""
    box: tuple  # rows, columns: two slices of the frame
    region: np.ndarray  # the pixels judged, over the box: within REGION of an outline, off the box's lines
    covered: np.ndarray  # some reading covers it, over the box
    near: np.ndarray  # within 2 of some reading's outline, or where its samples decide, over the box
    near_rows: np.ndarray  # those, in the box
    near_cols: np.ndarray
    edge: np.ndarray  # of those, the ones within 2 of some reading's outline
    edge_index: np.ndarray  # each one's place among those, or -1
    readings: dict  # misreading (None: the scene): Reading


def quad_colours(scene, quad, rows, cols):
    """What a quad may show at pixels: a textured one what its footprint
    allows; the gradient either diagonal's blend."""
    return quad_colours_at(scene, quad, *centres(scene, rows, cols))


def quad_colours_at(scene, quad, x, y):
    """quad_colours at window points."""
    if quad.repeats:
        return scene.colours(quad, x, y)
    one, other = scene.blends(quad, x, y)
    return Colours(np.minimum(one, other), np.maximum(one, other), np.minimum(one.sum(axis=-1), other.sum(axis=-1)))


def outline_shape(scene, name, scenes, positions, lines):
    if len(scenes) == 1:  # the scene alone: its patch holds most of it
        p = patch(scene, scene.quads[name])
        box, distance, covers, covered = p.box, {None: p.inside}, {None: p.covers}, p.covers
        region, edge_map = p.wide & ~grow(lines[box], 1), p.rim
        on_maps = {None: p.band | (abs(p.inside) < scene.reach)}
    else:
        box = scene.box_around([s.quads[name] for s in scenes.values()], MARGIN)  # room for the region
        distance = {how: s.inside_box(s.quads[name], box) for how, s in scenes.items()}
        covers = {how: d >= 0 for how, d in distance.items()}
        covered = np.logical_or.reduce(list(covers.values()))
        # Beyond the outlines by more than APART, away from the box's lines.
        region = grow(covered, REGION) & ~grow(lines[box], 1)
        edge_map = np.logical_or.reduce([grow(band(v)) for v in covers.values()])
        # The samples decide within a pixel of the outline, and where a
        # pixel's square meets it (the tip of a sliver that misses every
        # pixel centre).
        on_maps = {how: band(covers[how]) | (abs(d) < scene.reach) for how, d in distance.items()}
    near = region & np.logical_or.reduce([edge_map, *on_maps.values()])
    r, c = np.nonzero(near)
    rows, cols = r + box[0].start, c + box[1].start
    edge = edge_map[r, c]
    edge_index = np.where(edge, np.cumsum(edge) - 1, -1)
    readings = {}
    for how, s in scenes.items():
        q = s.quads[name]
        on = on_maps[how][r, c]
        sure, maybe = s.samples(q, rows[on], cols[on], positions)
        readings[how] = Reading(s, q, covers[how], distance[how], covers[how][r, c], distance[how][r, c], on,
                                np.cumsum(on) - 1, sure, maybe, Colours(*quad_colours(s, q, rows[edge], cols[edge])))
    return OutlineShape(box, region, covered, near, r, c, edge, edge_index, readings)


def coverage(got, colours, lit):
    """The share of a quad's colour that pixels `got` (n x 3) hold over black,
    where the quad may show `colours` (scene.Colours): the least and
    the most share, two arrays. Its most in a channel bounds the share from
    below; its least in a channel, and the least of the channels' sum, from
    above. A dark colour tells little; a pixel that is no share of any
    colour the quad may show holds something else, and counts as `lit`."""
    lo, hi, dim = colours

    def share(step):
        with np.errstate(divide="ignore", invalid="ignore"):
            least = channel_max(np.where(hi > LEVELS_OFF, (got - step) / hi, 0))
            most = np.minimum(-channel_max(-np.where(lo > LEVELS_OFF, (got + step) / lo, np.inf)),
                              np.where(dim > LEVELS_OFF, (got + step).sum(axis=-1) / dim, np.inf))
        return np.clip(least, 0, 1), np.clip(most, 0, 1)
    least, most = share(COLOUR_STEP)
    loose_least, loose_most = share(NOT_A_SHARE)
    other = (loose_least > loose_most) | (channel_max(got - hi) > NOT_A_SHARE)
    least, most = np.minimum(least, most), np.maximum(least, most)
    return np.where(other, lit, least), np.where(other, lit, most)


class Fit(NamedTuple):
    """How a frame fits one quad's outline in one reading of the scene."""
    stray: int  # pixels off by more than half beyond a pixel of the outline
    residual: float  # the coverage differences, summed
    rows: np.ndarray  # where the stray pixels lie
    cols: np.ndarray
    outside: np.ndarray  # whether each lies outside the outline
    distance: np.ndarray  # how far inside the outline each lies (negative outside)
    off_rows: np.ndarray  # every pixel off by more than half, the outline's band included
    off_cols: np.ndarray
    # Every pixel judged and how far it lies off (for blame: the residual
    # without some of them).
    all_rows: np.ndarray = EMPTY
    all_cols: np.ndarray = EMPTY
    miss: np.ndarray = EMPTY
    # Of the residual, what lies below what GL covers: pixels darker than
    # the quad there (a frame with something more drawn over a right one
    # has none).
    missing: float = 0.0


class Case(NamedTuple):
    """One quad in one reading of the scene, on the pixels around it."""
    rows: np.ndarray
    cols: np.ndarray
    weight: np.ndarray  # how many pixels each stands for
    least: np.ndarray  # the coverage found: at least, at most
    most: np.ndarray
    inside: np.ndarray  # the pixel centre lies inside the outline
    on: np.ndarray  # within a pixel of the outline, where the samples decide
    sure: np.ndarray  # there, the samples surely in, and maybe in: [sample, pixel on]
    maybe: np.ndarray
    distance: np.ndarray  # how far inside the outline (pixels)
    deep_rows: np.ndarray  # lit pixels outside the outline, away from every outline
    deep_cols: np.ndarray
    deep_distance: np.ndarray

    def low(self, resolve):
        """The least coverage GL may give each pixel, with the samples
        resolved by (weights, curve)."""
        weights, curve = resolve
        lo = self.inside.astype(np.float32)
        lo[self.on] = (np.asarray(weights, np.float32) @ self.sure) ** curve
        return lo


def outside_high(case, resolve):
    """The most coverage GL may give each pixel of a case."""
    weights, curve = resolve
    hi = case.inside.astype(np.float32)
    hi[case.on] = (np.asarray(weights, np.float32) @ case.maybe) ** curve
    return hi


def outside(case, resolve):
    """How far the coverage found lies outside what GL may cover, with the
    samples resolved by (weights, curve)."""
    lo, hi = case.low(resolve), outside_high(case, resolve)
    return np.maximum(0, np.maximum(lo - case.most, case.least - hi))
