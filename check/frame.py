"""The checks of one captured frame against the scene (scene.py), as the
frame is seen against it (look.py).

A colour is asserted as the range of what the quad may show there: on a
textured quad, any blend of the texels its lookup may reach
(scene.Scene.footprint); and each cell of the photograph and each copy of
it as a region, whose mean no filter can move far. A box edge is found
where it should be and measured across.

Each check gives None or a Problem: what the user reads, and the evidence
the report draws: the pixels that disagree, the place the words name, and
the misread scene that fits, where one does. Where several checks fail, the
pixels that another failing object drew are left out of a check (blame):
one that then passes follows from that object and says so."""
import copy
import time
from typing import Callable, NamedTuple

import numpy as np

from .capture import Frame  # noqa: F401 - the checker's frames, read where they are judged
from .look import (ANGLE_READINGS, CACHE, CLEAR_RESIDUAL, EMPTY, FOREGROUND, STRAY_PIXELS, TURNING, Look, angle_fits,
                   better_reading, centres, channel_max, grid_points, grow, line_green, patch, quad_colours, scene_key,
                   union_fit)
from .misreadings import ANGLES, CAUSES, COLOURS, OUTLINES
from .results import Check, checks
from .scene import PLAIN_TINT, Colours, Scene, quad_key
from .whole import MAP_MOVES, MAP_POINTS, colour_map, flat_colour, nothing_drawn, undo

# Levels a channel may differ from the colour expected: three steps of a
# 16-bit visual's 5 bits a channel (its rounding and a dither), and the
# rounding of filtering and of the gradient's interpolation. (Seen on
# llvmpipe and softpipe, every frame, 24 and 16 bits, 4 samples: at most 12.)
TOLERANCE = {"tiled quad": 24, "image quad": 24, "gradient quad": 24}
# A point's colour is asserted where what its footprint allows spans no more
# than this in any channel; a range wider than that says little of a pixel,
# and the region means below speak for it.
TIGHT = 64
# A quad's colours may be off at this share of its asserted points (dither, a
# texel at a cell's corner) before its check fails.
COLOUR_MISSES = 0.1
# A cell's region is judged by its mean where it holds this many points; the
# mean may lie this far outside the mean of what its points allow (a 16-bit
# visual's rounding, half a step, and a texture stored in 5 bits a channel).
MIN_REGION = 6
MEAN_TOLERANCE = 12
# A whole copy of the photograph on the tiled quad (one period of the
# repeating texture) keeps its mean whatever the filter: the weights of a
# lookup sum to one and centre on it, and what a copy's edge carries out
# the next copy's edge carries in. Its mean over at least MIN_COPY points
# lies within COPY_TOLERANCE of the photograph's own at the same points,
# taken sharp, or blurred across its rows, its columns or all of it, as a
# filter that reaches a whole period blurs a copy seen nearly edge-on (the
# points near the quad's outline are left out, and their colours reach the
# others through the filter: up to 14 levels seen where a copy holds 48
# points or more, on every frame of a turn).
MIN_COPY = 48
COPY_TOLERANCE = 32
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
# A box edge is hidden where a quad lies nearer by more than rounding, in
# window depth (0..1).
DEPTH_APART = 1e-6
# Below this the window counts as clear (a 16-bit visual's dither).
CLEAR = 10
# An edge is missing when green lies near fewer than half of its points in view.
EDGE_SHOWN = 0.5
# A box edge is measured where at least this many of its places across
# (look.PROFILES) lie clear of the quads.
MIN_PROFILES = 6
# A width-1 line covers at most 1 / cos(a) pixels of each column (row) it
# crosses at an angle a to the columns' axis: one pixel (GL's diamond rule)
# or a rectangle a pixel wide (multisampled). A line this much wider than
# that, at the median of its places, is no width-1 line (a 3-pixel line is at
# least 1.6 wider; a correct one, even read through a gamma-correct resolve,
# at most 0.5).
LINE_SLACK = 1.5
# Blame: a pixel is of an object's colours when it lies within this distance
# (RGB levels) of a blend of them over black; an object may have drawn where
# its expected outline, grown by this share of its size (and at least
# BLAME_MARGIN pixels), reaches; the box anywhere.
CLASS_REACH = 32
CLASS_STEP = 4
BLAME_REACH = 0.3
BLAME_MARGIN = 8


def rgb(c):
    return "(" + ", ".join(str(round(v)) if v == v else "?" for v in c) + ")"


def around(rows, cols):
    return (int(np.median(cols)), int(np.median(rows))) if len(rows) else None


class Problem(NamedTuple):
    """What a check found wrong: the words, and the evidence."""
    says: str
    rows: np.ndarray = EMPTY  # the pixels that disagree
    cols: np.ndarray = EMPTY
    at: tuple = None  # (column, row) of the place the words name
    misread: object = None  # the scene as misread, where a misreading fits
    quads: tuple = ()  # the quads of it that differ from the scene
    # Whether the check still fails with the pixels for which a function of
    # (rows, columns) is true left out (blame); None: it always does.
    still: Callable = None
    # For a cause of the whole frame or the frame's angle, what it is, for
    # the run to read across frames: "nothing", "colour map", "one colour",
    # "behind K" (frame N - K shows through), "angle OFF", or "angle OFF
    # behind" (the frame fits the scene OFF degrees away, and misses nothing
    # of the scene's own: the frame before may show through instead).
    cause: str = None


# ------------------------------------------------------------------ outlines


def edge_names(scene, quad, rows, cols):
    """The side of the quad's outline, as seen, nearest each pixel."""
    p = scene.corners(quad)
    x, y = centres(scene, rows, cols)
    turn = np.sign(np.cross(p[1] - p[0], p[2] - p[1])) or 1
    sides, distances = [], []
    for (x0, y0), (x1, y1) in zip(p, np.roll(p, -1, axis=0)):
        length = max(np.hypot(x1 - x0, y1 - y0), 1e-9)
        distances.append(abs((x1 - x0) * (y - y0) - (y1 - y0) * (x - x0)) / length)
        nx, ny = turn * (y1 - y0), -turn * (x1 - x0)  # outward, y up
        sides.append(("right" if nx > 0 else "left") if abs(nx) >= abs(ny) else ("top" if ny > 0 else "bottom"))
    nearest = np.argmin(distances, axis=0)
    return [sides[k] for k in nearest]


# How far, in pixels, the drawn outline is followed beyond the pixels judged.
FOLLOW = 64


def geometry(look, name, fit):
    """Where and how far the drawn outline lies off the expected one: from
    the stray pixel farthest off, followed straight away from the nearest
    side (or into the quad) while the quad's colours go on (or do not)."""
    outside_share = fit.outside.mean()
    drawn_out = outside_share >= 0.5
    kind = fit.outside if drawn_out else ~fit.outside
    rows, cols, distance = fit.rows[kind], fit.cols[kind], abs(fit.distance[kind])
    far = int(np.argmax(distance))
    quad = look.scene.quads[name]
    side = edge_names(look.scene, quad, rows[far:far + 1], cols[far:far + 1])[0]
    step = {"left": (0, -1), "right": (0, 1), "top": (-1, 0), "bottom": (1, 0)}[side]
    if not drawn_out:
        step = (-step[0], -step[1])
    k = np.arange(1, FOLLOW + 1)
    path_r, path_c = rows[far] + k * step[0], cols[far] + k * step[1]
    within = (path_r >= 0) & (path_c >= 0) & (path_r < look.scene.h) & (path_c < look.scene.w)
    path_r, path_c = path_r[within], path_c[within]
    ours = Blame(look).shows(name, path_r, path_c)
    goes_on = ours if drawn_out else ~ours
    reach = int(np.argmin(goes_on)) if not goes_on.all() else len(goes_on)
    if reach:
        x, y = centres(look.scene, path_r[reach - 1:reach], path_c[reach - 1:reach])
        distance[far] = max(distance[far], abs(float(look.scene.inside(quad, x, y)[0])))
    at = around(fit.rows, fit.cols)
    if drawn_out:
        how = f"drawn outside its outline, up to {distance[far]:.0f} pixels beyond its {side} side"
    else:
        how = f"missing inside its outline, up to {distance[far]:.0f} pixels in from its {side} side"
    return f"{fit.stray} pixels {how}, around ({at[0]}, {at[1]})", at


def check_outline(look, name):
    fits = look.fits[name]
    how = better_reading(fits, OUTLINES[name])
    fit = fits[None]
    if how:
        # With another object's pixels left out, the scene may explain the
        # rest after all.
        still = lambda left_out: float(fit.miss[~left_out(fit.all_rows, fit.all_cols)].sum()) >= CLEAR_RESIDUAL
        return Problem(how.says, fit.off_rows, fit.off_cols, around(fit.off_rows, fit.off_cols),
                       how.scene(look.scene), (name,), still=still)
    if fit.stray > STRAY_PIXELS:
        says, at = geometry(look, name, fit)
        return Problem(says, fit.rows, fit.cols, at,
                       still=lambda left_out: (~left_out(fit.rows, fit.cols)).sum() > STRAY_PIXELS)
    return None


def check_angle(look):
    """Frame N at N degrees: the two quads together fit no better a degree
    off; an angle is named only where it explains the frame."""
    off = angle_fits(look.fits)
    if off:
        both = [look.fits[n][None] for n in TURNING]
        scene = look.scene
        for m in ANGLES[off]:
            scene = m.scene(scene)
        rows, cols = (np.concatenate([getattr(f, k) for f in both]) for k in ("off_rows", "off_cols"))
        n = look.scene.angle
        says, cause = f"drawn at {n + off} degrees, expected {n}", f"angle {off}"
        if off < 0 and sum(f.missing for f in both) * 3 < sum(f.residual for f in both):
            # Nothing of the scene at N is missing: the frame before may be
            # showing through around it instead; the run tells them apart.
            says = f"drawn at {n + off} degrees, expected {n}, or drawn at {n} with the frame before showing through"
            cause += " behind"
        return Problem(says, rows, cols, around(rows, cols), scene, ("tiled quad", "gradient quad"), cause=cause)
    return None


# ------------------------------------------------------------------- colours


def rgb_range(lo, hi):
    return rgb(lo) if (lo == hi).all() else f"between {rgb(lo)} and {rgb(hi)}"


class Points(NamedTuple):
    """The points where a quad's colours are read, and what it may show there."""
    rows: np.ndarray
    cols: np.ndarray
    want: Colours
    cells: np.ndarray  # each point's cell of the photograph: 0 to n_cells - 1, or -1
    cell_colour: np.ndarray  # that cell's colour, as shown
    copies: np.ndarray  # each point's copy of the photograph: 0 to n_copies - 1, or -1
    n_cells: int = 0
    n_copies: int = 0
    blurred: tuple = ()  # the photograph's colour at each point blurred across, up, and all over


def compact(ids):
    """Ids (-1: none) as 0, 1, ... in order, and how many there are."""
    known = ids >= 0
    out = np.full(len(ids), -1)
    values, out[known] = np.unique(ids[known], return_inverse=True)
    return out, len(values)


def finite_rows(a):
    """Rows of (n, 3) whose three values are all finite."""
    return np.isfinite(a[:, 0] + a[:, 1] + a[:, 2])


def colour_points(scene, name, rows, cols):
    """What the quad may show at the points, and which cell and which copy
    of the photograph each lies in."""
    q = scene.quads[name]
    if not q.repeats:
        none = np.full(len(rows), -1)
        return Points(rows, cols, Colours(*quad_colours(scene, q, rows, cols)), none, np.zeros((len(rows), 3)), none)
    x, y = centres(scene, rows, cols)
    s, t, *box = scene.lookup(q, x, y)
    want = scene.texture.colour_range(*box, np.array(q.tint))
    row, col, up, across = scene.texture.cell_at(s, t)
    cells = np.asarray(scene.texture.cells)
    row, col = np.clip(row, 0, cells.shape[0] - 1), np.clip(col, 0, cells.shape[1] - 1)
    tint = np.array(q.tint)
    colour = cells[row, col] * tint
    photo = scene.texture
    blurred = (photo.row_means[row] * tint, photo.col_means[col] * tint, np.broadcast_to(photo.mean * tint, colour.shape))
    known = np.isfinite(s) & np.isfinite(t)
    copies = np.where(known, up * 64 + across + 64 * 64, -1)
    cells, n_cells = compact(np.where(known, copies * 4096 + row * 64 + col, -1))
    copies, n_copies = compact(copies)
    return Points(rows, cols, want, cells, colour, copies, n_cells, n_copies, blurred)


class Misses(NamedTuple):
    tested: int
    missed: int
    rows: np.ndarray  # the points missed
    cols: np.ndarray
    first: str  # the first of them, in words


def misses(got, points, tolerance):
    """The colours at the points against what the quad may show: a point
    whose range is tight misses when a channel lies further than
    `tolerance` outside it."""
    want = points.want
    with np.errstate(invalid="ignore"):
        tight = finite_rows(want.lo) & (channel_max(want.hi - want.lo) <= TIGHT)
        miss = tight & (channel_max(np.maximum(want.lo - tolerance - got, got - want.hi - tolerance)) > 0)
    i = int(np.argmax(miss)) if len(miss) else 0
    first = (f"({points.cols[i]}, {points.rows[i]}) is {rgb(got[i])}, "
             f"expected about {rgb_range(want.lo[i], want.hi[i])}") if len(miss) else ""
    return Misses(int(tight.sum()), int(miss.sum()), points.rows[miss], points.cols[miss], first)


def too_many(m):
    return m.tested > 0 and m.missed > m.tested * COLOUR_MISSES


def group_means(index, n, known, *values):
    """The count and the means of each group of points: index 0..n-1 at the
    known ones."""
    index = index[known]
    counts = np.bincount(index, minlength=n)
    by_channel = (index[:, None] * 3 + np.arange(3)).ravel()
    with np.errstate(invalid="ignore", divide="ignore"):
        return (counts, *(np.bincount(by_channel, v[known].ravel(), 3 * n).reshape(n, 3) / counts[:, None]
                          for v in values))


def regions_off(points, index, known, counts, mean, lo, hi, least, tolerance):
    """The regions (index of the known points) of at least `least` points
    whose mean lies further than `tolerance` outside [lo, hi], all per
    region: None, or the regions off, the worst, and the points of those
    off, the worst's points and its place."""
    with np.errstate(invalid="ignore"):
        gap = np.maximum(lo - mean, mean - hi).max(axis=1)
    off = (counts >= least) & (gap > tolerance)
    if not off.any():
        return None
    worst = int(np.argmax(np.where(off, gap, -np.inf)))
    in_off = known & off[np.maximum(index, 0)]
    member = known & (index == worst)
    return off, worst, in_off, member, around(points.rows[member], points.cols[member])


def cells_off(got, points):
    """The cells of the photograph whose mean over their points lies outside
    the mean of what the points may show: (rows, columns of their points,
    words for the first, the place named, how many), or None."""
    known = (points.cells >= 0) & finite_rows(points.want.lo) & finite_rows(points.want.hi)
    if known.sum() < MIN_REGION:
        return None
    counts, mean, lo, hi = group_means(points.cells, points.n_cells, known, got, points.want.lo, points.want.hi)
    found = regions_off(points, points.cells, known, counts, mean, lo, hi, MIN_REGION, MEAN_TOLERANCE)
    if found is None:
        return None
    off, worst, in_off, member, at = found
    colour = points.cell_colour[np.argmax(member)]
    says = (f"{off.sum()} of its photograph's cells off: the cell of {rgb(colour)} averages "
            f"{rgb(mean[worst])} over {counts[worst]} points around ({at[0]}, {at[1]}), "
            f"expected {rgb_range(np.round(lo[worst]), np.round(hi[worst]))}")
    return points.rows[in_off], points.cols[in_off], says, at, int(off.sum())


def copies_off(got, points):
    """The copies of the photograph whose mean lies off the photograph's own
    at their points, sharp or blurred: (rows, columns of their points,
    words, the place named, how many), or None."""
    known = points.copies >= 0
    if known.sum() < MIN_COPY:
        return None
    counts, mean, *models = group_means(points.copies, points.n_copies, known, got, points.cell_colour,
                                        *points.blurred)
    lo, hi = np.minimum.reduce(models), np.maximum.reduce(models)
    found = regions_off(points, points.copies, known, counts, mean, lo, hi, MIN_COPY, COPY_TOLERANCE)
    if found is None:
        return None
    off, worst, in_off, member, at = found
    says = (f"{off.sum()} of its {points.n_copies} copies of the photograph off: one averages {rgb(mean[worst])} "
            f"over {counts[worst]} points around ({at[0]}, {at[1]}), where the photograph averages "
            f"{rgb_range(np.round(lo[worst]), np.round(hi[worst]))} there, sharp or blurred")
    return points.rows[in_off], points.cols[in_off], says, at, int(off.sum())


def judge_colours(look, scene, name, rows, cols, got):
    """(Misses, cells off, copies off) of the frame's colours at the points,
    as the quad shows them in `scene`; the gradient along whichever diagonal
    fits better."""
    q = scene.quads[name]
    if q.repeats:
        if name == "image quad" and scene is look.scene:
            points = image_points(look, rows, cols)
        else:
            points = colour_points(scene, name, rows, cols)
        return misses(got, points, TOLERANCE[name]), cells_off(got, points), copies_off(got, points)
    none = np.full(len(rows), -1)
    out = []
    for c in scene.blends(q, *centres(scene, rows, cols), (scene.split, 1 - scene.split)):
        points = Points(rows, cols, Colours(c, c, c.sum(axis=-1)), none, c, none)
        out.append((misses(got, points, TOLERANCE[name]), None, None))
    return min(out, key=lambda r: r[0].missed - r[0].tested * COLOUR_MISSES)


def image_points(look, rows, cols):
    """colour_points for the image quad, which never moves: computed once for
    every point of the grid it may show, then taken."""
    scene = look.scene
    q = scene.quads["image quad"]
    key = ("image colours", scene_key(scene), quad_key(q), scene.texture.key)

    def make():
        p = look.patches["image quad"]
        g_rows, g_cols = grid_points(scene, COLOUR_GRID)
        inside = np.zeros(len(g_rows), bool)
        r, c = g_rows - p.box[0].start, g_cols - p.box[1].start
        within = (r >= 0) & (c >= 0) & (r < p.covers.shape[0]) & (c < p.covers.shape[1])
        inside[within] = p.covers[r[within], c[within]]
        where = np.full((scene.h, scene.w), -1, np.int32)
        where[g_rows[inside], g_cols[inside]] = np.arange(inside.sum())
        return where, colour_points(scene, "image quad", g_rows[inside], g_cols[inside])
    where, all_points = CACHE.get(key, make)
    k = where[rows, cols]
    if (k < 0).any():
        return colour_points(scene, "image quad", rows, cols)
    return Points(rows, cols, Colours(*(v[k] for v in all_points.want)), all_points.cells[k],
                  all_points.cell_colour[k], all_points.copies[k], all_points.n_cells, all_points.n_copies,
                  tuple(b[k] for b in all_points.blurred))


def failed(found):
    m, cells, copies = found
    return too_many(m) or cells is not None or copies is not None


def explains(misread, found):
    """A misreading of the colours fits: its points are within their
    budget, and it leaves at most half the regions off that the scene does
    (another object's pixels over a region stay off either way)."""
    regions = lambda f: sum(r[4] for r in f[1:] if r is not None)
    return not too_many(misread[0]) and regions(misread) * 2 <= regions(found)


def check_colours(look, name):
    """Colours every COLOUR_GRID pixels inside the quad, away from every
    outline: each point, each cell of the photograph and each copy of it as
    a region; the misreadings for the diagnosis."""
    g = COLOUR_GRID
    r, c = np.nonzero((look.front[::g, ::g] == look.code(name)) & ~look.edges[::g, ::g])
    rows, cols = r * g, c * g
    got = look.got(rows, cols)
    found = judge_colours(look, look.scene, name, rows, cols, got)
    if not failed(found):
        return None
    m, cells, copies = found

    def still(left_out):
        k = ~left_out(rows, cols)
        return failed(judge_colours(look, look.scene, name, rows[k], cols[k], got[k]))
    region = cells or copies
    if region is not None:
        evidence = (np.concatenate([m.rows, region[0]]), np.concatenate([m.cols, region[1]]), region[3])
    else:
        evidence = (m.rows, m.cols, (m.cols[0], m.rows[0]))
    for reading in COLOURS[name]:
        if explains(judge_colours(look, reading.scene(look.scene), name, rows, cols, got), found):
            return Problem(reading.says, *evidence, still=still)
    says = region[2] if region is not None else f"{m.missed} of {m.tested} points off, e.g. {m.first}"
    return Problem(says, *evidence, still=still)


# ------------------------------------------------------- box, clear, depth


def near_green(look, around):
    """Whether green lies among each point's 3 x 3 pixels ([point, pixel] flat indices)."""
    return line_green(look.flat_pixels[around]).any(axis=1)


def line_cover(pixels):
    """The share of the box's green that pixels (..., 3) hold, as drawn over
    black: 0 where they hold little or something else."""
    g = pixels[..., 1].astype(np.float32)
    green = (g > FOREGROUND) & (pixels[..., 0] <= g / 2) & (pixels[..., 2] <= g / 2)
    return np.where(green, g / 255, 0)


def check_box(look):
    """Each of the 12 edges is green where it shows (away from the quads,
    the depth test's business) and no wider than a width-1 line; no green
    line where the box has none."""
    flat = look.flat_pixels
    for e in look.box.edges:
        shown = ~look.near_quads[e.rows, e.cols]
        green = near_green(look, e.around[shown])
        if shown.sum() > FEW_POINTS and green.sum() < shown.sum() * EDGE_SHOWN:
            ends = [rgb(p) for p in e.ends * (1, -1) + (0, look.scene.h)]
            rows, cols = e.rows[shown][~green], e.cols[shown][~green]
            return Problem(f"{e.name} edge missing: no green along it from {ends[0]} to {ends[1]}", rows, cols,
                           around(rows, cols))
    for e in look.box.edges:
        if not len(e.profiles):
            continue
        clear = ~look.near_quads.reshape(-1)[e.profiles].any(axis=1)
        if clear.sum() < MIN_PROFILES:
            continue
        widths = line_cover(flat[e.profiles[clear]]).sum(axis=1)
        width = float(np.median(widths))
        if width >= e.allowed + LINE_SLACK:
            wide = e.profiles[clear][widths >= e.allowed + LINE_SLACK]
            covered = wide[line_cover(flat[wide]) > 0]
            rows, cols = covered // look.scene.w, covered % look.scene.w
            return Problem(f"{e.name} edge {width:.1f} pixels wide across, where a width-1 line covers at most "
                           f"{e.allowed:.1f}", rows, cols, around(rows, cols))
    stray = background_misses(look, line_green)
    return stray and stray._replace(says=f"a green line where the box has no edge, {stray.says}", cause="astray")


def background_misses(look, wrong):
    """Points every COLOUR_GRID pixels where the scene leaves the window clear
    and the frame has something `wrong` (a function of pixels): a Problem
    or None."""
    g = COLOUR_GRID
    pixels = look.pixels[::g, ::g]
    r, c = np.nonzero(look.clear[::g, ::g] & wrong(pixels))
    if len(r) < FEW_POINTS:
        return None
    rows, cols = r * g, c * g
    i = len(rows) // 2
    return Problem(f"{len(rows)} points, e.g. ({cols[i]}, {rows[i]}) is {rgb(look.pixels[rows[i], cols[i]])}",
                   rows, cols, (cols[i], rows[i]),
                   still=lambda left_out: (~left_out(rows, cols)).sum() >= FEW_POINTS)


def not_black(pixels):
    return (channel_max(pixels) > CLEAR) & ~line_green(pixels)


def check_clear(look):
    """Black where nothing is drawn; what is there is named by the object in
    whose colours, and within whose reach, most of it lies."""
    miss = background_misses(look, not_black)
    if not miss:
        return None
    b = Blame(look)
    drawn = {o: b.drew(o, miss.rows, miss.cols, astray=True).sum() for o in OBJECTS}
    whose = max(drawn, key=drawn.get)
    said = f", in the {whose}'s colours beside it" if drawn[whose] * 2 > len(miss.rows) else ""
    return miss._replace(says=f"not black where nothing is drawn: {miss.says}{said}")


def expected(scene, names, rows, cols):
    """What the named quads (a name a point) may show at the pixels in
    `scene`: Colours of n points."""
    lo, hi, dim = np.zeros((len(rows), 3)), np.zeros((len(rows), 3)), np.zeros(len(rows))
    for name in set(names):
        k = names == name
        if name is not None:
            lo[k], hi[k], dim[k] = quad_colours(scene, scene.quads[name], rows[k], cols[k])
    return Colours(lo, hi, dim)


def check_depth(look):
    """Nearer objects hide farther ones: the box's hidden edges stay hidden,
    and where quads overlap the nearer one shows, not the one drawn last."""
    edges = look.box.edges
    c, r, z, around9 = (np.concatenate([getattr(e, k) for e in edges]) for k in ("cols", "rows", "depth", "around"))
    behind = (look.depth[r, c] < z - DEPTH_APART) & ~look.edges[r, c]
    c, r, around9 = c[behind], r[behind], around9[behind]
    names = np.array([None] + look.names, object)[look.front[r, c]]
    want = expected(look.scene, names, r, c)
    quiet = want.certain() & ~line_green(want.lo)  # no green of its own
    shows = quiet & near_green(look, around9)
    if quiet.sum() >= DEPTH_POINTS and shows.sum() * 3 > quiet.sum():
        return Problem(f"the box's hidden edges show through the quads in front of them "
                       f"({shows.sum()} of {quiet.sum()} points)", r[shows], c[shows], around(r[shows], c[shows]))
    rows, cols = grid_points(look.scene, DEPTH_GRID)
    front = look.front[rows, cols]
    last = np.zeros(len(rows), np.int8)  # without the depth test, the quad drawn last
    for i, name in enumerate(look.names, 1):
        p = look.patches[name]
        r0, c0 = rows - p.box[0].start, cols - p.box[1].start
        within = (r0 >= 0) & (c0 >= 0) & (r0 < p.covers.shape[0]) & (c0 < p.covers.shape[1])
        last[np.nonzero(within)[0][p.covers[r0[within], c0[within]]]] = i
    keep = (front > 0) & (last != front) & ~look.edges[rows, cols]
    rows, cols, front, last = rows[keep], cols[keep], front[keep], last[keep]
    if len(rows) < DEPTH_POINTS:
        return None
    tolerance = max(TOLERANCE.values())
    table = np.array([None] + look.names, object)
    got = look.got(rows, cols)

    def judged(names):
        want = expected(look.scene, table[names], rows, cols)
        return ((got < want.lo - tolerance) | (got > want.hi + tolerance)).any(axis=1)
    miss = judged(front)
    if miss.sum() * 3 > len(rows):
        evidence = (rows[miss], cols[miss], (cols[miss][0], rows[miss][0]))
        still = lambda left_out: (miss & ~left_out(rows, cols)).sum() * 3 > len(rows)
        if judged(last).sum() * 3 < len(rows):
            return Problem(f"objects drawn later cover nearer ones where they overlap "
                           f"({miss.sum()} of {len(rows)} points)", *evidence, still=still)
        i = np.nonzero(miss)[0][0]
        return Problem(f"where objects overlap, {miss.sum()} of {len(rows)} points off, e.g. ({cols[i]}, {rows[i]}) "
                       f"is {rgb(got[i])}", *evidence, still=still)
    return None


def check_whole(look):
    """A cause of the whole frame found before the checks (check_frame);
    those found after them are blame's."""
    return look.cause


# The checks a frame is given, one record each, in order; blame and the
# run's scenarios refer to them by these names.
WHOLE = Check("scene: the whole frame", None, "the whole frame", check_whole)
TILED_OUTLINE = Check("tiled quad: place, shape and spin", "tiled quad", "the tiled quad's outline",
                      lambda k: check_outline(k, "tiled quad"))
TILED_COLOURS = Check("tiled quad: the photograph 2 x 2, right way up", "tiled quad", "the tiled quad's colours",
                      lambda k: check_colours(k, "tiled quad"))
GRADIENT_OUTLINE = Check("gradient quad: place and tumble", "gradient quad", "the gradient quad's outline",
                         lambda k: check_outline(k, "gradient quad"))
GRADIENT_COLOURS = Check("gradient quad: corner colours", "gradient quad", "the gradient quad's colours",
                         lambda k: check_colours(k, "gradient quad"))
IMAGE_OUTLINE = Check("image quad: pixel rectangle", "image quad", "the image quad's outline",
                      lambda k: check_outline(k, "image quad"))
IMAGE_COLOURS = Check("image quad: the photograph right way up", "image quad", "the image quad's colours",
                      lambda k: check_colours(k, "image quad"))
BOX = Check("wire box: 12 edges", "wire box", "the wire box", check_box)
CLEAR_CHECK = Check("scene: clear colour", None, "the clear colour", check_clear)
DEPTH = Check("scene: depth test", None, "the depth test", check_depth)
ANGLE = Check("scene: frame N drawn at N degrees, the first at 1", None, "the frame's angle", check_angle)
CHECKS = checks(WHOLE, TILED_OUTLINE, TILED_COLOURS, GRADIENT_OUTLINE, GRADIENT_COLOURS, IMAGE_OUTLINE,
                IMAGE_COLOURS, BOX, CLEAR_CHECK, DEPTH, ANGLE)
OUTLINE_CHECKS = {"tiled quad": TILED_OUTLINE, "gradient quad": GRADIENT_OUTLINE, "image quad": IMAGE_OUTLINE}
COLOUR_CHECKS = {"tiled quad": TILED_COLOURS, "gradient quad": GRADIENT_COLOURS, "image quad": IMAGE_COLOURS}
# Blame's own failure is a line of its own.
BLAME = checks(Check("blame"))[0]
OBJECTS = ("tiled quad", "gradient quad", "image quad", "wire box")


# ------------------------------------------------------------------- blame


def blend_samples(colours, steps=12):
    """Colours every blend of `colours` and black may take, on a grid of
    weights 1 / steps apart: (n, 3)."""
    points = np.vstack([np.zeros((1, 3)), np.asarray(colours, float)])
    out = [np.zeros(3)]

    def walk(k, left, acc):
        if k == len(points) - 1:
            out.append(acc + points[k] * left / steps)
            return
        for w in range(left + 1):
            walk(k + 1, left - w, acc + points[k] * w / steps)
    walk(0, steps, np.zeros(3))
    return np.unique(np.round(np.array(out)), axis=0)


def object_colours(scene, obj):
    """The colours an object shows, before blending over black."""
    if obj == "wire box":
        return [(0, 255, 0)]
    q = scene.quads[obj]
    if not q.repeats:
        return [tuple(c) for c in np.asarray(q.colours, float)]
    return [tuple(np.asarray(c, float) * q.tint) for c, _ in scene.texture.colours_at]


class ColourClass:
    """The colours within CLASS_REACH of some of `samples` (n, 3), as a table
    over colours quantised to CLASS_STEP levels a channel, filled in as
    colours are asked for (a colour is taken at its cell's centre: within
    half a step's diagonal of its own distance)."""

    def __init__(self, samples):
        self.samples = np.asarray(samples, np.float32)
        self.table = np.full((256 // CLASS_STEP,) * 3, -1, np.int8)

    def holds(self, colours):
        """Whether each of colours (n, 3 uint8) is in the class."""
        cells = tuple((np.asarray(colours) // CLASS_STEP).astype(np.intp).T)
        known = self.table[cells]
        if (known < 0).any():
            todo = np.unique(np.stack([c[known < 0] for c in cells], axis=1), axis=0)
            centres = (todo * CLASS_STEP + CLASS_STEP / 2).astype(np.float32)
            for k in range(0, len(todo), 512):
                d = ((centres[k:k + 512, None, :] - self.samples[None]) ** 2).sum(axis=2).min(axis=1)
                self.table[tuple(todo[k:k + 512].T)] = d <= CLASS_REACH ** 2
            known = self.table[cells]
        return known > 0


class Blame:
    """Which pixels each object may have drawn: its colours, blended over
    black, where it may reach; and anywhere inside its expected outline
    where that outline fails (something else shows where it is missing)."""

    def __init__(self, look, misplaced=()):
        self.look, self.misplaced, self.samples = look, misplaced, {}

    def shows(self, obj, rows, cols):
        """Whether the pixels are lit in one of the object's colours: each
        colour is looked up in the object's table (ColourClass), so that
        the cost is the pixels', whatever their colours."""
        got = self.look.pixels[rows, cols]
        test = channel_max(got) > FOREGROUND
        fits = np.zeros(len(rows), bool)
        if obj not in self.samples:
            colours = tuple(object_colours(self.look.scene, obj))
            self.samples[obj] = CACHE.get(("blends", colours), lambda: ColourClass(blend_samples(colours)))
        if test.any():
            fits[np.nonzero(test)[0]] = self.samples[obj].holds(got[test])
        return fits

    def drew(self, obj, rows, cols, astray=False):
        """Whether the object may have drawn each pixel: in its colours, where
        it may reach. A quad whose outline fails reaches a share of its size
        beyond it, and anything inside it may show (it may be missing there);
        one whose outline holds reaches only where it is drawn, whatever its
        colours, unless the pixels are `astray` (where nothing is drawn: its
        colours there say it strayed, though its outline's narrow band did
        not see it); the box reaches anywhere."""
        look = self.look
        fits = self.shows(obj, rows, cols)
        if obj == "wire box":
            return fits
        quad = look.scene.quads[obj]
        if obj not in self.misplaced and not astray:
            p = look.patches[obj]
            r, c = rows - p.box[0].start, cols - p.box[1].start
            within = (r >= 0) & (c >= 0) & (r < p.near.shape[0]) & (c < p.near.shape[1])
            drawn = np.zeros(len(rows), bool)
            drawn[within] = p.near[r[within], c[within]]
            return fits & drawn & (look.front[rows, cols] == look.code(obj))
        corners = look.scene.corners(quad)
        x, y = centres(look.scene, rows, cols)
        size = max(np.ptp(corners[:, 0]), np.ptp(corners[:, 1])) if np.isfinite(corners).all() else 0
        reach = max(BLAME_MARGIN, BLAME_REACH * size)
        near = ((x >= corners[:, 0].min() - reach) & (x <= corners[:, 0].max() + reach) &
                (y >= corners[:, 1].min() - reach) & (y <= corners[:, 1].max() + reach))
        return (fits & near) | (look.scene.inside(quad, x, y) >= -1)

    def left_out(self, objects, own, astray=False):
        """A function of (rows, columns): the pixels some of the objects, but
        not `own`, may have drawn."""
        objects = [o for o in objects if o != own]
        return lambda rows, cols: np.logical_or.reduce(
            [self.drew(o, rows, cols, astray) for o in objects] + [np.zeros(len(rows), bool)])

def blame(look, results):
    """Where several checks fail: a cause of the whole frame first (its
    checks follow from it), then the depth test against the quads' colours
    it reads, then the objects: the failing checks whose pixels another
    failing object accounts for follow from it, and say so; the rest are
    the objects at fault. Both quads a degree off follow from the angle."""
    results = whole_frame(look, results)
    failing = {r.check: r for r in results if r.problem and not r.follows and r.check != WHOLE}
    if len(failing) < 2:
        return results
    follows = spoilt_depth(look, failing)
    if ANGLE in failing:
        follows.update({n: ANGLE for n in (TILED_OUTLINE, GRADIENT_OUTLINE) if n in failing})
    open_ = [n for n in failing if n != ANGLE and n not in follows]
    objects = {n.object for n in open_ if n.object}
    b = Blame(look, {n.object for n in failing if n in OUTLINE_CHECKS.values()})

    def stands(name, among):
        # Pixels where nothing is drawn may be any object's that strayed.
        astray = name == CLEAR_CHECK or failing[name].problem.cause == "astray"
        still = failing[name].problem.still
        return still is None or still(b.left_out(among, name.object, astray))
    if BOX in open_ and failing[BOX].problem.cause == "astray" and CLEAR_CHECK in open_ and \
            not stands(BOX, set(OBJECTS) - {"wire box"}):
        # A quad's colours straying where nothing is drawn, green among them:
        # the clear colour's line names whose they are.
        follows[BOX] = CLEAR_CHECK
        open_.remove(BOX)
    primary = [n for n in open_ if stands(n, objects)]
    if not primary and open_:  # each explained by another: the first object's own check
        primary = [next((n for n in open_ if n.object), open_[0])]
    causes = {n.object: n for n in reversed(primary) if n.object}
    if ANGLE in failing:
        # What the turning quads drew at their other angle explains other
        # objects' checks too.
        for n in [n for n in primary if n.object not in TURNING and not stands(n, set(TURNING))]:
            primary.remove(n)
            follows[n] = ANGLE
        causes = {o: n for o, n in causes.items() if n in primary}
        primary.append(ANGLE)
        causes.update({o: ANGLE for o in TURNING})
    for n in open_:
        if n in primary:
            continue
        if stands(n, causes):
            primary.append(n)
            continue
        p = failing[n].problem
        weights = {o: b.drew(o, p.rows, p.cols, n == CLEAR_CHECK).sum() for o in causes if o != n.object}
        follows[n] = causes[max(weights, key=weights.get)] if weights else primary[0]
    return following(results, follows)


def following(results, follows):
    """The results, those named in `follows` ({check: the check it follows
    from}) saying so."""
    out = []
    for r in results:
        if r.check in follows:
            cause = follows[r.check]
            problem = (r.problem or Problem(""))._replace(says=f"follows from {cause.cause}")
            r = r._replace(problem=problem, follows=cause)
        out.append(r)
    return out


def spoilt_depth(look, failing):
    """The depth test reads which quad shows where they overlap from their
    colours: where a quad's colours fail and still fail with the points the
    depth test disagrees at left out, its fault is theirs; where they fail
    only there, theirs is the depth test's. {check: the check it follows
    from}."""
    colours = [COLOUR_CHECKS[q] for q in COLOUR_CHECKS if COLOUR_CHECKS[q] in failing]
    if DEPTH not in failing or not colours:
        return {}
    p = failing[DEPTH].problem
    region = np.zeros((look.scene.h, look.scene.w), bool)
    region[p.rows, p.cols] = True
    region = grow(region, DEPTH_GRID)
    left_out = lambda rows, cols: region[rows, cols]
    standing = [c for c in colours if failing[c].problem.still is None or failing[c].problem.still(left_out)]
    if standing:
        return {DEPTH: standing[0]}
    return {c: DEPTH for c in colours}


# ------------------------------------------------------- the whole frame

# A map of the whole frame's colours is read at points every MAP_GRID pixels
# (on the colour checks' grid), at most MAP_MOST of the background and of
# each quad, where the scene's colour is one colour to within MAP_SURE
# levels (the gradient's two diagonals agree there).
MAP_GRID = 2 * COLOUR_GRID
MAP_MOST = 400
MAP_SURE = 4


def colour_pairs(look, split=None):
    """Points of one certain colour each, away from every outline: what the
    scene has there (n, 3), what the frame shows (n, 3), which object each
    is of (n,: 0 the background, then the quads in drawing order), and
    where (rows, columns). The gradient's colours are those of the diagonal
    `split` (the scene's where None)."""
    scene = look.scene
    rows, cols = grid_points(scene, MAP_GRID)
    front, away = look.front[rows, cols], ~look.edges[rows, cols]

    def take(k):
        r, c = rows[k], cols[k]
        every = max(1, -(-len(r) // MAP_MOST))
        return r[::every], c[::every]
    r, c = take(look.clear[rows, cols])
    parts = [(np.zeros((len(r), 3)), r, c, 0)]
    for i, name in enumerate(look.names, 1):
        r, c = take((front == i) & away)
        q = scene.quads[name]
        if name == "image quad":
            want = image_points(look, r, c).want
        elif q.repeats:
            want = Colours(*quad_colours(scene, q, r, c))
        else:
            one = scene.blends(q, *centres(scene, r, c), (scene.split if split is None else split,))[0]
            want = Colours(one, one, one.sum(axis=-1))
        with np.errstate(invalid="ignore"):
            sure = finite_rows(want.lo) & finite_rows(want.hi) & (channel_max(want.hi - want.lo) <= MAP_SURE)
        parts.append((((want.lo + want.hi) / 2)[sure], r[sure], c[sure], i))
    want = np.concatenate([p[0] for p in parts])
    rows, cols = np.concatenate([p[1] for p in parts]), np.concatenate([p[2] for p in parts])
    whose = np.concatenate([np.full(len(p[1]), p[3]) for p in parts])
    return want, look.got(rows, cols), whose, rows, cols


def frame_map(look):
    """The map of every colour that explains the frame, with the gradient
    split along whichever diagonal fits it (GL leaves that open), or None."""
    for split in (0, 1):
        want, got, whose, _, _ = colour_pairs(look, split)
        if (channel_max(np.abs(got - want)) > MAP_MOVES).sum() < MAP_POINTS:
            return None  # the frame shows the scene's colours: no map to find
        cmap = colour_map(want, got, whose)
        if cmap is not None:
            return cmap._replace(split=split)
    return None


def mixtures(colours, steps=4):
    """Every mixture of the colours with weights 1 / steps apart (no black):
    (n, 3)."""
    c = np.asarray(colours, float)
    if len(c) == 1:
        return c
    out = []
    for w in np.ndindex(*(steps + 1,) * (len(c) - 1)):
        if sum(w) <= steps:
            out.append((np.array(w) @ c[:-1] + (steps - sum(w)) * c[-1]) / steps)
    return np.array(out)


def colours_moved(look):
    """The checks whose colours the map of the whole frame moves beyond
    what they allow: a set of names."""
    forward = look.cmap.forward

    def moves(colours):
        c = np.clip(np.round(np.asarray(colours, float)), 0, 255).astype(int)
        return bool((np.abs(forward[np.arange(3), c] - c) > max(TOLERANCE.values())).any())
    out = {COLOUR_CHECKS[q] for q in COLOUR_CHECKS
           if moves(mixtures(object_colours(look.scene, q)) if q == "gradient quad" else object_colours(look.scene, q))}
    if moves([(0, 255, 0)]):
        out.add(BOX)
    if moves([(0, 0, 0)]):
        out.add(CLEAR_CHECK)
    return out


def colour_problem(look, cmap):
    """The map of the whole frame as a Problem: the points it moves."""
    want, got, _, rows, cols = colour_pairs(look, cmap.split)
    moved = channel_max(np.abs(got - want)) > max(TOLERANCE.values())
    return Problem(cmap.says, rows[moved], cols[moved], around(rows[moved], cols[moved]), cause="colour map")


def quad_points(look, name, g=COLOUR_GRID):
    """The colour checks' points of a quad: every g pixels where it is in
    front, away from every outline (rows, columns)."""
    r, c = np.nonzero((look.front[::g, ::g] == look.code(name)) & ~look.edges[::g, ::g])
    return r * g, c * g


def one_colour(look, failing):
    """Every object drawn in one colour (the gradient's, flat), as where
    the colours given with glColor are lost: the quads' colours all pass
    drawn in it, and at least two objects show it. (Problem, the checks it
    explains) or None."""
    if not {GRADIENT_COLOURS, TILED_COLOURS, IMAGE_COLOURS, BOX} & set(failing):
        return None
    rows, cols = quad_points(look, "gradient quad")
    if len(rows) >= MIN_REGION:
        got = look.got(rows, cols)
        colour = np.median(got, axis=0)
        if (channel_max(np.abs(got - colour)) > TOLERANCE["gradient quad"]).mean() > COLOUR_MISSES:
            return None
    else:  # the gradient seen edge-on: the box's colour, where it is clear of the quads
        colour, rows, cols = box_colour(look)
        if colour is None:
            return None
    if channel_max(colour) <= FOREGROUND:
        return None  # objects in black are not drawn, as far as the frame tells
    scene = look.scene
    quads = dict(scene.quads)
    quads["gradient quad"] = quads["gradient quad"]._replace(colours=(tuple(colour),) * 4)
    modulated = tuple(scene.tint) != PLAIN_TINT  # the project's shaders tint the texel by the colour
    if modulated:
        for name in ("tiled quad", "image quad"):
            quads[name] = quads[name]._replace(tint=tuple(colour / 255))
    lost = Scene(scene.angle, scene.photo, scene.tint, scene.w, scene.h, scene.texture, scene.split, quads)
    explained = set()
    for name, check in COLOUR_CHECKS.items():
        r, c = quad_points(look, name, MAP_GRID)  # a coarser grid: the colour is one
        if failed(judge_colours(look, lost, name, r, c, look.got(r, c))):
            return None
        if check in failing:
            explained.add(check)
    if BOX in failing and box_in(look, colour):
        explained.add(BOX)
    if len(explained) < 2:
        return None
    if DEPTH in failing:
        explained.add(DEPTH)
    words = CAUSES["one colour"].says.format(colour=rgb(colour))
    return Problem(words, rows, cols, around(rows, cols), cause="one colour"), explained


def box_colour(look):
    """The one colour the box's edges show where they are clear of the
    quads (the brightest pixel around each point), with the points: (colour,
    rows, columns), or None and two empty arrays where they show none or
    several."""
    pixels, rows, cols = [], [], []
    for e in look.box.edges:
        k = ~look.near_quads[e.rows, e.cols]
        around9 = look.flat_pixels[e.around[k]].astype(np.float32)
        brightest = around9[np.arange(len(around9)), channel_max(around9).argmax(axis=1)] if len(around9) else []
        pixels += list(brightest)
        rows, cols = rows + list(e.rows[k]), cols + list(e.cols[k])
    pixels = np.array(pixels).reshape(-1, 3)
    lit = channel_max(pixels) > FOREGROUND
    if lit.sum() <= FEW_POINTS or lit.mean() < EDGE_SHOWN:
        return None, EMPTY, EMPTY
    colour = np.median(pixels[lit], axis=0)
    if (channel_max(np.abs(pixels[lit] - colour)) > CLASS_REACH).mean() > COLOUR_MISSES:
        return None, EMPTY, EMPTY
    return colour, np.array(rows)[lit], np.array(cols)[lit]


def box_in(look, colour):
    """Whether the box's edges show in `colour` where they are clear of the
    quads."""
    near, shown = 0, 0
    for e in look.box.edges:
        k = ~look.near_quads[e.rows, e.cols]
        pixels = look.flat_pixels[e.around[k]].astype(np.float32)
        near += (np.sqrt(((pixels - colour) ** 2).sum(axis=-1)) <= CLASS_REACH).any(axis=1).sum()
        shown += k.sum()
    return shown > FEW_POINTS and near >= shown * EDGE_SHOWN


def behind(look, failing):
    """The frame before showing through where nothing is drawn over it: each
    turning quad whose outline fails fits the frame as a correct frame
    fits, drawn over itself a degree back (look.union_fit), and the clear
    colour, if it fails, passes with the lit pixels that the frame before's
    turning quads covered left out. (Problem, the checks it explains) or
    None."""
    where_nothing = {CLEAR_CHECK, TILED_OUTLINE, GRADIENT_OUTLINE, IMAGE_OUTLINE, BOX} & set(failing)
    if not where_nothing:
        return None
    scene = look.scene
    before = Scene(scene.angle - 1, scene.photo, scene.tint, scene.w, scene.h, scene.texture, scene.split)
    for name in TURNING:
        fit, union = look.fits[name][None], union_fit(look, name, ANGLE_READINGS[name][0])
        if OUTLINE_CHECKS[name] in failing or fit.residual >= CLEAR_RESIDUAL:
            if union is None or union.stray > STRAY_PIXELS or union.residual >= CLEAR_RESIDUAL:
                return None
    others = where_nothing - {TILED_OUTLINE, GRADIENT_OUTLINE}
    if others:
        patches = [patch(before, before.quads[n]) for n in TURNING]

        def left_out(rows, cols):
            # Lit pixels only: what shows through adds to a frame, and never
            # takes from it.
            out = np.zeros(len(rows), bool)
            for p in patches:
                r, c = rows - p.box[0].start, cols - p.box[1].start
                within = (r >= 0) & (c >= 0) & (r < p.near.shape[0]) & (c < p.near.shape[1])
                out[np.nonzero(within)[0][p.near[r[within], c[within]]]] = True
            return out & look.lit[rows, cols]
        if any(failing[n].problem.still is None or failing[n].problem.still(left_out) for n in others):
            return None
    p = failing[min(where_nothing)].problem
    words = CAUSES["behind"].says.format(which="the frame before")
    return Problem(words, p.rows, p.cols, p.at, before, cause="behind 1"), where_nothing


def whole_frame(look, results):
    """The results with a cause of the whole frame said (WHOLE) and the
    checks it explains following from it: a map of every colour (found
    before the checks, which judged the frame with it undone: those whose
    colours it moves follow; one failing is its own fault even so), every
    object in one colour, or the frame before showing through."""
    by = {r.check: r for r in results}
    failing = {n: r for n, r in by.items() if r.problem and not r.follows and n != WHOLE}
    follows = {}
    if look.cmap is not None:
        moved = colours_moved(look)
        follows = {n: WHOLE for n in moved if n in by and not by[n].problem and not by[n].error}
        results = [r._replace(problem=r.problem._replace(says=f"{r.problem.says} (with the frame's colours mapped "
                                                          f"back)")) if r.check in failing else r for r in results]
        return following(results, follows)
    if ANGLE in failing:  # the turning quads' outlines are the angle's
        failing = {n: r for n, r in failing.items() if n not in (TILED_OUTLINE, GRADIENT_OUTLINE)}
    found = failing and (one_colour(look, failing) or behind(look, failing))
    if not found:
        return results
    problem, explained = found
    results = [r._replace(problem=problem) if r.check == WHOLE else r for r in results]
    return following(results, {n: WHOLE for n in explained})


# ------------------------------------------------------------------- verdict


class Result(NamedTuple):
    check: Check
    problem: Problem = None  # what is wrong, or None
    error: str = None  # why the checker could not judge, or None
    follows: Check = None  # the check whose fault this one's follows from, or None
    seconds: float = 0.0  # the time the check took

    @property
    def name(self):
        return self.check.id


def judged(check, look):
    """One check's Result on a look, timed; an error inside it is its own."""
    t = time.perf_counter()
    try:
        return Result(check, check.function(look), seconds=time.perf_counter() - t)
    except Exception as e:  # noqa: BLE001
        return Result(check, None, f"{type(e).__name__}: {e}", seconds=time.perf_counter() - t)


def check_frame(frame, scene):
    """Every check on one frame: [Result]. A cause of the whole frame is
    looked for first: a frame of one colour is nothing drawn, and every
    other check follows from it unjudged; a map of every colour is undone
    and the checks judge the frame without it. An error inside a check is
    that check's own result, never the end of the run. Where several fail,
    those that another object's fault explains follow from it (blame)."""
    try:
        colour = flat_colour(frame.pixels)
        if colour is not None:
            cause = "nothing" if max(colour) <= CLEAR else "flat"
            return [Result(WHOLE, Problem(nothing_drawn(colour), cause=cause))] + following(
                [Result(c) for c in CHECKS[1:]], {c: WHOLE for c in CHECKS[1:]})
        look = Look(frame, scene)
        cmap = frame_map(look)
        if cmap is not None:
            undone = copy.copy(frame)
            undone.pixels = undo(frame.pixels, cmap)
            cause = colour_problem(look, cmap)
            look = Look(undone, scene)
            look.cause, look.cmap = cause, cmap
    except Exception as e:  # noqa: BLE001 - reported as the checks' own error
        return [Result(c, None, f"{type(e).__name__}: {e}") for c in CHECKS]
    results = [judged(c, look) for c in CHECKS]
    try:
        results = blame(look, results)
    except Exception as e:  # noqa: BLE001
        results.append(Result(BLAME, None, f"{type(e).__name__}: {e}"))
    # Closures do not cross to another process; the words and pixels do.
    return [r._replace(problem=r.problem._replace(still=None)) if r.problem else r for r in results]
