"""The real demo at frame 30, as the page shows it: run by the checker's
own way of running it (check.demo.Demo, under its capture library,
check.capture), on the display the command is given, with Mesa's software
GL, each run in a scratch folder of its own; under readback.c for GL's own
state, and under tests/check/interpose.c or with a changed copy of a
shader for the changes of "Try it". The checker judges a changed demo's
frame as scripts/check does (check.frame.check_frame), with its test
photograph."""
import os
import shutil
from typing import NamedTuple

import numpy as np
from PIL import Image

from check.capture import Frame, frame_name
from check.frame import check_frame
from check.results import Tally
from check import demo as process

from .figures import FRAME

SHADERS = ("vertex1.glsl", "fragment1.glsl", "vertex2.glsl", "fragment2.glsl")
PHOTOGRAPH = "pacific.jpg"
# The checker's test photograph of flat cells, as scripts/check shows it first.
TEST_PHOTOGRAPH = "quadrants"
# The label of the checker's lines for the project's shaders, as scripts/check prints them.
LABEL = "project shaders"
# What a user's environment may set that would change the picture: left
# out of every run (the checker's preloads and faults, Mesa's settings).
UNSET = ("LD_PRELOAD", "CAPTURE_", "FAULT", "FORCE_", "TRY", "READBACK_", "GALLIUM_", "MESA_", "LIBGL_", "__GL",
         "vblank_mode")
# Every run draws with Mesa's software GL, as the page says.
SOFTWARE = {"LIBGL_ALWAYS_SOFTWARE": "1", "GALLIUM_DRIVER": "llvmpipe", "MESA_SHADER_CACHE_DISABLE": "true"}


class Missing(Exception):
    """What the command needs and could not have: said in one line."""


def environment(environ):
    """The environment every run starts from: the user's, less what would
    change the picture, with Mesa's software GL."""
    return {**{k: v for k, v in environ.items() if not k.startswith(UNSET)}, **SOFTWARE}


class Demo:
    """The real demo and the libraries the page runs it under, in the build
    folder; one scratch folder a run."""

    def __init__(self, build, data, scratch):
        self.demo = os.path.join(build, "demo")
        self.capture = os.path.join(build, "frame_capture.so")
        self.readback = os.path.join(build, "readback.so")
        self.interpose = os.path.join(build, "interpose.so")
        for path in (self.demo, self.capture, self.readback, self.interpose):
            if not os.path.exists(path):
                raise Missing(f"{path} is missing: scripts/page builds it "
                              "(cmake --build build --target demo frame_capture readback interpose)")
        self.data, self.scratch = data, scratch
        self.run = process.Demo(self.demo, self.capture, data, scratch)

    def folder(self, name, test_photograph=False, shader=None):
        """A scratch folder with the shaders (one replaced: (file, text)) and
        the photograph: the project's, or the checker's test photograph.
        Returns the folder and what the checker expects of its photograph
        (None for the project's)."""
        d = os.path.join(self.scratch, name)
        os.makedirs(d)
        for f in SHADERS:
            shutil.copy(os.path.join(self.data, f), d)
        if shader:
            with open(os.path.join(d, shader[0]), "w") as f:
                f.write(shader[1])
        if not test_photograph:
            shutil.copy(os.path.join(self.data, PHOTOGRAPH), d)
            return d, None
        return d, self.run.photograph(d, TEST_PHOTOGRAPH)

    def frame(self, folder, env=None, preload=()):
        """Runs the demo in the folder to frame 30: (its Frame, the capture
        library's report of it: GL's strings)."""
        status, output, notes, _ = self.run.start(folder, env or {}, frames=[FRAME], end=FRAME,
                                                  preload=" ".join(preload))
        path = os.path.join(folder, frame_name(FRAME))
        if status != 0 or not os.path.exists(path):
            tail = " ".join(output.strip().splitlines()[-3:])
            raise Missing(f"the demo drew no frame {FRAME} (status {status}): {tail}")
        return Frame(path), notes


# ------------------------------------------------------------ read back


class Primitive(NamedTuple):
    """One glBegin of frame 30 as readback.c saw it: its mode, GL's
    modelview and projection (4 x 4) and viewport, each vertex with where
    gluProject put it ([(object point, window point)]), and how many of its
    fragments passed the depth test."""
    mode: int
    modelview: np.ndarray
    projection: np.ndarray
    viewport: tuple
    vertices: list
    samples: int


def state(path):
    """readback.c's READBACK_OUT: (GL's depth bits, [Primitive])."""
    bits, out = 0, []
    with open(path) as f:
        for line in f:
            key, *values = line.split()
            if key == "depth_bits":
                bits = int(values[0])
            elif key == "begin":
                out.append({"mode": int(values[0]), "vertices": [], "samples": -1})
            elif key in ("modelview", "projection"):
                out[-1][key] = np.array(values, float).reshape(4, 4).T
            elif key == "viewport":
                out[-1]["viewport"] = tuple(int(v) for v in values)
            elif key == "vertex":
                v = np.array(values, float)
                out[-1]["vertices"].append((v[:3], v[3:]))
            elif key == "samples":
                out[-1]["samples"] = int(values[0])
    return bits, [Primitive(**p) for p in out]


def depth_buffer(path):
    """readback.c's READBACK_DEPTH: (the buffer's bits, its integers as an
    array [row, column], top row first)."""
    with open(path, "rb") as f:
        _, w, h, bits = f.readline().split()
        w, h, bits = int(w), int(h), int(bits)
        values = np.frombuffer(f.read(), np.uint32, w * h).reshape(h, w)[::-1]
    return bits, values >> (32 - bits)


def levels(folder):
    """readback.c's READBACK_TEXTURE: each level as GL holds it, a PIL image
    top row first."""
    out = []
    while os.path.exists(os.path.join(folder, f"level-{len(out)}.ppm")):
        with Image.open(os.path.join(folder, f"level-{len(out)}.ppm")) as level:
            out.append(level.convert("RGB"))
    return out


class Readback(NamedTuple):
    """What the command reads back of frame 30: the frame, the capture
    library's report, GL's depth bits and primitives, its depth buffer
    (bits, [row, column] top first) and the texture's levels (PIL images)."""
    frame: Frame
    notes: object
    depth_bits: int
    primitives: list
    depth: tuple
    levels: list


def read_back(demo):
    """The demo with the project's photograph, frame 30 read back."""
    folder, _ = demo.folder("pacific")
    levels_dir = os.path.join(folder, "levels")
    os.makedirs(levels_dir)
    env = {"READBACK_OUT": os.path.join(folder, "state.txt"), "READBACK_TEXTURE": levels_dir,
           "READBACK_DEPTH": os.path.join(folder, "depth")}
    frame, notes = demo.frame(folder, env, [demo.readback])
    for name in ("state.txt", "depth"):
        if not os.path.exists(os.path.join(folder, name)):
            raise Missing(f"readback.so wrote no {name} at frame {FRAME}")
    bits, primitives = state(os.path.join(folder, "state.txt"))
    return Readback(frame, notes, bits, primitives, depth_buffer(os.path.join(folder, "depth")), levels(levels_dir))


# ------------------------------------------------------------ try it


class Change(NamedTuple):
    """A change a learner can make: its key (its picture is try-KEY.png), the
    file and its line before and after, how the command makes it real
    without rebuilding the demo (interpose.c's settings, or the shader's
    changed copy when `env` is empty), and the part of the frame its
    picture shows ((left, top, right, bottom) pixels of the frame, top row
    first) and how much enlarged; and whether the checker fails frame 30
    with it (the page's words say why, either way)."""
    key: str
    file: str
    before: str
    after: str
    env: dict
    crop: tuple = (0, 0, 640, 480)
    zoom: int = 1
    fails: bool = True


class Tried(NamedTuple):
    """A change made real: with the project's photograph, the frame drawn;
    with the checker's test photograph, the checker's lines."""
    change: Change
    frame: Frame
    lines: list


def shader_copy(data, change):
    """(file name, text) of the changed shader, or None for a change put in
    by interpose.c."""
    if change.env:
        return None
    name = os.path.basename(change.file)
    with open(os.path.join(data, name)) as f:
        return name, f.read().replace(change.before, change.after)


def checker_lines(frame, scene):
    """The lines scripts/check prints of frame 30 judged (check_frame), as it
    prints them for a turn: [results.Outcome], in the checks' order."""
    out = []
    for r in check_frame(frame, scene):
        t = Tally()
        t.add(FRAME, r)
        out.append(t.outcome(LABEL, r.check, [FRAME], {FRAME: frame}, lambda f: scene))
    return out


def tried(demo, change, scene_of, i):
    """The change made real twice: for its picture, and for the checker."""
    shader = shader_copy(demo.data, change)
    preload = [demo.interpose] if change.env else []
    folder, _ = demo.folder(f"try-{i}", shader=shader)
    frame, _ = demo.frame(folder, change.env, preload)
    folder, photo = demo.folder(f"try-{i}-checked", True, shader)
    checked, _ = demo.frame(folder, change.env, preload)
    return Tried(change, frame, checker_lines(checked, scene_of(checked, photo)))


def unchanged_lines(demo, scene_of):
    """The checker's lines of the unchanged demo's frame 30."""
    folder, photo = demo.folder("unchanged-checked", True)
    frame, _ = demo.frame(folder)
    return checker_lines(frame, scene_of(frame, photo))


# The changes of "Try it", in the pipeline's order.
TILED = (256, 44, 392, 198)
CHANGES = (
    Change("spin", "src/demo.cpp", "glRotatef(-angle, 0, 1, 0);", "glRotatef(angle, 0, 1, 0);",
           {"FAULT": "other-spin"}, TILED, 2),
    Change("near", "src/demo.cpp", "gluPerspective(45, 1.333, 1, 1000);", "gluPerspective(45, 1.333, 500, 1000);",
           {"TRY": "near-500"}),
    Change("coordinates", "data/fragment2.glsl", "gl_FragColor = texture2D(image, texture_coordinate) * colour;",
           "gl_FragColor = vec4(texture_coordinate / 2.0, 0.0, 1.0);", {}),
    Change("tint", "data/fragment2.glsl", "gl_FragColor = texture2D(image, texture_coordinate) * colour;",
           "gl_FragColor = texture2D(image, texture_coordinate);", {}, TILED, 2),
    Change("flip", "src/demo.cpp", "raster.vflip(); // GL wants the bottom row first",
           "// raster.vflip(); // GL wants the bottom row first", {"TRY": "unflipped"}),
    Change("nearest", "src/demo.cpp", "glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);",
           "glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);", {"TRY": "nearest"}, TILED, 3, False),
    Change("replace", "src/demo.cpp", "glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);",
           "glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);", {"TRY": "replace"}, fails=False),
)
