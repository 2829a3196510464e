"""The ways a program can get the demo's scene wrong that the checker names:
each turns the correct scene into the misread one, and is named by what
the user reads when it fits a frame far better than the scene does."""
from typing import Callable, NamedTuple

import numpy as np

from .scene import GRADIENT_COLOURS, gradient_quad, image_quad, tiled_quad


class Misreading(NamedTuple):
    says: str  # what the user reads
    scene: Callable  # the correct scene -> the misread one


def tiled_at(angle):
    return lambda s: s.changed(tiled_quad(angle(s.angle), s.quads["tiled quad"].tint, s.quads["tiled quad"].repeats))


def gradient_at(angle, **how):
    return lambda s: s.changed(gradient_quad(angle(s.angle), **how))


def image_off(dx, dy):
    return lambda s: s.changed(image_quad(s.photo.width, s.photo.height, (dx, dy)))


def texture(change):
    return lambda s: s.changed(texture=change(s.texture))


def upside_down(p):
    return p.changed(cells=p.cells[::-1], ys=1 - p.ys[::-1])


def mirrored(p):
    return p.changed(cells=p.cells[:, ::-1], us=1 - p.us[::-1])


SHORT = "drawn one degree short of the frame's angle"
PAST = "drawn one degree past the frame's angle"

# Misreadings of each quad's place and turn, the nearest first: where two
# explain a frame alike, the nearer is named.
OUTLINES = {
    "tiled quad": (
        Misreading(SHORT, tiled_at(lambda a: a - 1)),
        Misreading(PAST, tiled_at(lambda a: a + 1)),
        Misreading("turns counter-clockwise seen from above, expected clockwise", tiled_at(lambda a: -a)),
    ),
    "gradient quad": (
        Misreading(SHORT, gradient_at(lambda a: a - 1)),
        Misreading(PAST, gradient_at(lambda a: a + 1)),
        Misreading("tumbles with its top edge tipping away from the camera, expected towards it",
                   gradient_at(lambda a: -a)),
        Misreading("turns about the vertical axis, expected the horizontal", gradient_at(lambda a: a, axis=(0, 1, 0))),
        Misreading("turns about its bottom edge, expected its horizontal centre line",
                   gradient_at(lambda a: a, centre_line=False)),
    ),
    "image quad": tuple(
        Misreading("not centred: half a unit " + " and ".join(w for w in (across, up) if w), image_off(dx, dy))
        for dx, across in ((-0.5, "left"), (0, ""), (0.5, "right"))
        for dy, up in ((-0.5, "down"), (0, ""), (0.5, "up")) if dx or dy),
}

# The angle of the whole frame: both turning quads a degree off together.
ANGLES = {-1: (OUTLINES["tiled quad"][0], OUTLINES["gradient quad"][0]),
          1: (OUTLINES["tiled quad"][1], OUTLINES["gradient quad"][1])}

PHOTOGRAPH = (
    Misreading("shows the photograph upside down", texture(upside_down)),
    Misreading("shows the photograph mirrored left to right", texture(mirrored)),
    Misreading("shows the photograph turned half a turn", texture(lambda p: upside_down(mirrored(p)))),
    Misreading("shows the photograph's colours inverted", texture(lambda p: p.changed(cells=255 - p.cells))),
)

# Misreadings of what each quad shows.
COLOURS = {
    "tiled quad": PHOTOGRAPH + (
        Misreading("shown once", lambda s: s.changed(tiled_quad(s.angle, s.quads["tiled quad"].tint, 1))),),
    "gradient quad": (
        Misreading("red and green swapped", lambda s: s.changed(gradient_quad(
            s.angle, colours=tuple(np.array(GRADIENT_COLOURS)[[1, 0, 2, 3]])))),),
    "image quad": PHOTOGRAPH,
}


class Cause(NamedTuple):
    """A cause of the whole frame: what the user reads, filled in with what
    was found."""
    says: str


# The causes of a whole frame, tried before any object is blamed, each named
# only where it explains the frame as well as a correct frame is explained;
# the checks whose evidence it spoils follow from it.
CAUSES = {
    # Every pixel one colour.
    "nothing": Cause("nothing drawn: the frame shows only the clear colour"),
    "flat": Cause("nothing drawn: every pixel is {colour}, not even the clear colour"),
    # One map from each colour the scene has to the colour shown, over every
    # object alike.
    "colour map": Cause("every colour {how}{curve}: {examples}"),
    # Every object in one colour, as where the colour each is given is lost.
    "one colour": Cause("every object drawn in {colour}: the colours given with glColor are lost"),
    # The frame before (or one further back) where nothing is drawn over it.
    "behind": Cause("{which} shows through where nothing is drawn over it: the colour clear was skipped"),
    # Run-wide: frame N is the picture of frame N - 1 in every frame.
    "lag": Cause("each frame shows the frame before: frame N drawn at N − 1 degrees{first}"),
}
