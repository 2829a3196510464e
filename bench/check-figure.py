"""The check_frame figures: the checker's cost a frame at 640 x 480, against
a floor measured in the same run (numpy reading the same frame and
comparing it once, pixel by pixel, with a picture of the same size); and
its cost on frames a machine draws wrong against its cost on right ones.

Captures a whole turn of the real demo (DEMO, under the capture library
CAPTURE, with the project's shaders from DATA and the checker's test
photograph) on the current DISPLAY, then times each frame's check_frame and
its floor in interleaved pairs (the order alternating, so that drift hits
both alike), after one frame has filled what every frame shares; and the
same frame drawn wrong the ways a machine draws a whole frame wrong, a kind
of each family of the checker's model, made from the captured ones: black
(nothing drawn), the frame before in its place (a degree late), gamma-
encoded (2.2), mirrored, moved, red and blue exchanged, half the resolution
(each pixel repeated), four and two levels a channel, every level by 1.5
clipped at white, mirrored with red and blue exchanged, twice the pixels
from a corner, its middle twice the size and gamma-encoded, and one no
change of the model explains (70 %
opaque over bands of three colours); each kind over the whole turn, in turn, as a
machine that draws every frame wrong the same way. Prints the milliseconds a
frame (medians) and the figure lines: the median of the per-pair ratios,
lowest and highest; and the worst kind's median over the right frames'."""
import copy
import os
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from check import capture  # noqa: E402
from check import frame  # noqa: E402
from check.frame import check_frame  # noqa: E402
from check.photographs import PHOTOGRAPHS  # noqa: E402
from check.demo import keep_freed_memory  # noqa: E402
from check.scene import PROJECT_TINT, Scene  # noqa: E402

TURN = 360
# The ratio that 20 ms a frame makes against this machine's floor (0.4 ms;
# docs/figures.md): the target the checker's cost is held to.
TARGET = 50
# A frame drawn wrong costs at most this many times a right one.
WRONG_TARGET = 2
GAMMA = np.round(255 * (np.arange(256) / 255) ** (1 / 2.2)).astype(np.uint8)


def drawn_wrong(frames, i):
    """Frame i of the turn as a machine may draw it wrong, the whole picture
    changed a way of each family: {kind: Frame}."""
    f = frames[i]
    p = f.pixels
    moved = np.zeros_like(p)
    moved[12:, :-20] = p[:-12, 20:]
    y, x = np.mgrid[0:f.h, 0:f.w]
    bands = np.array([(200, 60, 30), (40, 160, 30), (40, 60, 220)])[((x + y) // 40) % 3]
    out = {}
    for kind, pixels in (("black", np.zeros_like(p)), ("a degree late", frames[i - 1].pixels),
                         ("gamma-encoded", GAMMA[p]), ("mirrored", p[:, ::-1]), ("moved", moved),
                         ("red and blue exchanged", p[..., ::-1]),
                         ("half the resolution", np.repeat(np.repeat(p[::2, ::2], 2, 0), 2, 1)),
                         ("four levels a channel", p // 64 * 85),
                         ("brighter, clipped", np.minimum(p * 1.5 + 0.5, 255).astype(np.uint8)),
                         ("mirrored, red and blue exchanged", p[:, ::-1, ::-1]),
                         ("twice the pixels from the corner",
                          np.repeat(np.repeat(p[f.h // 2:, :f.w // 2], 2, 0), 2, 1)),
                         ("its middle twice the size, gamma-encoded",
                          GAMMA[np.repeat(np.repeat(p[f.h // 4:3 * f.h // 4, f.w // 4:3 * f.w // 4], 2, 0), 2, 1)]),
                         ("two levels a channel", p // 128 * 128 + 64),
                         ("see-through", (0.7 * p + 0.3 * bands + 0.5).astype(np.uint8))):
        out[kind] = copy.copy(f)
        out[kind].pixels = np.ascontiguousarray(pixels)
    return out


def floor(path, picture):
    """Reads the frame with numpy and compares it once with a picture."""
    data = np.fromfile(path, np.uint8)
    pixels = data[len(data) - picture.size:].reshape(picture.shape)
    return np.count_nonzero(pixels != picture)


def main():
    keep_freed_memory()  # as the run's workers do
    photo, args = PHOTOGRAPHS["quadrants"]
    with tempfile.TemporaryDirectory() as scratch:
        for name in ("vertex1.glsl", "fragment1.glsl", "vertex2.glsl", "fragment2.glsl"):
            subprocess.run(["cp", os.path.join(os.environ["DATA"], name), scratch], check=True)
        subprocess.run(["convert", *args, "-sampling-factor", "1x1", "-quality", "100",
                        os.path.join(scratch, "pacific.jpg")], check=True)
        env = capture.environment(scratch, os.environ["CAPTURE"], frames=range(1, TURN + 1), end=TURN)
        subprocess.run([os.environ["DEMO"]], cwd=scratch, env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=True)
        paths = [os.path.join(scratch, capture.frame_name(n)) for n in range(1, TURN + 1)]
        first = capture.Frame(paths[0])
        picture = np.zeros_like(first.pixels)
        check_frame(first, Scene(1, photo, PROJECT_TINT, first.w, first.h))
        frames = [capture.Frame(p) for p in paths]
        checks, floors, wrong = [], [], {}
        for i, path in enumerate(paths):
            for side in ((0, 1) if i % 2 else (1, 0)):
                t = time.perf_counter()
                if side:
                    f = capture.Frame(path)
                    check_frame(f, Scene(f.number, photo, PROJECT_TINT, f.w, f.h))
                    checks.append(time.perf_counter() - t)
                else:
                    floor(path, picture)
                    floors.append(time.perf_counter() - t)
        for kind in drawn_wrong(frames, 1):
            frame.LATEST.clear()  # each kind judged as the first a process sees, then on
            frame.SEEN.clear()  # the captured frames' pictures were judged right
            frame.STREAK[:] = [None, 0]
            frame.WRONG.clear()
            for i in range(1, len(frames)):
                f = drawn_wrong(frames, i)[kind]
                t = time.perf_counter()
                check_frame(f, Scene(f.number, photo, PROJECT_TINT, f.w, f.h))
                wrong.setdefault(kind, []).append(time.perf_counter() - t)
    ratios = sorted(c / f for c, f in zip(checks, floors))
    right = statistics.median(checks)
    print(f"check_frame: {right * 1000:.1f} ms a frame at {first.w} x {first.h} "
          f"(median of {len(checks)}, held to 20 ms), floor {statistics.median(floors) * 1000:.2f} ms")
    print(f"figure check_frame ratio={statistics.median(ratios):.1f} target={TARGET} "
          f"spread={ratios[0]:.1f}-{ratios[-1]:.1f}")
    medians = {kind: statistics.median(t) for kind, t in wrong.items()}
    print("check_frame drawn wrong: " + ", ".join(f"{kind} {m * 1000:.1f} ms" for kind, m in medians.items())
          + f"; right {right * 1000:.1f} ms (medians of {len(checks) - 1})")
    worst = max(medians, key=medians.get)
    print(f"figure check_frame_wrong ratio={medians[worst] / right:.2f} target={WRONG_TARGET} worst={worst!r}")


if __name__ == "__main__":
    main()
