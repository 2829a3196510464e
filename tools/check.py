#!/usr/bin/env python3
"""Does this machine draw the demo right? Runs the real demo under the
frame-capture library in a scratch folder, with test photographs of its own,
and checks chosen frames object by object against the scene as the demo
builds it (check_scene.py), one check at a time (check_frame.py).

  check.py --demo DEMO --capture frame_capture.so --data DATA [--keep DIR]

DATA holds the project's shaders; the plainest pair (the vertex colour; the
texel, unmodulated) lies beside this file in plain/. The demo runs on the
current DISPLAY with whatever GL it gets there. Prints GL's strings, one line
per check ("ok NAME" or "FAIL NAME: what is wrong and where", "skip NAME:
why", or "error NAME: what went wrong" where the checker itself could not
judge), the time to the first frame and the frame rate, then "N passed, M
failed" (errors count as failed). The status is 0 when every check passed,
1 when one failed, 3 when the checker itself failed (an error line), 2 for
a usage error. --keep DIR keeps the scratch folder (photographs, frames,
output) as DIR."""
import os
import shutil
import subprocess
import sys
import tempfile
import time

from check_frame import Frame, check_frame
from check_scene import BLUE, PLAIN_TINT, PROJECT_TINT, RED, YELLOW, Photo, Scene, framed

FRAMES = (1, 30, 60, 90, 135, 225)


def framed_args(w, h, colours=("red", "lime", "blue", "white")):
    """ImageMagick's arguments for framed(w, h, ...): quadrants inside a white
    frame a sixth of each side wide."""
    out = ["-size", f"{w}x{h}", "xc:white"]
    for colour, (x, y) in zip(colours, ((1, 1), (3, 1), (1, 3), (3, 3))):
        out += ["-fill", colour, "-draw", f"rectangle {x * w // 6},{y * h // 6} {(x + 2) * w // 6 - 1},{(y + 2) * h // 6 - 1}"]
    return out


# The test photographs: what the checker expects, how ImageMagick makes it.
GREYS = ("gray(60)", "gray(120)", "gray(180)", "gray(240)")
PHOTOGRAPHS = {
    "quadrants": (framed(336, 240), framed_args(336, 240)),
    "grayscale": (framed(336, 240, *[(v,) * 3 for v in (60, 120, 180, 240)]),
                  framed_args(336, 240, GREYS) + ["-colorspace", "Gray"]),
    "Adobe CMYK": (framed(336, 240), framed_args(336, 240) + ["-colorspace", "CMYK"]),
    "odd size": (Photo(33, 31, [12 / 33, 15 / 33], [], [[BLUE, RED, BLUE]]),
                 ["-size", "33x31", "xc:blue", "-fill", "red", "-draw", "rectangle 12,0 14,30"]),
    "yellow": (Photo(160, 100, [], [], [[YELLOW]]), ["-size", "160x100", "xc:yellow"]),
}


class Run:
    def __init__(self, demo, capture, data, scratch):
        self.demo, self.capture, self.data, self.scratch = demo, capture, data, scratch
        self.passed = self.failed = self.skipped = self.errors = 0
        self.magick = shutil.which("magick") or "convert"

    def say(self, ok, name, problem=None):
        if ok:
            self.passed += 1
            print(f"ok {name}", flush=True)
        else:
            self.failed += 1
            print(f"FAIL {name}: {problem}", flush=True)

    def error(self, name, what):
        self.failed += 1
        self.errors += 1
        print(f"error {name}: {what}", flush=True)

    def skip(self, name, why):
        self.skipped += 1
        print(f"skip {name}: {why}", flush=True)

    def folder(self, name, shaders):
        d = os.path.join(self.scratch, name)
        os.makedirs(d)
        for f in ("vertex1.glsl", "fragment1.glsl", "vertex2.glsl", "fragment2.glsl"):
            shutil.copy(os.path.join(shaders, f), d)
        return d

    def photograph(self, folder, kind, name="pacific.jpg"):
        """Makes the test photograph `kind` in the folder; returns what the
        checker expects of it."""
        photo, args = PHOTOGRAPHS[kind]
        subprocess.run([self.magick, *args, "-sampling-factor", "1x1", "-quality", "100", os.path.join(folder, name)],
                       check=True, stderr=subprocess.DEVNULL)
        return photo

    def start(self, folder, env):
        """Runs the demo in `folder` to its end: (status, output, report,
        seconds from exec to the first swap)."""
        e = {**os.environ, **env, "vblank_mode": "0", "__GL_SYNC_TO_VBLANK": "0", "CAPTURE_DIR": folder}
        e["LD_PRELOAD"] = " ".join(filter(None, [self.capture, env.get("LD_PRELOAD"), os.environ.get("LD_PRELOAD")]))
        t0 = time.monotonic_ns()
        with open(os.path.join(folder, "stdout"), "wb") as out, open(os.path.join(folder, "stderr"), "wb") as err:
            try:
                status = subprocess.run([self.demo], cwd=folder, env=e, stdout=out, stderr=err,
                                        stdin=subprocess.DEVNULL, timeout=180).returncode
            except subprocess.TimeoutExpired:
                status = "a time-out after 180 s"
        report = {}
        if os.path.exists(os.path.join(folder, "report.txt")):
            with open(os.path.join(folder, "report.txt")) as f:
                report = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
        first = int(report.get("first_swap_ns", "0"))
        output = ""
        for name in ("stdout", "stderr"):
            with open(os.path.join(folder, name), errors="replace") as f:
                output += f.read()
        return status, output, report, (first - t0) / 1e9 if first else None

    def frames(self, folder, names):
        return {n: Frame(os.path.join(folder, n)) for n in names if os.path.exists(os.path.join(folder, n))}

    def settled(self, name, frame):
        """True for a frame that is evidence of the scene; else a skip line."""
        why = frame.unsettled()
        if why:
            self.skip(f"{name}: frame {frame.number}", f"{why}; not judged")
        return not why

    def judge(self, name, results, first=()):
        """One line for a group of (frame, [Result]) results; with several
        checks, the first failing one is named, those in `first` before the
        rest. An error in any of them is the line."""
        errors = [(f, r) for f, res in results for r in res if r.error]
        if errors:
            f, r = errors[0]
            self.error(name, f"frame {f}: {r.name}: {r.error}")
            return
        rank = lambda c: first.index(c) if c in first else len(first)
        problems = [(rank(r.name), f, r.name, r.problem) for f, res in results for r in res if r.problem]
        if not problems:
            self.say(True, name)
            return
        _, f, c, p = min(problems, key=lambda x: x[:2])
        several = len({r.name for _, res in results for r in res}) > 1
        self.say(False, name, f"frame {f}: {c}: {p}" if several else f"frame {f}: {p}")


def demo_failed(output, status):
    lines = [l.strip() for l in output.splitlines()
             if l.strip() and not l.startswith(("dbc:", "dbi:", "peak_rss", "ATTENTION:"))]
    keep = [l for l in lines if not l.startswith(("Vertex Shader", "Fragment Shader", "Status:"))]
    return f"{' '.join(keep[-3:]) or 'no message'} (status {status})"


def main(argv):
    args = dict(zip(argv[1::2], argv[2::2]))
    needed = {"--demo", "--capture", "--data"}
    if len(argv) % 2 == 0 or not needed <= set(args) <= needed | {"--keep"}:
        print(__doc__.split("\n\n")[1], file=sys.stderr)
        return 2
    demo, capture, data = (os.path.abspath(args[k]) for k in ("--demo", "--capture", "--data"))
    plain = os.path.join(os.path.dirname(os.path.abspath(__file__)), "plain")
    scratch = tempfile.mkdtemp(prefix="demo-check.")
    run = Run(demo, capture, data, scratch)
    try:
        return check(run, plain)
    except Exception as e:  # noqa: BLE001 - the checker's own failure, said as such
        run.error("checker", f"{type(e).__name__}: {e}")
        return finish(run)
    finally:
        if "--keep" in args:
            shutil.rmtree(args["--keep"], ignore_errors=True)
            shutil.copytree(scratch, args["--keep"])
        shutil.rmtree(scratch, ignore_errors=True)


def check(run, plain):
    frame_names = [f"frame-{n}.ppm" for n in FRAMES]

    # The project's shaders, then l with a smaller photograph, then a resize.
    d = run.folder("project", run.data)
    photo = run.photograph(d, "quadrants")
    small = run.photograph(d, "yellow", "next.jpg")
    status, output, report, _ = run.start(d, {
        "CAPTURE_FRAMES": ",".join(str(n) for n in FRAMES + (241,)), "CAPTURE_RENAME": "240:next.jpg:pacific.jpg",
        "CAPTURE_KEYS": "240:l", "CAPTURE_RESIZE": "245:800x300"})  # the resize ends it
    for key, label in (("renderer", "renderer"), ("vendor", "vendor"), ("version", "OpenGL version"),
                       ("glsl", "GLSL version")):
        print(f"{label}: {report.get(key) or 'unknown'}", flush=True)
    if status != 0:
        run.say(False, "demo: start-up and frames", demo_failed(output, status))
        return finish(run)
    shots = run.frames(d, frame_names + ["frame-241.ppm", "resized.ppm"])
    if shots and max(f.samples for f in shots.values()) > 1:
        print(f"multisampling: {max(f.samples for f in shots.values())} samples a pixel", flush=True)
    run.say(True, "demo: start-up and frames")
    check_set(run, "project shaders", shots, photo, PROJECT_TINT)

    # After l: the new size, the start-up texture.
    name = "after l: the image quad takes the new size, the texture stays"
    f = shots.get("frame-241.ppm")
    if f is None:
        run.say(False, name, "no frame after l")
    elif run.settled(name, f):
        res = check_frame(f, Scene(241, small, PROJECT_TINT, f.w, f.h, texture=photo))
        run.judge(name, [(241, [r for r in res if r.name.startswith(("image quad", "scene"))])],
                  first=("image quad: pixel rectangle",))

    # After a resize, where the window system allows one.
    name = "after a resize to 800 x 300: the picture stretches with the window"
    r = shots.get("resized.ppm")
    if r is None:
        run.say(False, name, "no frame after the resize")
    elif r.window != (800, 300):
        run.skip(name, f"the window stayed {r.window[0]} x {r.window[1]} (the window system refused)")
    elif (r.w, r.h) != (800, 300):
        run.say(False, name, f"the viewport stayed {r.w} x {r.h} in the 800 x 300 window")
    elif run.settled(name, r):
        res = check_frame(r, Scene(r.number, small, PROJECT_TINT, 800, 300, texture=photo))
        run.judge(name, [(r.number, res)])

    # The plainest shaders: a fault in the program cannot hide behind them.
    d = run.folder("plain", plain)
    run.photograph(d, "quadrants")
    status, output, _, _ = run.start(d, {"CAPTURE_FRAMES": ",".join(map(str, FRAMES)),
                                         "CAPTURE_EXIT": str(FRAMES[-1])})
    if status != 0:
        run.say(False, "plain shaders: start-up", demo_failed(output, status))
    else:
        check_set(run, "plain shaders", run.frames(d, frame_names), photo, PLAIN_TINT)

    # Photographs of other kinds, each at frame 90 (the tiled quad edge-on).
    for kind, name in (("grayscale", "grayscale: shown grey, not skewed"),
                       ("Adobe CMYK", "Adobe CMYK: shown in its true colours"),
                       ("odd size", "odd size 33 x 31: centred, rows read tightly packed")):
        name = f"photograph: {name}"
        d = run.folder(kind.replace(" ", "-"), run.data)
        photo = run.photograph(d, kind)
        status, output, _, _ = run.start(d, {"CAPTURE_FRAMES": "90", "CAPTURE_EXIT": "90"})
        got = run.frames(d, ["frame-90.ppm"])
        if status != 0 or not got:
            run.say(False, name, demo_failed(output, status))
        elif run.settled(name, got["frame-90.ppm"]):
            f = got["frame-90.ppm"]
            run.judge(name, [(90, check_frame(f, Scene(90, photo, PROJECT_TINT, f.w, f.h)))],
                      first=("image quad: the photograph right way up", "image quad: pixel rectangle"))

    # Speed: the first frame, then frames over three seconds.
    d = run.folder("speed", run.data)
    shutil.copy(os.path.join(run.data, "pacific.jpg"), d)
    status, output, report, first = run.start(d, {"CAPTURE_SECONDS": "3"})
    frames = int(report.get("frames", "0"))
    span = (int(report.get("last_swap_ns", "0")) - int(report.get("first_swap_ns", "0"))) / 1e9
    if status == 0 and first is not None and frames > 1 and span > 0:
        print(f"first frame: {first * 1000:.0f} ms after start", flush=True)
        print(f"frame rate: {(frames - 1) / span:.0f} frames per second over {span:.1f} s", flush=True)
    else:
        run.say(False, "demo: frame rate", demo_failed(output, status))
    return finish(run)


def check_set(run, label, shots, photo, tint):
    """Every check on the frames of FRAMES that are evidence of the scene."""
    results = {}
    for n in FRAMES:
        f = shots.get(f"frame-{n}.ppm")
        if f is None:
            run.say(False, f"frames ({label})", f"frame {n} was not captured")
            return
        if run.settled(f"frames ({label})", f):
            for r in check_frame(f, Scene(n, photo, tint, f.w, f.h)):
                results.setdefault(r.name, []).append((n, [r]))
    if not results:
        run.say(False, f"frames ({label})", "no frame was drawn in a window of settled size")
    for name, res in results.items():
        run.judge(f"{name} ({label})", res)


def finish(run):
    tail = f", {run.skipped} skipped" if run.skipped else ""
    print(f"{run.passed} passed, {run.failed} failed{tail}", flush=True)
    return 3 if run.errors else 1 if run.failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
