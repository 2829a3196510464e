"""The demo's scene as GL draws it: GL's own 4 x 4
matrices composed in the order display_CB calls them, the viewport
transform, coverage as GL defines rasterisation (a pixel belongs to a
polygon when its centre lies inside, or with multisampling each of its
samples does), and what a texture lookup may return over a pixel's
footprint.

Window coordinates are GL's: x from the left, y from the bottom, pixel
(c, r) centred on (c + 0.5, r + 0.5). Every array over a frame is indexed
[row, column] with the top row first, as the captured frames are. Colours
are 0..255 a channel."""
import math
from typing import NamedTuple

import numpy as np

from .tolerances import LOD_BIAS, PIXEL_REACH, SNAP, TAP_SLACK

RED, GREEN, BLUE, YELLOW, WHITE = (255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 0), (255, 255, 255)
PROJECT_TINT, PLAIN_TINT = (1.0, 0.5, 0.2), (1.0, 1.0, 1.0)

# ------------------------------------------------------- GL's own matrices


def translate(x, y, z):
    m = np.eye(4)
    m[:3, 3] = x, y, z
    return m


def scale(x, y, z):
    return np.diag([x, y, z, 1.0])


def rotate(angle, x, y, z):
    """glRotate: `angle` degrees counter-clockwise about (x, y, z)."""
    x, y, z = np.array([x, y, z], float) / math.sqrt(x * x + y * y + z * z)
    c, s = math.cos(math.radians(angle)), math.sin(math.radians(angle))
    m = np.eye(4)
    m[:3, :3] = [[x * x * (1 - c) + c, x * y * (1 - c) - z * s, x * z * (1 - c) + y * s],
                 [y * x * (1 - c) + z * s, y * y * (1 - c) + c, y * z * (1 - c) - x * s],
                 [x * z * (1 - c) - y * s, y * z * (1 - c) + x * s, z * z * (1 - c) + c]]
    return m


def perspective(fovy, aspect, near, far):
    """gluPerspective."""
    f = 1 / math.tan(math.radians(fovy) / 2)
    return np.array([[f / aspect, 0, 0, 0], [0, f, 0, 0],
                     [0, 0, (far + near) / (near - far), 2 * far * near / (near - far)], [0, 0, -1, 0]])


def look_at(eye, centre, up):
    """gluLookAt."""
    eye = np.array(eye, float)
    f = np.array(centre, float) - eye
    f /= np.linalg.norm(f)
    s = np.cross(f, up)
    s /= np.linalg.norm(s)
    u = np.cross(s, f)
    m = np.eye(4)
    m[0, :3], m[1, :3], m[2, :3] = s, u, -f
    return m @ translate(*-eye)


def adjugate(m):
    """The adjugate of a 3 x 3 matrix: its inverse times its determinant. As a
    projective map it undoes `m` where `m` can be undone, and it exists where
    `m` is singular (a plane seen edge-on), so nothing is ever inverted."""
    (a, b, c), (d, e, f), (g, h, i) = m.tolist()
    return np.array([[e * i - f * h, c * h - b * i, b * f - c * e],
                     [f * g - d * i, a * i - c * g, c * d - a * f],
                     [d * h - e * g, b * g - a * h, a * e - b * d]])



# main(): the projection, set once; display_CB(): the camera, every frame.
PROJECTION = perspective(45, 1.333, 1, 1000)
CAMERA = look_at((0, 0, 600), (0, 0, 0), (0, 1, 0))

# ------------------------------------------------------- texture lookups

def glu_size(n):
    """The power of two that gluBuild2DMipmaps scales a side of n to: the
    nearest, with 3 x 2^k going up."""
    power = 1
    while n > 1 and n != 3:
        n, power = n >> 1, power * 2
    return power * (4 if n == 3 else 1)


class Colours(NamedTuple):
    """What a pixel of a quad may show: any blend of some colours, of which
    each channel's least and most (lo, hi: (..., 3)) and the least of the
    channels' sum (dim: (...)), which no blend goes below."""
    lo: np.ndarray
    hi: np.ndarray
    dim: np.ndarray

    def certain(self):
        """Where the colour is one colour."""
        return (self.lo == self.hi).all(axis=-1)


class Photo:
    """A test photograph of flat cells: columns split at fractions `us` of the
    width, rows at fractions `ys` of the height from the top; cells[row][col]
    are (r, g, b)."""

    def __init__(self, width, height, us, ys, cells):
        self.width, self.height = width, height
        self.us, self.ys, self.cells = np.array(us, float), np.array(ys, float), np.array(cells, float)
        # Each colour of the photograph's, and the cells that hold it.
        self.colours_at = [(c, np.argwhere((self.cells == c).all(axis=-1)))
                           for c in np.unique(self.cells.reshape(-1, 3), axis=0)]
        # What tells two photographs apart, for what is computed once per photograph.
        self.key = (width, height, self.us.tobytes(), self.ys.tobytes(), self.cells.tobytes())
        # The mean of each row of cells across, of each column up, and of all.
        widths, heights = np.diff(np.concatenate(([0], self.us, [1]))), np.diff(np.concatenate(([0], self.ys, [1])))
        self.row_means = (self.cells * widths[None, :, None]).sum(axis=1)
        self.col_means = (self.cells * heights[:, None, None]).sum(axis=0)
        self.mean = (self.row_means * heights[:, None]).sum(axis=0)

    def changed(self, cells=None, us=None, ys=None):
        return Photo(self.width, self.height, self.us if us is None else us, self.ys if ys is None else ys,
                     self.cells if cells is None else cells)

    def colour_range(self, s, t, hs, ht, tint):
        """What the boxes s +- hs, t +- ht (texture coordinates: t = 0 at the
        bottom, repeating) may blend, tinted: a Colours of (..., 3) arrays
        over the cells they meet."""
        rows = cells_met(1 - np.asarray(t, float), ht, self.ys)  # rows run from the top
        cols = cells_met(np.asarray(s, float), hs, self.us)
        lo, hi = np.full(rows.shape[:-1] + (3,), np.inf), np.full(rows.shape[:-1] + (3,), -np.inf)
        dim = np.full(rows.shape[:-1], np.inf)
        for colour, where in self.colours_at:
            met = np.logical_or.reduce([rows[..., r] & cols[..., c] for r, c in where])
            shown = colour * tint
            lo = np.where(met[..., None], np.minimum(lo, shown), lo)
            hi = np.where(met[..., None], np.maximum(hi, shown), hi)
            dim = np.where(met, np.minimum(dim, shown.sum()), dim)
        return Colours(lo, hi, dim)

    def cell_at(self, s, t):
        """The cell that texture coordinates (s, t) fall in, and the repeat of
        the photograph: four int arrays (row, column, repeat up, repeat across)."""
        t = 1 - np.asarray(t, float)  # rows run from the top
        s = np.asarray(s, float)
        with np.errstate(invalid="ignore"):
            return (np.searchsorted(self.ys, np.nan_to_num(t % 1), side="right"),
                    np.searchsorted(self.us, np.nan_to_num(s % 1), side="right"),
                    np.nan_to_num(np.floor(t)).astype(int), np.nan_to_num(np.floor(s)).astype(int))


def cells_met(centre, half, cuts):
    """Which cells of a repeating line of cells (split at `cuts`, between 0
    and 1) the intervals centre +- half meet: (..., cells) bools. An
    interval that is not a number meets them all."""
    edges = np.concatenate(([0.0], cuts, [1.0]))
    with np.errstate(invalid="ignore"):
        lo, hi = (centre - half)[..., None], (centre + half)[..., None]
        k = np.floor(lo)
        met = np.zeros(lo.shape[:-1] + (len(edges) - 1,), bool)
        for repeat in (k, k + 1):  # an interval shorter than 1 spans at most two repeats
            met |= (lo < repeat + edges[1:]) & (hi > repeat + edges[:-1])
        met |= ~(hi - lo < 1)  # whole repeats, or no number
    return met


# ------------------------------------------------------------------ scene


def quad_key(quad):
    """What tells two quads apart, for what is computed once per quad."""
    return (quad.name, quad.modelview.tobytes(), quad.corners, quad.repeats, tuple(quad.tint),
            np.asarray(quad.colours, float).tobytes(), quad.drawn)


class Quad(NamedTuple):
    """One quadrilateral as display_CB draws it: its modelview matrix, its
    corners in the plane z = 0 of its own coordinates in drawing order, and
    what it shows: the photograph `repeats` times across and up, tinted by
    `tint`, or (repeats 0) the colours of its corners blended. `drawn`: the
    corners whose outline is drawn (all four; three where it is drawn as one
    triangle), its colours still laid over the whole quad."""
    name: str
    modelview: np.ndarray
    corners: tuple
    repeats: int = 0
    tint: tuple = PLAIN_TINT
    colours: tuple = ()
    drawn: tuple = (0, 1, 2, 3)


GRADIENT_COLOURS = (RED, GREEN, BLUE, YELLOW)


def tiled_quad(angle, tint, repeats=2):
    """Turned -angle degrees about y at (0, 100, 100)."""
    m = CAMERA @ translate(0, 100, 100) @ rotate(-angle, 0, 1, 0)
    return Quad("tiled quad", m, ((-50, -50), (50, -50), (50, 50), (-50, 50)), repeats, tint)


def gradient_quad(angle, axis=(1, 0, 0), centre_line=True, colours=GRADIENT_COLOURS):
    """Turned angle degrees about x through its horizontal centre line at
    (0, -100, 200)."""
    shift = translate(0, -50, 0) if centre_line else np.eye(4)
    m = CAMERA @ translate(0, -100, 200) @ rotate(angle, *axis) @ shift
    return Quad("gradient quad", m, ((-50, 0), (50, 0), (50, 100), (-50, 100)), colours=colours)


def image_quad(width, height, offset=(0, 0)):
    """One unit a pixel, its corner at (-w / 2, -h / 2) as single-precision
    floats, so that odd sizes lie on half units; `offset` moves it."""
    m = CAMERA @ translate(np.float32(-width / 2.0) + offset[0], np.float32(-height / 2.0) + offset[1], 0)
    return Quad("image quad", m, ((0, 0), (width, 0), (width, height), (0, height)), repeats=1)


def viewport(w, h):
    """The window map of glViewport(0, 0, w, h): normalised device x, y (and
    1) to window x, y in pixels, a 2 x 3 matrix."""
    return np.array([[w / 2, 0, w / 2], [0, h / 2, h / 2]])


class Scene:
    """The demo's scene at one angle in a frame of w x h pixels: its three
    quads (by name, in drawing order), the photograph that sizes the image
    quad, the one uploaded at start-up as the texture, which diagonal each
    quad is split along (GL leaves open how a quad becomes triangles: from
    its first corner, 0, or from its second, 1), the box's colour, how far
    from an outline coverage may go either way (`reach`: the samples decide
    within a pixel; further in a picture resampled after it was drawn), and
    the window map `view`
    from normalised device coordinates to the frame's pixels (the viewport
    (0, 0, w, h); another where the picture is placed otherwise in the
    frame)."""

    def __init__(self, angle, photo, tint, w=640, h=480, texture=None, split=0, quads=None, view=None,
                 box_colour=GREEN, reach=PIXEL_REACH):
        self.angle, self.photo, self.tint, self.w, self.h = angle, photo, tint, w, h
        self.box_colour, self.reach = box_colour, reach
        self.texture = texture or photo
        self.split = split
        self.view = viewport(w, h) if view is None else np.asarray(view, float)
        self.quads = quads or {q.name: q for q in (tiled_quad(angle, tint), gradient_quad(angle),
                                                   image_quad(photo.width, photo.height))}

    def changed(self, quad=None, texture=None, split=None, **more):
        """The same scene with one quad drawn otherwise, another texture or
        the other diagonal, or any of the constructor's arguments (`more`)."""
        quads = {**self.quads, quad.name: quad} if quad else self.quads
        args = dict(angle=self.angle, photo=self.photo, tint=self.tint, w=self.w, h=self.h,
                    texture=texture or self.texture, split=self.split if split is None else split, quads=quads,
                    view=self.view, box_colour=self.box_colour, reach=self.reach)
        args.update(more)  # quads=None: the quads as the angle and the photograph make them
        return Scene(**args)

    def key(self):
        """What tells two scenes' windows apart, for what is computed once per
        window: the frame's size, the window map and the outlines' reach."""
        return self.w, self.h, self.view.tobytes(), self.reach

    # The wire box: draw_cube's unit cube, scaled.
    BOX = CAMERA @ scale(400, 300, 400)

    @staticmethod
    def box():
        """draw_cube's 12 edges, in its order: (name, a, b)."""
        h = 0.5
        return [
            ("front bottom", (-h, -h, h), (h, -h, h)), ("front right", (h, -h, h), (h, h, h)),
            ("front top", (h, h, h), (-h, h, h)), ("front left", (-h, h, h), (-h, -h, h)),
            ("top left", (-h, h, h), (-h, h, -h)), ("top right", (h, h, h), (h, h, -h)),
            ("bottom left", (-h, -h, h), (-h, -h, -h)), ("bottom right", (h, -h, h), (h, -h, -h)),
            ("back bottom", (-h, -h, -h), (h, -h, -h)), ("back right", (h, -h, -h), (h, h, -h)),
            ("back top", (h, h, -h), (-h, h, -h)), ("back left", (-h, h, -h), (-h, -h, -h)),
        ]

    # --------------------------------------------------- window coordinates

    def window(self, modelview, points):
        """Object points (n x 3) to window x, y and depth (n x 3): projection,
        perspective division, viewport (0, 0, w, h), depth range 0..1."""
        points = np.asarray(points, float)
        clip = np.column_stack([points, np.ones(len(points))]) @ (PROJECTION @ modelview).T
        ndc = clip[:, :3] / clip[:, 3:]
        return np.column_stack([ndc[:, :2] @ self.view[:, :2].T + self.view[:, 2], (ndc[:, 2] + 1) / 2])

    def plane(self, quad):
        """The quad's plane z = 0 as it maps to the window: a 3 x 3 matrix
        (projection and viewport of the points (X, Y, 0, 1)), its adjugate,
        which maps back, and the projection's rows for depth."""
        m = (PROJECTION @ quad.modelview)[:, [0, 1, 3]]
        to_window = np.vstack([self.view, [0, 0, 1]]) @ m[[0, 1, 3]]
        return adjugate(to_window), m

    def hits(self, quad, x, y):
        """Where the rays through window points (x, y) meet the quad's plane:
        the quad's parameters a, b (0..1 from its first corner towards the
        second and the fourth) and the window depth there, as arrays; NaN or
        infinite where the plane is seen edge-on. The adjugate of the
        plane's map to the window maps back, and exists where the plane is
        seen edge-on (nothing is inverted)."""
        back, m = self.plane(quad)
        (x0, y0), (x1, _), _, (_, y3) = quad.corners
        with np.errstate(divide="ignore", invalid="ignore"):
            u, v, k = (back[i, 0] * x + back[i, 1] * y + back[i, 2] for i in range(3))
            px, py = u / k, v / k
            depth = (m[2, 0] * px + m[2, 1] * py + m[2, 2]) / (m[3, 0] * px + m[3, 1] * py + m[3, 2])
            return (px - x0) / (x1 - x0), (py - y0) / (y3 - y0), (depth + 1) / 2

    def texture_coordinates(self, quad, x, y):
        """The texture coordinates (s, t: the quad's parameters times its
        repeats) at window points (x, y) and at the points a pixel right,
        left, up and down: two lists of five arrays."""
        back, _ = self.plane(quad)
        (x0, y0), (x1, _), _, (_, y3) = quad.corners
        n = quad.repeats
        u, v, k = (back[i, 0] * x + back[i, 1] * y + back[i, 2] for i in range(3))
        s_out, t_out = [], []
        with np.errstate(divide="ignore", invalid="ignore"):
            for dx, dy in ((0, 0), (1, 0), (-1, 0), (0, 1), (0, -1)):
                kk = k + back[2, 0] * dx + back[2, 1] * dy
                s_out.append(((u + back[0, 0] * dx + back[0, 1] * dy) / kk - x0) / (x1 - x0) * n)
                t_out.append(((v + back[1, 0] * dx + back[1, 1] * dy) / kk - y0) / (y3 - y0) * n)
        return s_out, t_out

    def corners(self, quad):
        """The corners of the quad's drawn outline in window coordinates
        (4 x 2; 3 x 2 for a triangle)."""
        return self.window(quad.modelview, [quad.corners[k] + (0,) for k in quad.drawn])[:, :2]

    def inside(self, quad, x, y):
        """How far window points (x, y) lie inside the quad's outline, in
        pixels (negative outside): the least over its four edges. Seen
        edge-on, a quad covers nothing."""
        p = self.corners(quad)
        turn = np.sign(np.cross(p[1] - p[0], p[2] - p[1]))
        d = np.full(np.broadcast(x, y).shape, np.inf if turn else -np.inf, np.float32)
        if not turn:
            return d
        for (x0, y0), (x1, y1) in zip(p, np.roll(p, -1, axis=0)):
            length = math.hypot(x1 - x0, y1 - y0)
            if length > 0:
                d = np.minimum(d, turn * ((x1 - x0) * (y - y0) - (y1 - y0) * (x - x0)) / length)
        return d

    def box_around(self, quads, margin):
        """The rows and columns within `margin` pixels of the quads' corners:
        two slices."""
        p = np.concatenate([self.corners(q) for q in quads])
        c0, c1 = (int(np.clip(v, 0, self.w)) for v in (p[:, 0].min() - margin, p[:, 0].max() + margin + 1))
        r0, r1 = (int(np.clip(self.h - v, 0, self.h)) for v in (p[:, 1].max() + margin, p[:, 1].min() - margin - 1))
        return slice(r0, r1), slice(c0, c1)

    def inside_box(self, quad, box):
        """How far the pixel centres within the box lie inside the quad's
        outline (Scene.inside), [row, column] of the box."""
        x = np.arange(box[1].start, box[1].stop, dtype=np.float32) + 0.5
        y = self.h - np.arange(box[0].start, box[0].stop, dtype=np.float32) - 0.5
        return self.inside(quad, x[None, :], y[:, None])

    def covers(self, quad, box):
        """Which pixel centres within the box the quad covers."""
        return self.inside_box(quad, box) >= 0

    def samples(self, quad, rows, cols, positions):
        """Which samples at `positions` (x, y within a pixel, y up) of the
        given pixels GL covers surely, and which it may cover, as a sample
        within SNAP of an edge may fall either way (further in a resampled
        picture): two arrays [sample, pixel]."""
        d = np.array([self.inside(quad, cols + x, self.h - 1 - rows + y) for x, y in positions])
        slack = SNAP + self.reach - PIXEL_REACH
        return d >= slack, d > -slack

    # -------------------------------------------------------------- colours

    def footprint(self, quad, x, y):
        """What a texture lookup at window points (x, y) may reach: the
        centres s, t and half-widths hs, ht of boxes (in texture coordinates)
        that hold every texel it may blend.

        GL may look up anywhere in the pixel's image (the derivatives of s
        and t across one pixel, measured on both sides as GL takes them over
        2 x 2 pixels). It picks a level of detail from those derivatives: at
        least the longer's, at most the sum of the largest changes in s and
        in t (GL's approximations), plus a driver's bias; it blends that
        level with the next coarser, and anisotropic filtering takes finer
        levels along the pixel's image, no finer than its shorter side. At
        each such level, bilinear filtering blends the 2 x 2 texels whose
        centres surround the lookup (GL's i0 = floor(u - 1/2) and i0 + 1);
        a texel of level k is the mean of a 2^k x 2^k block of level 0, and
        GLU's scaling to a power of two makes each texel of level 0 the mean
        of the photograph over the texel's own extent (area-weighted: a cell
        boundary on a texel boundary stays sharp). The boxes hold those
        texels for every lookup in the pixel."""
        return self.lookup(quad, x, y)[2:]

    def lookup(self, quad, x, y):
        """footprint, with the texture coordinates at the pixel centres
        first: s, t, then the boxes' s, t, hs, ht."""
        (s, *ss), (t, *ts) = self.texture_coordinates(quad, x, y)
        w0, h0 = glu_size(self.texture.width), glu_size(self.texture.height)
        top = int(round(math.log2(max(w0, h0))))
        with np.errstate(invalid="ignore", divide="ignore"):
            sx, tx = (np.maximum(abs(d[0] - c), abs(c - d[1])) for d, c in ((ss, s), (ts, t)))
            sy, ty = (np.maximum(abs(d[2] - c), abs(c - d[3])) for d, c in ((ss, s), (ts, t)))
            coarsest = np.log2(np.maximum(sx, sy) * w0 + np.maximum(tx, ty) * h0) + LOD_BIAS
            finest = np.log2(np.minimum(np.hypot(sx * w0, tx * h0), np.hypot(sy * w0, ty * h0)))
            last = np.where(coarsest > 0, np.minimum(np.floor(coarsest) + 1, top), 0)
            last = np.where(np.isnan(coarsest), top, last)
            first = np.clip(np.nan_to_num(np.floor(finest), nan=0, neginf=0, posinf=top), 0, last)
            levels = range(int(first.min()), int(last.max()) + 1) if np.size(first) else ()
            ps, pt = (sx + sy) / 2, (tx + ty) / 2  # the pixel's image
            spans = []
            for u, half, size in ((s, ps, w0), (t, pt, h0)):
                lo, hi = np.full(np.shape(u), np.inf), np.full(np.shape(u), -np.inf)
                for level in levels:
                    k = max(1, size >> level)
                    used = (level >= first) & (level <= last)
                    lo = np.where(used, np.minimum(lo, np.floor((u - half) * k - 0.5 - TAP_SLACK) / k), lo)
                    hi = np.where(used, np.maximum(hi, (np.floor((u + half) * k - 0.5 + TAP_SLACK) + 2) / k), hi)
                spans.append(((lo + hi) / 2, (hi - lo) / 2))
        (sc, hs), (tc, ht) = spans
        return s, t, sc, tc, np.where(np.isfinite(hs), hs, np.nan), np.where(np.isfinite(ht), ht, np.nan)

    def colours(self, quad, x, y):
        """What the quad may show at window points (x, y): Colours. A
        textured quad blends the cells its footprint meets, tinted; the
        gradient shows its corners' colours blended at the pixel centre,
        along the scene's diagonal."""
        if quad.repeats:
            return self.texture.colour_range(*self.footprint(quad, x, y), np.array(quad.tint))
        c = self.blends(quad, x, y, (self.split,))[0]
        return Colours(c, c, c.sum(axis=-1))

    def blends(self, quad, x, y, splits=(0, 1)):
        """The gradient's colour at window points (x, y) when the quad is
        split along each diagonal of `splits`: a list of (..., 3) arrays."""
        a, b, _ = self.hits(quad, x, y)
        c0, c1, c2, c3 = (np.array(c, float) for c in quad.colours)
        a, b = np.clip(np.nan_to_num(a), 0, 1)[..., None], np.clip(np.nan_to_num(b), 0, 1)[..., None]
        out = []
        for split in splits:
            if split == 0:  # triangles (0, 1, 2) and (0, 2, 3)
                out.append(np.where(a >= b, (1 - a) * c0 + (a - b) * c1 + b * c2, (1 - b) * c0 + a * c2 + (b - a) * c3))
            else:  # triangles (0, 1, 3) and (1, 2, 3)
                out.append(np.where(a + b <= 1, (1 - a - b) * c0 + a * c1 + b * c3,
                                    (1 - b) * c1 + (a + b - 1) * c2 + (1 - a) * c3))
        return out

    def depth_plane(self, quad):
        """Window depth over the quad's plane as a function of window x and
        y: (d0, dx, dy), depth = d0 + dx x + dy y (depth is affine in window
        coordinates over a plane); None where the plane is seen edge-on."""
        p = self.window(quad.modelview, [(x, y, 0) for x, y in quad.corners[:3]])
        a = np.column_stack([np.ones(3), p[:, :2]])
        if not np.isfinite(p).all() or abs(np.linalg.det(a)) < 1e-9:
            return None
        return np.linalg.solve(a, p[:, 2])
