"""The demo's scene as GL draws it, for the frame checker: GL's own 4 x 4
matrices composed in the order display_CB calls them, the viewport
transform, and coverage as GL defines rasterisation: a pixel belongs to a
polygon when its centre lies inside, or with multisampling each of its
samples does.

Window coordinates are GL's: x from the left, y from the bottom, pixel
(c, r) centred on (c + 0.5, r + 0.5). Every array over a frame is indexed
[row, column] with the top row first, as the captured frames are."""
import math

import numpy as np

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


# GL snaps vertices to a grid of at least 4 bits below the pixel: a sample
# this close to an edge may be covered or not.
SNAP = 1 / 16

# main(): the projection, set once; display_CB(): the camera, every frame.
PROJECTION = perspective(45, 1.333, 1, 1000)
CAMERA = look_at((0, 0, 600), (0, 0, 0), (0, 1, 0))

# ------------------------------------------------------- test photographs


class Photo:
    """A test photograph of flat cells: columns split at fractions `us` of the
    width, rows at fractions `ys` of the height from the top; cells[row][col]."""

    def __init__(self, width, height, us, ys, cells):
        self.width, self.height = width, height
        self.us, self.ys, self.cells = np.array(us, float), np.array(ys, float), np.array(cells, float)

    def colours(self, s, t, margin):
        """The texels at texture coordinates (s, t) (t = 0 at the bottom,
        repeating), as an (..., 3) array; NaN within `margin` of a cell
        boundary, where filtering blends neighbours."""
        u, y = s % 1, 1 - t % 1
        near = np.zeros(u.shape, bool)
        for value, cuts in ((u, self.us), (y, self.ys)):
            for c in (0, 1, *cuts):
                near |= abs(value - c) < margin
        out = self.cells[np.searchsorted(self.ys, y), np.searchsorted(self.us, u)]
        out[near] = np.nan
        return out


def framed(width, height, tl=RED, tr=GREEN, bl=BLUE, br=WHITE, frame=WHITE):
    """Quadrants inside a frame of one colour, a sixth of each side wide: a
    repeating texture blends its opposite edges, and these match."""
    f = frame
    return Photo(width, height, [1 / 6, 1 / 2, 5 / 6], [1 / 6, 1 / 2, 5 / 6],
                 [[f, f, f, f], [f, tl, tr, f], [f, bl, br, f], [f, f, f, f]])


# Misreadings of a photograph, named for the diagnosis: (s, t) and colour maps.
PHOTO_READINGS = {
    "the photograph upside down": (lambda s, t: (s, -t), None),
    "the photograph mirrored left to right": (lambda s, t: (-s, t), None),
    "the photograph turned half a turn": (lambda s, t: (-s, -t), None),
    "the photograph's colours inverted": (None, lambda c: 255 - c),
    "shown once": (lambda s, t: (s / 2, t / 2), None),
}

# ------------------------------------------------------------------ scene

# Misreadings of the image quad's place: off centre by half a unit.
IMAGE_SHIFTS = {"half a unit " + " and ".join(w for w in (across, up) if w): (dx, dy)
                for dx, across in ((-0.5, "left"), (0, ""), (0.5, "right"))
                for dy, up in ((-0.5, "down"), (0, ""), (0.5, "up")) if dx or dy}


class Quad:
    """One quadrilateral as display_CB draws it: its modelview matrix and its
    corners in the plane z = 0 of its own coordinates, in drawing order."""

    def __init__(self, name, modelview, corners, repeats=None):
        self.name, self.modelview, self.repeats = name, modelview, repeats
        self.corners = np.array(corners, float)
        (self.x0, self.y0), (x1, _), _, (_, y3) = self.corners
        self.dx, self.dy = x1 - self.x0, y3 - self.y0


class Scene:
    """The demo's scene at one angle in a viewport of w x h. `readings`
    turns one object into a misreading of it, for the diagnosis:
    {object name: how}."""

    def __init__(self, angle, photo, tint, w=640, h=480, texture=None, readings=None, split=0):
        self.angle, self.photo, self.tint, self.w, self.h = angle, photo, tint, w, h
        self.texture = texture or photo  # the photograph uploaded at start-up
        self.readings = readings or {}
        # GL leaves open how a quad becomes triangles: along the diagonal from
        # its first corner (0) or from its second (1).
        self.split = split
        self.quads = {q.name: q for q in (self.tiled(), self.gradient(), self.image())}

    def reading(self, name, how):
        return Scene(self.angle, self.photo, self.tint, self.w, self.h, self.texture,
                     {**self.readings, name: how}, self.split)

    def other_split(self):
        return Scene(self.angle, self.photo, self.tint, self.w, self.h, self.texture, self.readings,
                     1 - self.split)

    def tiled(self):
        how, a = self.readings.get("tiled quad"), self.angle
        a = {"other spin": -a, "one degree less": a - 1, "one degree more": a + 1}.get(how, a)
        m = CAMERA @ translate(0, 100, 100) @ rotate(-a, 0, 1, 0)
        return Quad("tiled quad", m, [(-50, -50), (50, -50), (50, 50), (-50, 50)], repeats=2)

    def gradient(self):
        how, a = self.readings.get("gradient quad"), self.angle
        a = {"other tumble": -a, "one degree less": a - 1, "one degree more": a + 1}.get(how, a)
        axis = (0, 1, 0) if how == "vertical axis" else (1, 0, 0)
        shift = translate(0, 0, 0) if how == "bottom edge" else translate(0, -50, 0)
        m = CAMERA @ translate(0, -100, 200) @ rotate(a, *axis) @ shift
        return Quad("gradient quad", m, [(-50, 0), (50, 0), (50, 100), (-50, 100)])

    def image(self):
        w, h = self.photo.width, self.photo.height
        dx, dy = IMAGE_SHIFTS.get(self.readings.get("image quad"), (0, 0))
        m = CAMERA @ translate(np.float32(-w / 2.0) + dx, np.float32(-h / 2.0) + dy, 0)
        return Quad("image quad", m, [(0, 0), (w, 0), (w, h), (0, h)], repeats=1)

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
        clip = np.c_[np.asarray(points, float), np.ones(len(points))] @ (PROJECTION @ modelview).T
        ndc = clip[:, :3] / clip[:, 3:]
        return (ndc + 1) / 2 * [self.w, self.h, 1]

    def hits(self, quad, x, y):
        """Where the rays through window points (x, y) meet the quad's plane:
        the quad's parameters a, b (0..1 from its first corner towards the
        second and the fourth) and the window depth there, as arrays. The
        plane z = 0 maps to the window by a 3 x 3 matrix: projection and
        viewport of the points (X, Y, 0, 1); its inverse maps back."""
        m = (PROJECTION @ quad.modelview)[:, [0, 1, 3]]
        to_window = np.array([[self.w / 2, 0, self.w / 2], [0, self.h / 2, self.h / 2], [0, 0, 1]]) @ m[[0, 1, 3]]
        back = np.linalg.inv(to_window)
        u, v, k = (back[i, 0] * x + back[i, 1] * y + back[i, 2] for i in range(3))
        px, py = u / k, v / k
        depth = (m[2, 0] * px + m[2, 1] * py + m[2, 2]) / (m[3, 0] * px + m[3, 1] * py + m[3, 2])
        return (px - quad.x0) / quad.dx, (py - quad.y0) / quad.dy, (depth + 1) / 2

    def corners(self, quad):
        """The quad's corners in window coordinates (4 x 2)."""
        return self.window(quad.modelview, np.c_[quad.corners, np.zeros(4)])[:, :2]

    def inside(self, quad, x, y):
        """How far window points (x, y) lie inside the quad's outline, in
        pixels (negative outside): the least over its four edges. Seen
        edge-on, a quad covers nothing."""
        p = self.corners(quad)
        turn = np.sign(np.cross(p[1] - p[0], p[2] - p[1]))
        d = np.full(np.broadcast(x, y).shape, np.inf if turn else -np.inf, np.float32)
        for (x0, y0), (x1, y1) in zip(p, np.roll(p, -1, axis=0)):
            d = np.minimum(d, turn * ((x1 - x0) * (y - y0) - (y1 - y0) * (x - x0)) / math.hypot(x1 - x0, y1 - y0))
        return d

    def box_around(self, quads, margin):
        """The rows and columns within `margin` pixels of the quads' corners:
        two slices."""
        p = np.concatenate([self.corners(q) for q in quads])
        c0, c1 = (int(np.clip(v, 0, self.w)) for v in (p[:, 0].min() - margin, p[:, 0].max() + margin + 1))
        r0, r1 = (int(np.clip(self.h - v, 0, self.h)) for v in (p[:, 1].max() + margin, p[:, 1].min() - margin - 1))
        return slice(r0, r1), slice(c0, c1)

    def covers(self, quad, box):
        """Which pixel centres within the box the quad covers."""
        x = np.arange(box[1].start, box[1].stop, dtype=np.float32) + 0.5
        y = self.h - np.arange(box[0].start, box[0].stop, dtype=np.float32) - 0.5
        return self.inside(quad, x[None, :], y[:, None]) >= 0

    def raster(self, quad):
        """The quad at every pixel centre: (covered, a, b, depth), arrays [row,
        column]; a and b go on 4 pixels past the quad's edges, NaN beyond."""
        box = self.box_around([quad], 4)
        x, y = np.meshgrid(np.arange(box[1].start, box[1].stop) + 0.5, self.h - np.arange(box[0].start, box[0].stop) - 0.5)
        covered, a, b = np.zeros((self.h, self.w), bool), *np.full((2, self.h, self.w), np.nan, np.float32)
        depth = np.full((self.h, self.w), np.inf)
        a[box], b[box], d = self.hits(quad, x, y)
        covered[box] = self.covers(quad, box)
        depth[box] = np.where(covered[box], d, np.inf)
        return covered, a, b, depth

    def samples(self, quad, rows, cols, positions):
        """Which samples at `positions` (x, y within a pixel, y up) of the
        given pixels GL covers surely, and which it may cover, as a sample
        within SNAP of an edge may fall either way: two arrays [sample, pixel]."""
        d = np.array([self.inside(quad, cols + x, self.h - 1 - rows + y) for x, y in positions])
        return d >= SNAP, d > -SNAP

    # -------------------------------------------------------------- colours

    def colours(self, name, a, b, margin):
        """What the named quad shows at its parameters a, b (arrays): (..., 3),
        NaN where a test photograph's cell boundary makes it uncertain."""
        how = self.readings.get(name)
        if name == "gradient quad":
            c0, c1, c2, c3 = (np.array(c, float) for c in (
                (GREEN, RED, BLUE, YELLOW) if how == "red and green swapped" else (RED, GREEN, BLUE, YELLOW)))
            a, b = np.clip(a, 0, 1)[..., None], np.clip(b, 0, 1)[..., None]
            if self.split == 0:  # triangles (0, 1, 2) and (0, 2, 3)
                return np.where(a >= b, (1 - a) * c0 + (a - b) * c1 + b * c2, (1 - b) * c0 + a * c2 + (b - a) * c3)
            return np.where(a + b <= 1, (1 - a - b) * c0 + a * c1 + b * c3,  # triangles (0, 1, 3), (1, 2, 3)
                            (1 - b) * c1 + (a + b - 1) * c2 + (1 - a) * c3)
        n = self.quads[name].repeats
        s, t = a * n, b * n
        where, colour = PHOTO_READINGS.get(how, (None, None))
        if where:
            s, t = where(s, t)
        texel = self.texture.colours(s, t, margin)
        if colour:
            texel = colour(texel)
        return texel * self.tint if name == "tiled quad" else texel
