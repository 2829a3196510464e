#!/usr/bin/env python3
"""Does this machine draw the demo right? Runs the real demo under the
frame-capture library in a scratch folder, with test photographs of its own,
and checks chosen frames object by object against the scene's own
transforms, computed here.

  check.py --demo DEMO --capture frame_capture.so --data DATA [--keep DIR]

DATA holds the project's shaders; the plainest pair (the vertex colour; the
texel, unmodulated) lies beside this file in plain/. The demo runs on the
current DISPLAY with whatever GL it gets there. Prints GL's strings, one line
per check ("ok NAME" or "FAIL NAME: what is wrong and where"), the time to
the first frame and the frame rate, then "N passed, M failed"; the status is
0 only when M is 0. --keep DIR keeps the scratch folder (photographs, frames,
output) as DIR.

The scene, as the demo draws it: viewport W x H (640 x 480 at start),
projection 45 degrees vertically at aspect 1.333 (whatever the window's
shape), eye at z = 600 looking at the origin. Frame N is drawn at N degrees.
  tiled quad     100 x 100, turned -N degrees about y, moved to (0, 100, 100);
                 texture coordinates 0..2, the photograph tinted by the
                 vertex colour (1, 0.5, 0.2) with the project's shaders
  gradient quad  100 x 100, centre line on the x axis, turned +N degrees
                 about x, moved to (0, -100, 200); red, green, blue, yellow
                 corners, split into triangles along the red-blue diagonal
  image quad     the photograph's pixel size in world units, centred in z = 0
  wire box       400 x 300 x 400, green, centred on the origin

Tolerances: edges and outlines +-1 pixel (the rasteriser's rounding);
colours 40 levels for textures (filtering, mipmaps, JPEG) and 32 for the
gradient (interpolation), sampled at least 2 pixels inside an object and
away from the photograph's own colour boundaries. A fault is also reported
when another reading of the scene (the other spin, one degree off, another
axis, the photograph upside down, ...) explains a frame much better."""
import math
import os
import shutil
import subprocess
import sys
import tempfile
import time

F = 1 / math.tan(math.radians(22.5))
ASPECT = 1.333
EYE = (0.0, 0.0, 600.0)
RED, GREEN, BLUE, WHITE, YELLOW = (255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 255), (255, 255, 0)
PROJECT_TINT, PLAIN_TINT = (1.0, 0.5, 0.2), (1.0, 1.0, 1.0)
FRAMES = (1, 30, 60, 90, 135, 225)
DARK = 24  # a pixel brighter than this in any channel is drawn, not cleared

# ---------------------------------------------------------------- geometry


def add(p, q):
    return (p[0] + q[0], p[1] + q[1], p[2] + q[2])


def sub(p, q):
    return (p[0] - q[0], p[1] - q[1], p[2] - q[2])


def dot(p, q):
    return p[0] * q[0] + p[1] * q[1] + p[2] * q[2]


def cross(p, q):
    return (p[1] * q[2] - p[2] * q[1], p[2] * q[0] - p[0] * q[2], p[0] * q[1] - p[1] * q[0])


def rotate(p, degrees, axis):
    """As glRotate about the x or the y axis (right-handed)."""
    a = math.radians(degrees)
    c, s = math.cos(a), math.sin(a)
    x, y, z = p
    if axis == "x":
        return (x, y * c - z * s, y * s + z * c)
    return (x * c + z * s, y, -x * s + z * c)


class Quad:
    """A rectangle in world space: corners p0..p3 in drawing order."""

    def __init__(self, name, corners, order):
        self.name, self.corners, self.order = name, corners, order
        self.p0 = corners[0]
        self.u, self.v = sub(corners[1], corners[0]), sub(corners[3], corners[0])
        self.uu, self.vv = dot(self.u, self.u), dot(self.v, self.v)
        self.n = cross(self.u, self.v)

    def hit(self, d):
        """Distance along the ray d from the eye and the quad's (a, b)
        parameters (0..1 along p0->p1 and p0->p3), or None."""
        den = dot(self.n, d)
        if abs(den) < 1e-9:
            return None
        t = dot(self.n, sub(self.p0, EYE)) / den
        if t <= 0:
            return None
        w = sub(add(EYE, (d[0] * t, d[1] * t, d[2] * t)), self.p0)
        a, b = dot(w, self.u) / self.uu, dot(w, self.v) / self.vv
        if 0 <= a <= 1 and 0 <= b <= 1:
            return t, a, b
        return None


class Photo:
    """A test photograph of flat cells: columns split at fractions us of the
    width, rows at fractions ys of the height from the top; cells[row][col]."""

    def __init__(self, width, height, us, ys, cells):
        self.width, self.height, self.us, self.ys, self.cells = width, height, us, ys, cells

    def colour(self, u, v, margin):
        """The texel at texture coordinate (u, v), v = 0 at the bottom; None
        within `margin` of a cell boundary or the photograph's own edge,
        where filtering blends neighbours."""
        y = 1 - v
        for value, cuts in ((u, self.us), (y, self.ys)):
            if min(abs(value - c) for c in (0, 1, *cuts)) < margin:
                return None
        col = sum(1 for c in self.us if u > c)
        row = sum(1 for c in self.ys if y > c)
        return self.cells[row][col]


def quadrants(width, height, tl=RED, tr=GREEN, bl=BLUE, br=WHITE):
    return Photo(width, height, [0.5], [0.5], [[tl, tr], [bl, br]])


# How a photograph can be misread, for the diagnosis: (u, v, colour) maps.
PHOTO_READINGS = (
    ("the photograph upside down", lambda u, v: (u, 1 - v), None),
    ("the photograph mirrored left to right", lambda u, v: (1 - u, v), None),
    ("the photograph turned half a turn", lambda u, v: (1 - u, 1 - v), None),
    ("the photograph's colours inverted", None, lambda c: tuple(255 - x for x in c)),
)


class Scene:
    """The demo's scene at one angle, as a W x H viewport shows it. `reading`
    names a misreading of one object for the diagnosis, as (object, how)."""

    def __init__(self, angle, photo, tint, w=640, h=480, texture=None, reading=(None, None), split=0):
        self.angle, self.photo, self.tint, self.w, self.h = angle, photo, tint, w, h
        self.texture = texture or photo  # what was uploaded at start-up
        self.reading = reading
        # GL leaves open how a quad becomes triangles: along the diagonal
        # from its first corner (0) or from its second (1).
        self.split = split
        self.depth_test = reading != ("scene", "no depth test")
        self.quads = [self.tiled(), self.gradient(), self.image()]

    def variant(self, obj, how):
        return Scene(self.angle, self.photo, self.tint, self.w, self.h, self.texture, (obj, how), self.split)

    def other_split(self):
        return Scene(self.angle, self.photo, self.tint, self.w, self.h, self.texture, self.reading, 1 - self.split)

    def how(self, obj):
        return self.reading[1] if self.reading[0] == obj else None

    def tiled(self):
        how, a = self.how("tiled quad"), self.angle
        a = {"other spin": -a, "one degree less": a - 1, "one degree more": a + 1}.get(how, a)
        local = ((-50, -50, 0), (50, -50, 0), (50, 50, 0), (-50, 50, 0))
        return Quad("tiled quad", [add(rotate(p, -a, "y"), (0, 100, 100)) for p in local], 0)

    def gradient(self):
        how, a = self.how("gradient quad"), self.angle
        a = {"other tumble": -a, "one degree less": a - 1, "one degree more": a + 1}.get(how, a)
        axis = "y" if how == "vertical axis" else "x"
        shift = 0 if how == "bottom edge" else -50
        local = ((-50, 0, 0), (50, 0, 0), (50, 100, 0), (-50, 100, 0))
        corners = [add(rotate((x, y + shift, z), a, axis), (0, -100, 200)) for x, y, z in local]
        return Quad("gradient quad", corners, 1)

    def image(self):
        w, h = self.photo.width, self.photo.height
        x0, y0 = -w / 2, -h / 2
        corners = [(x0, y0, 0), (x0 + w, y0, 0), (x0 + w, y0 + h, 0), (x0, y0 + h, 0)]
        return Quad("image quad", corners, 2)

    def box(self):
        """The wire box's 12 edges, in drawing order, named."""
        c = lambda x, y, z: (x * 400, y * 300, z * 400)
        h = 0.5
        return [
            ("front bottom", c(-h, -h, h), c(h, -h, h)), ("front right", c(h, -h, h), c(h, h, h)),
            ("front top", c(h, h, h), c(-h, h, h)), ("front left", c(-h, h, h), c(-h, -h, h)),
            ("top left", c(-h, h, h), c(-h, h, -h)), ("top right", c(h, h, h), c(h, h, -h)),
            ("bottom left", c(-h, -h, h), c(-h, -h, -h)), ("bottom right", c(h, -h, h), c(h, -h, -h)),
            ("back bottom", c(-h, -h, -h), c(h, -h, -h)), ("back right", c(h, -h, -h), c(h, h, -h)),
            ("back top", c(h, h, -h), c(-h, h, -h)), ("back left", c(-h, h, -h), c(-h, -h, -h)),
        ]

    def project(self, p):
        """World point to window coordinates: x from the left, y from the
        top, pixel (c, r) centred on (c + 0.5, r + 0.5)."""
        d = EYE[2] - p[2]
        return (F / ASPECT * p[0] / d + 1) * self.w / 2, (1 - F * p[1] / d) * self.h / 2

    def ray(self, x, y):
        return ((2 * x / self.w - 1) * ASPECT / F, (1 - 2 * y / self.h) / F, -1.0)

    def front(self, x, y):
        """The quad seen at window point (x, y) and its hit, or None."""
        d = self.ray(x, y)
        best = None
        for q in self.quads:
            h = q.hit(d)
            if h and (best is None or (h[0] < best[1][0] if self.depth_test else q.order > best[0].order)):
                best = (q, h)
        return best

    def colour(self, quad, a, b, margin):
        """What the quad shows at its parameters (a, b); None where a test
        photograph's boundary makes it uncertain."""
        if quad.name == "gradient quad":
            swap = self.how("gradient quad") == "red and green swapped"
            c0, c1, c2, c3 = (GREEN, RED, BLUE, YELLOW) if swap else (RED, GREEN, BLUE, YELLOW)
            if self.split == 0 and a >= b:  # triangle red, green, blue
                w = ((1 - a, c0), (a - b, c1), (b, c2))
            elif self.split == 0:  # triangle red, blue, yellow
                w = ((1 - b, c0), (a, c2), (b - a, c3))
            elif a + b <= 1:  # triangle red, green, yellow
                w = ((1 - a - b, c0), (a, c1), (b, c3))
            else:  # triangle green, blue, yellow
                w = ((1 - b, c1), (a + b - 1, c2), (1 - a, c3))
            return tuple(sum(k * c[i] for k, c in w) for i in range(3))
        obj = quad.name
        s, t = (2 * a, 2 * b) if obj == "tiled quad" else (a, b)
        if self.how(obj) == "shown once":
            s, t = a, b
        s, t = s % 1, t % 1
        how = self.how(obj)
        for name, uv, col in PHOTO_READINGS:
            if how == name and uv:
                s, t = uv(s, t)
        texel = self.texture.colour(s, t, margin)
        if texel is None:
            return None
        for name, uv, col in PHOTO_READINGS:
            if how == name and col:
                texel = col(texel)
        if obj == "tiled quad":
            texel = tuple(c * k for c, k in zip(texel, self.tint))
        return texel


def coverage(points, w, h):
    """The pixels whose centres lie inside a convex polygon, as GL fills it:
    {row: (first column, last column)}."""
    rows = {}
    ys = [p[1] for p in points]
    for r in range(max(0, math.ceil(min(ys) - 0.5)), min(h - 1, math.ceil(max(ys) - 0.5) - 1) + 1):
        yc, xs = r + 0.5, []
        for (x0, y0), (x1, y1) in zip(points, points[1:] + points[:1]):
            if (y0 <= yc < y1) or (y1 <= yc < y0):
                xs.append(x0 + (yc - y0) * (x1 - x0) / (y1 - y0))
        if len(xs) >= 2:
            c0, c1 = max(0, math.ceil(min(xs) - 0.5)), min(w - 1, math.ceil(max(xs) - 0.5) - 1)
            if c1 >= c0:
                rows[r] = (c0, c1)
    return rows


# Row masks: one Python int a row, pixel c at bit 8 * c (so that a row of
# flag bytes converts at once).
def run_mask(c0, c1):
    return int.from_bytes(b"\0" * c0 + b"\1" * (c1 - c0 + 1), "little") if c1 >= c0 else 0


def grow(m, n=1):
    for _ in range(n):
        m |= (m << 8) | (m >> 8)
    return m


def shrink(m):
    return m & (m << 8) & (m >> 8)


def count(m):
    return bin(m).count("1")


def mask_rows(rows, h):
    return [run_mask(*rows[r]) if r in rows else 0 for r in range(h)]


def dilate_rows(masks, n):
    """Every pixel within n (in x and in y) of a pixel of the masks."""
    wide = [grow(m, n) for m in masks]
    out = []
    for r in range(len(wide)):
        m = 0
        for k in range(max(0, r - n), min(len(wide), r + n + 1)):
            m |= wide[k]
        out.append(m)
    return out


def band_rows(masks):
    """Pixels within one pixel of a mask's outline, where a rasteriser may
    round either way."""
    out = []
    for r in range(len(masks)):
        near = [masks[k] if 0 <= k < len(masks) else 0 for k in (r - 1, r, r + 1)]
        union, inner = 0, near[0]
        for m in near:
            union |= grow(m)
            inner &= shrink(m)
        out.append(union & ~inner)
    return out


def line_rows(scene, segments, n):
    """The pixels within n of the projected segments."""
    marks = [bytearray(scene.w) for _ in range(scene.h)]
    for a, b in segments:
        (x0, y0), (x1, y1) = scene.project(a), scene.project(b)
        steps = int(max(abs(x1 - x0), abs(y1 - y0)) * 2) + 1
        for i in range(steps + 1):
            x, y = x0 + (x1 - x0) * i / steps, y0 + (y1 - y0) * i / steps
            for r in range(max(0, int(y) - n), min(scene.h, int(y) + n + 1)):
                c0, c1 = max(0, int(x) - n), min(scene.w - 1, int(x) + n)
                marks[r][c0:c1 + 1] = b"\1" * (c1 - c0 + 1)
    return [int.from_bytes(m, "little") for m in marks]


# ------------------------------------------------------------------- frames


class Frame:
    """A binary PPM as the capture library writes it, top row first."""

    def __init__(self, w, h, data, number=None, window=None):
        self.w, self.h, self.data, self.number = w, h, bytearray(data), number
        self.window = window or (w, h)  # the window's size, when it was recorded
        self._lit = self._green = None

    @classmethod
    def read(cls, path):
        with open(path, "rb") as f:
            data = f.read()
        fields, pos, number, window = [], 0, None, None
        while len(fields) < 4:
            while data[pos:pos + 1].isspace():
                pos += 1
            if data[pos:pos + 1] == b"#":
                end = data.index(b"\n", pos)
                words = data[pos + 1:end].split()
                if len(words) == 2 and words[0] == b"frame":
                    number = int(words[1])
                if len(words) == 2 and words[0] == b"window":
                    window = tuple(int(v) for v in words[1].split(b"x"))
                pos = end
                continue
            end = pos
            while not data[end:end + 1].isspace():
                end += 1
            fields.append(data[pos:end])
            pos = end
        if fields[0] != b"P6":
            raise ValueError(f"{path}: not a binary PPM")
        w, h = int(fields[1]), int(fields[2])
        return cls(w, h, data[pos + 1:pos + 1 + w * h * 3], number, window)

    def at(self, x, y):
        i = (y * self.w + x) * 3
        return tuple(self.data[i:i + 3])

    def lit(self):
        """Row masks of the pixels brighter than DARK in any channel."""
        if self._lit is None:
            table = bytes(1 if v > DARK else 0 for v in range(256))
            self._lit = []
            for r in range(self.h):
                row = bytes(self.data[r * self.w * 3:(r + 1) * self.w * 3]).translate(table)
                self._lit.append(int.from_bytes(row[0::3], "little") | int.from_bytes(row[1::3], "little")
                                 | int.from_bytes(row[2::3], "little"))
        return self._lit

    def green(self):
        """Row masks of the pixels in the box's line green."""
        if self._green is None:
            high = bytes(1 if v > 150 else 0 for v in range(256))
            low = bytes(1 if v < 100 else 0 for v in range(256))
            self._green = []
            for r in range(self.h):
                row = bytes(self.data[r * self.w * 3:(r + 1) * self.w * 3])
                self._green.append(int.from_bytes(row[0::3].translate(low), "little")
                                   & int.from_bytes(row[1::3].translate(high), "little")
                                   & int.from_bytes(row[2::3].translate(low), "little"))
        return self._green


def near(got, want, tolerance):
    return all(abs(a - b) <= tolerance for a, b in zip(got, want))


def is_line_green(c):
    return c[1] > 150 and c[0] < 100 and c[2] < 100


def rgb(c):
    return "(" + ", ".join(str(round(v)) for v in c) + ")"


# ------------------------------------------------------------------- checks


class Context:
    """What the checks of one frame share: the scene's outlines as row
    masks, and the places where each kind of check may look."""

    def __init__(self, frame, scene):
        self.frame, self.scene, self.fits = frame, scene, {}
        w, h = scene.w, scene.h
        self.outline = {q.name: [scene.project(p) for p in q.corners] for q in scene.quads}
        self.cover = {n: mask_rows(coverage(o, w, h), h) for n, o in self.outline.items()}
        self.lines = line_rows(scene, [(a, b) for _, a, b in scene.box()], 2)
        # Within a pixel of an outline, or near a line: no place for a sample.
        self.edges = list(self.lines)
        for m in self.cover.values():
            self.edges = [e | grow(b) for e, b in zip(self.edges, band_rows(m))]
        # Within 3 pixels of a quad; of anything; of the turning quads or a line.
        self.near_quads = [0] * h
        for m in self.cover.values():
            self.near_quads = [o | v for o, v in zip(self.near_quads, dilate_rows(m, 3))]
        self.near_any = [q | l for q, l in zip(self.near_quads, dilate_rows(self.lines, 1))]
        self.near_others = dilate_rows(self.lines, 1)
        for name in ("tiled quad", "gradient quad"):
            self.near_others = [o | v for o, v in zip(self.near_others, dilate_rows(self.cover[name], 3))]

    def interior(self, x, y):
        return not (self.edges[y] >> 8 * x) & 1


GEOMETRY_READINGS = {
    "tiled quad": (
        ("other spin", "turns counter-clockwise seen from above, expected clockwise"),
        ("one degree less", "drawn one degree short of the frame's angle"),
        ("one degree more", "drawn one degree past the frame's angle"),
    ),
    "gradient quad": (
        ("other tumble", "tumbles with its top edge tipping away from the camera, expected towards it"),
        ("vertical axis", "turns about the vertical axis, expected the horizontal"),
        ("bottom edge", "turns about its bottom edge, expected its horizontal centre line"),
        ("one degree less", "drawn one degree short of the frame's angle"),
        ("one degree more", "drawn one degree past the frame's angle"),
    ),
}


def outline_fit(ctx, scene, name, valid):
    """How far the drawn pixels stray from the object's outline in `scene`,
    counted on the `valid` pixels: (pixels outside the +-1 band, all
    differing pixels, [(row, mask of the stray pixels)])."""
    w, h = scene.w, scene.h
    quad = {q.name: q for q in scene.quads}[name]
    pred = mask_rows(coverage([scene.project(p) for p in quad.corners], w, h), h)
    band = band_rows(pred)
    lit, green = ctx.frame.lit(), ctx.frame.green()
    stray = diff = 0
    where = []
    for r in range(h):
        # Line green outside the outline is a line's (the box's check).
        d = (lit[r] ^ pred[r]) & valid[r] & ~(green[r] & ~pred[r])
        if d:
            diff += count(d)
            out = d & ~band[r]
            if out:
                stray += count(out)
                where.append((r, out))
    return stray, diff, where


def outline_fits(ctx, name):
    """outline_fit for the scene and each of the object's misreadings, on a
    window around all of their outlines less the pixels within 2 of any
    other object. Kept in ctx, since two checks read them."""
    if name in ctx.fits:
        return ctx.fits[name]
    scene, w, h = ctx.scene, ctx.scene.w, ctx.scene.h
    scenes = [(None, scene)] + [(how, scene.variant(name, how)) for how, _ in GEOMETRY_READINGS[name]]
    xs, ys = [], []
    for _, s in scenes:
        for p in {q.name: q for q in s.quads}[name].corners:
            x, y = s.project(p)
            xs.append(x)
            ys.append(y)
    c0, c1 = max(0, int(min(xs)) - 3), min(w - 1, int(max(xs)) + 3)
    r0, r1 = max(0, int(min(ys)) - 3), min(h - 1, int(max(ys)) + 3)
    others = list(ctx.lines)
    for other, m in ctx.cover.items():
        if other != name:
            others = [o | v for o, v in zip(others, dilate_rows(m, 2))]
    window = run_mask(c0, c1)
    valid = [window & ~others[r] if r0 <= r <= r1 else 0 for r in range(h)]
    ctx.fits[name] = {how: outline_fit(ctx, s, name, valid) for how, s in scenes}
    return ctx.fits[name]


def describe_where(where, lit):
    rows = [r for r, _ in where]
    cols = []
    extra = 0
    for r, m in where:
        c = 0
        while m:
            if m & 1:
                cols.append(c // 8)
                extra += (lit[r] >> c) & 1
            m >>= 8
            c += 8
    n = len(cols)
    kind = "drawn outside its outline" if extra * 2 >= n else "missing inside its outline"
    return f"{n} pixels {kind}, around ({sorted(cols)[n // 2]}, {sorted(rows)[len(rows) // 2]})"


def check_outline(ctx, name):
    """Place and shape of a turning quad; its misreadings for the diagnosis."""
    fits = outline_fits(ctx, name)
    stray, diff, where = fits[None]
    better = [(fits[how][1], text) for how, text in GEOMETRY_READINGS[name]
              if fits[how][0] <= 3 and fits[how][1] * 3 < diff]
    if stray > 3 or (better and diff >= 20):
        return min(better)[1] if better else describe_where(where, ctx.frame.lit())
    return None


def samples(ctx, names, step):
    """Grid points at least 2 pixels inside the named objects, away from the
    box's lines, with what the frame has there: [(x, y, quad, a, b, got)]."""
    scene = ctx.scene
    out = []
    xs, ys = [], []
    for n in names:
        for x, y in ctx.outline[n]:
            xs.append(x)
            ys.append(y)
    for y in range(max(0, int(min(ys))), min(scene.h, int(max(ys)) + 1), step):
        for x in range(max(0, int(min(xs))), min(scene.w, int(max(xs)) + 1), step):
            if not ctx.interior(x, y):
                continue
            f = scene.front(x + 0.5, y + 0.5)
            if f and f[0].name in names:
                out.append((x, y, f[0], f[1][1], f[1][2], ctx.frame.at(x, y)))
    return out


def colour_misses(scene, points, margin, tolerance):
    """(tested, missed, first miss) of the sample points against `scene`,
    whichever way the quads are split into triangles fits better."""
    return min(split_misses(s, points, margin, tolerance) for s in (scene, scene.other_split()))


def split_misses(scene, points, margin, tolerance):
    tested, missed, first = 0, 0, None
    quads = {q.name: q for q in scene.quads}
    for x, y, q, a, b, got in points:
        want = scene.colour(quads[q.name], a, b, margin)
        if want is None:
            continue
        tested += 1
        if not near(got, want, tolerance):
            missed += 1
            if first is None:
                first = f"({x}, {y}) is {rgb(got)}, expected about {rgb(want)}"
    return tested, missed, first


def check_colours(ctx, name, margin, tolerance, readings):
    points = samples(ctx, [name], 3)
    tested, missed, first = colour_misses(ctx.scene, points, margin, tolerance)
    if tested == 0 or missed * 10 <= tested:
        return None
    for how in readings:
        t, m, _ = colour_misses(ctx.scene.variant(name, how), points, margin, tolerance)
        if t and m * 10 <= t:
            return f"shows {how}" if how.startswith("the photograph") else how
    return f"{missed} of {tested} points off, e.g. {first}"


def image_rectangle(ctx):
    """The image quad's edges as drawn, each the median over the rows (or
    columns) where only background lies beyond it, and as expected: the
    first and last pixels whose centres its rectangle covers."""
    scene, frame, lit = ctx.scene, ctx.frame, ctx.frame.lit()
    pts = ctx.outline["image quad"]
    want = {"left": math.ceil(pts[0][0] - 0.5), "right": math.ceil(pts[1][0] - 0.5) - 1,
            "top": math.ceil(pts[2][1] - 0.5), "bottom": math.ceil(pts[0][1] - 0.5) - 1}
    if want["right"] < want["left"] or want["bottom"] < want["top"]:
        return None, want

    def at(x, y, mask):
        return 0 <= x < scene.w and 0 <= y < scene.h and (mask[y] >> 8 * x) & 1

    got = {}
    for side, dx, dy in (("left", -1, 0), ("right", 1, 0), ("top", 0, -1), ("bottom", 0, 1)):
        edge, found = want[side], []
        across = range(want["top"] + 2, want["bottom"] - 1, 2) if dx else range(want["left"] + 2, want["right"] - 1, 2)
        for k in across:
            # From 2 pixels inside the edge, out while the pixels are drawn.
            x, y = (edge - 2 * dx, k) if dx else (k, edge - 2 * dy)
            f = scene.front(x + 0.5, y + 0.5)
            if not (f and f[0].name == "image quad" and at(x, y, lit)):
                continue
            if any(at(x + i * dx, y + i * dy, ctx.near_others) for i in range(2, 6)):
                continue
            while at(x + dx, y + dy, lit) and abs((x if dx else y) - edge) < 12:
                x, y = x + dx, y + dy
            found.append(x if dx else y)
        if found:
            got[side] = sorted(found)[len(found) // 2]
    return got, want


def check_image_rectangle(ctx):
    got, want = image_rectangle(ctx)
    if got is None:
        return None
    axis = {"left": "x", "right": "x", "top": "y", "bottom": "y"}
    for side in ("left", "right", "top", "bottom"):
        if side not in got:
            return f"{side} edge not found, expected at {axis[side]}={want[side]}"
        if abs(got[side] - want[side]) > 1:
            return f"{side} edge at {axis[side]}={got[side]}, expected {want[side]} \u00b1 1"
    # A centred quad covers columns and rows symmetric about the centre;
    # checked where neither edge lies close to a pixel centre.
    pts = ctx.outline["image quad"]
    sharp = all(abs((v % 1) - 0.5) > 0.1 for v in (pts[0][0], pts[1][0], pts[0][1], pts[2][1]))
    if sharp and (got["left"] + got["right"] != want["left"] + want["right"]
                  or got["top"] + got["bottom"] != want["top"] + want["bottom"]):
        return (f"not centred: columns {got['left']}..{got['right']}, rows {got['top']}..{got['bottom']}, "
                f"expected {want['left']}..{want['right']}, {want['top']}..{want['bottom']}")
    return None


def edge_points(scene, a, b, n=24):
    for i in range(n):
        t = (i + 0.5) / n
        p = (a[0] + (b[0] - a[0]) * t, a[1] + (b[1] - a[1]) * t, a[2] + (b[2] - a[2]) * t)
        yield p, scene.project(p)


def check_box(ctx):
    """Each of the 12 edges is green where it shows; no green line where
    the box has no edge."""
    scene, frame = ctx.scene, ctx.frame
    for name, a, b in scene.box():
        shown = found = 0
        for p, (x, y) in edge_points(scene, a, b):
            c, r = int(x), int(y)
            if not (1 <= c < scene.w - 1 and 1 <= r < scene.h - 1):
                continue
            if (ctx.near_quads[r] >> 8 * c) & 1:
                continue  # near or over a quad: the depth test's business
            shown += 1
            found += any(is_line_green(frame.at(c + i, r + j)) for i in (-1, 0, 1) for j in (-1, 0, 1))
        if shown >= 4 and found * 2 < shown:
            return f"{name} edge missing: no green along it from {rgb(scene.project(a))} to {rgb(scene.project(b))}"
    stray = background_misses(ctx, is_line_green)
    if stray:
        return f"a green line where the box has no edge, {stray}"
    return None


def background_misses(ctx, which):
    """Pixels the scene leaves clear (far from everything) that are not."""
    frame, scene = ctx.frame, ctx.scene
    bad = []
    for y in range(0, scene.h, 3):
        busy = ctx.near_any[y]
        for x in range(0, scene.w, 3):
            if (busy >> 8 * x) & 1:
                continue
            c = frame.at(x, y)
            if max(c) > 10 and which(c):
                bad.append((x, y, c))
    if len(bad) < 3:
        return None
    x, y, c = bad[len(bad) // 2]
    return f"{len(bad)} points, e.g. ({x}, {y}) is {rgb(c)}"


def check_clear(ctx):
    miss = background_misses(ctx, lambda c: not is_line_green(c))
    return f"not black where nothing is drawn: {miss}" if miss else None


def check_depth(ctx):
    """Nearer objects hide farther ones: the box's hidden edges stay hidden,
    and where quads overlap the nearer one shows."""
    scene, frame = ctx.scene, ctx.frame
    hidden = through = 0
    for name, a, b in scene.box():
        for p, (x, y) in edge_points(scene, a, b):
            c, r = int(x), int(y)
            if not (0 <= c < scene.w and 0 <= r < scene.h) or not ctx.interior(c, r):
                continue
            f = scene.front(c + 0.5, r + 0.5)
            if f and f[1][0] < EYE[2] - p[2] - 1:
                want = scene.colour(f[0], f[1][1], f[1][2], 0.05)
                if want is None or is_line_green(want):
                    continue
                hidden += 1
                through += any(is_line_green(frame.at(c + i, r)) for i in (-1, 0, 1))
    if hidden >= 6 and through * 3 > hidden:
        return f"the box's hidden edges show through the quads in front of them ({through} of {hidden} points)"
    flat = scene.variant("scene", "no depth test")
    points = [p for p in samples(ctx, ["tiled quad", "gradient quad", "image quad"], 4)
              if flat.front(p[0] + 0.5, p[1] + 0.5)[0].name != p[2].name]
    t, m, first = colour_misses(scene, points, 0.1, 40)
    if t >= 6 and m * 3 > t:
        seen_flat = [(x, y, f[0], f[1][1], f[1][2], got)
                     for x, y, _, _, _, got in points for f in [flat.front(x + 0.5, y + 0.5)]]
        t2, m2, _ = colour_misses(flat, seen_flat, 0.1, 40)
        if m2 * 3 < t2:
            return f"objects drawn later cover nearer ones where they overlap ({m} of {t} points)"
        return f"where objects overlap, {m} of {t} points off, e.g. {first}"
    return None


def check_angle(ctx):
    """Frame N at N degrees: neither quad fits one degree off better."""
    total = {}
    for name in ("tiled quad", "gradient quad"):
        fits = outline_fits(ctx, name)
        for off, how in ((0, None), (-1, "one degree less"), (1, "one degree more")):
            total[off] = total.get(off, 0) + fits[how][1]
    best = min((-1, 1), key=lambda k: total[k])
    if total[0] >= 20 and total[best] * 3 < total[0]:
        return f"drawn at {ctx.scene.angle + best} degrees, expected {ctx.scene.angle}"
    return None


CHECKS = (
    ("tiled quad: place, shape and spin", lambda c: check_outline(c, "tiled quad")),
    ("tiled quad: the photograph 2 x 2, right way up",
     lambda c: check_colours(c, "tiled quad", 0.12, 40, [r[0] for r in PHOTO_READINGS] + ["shown once"])),
    ("gradient quad: place and tumble", lambda c: check_outline(c, "gradient quad")),
    ("gradient quad: corner colours",
     lambda c: check_colours(c, "gradient quad", 0, 32, ["red and green swapped"])),
    ("image quad: pixel rectangle", check_image_rectangle),
    ("image quad: the photograph right way up",
     lambda c: check_colours(c, "image quad", 0.04, 40, [r[0] for r in PHOTO_READINGS])),
    ("wire box: 12 edges", check_box),
    ("scene: clear colour", check_clear),
    ("scene: depth test", check_depth),
    ("scene: frame N drawn at N degrees, the first at 1", check_angle),
)


def check_frame(frame, scene):
    """Every check on one frame: [(name, None or what is wrong)]."""
    ctx = Context(frame, scene)
    return [(name, check(ctx)) for name, check in CHECKS]


# ------------------------------------------------------------------ the run


class Run:
    def __init__(self, demo, capture, data, scratch):
        self.demo, self.capture, self.data, self.scratch = demo, capture, data, scratch
        self.passed = self.failed = self.skipped = 0
        self.magick = shutil.which("magick") or "convert"

    def say(self, ok, name, problem=None):
        if ok:
            self.passed += 1
            print(f"ok {name}", flush=True)
        else:
            self.failed += 1
            print(f"FAIL {name}: {problem}", flush=True)

    def folder(self, name, shaders):
        d = os.path.join(self.scratch, name)
        os.makedirs(d)
        for f in ("vertex1.glsl", "fragment1.glsl", "vertex2.glsl", "fragment2.glsl"):
            shutil.copy(os.path.join(shaders, f), d)
        return d

    def photograph(self, path, *args):
        subprocess.run([self.magick, *args, "-sampling-factor", "1x1", "-quality", "100", path],
                       check=True, stderr=subprocess.DEVNULL)

    def quadrant_args(self, w, h, colours=("red", "lime", "blue", "white")):
        tl, tr, bl, br = colours
        return ["-size", f"{w}x{h}", f"xc:{br}",
                "-fill", tl, "-draw", f"rectangle 0,0 {w // 2 - 1},{h // 2 - 1}",
                "-fill", tr, "-draw", f"rectangle {w // 2},0 {w - 1},{h // 2 - 1}",
                "-fill", bl, "-draw", f"rectangle 0,{h // 2} {w // 2 - 1},{h - 1}"]

    def start(self, folder, env):
        """Runs the demo in `folder` to its end: (status, output, report,
        seconds from exec to the first swap)."""
        e = dict(os.environ)
        e.update(env)
        e.update(vblank_mode="0", __GL_SYNC_TO_VBLANK="0", CAPTURE_DIR=folder)
        e["LD_PRELOAD"] = " ".join(filter(None, [self.capture, os.environ.get("LD_PRELOAD")]))
        t0 = time.monotonic_ns()
        with open(os.path.join(folder, "stdout"), "wb") as out, open(os.path.join(folder, "stderr"), "wb") as err:
            try:
                status = subprocess.run([self.demo], cwd=folder, env=e, stdout=out, stderr=err,
                                        stdin=subprocess.DEVNULL, timeout=180).returncode
            except subprocess.TimeoutExpired:
                status = "a time-out after 180 s"
        report = {}
        try:
            with open(os.path.join(folder, "report.txt")) as f:
                report = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
        except OSError:
            pass
        first = int(report.get("first_swap_ns", "0"))
        output = ""
        for name in ("stdout", "stderr"):
            with open(os.path.join(folder, name), errors="replace") as f:
                output += f.read()
        return status, output, report, (first - t0) / 1e9 if first else None

    def frames(self, folder, names):
        out = {}
        for n in names:
            path = os.path.join(folder, n)
            if os.path.exists(path):
                out[n] = Frame.read(path)
        return out

    def judge(self, name, results, first=()):
        """One line for a group of (frame, [(check, problem)]) results; with
        several checks, the first failing one is named, those in `first`
        before the rest."""
        rank = lambda c: first.index(c) if c in first else len(first)
        problems = [(rank(c), f, c, p) for f, res in results for c, p in res if p]
        if not problems:
            self.say(True, name)
            return
        _, f, c, p = min(problems, key=lambda x: x[:2])
        several = len({c for _, res in results for c, _ in res}) > 1
        self.say(False, name, f"frame {f}: {c}: {p}" if several else f"frame {f}: {p}")


def demo_failed(output, status):
    lines = [l.strip() for l in output.splitlines()
             if l.strip() and not l.startswith(("dbc:", "dbi:", "peak_rss", "ATTENTION:"))]
    keep = [l for l in lines if not l.startswith(("Vertex Shader", "Fragment Shader", "Status:"))]
    return f"{' '.join(keep[-3:]) or 'no message'} (status {status})"


def main(argv):
    args = dict(zip(argv[1::2], argv[2::2]))
    needed = {"--demo", "--capture", "--data"}
    if len(argv) % 2 == 0 or not needed <= set(args) <= needed | {"--keep"}:
        print(__doc__.split("\n\n")[1], file=sys.stderr)
        return 2
    demo, capture, data = (os.path.abspath(args[k]) for k in ("--demo", "--capture", "--data"))
    plain = os.path.join(os.path.dirname(os.path.abspath(__file__)), "plain")
    scratch = tempfile.mkdtemp(prefix="demo-check.")
    try:
        return check(Run(demo, capture, data, scratch), plain)
    finally:
        if "--keep" in args:
            shutil.rmtree(args["--keep"], ignore_errors=True)
            shutil.copytree(scratch, args["--keep"])
        shutil.rmtree(scratch, ignore_errors=True)


def check(run, plain):
    photo = quadrants(320, 240)
    frame_names = [f"frame-{n}.ppm" for n in FRAMES]

    # The project's shaders, then l with a smaller photograph, then a resize.
    d = run.folder("project", run.data)
    run.photograph(os.path.join(d, "pacific.jpg"), *run.quadrant_args(320, 240))
    run.photograph(os.path.join(d, "next.jpg"), "-size", "160x100", "xc:yellow")
    status, output, report, _ = run.start(d, {
        "CAPTURE_FRAMES": ",".join(str(n) for n in FRAMES + (241,)), "CAPTURE_RENAME": "240:next.jpg:pacific.jpg",
        "CAPTURE_KEYS": "240:l", "CAPTURE_RESIZE": "245:800x300"})  # the resize ends it
    for key, label in (("renderer", "renderer"), ("vendor", "vendor"), ("version", "OpenGL version"),
                       ("glsl", "GLSL version")):
        print(f"{label}: {report.get(key) or 'unknown'}", flush=True)
    if status != 0:
        run.say(False, "demo: start-up and frames", demo_failed(output, status))
        return finish(run)
    run.say(True, "demo: start-up and frames")
    shots = run.frames(d, frame_names + ["frame-241.ppm", "resized.ppm"])
    check_set(run, "project shaders", shots, photo, PROJECT_TINT)

    # After l: the new size, the start-up texture.
    if "frame-241.ppm" in shots:
        small = quadrants(160, 100)
        f = shots["frame-241.ppm"]
        res = check_frame(f, Scene(241, small, PROJECT_TINT, f.w, f.h, texture=photo))
        run.judge("after l: the image quad takes the new size, the texture stays",
                  [(241, [r for r in res if r[0].startswith(("image quad", "scene"))])],
                  first=("image quad: pixel rectangle",))
    else:
        run.say(False, "after l: the image quad takes the new size, the texture stays", "no frame after l")

    # After a resize, where the window system allows one.
    name = "after a resize to 800 x 300: the picture stretches with the window"
    r = shots.get("resized.ppm")
    if r is None:
        run.say(False, name, "no frame after the resize")
    elif r.window != (800, 300):
        run.skipped += 1
        print(f"skip {name}: the window stayed {r.window[0]} x {r.window[1]} (the window system refused)",
              flush=True)
    elif (r.w, r.h) != (800, 300):
        run.say(False, name, f"the viewport stayed {r.w} x {r.h} in the 800 x 300 window")
    else:
        res = check_frame(r, Scene(r.number, quadrants(160, 100), PROJECT_TINT, 800, 300, texture=photo))
        run.judge(name, [(r.number, res)])

    # The plainest shaders: a fault in the program cannot hide behind them.
    d = run.folder("plain", plain)
    run.photograph(os.path.join(d, "pacific.jpg"), *run.quadrant_args(320, 240))
    status, output, _, _ = run.start(d, {"CAPTURE_FRAMES": ",".join(map(str, FRAMES)),
                                         "CAPTURE_EXIT": str(FRAMES[-1])})
    if status != 0:
        run.say(False, "plain shaders: start-up", demo_failed(output, status))
    else:
        check_set(run, "plain shaders", run.frames(d, frame_names), photo, PLAIN_TINT)

    # Photographs of other kinds, each at frame 90 (the tiled quad edge-on).
    greys = ("gray(60)", "gray(120)", "gray(180)", "gray(240)")
    g = [(60,) * 3, (120,) * 3, (180,) * 3, (240,) * 3]
    kinds = (
        ("grayscale: shown grey, not skewed", quadrants(320, 240, *g),
         run.quadrant_args(320, 240, greys) + ["-colorspace", "Gray"]),
        ("Adobe CMYK: shown in its true colours", photo, run.quadrant_args(320, 240) + ["-colorspace", "CMYK"]),
        ("odd size 33 x 31: centred, rows read tightly packed",
         Photo(33, 31, [3 / 33], [], [[RED, BLUE]]),
         ["-size", "33x31", "xc:blue", "-fill", "red", "-draw", "rectangle 0,0 2,30"]),
    )
    for i, (name, kind, make) in enumerate(kinds):
        d = run.folder(f"photograph-{i}", run.data)
        run.photograph(os.path.join(d, "pacific.jpg"), *make)
        status, output, _, _ = run.start(d, {"CAPTURE_FRAMES": "90", "CAPTURE_EXIT": "90"})
        got = run.frames(d, ["frame-90.ppm"])
        if status != 0 or not got:
            run.say(False, f"photograph: {name}", demo_failed(output, status))
            continue
        f = got["frame-90.ppm"]
        res = check_frame(f, Scene(90, kind, PROJECT_TINT, f.w, f.h))
        run.judge(f"photograph: {name}", [(90, res)],
                  first=("image quad: the photograph right way up", "image quad: pixel rectangle"))

    # Speed: the first frame, then frames over three seconds.
    d = run.folder("speed", run.data)
    shutil.copy(os.path.join(run.data, "pacific.jpg"), d)
    status, output, report, first = run.start(d, {"CAPTURE_SECONDS": "3"})
    frames = int(report.get("frames", "0"))
    span = (int(report.get("last_swap_ns", "0")) - int(report.get("first_swap_ns", "0"))) / 1e9
    if status == 0 and first is not None and frames > 1 and span > 0:
        print(f"first frame: {first * 1000:.0f} ms after start", flush=True)
        print(f"frame rate: {(frames - 1) / span:.0f} frames per second over {span:.1f} s", flush=True)
    else:
        run.say(False, "demo: frame rate", demo_failed(output, status))
    return finish(run)


def check_set(run, label, shots, photo, tint):
    results = {}
    for n in FRAMES:
        f = shots.get(f"frame-{n}.ppm")
        if f is None:
            run.say(False, f"frames ({label})", f"frame {n} was not captured")
            return
        for name, problem in check_frame(f, Scene(n, photo, tint, f.w, f.h)):
            results.setdefault(name, []).append((n, [(name, problem)]))
    for name, res in results.items():
        run.judge(f"{name} ({label})", res)


def finish(run):
    tail = f", {run.skipped} skipped" if run.skipped else ""
    print(f"{run.passed} passed, {run.failed} failed{tail}", flush=True)
    return 0 if run.failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
