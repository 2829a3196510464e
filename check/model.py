"""One model of what can happen to a picture: a fault of the whole frame is
the scene under one change of the picture, a Cause (its kind and
parameters): where the pixels went (turned, mirrored, scaled, moved: a
window map; another resolution), what the colours became (a mix of the
channels and a curve each; the background), which frame is shown, or what
every primitive lost (a corner of each quad; the colours given). Each is
fitted against the scene's picture (picture.py) on a reduced copy of the
frame, then judged by the checks themselves under it (judging; frame.py
names one only where the frame is then explained as a correct one is).
Pixels are (rows, columns, 3) levels 0..255, points (n, 3)."""
import copy
import hashlib
from typing import NamedTuple

import numpy as np

from .picture import BACKGROUND, BOX, Reference, reference_at
from .scene import PLAIN_TINT, viewport
from .tolerances import (BLACK, CURVE_APART, CURVE_SQUEEZE, FEW, LEVELS_OFF, MEAN_OFF, MIN_POINTS, MISSES, MOVES,
                         ROUND)
from .words import ORIENTATIONS, POSTERISED, runs


class Cause(NamedTuple):
    """A cause as every view carries it; words.says makes its words."""
    kind: str
    values: tuple = ()


# ------------------------------------------------------ the reduced copy

# The frame is fitted at points every GRID pixels (of 640 x 480), on the
# background and the quads (the box's lines are too thin for it).
GRID = 8
JUDGED = (BACKGROUND, 1, 2, 3)


class Points(NamedTuple):
    """Points of a frame: pixels, window x, y and colours (n, 3) float."""
    rows: np.ndarray
    cols: np.ndarray
    x: np.ndarray
    y: np.ndarray
    got: np.ndarray


def grid(pixels, step=None):
    """The reduced copy of a frame: Points every `step` pixels."""
    h, w = pixels.shape[:2]
    step = step or max(2, round(GRID * min(w / 640, h / 480)))
    rows, cols = (g.ravel() for g in np.mgrid[step // 2:h:step, step // 2:w:step])
    return Points(rows, cols, cols + 0.5, h - rows - 0.5, pixels[rows, cols].astype(float))


class Fit(NamedTuple):
    """How points fit a picture: per object of JUDGED, the points judged and
    off; and which points lie off."""
    judged: np.ndarray
    off: np.ndarray
    where: np.ndarray

    def explains(self, share=MISSES):
        """No object has more than `share` of its points off, and a few."""
        return bool((self.off <= share * self.judged + FEW).all())

    @property
    def total(self):
        return int(self.off.sum())


def shows_change(base, share):
    """What the reduced copy shows of a change of the whole picture: None;
    "colours", objects with more than `share` of their points off; or
    "picture", two or more, among them the background or the image quad,
    which never move (the turning quads alone are the angle's)."""
    off = base.off > share * base.judged + FEW
    if not off.any():
        return None
    return "picture" if off.sum() >= 2 and (off[JUDGED.index(BACKGROUND)] or off[JUDGED.index(3)]) else "colours"


def fit(reference, got):
    """How colours `got` (n, 3) fit a Reference: off where a channel lies
    more than LEVELS_OFF outside what GL may show, away from every edge."""
    with np.errstate(invalid="ignore"):
        outside = np.maximum(reference.lo - LEVELS_OFF - got, got - reference.hi - LEVELS_OFF).max(axis=1) > 0
    judged = ~reference.edge & np.isin(reference.objects, JUDGED)
    where = judged & outside
    counts = lambda mask: np.array([(mask & (reference.objects == o)).sum() for o in JUDGED])
    return Fit(counts(judged), counts(where), where)


# ---------------------------------------------------- where pixels went

def orientation(q):
    """ORIENTATIONS[q] as a 2 x 2 matrix on window offsets (y up)."""
    a, b, c, d = ORIENTATIONS[q][0]
    return np.array([[a, -b], [-c, d]], float)  # y down to y up: F m F, F = diag(1, -1)


def placed_view(scene, q, sx, sy, dx, dy):
    """The window map of the picture turned and mirrored (q), scaled about
    the frame's centre and moved (dx right, dy down)."""
    a = np.diag([sx, sy]) @ orientation(q)
    centre = np.array([scene.w / 2, scene.h / 2])
    view = np.asarray(scene.view, float)
    return np.column_stack([a @ view[:, :2], a @ (view[:, 2] - centre) + centre + (dx, -dy)])


# A move of the picture by this many pixels or fewer, unscaled, is one the
# checks alone may not tell: its outlines must fit as a correct frame's.
SUBTLE = 2


def subtle(cause):
    """Whether a cause moves the picture by SUBTLE pixels or fewer alone."""
    return cause.kind == "placed" and cause.values[:3] == (0, 1, 1) and max(map(abs, cause.values[3:])) <= SUBTLE


def resampled(sx, sy):
    """How much further coverage may go either way in a picture scaled
    after it was drawn: half the drawing's pixel and half the picture's."""
    return 0 if (sx, sy) == (1, 1) else 0.5 * max(sx, sy, 1 / sx, 1 / sy) + 0.5


def lit_at(colours, background=(0, 0, 0)):
    """Which colours (n, 3) are lit: off the background's by more than
    LEVELS_OFF in a channel."""
    return np.abs(np.asarray(colours, float) - background).max(axis=1) > LEVELS_OFF


def moved(points, lit, shown):
    """The move (right, down) carrying the points the scene lights onto
    those the frame does, to a point of the reduced copy: where their
    cross-correlation is the largest share of the more of the frame's lit
    points and the scene's that the move keeps in the frame (a picture
    moved far shows a part of itself alone)."""
    step = points.cols[1] - points.cols[0]
    frame, scene = cells(points, lit.astype(float)), cells(points, shown.astype(float))
    size = (2 * frame.shape[0], 2 * frame.shape[1])  # room for every move
    correlate = lambda a: np.fft.irfft2(np.fft.rfft2(a, size) * np.conj(np.fft.rfft2(scene, size)), size)
    kept = np.maximum(correlate(np.ones_like(frame)), frame.sum())
    i, j = np.unravel_index(np.argmax(np.round(correlate(frame), 6) / kept), size)
    return int((j if j < size[1] // 2 else j - size[1]) * step), int((i if i < size[0] // 2 else i - size[0]) * step)


def moments(mask_x, mask_y):
    """The centroid (2,) and covariance (2, 2) of points."""
    p = np.stack([mask_x, mask_y])
    mean = p.mean(axis=1)
    return mean, np.cov(p) if p.shape[1] > 1 else np.eye(2)


def placements(scene, points, ident):
    """Ways the picture may lie on the frame, from the quads' lit points of
    the frame and of the scene (the box's lines, thin, fall on few points as
    they move): the move that carries the one onto the other; for each turn
    and mirroring the scale and move their spreads and centroids give, and
    none; the scales a picture is put at, about the centre (a picture larger
    than the frame has its spread cut short). Causes, the scene's nearest
    first."""
    from .look import line_coloured
    lit = lit_at(points.got) & ~line_coloured(points.got, scene.box_colour)
    shown = (ident.objects != BACKGROUND) & (ident.objects != BOX)
    if lit.sum() < MIN_POINTS or shown.sum() < MIN_POINTS:
        return []
    out = [Cause("placed", (0, 1, 1) + moved(points, lit, shown))]
    centre = np.array([scene.w / 2, scene.h / 2])
    mf, cf = moments(points.x[lit] - centre[0], points.y[lit] - centre[1])
    mr, cr = moments(points.x[shown] - centre[0], points.y[shown] - centre[1])
    cut = cut_short(lit, points)
    for q in range(len(ORIENTATIONS)):
        o = orientation(q)
        turned = o @ cr @ o.T
        with np.errstate(invalid="ignore", divide="ignore"):
            sx, sy = (float(np.sqrt(cf[i, i] / turned[i, i])) for i in (0, 1))
        if not (np.isfinite(sx) and np.isfinite(sy)) or min(sx, sy) <= 0:
            continue
        # A smoothed picture's spread is wider than its scale: the scales a
        # picture is put at on either side of the one its spread gives too.
        scales = [(a, b) for a in nearest_nice(sx) for b in nearest_nice(sy)]
        # A picture cut short along the frame's sides spreads less that way
        # than its scale: the scales a picture is put at above it, too.
        xs, ys = (above(sx) if cut[0] else []) + nearest_nice(sx), (above(sy) if cut[1] else []) + nearest_nice(sy)
        scales += [(a, b) for a in xs for b in ys if (a, b) not in scales]
        d1 = mf - o @ mr  # unscaled
        for sx, sy in scales:
            d = mf - np.diag([sx, sy]) @ o @ mr
            for cause in (Cause("placed", (q, sx, sy, int(round(d[0])), int(round(-d[1])))),
                          Cause("placed", (q, 1, 1, 0, 0)),
                          Cause("placed", (q, 1, 1, int(round(d1[0])), int(round(-d1[1]))))):
                if cause.values != (0, 1, 1, 0, 0) and cause not in out:
                    out.append(cause)
    if any(cut):
        mid = (ident.lo + ident.hi) / 2  # the scene's points lit alike
        alike = shown & lit_at(mid) & ~line_coloured(mid, scene.box_colour)
        out[1:1] = [c for c in searched_placements(scene, points, lit, alike) if c not in out]
    for s in NICE[1:]:
        d = mf - s * mr
        for c in (Cause("placed", (0, round(s, 4), round(s, 4), 0, 0)),
                  Cause("placed", (0, round(s, 4), round(s, 4), int(round(d[0])), int(round(-d[1]))))):
            if c not in out:
                out.append(c)
    return sorted(out, key=lambda c: (c.values[1:] != (1, 1, 0, 0), c.values[0]))


def cells(points, values):
    """Values at the reduced copy's points as its grid: (rows, cols), top
    row first."""
    step = points.cols[1] - points.cols[0]
    out = np.zeros(((points.rows.max() // step) + 1, (points.cols.max() // step) + 1), values.dtype)
    out[points.rows // step, points.cols // step] = values
    return out


def cut_short(lit, points):
    """Whether the frame's lit points run along more than CUT of its left
    and right sides, and of its top and bottom: a picture larger than the
    frame that way, its spread cut short."""
    g = cells(points, lit)
    return (bool(np.concatenate([g[:, 0], g[:, -1]]).mean() > CUT),
            bool(np.concatenate([g[0], g[-1]]).mean() > CUT))


# A frame whose border is lit at more than this share shows a picture cut
# short (a correct frame's border is the background).
CUT = 0.15


def searched_placements(scene, points, lit, shown):
    """The placements, scaled alike both ways by SEARCHED_SCALES, turned and
    mirrored every way, whose lit points best match the frame's: for each,
    the move that best matches them, from the cross-correlation of the
    frame's grid (lit +1, else -1) with the scene's grid so placed (the
    frame's grid within it everywhere, what lies beyond the scene as
    unlit). Causes, the best first: the best SEARCHED."""
    frame, scene_g = cells(points, lit) * 2.0 - 1, cells(points, shown)
    step = points.cols[1] - points.cols[0]
    n, m = frame.shape
    centre = np.array([scene.w / 2, scene.h / 2])
    found, spectra = [], {}
    for q in range(len(ORIENTATIONS)):
        a, b, c, d = ORIENTATIONS[q][0]
        o = np.array([[a, b], [c, d]], float)  # on (x right, y down)
        for s in SEARCHED_SCALES:
            # The canvas: the placed scene's grid, with half the frame about
            # it; each cell the scene's nearest point under the placement.
            corners = np.abs(s * o @ np.array([scene.w, scene.h]) / 2) + centre
            size = (np.ceil((corners[::-1] - centre[::-1]) * 2 / step).astype(int) + (n, m))
            origin = centre - size[::-1] * step / 2  # the canvas' top left
            rows, cols = np.mgrid[:size[0], :size[1]]
            at = np.stack([origin[0] + (cols.ravel() + 0.5) * step, origin[1] + (rows.ravel() + 0.5) * step])
            back = np.linalg.inv(s * o) @ (at - centre[:, None]) + centre[:, None]
            j, i = (np.floor(back / step)).astype(int)
            inside = (i >= 0) & (i < n) & (j >= 0) & (j < m)
            canvas = -np.ones(size[0] * size[1])
            canvas[inside] = scene_g[i[inside], j[inside]] * 2.0 - 1
            canvas = canvas.reshape(size)
            if tuple(size) not in spectra:  # the frame's, once for each canvas size
                spectra[tuple(size)] = np.conj(np.fft.rfft2(frame, size))
            corr = np.fft.irfft2(spectra[tuple(size)] * np.fft.rfft2(canvas), size)
            valid = corr[:size[0] - n + 1, :size[1] - m + 1]
            k = np.unravel_index(np.argmax(valid), valid.shape)
            # Frame cell (r, c) shows canvas cell (r + k0, c + k1): the move
            # is where the frame's cell lies less where the canvas' does.
            dx, dy = -(origin + np.array([k[1], k[0]]) * step)
            found.append((valid[k] / frame.size, Cause("placed", (q, nice(s), nice(s), int(round(dx)), int(round(dy))))))
    found.sort(key=lambda f: -f[0])
    return [c for _, c in found[:SEARCHED]]


# Scales searched for a picture cut short (a tenth of an octave apart:
# refined from there), and how many of the best are tried.
SEARCHED_SCALES = tuple(float(v) for v in 2 ** np.arange(0, 2.05, 0.1))
SEARCHED = 2


# Scales that a picture is put at, as a program, a driver or a desktop puts
# one: a scale found within NICE_REACH of one of them is taken as it.
NICE = (1, 0.5, 2, 0.25, 4, 2 / 3, 1.5, 0.75, 4 / 3, 0.8, 1.25, 0.9, 1.1, 1 / 3, 3)
NICE_REACH = 0.04


def nearest_nice(s):
    """nice(s), and the scales a picture is put at next below and above s,
    where they lie within 2 NICE_REACH of it."""
    near = [round(n, 4) for n in NICE if abs(np.log(s / n)) < 2 * NICE_REACH]
    below, above = [n for n in near if n <= s], [n for n in near if n > s]
    sides = ([max(below)] if below else []) + ([min(above)] if above else [])
    first = nice(s)
    return [first] + [n for n in sides if n != first]


def above(s):
    """The scales a picture is put at (NICE) above s, up to ABOVE times it."""
    return [round(n, 4) for n in NICE if s * np.exp(NICE_REACH) < n <= ABOVE * s]


# A picture cut short by the frame spreads that way as one this much
# smaller may (a picture stretched 1.5 up spreads as 1.25 at some angles).
ABOVE = 1.25


def nice(s):
    best = min(NICE, key=lambda n: abs(np.log(s / n)))
    return round(best, 4) if abs(np.log(s / best)) < NICE_REACH else round(s, 3)


# How far a placement is moved to fit the frame's outlines: first steps,
# and the farthest in all.
REACH = 4
FAR = 16


def refined(scene, cause, pixels, reach=REACH, background=(0, 0, 0), mapped=False):
    """A placement moved, and a scaled one scaled, to where the frame's lit
    pixels along the quads' outlines fit it best (the reduced copy cannot
    tell a pixel): a pattern search of the move in steps of `reach`, half
    that, one, no further than FAR; then of the scales in SCALE_STEPS with
    the move, each scale then taken as the nearest one a picture is put at
    (snaps) where a pixel cannot tell them apart. Lit: off `background`,
    the colour black shows as. A picture that covers the frame is placed by
    its colours: where they are `mapped` by a map not yet known, it is left
    as it is."""
    q, sx, sy, dx, dy = cause.values
    h, w = pixels.shape[:2]

    def moves(t):
        # t: the move from where the cause puts the picture, and the scales.
        # A scale is changed about the frame's centre: the move with it.
        return (dx + t[0]) * t[2] / sx, (dy + t[1]) * t[3] / sy

    def view(t):
        return placed_view(scene, q, *t[2:], *moves(t))

    def around(t):
        """The pixels within reach of the quads' outlines placed at t, and
        which are lit."""
        placed = scene.changed(view=view(t))
        near = np.zeros((h, w), bool)
        for quad in placed.quads.values():  # a box about each first
            box = placed.box_around([quad], reach + 2)
            near[box] |= np.abs(placed.inside_box(quad, box)) < reach + 2
        rows, cols = np.nonzero(near)
        return cols + 0.5, h - rows - 0.5, pixels[rows, cols].astype(float)

    def wrong(t):
        # A pixel half a pixel from an outline tells a move of one; half a
        # pixel more may go either way where the picture was resampled (but
        # where the scales are sought by the outlines: their least is in the
        # middle).
        s = scene.changed(view=view(t),
                          reach=0.25 + 0.5 * ((sx, sy) != (1, 1) and (covered or not scaling)))
        if covered:  # outlines between objects alone: their colours tell
            return fit(reference_at(s, x, y), got).total
        ref = reference_at(s, x, y, colours=None)
        return int(((ref.objects != BACKGROUND) != lit)[~ref.edge].sum())

    def search(at, least, steps):
        near = lambda at, step: [t for t in stepped(at, *step) if max(map(abs, t[:2])) <= FAR and t != at]
        at, most = climb(at, lambda t: -wrong(t), steps, near, -least, 0)
        return at, -most
    at, scaling = (0, 0, sx, sy), False
    x, y, got = around(at)
    lit = lit_at(got, background)
    # A picture placed to cover the frame has no outline against the
    # background: the colours along its outlines tell.
    covered = (reference_at(scene.changed(view=view(at)), x, y, colours=None).objects == BACKGROUND).sum() <= FEW
    if covered and mapped:
        return cause
    at, least = search(at, wrong(at), [(reach, 0), (reach // 2, 0), (1, 0)])
    for _ in range(3 * ((sx, sy) != (1, 1))):  # the outlines looked at again where the scales took them
        start, scaling = at, True
        x, y, got = around(at)
        lit = lit_at(got, background)
        at, least = search(at, wrong(at), [(1, k) for k in SCALE_STEPS])
        if at == start:
            break
    # Each scale taken as the nearest one a picture is put at that moves the
    # frame's border by less than a pixel, or fits the outlines as well,
    # with what resampling leaves either way.
    # Colours along outlines (a covered frame's) go either way at a share of
    # them where resampled.
    scaling = False
    as_well = lambda t, fits: wrong(t) <= fits * (1 + MISSES * covered) + FEW
    for k in (2, 3) if (sx, sy) != (1, 1) else ():
        fits = wrong(at)
        at = next((t for t in (at[:k] + (n,) + at[k + 1:] for n in snaps(at[k]))
                   if abs(t[k] - at[k]) * (w, h)[k - 2] / 2 < 1 or as_well(t, fits)), at)
    if at[2:] != (sx, sy):  # the move sought again at the scales taken, from afar: a pixel's step may not tell
        x, y, got = around(at)
        lit = lit_at(got, background)
        fits = wrong(at)
        moved, least = search(at, fits, [(reach, 0), (reach // 2, 0), (1, 0)])
        at = moved if least + FEW < fits else at
    for k in (0, 1) if (sx, sy) != (1, 1) else ():  # and a pixel's move of a resampled picture, where as well
        t = at[:k] + (-(dx, dy)[k],) + at[k + 1:]  # unmoved that way
        if abs(round(moves(at)[k])) == 1 and as_well(t, wrong(at)):
            at = t
    return Cause("placed", (q, round(at[2], 4), round(at[3], 4), *(int(round(m)) for m in moves(at))))


def stepped(at, move, scale):
    """A placement's neighbours: (dx, dy, sx, sy) with a move a step
    either way, and a scale a share either way."""
    (dx, dy, sx, sy), k = at[:4], 1 + scale
    return [(dx + move, dy, sx, sy) + at[4:], (dx - move, dy, sx, sy) + at[4:], (dx, dy + move, sx, sy) + at[4:],
            (dx, dy - move, sx, sy) + at[4:], (dx, dy, sx * k, sy) + at[4:], (dx, dy, sx / k, sy) + at[4:],
            (dx, dy, sx, sy * k) + at[4:], (dx, dy, sx, sy / k) + at[4:]]


def climb(at, score, steps, near, best=None, top=np.inf):
    """A pattern search: from `at` (its `score` already `best`, where
    known), for each of `steps` in turn, to the first of its `near`(at,
    step) that scores higher, while one does and the score is below
    `top`: (where it ends, its score)."""
    best = score(at) if best is None else best
    for step in steps:
        moved = True
        while moved and best < top:
            moved = False
            for t in near(at, step):
                if (v := score(t)) > best:
                    at, best, moved = t, v, True
    return at, best


# A scale is refined in steps of these shares of it.
SCALE_STEPS = (0.02, 0.005, 0.001)


def snaps(s):
    """The scales a picture is put at (NICE), then those of one decimal,
    then of two, within SNAP_REACH of s, each the nearest first."""
    near = {round(n, 4) for n in NICE + tuple(np.round(s, 2) + np.array([-0.01, 0, 0.01])) + (round(s, 1),)
            if abs(np.log(s / n)) < SNAP_REACH}
    return sorted(near, key=lambda n: (all(abs(n - m) > 1e-4 for m in NICE), abs(n - round(n, 1)) > 1e-4,
                                       abs(n - s)))


# A refined scale is taken as one a picture is put at this near it, where
# that fits the outlines as well, with what resampling leaves either way.
SNAP_REACH = 0.03


# ---------------------------------------------------- what colours became

LEVELS = np.arange(256, dtype=float)


# A point of one colour is one where GL may show levels this far apart.
CERTAIN = 4


def certain(reference, share=CERTAIN):
    """Points of one colour each (what GL allows within `share` levels),
    away from every edge."""
    return ~reference.edge & np.isin(reference.objects, JUDGED) & ((reference.hi - reference.lo).max(axis=1) <= share)


def colour_map(want, got, objects):
    """The map of every colour carrying the scene's colours `want` (n, 3) at
    points of one colour each onto those shown, `got`: each channel an
    affine mix of the three (least squares over the scene's distinct
    colours) or else a curve of one, that every object (`objects`: each
    point's, MAP_OBJECTS of them at least) fits at all but MISSES of its
    points: (matrix 3 x 3, offset (3,), curves 3 x 256), or None."""
    kinds, counts = np.unique(objects, return_counts=True)
    if len(want) < MIN_POINTS or (counts >= MIN_POINTS).sum() < MAP_OBJECTS:
        return None
    keys, index = np.unique(np.round(want), axis=0, return_inverse=True)
    index = index.ravel()
    medians = np.stack([group_medians(index, got[:, c], len(keys)) for c in range(3)], axis=1)

    def holds(lo, hi, c):
        close = (got[:, c] >= np.minimum(lo, hi) - LEVELS_OFF) & (got[:, c] <= np.maximum(lo, hi) + LEVELS_OFF)
        return all(close[objects == o].mean() >= 1 - MISSES for o, n in zip(kinds, counts) if n >= MIN_POINTS)
    matrix, offset, curves = np.zeros((3, 3)), np.zeros(3), np.tile(LEVELS, (3, 1))
    design = np.column_stack([keys, np.ones(len(keys))])

    def mix(c, fitted=slice(None), clips=False):
        """Channel c as a mix fitted at the keys `fitted`, showing what it
        takes past black or white as them where it `clips`: its
        coefficients (4,) and how far off it lies on the mean (inf where it
        fails)."""
        coef, *_ = np.linalg.lstsq(design[fitted], medians[fitted, c], rcond=None)
        coef = np.where(np.abs(coef) < 0.02, 0, coef)  # a rounding's
        predicted = np.column_stack([want, np.ones(len(want))]) @ coef
        predicted = np.clip(predicted, 0, 255) if clips else predicted
        return coef, np.abs(predicted - got[:, c]).mean() if holds(predicted, predicted, c) else np.inf
    for c in range(3):
        coef, affine = mix(c)
        if affine <= ROUND:
            matrix[c], offset[c] = coef[:3], coef[3]
            continue
        best = None
        for j in range(3):  # a curve of one channel
            at, shown = read_curve(want[:, j], got[:, c])
            if len(at) < 2 or not (keeps_apart(at, shown) or staircase(at, shown)):
                continue
            curve = np.interp(LEVELS, at, shown)
            # A point's colour is known within CERTAIN levels: a steep curve
            # may show anything it gives over them.
            predicted = [curve[np.clip(np.round(want[:, j]) + d, 0, 255).astype(int)] for d in (0, -CERTAIN, CERTAIN)]
            off = np.abs(predicted[0] - got[:, c]).mean()
            if holds(*predicted[1:], c) and (best is None or off < best[0]):
                best = (off, j, curve)
        # A mix that holds but is off by more than a rounding on the mean is
        # a gentle curve's likeness where a curve fits twice as close.
        if best is not None and best[0] * 2 < affine:
            matrix[c, best[1]], curves[c] = 1, best[2]
            continue
        inside = (medians[:, c] > ROUND) & (medians[:, c] < 255 - ROUND)
        if not np.isfinite(affine) and inside.sum() >= MIN_POINTS:
            # A mix that takes levels past black or white shows them as
            # black or white: where no curve holds, fitted where it shows
            # neither.
            coef, affine = mix(c, inside, clips=True)
        if not np.isfinite(affine):
            return None
        matrix[c], offset[c] = coef[:3], coef[3]
    # Whole levels: a fit's 0.998 is the 1 a program gave.
    matrix = np.where(np.abs(matrix - np.round(matrix)) < 0.02, np.round(matrix), matrix)
    offset = np.where(np.abs(offset - np.round(offset / 255) * 255) < ROUND, np.round(offset / 255) * 255, offset)
    # A map that shows every colour as one shows nothing of the picture (the
    # scene's colours where they fell, a picture moved off them).
    if np.ptp(mapped(np.eye(4, 3) * 255, matrix, offset, curves), axis=0).max() <= LEVELS_OFF:
        return None
    return matrix, offset, curves


def mapped(colours, matrix, offset, curves):
    """Colours (n, 3) as a colour map shows them."""
    mixed = np.clip(np.asarray(colours, float) @ np.asarray(matrix).T + offset, 0, 255)
    return np.asarray(curves)[np.arange(3), np.round(mixed).astype(int)]


def unmap(pixels, matrix, offset, curves):
    """Pixels (..., 3) uint8 with a colour map undone (each curve run back,
    then the mix), or None where a mix loses a channel."""
    m = np.asarray(matrix, float)
    if abs(np.linalg.det(m)) < 1e-3:
        return None
    back = np.empty((3, 256))
    for c in range(3):
        f = np.asarray(curves[c], float)
        rising = f[-1] >= f[0]
        g = np.maximum.accumulate(f if rising else f[::-1])
        back[c] = run_back(g) if rising else 255 - run_back(g, 255)
    src = np.argmax(np.abs(m), axis=1)
    if (np.count_nonzero(m, axis=1) == 1).all() and len(set(src)) == 3:  # each channel one of the scene's: by table
        out = np.empty_like(pixels)
        for c in range(3):  # channel src[c] of the scene shows in channel c, scaled
            table = np.clip(np.round((back[c] - offset[c]) / m[c, src[c]]), 0, 255).astype(np.uint8)
            out[..., src[c]] = table[pixels[..., c]]
        return out
    # Each channel k of the scene: sum over c of back[c][pixel c] * inv[k, c],
    # less the offset's share; by tables of 256, a channel at a time.
    inv = np.linalg.inv(m)
    out = np.empty_like(pixels)
    want = np.empty(pixels.shape[:-1], np.float32)
    for k in range(3):
        tables = (back * inv[k][:, None]).astype(np.float32)
        np.take(tables[0], pixels[..., 0], out=want)
        want += tables[1][pixels[..., 1]]
        want += tables[2][pixels[..., 2]]
        want -= np.float32(np.dot(offset, inv[k]))
        np.clip(np.rint(want, out=want), 0, 255, out=want)
        out[..., k] = want
    return out


def run_back(g, black=0):
    """The level each level shown came from, under a rising curve g (256):
    between the levels it was read at, linearly; where several show one
    level, their middle, but where they hold black (the end `black`, 0 or
    255, of g's levels) no further from it than BLACK / 2 (the clear colour
    stays the clear colour)."""
    first, last = np.searchsorted(g, LEVELS, "left"), np.searchsorted(g, LEVELS, "right") - 1
    out = np.interp(LEVELS, g, LEVELS)
    flat = first <= last
    out[flat] = (first[flat] + last[flat]) / 2
    if black == 0:
        out[flat & (first == 0)] = np.minimum(out, BLACK / 2)[flat & (first == 0)]
    else:
        out[flat & (last == 255)] = np.maximum(out, 255 - BLACK / 2)[flat & (last == 255)]
    return out


def read_curve(levels, shown):
    """One channel's curve as (levels, shown): the median shown at each
    level MIN_POINTS points share, and at runs of neighbouring levels."""
    values, index, counts = np.unique(np.round(levels), return_inverse=True, return_counts=True)
    many = counts >= MIN_POINTS
    at, got = list(values[many]), list(group_medians(index.ravel(), shown, len(values))[many])
    rest = ~many[index.ravel()]
    order = np.argsort(levels[rest], kind="stable")
    lv, sh = levels[rest][order], shown[rest][order]
    m = len(lv) // MIN_POINTS * MIN_POINTS  # runs of MIN_POINTS, each within two thirds of LEVELS_OFF
    runs, shows = lv[:m].reshape(-1, MIN_POINTS), sh[:m].reshape(-1, MIN_POINTS)
    near = runs[:, -1] - runs[:, 0] <= 2 * LEVELS_OFF / 3
    at += list(np.median(runs[near], axis=1))
    got += list(np.median(shows[near], axis=1))
    order = np.argsort(at)
    return np.asarray(at, float)[order], np.asarray(got, float)[order]


def group_medians(index, values, n):
    """The median of `values` (m,) in each of n groups (`index` (m,): each
    value's group; every group holds one at least): (n,)."""
    order = np.lexsort((values, index))
    counts = np.bincount(index, minlength=n)
    starts = np.concatenate([[0], np.cumsum(counts)[:-1]])
    v = np.asarray(values, float)[order]
    return (v[starts + (counts - 1) // 2] + v[starts + counts // 2]) / 2


def keeps_apart(at, shown):
    """Whether a curve runs one way (but for a rounding) and keeps levels
    CURVE_APART apart at least CURVE_SQUEEZE of that apart: one that
    squeezes them is colours lost, one that turns back two objects off.
    Each level is compared with the next a level or more above it: a run
    of levels read across a curve's step shows any level of the step."""
    after = np.searchsorted(at, at + 1)
    steps = shown[after[after < len(at)]] - shown[after < len(at)]
    if not ((steps >= -LEVELS_OFF / 2).all() or (steps <= LEVELS_OFF / 2).all()):
        return False
    i, j = np.triu_indices(len(at), 1)
    far = at[j] - at[i] >= CURVE_APART
    gap = (shown[j] - shown[i])[far] / (at[j] - at[i])[far]
    return bool(not far.any() or (gap >= CURVE_SQUEEZE).all() or (gap <= -CURVE_SQUEEZE).all())


def staircase(at, shown):
    """Whether a curve read at levels `at` is a few steps one way, each
    shown at levels a run of STAIR or more wide, and the next a step of
    more than LEVELS_OFF on: every colour posterised into from 2 to POSTERISED
    levels a channel, the levels of a step lost alike wherever they lie (a
    single object's colours lost squeeze that object's levels alone, which
    no curve of every object's holds)."""
    cut = np.flatnonzero(np.abs(np.diff(shown)) > LEVELS_OFF) + 1
    steps = list(zip(np.split(at, cut), np.split(shown, cut)))
    rises = np.sign(np.diff([np.median(s) for _, s in steps]))
    wide = [np.ptp(a) >= STAIR and np.ptp(s) <= LEVELS_OFF for a, s in steps]
    # A lone reading between two steps, or at black or white (an end step
    # the scene shows at one level).
    between = all(w or len(a) == 1 and (0 < k < len(steps) - 1 or a[0] in (0, 255))
                  for k, (w, (a, _)) in enumerate(zip(wide, steps)))
    return bool(2 <= sum(wide) <= POSTERISED and (rises == rises[0]).all() and between)


# A step of a posterised curve is read over levels this far apart at least.
STAIR = 16


# Objects (the background counts) that a map of every colour must be seen on.
MAP_OBJECTS = 3


def colour_causes(scene, ref, points):
    """A map of every colour and the background replaced: Causes fitted at
    the points of one colour of the scene's picture `ref`, the gradient's
    along either diagonal (GL leaves that open)."""
    out = []
    gradient = (ref.objects == 2) & ~ref.edge
    blends = scene.blends(scene.quads["gradient quad"], points.x[gradient], points.y[gradient])
    for blend in blends:
        lo = ref.lo.copy()
        lo[gradient] = blend
        sure = certain(ref) | gradient
        want, got, objects = lo[sure], points.got[sure], ref.objects[sure]
        found = colour_map(want, got, objects)
        if found is not None:
            break
    if found is not None:
        moved = np.abs(mapped(want, *found) - want).max(axis=1) > MOVES
        if moved.sum() >= MIN_POINTS:
            colours = map_examples(want[moved], found)
            examples = tuple((c, tuple(int(v) for v in mapped([c], *found)[0])) for c in colours)
            out.append(Cause("colours", tuple(tuple(map(tuple, np.round(v, 4))) if np.ndim(v) == 2 else
                                              tuple(np.round(v, 4)) for v in found) + (examples,)))
    bg = objects == BACKGROUND
    if bg.sum() >= MIN_POINTS:
        c = np.median(got[bg], axis=0)
        if c.max() > BLACK and (np.abs(got[bg] - c).max(axis=1) <= LEVELS_OFF).mean() >= 1 - MISSES:
            out.append(Cause("background", tuple(int(v) for v in np.round(c))))
    return out


def map_examples(moved, found):
    """Two colours a map moves, for its words: greys where it moves them
    further than a point may lie off and shows them as read, not as its
    curve runs between the levels read (a level CERTAIN either side shows
    within LEVELS_OFF), those it moves so first; else those it moves most,
    of those it shows as read where there are any."""
    levels = [v for v in EXAMPLE_GREYS if np.ptp(mapped([(v + d,) * 3 for d in (-CERTAIN, 0, CERTAIN)], *found),
                                                  axis=0).max() <= LEVELS_OFF]
    levels.sort(key=lambda v: np.abs(mapped([(v,) * 3], *found) - v).max() <= LEVELS_OFF)
    greys = np.array([(v,) * 3 for v in levels[:2]], float)
    if len(greys) == 2 and np.abs(mapped(greys, *found) - greys).max() > LEVELS_OFF and \
            np.allclose(found[0], np.diag(np.diag(found[0]))):
        return tuple(map(tuple, greys.astype(int)))
    colours = np.unique(np.clip(np.round(moved), 0, 255).astype(int), axis=0)
    steady = np.ptp([mapped(colours + d, *found) for d in (-CERTAIN, 0, CERTAIN)], axis=0).max(axis=1) <= LEVELS_OFF
    colours = colours[steady] if steady.any() else colours  # not at a step the curve runs between its readings
    shifts = np.abs(mapped(colours, *found) - colours).max(axis=1)
    return tuple(map(tuple, colours[np.argsort(-shifts, kind="stable")[:2]]))


# The greys a map's words show it at, the first two where its curve is
# known: mid levels, which every frame shows, not the ends beyond the last
# level read.
EXAMPLE_GREYS = (64, 128, 96, 160)


# --------------------------------------------- what every primitive lost

def corner_scene(scene, k):
    """Every quad drawn as the triangle of its corners but k."""
    quads = {n: q._replace(drawn=tuple(i for i in range(4) if i != k)) for n, q in scene.quads.items()}
    return scene.changed(quads=quads)


def one_colour_scene(scene, colour):
    """Every glColor lost for `colour`: the gradient and the box in it, the
    textured quads tinted by it where the shaders tint."""
    quads = dict(scene.quads)
    quads["gradient quad"] = quads["gradient quad"]._replace(colours=(tuple(colour),) * 4)
    if tuple(scene.tint) != PLAIN_TINT:  # the project's shaders tint the texel by the colour
        for name in ("tiled quad", "image quad"):
            quads[name] = quads[name]._replace(tint=tuple(np.asarray(colour, float) / 255))
    return scene.changed(quads=quads, box_colour=tuple(colour))


def primitive_causes(scene, ref, points):
    """Every quad drawn as one triangle; every object in the gradient's one
    colour, where it shows one."""
    out = [Cause("corner", (k,)) for k in range(4)]
    on = (ref.objects == 2) & ~ref.edge
    if on.sum() >= MIN_POINTS:
        c = np.median(points.got[on], axis=0)
        if c.max() > LEVELS_OFF and (np.abs(points.got[on] - c).max(axis=1) <= LEVELS_OFF).mean() >= 1 - MISSES:
            out.append(Cause("one colour", tuple(int(v) for v in np.round(c))))
    return out


# ----------------------------------------------- judging under a cause

# The kinds of cause a frame can be judged under (judging): the changes of
# the picture the reduced copy is fitted with.
CHANGES = ("placed", "corner", "one colour", "resolution", "colours", "background", "both")


def judging(cause, frame, scene):
    """(frame, scene) as the checks judge them under a cause, or None where
    they cannot (a map that cannot be undone)."""
    k, v = cause.kind, cause.values
    if k == "placed":
        return frame, under(cause, scene)
    if k == "corner":
        return frame, corner_scene(scene, v[0])
    if k == "one colour":
        return frame, one_colour_scene(scene, v)
    if k == "resolution":
        f, how, w, h = v
        view = viewport(w, h)
        if how == SAMPLED:  # low pixel i is the pixel f i of the window's drawing: its centre there
            view = view + [[0, 0, 0.5 - 0.5 / f], [0, 0, 0.5 / f - 0.5]]
        return reframed(frame, block_middles(frame.pixels, f, w, h) if how == SMOOTHED
                        else frame.pixels[:h * f:f, :w * f:f]), scene.changed(w=w, h=h, view=view, quads=scene.quads)
    if k == "colours":
        undone = unmap(frame.pixels, *v[:3])
        return None if undone is None else (reframed(frame, undone), scene)
    if k == "background":
        return reframed(frame, unbackground(frame.pixels, scene, v)), scene
    if k == "both":
        undone = judging(v[1], frame, scene)
        return None if undone is None else (undone[0], under(v[0], scene))
    raise ValueError(f"no judging under a cause of kind {k!r}")


def block_middles(pixels, f, w, h):
    """A picture of w x h pixels shown f times its size and smoothed, read
    back (unsmoothed across, then up): (h, w, 3) float."""
    p = unsmoothed(pixels, f, w)
    return np.clip(unsmoothed(p.transpose(1, 0, 2), f, h).transpose(1, 0, 2), 0, 255)


def unsmoothed(p, f, n):
    """The n pixels across of the picture that rows p (rows, columns, 3)
    are, scaled f times across (bilinear, pixel centres on pixel centres):
    float32. Where f is odd, each block's middle pixel is the small
    picture's own. Where it is even, the two pixels after a block's middle
    lie 1/(2f) and 3/(2f) of a small pixel past its centre: blends of it and
    the next alone, it is 3/2 of the first less 1/2 of the second (the
    last, which has no next, is held: the frame's last pixel stands for
    it)."""
    first = f // 2 + f * np.arange(n)
    if f % 2:
        return p[:, first].astype(np.float32)
    second = np.minimum(first + 1, p.shape[1] - 1)
    return 1.5 * p[:, first].astype(np.float32) - 0.5 * p[:, second].astype(np.float32)


def smoothing_off(rows, f):
    """How far rows (n, w, 3) lie from the picture f times smaller that
    they are read as (unsmoothed), scaled back up: the mean level off (a
    rounding's where they are that picture)."""
    n = rows.shape[1] // f
    p = rows.astype(np.float32)
    back = along(unsmoothed(p, f, n), (np.arange(n * f) + 0.5) / f - 0.5, 1)
    return float(np.abs(back - p[:, :n * f]).mean())


def along(p, at, axis):
    """A picture sampled at positions `at` along one axis (pixel centres on
    whole numbers), linearly between its pixels, its ends held."""
    n = p.shape[axis]
    i0 = np.floor(at).astype(int)
    t = (at - i0).astype(np.float32)
    a = np.take(p, np.minimum(np.maximum(i0, 0), n - 1), axis=axis)
    b = np.take(p, np.minimum(np.maximum(i0 + 1, 0), n - 1), axis=axis)
    shape = [1, 1, 1]
    shape[axis] = len(at)
    t = t.reshape(shape)
    return a + (b - a) * t


def reframed(frame, pixels):
    """A copy of the frame with other pixels (its size theirs)."""
    out = copy.copy(frame)
    out.pixels = np.ascontiguousarray(np.round(pixels).astype(np.uint8))
    out.h, out.w = out.pixels.shape[:2]
    return out


def unbackground(pixels, scene, colour):
    """The background's colour put back to black where no quad lies."""
    from .look import paste, patch
    covered = paste(pixels.shape[:2], [patch(scene, q) for q in scene.quads.values()], "covers")
    out = pixels.copy()
    out[(np.abs(pixels.astype(np.int16) - np.array(colour)).max(axis=2) <= LEVELS_OFF) & ~covered] = 0
    return out


def under(cause, scene):
    """The scene as a cause makes it."""
    k, v = cause.kind, cause.values
    if k == "placed":
        return scene.changed(view=placed_view(scene, *v), reach=scene.reach + resampled(*v[1:3]))
    if k == "corner":
        return corner_scene(scene, v[0])
    if k == "one colour":
        return one_colour_scene(scene, v)
    if k == "both":
        return under(v[0], scene)
    return scene


def coarse(points, ident):
    """Every other point of a reduced copy each way, and its Reference: a
    first look that rules out most causes at a quarter of the cost."""
    step = points.cols[1] - points.cols[0] if len(points.cols) > 1 else 1
    keep = ((points.rows // step) % 2 == 0) & ((points.cols // step) % 2 == 0)
    return Points(*(v[keep] for v in points)), Reference(*(v[keep] for v in ident))


def fits_under(cause, scene, points, ident):
    """How the reduced copy fits the scene's picture under a cause: a Fit."""
    if cause.kind == "both":
        return fits_under(cause.values[1], scene, points, reference_at(under(cause, scene), points.x, points.y))
    if cause.kind == "colours":
        # A curve read at a few levels may run steeper between them: what
        # it gives CERTAIN levels either side.
        matrix, offset, curves, _ = cause.values
        shown = mapped(ident.lo - CERTAIN, matrix, offset, curves), mapped(ident.hi + CERTAIN, matrix, offset, curves)
        return fit(ident._replace(lo=np.minimum(*shown), hi=np.maximum(*shown)), points.got)
    if cause.kind == "background":
        ref = ident._replace(lo=ident.lo.copy(), hi=ident.hi.copy())
        bg = ref.objects == BACKGROUND
        ref.lo[bg] = ref.hi[bg] = cause.values
        return fit(ref, points.got)
    return fit(reference_at(under(cause, scene), points.x, points.y), points.got)


def candidates(scene, points, ident, shown):
    """The causes the reduced copy may show (`shown`: shows_change's),
    fitted from it, the cheapest first; where it shows colours alone, of
    the colours."""
    out = colour_causes(scene, ident, points) + primitive_causes(scene, ident, points)
    if shown == "colours":
        return [c for c in out if c.kind in COLOURS]
    return out + placements(scene, points, ident)


def both(scene, points, ident, placements, pixels):
    """A placement and a map of every colour at once: for the COMPOUNDED
    placements whose objects best fall on the frame's lit points (lit: off
    the colour the frame shows most, its background, whatever a map makes
    of black), and the first of `placements` (the best fitted: a picture
    that covers the frame has no background to light it by): the map the
    frame's colours show under each, where it lies or else moved to where
    the frame's outlines put it (refined); the placement moved again on the
    frame with the map undone, where it can be. Causes of kind
    "both", (the placement, the map), that fit the reduced copy as a
    correct frame fits."""
    from .look import line_coloured
    colours, counts = np.unique(np.round(points.got / MEAN_OFF), axis=0, return_counts=True)
    background = colours[np.argmax(counts)] * MEAN_OFF
    lit = lit_at(points.got, background) & ~line_coloured(points.got, scene.box_colour)
    if lit.sum() < MIN_POINTS:  # nothing off the background: no outline to place a picture by
        return []
    refs = {p: reference_at(under(p, scene), points.x, points.y, colours=None) for p in placements}
    shown = lambda ref: (ref.objects != BACKGROUND) & (ref.objects != BOX)
    ranked = sorted(placements, key=lambda p: int((shown(refs[p]) != lit)[~refs[p].edge].sum()))
    def maps(p):
        """The maps the frame's colours show under p, each with the frame
        it undoes (None where it cannot be undone)."""
        found = colour_causes(under(p, scene), reference_at(under(p, scene), points.x, points.y), points)
        return [(c, unmap(pixels, *c.values[:3]) if c.kind == "colours" else None) for c in found]
    out, moved = [], 0
    for p in dict.fromkeys(ranked[:COMPOUNDED] + placements[:1]):
        # Where it lies already, a map shows and undone places it; else it is
        # moved to where the frame's outlines put it, the map unknown (the
        # COMPOUNDED likeliest alone: each costs hundreds of fits).
        found = maps(p)
        if all(undone is None for _, undone in found) and moved < COMPOUNDED and \
                lies_on(refs[p], points.got, background):
            p, moved = refined(scene, p, pixels, background=background, mapped=True), moved + 1
            found = maps(p)
        for c, undone in found:
            q = p if undone is None else refined(scene, p, undone)
            if q != p:  # the map read again where the picture lies
                c = next((m for m, _ in maps(q) if m.kind == c.kind), c)
            cause = Cause("both", (q, c))
            if fits_under(cause, scene, points, ident).explains(2 * MISSES):
                out.append(cause)
    return out


# A placement and a map at once are looked for under so many placements.
COMPOUNDED = 2


def lies_on(ref, got, background):
    """Whether most of the points where a placement puts the background show
    one colour, `background`: a placement that lies on the frame's, not on
    what lies behind a see-through window, or nowhere."""
    on = (ref.objects == BACKGROUND) & ~ref.edge
    return bool(on.sum() >= MIN_POINTS and (np.abs(got[on] - background).max(axis=1) <= LEVELS_OFF).mean() > 0.5)


# The kinds of cause that change colours only.
COLOURS = ("colours", "background", "one colour")


# -------------------------------------------- drawn at another resolution

# How a picture of another resolution is shown: drawn at that size, each
# pixel repeated, or smoothed; or drawn at the window's, every f-th pixel of
# it shown, repeated.
REPEATED_PIXELS, SMOOTHED, SAMPLED = 0, 1, 2
# Resolutions a picture may be drawn at, as a share of the window's size (a
# half to a fifteenth, a picture of SMALLEST pixels each way at least: a
# fifteenth of 640 x 480, a twelfth of 800 x 300). A picture shown with each
# pixel repeated has all its blocks of one colour (but for a rounding); one
# drawn at its size has steps in more than a thousandth of them.
FACTORS = tuple(range(2, 16))
SMALLEST = 24
REPEATED = 0.999


def resolution(frame):
    """The resolution of a frame whose f x f blocks are each of one colour:
    Cause("resolution", (f, 0, w, h)), or None."""
    p = frame.pixels
    h, w = p.shape[:2]
    if RESOLUTION[0] is frame:
        return RESOLUTION[1]
    found = None
    for f in sorted(FACTORS, reverse=True):  # a picture repeated 4 times is repeated twice too
        lw, lh = w // f, h // f
        if lw < SMALLEST or lh < SMALLEST:
            continue
        # Every eighth row of blocks, then every fourth of the others: a frame
        # of finer detail fails at the first.
        blocks = p[:lh * f, :lw * f].reshape(lh, f, lw, f, 3)
        for rows in (blocks[::8], blocks[1::4]):
            # Two rows of blocks from the middle first: where they alone have
            # more blocks of steps than all of them may, the rest is not read.
            middle = len(rows) // 2
            if uneven(rows[middle:middle + 2]) > (1 - REPEATED) * len(rows) * lw:
                uniform = 0
                break
            uniform = 1 - uneven(rows) / (len(rows) * lw)
            if uniform < REPEATED:
                break
        if uniform >= REPEATED and 0 < (rows[:, 0, :, 0].max(axis=2) > LEVELS_OFF).mean() < 1:
            found = Cause("resolution", (f, 0, lw, lh))
            break
    RESOLUTION[:] = [frame, found]
    return found


# The last frame asked and its resolution: asked again of the same frame.
RESOLUTION = [None, None]


def uneven(rows):
    """How many blocks (rows of blocks: (n, f, w, f, 3)) are not of one
    colour, but for a rounding."""
    rows = rows.astype(np.int16)
    return int((np.abs(rows - rows[:, :1, :, :1]).max(axis=(1, 3, 4)) > ROUND).sum())


def repeated(frame):
    """A picture of f x f blocks: drawn at 1/f of the size, or drawn at the
    window's and every f-th pixel shown (a line may fall between them):
    Causes of kind "resolution", or none."""
    c = resolution(frame)
    return [c, Cause("resolution", (c.values[0], SAMPLED) + c.values[2:])] if c else []


def smoothed(frame):
    """The resolutions a frame of no step steeper than half the levels was
    drawn at and shown smoothed: those whose read-back scales up again to
    its rows within SMOOTH of their own steps (smoothing_off), as Causes,
    the coarsest first."""
    if SMOOTHING[0] is frame:
        return SMOOTHING[1]
    h, w = frame.pixels.shape[:2]
    found = []
    for every in (16, 3):  # a frame drawn at its size shows a steep step at a few rows already
        p = frame.pixels
        steep = max(np.abs(np.diff(p[:, ::every].astype(np.int16), axis=0)).max(),
                    np.abs(np.diff(p[::every].astype(np.int16), axis=1)).max())
        if steep > 128 + ROUND:
            break
    else:
        rows = frame.pixels[::8]
        steps = np.abs(np.diff(rows.astype(np.float32), axis=1)).mean()
        off = {f: smoothing_off(rows, f) for f in FACTORS if w // f >= SMALLEST and h // f >= SMALLEST}
        # A picture smoothed from a small one is smooth at every finer
        # fraction too: the coarsest that scales up again to it, first.
        found = [Cause("resolution", (f, 1, w // f, h // f)) for f in sorted(off, reverse=True)
                 if off[f] <= SMOOTH * steps]
    SMOOTHING[:] = [frame, found]
    return found


# A picture scaled up smoothed scales up again from its read-back to within
# this share of its rows' own steps (bilinear: 0.02 and less, measured; a
# picture drawn at the window's size, 0.7 and more, its levels squeezed or
# not; one smoothed from another fraction, 0.25 and more).
SMOOTH = 0.1
# The last frame asked and the resolutions it was smoothed from.
SMOOTHING = [None, []]


def shows_resolution(frame, cause):
    """Whether the frame's pixels are repeated or smoothed as the cause says."""
    f, how = cause.values[:2]
    return cause.values[0] in [c.values[0] for c in smoothed(frame)] if how == SMOOTHED else \
        Cause("resolution", (f, 0, frame.w // f, frame.h // f)) == resolution(frame)


def resized(cause, frame):
    """A cause made for another frame's size, made for this one's."""
    if cause.kind != "resolution":
        return cause
    f, smooth = cause.values[:2]
    return Cause("resolution", (f, smooth, frame.w // f, frame.h // f))


def loses(cause):
    """Whether a cause may lose what is thinner than a pixel: resampling (a
    line thinner than its step), colours squeezed towards black (48 shown
    as nothing: a quad's slivers, an edge's part-covered pixels) or shown
    as one over a run of levels (a mix or a curve that clips, a
    posterised curve: undone, a region's mean lies off by half the run,
    more than the colour checks allow)."""
    if cause.kind == "both":
        return any(map(loses, cause.values))
    if cause.kind == "colours":
        matrix, offset, curves, _ = cause.values
        m = np.asarray(matrix, float)
        reach = offset + 255 * np.minimum(m, 0).sum(axis=1), offset + 255 * np.maximum(m, 0).sum(axis=1)
        return bool((mapped([(2 * LEVELS_OFF,) * 3], matrix, offset, curves) <= LEVELS_OFF).any()) or \
            max(map(flat_run, curves)) > 2 * MEAN_OFF or (reach[0] < -2 * MEAN_OFF).any() or \
            (reach[1] > 255 + 2 * MEAN_OFF).any()
    return cause.kind == "resolution" or cause.kind == "placed" and cause.values[1:3] != (1, 1)


def flat_run(curve):
    """The most levels in a row that a curve (256) shows as one: undone,
    a run of them is taken as its middle."""
    return int(runs(curve)[1].max())


def flat_colour(pixels, judged=None, misses=FEW):
    """The one colour of a frame (of its `judged` pixels) that shows nothing
    else, within BLACK, but at `misses` of them; or None (a sparse sample
    first: a frame with anything drawn costs little)."""
    judged = np.ones(pixels.shape[:2], bool) if judged is None else judged
    sample = pixels[::8, ::8][judged[::8, ::8]].astype(np.int16)
    c = np.round(np.median(sample, axis=0)) if len(sample) else None
    if c is None or (np.abs(sample - c).max(axis=1) > BLACK).any():
        return None
    off = (np.abs(pixels[judged].astype(np.int16) - c).max(axis=1) > BLACK).sum()
    return tuple(int(v) for v in c) if off <= misses else None


def angle_scene(scene, offset):
    """The scene drawn at its angle + offset."""
    return scene.changed(angle=scene.angle + offset, quads=None)


def signature(pixels):
    """A digest of a frame's pixels (a correct machine's quads turn every
    frame: its pictures all differ); asked again of the same pixels, the
    one made."""
    if SIGNED[0] is not pixels:
        SIGNED[:] = [pixels, hashlib.sha1(np.ascontiguousarray(pixels).data).digest()]
    return SIGNED[1]


# The pixels signed last and their signature.
SIGNED = [None, None]


def same_picture(a, b):
    """Whether two frames' signatures show one picture."""
    return a is not None and a == b
