"""The page made: the real demo run and read back, the model's numbers
worked out and held against what GL drew, the pictures drawn, the words
written. make() is the one way in."""
import math
import os

import numpy as np
from PIL import Image

from check.results import Status
from check.scene import PROJECT_TINT, PROJECTION, Photo, Scene, glu_size

from . import figures as fig
from . import pictures as pic
from .files import named
from .runs import CHANGES, PHOTOGRAPH, Missing, read_back, tried, unchanged_lines
from .text import page

# The near plane of the "Try it" that moves it.
TRY_NEAR = 500


def agreement(objs, primitives, scene):
    """How far the model's matrices lie from GL's own at each glBegin of
    frame 30, and the corners' window points from gluProject's: (largest
    matrix difference, largest window difference in pixels)."""
    if len(primitives) != len(objs):
        raise Missing(f"GL drew {len(primitives)} primitives at frame {fig.FRAME}, the page follows {len(objs)}")
    matrices, window = 0.0, 0.0
    for o, p in zip(objs, primitives):
        matrices = max(matrices, float(abs(p.modelview - o.modelview).max()),
                       float(abs(p.projection - PROJECTION).max()))
        points = np.array([v for v, _ in p.vertices])
        ours = scene.window(o.modelview, points)
        window = max(window, float(abs(ours[:, :2] - np.array([w for _, w in p.vertices])[:, :2]).max()))
    return matrices, window


# What the page's words say the sources do, held against them: a line each
# file must hold, and a call src/demo.cpp must not make (GL's defaults
# stand: the depth test GL_LESS, the depth range 0 to 1, no lighting, no
# fixed-pipeline texturing).
SAID = (("src/demo.cpp", "glEnable(GL_DEPTH_TEST);"), ("src/demo.cpp", "glUseProgram(0);"),
        ("src/demo.cpp", "glColor3d(0.0, 1.0, 0.0);"), ("src/demo.cpp", "glBegin(GL_QUADS);"),
        ("src/demo.cpp", "glBegin(GL_LINES);"), ("src/demo.cpp", 'glGetUniformLocation(shaderProg[1], "image"), 0);'),
        ("src/demo.cpp", "glVertexAttrib2fv("), ("src/demo.cpp", "glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);"),
        ("data/vertex1.glsl", "gl_Position = gl_ModelViewProjectionMatrix * gl_Vertex;"),
        ("data/vertex1.glsl", "colour = gl_Color;"),
        ("data/vertex2.glsl", "gl_Position = gl_ModelViewProjectionMatrix * gl_Vertex;"),
        ("data/vertex2.glsl", "texture_coordinate = vertex_texture_coordinate;"))
UNSAID = ("glDepthFunc", "glDepthRange", "GL_LIGHTING", "glEnable(GL_TEXTURE_2D)")


def source_path(root, data, name):
    """A file the page names: the shaders and the photograph from --data."""
    return os.path.join(data, os.path.basename(name)) if name.startswith("data/") else os.path.join(root, name)


def checked_sources(root, data):
    """The sources do what the page says: each line of SAID is there, no call
    of UNSAID is made, and each file of "Try it" holds the line it changes;
    returns the demo's source."""
    with open(os.path.join(root, "src", "demo.cpp")) as f:
        source = f.read()
    for name, line in SAID + tuple((c.file, c.before) for c in CHANGES):
        with open(source_path(root, data, name)) as f:
            if line not in f.read():
                raise Missing(f"{name} no longer holds {line!r}, which the page's words rely on")
    made = [call for call in UNSAID if call in source]
    if made:
        raise Missing(f"src/demo.cpp now calls {', '.join(made)}: the page says GL's defaults stand")
    return source


def scene_of(frame, photo):
    return Scene(fig.FRAME, photo, PROJECT_TINT, frame.w, frame.h)


def pixel(frame, p):
    """The frame's colour at window pixel p (column, row from the bottom)."""
    return tuple(int(v) for v in frame.pixels[frame.h - 1 - p[1], p[0]])


def make(demo, root):
    """Runs the demo, works out the figures; returns (the page's text,
    {picture name: PNG bytes})."""
    data = demo.data
    source = checked_sources(root, data)
    photo_image = Image.open(os.path.join(data, PHOTOGRAPH)).convert("RGB")
    w, h = photo_image.size
    photo = Photo(w, h, [], [], [[(128, 128, 128)]])  # sizes the image quad; its colours are not asked
    scene = Scene(fig.FRAME, photo, PROJECT_TINT)
    objs = fig.objects(scene, w, h)
    missing = fig.source_calls(source, objs)
    if missing:
        raise Missing(f"src/demo.cpp no longer makes {', '.join(missing)}: the page's model is out of date")
    corners = {o.name: fig.corners(scene, o) for o in objs}

    rb = read_back(demo)
    w0, h0 = glu_size(w), glu_size(h)
    want = [(max(1, w0 >> k), max(1, h0 >> k)) for k in range(int(round(math.log2(max(w0, h0)))) + 1)]
    if [level.size for level in rb.levels] != want:
        raise Missing(f"GL holds levels of {[level.size for level in rb.levels]}, the model says {want}")
    levels_up = [np.asarray(level)[::-1] for level in rb.levels]  # rows from the bottom, as t runs
    bits, depth = rb.depth
    looks = (fig.sample(scene, scene.quads["tiled quad"], fig.TILED_POINT),
             fig.sample(scene, scene.quads["image quad"], (fig.IMAGE_POINT[0] * w, fig.IMAGE_POINT[1] * h)))
    hidden = fig.hidden_edges(scene)
    receding = [(name, a, b) for name, a, b in scene.box() if a[2] != b[2]]

    unchanged = unchanged_lines(demo, scene_of)
    if any(v.status is not Status.OK for v in unchanged):
        raise Missing("the unchanged demo fails the checker at frame 30: " + "; ".join(
            v.text() for v in unchanged if v.status is not Status.OK))
    tries = [tried(demo, c, scene_of, i) for i, c in enumerate(CHANGES, 1)]
    for t in tries:
        if any(v.status.failed for v in t.lines) != t.change.fails:
            raise AssertionError(f"'Try it' {t.change.key}: the checker "
                                 f"{'passes' if t.change.fails else 'fails'} it, the page's words say otherwise")
    by_key = {t.change.key: t for t in tries}

    f = {
        "notes": rb.notes, "photo size": (w, h), "scene": scene, "objects": objs, "corners": corners,
        "projection": fig.projection_terms(), "agree": agreement(objs, rb.primitives, scene),
        "reach": fig.clip_reach([c for cs in corners.values() for c in cs]),
        "trapezoid": fig.trapezoid(corners["tiled quad"]), "seam": fig.seam(scene),
        "seam measured": fig.seam_measured(by_key["coordinates"].frame.pixels, scene),
        "crease": fig.crease(rb.frame.pixels, scene), "fragments": fig.fragments(scene),
        "samples": [p.samples for p in rb.primitives], "vertices": [len(p.vertices) for p in rb.primitives],
        "modes": [p.mode for p in rb.primitives],
        "looks": looks, "filtered": [fig.filtered(levels_up, look, tint) for look, tint in
                                     zip(looks, (PROJECT_TINT, (1, 1, 1)))],
        "shown": [pixel(rb.frame, look.pixel) for look in looks],
        "levels": [level.size for level in rb.levels],
        "sun": (fig.sun(np.asarray(photo_image)), fig.sun(np.asarray(rb.levels[0]))),
        "depth bits": bits, "depth": depth, "hidden": hidden,
        "green": {name: fig.green_columns(rb.frame.pixels, scene, a, b) for name, a, b in receding},
        "box colours": box_colours(rb.frame.pixels, scene),
        "near": fig.near_cut(scene, objs, TRY_NEAR), "unchanged": unchanged, "tries": by_key,
        "same as unchanged": {t.change.key: bool((t.frame.pixels == rb.frame.pixels).all()) for t in tries},
        "data": data, "root": root,
    }
    pictures = {
        "frame-30.png": pic.png(pic.frame_image(rb.frame)),
        "corners.png": pic.png(pic.corners_picture(rb.frame, scene, corners)),
        "crease.png": pic.png(pic.crease_picture(rb.frame, scene, [c.label for c in corners["gradient quad"]])),
        "seam.png": pic.png(pic.seam_picture(rb.frame, scene, f["seam"], ("s 0 to 1", "s 1 to 2", "t 0 to 1",
                                                                           "t 1 to 2"))),
        "photograph.png": pic.png(photo_image),
        "resample.png": pic.png(pic.resample_picture(photo_image, rb.levels[0],
                                                     [f"{a} x {b}" for a, b in f["sun"]])),
        "levels.png": pic.png(pic.level_strip(rb.levels)),
        "footprint-tiled.png": pic.png(pic.footprint_picture(rb.frame, rb.levels, looks[0])),
        "footprint-image.png": pic.png(pic.footprint_picture(rb.frame, rb.levels, looks[1])),
        "tolerance.png": pic.png(pic.tolerance_picture(rb.levels, looks, ("tiled quad", "image quad"))),
        "depth-buffer.png": pic.png(pic.depth_buffer_picture(depth, bits)),
        "depth.png": pic.png(pic.depth_picture(rb.frame, scene, hidden)),
    }
    for t in tries:
        pictures[f"try-{t.change.key}.png"] = pic.png(pic.try_picture(rb.frame, t.frame, t.change))
    text = "\n".join(page(f)) + "\n"
    if named(text) != set(pictures):
        raise AssertionError(f"the page names {sorted(named(text))}, the command drew {sorted(pictures)}")
    return text, pictures


def box_colours(frame_pixels, scene):
    """The colours of the frame's pixels on the box's front edges, away from
    every quad: {(r, g, b): pixels}."""
    out = {}
    for name, a, b in scene.box()[:4]:
        cols, green = fig.green_columns(frame_pixels, scene, a, b) if a[1] == b[1] else (None, None)
        if cols is None:
            continue
        (x0, y0), (x1, y1) = scene.window(scene.BOX, [a, b])[:, :2]
        rows = scene.h - 1 - np.floor(y0 + (cols + 0.5 - x0) / (x1 - x0) * (y1 - y0)).astype(int)
        for c in map(tuple, frame_pixels[rows[green], cols[green]].tolist()):
            out[c] = out.get(c, 0) + 1
    return out
