"""The checks of one captured frame against the scene (scene.py), as the
frame is seen against it (look.py), a record each (CHECKS).

A colour is asserted as the range of what the quad may show there: on a
textured quad, any blend of the texels its lookup may reach
(scene.Scene.footprint); and each cell of the photograph and each copy of
it as a region, whose mean no filter can move far. A box edge is found
where it should be and measured across.

Each check gives None or a Problem: what the user reads, and the evidence
the report draws: the pixels that disagree, the place the words name, and
the misread scene that fits, where one does."""
from typing import Callable, NamedTuple

import numpy as np

from .drawn import Blame
from .model import Cause
from .look import (CACHE, EMPTY, TURNING, angle_fits, at_pixels, centres, channel_max, grid_points, line_coloured,
                   quad_colours, scene_key)
from .misreadings import ANGLES, COLOURS
from .results import Check, checks
from .scene import Colours, quad_key
from .tolerances import (BLACK, CLEAR_RESIDUAL, COPY_OFF, DEPTH_APART, EDGE_SHOWN, FEW, LEVELS_OFF, LINE_SLACK, MEAN_OFF,
                         MIN_COPY, MIN_POINTS, MISSES, TIGHT)
from .words import rgb, says

# Colours are read every COLOUR_GRID pixels inside a quad; where quads
# overlap, every DEPTH_GRID pixels.
COLOUR_GRID = 3
DEPTH_GRID = 4


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
    # For a cause of the whole frame or the frame's angle, what it is (a
    # model.Cause), for the run to read across frames.
    cause: object = None
    # Pixels where nothing is drawn, in its colours: what strayed there may
    # be any object's (blame).
    astray: bool = False
    # The misreading that explains what is wrong, as a Problem, or None:
    # asked only of a check at fault on its own (check_frame), so that a
    # check that follows from another's fault costs no search.
    diagnose: Callable = None


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
    """The frame against the quad's outline: pixels drawn off it, and where
    they are few, a misreading of the quad's own that explains it (its
    pixels closer to the outline than a pixel, but far off in sum). The
    misreading that explains pixels drawn off is the diagnosis's, asked of
    a check at fault on its own."""
    fit = look.fits[name][None]
    if fit.stray > FEW:
        says, at = geometry(look, name, fit)
        return Problem(says, fit.rows, fit.cols, at,
                       still=lambda left_out: (~left_out(fit.rows, fit.cols)).sum() > FEW,
                       diagnose=lambda: misread_outline(look, name))
    if fit.residual >= CLEAR_RESIDUAL:
        return misread_outline(look, name)
    return None


def misread_outline(look, name):
    """The quad's own misreading that explains the frame, as a Problem, or
    None."""
    how, fits = look.misreading(name)
    if not how:
        return None
    fit = fits[None]
    # With another object's pixels left out, the scene may explain the
    # rest after all.
    still = lambda left_out: float(fit.miss[~left_out(fit.all_rows, fit.all_cols)].sum()) >= CLEAR_RESIDUAL
    return Problem(how.says, fit.off_rows, fit.off_cols, around(fit.off_rows, fit.off_cols),
                   how.scene(look.scene), (name,), still=still)


def check_angle(look):
    """Frame N at N degrees: the two quads together fit no better a degree
    off; an angle is named only where it explains the frame."""
    off = angle_fits(look.fits)
    return off and angle_problem(look, off, look.fits)


def angle_problem(look, off, fits):
    """The frame drawn OFF degrees off its scene's angle, its evidence the
    turning quads' pixels off the scene in `fits` ({quad: {None: Fit}})."""
    both = [fits[n][None] for n in TURNING]
    scene = look.scene
    for m in ANGLES[off]:
        scene = m.scene(scene)
    rows, cols = (np.concatenate([getattr(f, k) for f in both]) for k in ("off_rows", "off_cols"))
    # Where nothing of the scene at N is missing, the frame before may be
    # showing through around it instead; the run tells them apart.
    behind = off < 0 and sum(f.missing for f in both) * 3 < sum(f.residual for f in both)
    cause = Cause("angle", (off, behind))
    return Problem(says(cause, look.scene.angle), rows, cols, around(rows, cols), scene,
                   ("tiled quad", "gradient quad"), cause=cause)


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
    return m.tested > 0 and m.missed > m.tested * MISSES


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
    if known.sum() < MIN_POINTS:
        return None
    counts, mean, lo, hi = group_means(points.cells, points.n_cells, known, got, points.want.lo, points.want.hi)
    found = regions_off(points, points.cells, known, counts, mean, lo, hi, MIN_POINTS, MEAN_OFF)
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
    found = regions_off(points, points.copies, known, counts, mean, lo, hi, MIN_COPY, COPY_OFF)
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
        return misses(got, points, LEVELS_OFF), cells_off(got, points), copies_off(got, points)
    none = np.full(len(rows), -1)
    out = []
    for c in scene.blends(q, *centres(scene, rows, cols), (scene.split, 1 - scene.split)):
        points = Points(rows, cols, Colours(c, c, c.sum(axis=-1)), none, c, none)
        out.append((misses(got, points, LEVELS_OFF), None, None))
    return min(out, key=lambda r: r[0].missed - r[0].tested * MISSES)


def image_points(look, rows, cols):
    """colour_points for the image quad, which never moves: computed once for
    every point of the grid it may show, then taken."""
    scene = look.scene
    q = scene.quads["image quad"]
    key = ("image colours", scene_key(scene), quad_key(q), scene.texture.key)

    def make():
        p = look.patches["image quad"]
        g_rows, g_cols = grid_points(scene, COLOUR_GRID)
        inside = at_pixels(p, p.covers, g_rows, g_cols)
        where = np.full((scene.h, scene.w), -1, np.int32)
        where[g_rows[inside], g_cols[inside]] = np.arange(inside.sum())
        return where, colour_points(scene, "image quad", g_rows[inside], g_cols[inside])
    where, all_points = CACHE.get(key, make)
    k = where[rows, cols]
    if (k < 0).any():
        return colour_points(scene, "image quad", rows, cols)
    take = lambda v: np.take(v, k, axis=0)
    return Points(rows, cols, Colours(*map(take, all_points.want)), take(all_points.cells),
                  take(all_points.cell_colour), take(all_points.copies), all_points.n_cells, all_points.n_copies,
                  tuple(map(take, all_points.blurred)))


def failed(found):
    m, cells, copies = found
    return too_many(m) or cells is not None or copies is not None


def explains(misread, found):
    """A misreading of the colours fits: its points are within their
    budget, and it leaves at most half the regions off that the scene does
    (another object's pixels over a region stay off either way)."""
    regions = lambda f: sum(r[4] for r in f[1:] if r is not None)
    return not too_many(misread[0]) and regions(misread) * 2 <= regions(found)


# A misreading of a quad's colours is judged in full only where, at up to
# SCREEN_POINTS of the points that disagree, it leaves no more than half of
# those it can judge off (with at least SCREEN_LEAST of them).
SCREEN_POINTS = 256
SCREEN_LEAST = 12


def may_explain(look, misread, name, evidence):
    """Whether a misreading of the quad's colours may explain the points
    that disagree with the scene (evidence: their rows and columns): one
    that leaves most of them off cannot leave half the regions off that the
    scene does, and is not judged over all the points (its cost is their
    count's, not the quad's)."""
    rows, cols = evidence[0], evidence[1]
    every = max(1, -(-len(rows) // SCREEN_POINTS))
    rows, cols = rows[::every], cols[::every]
    m, _, _ = judge_colours(look, misread, name, rows, cols, look.got(rows, cols))
    return m.tested < SCREEN_LEAST or m.missed * 2 <= m.tested


def quad_points(look, name, g=COLOUR_GRID):
    """The colour checks' points of a quad: every g pixels where it is in
    front, away from every outline (rows, columns)."""
    r, c = np.nonzero((look.front[::g, ::g] == look.code(name)) & ~look.edges[::g, ::g])
    return r * g, c * g


def check_colours(look, name):
    """Colours every COLOUR_GRID pixels inside the quad, away from every
    outline: each point, each cell of the photograph and each copy of it as
    a region; the misreadings for the diagnosis."""
    rows, cols = quad_points(look, name)
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

    def diagnose():
        reading = next((reading for reading in COLOURS[name]
                        if may_explain(look, reading.scene(look.scene), name, evidence) and
                        explains(judge_colours(look, reading.scene(look.scene), name, rows, cols, got), found)), None)
        return reading and Problem(reading.says, *evidence)
    says = region[2] if region is not None else f"{m.missed} of {m.tested} points off, e.g. {m.first}"
    return Problem(says, *evidence, still=still, diagnose=diagnose)


# ------------------------------------------------------- box, clear, depth


def near_green(look, around):
    """Whether the box's colour lies among each point's 3 x 3 pixels ([point,
    pixel] flat indices)."""
    return line_coloured(look.flat_pixels[around], look.scene.box_colour).any(axis=1)


def line_cover(pixels, colour):
    """The share of the box's colour that pixels (..., 3) hold, as drawn over
    black: 0 where they hold little or something else."""
    colour = np.asarray(colour, np.float32)
    k = int(np.argmax(colour))
    c = pixels.astype(np.float32)
    share = c[..., k] / colour[k]
    ours = (c[..., k] > LEVELS_OFF) & (np.abs(c - share[..., None] * colour).max(axis=-1) <= c[..., k] / 2)
    return np.where(ours, share, 0)


def check_box(look):
    """Each of the 12 edges is green where it shows (away from the quads,
    the depth test's business) and no wider than a width-1 line; no green
    line where the box has none."""
    flat = look.flat_pixels
    for e in look.box.edges:
        shown = ~look.near_quads[e.rows, e.cols]
        green = near_green(look, e.around[shown])
        if shown.sum() > FEW and green.sum() < shown.sum() * EDGE_SHOWN:
            ends = [rgb(p) for p in e.ends * (1, -1) + (0, look.scene.h)]
            rows, cols = e.rows[shown][~green], e.cols[shown][~green]
            return Problem(f"{e.name} edge missing: no green along it from {ends[0]} to {ends[1]}", rows, cols,
                           around(rows, cols))
    for e, clear, widths in edge_widths(look):
        width = float(np.median(widths))
        if width >= e.allowed + LINE_SLACK:
            wide = e.profiles[clear][widths >= e.allowed + LINE_SLACK]
            covered = wide[line_cover(flat[wide], look.scene.box_colour) > 0]
            rows, cols = covered // look.scene.w, covered % look.scene.w
            return Problem(f"{e.name} edge {width:.1f} pixels wide across, where a width-1 line covers at most "
                           f"{e.allowed:.1f}", rows, cols, around(rows, cols))
    stray = background_misses(look, lambda p: line_coloured(p, look.scene.box_colour))
    return stray and stray._replace(says=f"a green line where the box has no edge, {stray.says}", astray=True)


def edge_widths(look):
    """Each box edge measured across where it is clear of the quads at
    MIN_POINTS places or more: (its BoxEdge, which of its places, the
    width at each: the share of the box's colour in each pixel summed)."""
    out = []
    for e in look.box.edges:
        if len(e.profiles):
            clear = ~look.near_quads.reshape(-1)[e.profiles].any(axis=1)
            if clear.sum() >= MIN_POINTS:
                out.append((e, clear, line_cover(look.flat_pixels[e.profiles[clear]], look.scene.box_colour).sum(axis=1)))
    return out


def background_misses(look, wrong):
    """Points every COLOUR_GRID pixels where the scene leaves the window clear
    and the frame has something `wrong` (a function of pixels): a Problem
    or None."""
    g = COLOUR_GRID
    pixels = look.pixels[::g, ::g]
    r, c = np.nonzero(look.clear[::g, ::g] & wrong(pixels))
    if len(r) < FEW:
        return None
    rows, cols = r * g, c * g
    i = len(rows) // 2
    return Problem(f"{len(rows)} points, e.g. ({cols[i]}, {rows[i]}) is {rgb(look.pixels[rows[i], cols[i]])}",
                   rows, cols, (cols[i], rows[i]),
                   still=lambda left_out: (~left_out(rows, cols)).sum() >= FEW)


def not_black(pixels, box_colour):
    return (channel_max(pixels) > BLACK) & ~line_coloured(pixels, box_colour)


def check_clear(look):
    """Black where nothing is drawn; what is there is named by the object in
    whose colours, and within whose reach, most of it lies."""
    miss = background_misses(look, lambda p: not_black(p, look.scene.box_colour))
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
    quiet = want.certain() & ~line_coloured(want.lo, look.scene.box_colour)  # no colour of the box's own
    shows = quiet & near_green(look, around9)
    if quiet.sum() >= MIN_POINTS and shows.sum() * 3 > quiet.sum():
        return Problem(f"the box's hidden edges show through the quads in front of them "
                       f"({shows.sum()} of {quiet.sum()} points)", r[shows], c[shows], around(r[shows], c[shows]))
    rows, cols = grid_points(look.scene, DEPTH_GRID)
    front = look.front[rows, cols]
    last = np.zeros(len(rows), np.int8)  # without the depth test, the quad drawn last
    for i, name in enumerate(look.names, 1):
        p = look.patches[name]
        last[at_pixels(p, p.covers, rows, cols)] = i
    keep = (front > 0) & (last != front) & ~look.edges[rows, cols]
    rows, cols, front, last = rows[keep], cols[keep], front[keep], last[keep]
    if len(rows) < MIN_POINTS:
        return None
    tolerance = LEVELS_OFF
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
    """A cause of the whole frame: check_frame names it, before the checks
    or after them (causes.py)."""
    return None


# The checks a frame is given, one record each, in order; blame and the
# run's scenarios refer to them by these names.
def outline_check(quad, id_):
    return Check(f"{quad}: {id_}", quad, f"the {quad}'s outline", lambda k: check_outline(k, quad))


def colours_check(quad, id_):
    return Check(f"{quad}: {id_}", quad, f"the {quad}'s colours", lambda k: check_colours(k, quad))


WHOLE = Check("scene: the whole frame", None, "the whole frame", check_whole)
TILED_OUTLINE = outline_check("tiled quad", "place, shape and spin")
TILED_COLOURS = colours_check("tiled quad", "the photograph 2 x 2, right way up")
GRADIENT_OUTLINE = outline_check("gradient quad", "place and tumble")
GRADIENT_COLOURS = colours_check("gradient quad", "corner colours")
IMAGE_OUTLINE = outline_check("image quad", "pixel rectangle")
IMAGE_COLOURS = colours_check("image quad", "the photograph right way up")
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
