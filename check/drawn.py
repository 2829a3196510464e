"""Which pixels an object of the scene may have drawn: those in its colours
(blended over black, looked up in a table of colour classes) where it may
reach. Checks that name whose pixels they found, and blame, ask it."""
import numpy as np

from .look import CACHE, at_pixels, centres, channel_max
from .tolerances import CLASS_REACH, LEVELS_OFF

# A pixel is of an object's colours where it lies within CLASS_REACH of a
# blend of them over black, the colours quantised to CLASS_STEP levels a
# channel; an object may have drawn where its expected outline, grown by
# this share of its size (and at least BLAME_MARGIN pixels), reaches; the
# box anywhere.
CLASS_STEP = 4
BLAME_REACH = 0.3
BLAME_MARGIN = 8


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
        return [tuple(scene.box_colour)]
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
        test = channel_max(got) > LEVELS_OFF
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
            return fits & at_pixels(p, p.near, rows, cols) & (look.front[rows, cols] == look.code(obj))
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
