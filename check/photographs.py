"""The test photographs the checker shows the demo: what the checker expects
of each (a scene.Photo) and the ImageMagick arguments that make it."""
from .scene import BLUE, GREEN, RED, WHITE, YELLOW, Photo


def framed(width, height, tl=RED, tr=GREEN, bl=BLUE, br=WHITE, frame=WHITE):
    """Quadrants inside a frame of one colour, a sixth of each side wide: a
    repeating texture blends its opposite edges, and these match."""
    f = frame
    return Photo(width, height, [1 / 6, 1 / 2, 5 / 6], [1 / 6, 1 / 2, 5 / 6],
                 [[f, f, f, f], [f, tl, tr, f], [f, bl, br, f], [f, f, f, f]])


def framed_args(w, h, colours=("red", "lime", "blue", "white")):
    """ImageMagick's arguments for framed(w, h, ...)."""
    out = ["-size", f"{w}x{h}", "xc:white"]
    for colour, (x, y) in zip(colours, ((1, 1), (3, 1), (1, 3), (3, 3))):
        out += ["-fill", colour, "-draw", f"rectangle {x * w // 6},{y * h // 6} {(x + 2) * w // 6 - 1},{(y + 2) * h // 6 - 1}"]
    return out


GREYS = ("gray(60)", "gray(120)", "gray(180)", "gray(240)")

# name: (what the checker expects, how ImageMagick makes it)
PHOTOGRAPHS = {
    "quadrants": (framed(336, 240), framed_args(336, 240)),
    "grayscale": (framed(336, 240, *[(v,) * 3 for v in (60, 120, 180, 240)]),
                  framed_args(336, 240, GREYS) + ["-colorspace", "Gray"]),
    "Adobe CMYK": (framed(336, 240), framed_args(336, 240) + ["-colorspace", "CMYK"]),
    "odd size": (Photo(33, 31, [12 / 33, 15 / 33], [], [[BLUE, RED, BLUE]]),
                 ["-size", "33x31", "xc:blue", "-fill", "red", "-draw", "rectangle 12,0 14,30"]),
    "yellow": (Photo(160, 100, [], [], [[YELLOW]]), ["-size", "160x100", "xc:yellow"]),
}
