"""The report of a run: one self-contained HTML page (every picture in it)
with each check's line and a picture of the frame it judged, what the scene
expects drawn over it; for a FAIL, the pixels that disagree marked, the
misreading that fits drawn beside the expected outline, and a zoom on the
place the line names. Each failing check's picture is also a PNG beside the
page, for a bug report.

A failing check's picture is the frame at its own size, top left, and the
zoom to its right; the frame's pixels are the captured ones wherever
nothing is drawn over them."""
import base64
import html
import io
import math
import os
import re
import string
import tempfile

import numpy as np
from PIL import Image, ImageDraw

from .results import Status

# The legend: what each colour drawn over a frame means.
EXPECTED = (0, 255, 255)  # the scene's outlines and the box's edges
MISREAD = (255, 255, 0)  # the outline of the misreading that fits, dashed
MARK = (255, 0, 255)  # a pixel that disagrees
LEGEND = ((EXPECTED, "where the scene puts each object's outline and the box's edges"),
          (MISREAD, "the outline of the misreading that fits the frame (dashed)"),
          (MARK, "pixels that disagree with the scene"))
# Outlines over the whole frame let the pixels under them show a little.
OVERLAY_ALPHA = 208
# The zoom: about this wide, each pixel at most this many times enlarged,
# at least this many pixels across, around the place named, with the
# disagreeing pixels within this reach of it in view.
ZOOM_WIDTH, ZOOM_MOST, ZOOM_LEAST, ZOOM_REACH = 384, 16, 24, 48
# and each pixel at least this many times enlarged.
ZOOM_LEAST_K = 4
# Up to this many disagreeing pixels are ringed on the whole frame.
FEW_MARKS = 200
BACKGROUND = (40, 40, 40)
DASH = 4
# Fast compression: the pictures are mostly black and compress well anyway.
PNG_LEVEL = 1

PAGE = string.Template("""<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<title>Demo check: $summary</title>
<style>
body { font: 15px/1.4 sans-serif; margin: 1.5em; color: #111; background: #fafafa; }
section { margin: 1.2em 0; padding: 0.6em 0.8em; background: #fff; border-left: 6px solid #999; }
section.ok { border-color: #2a2; } section.fail, section.error { border-color: #d22; } section.skip { border-color: #aa2; }
section.follows { border-color: #e80; }
h2 { font-size: 1em; margin: 0 0 0.4em; font-family: monospace; white-space: pre-wrap; }
ol.summary { font-family: monospace; padding-left: 2em; } ol.summary li { margin: 0.1em 0; }
.fail a, .error a { color: #b00; } .follows a { color: #a50; } .skip a { color: #770; } .ok a { color: #161; }
img { display: block; max-width: 100%; image-rendering: pixelated; margin: 0.3em 0; }
.swatch { display: inline-block; width: 1.2em; height: 0.8em; margin-right: 0.4em; vertical-align: middle; }
pre { background: #eee; padding: 0.5em; }
svg.strip { display: block; margin: 0.2em 0 0.8em; }
</style></head><body>
<h1>Does this machine draw the demo right?</h1>
<pre>$notes</pre>
<p><b>$summary</b></p>
<ol class="summary">$index</ol>
$strips
<ul>$legend</ul>
$sections
</body></html>
""")

SECTION = string.Template("""<section class="$kind" id="$anchor"><h2>$line</h2>$picture</section>
""")

# The strip of a turn: a cell for each angle, coloured by its frame's status.
STRIP_COLOURS = {Status.OK: "#2a2", Status.FAIL: "#d22", Status.FOLLOWS: "#e80", Status.ERROR: "#829", None: "#bbb"}
STRIP_WORDS = {Status.OK: "every check passed", Status.FAIL: "a check failed",
               Status.FOLLOWS: "a check follows from another's fault", Status.ERROR: "the checker could not judge",
               None: "not judged"}
CELL, STRIP_HEIGHT = 2, 18


def clear(folder):
    """Removes an earlier report's pictures from the checker's own report
    folder, and nothing else there (its page is replaced whole)."""
    if os.path.isdir(folder):
        for name in os.listdir(folder):
            if re.fullmatch(r"\d+-[a-z0-9-]+\.png", name):
                os.remove(os.path.join(folder, name))


def write_whole(path, data):
    """Writes bytes to `path` whole or not at all: a new file beside it,
    flushed to disk, renamed over it."""
    fd, part = tempfile.mkstemp(dir=os.path.dirname(path), prefix=".part-")
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data)
            f.flush()
            os.fsync(f.fileno())
        os.chmod(part, 0o644)
        os.replace(part, path)
    except BaseException:
        os.unlink(part)
        raise


def slug(text):
    return re.sub(r"[^a-z0-9]+", "-", text.lower()).strip("-")[:60]


def image_point(scene, p):
    """A window point (x, y up) as a point of the picture (x, y down)."""
    return float(p[0]), scene.h - float(p[1])


def outlines(scene, names=None):
    """The quads' outlines (lists of 4 picture points) and the box's edges
    (pairs), in picture coordinates: finite ones only."""
    quads = [[image_point(scene, p) for p in scene.corners(q)]
             for n, q in scene.quads.items() if names is None or n in names]
    edges = [] if names is not None else [
        [image_point(scene, p) for p in scene.window(scene.BOX, [a, b])[:, :2]] for _, a, b in scene.box()]
    finite = lambda points: all(math.isfinite(c) for p in points for c in p)
    return [q for q in quads if finite(q)], [e for e in edges if finite(e)]


def draw(image, shapes, colour, place=lambda p: p, width=1, alpha=255, dash=0):
    """Draws quads (closed) and edges (open) in a colour, each point placed
    by `place`; dashed with dashes `dash` long, where it is not 0."""
    quads, edges = shapes
    layer = Image.new("RGBA", image.size, (0, 0, 0, 0))
    pen = ImageDraw.Draw(layer)
    for points in [q + q[:1] for q in quads] + edges:
        points = [place(p) for p in points]
        for (x0, y0), (x1, y1) in zip(points, points[1:]):
            n = max(1, int(math.hypot(x1 - x0, y1 - y0) / dash)) if dash else 1
            for i in range(0, n, 2 if dash else 1):
                a, b = i / n, min(i + 1, n) / n
                pen.line([(x0 + a * (x1 - x0), y0 + a * (y1 - y0)), (x0 + b * (x1 - x0), y0 + b * (y1 - y0))],
                         fill=colour + (alpha,), width=width)
    image.alpha_composite(layer)


def overview(seen):
    """The frame with the scene drawn over it, the misreading's outline and
    the disagreeing pixels marked (results.Evidence): an RGBA picture."""
    frame, scene, problem = seen.frame, seen.scene, seen.problem
    image = Image.fromarray(frame.pixels.astype(np.uint8)).convert("RGBA")
    if scene is not None:
        draw(image, outlines(scene), EXPECTED, alpha=OVERLAY_ALPHA)
    if problem is not None:
        if problem.misread is not None:
            draw(image, outlines(problem.misread, problem.quads), MISREAD, alpha=OVERLAY_ALPHA, dash=DASH)
        pixels = np.asarray(image).copy()
        rows, cols = np.asarray(problem.rows, int), np.asarray(problem.cols, int)
        if len(rows) <= FEW_MARKS:  # a ring round each, to be seen
            for dr, dc in [(d, e) for d in range(-2, 3) for e in range(-2, 3) if max(abs(d), abs(e)) == 2]:
                pixels[np.clip(rows + dr, 0, frame.h - 1), np.clip(cols + dc, 0, frame.w - 1)] = MARK + (255,)
        pixels[rows, cols] = MARK + (255,)
        image = Image.fromarray(pixels)
    return image


def zoom(seen):
    """The frame around the place the problem names, each pixel enlarged,
    with the outlines and a dot on each disagreeing pixel."""
    frame, scene, problem = seen.frame, seen.scene, seen.problem
    rows, cols = np.asarray(problem.rows, int), np.asarray(problem.cols, int)
    at = problem.at if problem.at is not None else (
        (int(np.median(cols)), int(np.median(rows))) if len(rows) else None)
    if at is None:
        return None
    # The disagreeing pixels near the place named, within a window of 4:3.
    near = (abs(cols - at[0]) <= ZOOM_REACH) & (abs(rows - at[1]) <= ZOOM_REACH * 3 // 4)
    w = min(max(ZOOM_LEAST, 2 * max(abs(cols[near] - at[0]), default=0) + 8,
                (2 * max(abs(rows[near] - at[1]), default=0) + 8) * 4 // 3), ZOOM_WIDTH // ZOOM_LEAST_K)
    c0, r0 = int(np.clip(at[0] - w // 2, 0, max(frame.w - w, 0))), int(np.clip(at[1] - w * 3 // 8, 0, max(frame.h - w * 3 // 4, 0)))
    c1, r1 = min(c0 + w, frame.w), min(r0 + w * 3 // 4, frame.h)
    k = int(np.clip(ZOOM_WIDTH // max(c1 - c0, 1), 1, ZOOM_MOST))
    crop = Image.fromarray(frame.pixels[r0:r1, c0:c1].astype(np.uint8))
    image = crop.resize((crop.width * k, crop.height * k), Image.NEAREST).convert("RGBA")
    place = lambda p: ((p[0] - c0) * k, (p[1] - r0) * k)
    width = max(1, k // 5)
    draw(image, outlines(scene), EXPECTED, place, width)
    if problem.misread is not None:
        draw(image, outlines(problem.misread, problem.quads), MISREAD, place, width, dash=DASH * 2)
    pen = ImageDraw.Draw(image)
    inside = (cols >= c0) & (cols < c1) & (rows >= r0) & (rows < r1)
    dot = max(3, k * 2 // 3)
    for r, c in zip(rows[inside], cols[inside]):
        x, y = (c - c0) * k + (k - dot) // 2, (r - r0) * k + (k - dot) // 2
        pen.rectangle([x, y, x + dot - 1, y + dot - 1], fill=MARK + (255,))
    return image


# The screen's picture: the frame as drawn beside the screen as read, a
# GAP apart, captioned; pixels not judged (covered, off the screen) dimmed.
CAPTION = 16
UNSEEN_DIM = 0.3


def screen_picture(seen):
    """The frame as GL drew it (left) beside the window as the screen
    showed it (right), each captioned (results.Evidence with a screen)."""
    drawn = seen.frame.pixels
    shown, judged = seen.screen
    shown = np.where(judged[..., None], shown, (shown * UNSEEN_DIM).astype(np.uint8))
    h, w = drawn.shape[:2]
    gap = 8
    out = Image.new("RGB", (2 * w + gap, h + CAPTION), BACKGROUND)
    out.paste(Image.fromarray(drawn.astype(np.uint8)), (0, CAPTION))
    out.paste(Image.fromarray(shown.astype(np.uint8)), (w + gap, CAPTION))
    pen = ImageDraw.Draw(out)
    pen.text((2, 2), f"frame {seen.frame.number} as GL drew it", fill=(255, 255, 255))
    pen.text((w + gap + 2, 2), "the window on the screen (dimmed: not judged)", fill=(255, 255, 255))
    return out


def picture(seen):
    """The picture of what a check saw (results.Evidence): the overview,
    and for a problem the zoom beside it; for the screen, the frame as
    drawn beside the screen as read."""
    if seen.screen is not None:
        return screen_picture(seen)
    image = overview(seen)
    close = zoom(seen) if seen.problem is not None else None
    if close is None:
        return image.convert("RGB")
    gap = 8
    out = Image.new("RGB", (image.width + gap + close.width, max(image.height, close.height)), BACKGROUND)
    out.paste(image.convert("RGB"), (0, 0))
    out.paste(close.convert("RGB"), (image.width + gap, 0))
    return out


def png(image):
    buffer = io.BytesIO()
    image.save(buffer, "PNG", compress_level=PNG_LEVEL)
    return buffer.getvalue()


def strip(label, angles):
    """A turn at a glance: an inline SVG strip of 360 cells, one an angle,
    each coloured by the status of the frame drawn at it (and titled so)."""
    cells = []
    for a in range(1, 361):
        kind = angles.get(a)
        cells.append(f'<rect x="{(a - 1) * CELL}" y="0" width="{CELL}" height="{STRIP_HEIGHT}" '
                     f'fill="{STRIP_COLOURS[kind]}"><title>angle {a}: {STRIP_WORDS[kind]}</title></rect>')
    ticks = "".join(f'<text x="{(a - 1) * CELL}" y="{STRIP_HEIGHT + 12}" font-size="10">{a}</text>'
                    for a in range(1, 361, 30))
    shown = list(angles.values()) + [None] * (360 - len(angles))
    counts = ", ".join(f"{shown.count(k)} {STRIP_WORDS[k]}" for k in STRIP_COLOURS if shown.count(k))
    return (f'<p>{html.escape(label)}: every angle of a turn, 1 to 360 ({html.escape(counts)})</p>'
            f'<svg class="strip" width="{360 * CELL}" height="{STRIP_HEIGHT + 14}" '
            f'role="img" aria-label="{html.escape(label, quote=True)}">{"".join(cells)}{ticks}</svg>')


def write(result, folder):
    """Writes, for a run's result (results.RunResult), FOLDER/report.html
    and a PNG of each failing check's first picture beside it; returns the
    page's path and the PNGs' paths by (scenario, check). The page opens
    with every check, the most severe first, each linking to its section;
    then a strip of the angles of each turn; then a section for each check:
    its line, the picture of the first frame of each range of frames it
    failed at (or, folded away, the frame a passing check was seen on)."""
    os.makedirs(folder, exist_ok=True)
    sections, drawn, index, pngs = [], {}, [], {}

    def embedded(seen):
        key = tuple(map(id, seen))
        if key not in drawn:
            drawn[key] = png(picture(seen))
        return drawn[key]
    anchors = {(o.scenario, o.check): f"check-{i}" for i, o in enumerate(result.outcomes, 1)}
    for i, o in enumerate(result.outcomes, 1):
        shown = [(seen.frame, embedded(seen)) for seen in o.pictures]
        if shown and o.status is Status.FAIL:
            pngs[o.scenario, o.check] = os.path.join(folder, f"{i:02d}-{slug(o.name)}.png")
            write_whole(pngs[o.scenario, o.check], shown[0][1])
        images = "".join(f'<img alt="frame {f.number}: {html.escape(o.name, quote=True)}" '
                         f'src="data:image/png;base64,{base64.b64encode(d).decode()}">' for f, d in shown)
        if images and not o.status.failed:
            images = f"<details><summary>the frame it was seen on</summary>{images}</details>"
        line = html.escape(o.text())
        cause = result.cause(o)
        if cause:
            line += f' (<a href="#{anchors[cause.scenario, cause.check]}">{html.escape(cause.name)}</a>)'
        kind, anchor = o.status.kind, anchors[o.scenario, o.check]
        sections.append(SECTION.substitute(kind=kind, anchor=anchor, line=line, picture=images))
        index.append((-o.status, i, f'<li class="{kind}"><a href="#{anchor}">{html.escape(o.text())}</a></li>'))
    legend = "".join(f'<li><span class="swatch" style="background: rgb{c}"></span>{html.escape(t)}</li>'
                     for c, t in LEGEND)
    path = os.path.join(folder, "report.html")
    write_whole(path, PAGE.substitute(summary=result.totals().line(), notes=html.escape("\n".join(result.notes)),
                                      legend=legend, index="".join(x for *_, x in sorted(index)),
                                      strips="".join(strip(k, a) for k, a in result.strips.items()),
                                      sections="".join(sections)).encode())
    return path, pngs
