"""The picture the scene must give (scene.py), point by point: which object
GL shows at a window point, the colours it may show there, and whether the
point lies on an edge, where coverage may go either way. The causes of a
whole frame (model.py) are fitted against it, and the checker's own tests
draw frames from it.

Points are window coordinates (x from the left, y from the bottom, in
pixels; pixel (c, r) of a frame is centred on (c + 0.5, h - r - 0.5)), as
(n,) arrays; colours are 0..255 a channel, (n, 3)."""
from typing import NamedTuple

import numpy as np

from .look import CACHE, quad_colours_at
from .scene import quad_key
from .tolerances import LINE_REACH

# What a point shows: the background, the quads in drawing order (1, 2, 3),
# the box's lines.
BACKGROUND, BOX = 0, 4


class Reference(NamedTuple):
    """The picture the scene must give at n points."""
    objects: np.ndarray  # (n,) int8: BACKGROUND, a quad (1..3), BOX
    sharp: np.ndarray  # (n, 3): the colour drawn there without filtering (a texel's cell, the blend)
    lo: np.ndarray  # (n, 3): what GL may show there, least and most of each channel
    hi: np.ndarray
    edge: np.ndarray  # (n,) bool: within reach of an outline or a line, where coverage decides


def segments(scene):
    """The box's 12 edges in the window: (12, 2, 3) x, y, depth of their ends."""
    return np.array([scene.window(scene.BOX, [a, b]) for _, a, b in scene.box()])


def line_offsets(ends, x, y):
    """How far points lie from a segment (ends: 2 x 3 window x, y, depth)
    along the axis it runs least along (GL draws a width-1 line one pixel
    across that axis), where along it they lie (0..1), and its depth there:
    three (n,) arrays; the offset is infinite beyond its ends."""
    (x0, y0, z0), (x1, y1, z1) = ends
    dx, dy = x1 - x0, y1 - y0
    with np.errstate(divide="ignore", invalid="ignore"):
        if abs(dx) >= abs(dy):
            t = (x - x0) / dx if dx else np.zeros_like(x)
            offset = y - (y0 + t * dy)
        else:
            t = (y - y0) / dy
            offset = x - (x0 + t * dx)
    offset = np.where((t >= 0) & (t <= 1), offset, np.inf)
    return offset, t, z0 + np.where(np.isnan(t), 0, np.clip(t, 0, 1)) * (z1 - z0)


def reference_at(scene, x, y, colours=True):
    """The picture the scene must give at window points x, y (n,): a
    Reference. Each quad covers the points inside its drawn outline, the
    nearest in front; the box's lines show where no quad lies nearer. With
    `colours` False, lo and hi are the sharp colour (what a texture lookup
    may blend is not worked out); with None, no colour is (all zero)."""
    x, y = np.asarray(x, float), np.asarray(y, float)
    n = len(x)
    # The image quad never moves, nor does the box: at the same points, they
    # are the same in every frame of a window.
    at = (scene.key(), x.tobytes(), y.tobytes())
    still = lambda what, q, make: CACHE.get(("reference", what, quad_key(q) if q else None, *at), make) \
        if q is None or q.name == "image quad" else make()
    objects, depth = np.zeros(n, np.int8), np.full(n, np.inf)
    edge = np.zeros(n, bool)
    quads = list(scene.quads.values())
    for i, q in enumerate(quads, 1):
        inside, z = still("outline", q, lambda: quad_at(scene, q, x, y))
        edge |= np.abs(inside) < scene.reach
        nearer = (inside >= 0) & (z < depth)
        objects[nearer], depth[nearer] = i, z[nearer]
    sharp = np.zeros((n, 3))
    lo, hi = np.zeros((n, 3)), np.zeros((n, 3))
    for i, q in enumerate(quads, 1):
        k = objects == i
        if not k.any() or colours is None:
            continue
        if not colours:
            sharp[k] = lo[k] = hi[k] = sharp_colour(scene, q, x[k], y[k])
            continue
        sharp[k], lo[k], hi[k] = still(("colours", scene.texture.key, k.tobytes()), q,
                                       lambda: colours_at(scene, q, x[k], y[k]))
    on, z, near = still(("box", tuple(scene.box_colour)), None, lambda: box_at(scene, x, y))
    on &= z < depth
    objects[on], depth[on] = BOX, z[on]
    sharp[on] = lo[on] = hi[on] = scene.box_colour
    edge |= near
    return Reference(objects, sharp, lo, hi, edge)


def quad_at(scene, quad, x, y):
    """How far points lie inside the quad's drawn outline (pixels; negative
    outside), and its window depth there (infinite where seen edge-on)."""
    plane = scene.depth_plane(quad)
    z = np.full(len(x), np.inf) if plane is None else plane[0] + plane[1] * x + plane[2] * y
    return scene.inside(quad, x, y), z


def box_at(scene, x, y):
    """Where the box's lines lie at points: on a line (GL's one pixel
    across), its depth there, and within LINE_REACH of one."""
    on, depth, near = np.zeros(len(x), bool), np.full(len(x), np.inf), np.zeros(len(x), bool)
    for ends in segments(scene):
        offset, _, z = line_offsets(ends, x, y)
        hit = (offset >= -0.5) & (offset < 0.5) & (z < depth)
        on |= hit
        depth[hit] = z[hit]
        near |= np.abs(offset) < LINE_REACH
    return on, depth, near


def colours_at(scene, quad, x, y):
    """The colour the quad shows at window points without filtering, and
    the least and most of each channel it may show there (as the checks
    take them): three (n, 3) arrays."""
    if not quad.repeats:
        return (sharp_colour(scene, quad, x, y), *quad_colours_at(scene, quad, x, y)[:2])
    s, t, *box = scene.lookup(quad, x, y)  # one lookup for both
    return (cell_colour(scene, quad, s, t), *scene.texture.colour_range(*box, np.array(quad.tint))[:2])


def sharp_colour(scene, quad, x, y):
    """The colour the quad shows at window points, without filtering: its
    photograph's cell there, tinted, or its corners' blend along the
    scene's diagonal: (n, 3)."""
    if not quad.repeats:
        return scene.blends(quad, x, y, (scene.split,))[0]
    (s, *_), (t, *_) = scene.texture_coordinates(quad, x, y)
    return cell_colour(scene, quad, s, t)


def cell_colour(scene, quad, s, t):
    """The photograph's cell at texture coordinates s, t, tinted: (n, 3)."""
    row, col, _, _ = scene.texture.cell_at(s, t)
    cells = scene.texture.cells
    return cells[np.clip(row, 0, cells.shape[0] - 1), np.clip(col, 0, cells.shape[1] - 1)] * np.array(quad.tint)


def render(scene, positions=((0.5, 0.5),)):
    """The frame a correct machine may draw of the scene: (h, w, 3) uint8,
    top row first. Each sample of a pixel (positions within it, y up) takes
    the colour drawn there, and the pixel their mean, as a multisampled
    frame resolved by the mean; with one sample at the centre, a frame drawn
    without multisampling. Textures are drawn sharp, a blend GL allows."""
    rows, cols = np.mgrid[:scene.h, :scene.w]
    rows, cols = rows.ravel(), cols.ravel()
    out = np.zeros((len(rows), 3))
    for px, py in positions:
        x, y = cols + px, scene.h - 1 - rows + py
        out += reference_at(scene, x, y, colours=False).sharp
    return np.round(out / len(positions)).astype(np.uint8).reshape(scene.h, scene.w, 3)
