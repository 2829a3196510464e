"""How the picture is made: writes the page that follows frame 30 of the demo
through GL's pipeline, from the calls in src/demo.cpp to the pixels, with
the checker's own model of the scene (scene.py) for every number and the
real demo, captured by the checker's library (capture.py), for every
picture.

  python3 -m check.explain [--build DIR] [--data DIR] [--out DIR]

DIR of --build (build/ at the project's root by default) holds demo and
frame_capture.so and, built with the tests, tests/interpose.so (changes
put into the real demo for "Try it") and tests/readback.so (GL's own
matrices and texture levels). --data (data/ by default) holds the shaders
and pacific.jpg. The demo runs on an Xvfb of the command's own with Mesa's
software GL (llvmpipe), in scratch folders.

--out DIR (docs/ by default) receives how-the-picture-is-made.md and its
pictures in picture/. It must be missing, empty, or the page's own folder
(the project's docs/, or one that holds the page already): there the page and its pictures are
replaced, each file whole, and the pictures an earlier page named that
this one no longer has are removed; nothing else is touched. Running the
command again on the same machine changes no byte."""
import argparse
import io
import math
import os
import re
import shutil
import subprocess
import sys
import tempfile
from typing import NamedTuple

import numpy as np
from PIL import Image, ImageDraw, ImageFont

from . import capture, report
from .capture import Frame
from .checks import CHECKS, DEPTH_APART
from .frame import check_frame
from .results import Status, Tally
from .run import Run
from .scene import (CAMERA, PROJECT_TINT, PROJECTION, Photo, Scene, glu_size, gradient_quad, image_quad,
                    rotate, scale, tiled_quad, translate)

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PAGE = "how-the-picture-is-made.md"
PICTURES = "picture"
TITLE = "# How the picture is made: frame 30, step by step"
FRAME = 30
# What the renderer drew and what the checker said of it lies between these
# lines: where another renderer makes the page, all else must be the same.
DRAWN, END_DRAWN = "<!-- drawn: what this renderer drew and the checker said -->", "<!-- end drawn -->"
# A demo run is given this long to draw frame 30 and end.
RUN_SECONDS = 60
# Where the page's own steps and the model's functions reach a number two
# ways (a matrix, window coordinates), they may differ by float rounding:
# this much, far below the decimals the page shows.
SAME = 1e-9
# A quad's outline as drawn over a picture, the box's corners' labels, and
# the depth picture's colour for what hides an edge behind each quad.
OUTLINE = report.EXPECTED
BOX_LABEL = (0, 255, 0)
HIDDEN_BY = {"tiled quad": (255, 255, 255), "gradient quad": (255, 0, 255), "image quad": (255, 255, 0)}
HIDDEN_WORDS = {"tiled quad": "white", "gradient quad": "magenta", "image quad": "yellow"}
# Points along each box edge at which the depth test is followed.
EDGE_POINTS = 400
# The zooms: texels or pixels across a panel, and the enlargement.
ZOOM_TEXELS, ZOOM_K = 12, 16
PANEL = 192  # a texel panel's side, about, in picture pixels
COPIES_K = 3
LEVEL_LEAST = 32  # a mipmap level is shown at least this tall
GAP = 8
LABEL_OFF = 12  # a corner's label this many pixels off the corner
INK, PAPER = (255, 255, 255), (40, 40, 40)

# The calls that build each matrix, as src/demo.cpp makes them (each must
# appear there word for word), with the angle of frame 30.
LOOK_AT = "gluLookAt(0, 0, 600, 0, 0, 0, 0, 1, 0)"
PERSPECTIVE = "gluPerspective(45, 1.333, 1, 1000)"
IMAGE_SHIFT = "glTranslatef(static_cast<float>(-w / 2.0), static_cast<float>(-h / 2.0), 0)"


class Object(NamedTuple):
    """One object of the scene as the page follows it: its label letter, the
    calls that build its modelview and each one's matrix (4 x 4), the
    modelview, and its corners (n x 3, object units) in drawing order."""
    name: str
    letter: str
    calls: list
    modelview: np.ndarray
    corners: np.ndarray


def product(matrices):
    out = np.eye(4)
    for m in matrices:
        out = out @ m
    return out


def objects(angle, width, height):
    """The four objects at `angle` degrees with a photograph of width x
    height, their modelviews built call by call and held against the
    model's own."""
    tiled = tiled_quad(angle, PROJECT_TINT)
    gradient = gradient_quad(angle)
    image = image_quad(width, height)
    box_corners = []
    for _, a, b in Scene.box():
        for p in (a, b):
            if p not in box_corners:
                box_corners.append(p)
    out = [
        Object("tiled quad", "T", [(LOOK_AT, CAMERA), ("glTranslatef(0, 100, 100)", translate(0, 100, 100)),
                                   ("glRotatef(-angle, 0, 1, 0)", rotate(-angle, 0, 1, 0))],
               tiled.modelview, np.array([(x, y, 0) for x, y in tiled.corners], float)),
        Object("gradient quad", "G", [(LOOK_AT, CAMERA), ("glTranslatef(0, -100, 200)", translate(0, -100, 200)),
                                      ("glRotatef(angle, 1, 0, 0)", rotate(angle, 1, 0, 0)),
                                      ("glTranslatef(0, -50, 0)", translate(0, -50, 0))],
               gradient.modelview, np.array([(x, y, 0) for x, y in gradient.corners], float)),
        Object("image quad", "I", [(LOOK_AT, CAMERA),
                                   (IMAGE_SHIFT, translate(np.float32(-width / 2.0), np.float32(-height / 2.0), 0))],
               image.modelview, np.array([(x, y, 0) for x, y in image.corners], float)),
        Object("wire box", "B", [(LOOK_AT, CAMERA), ("glScalef(400, 300, 400)", scale(400, 300, 400))],
               Scene.BOX, np.array(box_corners, float)),
    ]
    for o in out:
        if not np.allclose(product(m for _, m in o.calls), o.modelview, rtol=0, atol=SAME):
            raise AssertionError(f"the {o.name}'s calls do not make the model's modelview")
    return out


def source_calls(source, objs):
    """The calls the page names that src/demo.cpp does not make: []."""
    return [c for c in [PERSPECTIVE] + [c for o in objs for c, _ in o.calls] if c not in source]


# ------------------------------------------------------------- the numbers


def num(v, places=2):
    """A number as the page shows it; never "-0.00"."""
    text = f"{v:.{places}f}"
    return text[1:] if re.fullmatch(r"-0\.0*", text) else text


def vec(values, places=2):
    return "(" + ", ".join(num(v, places) for v in values) + ")"


class Corner(NamedTuple):
    """One corner through the pipeline: object, eye and clip coordinates,
    normalised device coordinates and window x, y and depth."""
    label: str
    point: np.ndarray
    eye: np.ndarray
    clip: np.ndarray
    ndc: np.ndarray
    window: np.ndarray


def corners(scene, o):
    """The object's corners through the model's matrices; the window
    coordinates are the model's own (Scene.window), held against the steps."""
    points = np.column_stack([o.corners, np.ones(len(o.corners))])
    eye = points @ o.modelview.T
    clip = eye @ PROJECTION.T
    ndc = clip[:, :3] / clip[:, 3:]
    window = scene.window(o.modelview, o.corners)
    if not np.allclose((ndc + 1) / 2 * [scene.w, scene.h, 1], window, rtol=0, atol=SAME):
        raise AssertionError(f"the {o.name}'s corners: the steps do not make the model's window coordinates")
    return [Corner(f"{o.letter}{i}", *rows) for i, rows in enumerate(zip(o.corners, eye, clip, ndc, window), 1)]


def matrix_block(named, places=4):
    """Matrices side by side in a code block: [(title, 4 x 4)]."""
    cells = [[num(v, places) for v in m.ravel()] for _, m in named]
    width = max(len(c) for m in cells for c in m)
    columns = [[title] + ["  ".join(c.rjust(width) for c in m[r * 4:r * 4 + 4]) for r in range(4)]
               for (title, _), m in zip(named, cells)]
    span = [max(len(line) for line in col) for col in columns]
    lines = ["    ".join(col[i].ljust(n) for col, n in zip(columns, span)).rstrip() for i in range(5)]
    return ["```", *lines, "```"]


def corner_table(cs):
    rows = ["| corner | object (x, y, z) | eye (x, y, z) | clip (x, y, z, w) | NDC (x, y) | window (x, y) | depth |",
            "|---|---|---|---|---|---|---|"]
    for c in cs:
        rows.append(f"| {c.label} | {vec(c.point)} | {vec(c.eye[:3])} | {vec(c.clip)} | {vec(c.ndc[:2])} | "
                    f"{vec(c.window[:2])} | {num(c.window[2], 5)} |")
    return rows


def depth_at(scene, distance):
    """The window depth of a point `distance` units in front of the eye."""
    return float(scene.window(np.eye(4), [(0, 0, -distance)])[0, 2])


# ---------------------------------------------------------------- textures


class Lookup(NamedTuple):
    """A texture lookup at one pixel: the pixel (column, row from the
    bottom), the texture coordinates at its centre, how many texels of
    level 0 one pixel step moves across and up, GL's level of detail
    (lambda, log2 of the longer step), the levels it blends, and the box
    (s0, s1, t0, t1) that the checker's footprint holds every texel in."""
    pixel: tuple
    s: float
    t: float
    across: float
    up: float
    lod: float
    levels: tuple
    box: tuple


def lookup(scene, quad, point):
    """The lookup at the pixel under the quad's object point (x, y)."""
    wx, wy, _ = scene.window(quad.modelview, [(point[0], point[1], 0)])[0]
    px, py = int(math.floor(wx)), int(math.floor(wy))
    x, y = np.array([px + 0.5]), np.array([py + 0.5])
    (s, sx, _, sy, _), (t, tx, _, ty, _) = scene.texture_coordinates(quad, x, y)
    w0, h0 = glu_size(scene.texture.width), glu_size(scene.texture.height)
    # GL's scale factor: the longer of the pixel's steps across and up, in texels of level 0.
    across = math.hypot((sx - s)[0] * w0, (tx - t)[0] * h0)
    up = math.hypot((sy - s)[0] * w0, (ty - t)[0] * h0)
    lod = math.log2(max(across, up))
    top = int(round(math.log2(max(w0, h0))))
    first = min(max(int(math.floor(lod)), 0), top)
    levels = (first,) if lod <= 0 or first == top else (first, first + 1)
    _, _, sc, tc, hs, ht = scene.lookup(quad, x, y)
    return Lookup((px, py), float(s[0]), float(t[0]), across, up, lod, levels,
                  (float(sc[0] - hs[0]), float(sc[0] + hs[0]), float(tc[0] - ht[0]), float(tc[0] + ht[0])))


def bilinear(u, v):
    """The 2 x 2 texels that bilinear filtering blends at texel coordinates
    (u, v) of a level: the first column and row (i0, j0), GL's floor(u - 1/2)."""
    return int(math.floor(u - 0.5)), int(math.floor(v - 0.5))


# ---------------------------------------------------------------- pictures


# The pictures' lettering: a font that scripts/install-deps installs, found by
# Pillow under the system's font folders.
FONT, FONT_SIZE = "DejaVuSansMono-Bold.ttf", 12


def font():
    try:
        return ImageFont.truetype(FONT, FONT_SIZE)
    except OSError:
        raise Missing(f"no {FONT} among the system's fonts: scripts/install-deps test installs it") from None


def label(pen, xy, text, colour):
    """A label with a dark box behind it, centred on xy."""
    x0, y0, x1, y1 = pen.textbbox((0, 0), text, font=font())
    w, h = x1 - x0, y1 - y0
    x, y = int(round(xy[0] - w / 2)), int(round(xy[1] - h / 2))
    pen.rectangle([x - 2, y - 2, x + w + 1, y + h + 1], fill=(0, 0, 0, 200))
    pen.text((x - x0, y - y0), text, fill=colour + (255,), font=font())


def png(image):
    """PNG bytes with nothing but the pixels: no date, no text chunk."""
    buffer = io.BytesIO()
    image.convert("RGB").save(buffer, "PNG", compress_level=9)
    return buffer.getvalue()


def numbered(frame, scene, objs):
    """Frame 30 with the quads' outlines and the box's edges drawn over it and
    every corner labelled as in the tables."""
    image = Image.fromarray(frame.pixels.astype(np.uint8)).convert("RGBA")
    report.draw(image, report.outlines(scene), OUTLINE, alpha=report.OVERLAY_ALPHA)
    layer = Image.new("RGBA", image.size, (0, 0, 0, 0))
    pen = ImageDraw.Draw(layer)
    for o in objs:
        cs = corners(scene, o)
        centre = np.mean([c.window[:2] for c in cs], axis=0)
        for c in cs:
            # Outward from the object's middle; the box's back corners, which
            # fall by the image quad's, inward.
            d = (c.window[:2] - centre) * (-1 if o.letter == "B" and c.point[2] < 0 else 1)
            p = c.window[:2] + d / max(np.hypot(*d), 1e-9) * LABEL_OFF
            label(pen, report.image_point(scene, p), c.label, BOX_LABEL if o.letter == "B" else OUTLINE)
    image.alpha_composite(layer)
    return image


def hstack(images, background=PAPER):
    out = Image.new("RGB", (sum(i.width for i in images) + GAP * (len(images) - 1), max(i.height for i in images)),
                    background)
    x = 0
    for i in images:
        out.paste(i.convert("RGB"), (x, 0))
        x += i.width + GAP
    return out


def captioned(image, text):
    """The image with a line of text under it."""
    pen = ImageDraw.Draw(image)
    x0, y0, x1, y1 = pen.textbbox((0, 0), text, font=font())
    out = Image.new("RGB", (max(image.width, x1 - x0 + 4), image.height + y1 - y0 + 6), PAPER)
    out.paste(image.convert("RGB"), (0, 0))
    ImageDraw.Draw(out).text((2 - x0, image.height + 3 - y0), text, fill=INK, font=font())
    return out


def level_strip(levels):
    """The mipmap levels side by side, each at least LEVEL_LEAST tall, named."""
    shown = []
    for k, level in enumerate(levels):
        n = max(1, LEVEL_LEAST // level.height)
        shown.append(captioned(level.resize((level.width * n, level.height * n), Image.NEAREST),
                               f"{k}: {level.width}x{level.height}"))
    return hstack(shown)


def texel_panel(level, u, v, box, title):
    """Texels of one level around the checker's footprint box (u0, u1, v0,
    v1: texel units of this level, from the bottom left), enlarged, the box
    dashed; the 2 x 2 texels that bilinear filtering blends at (u, v)
    outlined, the lookup a dot. The level repeats, as the texture does."""
    nx = int(min(max(ZOOM_TEXELS, math.ceil(box[1] - box[0]) + 4), level.width))
    ny = int(min(max(ZOOM_TEXELS, math.ceil(box[3] - box[2]) + 4), level.height))
    k = max(2, PANEL // max(nx, ny))
    c0, r0 = int(math.floor((box[0] + box[1]) / 2)) - nx // 2, int(math.floor((box[2] + box[3]) / 2)) - ny // 2
    texels = np.asarray(level)[::-1]  # rows from the bottom, as t runs
    crop = texels.take(range(r0, r0 + ny), axis=0, mode="wrap").take(range(c0, c0 + nx), axis=1, mode="wrap")
    image = Image.fromarray(np.ascontiguousarray(crop[::-1])).resize((nx * k, ny * k), Image.NEAREST).convert("RGBA")
    at = lambda x, y: ((x - c0) * k, (r0 + ny - y) * k)
    (bx0, by0), (bx1, by1) = at(box[0], box[3]), at(box[1], box[2])
    report.draw(image, ([[(bx0, by0), (bx1, by0), (bx1, by1), (bx0, by1)]], []), report.MISREAD, width=2,
                dash=report.DASH)
    i0, j0 = bilinear(u, v)
    pen = ImageDraw.Draw(image)
    x0, y0 = at(i0, j0 + 2)
    pen.rectangle([x0, y0, x0 + 2 * k - 1, y0 + 2 * k - 1], outline=OUTLINE + (255,), width=2)
    dx, dy = at(u, v)
    pen.ellipse([dx - 4, dy - 4, dx + 4, dy + 4], fill=report.MARK + (255,), outline=(0, 0, 0, 255))
    return captioned(image, title)


def pixel_panel(frame, pixel):
    """The frame around a pixel (column, row from the bottom), enlarged, the
    pixel outlined."""
    n = ZOOM_TEXELS
    col, row = pixel[0], frame.h - 1 - pixel[1]
    c0, r0 = col - n // 2, row - n // 2
    crop = frame.pixels[max(r0, 0):r0 + n, max(c0, 0):c0 + n].astype(np.uint8)
    image = Image.fromarray(crop).resize((crop.shape[1] * ZOOM_K, crop.shape[0] * ZOOM_K), Image.NEAREST)
    x, y = (col - max(c0, 0)) * ZOOM_K, (row - max(r0, 0)) * ZOOM_K
    ImageDraw.Draw(image).rectangle([x, y, x + ZOOM_K - 1, y + ZOOM_K - 1], outline=report.MARK, width=2)
    return captioned(image, f"frame 30 at pixel ({pixel[0]}, {pixel[1]})")


def footprint_picture(frame, levels, look):
    """The pixel, and the texels of each level its lookup blends."""
    panels = [pixel_panel(frame, look.pixel)]
    for k in look.levels:
        w, h = levels[k].width, levels[k].height
        # Texel units of this level, in the copy of the photograph that the pixel shows.
        shift_s, shift_t = math.floor(look.s), math.floor(look.t)
        box = ((look.box[0] - shift_s) * w, (look.box[1] - shift_s) * w, (look.box[2] - shift_t) * h,
               (look.box[3] - shift_t) * h)
        panels.append(texel_panel(levels[k], (look.s - shift_s) * w, (look.t - shift_t) * h, box,
                                  f"level {k}: {w}x{h} texels"))
    return hstack(panels)


def copies_picture(frame, scene, quad):
    """The tiled quad, enlarged, with the lines where its copies of the
    photograph meet (s = 1 and t = 1) and each copy named."""
    p = scene.corners(quad)
    c0, c1 = int(p[:, 0].min()) - 6, int(math.ceil(p[:, 0].max())) + 6
    r0, r1 = int(scene.h - p[:, 1].max()) - 6, int(math.ceil(scene.h - p[:, 1].min())) + 6
    crop = frame.pixels[max(r0, 0):r1, max(c0, 0):c1].astype(np.uint8)
    image = Image.fromarray(crop).resize((crop.shape[1] * COPIES_K, crop.shape[0] * COPIES_K), Image.NEAREST)
    image = image.convert("RGBA")
    place = lambda q: ((q[0] - max(c0, 0)) * COPIES_K, (scene.h - q[1] - max(r0, 0)) * COPIES_K)
    seams = [scene.window(quad.modelview, [a, b])[:, :2] for a, b in (((0, -50, 0), (0, 50, 0)),
                                                                      ((-50, 0, 0), (50, 0, 0)))]
    report.draw(image, ([], [[place(a), place(b)] for a, b in seams]), OUTLINE, width=2)
    report.draw(image, ([[place(q) for q in p]], []), OUTLINE, width=1)
    pen = ImageDraw.Draw(image)
    for (x, y), name in (((-25, -25), "s 0-1, t 0-1"), ((25, -25), "s 1-2, t 0-1"), ((-25, 25), "s 0-1, t 1-2"),
                         ((25, 25), "s 1-2, t 1-2")):
        label(pen, place(scene.window(quad.modelview, [(x, y, 0)])[0]), name, INK)
    return image


class Hidden(NamedTuple):
    """A box edge at frame 30: its name, the share of it in view that the
    depth test hides, by quad, and its hidden stretches (window points)."""
    name: str
    shares: dict
    stretches: list


def hidden_edges(scene):
    """Each box edge followed point by point: where a quad covers the point
    nearer than the edge (window depth), the depth test hides it."""
    out = []
    t = (np.arange(EDGE_POINTS) + 0.5) / EDGE_POINTS
    for name, a, b in scene.box():
        points = np.outer(1 - t, a) + np.outer(t, b)
        x, y, z = scene.window(scene.BOX, points).T
        seen = (x >= 0) & (x < scene.w) & (y >= 0) & (y < scene.h)
        names = list(scene.quads)
        depths = []
        for q in scene.quads.values():
            depth = scene.hits(q, x, y)[2]
            with np.errstate(invalid="ignore"):
                hides = (scene.inside(q, x, y) >= 0) & (depth < z - DEPTH_APART) & seen
            depths.append(np.where(hides, depth, np.inf))
        depths = np.array(depths)
        by = np.where(np.isfinite(depths.min(axis=0)), np.array(names, object)[depths.argmin(axis=0)], None)
        shares = {n: float((by == n).sum()) / max(int(seen.sum()), 1) for n in scene.quads if (by == n).any()}
        stretches = []
        for n in shares:
            k = by == n
            edges = np.flatnonzero(np.diff(np.concatenate(([0], k.astype(int), [0]))))
            for i0, i1 in zip(edges[::2], edges[1::2]):
                stretches.append((n, np.column_stack([x[i0:i1], y[i0:i1]])))
        out.append(Hidden(name, shares, stretches))
    return out


def depth_picture(frame, scene, hidden):
    """Frame 30 with each hidden stretch of the box drawn dashed in the colour
    of the quad that hides it."""
    image = Image.fromarray(frame.pixels.astype(np.uint8)).convert("RGBA")
    for e in hidden:
        for name, points in e.stretches:
            line = [report.image_point(scene, points[0]), report.image_point(scene, points[-1])]
            report.draw(image, ([], [line]), HIDDEN_BY[name], width=2, dash=report.DASH)
    return image


# ------------------------------------------------------------------- runs


class Runner:
    """The real demo on an Xvfb of the command's own, one scratch folder a run."""

    def __init__(self, build, data, scratch):
        self.demo = os.path.join(build, "demo")
        self.capture = os.path.join(build, "frame_capture.so")
        self.interpose = os.path.join(build, "tests", "interpose.so")
        self.readback = os.path.join(build, "tests", "readback.so")
        self.data, self.scratch, self.xvfb = data, scratch, None
        for path in (self.demo, self.capture, self.interpose, self.readback):
            if not os.path.exists(path):
                raise Missing(f"{path} is missing: build with the tests "
                              "(cmake -S . -B build -DBUILD_TESTING=ON && cmake --build build)")

    def start(self):
        read, write = os.pipe()
        try:
            self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24",
                                          "-nolisten", "tcp"], pass_fds=(write,), stdin=subprocess.DEVNULL,
                                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        finally:
            os.close(write)
        with os.fdopen(read) as f:
            display = f.readline().strip()
        if not display:
            raise Missing("Xvfb did not start")
        # What a user's environment may set that would change the picture.
        keep = {k: v for k, v in os.environ.items()
                if not k.startswith(("LD_PRELOAD", "CAPTURE_", "FAULT", "FORCE_", "READBACK_", "GALLIUM_", "MESA_",
                                     "LIBGL_", "__GL"))}
        self.base = {**keep, "DISPLAY": f":{display}", "LIBGL_ALWAYS_SOFTWARE": "1", "GALLIUM_DRIVER": "llvmpipe",
                     "MESA_SHADER_CACHE_DISABLE": "true"}

    def stop(self):
        if self.xvfb is not None:
            self.xvfb.terminate()
            self.xvfb.wait()
            self.xvfb = None

    def folder(self, name, photograph=None, shader=None):
        """A scratch folder with the shaders (one of them replaced: (file,
        text)) and the photograph (None: the project's; else a test one)."""
        d = os.path.join(self.scratch, name)
        os.makedirs(d)
        for f in ("vertex1.glsl", "fragment1.glsl", "vertex2.glsl", "fragment2.glsl"):
            shutil.copy(os.path.join(self.data, f), d)
        if shader:
            with open(os.path.join(d, shader[0]), "w") as f:
                f.write(shader[1])
        if photograph is None:
            shutil.copy(os.path.join(self.data, "pacific.jpg"), d)
            return d, None
        return d, Run(None, None, None, None).photograph(d, photograph)

    def frame(self, folder, env=None, preload=()):
        """Runs the demo in the folder to frame 30: (Frame, capture.Report)."""
        e = capture.environment(folder, self.capture, [FRAME], end=FRAME, preload=" ".join(preload),
                                base={**self.base, **(env or {})})
        done = subprocess.run([self.demo], cwd=folder, env=e, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=RUN_SECONDS)
        path = os.path.join(folder, capture.frame_name(FRAME))
        notes = capture.report(folder, done.stdout.decode(errors="replace"))
        if done.returncode != 0 or not os.path.exists(path):
            tail = done.stdout.decode(errors="replace").strip().splitlines()[-3:]
            raise Missing(f"the demo drew no frame {FRAME} (status {done.returncode}): {' '.join(tail)}")
        return Frame(path), notes


class Missing(Exception):
    """What the command needs and could not have: said in one line."""


def state(path):
    """readback.c's records: [(mode, modelview, projection, viewport,
    [(object point, gluProject's window point)])], matrices 4 x 4."""
    out = []
    with open(path) as f:
        for line in f:
            key, *values = line.split()
            if key == "begin":
                out.append([int(values[0]), None, None, None, []])
            elif key in ("modelview", "projection"):
                out[-1][1 if key == "modelview" else 2] = np.array(values, float).reshape(4, 4).T
            elif key == "viewport":
                out[-1][3] = tuple(int(v) for v in values)
            elif key == "vertex":
                v = np.array(values, float)
                out[-1][4].append((v[:3], v[3:]))
    return out


def agreement(objs, records, scene):
    """How far the model's matrices lie from GL's own at each glBegin of frame
    30, and the corners' window points from gluProject's: (largest matrix
    difference, largest window difference in pixels)."""
    if len(records) != len(objs):
        raise Missing(f"GL drew {len(records)} primitives at frame {FRAME}, the page follows {len(objs)}")
    matrices, window = 0.0, 0.0
    for o, (_, modelview, projection, _, vertices) in zip(objs, records):
        matrices = max(matrices, float(abs(modelview - o.modelview).max()), float(abs(projection - PROJECTION).max()))
        points = np.array([p for p, _ in vertices])
        ours = scene.window(o.modelview, points)
        window = max(window, float(abs(ours[:, :2] - np.array([w for _, w in vertices])[:, :2]).max()))
    return matrices, window


def checker_lines(frame, scene, label="project shaders"):
    """The lines scripts/check prints of frame 30 judged (frame.check_frame),
    as it prints them for a turn: [results.Outcome] in the checks' order."""
    results = {r.check: r for r in check_frame(frame, scene)}
    out = []
    for check in CHECKS:
        t = Tally()
        if check in results:
            t.add(FRAME, results[check])
        out.append(t.outcome(label, check, [FRAME], {FRAME: frame}, lambda f: scene))
    return out


class Change(NamedTuple):
    """A change a learner can make: a name, the file and its line before and
    after, what it looks like, and how the command makes it real without
    rebuilding the demo (an interpose.c FAULT, or a shader replaced)."""
    name: str
    file: str
    before: str
    after: str
    looks: str
    fault: str = ""


CHANGES = (
    Change("a sign in a rotation", "src/demo.cpp", "glRotatef(-angle, 0, 1, 0);", "glRotatef(angle, 0, 1, 0);",
           "the tiled quad spins the other way: at frame 30 its left edge is the nearer and the taller one, "
           "where the right edge should be",
           "other-spin"),
    Change("a texture coordinate", "src/demo.cpp", "tiled_st[4][2] = {{0, 0}, {2, 0}, {2, 2}, {0, 2}};",
           "tiled_st[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};",
           "the tiled quad shows the photograph once, not 2 x 2, larger and sharper: a pixel spans half as "
           "many texels each way, so GL reads one level finer", "tiled-once"),
    Change("a line in a shader", "data/fragment2.glsl", "gl_FragColor = texture2D(image, texture_coordinate) * colour;",
           "gl_FragColor = texture2D(image, texture_coordinate);",
           "the tiled quad loses its orange tint: the texture program no longer multiplies the texel by the "
           "vertex colour (1.0, 0.5, 0.2); the image quad, whose vertex colour is white, looks the same"),
)


# ------------------------------------------------------------------- page


def shader_block(path):
    with open(path) as f:
        return ["```glsl", *f.read().rstrip("\n").splitlines(), "```"]


def bare(text):
    """GLSL without its comments and blank lines."""
    return [l.strip() for l in re.sub(r"//[^\n]*", "", text).splitlines() if l.strip()]


def page(p):
    """The page's lines from the figures `p` (a dict made by make())."""
    objs, scene, cs = p["objects"], p["scene"], p["corners"]
    tiled, gradient, image, box = objs
    notes = p["notes"]
    w, h = p["photo size"]
    w0, h0 = glu_size(w), glu_size(h)
    out = [TITLE, "",
           "Made by `python3 -m check.explain`, run from the project's root once `build/` holds the demo and "
           "the tests' preload libraries (`cmake -S . -B build -DBUILD_TESTING=ON && cmake --build build`). "
           "Every number below comes from the checker's model of the scene (`check/scene.py`), and every picture "
           "from the real demo, captured by the checker's library as drawn; running the command again changes "
           "nothing.", "",
           DRAWN,
           f"Drawn by {notes.renderer}, {notes.vendor}, OpenGL {notes.version}, on an Xvfb of the command's own.",
           END_DRAWN, "",
           "The demo draws frame N at N degrees: at frame 30 the tiled quad has turned 30 degrees about the "
           "vertical axis and the gradient quad 30 degrees about the horizontal one.", ""]

    out += ["## 1. The matrices", "",
            f"`main()` sets the projection once: `{PERSPECTIVE}`, a field of view of 45 degrees up and down, "
            "an aspect of 1.333 (640 / 480), and everything between 1 and 1000 units in front of the eye. "
            f"`display_CB()` starts each frame from `{LOOK_AT}`: the eye at z = 600 looking at the origin. "
            "Matrices here have four decimals; GL applies them to a column (x, y, z, 1) on their right.", ""]
    out += matrix_block([("projection", PROJECTION), ("camera", CAMERA)])
    f = PROJECTION[1, 1]
    out += ["", f"The projection's {num(f, 4)} is 1 / tan(22.5 degrees): a point 1 unit up at a distance of "
            f"{num(f, 4)} lands on the top edge of the window; for x it is divided by the aspect as well, "
            f"{num(PROJECTION[0, 0], 4)}. Its last row copies the eye's -z into w: dividing by w later is what "
            "makes farther things smaller. The camera only shifts everything 600 units along -z, so that the "
            "origin lies 600 units in front of the eye.", "",
            "Each object starts from the camera (`glPushMatrix`), and each call multiplies the matrix on the "
            "right, so the last call is the first to act on a vertex. At frame 30, `angle` is 30:", ""]
    for o in objs:
        size = f", with w × h = {w} × {h}, the photograph's size" if o is image else ""
        out += [f"**{o.name.capitalize()}**: " + ", then ".join(f"`{c}`" for c, _ in o.calls[1:]) + size + ".", ""]
        out += matrix_block([(c.split("(")[0], m) for c, m in o.calls[1:]] + [("modelview", o.modelview)])
        out.append("")
    out += ["A test (`explain.matrices`) reads the demo's own matrices back from GL at frame 30, "
            "at each `glBegin`, and holds these against them.", "",
            DRAWN,
            f"At this run GL's matrices and these differ by at most {p['agree'][0]:.1e}, and `gluProject` of "
            f"GL's own matrices puts every corner within {p['agree'][1]:.1e} pixels of the tables below.",
            END_DRAWN, ""]

    t_eye = [c.eye[2] for c in cs["tiled quad"]]
    left_h = cs["tiled quad"][3].window[1] - cs["tiled quad"][0].window[1]
    right_h = cs["tiled quad"][2].window[1] - cs["tiled quad"][1].window[1]
    out += ["## 2. Corners to pixels", "",
            "A corner goes from object coordinates through the modelview to eye coordinates (the eye at the "
            "origin, looking down -z), through the projection to clip coordinates, is divided by its w to "
            "normalised device coordinates (-1 to 1 across the window), and the viewport (0, 0, 640, 480) "
            "scales those to window pixels, x from the left and y from the bottom. Corners are numbered in "
            "the order the demo gives them (the box's in the order its edges first reach them); two "
            "decimals, depth five.", ""]
    for o in objs:
        out += [f"**{o.name.capitalize()}**", ""] + corner_table(cs[o.name]) + [""]
    out += [f"Why the tiled quad is a trapezoid: turned -30 degrees about y, its right edge comes nearer "
            f"(eye z {num(t_eye[1])}) and its left edge goes farther ({num(t_eye[0])}). Its w is the distance, "
            f"so after the division the right edge stands {num(right_h)} pixels tall and the left "
            f"{num(left_h)}, though both are 100 units.", "",
            "How the depth is kept: the window depth is (NDC z + 1) / 2, and GL interpolates it across each "
            "triangle; every pixel of the depth buffer keeps the nearest depth drawn there so far (cleared "
            "to 1 each frame), and a fragment whose depth is not less than what the pixel holds is dropped "
            "(`glEnable(GL_DEPTH_TEST)`, GL's test `GL_LESS`). With the near plane at 1 unit most of the "
            f"range goes to what is close: a point 2 units from the eye already has depth "
            f"{num(depth_at(scene, 2), 5)}, one at 600 units {num(depth_at(scene, 600), 5)}, which is why the "
            "table needs five decimals.", ""]

    out += ["## 3. The picture", "",
            "Frame 30 as the demo drew it, with the outlines that the tables give drawn over it in cyan and "
            "each corner labelled:", "",
            "![Frame 30 with every outline and corner](picture/frame-30.png)", ""]

    t_look, i_look = p["lookups"]
    out += ["## 4. The texture", "",
            f"The photograph, `pacific.jpg`, is {w} × {h}:", "", "![The photograph](picture/photograph.png)", "",
            f"`gluBuild2DMipmaps` scales a side that is not a power of two to the nearest one "
            f"(a side of 3 × 2^k goes up): {w} to {w0} and {h} to {h0}, so level 0 is {w0} × {h0}; GL before "
            "2.0 could only hold powers of two, and GLU still makes them. Each further level halves each "
            "side, every texel the mean of four below it, down to 1 × 1. GL's own levels, read back from "
            "the demo at frame 30:", "", "![Every mipmap level](picture/levels.png)", ""]
    for look, name, quad in ((t_look, "tiled quad", tiled), (i_look, "image quad", image)):
        blend = (f"levels {look.levels[0]} and {look.levels[1]}, weighed {num(1 - (look.lod - look.levels[0]))} and "
                 f"{num(look.lod - look.levels[0])}") if len(look.levels) > 1 else f"level {look.levels[0]} alone"
        out += [f"**A pixel of the {name}**, ({look.pixel[0]}, {look.pixel[1]}) from the bottom left: its centre "
                f"has texture coordinates ({num(look.s, 3)}, {num(look.t, 3)}). One pixel to the right moves "
                f"{num(look.across)} texels of level 0, one up {num(look.up)}; GL's level of detail is log2 "
                f"of the longer, {num(look.lod)}, and `GL_LINEAR_MIPMAP_LINEAR` blends {blend}, each by the "
                f"2 × 2 texels around the point (outlined). A driver may choose levels a little otherwise; the "
                f"checker's footprint, dashed, holds every texel any of them may read: s "
                f"from {num(look.box[0], 3)} to {num(look.box[1], 3)}, t from {num(look.box[2], 3)} to "
                f"{num(look.box[3], 3)}.", "",
                f"![The {name}'s pixel and the texels it reads](picture/footprint-{name.split()[0]}.png)", ""]
    out += [f"That is why the tiled quad's copies are blurrier than the flat photograph: each of its pixels "
            f"spans {num(max(t_look.across, t_look.up))} texels and reads level {t_look.levels[0]} or coarser, "
            f"where a pixel of the image quad spans {num(max(i_look.across, i_look.up))} and reads level "
            f"{i_look.levels[0]}.", "",
            "The tiled quad's texture coordinates run from 0 to 2, and the texture repeats (`GL_REPEAT`): "
            "s = 1.2 reads where s = 0.2 does, so the photograph shows 2 × 2 times. The copies meet on the "
            "quad's centre lines, where s or t is 1; there the filter blends the photograph's right edge "
            "with its left, and its top with its bottom:", "",
            "![Where the copies meet on the tiled quad](picture/copies.png)", ""]

    hidden = p["hidden"]
    rows = ["| edge | hidden | behind |", "|---|---|---|"]
    for e in hidden:
        if e.shares:
            rows.append(f"| {e.name} | {num(100 * sum(e.shares.values()), 0)} % | " + ", ".join(
                f"the {n} ({num(100 * s, 0)} %)" for n, s in sorted(e.shares.items(), key=lambda x: -x[1])) + " |")
    shown = [e.name for e in hidden if not e.shares]
    out += ["## 5. The depth test", "",
            "The box is drawn last, after the three quads, so its edges meet a depth buffer that already "
            "holds them. Where a quad lies nearer than an edge, the edge's fragments fail the depth test. "
            "At frame 30, followed point by point along each edge (the share of the edge in the window):", ""]
    back, photo_at = -cs["wire box"][-1].eye[2], -cs["image quad"][0].eye[2]
    out += rows + ["", f"The rest ({', '.join(shown)}) are not hidden. The box's back edges lie {num(back, 0)} units "
                   f"from the eye, behind the photograph at {num(photo_at, 0)}, and fall within its outline: all four "
                   "vanish, behind "
                   "the photograph or a quad in front of it. Dashed over the frame in the colour of what hides "
                   "them: " + "; ".join(f"{HIDDEN_WORDS[n]} behind the {n}" for n in HIDDEN_BY) + ".", "",
                   "![The box's hidden edges](picture/depth.png)", ""]

    data, plain = p["data"], os.path.join(ROOT, "check", "plain")
    with open(os.path.join(data, "vertex1.glsl")) as f1, open(os.path.join(plain, "vertex1.glsl")) as f2:
        same_flat = bare(f1.read()) == bare(f2.read())
    with open(os.path.join(data, "fragment1.glsl")) as f1, open(os.path.join(plain, "fragment1.glsl")) as f2:
        same_flat = same_flat and bare(f1.read()) == bare(f2.read())
    out += ["## 6. The two programs", "",
            "The flat program (`vertex1.glsl`, `fragment1.glsl`) draws the gradient quad. Its vertex shader "
            "runs once a corner: it passes the corner's colour (`gl_Color`, from `glColor3f`) on as a varying "
            "and puts the corner in clip coordinates, `gl_ModelViewProjectionMatrix * gl_Vertex`: the "
            "projection times the modelview of section 1, times the position from `glVertex3d`. GL divides "
            "by w and applies the viewport itself. Its fragment shader runs once a pixel, with the colour "
            "interpolated across the triangle, and writes it out:", ""]
    out += shader_block(os.path.join(data, "vertex1.glsl")) + [""] + shader_block(os.path.join(data, "fragment1.glsl"))
    out += ["", "The texture program (`vertex2.glsl`, `fragment2.glsl`) draws the tiled and the image quad. "
            "The attribute `vertex_texture_coordinate` comes in per corner: the demo looks its location up by "
            "name and gives it with `glVertexAttrib2fv` before each `glVertex3d`. The vertex shader hands it "
            "on, with the colour, as varyings; the fragment shader reads the texture through the sampler "
            "`image`, which the demo sets to 0, the texture unit where `init_texture` bound the photograph, "
            "and multiplies the texel by the colour: orange (1.0, 0.5, 0.2) on the tiled quad, white on the "
            "image quad:", ""]
    out += shader_block(os.path.join(data, "vertex2.glsl")) + [""] + shader_block(os.path.join(data, "fragment2.glsl"))
    out += ["", "The checker also runs the demo with the plainest pair (`check/plain/`), so that a fault "
            "cannot hide behind a shader. " + ("Its flat program is the same, comments aside. " if same_flat else "")
            + "Its texture program leaves the colour out: the texel alone, so the tiled quad shows the "
            "photograph untinted:", ""]
    out += shader_block(os.path.join(plain, "vertex2.glsl")) + [""]
    out += shader_block(os.path.join(plain, "fragment2.glsl"))
    out.append("")

    out += ["## 7. Try it", "",
            "Three changes to make, each shown here as the demo draws it at frame 30 and as `scripts/check` "
            "judges it. `scripts/check` shows the demo a test photograph of flat cells (a white frame around "
            "red, green, blue and white quadrants), since it judges a photograph's colours only where it knows "
            "them; so do these runs. Each change is made real without rebuilding the demo: the shader by a "
            "changed copy, the others by `tests/check/interpose.c` (`FAULT=...`) under the real demo. The "
            "lines are the checker's own judgement of frame 30 (`check_frame`), printed as `scripts/check` "
            "prints them; over a whole turn the same lines name every frame that fails.", "",
            DRAWN, "Unchanged, every check passes:", "", "```"]
    out += [v.text() for v in p["unchanged"]] + ["```", END_DRAWN, ""]
    for i, (c, lines) in enumerate(p["changes"], 1):
        how = f"`FAULT={c.fault}`" if c.fault else f"a changed copy of `{os.path.basename(c.file)}`"
        out += [f"**{i}. {c.name.capitalize()}**, in `{c.file}` ({how}):", "", "```diff", f"- {c.before}",
                f"+ {c.after}", "```", "", f"What it looks like: {c.looks}.", "", DRAWN,
                f"![Try it: {c.name}](picture/try-{i}.png)", "",
                "The checker's lines that do not pass (the checker's picture of the first: the cyan outline "
                "where the scene puts each object, magenta where the frame disagrees, dashed yellow the "
                "misreading that fits, where one does):", "", "```"]
        out += [v.text() for v in lines if v.status is not Status.OK]
        out += ["```", "", f"The other {sum(v.status is Status.OK for v in lines)} checks pass.", END_DRAWN, ""]
    return out


# ------------------------------------------------------------------ make


def make(runner, data):
    """Runs the demo, computes the figures; returns (the page's text,
    {picture name: PNG bytes})."""
    with open(os.path.join(ROOT, "src", "demo.cpp")) as f:
        source = f.read()
    pictures = {}
    photo_image = Image.open(os.path.join(data, "pacific.jpg")).convert("RGB")
    w, h = photo_image.size
    photo = Photo(w, h, [], [], [[(128, 128, 128)]])  # sizes the image quad; its colours are not asked
    scene = Scene(FRAME, photo, PROJECT_TINT)
    objs = objects(FRAME, w, h)
    missing = source_calls(source, objs)
    if missing:
        raise Missing(f"src/demo.cpp no longer makes {', '.join(missing)}: the page's model is out of date")
    for c in CHANGES:
        with open(os.path.join(ROOT, c.file)) as f:
            if c.before not in f.read():
                raise Missing(f"{c.file} no longer holds {c.before!r}, the line that 'Try it' changes")

    folder, _ = runner.folder("pacific")
    levels_dir = os.path.join(folder, "levels")
    os.makedirs(levels_dir)
    frame, notes = runner.frame(folder, {"READBACK_OUT": os.path.join(folder, "state.txt"),
                                         "READBACK_TEXTURE": levels_dir}, [runner.readback])
    records = state(os.path.join(folder, "state.txt"))
    levels = []
    while os.path.exists(os.path.join(levels_dir, f"level-{len(levels)}.ppm")):
        with Image.open(os.path.join(levels_dir, f"level-{len(levels)}.ppm")) as level:
            levels.append(level.convert("RGB"))
    w0, h0 = glu_size(w), glu_size(h)
    want = [(max(1, w0 >> k), max(1, h0 >> k)) for k in range(int(round(math.log2(max(w0, h0)))) + 1)]
    if [l.size for l in levels] != want:
        raise Missing(f"GL holds levels of {[l.size for l in levels]}, the model says {want}")

    pictures["frame-30.png"] = png(numbered(frame, scene, objs))
    pictures["photograph.png"] = png(photo_image)
    pictures["levels.png"] = png(level_strip(levels))
    # A pixel in the middle of a copy on the tiled quad, and one on the image
    # quad where the photograph changes fast (its horizon).
    looks = (lookup(scene, scene.quads["tiled quad"], (-25, 25)),
             lookup(scene, scene.quads["image quad"], (w / 4, h * 0.45)))
    for look, name in zip(looks, ("tiled", "image")):
        pictures[f"footprint-{name}.png"] = png(footprint_picture(frame, levels, look))
    pictures["copies.png"] = png(copies_picture(frame, scene, scene.quads["tiled quad"]))
    hidden = hidden_edges(scene)
    pictures["depth.png"] = png(depth_picture(frame, scene, hidden))

    d, test_photo = runner.folder("unchanged", "quadrants")
    f, _ = runner.frame(d)
    unchanged = checker_lines(f, Scene(FRAME, test_photo, PROJECT_TINT, f.w, f.h))
    if any(v.status is not Status.OK for v in unchanged):
        raise Missing("the unchanged demo fails the checker at frame 30: " + "; ".join(
            v.text() for v in unchanged if v.status is not Status.OK))
    changes = []
    for i, c in enumerate(CHANGES, 1):
        shader = None
        if c.file.startswith("data/"):
            name = os.path.basename(c.file)
            with open(os.path.join(data, name)) as src:
                shader = (name, src.read().replace(c.before, c.after))
        d, test_photo = runner.folder(f"try-{i}", "quadrants", shader)
        f, _ = runner.frame(d, {"FAULT": c.fault} if c.fault else None, [runner.interpose] if c.fault else ())
        lines = checker_lines(f, Scene(FRAME, test_photo, PROJECT_TINT, f.w, f.h))
        failing = [v for v in lines if v.status is Status.FAIL]
        if not failing:
            raise Missing(f"'Try it' {i} ({c.name}) changed nothing the checker sees")
        pictures[f"try-{i}.png"] = png(report.picture(failing[0].pictures[0]))
        changes.append((c, lines))

    figures = {"objects": objs, "scene": scene, "corners": {o.name: corners(scene, o) for o in objs},
               "notes": notes, "photo size": (w, h), "agree": agreement(objs, records, scene), "lookups": looks,
               "hidden": hidden, "data": data, "unchanged": unchanged, "changes": changes}
    text = "\n".join(page(figures)) + "\n"
    named = set(re.findall(rf"\]\({PICTURES}/([a-z0-9-]+\.png)\)", text))
    if named != set(pictures):
        raise AssertionError(f"the page names {sorted(named)}, the command drew {sorted(pictures)}")
    return text, pictures


# ---------------------------------------------------------------- writing


def is_page(path):
    """Whether `path` is a page this command wrote."""
    try:
        with open(path, errors="replace") as f:
            return f.readline().rstrip("\n") == TITLE
    except (FileNotFoundError, IsADirectoryError, NotADirectoryError):
        return False


def refused(out):
    """Why --out cannot take the page, or None: it must be missing, empty, or
    the page's own folder: one that holds the page, or the project's docs/."""
    if not os.path.lexists(out):
        return None
    if not os.path.isdir(out) or os.path.islink(out):
        return "is not a folder"
    if not os.listdir(out):
        return None
    home = os.path.join(ROOT, "docs")
    if not is_page(os.path.join(out, PAGE)) and not (os.path.isdir(home) and os.path.samefile(out, home)):
        return "is not empty and holds no page of this command's to make again"
    pictures = os.path.join(out, PICTURES)
    if os.path.lexists(pictures) and (not os.path.isdir(pictures) or os.path.islink(pictures)):
        return f"holds {PICTURES}, which is not a folder"
    return None


def write(out, text, pictures):
    """The pictures, each whole, then the page; the pictures the page there
    named before and no longer has are removed."""
    folder = os.path.join(out, PICTURES)
    os.makedirs(folder, exist_ok=True)
    old = set()
    if is_page(os.path.join(out, PAGE)):
        with open(os.path.join(out, PAGE), errors="replace") as f:
            old = set(re.findall(rf"\]\({PICTURES}/([a-z0-9-]+\.png)\)", f.read()))
    for name in sorted(pictures):
        report.write_whole(os.path.join(folder, name), pictures[name])
    report.write_whole(os.path.join(out, PAGE), text.encode())
    for name in sorted(old - set(pictures)):
        if os.path.isfile(os.path.join(folder, name)):
            os.remove(os.path.join(folder, name))


def main(argv):
    parser = argparse.ArgumentParser(prog="python3 -m check.explain", description=__doc__.split("\n\n")[0],
                                     epilog="Status: 0 written, 1 the demo or what it needs failed, 2 usage or a "
                                            "folder refused.")
    parser.add_argument("--build", default=os.path.join(ROOT, "build"), help="the build folder (default: build/)")
    parser.add_argument("--data", default=os.path.join(ROOT, "data"), help="shaders and pacific.jpg (default: data/)")
    parser.add_argument("--out", default=os.path.join(ROOT, "docs"), metavar="DIR",
                        help="where the page goes: missing, empty or the page's own folder (default: docs/)")
    args = parser.parse_args(argv[1:])
    out = os.path.abspath(args.out)
    why = refused(out)
    if why:
        print(f"explain: --out {out} {why}; give a new or an empty folder, or the page's own", file=sys.stderr)
        return 2
    with tempfile.TemporaryDirectory(prefix="demo-explain.") as scratch:
        try:
            runner = Runner(os.path.abspath(args.build), os.path.abspath(args.data), scratch)
            runner.start()
            try:
                text, pictures = make(runner, os.path.abspath(args.data))
            finally:
                runner.stop()
        except (Missing, subprocess.TimeoutExpired) as e:
            print(f"explain: {e}", file=sys.stderr)
            return 1
    write(out, text, pictures)
    print(f"{os.path.join(out, PAGE)}: {len(pictures)} pictures in {os.path.join(out, PICTURES)}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
