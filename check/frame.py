"""The checks of one captured frame against the scene (scene.py).

A pixel is judged by coverage: the share of an object's colour that it
holds over the black background, from 0 (nothing) to 1 (the object alone).
Without multisampling GL covers exactly the pixels whose centres lie inside;
with it, the samples inside, resolved into the pixel in a way GL leaves
open. Outlines are compared where nothing else comes within 2 pixels, so
that what lies beyond an edge is the black background. A colour is asserted
as the range of what the quad may show there: on a textured quad, any blend
of the texels its lookup may reach (scene.Scene.footprint).

Each check gives None or a Problem: what the user reads, and the evidence
the report draws: the pixels that disagree, the place the words name, and
the misread scene that fits, where one does."""
import re
from typing import NamedTuple

import numpy as np

from .misreadings import ANGLES, COLOURS, OUTLINES
from .scene import SNAP, Colours, either

# Levels a channel may differ from the colour expected: three steps of a
# 16-bit visual's 5 bits a channel (its rounding and a dither), and the
# rounding of filtering and of the gradient's interpolation. (Seen on
# llvmpipe and softpipe, every frame, 24 and 16 bits, 4 samples: at most 12.)
TOLERANCE = {"tiled quad": 24, "image quad": 24, "gradient quad": 24}
# A quad's colours may be off at this share of its points (dither, a texel
# at a cell's corner) before its check fails.
COLOUR_MISSES = 0.1
# A pixel brighter than this in any channel holds something.
FOREGROUND = 24
# A channel's share of a colour is read to within a 16-bit visual's step.
COLOUR_STEP = 8
# Beyond this many levels in a channel, a pixel is no share of a quad's
# colour: something else, or a colour the quad cannot show there.
NOT_A_SHARE = 48
# A pixel off by more than half a share, beyond a pixel from the outline,
# is off the outline; more than this many of them fail the check.
STRAY_PIXELS = 3
# A misreading is named when it leaves no more than STRAY_PIXELS off, the
# scene leaves at least CLEAR_RESIDUAL of coverage unexplained, and the
# misreading less than half of that.
CLEAR_RESIDUAL = 20
# The quads that turn with the frame's angle.
TURNING = ("tiled quad", "gradient quad")
# How far from its centre a pixel's square reaches: half its diagonal, and
# GL's snapping.
PIXEL_REACH = 2 ** 0.5 / 2 + SNAP
# Sample positions (x, y up, within a pixel) where GL did not tell them.
STANDARD_POSITIONS = {2: [(0.75, 0.25), (0.25, 0.75)],
                      4: [(0.375, 0.875), (0.875, 0.625), (0.125, 0.375), (0.625, 0.125)]}
# Ways a driver resolves samples into a pixel: weights and a curve (1 / 2.2:
# the mean of their light, gamma-correct).
GAMMA = 1 / 2.2
# Outlines and colours are judged where nothing else comes this near (the
# box's lines, other quads, other outlines), in pixels.
APART = 2
# Colours are read every COLOUR_GRID pixels inside a quad.
COLOUR_GRID = 3
# Where quads overlap, every DEPTH_GRID pixels.
DEPTH_GRID = 4
# The depth test is judged on at least this many points, and fails when more
# than a third of them show what it should hide.
DEPTH_POINTS = 6
# Misses of the box's lines and of the clear colour below this many points
# are a dither's or a line end's.
FEW_POINTS = 3
# A line's pixels have their centres within this of its exact line: half a
# pixel, and a pixel more for multisampled and smoothed lines.
LINE_REACH = 1.5
# A box edge is hidden where a quad lies nearer by more than rounding, in
# window depth (0..1).
DEPTH_APART = 1e-6
EMPTY = np.zeros(0, int)


class Problem(NamedTuple):
    """What a check found wrong: the words, and the evidence."""
    says: str
    rows: np.ndarray = EMPTY  # the pixels that disagree
    cols: np.ndarray = EMPTY
    at: tuple = None  # (column, row) of the place the words name
    misread: object = None  # the scene as misread, where a misreading fits
    quads: tuple = ()  # the quads of it that differ from the scene


class Frame:
    """A binary PPM as the capture library writes it, top row first, with
    what it recorded of the window, the viewport and the samples."""

    def __init__(self, path):
        with open(path, "rb") as f:
            data = f.read()
        head = re.match(rb"P6\s+((?:#[^\n]*\n\s*)*)(\d+)\s+(\d+)\s+255\s", data)
        if not head:
            raise ValueError(f"{path}: not a binary PPM")
        notes = dict(re.findall(r"# (\w+) ([^\n]*)", head.group(1).decode()))
        self.w, self.h = int(head.group(2)), int(head.group(3))
        self.pixels = np.frombuffer(data, np.uint8, self.w * self.h * 3, head.end()).reshape(self.h, self.w, 3).astype(np.float32)
        size = lambda key: tuple(int(v) for v in notes[key].split()[0].split("x")) if key in notes else None
        self.number = int(notes.get("frame", 0)) or None
        self.window = size("window") or (self.w, self.h)
        self.since = int(notes["window"].split()[-1]) if "since" in notes.get("window", "") else 0
        self.drawable = size("drawable") if size("drawable") not in (None, (0, 0)) else self.window  # unknown
        self.viewport = tuple(int(v) for v in notes.get("viewport", f"0 0 {self.w} {self.h}").split())
        self.samples = int(notes.get("samples", 0))
        p = [float(v) for v in notes.get("positions", "").split()]
        self.positions = list(zip(p[::2], p[1::2])) or STANDARD_POSITIONS.get(self.samples, [(0.5, 0.5)])

    def unsettled(self):
        """Why this frame is no evidence of the scene, or None: a window that
        changed size at the last swap or the one before may have had the
        frame drawn into buffers of its old size."""
        if len({self.window, self.drawable, self.viewport[2:]}) > 1 or self.viewport[:2] != (0, 0) or (
                self.since and self.since >= self.number - 1):
            (w, h), (dw, dh), (_, _, vw, vh) = self.window, self.drawable, self.viewport
            return (f"drawn while the window changed size (window {w} x {h} since frame {self.since}, "
                    f"drawable {dw} x {dh}, viewport {vw} x {vh})")


def rgb(c):
    return "(" + ", ".join(str(round(v)) if v == v else "?" for v in c) + ")"


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


def grid(look, step):
    """Points every `step` pixels, at least APART pixels from any outline and
    from the box's lines: (rows, columns)."""
    rows, cols = (g.ravel() for g in np.mgrid[:look.scene.h:step, :look.scene.w:step])
    keep = ~look.edges[rows, cols]
    return rows[keep], cols[keep]


def centres(scene, rows, cols):
    """Window coordinates of pixel centres."""
    return cols + 0.5, scene.h - rows - 0.5


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
            least = np.where(hi > FOREGROUND, (got - step) / hi, 0).max(axis=-1)
            most = np.minimum(np.where(lo > FOREGROUND, (got + step) / lo, np.inf).min(axis=-1),
                              np.where(dim > FOREGROUND, (got + step).sum(axis=-1) / dim, np.inf))
        return np.clip(least, 0, 1), np.clip(most, 0, 1)
    least, most = share(COLOUR_STEP)
    loose_least, loose_most = share(NOT_A_SHARE)
    other = (loose_least > loose_most) | (got > hi + NOT_A_SHARE).any(axis=-1)
    least, most = np.minimum(least, most), np.maximum(least, most)
    return np.where(other, lit, least), np.where(other, lit, most)


class Fit(NamedTuple):
    """How a frame fits one quad's outline in one reading of the scene."""
    stray: int  # pixels off by more than half beyond a pixel of the outline
    residual: float  # the coverage differences, summed
    rows: np.ndarray  # where the stray pixels lie
    cols: np.ndarray
    outside: np.ndarray  # whether each lies outside the outline
    off_rows: np.ndarray  # every pixel off by more than half, the outline's band included
    off_cols: np.ndarray


class Case(NamedTuple):
    """One quad in one reading of the scene, on the pixels around it."""
    rows: np.ndarray
    cols: np.ndarray
    least: np.ndarray  # the coverage found: at least, at most
    most: np.ndarray
    inside: np.ndarray  # the pixel centre lies inside the outline
    on: np.ndarray  # within a pixel of the outline, where the samples decide
    sure: np.ndarray  # there, the samples surely in, and maybe in: [sample, pixel on]
    maybe: np.ndarray


class Look:
    """One frame against one scene: each quad at every pixel centre, what is
    in front, the box's lines, and where each kind of check may look."""

    def __init__(self, frame, scene):
        self.frame, self.scene = frame, scene
        self.raster = {n: scene.raster(q) for n, q in scene.quads.items()}
        self.front, self.depth = np.full((scene.h, scene.w), None, object), np.full((scene.h, scene.w), np.inf)
        for name, (_, depth) in self.raster.items():
            nearer = depth < self.depth
            self.front[nearer], self.depth[nearer] = name, depth[nearer]
        self.lines = self.line_mask(LINE_REACH)
        self.green = line_green(frame.pixels)
        covered = [r[0] for r in self.raster.values()]
        self.near = {n: grow(r[0], APART) for n, r in self.raster.items()}
        self.clear = ~(grow(np.logical_or.reduce(covered), APART + 1) | grow(self.lines, APART))
        self.edges = np.logical_or.reduce([self.lines] + [grow(band(c)) for c in covered])
        self.fits = self.outlines()

    def line_mask(self, d):
        """Pixels whose centres lie within d of the box's projected edges."""
        s = self.scene
        out = np.zeros((s.h, s.w), bool)
        for _, a, b in s.box():
            (x0, y0, _), (x1, y1, _) = s.window(s.BOX, [a, b])
            c0, c1 = (int(np.clip(v, 0, s.w)) for v in (min(x0, x1) - d, max(x0, x1) + d + 1))
            r0, r1 = (int(np.clip(s.h - v, 0, s.h)) for v in (max(y0, y1) + d + 1, min(y0, y1) - d))
            x, y = np.meshgrid(np.arange(c0, c1) + 0.5, s.h - np.arange(r0, r1) - 0.5)
            dx, dy = x1 - x0, y1 - y0
            t = np.clip(((x - x0) * dx + (y - y0) * dy) / max(dx * dx + dy * dy, 1e-9), 0, 1)
            out[r0:r1, c0:c1] |= np.hypot(x - x0 - t * dx, y - y0 - t * dy) <= d
        return out

    def outline_cases(self, name, misreadings):
        """The quad in the scene and in each of the misreadings, on the
        pixels around all of them: {misreading (None: the scene): Case}."""
        scenes = {None: self.scene, **{m: m.scene(self.scene) for m in misreadings}}
        box = self.scene.box_around([s.quads[name] for s in scenes.values()], APART + 4)  # room for the region
        inside = {how: s.inside_box(s.quads[name], box) for how, s in scenes.items()}
        covers = {how: d >= 0 for how, d in inside.items()}
        covered = np.logical_or.reduce(list(covers.values()))
        # Beyond the outlines by more than APART, not within APART of anything else.
        region = grow(covered, APART + 1) & ~grow(self.lines[box], 1)
        for other, near in self.near.items():
            if other != name:
                region &= ~near[box]
        rows, cols = np.nonzero(region)
        at = rows + box[0].start, cols + box[1].start
        got = self.frame.pixels[at]
        lit = (got.max(axis=1) > FOREGROUND).astype(np.float32)
        # Away from every outline a lit pixel is the quad or not at all; the
        # share of its colour counts near an outline, and where a pixel that
        # some reading covers is dark (the quad may be dark there).
        edge = np.logical_or.reduce([grow(band(c)) for c in covers.values()])[rows, cols]
        weigh = edge | ((lit == 0) & covered[rows, cols])
        x, y = centres(self.scene, at[0][weigh], at[1][weigh])
        cases = {}
        for how, s in scenes.items():
            q = s.quads[name]
            colours = s.colours(q, x, y) if q.repeats else either(
                s.colours(q, x, y), s.changed(split=1 - s.split).colours(q, x, y))
            least, most = lit.copy(), lit.copy()
            least[weigh], most[weigh] = coverage(got[weigh], colours, lit[weigh])
            # The samples decide within a pixel of the outline, and where a
            # pixel's square meets it (the tip of a sliver that misses every
            # pixel centre).
            on = band(covers[how])[rows, cols] | (abs(inside[how][rows, cols]) < PIXEL_REACH)
            cases[how] = Case(*at, least, most, covers[how][rows, cols], on,
                              *s.samples(q, at[0][on], at[1][on], self.frame.positions))
        return cases

    def outlines(self):
        """How the frame fits each quad's outline in the scene and in each
        misreading: {name: {misreading (None: the scene): Fit}}, with the
        samples resolved into pixels as explains the frame best: GL leaves
        the resolve open, so the mean of the samples (of the colour values
        or, gamma-correct, of the light) and each sample alone are tried,
        each quad taking whichever reading fits it best. The misreadings are
        tried only where the scene leaves enough unexplained for one to be
        named (better_reading), here or in the angle of the two turning
        quads; a frame the scene explains has only the scene's fits."""
        fits = self.fits_of({name: self.outline_cases(name, ()) for name in OUTLINES})
        residual = {name: f[None].residual for name, f in fits.items()}
        if max(residual.values()) < CLEAR_RESIDUAL and sum(residual[n] for n in TURNING) < CLEAR_RESIDUAL:
            return fits
        return self.fits_of({name: self.outline_cases(name, OUTLINES[name]) for name in OUTLINES})

    def fits_of(self, cases):
        n = len(self.frame.positions)
        options = [([1 / n] * n, 1), ([1 / n] * n, GAMMA)] + [(list(np.eye(n)[k]), 1) for k in range(n)]
        best = min(options[:1] if n == 1 else options, key=lambda o: sum(
            min(outside(c, o).sum() for c in by_reading.values()) for by_reading in cases.values()))
        fits = {}
        for name, by_reading in cases.items():
            fits[name] = {}
            for how, c in by_reading.items():
                miss = outside(c, best)
                off = miss > 0.5
                stray = off & ~c.on
                fits[name][how] = Fit(int(stray.sum()), float(miss.sum()), c.rows[stray], c.cols[stray],
                                      ~c.inside[stray], c.rows[off], c.cols[off])
        return fits


def outside(case, resolve):
    """How far the coverage found lies outside what GL may cover, with the
    samples resolved by (weights, curve)."""
    weights, curve = resolve
    lo, hi = case.inside.astype(np.float32), case.inside.astype(np.float32)
    lo[case.on], hi[case.on] = (np.asarray(weights) @ case.sure) ** curve, (np.asarray(weights) @ case.maybe) ** curve
    return np.maximum(0, np.maximum(lo - case.most, case.least - hi))


# ------------------------------------------------------------------ outlines


def better_reading(fits, readings):
    """The misreading that explains the frame far better than the scene."""
    if fits[None].residual < CLEAR_RESIDUAL:
        return None
    best = min(readings, key=lambda how: fits[how].residual)
    if fits[best].stray <= STRAY_PIXELS and fits[best].residual * 2 < fits[None].residual:
        return best
    return None


def around(rows, cols):
    return (int(np.median(cols)), int(np.median(rows))) if len(rows) else None


def check_outline(look, name):
    fits = look.fits[name]
    how = better_reading(fits, OUTLINES[name])
    fit = fits[None]
    if how:
        return Problem(how.says, fit.off_rows, fit.off_cols, around(fit.off_rows, fit.off_cols),
                       how.scene(look.scene), (name,))
    if fit.stray > STRAY_PIXELS:
        kind = "drawn outside its outline" if fit.outside.mean() >= 0.5 else "missing inside its outline"
        at = around(fit.rows, fit.cols)
        return Problem(f"{fit.stray} pixels {kind}, around ({at[0]}, {at[1]})", fit.rows, fit.cols, at)
    return None


def check_angle(look):
    """Frame N at N degrees: the two quads together fit no better a degree off."""
    both = {None: [look.fits[n][None] for n in TURNING]}
    if sum(f.residual for f in both[None]) < CLEAR_RESIDUAL:
        return None
    for off, misreadings in ANGLES.items():
        both[off] = [look.fits[m_name][m] for m_name, m in zip(TURNING, misreadings)]
    summed = {how: Fit(sum(f.stray for f in fits), sum(f.residual for f in fits), *([None] * 5))
              for how, fits in both.items()}
    off = better_reading(summed, tuple(ANGLES))
    if off:
        scene = look.scene
        for m in ANGLES[off]:
            scene = m.scene(scene)
        rows, cols = (np.concatenate([getattr(f, k) for f in both[None]]) for k in ("off_rows", "off_cols"))
        return Problem(f"drawn at {look.scene.angle + off} degrees, expected {look.scene.angle}", rows, cols,
                       around(rows, cols), scene, ("tiled quad", "gradient quad"))
    return None


# ------------------------------------------------------------------- colours


def expected(scene, names, rows, cols):
    """What the named quads (a name a point) may show at the pixels in
    `scene`: Colours of n points."""
    lo, hi, dim = np.zeros((len(rows), 3)), np.zeros((len(rows), 3)), np.zeros(len(rows))
    x, y = centres(scene, rows, cols)
    for name in set(names):
        k = names == name
        lo[k], hi[k], dim[k] = scene.colours(scene.quads[name], x[k], y[k])
    return Colours(lo, hi, dim)


def rgb_range(lo, hi):
    return rgb(lo) if (lo == hi).all() else f"between {rgb(lo)} and {rgb(hi)}"


class Misses(NamedTuple):
    tested: int
    missed: int
    rows: np.ndarray  # the points missed
    cols: np.ndarray
    first: str  # the first of them, in words


def misses(look, scene, names, rows, cols, tolerance):
    """The frame's colours at the points against the scene: a point misses
    when a channel lies further than `tolerance` outside what the quad may
    show there; whichever way the quads are split into triangles fits
    better."""
    got, out = look.frame.pixels[rows, cols], []
    for s in (scene, scene.changed(split=1 - scene.split)) if len(rows) else ():
        want = expected(s, names, rows, cols)
        known = np.isfinite(want.lo).all(axis=1)
        with np.errstate(invalid="ignore"):
            miss = known & ((got < want.lo - tolerance) | (got > want.hi + tolerance)).any(axis=1)
        i = np.argmax(miss)
        out.append(Misses(int(known.sum()), int(miss.sum()), rows[miss], cols[miss],
                          f"({cols[i]}, {rows[i]}) is {rgb(got[i])}, expected about {rgb_range(want.lo[i], want.hi[i])}"))
    return min(out, key=lambda r: r.missed - r.tested * COLOUR_MISSES, default=Misses(0, 0, EMPTY, EMPTY, ""))


def too_many(m):
    return m.tested > 0 and m.missed > m.tested * COLOUR_MISSES


def check_colours(look, name):
    """Colours every COLOUR_GRID pixels inside the quad; the misreadings for
    the diagnosis."""
    rows, cols = grid(look, COLOUR_GRID)
    keep = look.front[rows, cols] == name
    at = (np.full(keep.sum(), name, object), rows[keep], cols[keep], TOLERANCE[name])
    found = misses(look, look.scene, *at)
    if not too_many(found):
        return None
    evidence = (found.rows, found.cols, (found.cols[0], found.rows[0]))
    for m in COLOURS[name]:
        if not too_many(misses(look, m.scene(look.scene), *at)):
            return Problem(m.says, *evidence)
    return Problem(f"{found.missed} of {found.tested} points off, e.g. {found.first}", *evidence)


# ------------------------------------------------------- box, clear, depth

# The box's green as a line pixel may hold it: a third of it at least (a
# multisampled or antialiased line), and little else.
LINE_GREEN = 80
# Below this the window counts as clear (a 16-bit visual's dither).
CLEAR = 10
# An edge is missing when green lies near fewer than half of its points in view.
EDGE_SHOWN = 0.5


def line_green(c):
    """Pixels (..., 3) that hold at least a third of the box's green."""
    return (c[..., 1] >= LINE_GREEN) & (c[..., 0] <= c[..., 1] / 2) & (c[..., 2] <= c[..., 1] / 2)


# Points along each box edge where its green is looked for.
EDGE_POINTS = 24


def edge_points(look, a, b, n=EDGE_POINTS):
    """n points along a box edge, within the frame: columns, rows, depths."""
    t = (np.arange(n) + 0.5) / n
    x, y, depth = look.scene.window(look.scene.BOX, np.outer(1 - t, a) + np.outer(t, b)).T
    c, r = x.astype(int), (look.scene.h - y).astype(int)
    inside = (c >= 1) & (c < look.scene.w - 1) & (r >= 1) & (r < look.scene.h - 1)
    return c[inside], r[inside], depth[inside]


def near_green(look, c, r):
    return np.logical_or.reduce([look.green[r + dr, c + dc] for dr in (-1, 0, 1) for dc in (-1, 0, 1)])


def check_box(look):
    """Each of the 12 edges is green where it shows (away from the quads,
    the depth test's business); no green line where the box has none."""
    s = look.scene
    near_quads = np.logical_or.reduce([grow(r[0], APART + 1) for r in look.raster.values()])
    for name, a, b in s.box():
        c, r, _ = edge_points(look, a, b)
        shown = ~near_quads[r, c]
        green = near_green(look, c[shown], r[shown])
        if shown.sum() > FEW_POINTS and green.sum() < shown.sum() * EDGE_SHOWN:
            ends = [rgb(p) for p in s.window(s.BOX, [a, b])[:, :2] * (1, -1) + (0, s.h)]
            rows, cols = r[shown][~green], c[shown][~green]
            return Problem(f"{name} edge missing: no green along it from {ends[0]} to {ends[1]}", rows, cols,
                           around(rows, cols))
    stray = background_misses(look, look.green)
    return stray and stray._replace(says=f"a green line where the box has no edge, {stray.says}")


def background_misses(look, wrong):
    """Points every COLOUR_GRID pixels where the scene leaves the window clear
    and the frame has something `wrong` (a mask): a Problem or None."""
    rows, cols = (g.ravel() for g in np.mgrid[:look.scene.h:COLOUR_GRID, :look.scene.w:COLOUR_GRID])
    bad = look.clear[rows, cols] & wrong[rows, cols]
    if bad.sum() < FEW_POINTS:
        return None
    i = np.nonzero(bad)[0][bad.sum() // 2]
    return Problem(f"{bad.sum()} points, e.g. ({cols[i]}, {rows[i]}) is {rgb(look.frame.pixels[rows[i], cols[i]])}",
                   rows[bad], cols[bad], (cols[i], rows[i]))


def check_clear(look):
    miss = background_misses(look, (look.frame.pixels.max(axis=2) > CLEAR) & ~look.green)
    return miss and miss._replace(says=f"not black where nothing is drawn: {miss.says}")


def check_depth(look):
    """Nearer objects hide farther ones: the box's hidden edges stay hidden,
    and where quads overlap the nearer one shows, not the one drawn last."""
    c, r, z = (np.concatenate(v) for v in zip(*(edge_points(look, a, b) for _, a, b in look.scene.box())))
    behind = (look.depth[r, c] < z - DEPTH_APART) & ~look.edges[r, c]
    c, r = c[behind], r[behind]
    want = expected(look.scene, look.front[r, c], r, c)
    quiet = want.certain() & ~line_green(want.lo)  # no green of its own
    shows = quiet & near_green(look, c, r)
    if quiet.sum() >= DEPTH_POINTS and shows.sum() * 3 > quiet.sum():
        return Problem(f"the box's hidden edges show through the quads in front of them "
                       f"({shows.sum()} of {quiet.sum()} points)", r[shows], c[shows], around(r[shows], c[shows]))
    last = np.full(look.front.shape, None, object)  # without the depth test
    for name, r in look.raster.items():  # in drawing order
        last[r[0]] = name
    rows, cols = grid(look, DEPTH_GRID)
    keep = (look.front[rows, cols] != None) & (last[rows, cols] != look.front[rows, cols])  # noqa: E711
    rows, cols = rows[keep], cols[keep]
    tolerance = max(TOLERANCE.values())
    found = misses(look, look.scene, look.front[rows, cols], rows, cols, tolerance)
    if found.tested >= DEPTH_POINTS and found.missed * 3 > found.tested:
        evidence = (found.rows, found.cols, (found.cols[0], found.rows[0]))
        drawn_last = misses(look, look.scene, last[rows, cols], rows, cols, tolerance)
        if drawn_last.missed * 3 < drawn_last.tested:
            return Problem(f"objects drawn later cover nearer ones where they overlap "
                           f"({found.missed} of {found.tested} points)", *evidence)
        return Problem(f"where objects overlap, {found.missed} of {found.tested} points off, e.g. {found.first}",
                       *evidence)
    return None


CHECKS = (
    ("tiled quad: place, shape and spin", lambda k: check_outline(k, "tiled quad")),
    ("tiled quad: the photograph 2 x 2, right way up", lambda k: check_colours(k, "tiled quad")),
    ("gradient quad: place and tumble", lambda k: check_outline(k, "gradient quad")),
    ("gradient quad: corner colours", lambda k: check_colours(k, "gradient quad")),
    ("image quad: pixel rectangle", lambda k: check_outline(k, "image quad")),
    ("image quad: the photograph right way up", lambda k: check_colours(k, "image quad")),
    ("wire box: 12 edges", check_box),
    ("scene: clear colour", check_clear),
    ("scene: depth test", check_depth),
    ("scene: frame N drawn at N degrees, the first at 1", check_angle),
)


class Result(NamedTuple):
    name: str
    problem: Problem = None  # what is wrong, or None
    error: str = None  # why the checker could not judge, or None


def check_frame(frame, scene):
    """Every check on one frame: [Result]. An error inside a check is that
    check's own result, never the end of the run."""
    try:
        look = Look(frame, scene)
    except Exception as e:  # noqa: BLE001 - reported as the checks' own error
        return [Result(name, None, f"{type(e).__name__}: {e}") for name, _ in CHECKS]
    results = []
    for name, check in CHECKS:
        try:
            results.append(Result(name, check(look)))
        except Exception as e:  # noqa: BLE001
            results.append(Result(name, None, f"{type(e).__name__}: {e}"))
    return results
