"""The capture library's protocol (frame-capture.c), in one place: the
environment that drives it, the frames it writes and the notes in their
headers, and the report.txt it leaves. Everything in Python that runs the
demo under the library or reads what it wrote goes through here.

  python3 -m check.capture --library LIB --frame N --out PICTURE [--dir DIR] -- COMMAND...
      runs COMMAND under the library, ends it after frame N and saves that
      frame, exactly as drawn, as PICTURE (a PNG; no date in it)."""
import argparse
import os
import re
import subprocess
import sys
import tempfile
from typing import NamedTuple

import numpy as np

RESIZED = "resized.ppm"
REPORT = "report.txt"
# Frames held after their swap: the library's note of each, and the list the
# caller may give it for the frames after.
HOLD_LIST = "hold.txt"
# Sample positions (x, y up, within a pixel) where GL did not tell them.
STANDARD_POSITIONS = {2: [(0.75, 0.25), (0.25, 0.75)],
                      4: [(0.375, 0.875), (0.875, 0.625), (0.125, 0.375), (0.625, 0.125)]}


def frame_name(n):
    return f"frame-{n}.ppm"


def held_name(n):
    return f"held-{n}.txt"


def frame_list(frames, between=","):
    """CAPTURE_FRAMES for frame numbers: consecutive ones as ranges."""
    out = []
    for n in sorted(set(frames)):
        if out and out[-1][1] == n - 1:
            out[-1][1] = n
        else:
            out.append([n, n])
    return between.join(f"{a}" if a == b else f"{a}-{b}" for a, b in out)


def environment(directory, library, frames=(), end=None, seconds=None, rename=None, keys=None, resize=None,
                window=None, ahead=None, preload="", base=None, hold=()):
    """The environment that runs a program under the capture library, writing
    into `directory`: frames to save (numbers), the frame after which it ends
    (`end`) or the seconds after the first swap, a file renamed after frame N
    (N, FROM, TO), keys given after frame N (N, KEYS), a resize after frame N
    (N, (W, H)), the window's size at creation (W, H), how many saved frames
    may wait at once (`ahead`), other libraries to preload after it, and
    frames after whose swap the program is held (Held) until released."""
    e = dict(os.environ if base is None else base)
    e["CAPTURE_DIR"] = directory
    e["LD_PRELOAD"] = " ".join(filter(None, [library, preload, e.get("LD_PRELOAD")]))
    for key, value in (("CAPTURE_FRAMES", frames and frame_list(frames)), ("CAPTURE_EXIT", end),
                       ("CAPTURE_HOLD", hold and frame_list(hold)),
                       ("CAPTURE_SECONDS", seconds), ("CAPTURE_AHEAD", ahead),
                       ("CAPTURE_RENAME", rename and "{}:{}:{}".format(*rename)),
                       ("CAPTURE_KEYS", keys and "{}:{}".format(*keys)),
                       ("CAPTURE_RESIZE", resize and "{}:{}x{}".format(resize[0], *resize[1])),
                       ("CAPTURE_WINDOW", window and "{}x{}".format(*window))):
        if value:
            e[key] = str(value)
    return e


class Report(NamedTuple):
    """What the library wrote in report.txt: GL's strings, the frames drawn,
    the first and the last swap (CLOCK_MONOTONIC, ns), and each frame that
    could not be saved, with why."""
    renderer: str = ""
    vendor: str = ""
    version: str = ""
    glsl: str = ""
    frames: int = 0
    first_swap_ns: int = 0
    last_swap_ns: int = 0
    errors: tuple = ()


def report(directory, output=""):
    """The library's report in `directory` (an empty one where it wrote
    none), with the frames it could not save as it said on stderr too
    (`output`: where report.txt itself could not be written)."""
    try:
        with open(os.path.join(directory, REPORT), errors="replace") as f:
            lines = [line.rstrip("\n").split("=", 1) for line in f if "=" in line]
    except FileNotFoundError:
        lines = []
    notes = {k: v for k, v in lines if k != "error"}
    number = lambda k: int(notes.get(k) or 0)
    errors = [v for k, v in lines if k == "error"]
    errors += [e for e in re.findall(r"^frame-capture: (.*)$", output, re.M) if e not in errors]
    return Report(notes.get("renderer", ""), notes.get("vendor", ""), notes.get("version", ""),
                  notes.get("glsl", ""), number("frames"), number("first_swap_ns"), number("last_swap_ns"),
                  tuple(errors))


class Held(NamedTuple):
    """What the library wrote of a frame it holds (held-N.txt): the frame,
    the window's drawable on the root window (x, y, w, h; None where it
    could not say), the root's size (w, h), the rectangles of the viewable
    windows above it (x, y, w, h each), and whether the X server is
    Xwayland."""
    frame: int
    window: tuple = None
    screen: tuple = None
    above: tuple = ()
    xwayland: bool = False


def held(directory, n):
    """The library's note of frame n, held (Held), or None where it holds
    no such frame now."""
    try:
        with open(os.path.join(directory, held_name(n)), errors="replace") as f:
            lines = [line.rstrip("\n").split("=", 1) for line in f if "=" in line]
    except FileNotFoundError:
        return None
    numbers = lambda v: tuple(int(x) for x in v.split())
    notes = dict(lines)
    return Held(int(notes.get("frame", n)), numbers(notes["window"]) if "window" in notes else None,
                numbers(notes["screen"]) if "screen" in notes else None,
                tuple(numbers(v) for k, v in lines if k == "above"), notes.get("xwayland") == "1")


def release(directory, n, then=None):
    """Lets the program held at frame n go on; with `then` (frame numbers),
    it holds at those of the frames after instead of the ones it was given
    (hold.txt, written whole before the release)."""
    if then is not None:
        path = os.path.join(directory, HOLD_LIST)
        with open(path + ".part", "w") as f:
            f.write(frame_list(then))
            f.flush()
        os.replace(path + ".part", path)
    try:
        os.remove(os.path.join(directory, held_name(n)))
    except FileNotFoundError:
        pass


class Frame:
    """A binary PPM as the capture library writes it, top row first
    (pixels: rows x columns x 3, 0..255), with what it recorded of the
    window, the viewport and the samples."""

    def __init__(self, path):
        with open(path, "rb") as f:
            data = bytearray(os.fstat(f.fileno()).st_size)  # read once, into memory the pixels keep
            del data[f.readinto(data):]
        head = re.match(rb"P6\s+((?:#[^\n]*\n\s*)*)(\d+)\s+(\d+)\s+255\s", data)
        if not head:
            raise ValueError(f"{path}: not a binary PPM")
        notes = dict(re.findall(r"# (\w+) ([^\n]*)", head.group(1).decode()))
        self.w, self.h = int(head.group(2)), int(head.group(3))
        if len(data) - head.end() < self.w * self.h * 3:
            raise ValueError(f"{path}: {len(data) - head.end()} bytes of pixels, {self.w * self.h * 3} expected")
        self.pixels = np.frombuffer(data, np.uint8, self.w * self.h * 3, head.end()).reshape(self.h, self.w, 3)
        size = lambda key: tuple(int(v) for v in notes[key].split()[0].split("x")) if key in notes else None
        self.number = int(notes.get("frame", 0)) or None
        self.window = size("window") or (self.w, self.h)
        self.since = int(notes["window"].split()[-1]) if "since" in notes.get("window", "") else 0
        self.drawable = size("drawable") if size("drawable") not in (None, (0, 0)) else self.window  # unknown
        self.viewport = tuple(int(v) for v in notes.get("viewport", f"0 0 {self.w} {self.h}").split())
        self.samples = int(notes.get("samples", 0))
        p = [float(v) for v in notes.get("positions", "").split()]
        self.positions = list(zip(p[::2], p[1::2])) or STANDARD_POSITIONS.get(self.samples, [(0.5, 0.5)])

    def unsettled(self):
        """Why this frame is no evidence of the scene, or None: a window that
        changed size at the last swap or the one before may have had the
        frame drawn into buffers of its old size."""
        if len({self.window, self.drawable, self.viewport[2:]}) > 1 or self.viewport[:2] != (0, 0) or (
                self.since and self.since >= self.number - 1):
            (w, h), (dw, dh), (_, _, vw, vh) = self.window, self.drawable, self.viewport
            return (f"drawn while the window changed size (window {w} x {h} since frame {self.since}, "
                    f"drawable {dw} x {dh}, viewport {vw} x {vh})")


def main(argv):
    parser = argparse.ArgumentParser(prog="python3 -m check.capture", description=__doc__.split("\n\n")[0])
    parser.add_argument("--library", required=True, help="the capture library (frame_capture.so)")
    parser.add_argument("--frame", type=int, required=True)
    parser.add_argument("--out", required=True, help="the PNG to write")
    parser.add_argument("command", nargs="+")
    args = parser.parse_args(argv[1:])
    from PIL import Image
    with tempfile.TemporaryDirectory() as scratch:
        env = environment(scratch, os.path.abspath(args.library), [args.frame], end=args.frame)
        status = subprocess.run(args.command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode
        path = os.path.join(scratch, frame_name(args.frame))
        if status != 0 or not os.path.exists(path):
            print(f"capture: no frame {args.frame} (status {status}): {', '.join(report(scratch).errors)}",
                  file=sys.stderr)
            return 1
        Image.fromarray(Frame(path).pixels).save(args.out)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
