"""Does this machine draw the demo right? Runs the real demo under the
capture library in a scratch folder, with test photographs of its own, and
checks chosen frames object by object against the scene as the demo builds
it (scene.py), one check at a time (frame.py); then writes a report with a
picture of every check (report.py).

  python3 -m check.run --demo DEMO --capture frame_capture.so --data DATA
                       [--keep DIR] [--report DIR]

DATA holds the project's shaders; the plainest pair (the vertex colour; the
texel, unmodulated) lies in check/plain/. The demo runs on the current
DISPLAY with whatever GL it gets there. Prints GL's strings, one line per
check ("ok NAME" or "FAIL NAME: what is wrong and where", "skip NAME: why",
or "error NAME: what went wrong" where the checker itself could not judge),
the time to the first frame and the frame rate, "report: PATH", then "N
passed, M failed" (errors count as failed). The status is 0 when every check
passed, 1 when one failed, 3 when the checker itself failed (an error line),
2 for a usage error or a folder refused.

--keep DIR keeps the scratch folder (photographs, frames, output) in DIR;
--report DIR writes the report there (by default into check-report/ beside
the demo, replacing the report there). Each DIR must be missing or empty:
a folder that holds anything is refused, and nothing in it is touched."""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
from typing import NamedTuple

from . import report
from .frame import Frame, check_frame
from .photographs import PHOTOGRAPHS
from .scene import PLAIN_TINT, PROJECT_TINT, Scene

FRAMES = (1, 30, 60, 90, 135, 225)
# The demo is given this long to draw its frames and end.
DEMO_SECONDS = 180


class Verdict(NamedTuple):
    """One line of the run, and what its picture shows."""
    kind: str  # "ok", "FAIL", "skip" or "error"
    name: str
    says: str = ""  # the words after the name
    frame: object = None  # the Frame judged, if any
    scene: object = None  # the scene it was judged against
    problem: object = None  # frame.Problem, for a FAIL

    def text(self):
        """The line as printed."""
        return f"{self.kind} {self.name}" + (f": {self.says}" if self.says else "")


class Run:
    def __init__(self, demo, capture, data, scratch):
        self.demo, self.capture, self.data, self.scratch = demo, capture, data, scratch
        self.verdicts, self.notes = [], []
        self.magick = shutil.which("magick") or "convert"

    def count(self, *kinds):
        return sum(v.kind in kinds for v in self.verdicts)

    def note(self, text):
        """A line about the machine or the run, not a check."""
        self.notes.append(text)
        print(text, flush=True)

    def line(self, verdict):
        self.verdicts.append(verdict)
        print(verdict.text(), flush=True)

    def say(self, ok, name, problem=None, frame=None, scene=None, evidence=None):
        self.line(Verdict("ok" if ok else "FAIL", name, "" if ok else problem, frame, scene, evidence))

    def error(self, name, what, frame=None, scene=None):
        self.line(Verdict("error", name, what, frame, scene))

    def skip(self, name, why, frame=None):
        self.line(Verdict("skip", name, why, frame))

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
                                        stdin=subprocess.DEVNULL, timeout=DEMO_SECONDS).returncode
            except subprocess.TimeoutExpired:
                status = f"a time-out after {DEMO_SECONDS} s"
        notes = {}
        if os.path.exists(os.path.join(folder, "report.txt")):
            with open(os.path.join(folder, "report.txt")) as f:
                notes = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
        first = int(notes.get("first_swap_ns", "0"))
        output = ""
        for name in ("stdout", "stderr"):
            with open(os.path.join(folder, name), errors="replace") as f:
                output += f.read()
        return status, output, notes, (first - t0) / 1e9 if first else None

    def frames(self, folder, names):
        return {n: Frame(os.path.join(folder, n)) for n in names if os.path.exists(os.path.join(folder, n))}

    def settled(self, name, frame):
        """True for a frame that is evidence of the scene; else a skip line."""
        why = frame.unsettled()
        if why:
            self.skip(f"{name}: frame {frame.number}", f"{why}; not judged", frame)
        return not why

    def judge(self, name, results, first=()):
        """One line for a group of (frame, scene, [Result]) results; with
        several checks, the first failing one is named, those in `first`
        before the rest. An error in any of them is the line."""
        for f, scene, res in results:
            for r in res:
                if r.error:
                    self.error(name, f"frame {f.number}: {r.name}: {r.error}", f, scene)
                    return
        rank = lambda c: first.index(c) if c in first else len(first)
        problems = [(rank(r.name), f.number, f, scene, r) for f, scene, res in results for r in res if r.problem]
        if not problems:  # shown on frame 30, where both quads lean clearly, if it was judged
            f, scene, _ = min(results, key=lambda x: x[0].number != 30)
            self.say(True, name, frame=f, scene=scene)
            return
        _, n, f, scene, r = min(problems, key=lambda x: x[:2])
        several = len({r.name for _, _, res in results for r in res}) > 1
        says = f"frame {n}: {r.name}: {r.problem.says}" if several else f"frame {n}: {r.problem.says}"
        self.say(False, name, says, f, scene, r.problem)


def demo_failed(output, status):
    lines = [l.strip() for l in output.splitlines()
             if l.strip() and not l.startswith(("dbc:", "dbi:", "peak_rss", "ATTENTION:"))]
    keep = [l for l in lines if not l.startswith(("Vertex Shader", "Fragment Shader", "Status:"))]
    return f"{' '.join(keep[-3:]) or 'no message'} (status {status})"


def refused(path):
    """Why a folder given for output cannot be used, or None: it must be
    missing or an empty folder, so that nothing of the user's is touched."""
    if not os.path.lexists(path):
        return None
    if not os.path.isdir(path) or os.path.islink(path):
        return "is not a folder"
    if os.listdir(path):
        return "is not empty"
    return None


def main(argv):
    parser = argparse.ArgumentParser(prog="check", description=__doc__.split("\n\n")[0],
                                     epilog="Status: 0 passed, 1 a check failed, 2 usage, 3 the checker failed.")
    parser.add_argument("--demo", required=True)
    parser.add_argument("--capture", required=True)
    parser.add_argument("--data", required=True)
    parser.add_argument("--keep", metavar="DIR", help="keep the scratch folder in DIR (missing or empty)")
    parser.add_argument("--report", metavar="DIR", help="write the report in DIR (missing or empty)")
    args = parser.parse_args(argv[1:])
    demo, capture, data = (os.path.abspath(p) for p in (args.demo, args.capture, args.data))
    keep = args.keep and os.path.abspath(args.keep)
    folder = args.report and os.path.abspath(args.report)
    for option, path in (("--keep", keep), ("--report", folder)):
        if path and refused(path):
            print(f"check: {option} {path} {refused(path)}; give a new or an empty folder", file=sys.stderr)
            return 2
    if keep and keep == folder:
        print("check: --keep and --report need two folders", file=sys.stderr)
        return 2
    if not folder:
        folder = os.path.join(os.path.dirname(demo), "check-report")
        report.clear(folder)
    plain = os.path.join(os.path.dirname(os.path.abspath(__file__)), "plain")
    scratch = tempfile.mkdtemp(prefix="demo-check.")
    run = Run(demo, capture, data, scratch)
    try:
        check(run, plain)
    except Exception as e:  # noqa: BLE001 - the checker's own failure, said as such
        run.error("checker", f"{type(e).__name__}: {e}")
    finally:
        if keep:
            shutil.copytree(scratch, keep, dirs_exist_ok=True)
        shutil.rmtree(scratch, ignore_errors=True)
    return finish(run, folder)


def check(run, plain):
    frame_names = [f"frame-{n}.ppm" for n in FRAMES]

    # The project's shaders, then l with a smaller photograph, then a resize.
    d = run.folder("project", run.data)
    photo = run.photograph(d, "quadrants")
    small = run.photograph(d, "yellow", "next.jpg")
    status, output, notes, _ = run.start(d, {
        "CAPTURE_FRAMES": ",".join(str(n) for n in FRAMES + (241,)), "CAPTURE_RENAME": "240:next.jpg:pacific.jpg",
        "CAPTURE_KEYS": "240:l", "CAPTURE_RESIZE": "245:800x300"})  # the resize ends it
    for key, label in (("renderer", "renderer"), ("vendor", "vendor"), ("version", "OpenGL version"),
                       ("glsl", "GLSL version")):
        run.note(f"{label}: {notes.get(key) or 'unknown'}")
    if status != 0:
        run.say(False, "demo: start-up and frames", demo_failed(output, status))
        return
    shots = run.frames(d, frame_names + ["frame-241.ppm", "resized.ppm"])
    if shots and max(f.samples for f in shots.values()) > 1:
        run.note(f"multisampling: {max(f.samples for f in shots.values())} samples a pixel")
    run.say(True, "demo: start-up and frames", frame=shots.get("frame-30.ppm"),
            scene=Scene(30, photo, PROJECT_TINT, *frame_size(shots.get("frame-30.ppm"))))
    check_set(run, "project shaders", shots, photo, PROJECT_TINT)

    # After l: the new size, the start-up texture.
    name = "after l: the image quad takes the new size, the texture stays"
    f = shots.get("frame-241.ppm")
    if f is None:
        run.say(False, name, "no frame after l")
    elif run.settled(name, f):
        scene = Scene(241, small, PROJECT_TINT, f.w, f.h, texture=photo)
        res = check_frame(f, scene)
        run.judge(name, [(f, scene, [r for r in res if r.name.startswith(("image quad", "scene"))])],
                  first=("image quad: pixel rectangle",))

    # After a resize, where the window system allows one.
    name = "after a resize to 800 x 300: the picture stretches with the window"
    r = shots.get("resized.ppm")
    if r is None:
        run.say(False, name, "no frame after the resize")
    elif r.window != (800, 300):
        run.skip(name, f"the window stayed {r.window[0]} x {r.window[1]} (the window system refused)", r)
    elif (r.w, r.h) != (800, 300):
        run.say(False, name, f"the viewport stayed {r.w} x {r.h} in the 800 x 300 window", r)
    elif run.settled(name, r):
        scene = Scene(r.number, small, PROJECT_TINT, 800, 300, texture=photo)
        run.judge(name, [(r, scene, check_frame(r, scene))])

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
            scene = Scene(90, photo, PROJECT_TINT, f.w, f.h)
            run.judge(name, [(f, scene, check_frame(f, scene))],
                      first=("image quad: the photograph right way up", "image quad: pixel rectangle"))

    # Speed: the first frame, then frames over three seconds.
    d = run.folder("speed", run.data)
    shutil.copy(os.path.join(run.data, "pacific.jpg"), d)
    status, output, notes, first = run.start(d, {"CAPTURE_SECONDS": "3"})
    frames = int(notes.get("frames", "0"))
    span = (int(notes.get("last_swap_ns", "0")) - int(notes.get("first_swap_ns", "0"))) / 1e9
    if status == 0 and first is not None and frames > 1 and span > 0:
        run.note(f"first frame: {first * 1000:.0f} ms after start")
        run.note(f"frame rate: {(frames - 1) / span:.0f} frames per second over {span:.1f} s")
    else:
        run.say(False, "demo: frame rate", demo_failed(output, status))


def frame_size(frame):
    return (frame.w, frame.h) if frame else (640, 480)


def check_set(run, label, shots, photo, tint):
    """Every check on the frames of FRAMES that are evidence of the scene."""
    results = {}
    for n in FRAMES:
        f = shots.get(f"frame-{n}.ppm")
        if f is None:
            run.say(False, f"frames ({label})", f"frame {n} was not captured")
            return
        if run.settled(f"frames ({label})", f):
            scene = Scene(n, photo, tint, f.w, f.h)
            for r in check_frame(f, scene):
                results.setdefault(r.name, []).append((f, scene, [r]))
    if not results:
        run.say(False, f"frames ({label})", "no frame was drawn in a window of settled size")
    for name, res in results.items():
        run.judge(f"{name} ({label})", res)


def finish(run, folder):
    """The report's line and the closing line; the status."""
    try:
        path = report.write(run.verdicts, folder, run.notes)
        print(f"report: {path}", flush=True)
    except Exception as e:  # noqa: BLE001 - the report is the checker's, not the machine's
        run.error("report", f"{type(e).__name__}: {e}")
    passed, failed, skipped, errors = run.count("ok"), run.count("FAIL", "error"), run.count("skip"), run.count("error")
    tail = f", {skipped} skipped" if skipped else ""
    print(f"{passed} passed, {failed} failed{tail}", flush=True)
    return 3 if errors else 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
