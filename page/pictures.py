"""The page's pictures: frames of the real demo as drawn, GL's own texture
levels and depth buffer as read back, enlarged where a pixel or a texel
matters, with the model's marks set beside what they point at, never over
what the picture is there to show. Each is returned as a PIL image; png()
makes its bytes.

Picture coordinates run from the top left, x right and y down; a window
point (x, y up) lies at (x, h - y)."""
import io
import math

import numpy as np
from PIL import Image, ImageDraw, ImageFont

from check.report import EXPECTED, MARK, MISREAD

from .figures import FAR, NEAR, distance_at

# The pictures' lettering: a font that scripts/install-deps installs, found by
# Pillow under the system's font folders.
FONT, FONT_SIZE = "DejaVuSansMono-Bold.ttf", 12
# The model's marks: an outline or a point of the model (the checker's
# colour for where the scene puts things); a pixel followed; the
# checker's tolerance, dashed; what the other way would give.
MODEL, PIXEL, TOLERANCE, OTHER = EXPECTED, MARK, MISREAD, (255, 160, 0)
WORDS = {MODEL: "cyan", PIXEL: "magenta", TOLERANCE: "yellow", OTHER: "orange"}
INK, PAPER, GREY = (255, 255, 255), (40, 40, 40), (150, 150, 150)
BOX_LABEL = (0, 255, 0)
DASH = 4
GAP = 8
# A corner's ring, and its label this many pixels off the corner.
RING, LABEL_OFF = 4, 14
# The enlargements: of a pixel's neighbourhood (pixels across, times), of
# the tiled and gradient quads, of texels around a lookup (texels across, a
# panel's side in picture pixels), of the mipmap levels (each at least this tall).
PIXELS_SHOWN, PIXEL_K = 14, 16
QUAD_K = 3
TEXELS_SHOWN, PANEL = 8, 224
LEVEL_LEAST = 32
# Ticks set beside the tiled quad's seam, in picture pixels.
TICK = 18
# The depth buffer shown as distance along the view axis: white this near,
# black this far; where nothing was drawn (the cleared 1), this colour.
DEPTH_SHOWN = (350, 850)
CLEARED, CLEARED_WORD = (0, 0, 96), "blue"
# The depth picture's colour for what hides an edge behind each quad.
HIDDEN_BY = {"tiled quad": (255, 255, 255), "gradient quad": (255, 0, 255), "image quad": (255, 255, 0)}
HIDDEN_WORDS = {"tiled quad": "white", "gradient quad": "magenta", "image quad": "yellow"}


class NoFont(Exception):
    """The pictures' font is not installed."""


def font():
    try:
        return ImageFont.truetype(FONT, FONT_SIZE)
    except OSError:
        raise NoFont(f"no {FONT} among the system's fonts: scripts/install-deps page installs it") from None


def png(image):
    """PNG bytes with nothing but the pixels: no date, no text chunk."""
    buffer = io.BytesIO()
    image.convert("RGB").save(buffer, "PNG", compress_level=9)
    return buffer.getvalue()


def frame_image(frame):
    return Image.fromarray(np.ascontiguousarray(frame.pixels, np.uint8)).convert("RGBA")


def label(pen, xy, text, colour):
    """A label with a dark box behind it, centred on xy."""
    x0, y0, x1, y1 = pen.textbbox((0, 0), text, font=font())
    w, h = x1 - x0, y1 - y0
    x, y = int(round(xy[0] - w / 2)), int(round(xy[1] - h / 2))
    pen.rectangle([x - 2, y - 2, x + w + 1, y + h + 1], fill=(0, 0, 0, 200))
    pen.text((x - x0, y - y0), text, fill=colour + (255,), font=font())


def lines(image, paths, colour, width=1, dash=0, closed=False):
    """Draws each path (picture points) in a colour, dashed with dashes
    `dash` long where it is not 0."""
    layer = Image.new("RGBA", image.size, (0, 0, 0, 0))
    pen = ImageDraw.Draw(layer)
    for points in paths:
        points = list(points) + (list(points[:1]) if closed else [])
        for (x0, y0), (x1, y1) in zip(points, points[1:]):
            n = max(1, int(math.hypot(x1 - x0, y1 - y0) / dash)) if dash else 1
            for i in range(0, n, 2 if dash else 1):
                a, b = i / n, min(i + 1, n) / n
                pen.line([(x0 + a * (x1 - x0), y0 + a * (y1 - y0)), (x0 + b * (x1 - x0), y0 + b * (y1 - y0))],
                         fill=colour + (255,), width=width)
    image.alpha_composite(layer)


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


def enlarged(image, box, k):
    """The part `box` (left, top, right, bottom) of an image, k times."""
    part = image.crop(box)
    return part.resize((part.width * k, part.height * k), Image.NEAREST)


# ---------------------------------------------------------------- frames


def corners_picture(frame, scene, corners_by_object):
    """Frame 30 with each corner of the tables ringed and labelled beside
    it: no outline drawn over the objects or the box's edges."""
    image = frame_image(frame)
    layer = Image.new("RGBA", image.size, (0, 0, 0, 0))
    pen = ImageDraw.Draw(layer)
    for name, cs in corners_by_object.items():
        colour = BOX_LABEL if name == "wire box" else MODEL
        centre = np.mean([c.window[:2] for c in cs], axis=0)
        for c in cs:
            x, y = c.window[0], scene.h - c.window[1]
            pen.ellipse([x - RING, y - RING, x + RING, y + RING], outline=colour + (255,))
            # Outward from the object's middle; the box's back corners, which
            # fall by the image quad's, inward.
            d = (c.window[:2] - centre) * (-1 if name == "wire box" and c.point[2] < 0 else 1)
            p = c.window[:2] + d / max(np.hypot(*d), 1e-9) * LABEL_OFF
            label(pen, (p[0], scene.h - p[1]), c.label, colour)
    image.alpha_composite(layer)
    return image


def around(scene, points, margin):
    """The picture box (left, top, right, bottom) around window points, with
    a margin, within the frame."""
    p = np.asarray(points)
    return (max(int(p[:, 0].min()) - margin, 0), max(int(scene.h - p[:, 1].max()) - margin, 0),
            min(int(math.ceil(p[:, 0].max())) + margin, scene.w),
            min(int(math.ceil(scene.h - p[:, 1].min())) + margin, scene.h))


def crease_picture(frame, scene, letters):
    """The gradient quad as drawn, enlarged, its corners named beside them;
    then the model's colours at the same pixels with the quad split along
    G1-G3 and along G2-G4."""
    quad = scene.quads["gradient quad"]
    p = scene.corners(quad)
    box = around(scene, p, 14)
    panels = [captioned(enlarged(frame_image(frame), box, QUAD_K), "frame 30 as drawn")]
    pen = ImageDraw.Draw(panels[0])
    centre = p.mean(axis=0)
    for (x, y), name in zip(p, letters):
        d = np.array([x, y]) - centre
        q = np.array([x, y]) + d / np.hypot(*d) * 9
        label(pen, ((q[0] - box[0]) * QUAD_K, (scene.h - q[1] - box[1]) * QUAD_K), name, INK)
    cols, rows = np.meshgrid(np.arange(box[0], box[2]), np.arange(box[1], box[3]))
    x, y = cols + 0.5, scene.h - rows - 0.5
    inside = scene.inside(quad, x, y) >= 0
    for colours, words in zip(scene.blends(quad, x, y), ("split along G1-G3", "split along G2-G4")):
        model = np.where(inside[..., None], np.round(colours), PAPER).astype(np.uint8)
        image = Image.fromarray(model).resize((model.shape[1] * QUAD_K, model.shape[0] * QUAD_K), Image.NEAREST)
        panels.append(captioned(image, f"the model, {words}"))
    return hstack(panels)


def seam_picture(frame, scene, seam, names):
    """The tiled quad as drawn, enlarged: ticks above and below it where s =
    1 lies (MODEL) and where interpolating straight across the screen would
    put it (OTHER), each copy's s and t named outside it."""
    quad = scene.quads["tiled quad"]
    box = around(scene, scene.corners(quad), 30)
    image = enlarged(frame_image(frame), box, QUAD_K).convert("RGBA")
    place = lambda p: ((p[0] - box[0]) * QUAD_K, (scene.h - p[1] - box[1]) * QUAD_K)
    # Where the lines s = 1 and t = 1 meet the quad's edges, and its corners.
    at = lambda x, y: place(scene.window(quad.modelview, [(x, y, 0)])[0])
    (bx, by), (tx, ty) = at(0, -50), at(0, 50)
    straight = ((seam.straight_bottom - box[0]) * QUAD_K, (seam.straight_top - box[0]) * QUAD_K)
    for (x0, x1), colour in (((bx, tx), MODEL), (straight, OTHER)):
        lines(image, [[(x1, ty - 4), (x1, ty - 4 - TICK)], [(x0, by + 4), (x0, by + 4 + TICK)]], colour, width=2)
    pen = ImageDraw.Draw(image)
    (lx, ly), (rx, _), (_, uy) = at(-50, -50), at(50, -50), at(-50, 50)
    _, my = at(-50, 0)
    below = max(by, at(-50, -50)[1], at(50, -50)[1]) + 4 + TICK + 10
    label(pen, ((lx + bx) / 2, below), names[0], INK)
    label(pen, ((rx + bx) / 2, below), names[1], INK)
    label(pen, (lx / 2, (ly + my) / 2), names[2], INK)
    label(pen, (lx / 2, (my + uy) / 2), names[3], INK)
    return image


def depth_picture(frame, scene, hidden):
    """Frame 30 with each hidden stretch of the box drawn dashed where it
    would have been, in the colour of the quad that hides it."""
    image = frame_image(frame)
    for e in hidden:
        for name, points in e.stretches:
            ends = [(points[0][0], scene.h - points[0][1]), (points[-1][0], scene.h - points[-1][1])]
            lines(image, [ends], HIDDEN_BY[name], width=2, dash=DASH)
    return image


def depth_buffer_picture(values, bits):
    """GL's depth buffer (its integers, [row, column] top first), each
    value turned back into its distance along the view axis: white at the
    nearer end of DEPTH_SHOWN, black at the farther, CLEARED where nothing
    was drawn."""
    top = 2 ** bits - 1
    distance = distance_at(values / top, NEAR, FAR)
    near, far = DEPTH_SHOWN
    grey = np.clip((far - distance) / (far - near) * 255, 0, 255).round().astype(np.uint8)
    rgb = np.repeat(grey[..., None], 3, axis=-1)
    rgb[values == top] = CLEARED
    return Image.fromarray(rgb)


# --------------------------------------------------------------- texture


def level_strip(levels):
    """The mipmap levels side by side, each at least LEVEL_LEAST tall, named."""
    shown = []
    for k, level in enumerate(levels):
        n = max(1, LEVEL_LEAST // level.height)
        shown.append(captioned(level.resize((level.width * n, level.height * n), Image.NEAREST),
                               f"{k}: {level.width}x{level.height}"))
    return hstack(shown)


def resample_picture(photograph, level0, sizes):
    """The photograph and GL's level 0 side by side, each at its own size,
    with the sun's measured width x height under each."""
    return hstack([captioned(photograph, f"the file: {photograph.width}x{photograph.height}, sun {sizes[0]}"),
                   captioned(level0, f"level 0: {level0.width}x{level0.height}, sun {sizes[1]}")])


def texel_panel(level, centre, texels, k, marks, title):
    """Texels of one level around `centre` (u, v: texel units of this level,
    from the bottom left), `texels` across, each k picture pixels wide; the
    level repeats, as the texture does. `marks` draws on it, given the
    image and the place of a texel point in the picture."""
    c0, r0 = int(math.floor(centre[0])) - texels // 2, int(math.floor(centre[1])) - texels // 2
    rows = np.asarray(level)[::-1]  # rows from the bottom, as t runs
    crop = rows.take(range(r0, r0 + texels), axis=0, mode="wrap").take(range(c0, c0 + texels), axis=1, mode="wrap")
    image = Image.fromarray(np.ascontiguousarray(crop[::-1])).resize((texels * k, texels * k), Image.NEAREST)
    image = image.convert("RGBA")
    marks(image, lambda u, v: ((u - c0) * k, (r0 + texels - v) * k))
    return captioned(image, title)


def in_copy(look, s, t, width, height):
    """Texture coordinates as texel units of a level, within the copy of the
    photograph that the pixel's centre shows."""
    return (np.asarray(s) - math.floor(look.s)) * width, (np.asarray(t) - math.floor(look.t)) * height


def pixel_panel(frame, look):
    """The frame around the pixel, enlarged: its 2 x 2 block outlined thin
    around it, the pixel itself in PIXEL."""
    n = PIXELS_SHOWN
    col, row = look.pixel[0], frame.h - 1 - look.pixel[1]
    c0, r0 = col - n // 2, row - n // 2
    image = enlarged(frame_image(frame), (c0, r0, c0 + n, r0 + n), PIXEL_K).convert("RGBA")
    bx, brow = look.block[0] - c0, frame.h - 1 - (look.block[1] + 1) - r0
    pen = ImageDraw.Draw(image)
    pen.rectangle([bx * PIXEL_K - 2, brow * PIXEL_K - 2, (bx + 2) * PIXEL_K + 1, (brow + 2) * PIXEL_K + 1],
                  outline=INK + (255,), width=1)
    x, y = (col - c0) * PIXEL_K, (row - r0) * PIXEL_K
    pen.rectangle([x, y, x + PIXEL_K - 1, y + PIXEL_K - 1], outline=PIXEL + (255,), width=2)
    return captioned(image, f"frame 30, pixel ({look.pixel[0]}, {look.pixel[1]})")


def footprint_picture(frame, levels, look):
    """The pixel in the frame, then each level its lookup blends: the
    pixel's true outline mapped into the texture (PIXEL), the 2 x 2 texels
    that bilinear filtering blends (MODEL), the lookup at the pixel's centre
    (a dot)."""
    panels = [pixel_panel(frame, look)]
    for lv in look.levels:
        level = levels[lv.k]
        outline = np.column_stack(in_copy(look, look.outline[:, 0], look.outline[:, 1], lv.width, lv.height))
        u, v = in_copy(look, look.s, look.t, lv.width, lv.height)
        k = PANEL // TEXELS_SHOWN

        def marks(image, at, lv=lv, outline=outline, u=u, v=v):
            i0, j0 = lv.i0 - math.floor(look.s) * lv.width, lv.j0 - math.floor(look.t) * lv.height
            lines(image, [[at(i0, j0), at(i0 + 2, j0), at(i0 + 2, j0 + 2), at(i0, j0 + 2)]], MODEL, width=2,
                  closed=True)
            lines(image, [[at(*p) for p in outline]], PIXEL, width=2, closed=True)
            x, y = at(u, v)
            ImageDraw.Draw(image).ellipse([x - 3, y - 3, x + 3, y + 3], fill=PIXEL + (255,), outline=(0, 0, 0, 255))

        panels.append(texel_panel(level, (u, v), TEXELS_SHOWN, k, marks,
                                  f"level {lv.k}: {lv.width}x{lv.height}, weight {lv.weight:.2f}"))
    return hstack(panels)


def tolerance_picture(levels, looks, names):
    """For each lookup, its finer level around the checker's tolerance
    (dashed TOLERANCE), with the pixel's true outline (PIXEL) inside it."""
    panels = []
    for look, name in zip(looks, names):
        lv = look.levels[0]
        s0, s1, t0, t1 = look.tolerance
        (u0, u1), (v0, v1) = in_copy(look, [s0, s1], [t0, t1], lv.width, lv.height)
        texels = int(min(max(u1 - u0, v1 - v0) + 4, lv.width))
        outline = np.column_stack(in_copy(look, look.outline[:, 0], look.outline[:, 1], lv.width, lv.height))

        def marks(image, at, box=(u0, u1, v0, v1), outline=outline):
            a, b, c, d = box
            lines(image, [[at(a, c), at(b, c), at(b, d), at(a, d)]], TOLERANCE, width=2, dash=DASH, closed=True)
            lines(image, [[at(*p) for p in outline]], PIXEL, width=2, closed=True)

        panels.append(texel_panel(levels[lv.k], ((u0 + u1) / 2, (v0 + v1) / 2), texels, max(2, PANEL // texels),
                                  marks, f"{name}, level {lv.k}: the checker's tolerance"))
    return hstack(panels)


# ------------------------------------------------------------- try it


def try_picture(before, after, change):
    """The unchanged frame and the changed one, the same part of each,
    enlarged alike, side by side."""
    return hstack([captioned(enlarged(frame_image(f), change.crop, change.zoom), words)
                   for f, words in ((before, "as the demo draws it"), (after, "with the change"))])
