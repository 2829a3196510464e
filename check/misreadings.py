"""The misreadings of one object: the changes a whole picture may undergo
(model.py) applied to that object alone, and named only where one explains
that object on its own. Its angle (a degree or a few either way, or turned
the other way), where it lies (half a unit off, as integer halves put it),
what its photograph shows (turned or mirrored; its colours inverted or its
channels exchanged), its corners' colours exchanged; and the two that only
the gradient has (another axis, its bottom edge as the axis). Each is a
value, its kind and parameters (words.misread makes its words), with the
scene it makes of the correct one."""
from itertools import permutations
from typing import Callable, NamedTuple

import numpy as np

from .scene import GRADIENT_COLOURS, gradient_quad, image_quad, tiled_quad
from .words import ORIENTATIONS, misread


class Misreading(NamedTuple):
    kind: str
    values: tuple
    scene: Callable  # the correct scene -> the misread one

    @property
    def says(self):
        return misread(self.kind, self.values)


def tiled_at(angle):
    return lambda s: s.changed(tiled_quad(angle(s.angle), s.quads["tiled quad"].tint, s.quads["tiled quad"].repeats))


def gradient_at(angle, **how):
    return lambda s: s.changed(gradient_quad(angle(s.angle), **how))


def image_off(dx, dy):
    return lambda s: s.changed(image_quad(s.photo.width, s.photo.height, (dx, dy)))


def texture(change):
    return lambda s: s.changed(texture=change(s.texture))


def turned(p, q):
    """A photograph as ORIENTATIONS[q] lays it: its cells mirrored, flipped,
    turned a quarter (cells and cuts transposed)."""
    (a, b, c, d), _ = ORIENTATIONS[q]
    if b:  # a quarter turn: across becomes up
        p = p.changed(cells=np.swapaxes(p.cells, 0, 1), us=p.ys, ys=p.us)
        a, d = b, c
    if a < 0:
        p = p.changed(cells=p.cells[:, ::-1], us=1 - p.us[::-1])
    if d < 0:
        p = p.changed(cells=p.cells[::-1], ys=1 - p.ys[::-1])
    return p


def mixed(order):
    """Colours with their channels taken in `order`."""
    return lambda c: np.asarray(c, float)[..., list(order)]


def recoloured(name, change):
    """One quad's colours changed: the gradient's corners, or the texture's
    cells."""
    if name == "gradient quad":
        return lambda s: s.changed(gradient_quad(s.angle, colours=tuple(map(tuple, change(GRADIENT_COLOURS)))))
    return texture(lambda p: p.changed(cells=change(p.cells)))


# The angles that a frame may be drawn at, as far as a frame's angle is
# looked for: up to FARTHEST degrees either way (a frame up to FARTHEST
# frames late; beyond a few degrees only while each fits closer: look.py).
FARTHEST = 30
OFFSETS = tuple(s * k for k in range(1, FARTHEST + 1) for s in (-1, 1))

# The angle of the whole frame: both turning quads OFF degrees off together.
ANGLES = {off: (Misreading("angle", (off,), tiled_at(lambda a, off=off: a + off)),
                Misreading("angle", (off,), gradient_at(lambda a, off=off: a + off))) for off in OFFSETS}

# Misreadings of each quad's place and turn, the nearest first: where two
# explain a frame alike, the nearer is named.
OUTLINES = {
    "tiled quad": (ANGLES[-1][0], ANGLES[1][0], Misreading("spin", (), tiled_at(lambda a: -a))),
    "gradient quad": (
        ANGLES[-1][1], ANGLES[1][1],
        Misreading("tumble", (), gradient_at(lambda a: -a)),
        Misreading("axis", (), gradient_at(lambda a: a, axis=(0, 1, 0))),
        Misreading("bottom", (), gradient_at(lambda a: a, centre_line=False)),
    ),
    "image quad": tuple(Misreading("moved", (dx, dy), image_off(dx, dy))
                        for dx in (-0.5, 0, 0.5) for dy in (-0.5, 0, 0.5) if dx or dy),
}

# Channels exchanged: every order of the three but their own.
CHANNELS = [order for order in permutations(range(3)) if order != (0, 1, 2)]


def photograph(name):
    """What a textured quad's photograph may be misread as: upside down,
    mirrored, half a turn (a quarter turn squeezes it into the quad's other
    shape, which no misreading here draws)."""
    return tuple(Misreading("photograph", (q,), texture(lambda p, q=q: turned(p, q))) for q in (2, 1, 3)) + (
        Misreading("inverted", (), recoloured(name, lambda c: 255 - np.asarray(c, float))),) + tuple(
        Misreading("channels", (order,), recoloured(name, mixed(order))) for order in CHANNELS)


# Misreadings of what each quad shows.
COLOURS = {
    "tiled quad": photograph("tiled quad") + (
        Misreading("once", (), lambda s: s.changed(tiled_quad(s.angle, s.quads["tiled quad"].tint, 1))),),
    "gradient quad": tuple(Misreading("corners", (order,), recoloured(
        "gradient quad", lambda c, order=order: np.asarray(c, float)[list(order)]))
        for order in permutations(range(4)) if order != (0, 1, 2, 3)) + tuple(
        Misreading("channels", (order,), recoloured("gradient quad", mixed(order))) for order in CHANNELS),
    "image quad": photograph("image quad"),
}
