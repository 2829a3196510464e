"""The checks of one captured frame against the scene (check_scene.py).

A pixel is judged by coverage: the share of an object's colour that it
holds, from 0 (what lies behind) to 1 (the object alone). Without
multisampling GL covers exactly the pixels whose centres lie inside; with
it, the samples inside, resolved into the pixel in a way GL leaves open.
Outlines are compared where nothing else comes within 2 pixels, so that
what lies beyond an edge is the black background."""
import re

import numpy as np

from check_scene import IMAGE_SHIFTS

TOLERANCE = {"tiled quad": 40, "image quad": 40, "gradient quad": 32}
MARGIN = {"tiled quad": 0.12, "image quad": 0.04, "gradient quad": 0}
FOREGROUND = 24  # a pixel brighter than this in any channel holds something
# Sample positions (x, y up, within a pixel) where GL did not tell them.
STANDARD_POSITIONS = {2: [(0.75, 0.25), (0.25, 0.75)],
                      4: [(0.375, 0.875), (0.875, 0.625), (0.125, 0.375), (0.625, 0.125)]}


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
    """Points every `step` pixels, at least 2 pixels from any outline and from
    the box's lines: (rows, columns)."""
    rows, cols = (g.ravel() for g in np.mgrid[:look.scene.h:step, :look.scene.w:step])
    keep = ~look.edges[rows, cols]
    return rows[keep], cols[keep]


class Look:
    """One frame against one scene: each quad at every pixel centre, what is
    in front, the box's lines, and where each kind of check may look."""

    def __init__(self, frame, scene):
        self.frame, self.scene = frame, scene
        self.raster = {n: scene.raster(q) for n, q in scene.quads.items()}
        self.front, self.depth = np.full((scene.h, scene.w), None, object), np.full((scene.h, scene.w), np.inf)
        for name, (_, _, _, depth) in self.raster.items():
            nearer = depth < self.depth
            self.front[nearer], self.depth[nearer] = name, depth[nearer]
        self.lines = self.line_mask(1.5)
        self.green = line_green(frame.pixels)
        covered = [r[0] for r in self.raster.values()]
        self.near = {n: grow(r[0], 2) for n, r in self.raster.items()}
        self.clear = ~(grow(np.logical_or.reduce(covered), 3) | grow(self.lines, 2))
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

    def coverage(self, name, rows, cols, scene):
        """The share of the quad's colour that the pixels hold: in the quad's
        strong channels the ratio of the pixel to the colour the quad shows
        there in `scene`, so that a part-covered pixel over black reads its
        part. Where the pixel is no share of that colour (the quad dark, or
        filtering blends in a neighbouring colour), whether it holds anything."""
        a, b, _ = scene.hits(scene.quads[name], cols + 0.5, scene.h - rows - 0.5)
        want, got = scene.colours(name, a, b, 0), self.frame.pixels[rows, cols]
        top = np.nanmax(want, axis=1, initial=0)
        with np.errstate(divide="ignore", invalid="ignore"):
            share = np.clip(np.where((want >= 0.4 * top[:, None]) & (want > 0), got / want, 0).max(axis=1), 0, 1)
        other = ~(top > FOREGROUND) | (np.abs(got - share[:, None] * want) > 48).any(axis=1)
        share[other] = got[other].max(axis=1) > FOREGROUND
        return share

    def outline_cases(self, name):
        """The quad in the scene and in each misreading, on the pixels around
        all of them: {how: (rows, columns, coverage found, inside, within a
        pixel of the outline, and there the samples surely and maybe in)}.
        Along the outlines coverage is the share of the colour; inside, it
        is whether anything is there."""
        scenes = {None: self.scene, **{how: self.scene.reading(name, how) for how in READINGS[name]}}
        box = self.scene.box_around([s.quads[name] for s in scenes.values()], 6)
        covers = {how: s.covers(s.quads[name], box) for how, s in scenes.items()}
        # Within 3 of the outlines, not within 2 of anything else.
        region = grow(np.logical_or.reduce(list(covers.values())), 3) & ~grow(self.lines[box], 1)
        for other, near in self.near.items():
            if other != name:
                region &= ~near[box]
        rows, cols = np.nonzero(region)
        edge = np.logical_or.reduce([grow(band(c)) for c in covers.values()])[rows, cols]
        at = rows + box[0].start, cols + box[1].start
        lit = (self.frame.pixels[at].max(axis=1) > FOREGROUND).astype(np.float32)
        cases = {}
        for how, s in scenes.items():
            got = lit.copy()
            got[edge] = self.coverage(name, at[0][edge], at[1][edge], s)
            on = band(covers[how])[rows, cols]
            cases[how] = (*at, got, covers[how][rows, cols], on,
                          *s.samples(s.quads[name], at[0][on], at[1][on], self.frame.positions))
        return cases

    def outlines(self):
        """How the frame fits each quad's outline in the scene and in each
        misreading: {name: {how: (stray, residual, (rows, columns, drawn))}}:
        the pixels off by more than half beyond a pixel of the outline, the
        coverage differences summed, and where the stray ones lie; with the
        samples resolved into pixels as explains the frame best:
        GL leaves the resolve open, so the mean of the samples (of the colour
        values or, gamma-correct, of the light) and each sample alone are
        tried, each quad taking whichever reading fits it best."""
        n = len(self.frame.positions)
        options = [([1 / n] * n, 1), ([1 / n] * n, 1 / 2.2)] + [(list(np.eye(n)[k]), 1) for k in range(n)]
        cases = {name: self.outline_cases(name) for name in READINGS}
        best = min(options[:1] if n == 1 else options, key=lambda o: sum(
            min(outside(c, o).sum() for c in by_reading.values()) for by_reading in cases.values()))
        fits = {}
        for name, by_reading in cases.items():
            fits[name] = {}
            for how, c in by_reading.items():
                miss = outside(c, best)
                stray = (miss > 0.5) & ~c[4]
                fits[name][how] = (int(stray.sum()), float(miss.sum()), (c[0][stray], c[1][stray], c[2][stray] > 0.5))
        return fits


def outside(case, resolve):
    """How far the coverage found lies outside what GL may cover, with the
    samples resolved by (weights, curve)."""
    _, _, got, inside, on, sure, maybe = case
    weights, curve = resolve
    lo, hi = inside.astype(np.float32), inside.astype(np.float32)
    lo[on], hi[on] = (np.asarray(weights) @ sure) ** curve, (np.asarray(weights) @ maybe) ** curve
    return np.maximum(0, np.maximum(lo - got, got - hi))


# ------------------------------------------------------------------ outlines

# Misreadings of each quad's geometry, the nearest first: where two explain a
# frame alike, the nearer is named.
READINGS = {
    "tiled quad": {
        "one degree less": "drawn one degree short of the frame's angle",
        "one degree more": "drawn one degree past the frame's angle",
        "other spin": "turns counter-clockwise seen from above, expected clockwise",
    },
    "gradient quad": {
        "one degree less": "drawn one degree short of the frame's angle",
        "one degree more": "drawn one degree past the frame's angle",
        "other tumble": "tumbles with its top edge tipping away from the camera, expected towards it",
        "vertical axis": "turns about the vertical axis, expected the horizontal",
        "bottom edge": "turns about its bottom edge, expected its horizontal centre line",
    },
    "image quad": {how: f"not centred: {how}" for how in IMAGE_SHIFTS},
}


def better_reading(fits, readings):
    """The misreading that explains the frame far better than the scene."""
    best = min(readings, key=lambda how: fits[how][1])
    if fits[best][0] <= 3 and fits[None][1] >= 20 and fits[best][1] * 2 < fits[None][1]:
        return best
    return None


def check_outline(look, name):
    fits = look.fits[name]
    stray, _, (rows, cols, drawn) = fits[None]
    how = better_reading(fits, READINGS[name])
    if how:
        return READINGS[name][how]
    if stray > 3:
        kind = "drawn outside its outline" if drawn.mean() >= 0.5 else "missing inside its outline"
        return f"{stray} pixels {kind}, around ({int(np.median(cols))}, {int(np.median(rows))})"
    return None


def check_angle(look):
    """Frame N at N degrees: the two quads together fit no better a degree off."""
    fits = [look.fits[n] for n in ("tiled quad", "gradient quad")]
    both = {how: tuple(sum(f[how][k] for f in fits) for k in (0, 1)) for how in (None, "one degree less",
                                                                                 "one degree more")}
    how = better_reading(both, ("one degree less", "one degree more"))
    if how:
        return f"drawn at {look.scene.angle + (1 if how.endswith('more') else -1)} degrees, expected {look.scene.angle}"
    return None


# ------------------------------------------------------------------- colours


def expected(look, scene, names, rows, cols, margin):
    """The colours that the named quads (a name a point) show at the points
    in `scene`; NaN where a test photograph's cell boundary is near."""
    want = np.full((len(rows), 3), np.nan)
    for name in set(names):
        k = names == name
        _, a, b, _ = look.raster[name]
        want[k] = scene.colours(name, a[rows[k], cols[k]], b[rows[k], cols[k]], margin)
    return want


def misses(look, scene, names, rows, cols, margin, tolerance):
    """(tested, missed, first miss) of the frame's colours at the points,
    whichever way the quads are split into triangles fits better."""
    got, out = look.frame.pixels[rows, cols], [(0, 0, None)]
    for s in (scene, scene.other_split()) if len(rows) else ():
        want = expected(look, s, names, rows, cols, margin)
        known = ~np.isnan(want).any(axis=1)
        miss = known & (np.abs(got - np.nan_to_num(want)) > tolerance).any(axis=1)
        i = np.argmax(miss)
        out.append((int(known.sum()), int(miss.sum()), f"({cols[i]}, {rows[i]}) is {rgb(got[i])}, expected about {rgb(want[i])}"))
    return min(out[1:] or out, key=lambda r: r[1] - r[0] * 0.1)


def check_colours(look, name, readings):
    """Colours every 3 pixels inside the quad; the misreadings for the diagnosis."""
    rows, cols = grid(look, 3)
    keep = look.front[rows, cols] == name
    at = (np.full(keep.sum(), name, object), rows[keep], cols[keep], MARGIN[name], TOLERANCE[name])
    tested, missed, first = misses(look, look.scene, *at)
    if tested == 0 or missed * 10 <= tested:
        return None
    for how in readings:
        t, m, _ = misses(look, look.scene.reading(name, how), *at)
        if t and m * 10 <= t:
            return f"shows {how}" if how.startswith("the photograph") else how
    return f"{missed} of {tested} points off, e.g. {first}"


# ------------------------------------------------------- box, clear, depth


def line_green(c):
    """Pixels (..., 3) that hold at least a third of the box's green."""
    return (c[..., 1] >= 80) & (c[..., 0] <= c[..., 1] / 2) & (c[..., 2] <= c[..., 1] / 2)


def edge_points(look, a, b, n=24):
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
    near_quads = np.logical_or.reduce([grow(r[0], 3) for r in look.raster.values()])
    for name, a, b in s.box():
        c, r, _ = edge_points(look, a, b)
        shown = ~near_quads[r, c]
        if shown.sum() >= 4 and near_green(look, c[shown], r[shown]).sum() * 2 < shown.sum():
            ends = [rgb(p) for p in s.window(s.BOX, [a, b])[:, :2] * (1, -1) + (0, s.h)]
            return f"{name} edge missing: no green along it from {ends[0]} to {ends[1]}"
    stray = background_misses(look, look.green)
    return f"a green line where the box has no edge, {stray}" if stray else None


def background_misses(look, wrong):
    """Points every 3 pixels where the scene leaves the window clear and the
    frame has something `wrong` (a mask)."""
    rows, cols = (g.ravel() for g in np.mgrid[:look.scene.h:3, :look.scene.w:3])
    bad = look.clear[rows, cols] & wrong[rows, cols]
    if bad.sum() < 3:
        return None
    i = np.nonzero(bad)[0][bad.sum() // 2]
    return f"{bad.sum()} points, e.g. ({cols[i]}, {rows[i]}) is {rgb(look.frame.pixels[rows[i], cols[i]])}"


def check_clear(look):
    miss = background_misses(look, (look.frame.pixels.max(axis=2) > 10) & ~look.green)
    return f"not black where nothing is drawn: {miss}" if miss else None


def check_depth(look):
    """Nearer objects hide farther ones: the box's hidden edges stay hidden,
    and where quads overlap the nearer one shows, not the one drawn last."""
    c, r, z = (np.concatenate(v) for v in zip(*(edge_points(look, a, b) for _, a, b in look.scene.box())))
    behind = (look.depth[r, c] < z - 1e-6) & ~look.edges[r, c]
    c, r = c[behind], r[behind]
    want = expected(look, look.scene, look.front[r, c], r, c, 0.05)
    quiet = ~np.isnan(want).any(axis=1) & ~line_green(np.nan_to_num(want))  # no green of its own
    hidden, through = quiet.sum(), (quiet & near_green(look, c, r)).sum()
    if hidden >= 6 and through * 3 > hidden:
        return f"the box's hidden edges show through the quads in front of them ({through} of {hidden} points)"
    last = np.full(look.front.shape, None, object)  # without the depth test
    for name, r in look.raster.items():  # in drawing order
        last[r[0]] = name
    rows, cols = grid(look, 4)
    keep = (look.front[rows, cols] != None) & (last[rows, cols] != look.front[rows, cols])  # noqa: E711
    rows, cols = rows[keep], cols[keep]
    t, m, first = misses(look, look.scene, look.front[rows, cols], rows, cols, 0.1, 40)
    if t >= 6 and m * 3 > t:
        t2, m2, _ = misses(look, look.scene, last[rows, cols], rows, cols, 0.1, 40)
        if m2 * 3 < t2:
            return f"objects drawn later cover nearer ones where they overlap ({m} of {t} points)"
        return f"where objects overlap, {m} of {t} points off, e.g. {first}"
    return None


PHOTO_MISREADINGS = ["the photograph upside down", "the photograph mirrored left to right",
                     "the photograph turned half a turn", "the photograph's colours inverted"]

CHECKS = (
    ("tiled quad: place, shape and spin", lambda k: check_outline(k, "tiled quad")),
    ("tiled quad: the photograph 2 x 2, right way up",
     lambda k: check_colours(k, "tiled quad", PHOTO_MISREADINGS + ["shown once"])),
    ("gradient quad: place and tumble", lambda k: check_outline(k, "gradient quad")),
    ("gradient quad: corner colours", lambda k: check_colours(k, "gradient quad", ["red and green swapped"])),
    ("image quad: pixel rectangle", lambda k: check_outline(k, "image quad")),
    ("image quad: the photograph right way up", lambda k: check_colours(k, "image quad", PHOTO_MISREADINGS)),
    ("wire box: 12 edges", check_box),
    ("scene: clear colour", check_clear),
    ("scene: depth test", check_depth),
    ("scene: frame N drawn at N degrees, the first at 1", check_angle),
)


def check_frame(frame, scene):
    """Every check on one frame: [(name, None or what is wrong)]."""
    look = Look(frame, scene)
    return [(name, check(look)) for name, check in CHECKS]
