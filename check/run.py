"""Does this machine draw the demo right? Runs the real demo under the
capture library in a scratch folder, with test photographs of its own, and
checks every frame of a whole turn, with the project's shaders and with the
plainest ones, object by object against the scene as the demo builds it
(scene.py, frame.py); then `l`, a resize, photographs of other kinds and the
speed; then writes a report with a picture of every check (report.py).

  python3 -m check.run --demo DEMO --capture frame_capture.so --data DATA
                       [--keep DIR] [--report DIR]

DATA holds the project's shaders; the plainest pair (the vertex colour; the
texel, unmodulated) lies in check/plain/. The demo runs on the current
DISPLAY with whatever GL it gets there. Prints GL's strings, one line per
check ("ok NAME" or "FAIL NAME: frames A-B, C: what is wrong at the first
of them", "skip NAME: why", or "error NAME: what went wrong" where the
checker itself could not judge), how many frames were judged, the time to
the first frame and the frame rate, "report: PATH", then "N passed, M
failed" (errors count as failed; a FAIL that follows from another object's
fault is counted apart, as following). The status is 0 when every check
passed, 1 when one failed, 3 when the checker itself failed (an error
line), 2 for a usage error or a folder refused, 130 when interrupted.

--keep DIR keeps the scratch folder (photographs, every frame, output) in
DIR; --report DIR writes the report there (by default into check-report/
beside the demo, replacing the report there). Each DIR must be missing or
empty: a folder that holds anything is refused, and nothing in it is
touched."""
import argparse
import ctypes
import multiprocessing
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from collections import deque
from typing import NamedTuple

from . import capture, report
from .capture import Frame
from .frame import ANGLE, CAUSE, CHECKS, WHOLE, check_frame
from .photographs import PHOTOGRAPHS
from .scene import PLAIN_TINT, PROJECT_TINT, Scene
from .whole import across_frames

# A turn: frames 1 to 360, each at its own angle; frames 361 to 365 judge
# angles 1 to 5 again where a window manager's resize left those unjudged.
TURN = 360
AGAIN = 5
# With the project's shaders: l after frame L_AT (a smaller photograph
# renamed into place first), the frame after it judged; then a resize.
L_AT = TURN + AGAIN
RESIZE_AT = L_AT + 5
# The demo waits before saving a frame while this many wait to be judged
# (about 30 MB at 640 x 480).
AHEAD = 32
# The demo is given this long to draw its frames and end, and this long for
# each frame while it is not waiting for the checker.
DEMO_SECONDS = 180
FRAME_SECONDS = 60
# The checker is given this long to judge a frame that waits for it.
JUDGE_SECONDS = 60
# A passing check shows this frame, where both quads lean clearly; a failing
# one the first frame of each range of failing frames, up to PICTURES.
SHOWN = 30
PICTURES = 3
TINTS = {"project": PROJECT_TINT, "plain": PLAIN_TINT}


class Verdict(NamedTuple):
    """One line of the run, and what its pictures show."""
    kind: str  # "ok", "FAIL", "skip" or "error"
    name: str
    says: str = ""  # the words after the name
    frame: object = None  # the Frame judged, if any
    scene: object = None  # the scene it was judged against
    problem: object = None  # frame.Problem, for a FAIL
    follows: str = None  # for a FAIL that follows from another check's fault: that check
    more: tuple = ()  # (frame, scene, problem) of each later range's first frame

    def text(self):
        """The line as printed."""
        return f"{self.kind} {self.name}" + (f": {self.says}" if self.says else "")


class Interrupted(Exception):
    pass


def ranges(numbers):
    """Frame numbers as ranges: "1-3, 7"."""
    out = []
    for n in sorted(numbers):
        if out and out[-1][1] == n - 1:
            out[-1][1] = n
        else:
            out.append([n, n])
    return ", ".join(f"{a}" if a == b else f"{a}-{b}" for a, b in out)


def frames_words(numbers):
    return f"frame{'s' if len(numbers) > 1 else ''} {ranges(numbers)}"


def worker():
    """A worker leaves Ctrl-C to the run, which stops it."""
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    keep_freed_memory()


def keep_freed_memory():
    """Keeps the memory a frame freed for the next: glibc returns large
    blocks to the system at once, and every frame would take the kernel's
    page faults anew."""
    try:
        libc = ctypes.CDLL(None)
        libc.mallopt(-3, 64 << 20)  # M_MMAP_THRESHOLD
        libc.mallopt(-1, 256 << 20)  # M_TRIM_THRESHOLD
    except (OSError, AttributeError):
        pass


def interrupt(*_):
    raise Interrupted()


def judge_frame(path, tint, photo):
    """A worker's part: one frame of a turn (the test photograph `photo`,
    the shaders' `tint`) judged: (its number, why it is no evidence or None,
    [frame.Result] or None)."""
    f = Frame(path)
    why = f.unsettled()
    results = None
    if not why:
        results = check_frame(f, Scene(f.number, PHOTOGRAPHS[photo][0], TINTS[tint], f.w, f.h))
    return f.number, why, results


class Tally:
    """A check's verdicts over the frames of a sweep, in frame order."""

    def __init__(self):
        self.failing, self.following, self.errors = [], {}, []
        self.pictures = []  # (frame number, problem) of each failing range's first frame
        self.last = None  # the last frame it failed at

    def add(self, n, result):
        if result.error:
            self.errors.append((n, result.error))
        elif result.problem and not result.follows:
            if self.last != n - 1 or not self.failing:
                self.pictures.append((n, result.problem))
            self.failing.append(n)
            self.last = n
        elif result.problem:
            self.following.setdefault(n, result.follows)


class Run:
    def __init__(self, demo, capture_library, data, scratch, keep=False):
        self.demo, self.capture, self.data, self.scratch = demo, capture_library, data, scratch
        self.keep = keep
        self.verdicts, self.notes, self.strips = [], [], {}
        self.magick = shutil.which("magick") or "convert"
        self.process, self.pool, self.unsaved = None, None, False
        self.slow = False  # the checker fell behind the demo: its own line says so
        self.whole = {}  # each cause of the whole frame named in a turn: (its frames, its line)

    def workers(self, path, tint, photo):
        """Starts the processes that judge frames, once the first frame has
        warmed what every frame of its window shares (caught in frame.CACHE),
        so that they start with it."""
        try:
            judge_frame(path, tint, photo)
        except Exception:  # noqa: BLE001 - the worker judging it will say
            pass
        self.pool = multiprocessing.get_context("fork").Pool(os.cpu_count() or 2, initializer=worker)

    def count(self, *kinds):
        return sum(v.kind in kinds and not v.follows for v in self.verdicts)

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

    def launch(self, folder, env=None, **how):
        """Starts the demo in `folder` under the capture library (capture.environment's
        arguments), with more of the environment in `env`; returns the time it started."""
        env = capture.environment(folder, self.capture, base={**os.environ, **(env or {})}, **how)
        env.update({"vblank_mode": "0", "__GL_SYNC_TO_VBLANK": "0"})
        out = open(os.path.join(folder, "stdout"), "wb")
        err = open(os.path.join(folder, "stderr"), "wb")
        t0 = time.monotonic_ns()
        with out, err:
            self.process = subprocess.Popen([self.demo], cwd=folder, env=env, stdout=out, stderr=err,
                                            stdin=subprocess.DEVNULL)
        self.deadline = time.monotonic() + DEMO_SECONDS
        self.last_frame, self.frames_seen, self.waiting = time.monotonic(), 0, 0
        return t0

    def running(self):
        """Whether the demo runs on; ended when it overstays, and why said in
        self.status: the demo drew no frame for FRAME_SECONDS while the
        checker held none back, or the run passed DEMO_SECONDS, with how
        many frames then waited to be judged (the checker fell behind)."""
        if self.process.poll() is None:
            now = time.monotonic()
            stalled = now - self.last_frame > FRAME_SECONDS and self.waiting < AHEAD
            if stalled or now > self.deadline:
                self.process.kill()
                self.process.wait()
                if stalled:
                    self.status = (f"a time-out: no frame for {FRAME_SECONDS} s"
                                   + (f", after frame {self.frames_seen}" if self.frames_seen else ""))
                else:
                    self.status = f"a time-out after {DEMO_SECONDS} s"
                    if self.waiting:
                        self.status += f", with {self.waiting} frames waiting to be judged"
                        self.slow = True
        return self.process.poll() is None

    def ended(self, folder):
        """Waits for the demo to end: (status, output, capture.Report)."""
        while self.running():
            time.sleep(0.01)
        status = getattr(self, "status", None) or self.process.returncode
        self.status = None
        output = ""
        for name in ("stdout", "stderr"):
            with open(os.path.join(folder, name), errors="replace") as f:
                output += f.read()
        notes = capture.report(folder, output)
        self.unsaved = bool(notes.errors)  # a frame missing for it is said once, by its error line
        if notes.errors:
            more = len(notes.errors) - 1
            self.error("capture", notes.errors[0] + (f" (and {more} more frame{'s' * (more > 1)} not saved)" * bool(more)))
        return status, output, notes

    def start(self, folder, env=None, **how):
        """Runs the demo in `folder` to its end: (status, output, report,
        seconds from exec to the first swap)."""
        t0 = self.launch(folder, env, **how)
        status, output, notes = self.ended(folder)
        return status, output, notes, (notes.first_swap_ns - t0) / 1e9 if notes.first_swap_ns else None

    def frames(self, folder, names):
        return {n: Frame(os.path.join(folder, n)) for n in names if os.path.exists(os.path.join(folder, n))}

    def settled(self, name, frame):
        """True for a frame that is evidence of the scene; else a skip line."""
        why = frame.unsettled()
        if why:
            self.skip(f"{name}: frame {frame.number}", f"{why}; not judged", frame)
        return not why

    def judge(self, name, results, first=(), whole_frame=()):
        """One line for a group of (frame, scene, [Result]) results; with
        several checks, the first failing one is named, those in `first`
        before the rest. An error in any of them is the line. A cause of the
        whole frame that a turn named already is followed from, and so is
        one in `whole_frame` (the frame's own Result of it, where the
        results leave it out)."""
        for f, scene, res in results:
            for r in res:
                if r.error:
                    self.error(name, f"frame {f.number}: {r.name}: {r.error}", f, scene)
                    return
        rank = lambda c: first.index(c) if c in first else len(first)
        f0, scene0, _ = results[0]
        whole = next((r for r in [r for _, _, res in results for r in res] + list(whole_frame)
                      if r.name == WHOLE and r.problem and not r.follows), None)
        if whole and whole.problem.cause in self.whole:  # a cause of the whole frame a turn has named
            named = self.whole[whole.problem.cause][1]
            self.line(Verdict("FAIL", name, f"frame {f0.number}: follows from {named}: {whole.problem.says}", f0,
                              scene0, whole.problem, follows=named))
            return
        problems = [(rank(r.name), f.number, f, scene, r) for f, scene, res in results for r in res
                    if r.problem and not r.follows]
        followers = [(f, scene, r) for f, scene, res in results for r in res if r.follows]
        if "lag" in self.whole and (problems or followers):  # each frame shows the one before it
            _, lagging = self.whole["lag"]
            self.line(Verdict("FAIL", name, f"frame {f0.number}: follows from {lagging}", f0, scene0,
                              follows=lagging))
            return
        if not problems and followers:  # what the line is about cannot be judged on its own
            f, scene, r = min(followers, key=lambda x: (rank(x[2].name), x[0].number))
            cause = f" ({whole.problem.says})" if whole and r.follows == WHOLE else ""
            self.line(Verdict("FAIL", name, f"frame {f.number}: {r.name}: {r.problem.says}{cause}", f, scene,
                              follows=r.follows))
            return
        if not problems:
            self.say(True, name, frame=f0, scene=scene0)
            return
        _, n, f, scene, r = min(problems, key=lambda x: x[:2])
        several = len({r.name for _, _, res in results for r in res}) > 1
        says = f"frame {n}: {r.name}: {r.problem.says}" if several else f"frame {n}: {r.problem.says}"
        self.say(False, name, says, f, scene, r.problem)

    # ------------------------------------------------------------ a sweep

    def sweep(self, label, folder, tint, photo, numbers, extra=()):
        """Judges the frames `numbers` in worker processes as the running
        demo writes them, in order; removes each once judged (or moves it
        to frames/ with --keep). Frames in `extra` are judged only where
        their angle was not. Returns {number: (why unsettled, [Result])},
        the frames kept for pictures by number, and a Tally of each check."""
        judged, kept, pending, tallies = {}, {}, deque(), {}
        last_judged = time.monotonic()
        wanted = list(numbers) + list(extra)
        kept_dir = os.path.join(folder, "frames")
        if self.keep:
            os.makedirs(kept_dir, exist_ok=True)
        i = 0
        while True:
            while i < len(wanted) and os.path.exists(os.path.join(folder, capture.frame_name(wanted[i]))):
                n = wanted[i]
                path = os.path.join(folder, capture.frame_name(n))
                angle = n % TURN or TURN
                if n in extra and judged.get(angle, ("not judged",))[0] is None:
                    pending.append((n, None))  # its angle was judged: not needed
                else:
                    if self.pool is None:
                        self.workers(path, tint, photo)
                    pending.append((n, self.pool.apply_async(judge_frame, (path, tint, photo))))
                i += 1
                self.last_frame, self.frames_seen = time.monotonic(), n
            self.waiting = len(pending)
            if pending and time.monotonic() - last_judged > JUDGE_SECONDS:
                self.slow = True
                self.error("checker", f"{len(pending)} frames waiting to be judged, none judged for "
                                      f"{JUDGE_SECONDS} s (from frame {pending[0][0]})")
                self.process.kill()
                break
            while pending and (pending[0][1] is None or pending[0][1].ready()):
                last_judged = time.monotonic()
                n, job = pending.popleft()
                path = os.path.join(folder, capture.frame_name(n))
                if job is not None:
                    _, why, results = job.get()
                    judged[n] = (why, results)
                    for r in results or ():
                        t = tallies.setdefault(r.name, Tally())
                        t.add(n, r)
                        if t.pictures and t.pictures[-1][0] == n and len(t.pictures) <= PICTURES and n not in kept:
                            kept[n] = Frame(path)
                    if n == SHOWN and n not in kept:
                        kept[n] = Frame(path)
                if self.keep:
                    os.replace(path, os.path.join(kept_dir, capture.frame_name(n)))
                else:
                    os.remove(path)
            if i >= len(wanted) and not pending:
                break
            if not self.running() and not pending and (
                    i >= len(wanted) or not os.path.exists(os.path.join(folder, capture.frame_name(wanted[i])))):
                break
            time.sleep(0.002)
        return judged, kept, tallies

    def turn(self, label, folder, tint, photo, judged, kept, tallies):
        """The lines of a turn: each check over every frame judged, its
        failing frames as ranges; the frames that were not judged; the strip
        of angles for the report."""
        # What only the frames together tell (a frame of lag, the frame
        # before showing through), then each check's verdicts over them.
        judged = across_frames(judged, WHOLE, ANGLE, TURN)
        tallies = {}
        for n in sorted(judged):
            for r in judged[n][1] or ():
                tallies.setdefault(r.name, Tally()).add(n, r)
        angles, unsettled = {}, {}
        for n in sorted(judged):
            why, results = judged[n]
            if why:
                unsettled[n] = why
                continue
            angle = n % TURN or TURN
            if angle in angles:
                continue
            worst = "ok"
            for r in results:
                if r.error:
                    worst = "error"
                elif r.problem and not r.follows and worst != "error":
                    worst = "FAIL"
                elif r.problem and worst == "ok":
                    worst = "follows"
            angles[angle] = (n, worst)
        missing = [n for n in range(1, TURN + 1) if n not in judged]
        unsaved = any(v.name == "capture" for v in self.verdicts)  # the error line says why
        if missing and not unsaved:
            self.say(False, f"frames ({label})", f"{frames_words(missing)} not captured")
        if unsettled:
            first = min(unsettled)
            self.skip(f"frames ({label})", f"{frames_words(list(unsettled))}: {unsettled[first]}; not judged")
        judged_angles = sorted(angles)
        self.note(f"frames judged ({label}): {len(judged_angles)} of {TURN} angles"
                  + (f", in frames {ranges(n for n, _ in angles.values())}" if judged_angles else ""))
        self.strips[label] = {a: v for a, (_, v) in angles.items()}
        if not judged_angles:
            if not unsaved:
                self.say(False, f"frames ({label})", "no frame was drawn in a window of settled size")
            return
        shown = kept.get(SHOWN) or next((kept[n] for n in sorted(kept)), None)
        for name, _ in CHECKS:
            t = tallies.get(name, Tally())
            line = f"{name} ({label})"
            scene_of = lambda f: f and Scene(f.number, PHOTOGRAPHS[photo][0], TINTS[tint], f.w, f.h)
            if t.errors:
                n, what = t.errors[0]
                f = kept.get(n)
                self.error(line, f"{frames_words([n for n, _ in t.errors])}: {what}", f, scene_of(f))
            elif t.failing:
                (n, problem), more = t.pictures[0], t.pictures[1:PICTURES]
                f = kept.get(n)
                if (name == WHOLE or problem.cause == "lag") and self.whole.get(problem.cause, (None,))[0] == t.failing:
                    # The same cause at the same frames as with the project's
                    # shaders: the machine's, whatever the shaders.
                    first = self.whole[problem.cause][1]
                    self.line(Verdict("FAIL", line, f"{frames_words(t.failing)}: follows from {first}", f,
                                      scene_of(f), problem, follows=first))
                    continue
                if name == WHOLE or problem.cause == "lag":
                    self.whole.setdefault(problem.cause, (t.failing, line))
                self.line(Verdict("FAIL", line, f"{frames_words(t.failing)}: {problem.says}", f, scene_of(f), problem,
                                  more=tuple((kept[m], scene_of(kept[m]), p) for m, p in more if m in kept)))
            elif t.following:
                n = min(t.following)
                cause = t.following[n]
                self.line(Verdict("FAIL", line, f"{frames_words(list(t.following))}: follows from {CAUSE[cause]}",
                                  kept.get(n), scene_of(kept.get(n)), follows=f"{cause} ({label})"))
            else:
                self.say(True, line, frame=shown, scene=scene_of(shown))


def demo_failed(output, status):
    lines = [l.strip() for l in output.splitlines()
             if l.strip() and not l.startswith(("dbc:", "dbi:", "peak_rss", "ATTENTION:", "frame-capture:"))]
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
                                     epilog="Status: 0 passed, 1 a check failed, 2 usage, 3 the checker failed, "
                                            "130 interrupted.")
    parser.add_argument("--demo", required=True)
    parser.add_argument("--capture", required=True)
    parser.add_argument("--data", required=True)
    parser.add_argument("--keep", metavar="DIR", help="keep the scratch folder in DIR (missing or empty)")
    parser.add_argument("--report", metavar="DIR", help="write the report in DIR (missing or empty)")
    args = parser.parse_args(argv[1:])
    demo, capture_library, data = (os.path.abspath(p) for p in (args.demo, args.capture, args.data))
    keep = args.keep and os.path.abspath(args.keep)
    folder = args.report and os.path.abspath(args.report)
    for option, path in (("--keep", keep), ("--report", folder)):
        if path and refused(path):
            print(f"check: {option} {path} {refused(path)}; give a new or an empty folder", file=sys.stderr)
            return 2
    if keep and keep == folder:
        print("check: --keep and --report need two folders", file=sys.stderr)
        return 2
    plain = os.path.join(os.path.dirname(os.path.abspath(__file__)), "plain")
    run = Run(demo, capture_library, data, None, keep=bool(keep))
    # Ctrl-C at a terminal reaches the whole process group: the demo ends,
    # and the run stops here, whatever it was doing.
    interrupted = False
    previous = signal.signal(signal.SIGINT, interrupt)
    try:
        if not folder:
            folder = os.path.join(os.path.dirname(demo), "check-report")
            report.clear(folder)
        if keep:
            os.makedirs(keep, exist_ok=True)
            run.scratch = keep
        else:
            run.scratch = tempfile.mkdtemp(prefix="demo-check.")
        check(run, plain)
    except Interrupted:
        interrupted = True
    except Exception as e:  # noqa: BLE001 - the checker's own failure, said as such
        try:
            run.error("checker", f"{type(e).__name__}: {e}")
        except Interrupted:
            interrupted = True
    finally:
        try:
            stop(run, keep)
        except Interrupted:
            interrupted = True
        except Exception as e:  # noqa: BLE001
            run.error("checker", f"{type(e).__name__}: {e}")
    if interrupted:
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        print("interrupted: stopped at once, nothing judged further (Ctrl-C)", flush=True)
        closing(run)
        return 130
    signal.signal(signal.SIGINT, previous)
    try:
        return finish(run, folder)
    except Interrupted:
        print("interrupted: stopped at once, nothing judged further (Ctrl-C)", flush=True)
        closing(run)
        return 130


def stop(run, keep):
    """Ends what the run started: the demo, the workers, the scratch folder."""
    if run.process is not None and run.process.poll() is None:
        run.process.kill()
        run.process.wait()
    if run.pool is not None:
        run.pool.terminate()
        run.pool.join()
    if run.scratch and not keep:
        shutil.rmtree(run.scratch, ignore_errors=True)


def check(run, plain):
    """The scenarios, one after the other."""
    photo = project_turn(run)
    if photo is None:
        return
    plain_turn(run, plain)
    photographs(run)
    speed(run)


def project_turn(run):
    """Every frame of a turn with the project's shaders, then l with a
    smaller photograph, then a resize. None where the demo did not run."""
    d = run.folder("project", run.data)
    photo = run.photograph(d, "quadrants")
    small = run.photograph(d, "yellow", "next.jpg")
    run.launch(d, frames=list(range(1, L_AT + 2)), rename=(L_AT, "next.jpg", "pacific.jpg"), keys=(L_AT, "l"),
               resize=(RESIZE_AT, (800, 300)), ahead=AHEAD)  # the resize ends it
    judged, kept, tallies = run.sweep("project shaders", d, "project", "quadrants", range(1, TURN + 1),
                                      range(TURN + 1, L_AT + 1))
    status, output, notes = run.ended(d)
    for value, label in ((notes.renderer, "renderer"), (notes.vendor, "vendor"), (notes.version, "OpenGL version"),
                         (notes.glsl, "GLSL version")):
        run.note(f"{label}: {value or 'unknown'}")
    if status != 0 and run.slow:  # the checker's fault, said by its own line: nothing more to judge
        if not any(v.name == "checker" for v in run.verdicts):
            run.error("checker", f"fell behind the demo: {status}")
        return None
    if status != 0:
        run.say(False, "demo: start-up and frames", demo_failed(output, status))
        return None
    shots = run.frames(d, [capture.frame_name(L_AT + 1), capture.RESIZED])
    samples = max([f.samples for f in kept.values()] + [0])
    if samples > 1:
        run.note(f"multisampling: {samples} samples a pixel")
    f = kept.get(SHOWN)
    run.say(True, "demo: start-up and frames", frame=f, scene=f and Scene(SHOWN, photo, PROJECT_TINT, f.w, f.h))
    run.turn("project shaders", d, "project", "quadrants", judged, kept, tallies)
    after_l(run, shots.get(capture.frame_name(L_AT + 1)), small, photo)
    resized(run, shots.get(capture.RESIZED), small, photo)
    return photo


def after_l(run, f, small, photo):
    """After l: the image quad takes the new size at once, the texture stays."""
    name = "after l: the image quad takes the new size, the texture stays"
    if f is None and run.unsaved:
        return
    if f is None:
        run.say(False, name, "no frame after l")
    elif run.settled(name, f):
        scene = Scene(f.number, small, PROJECT_TINT, f.w, f.h, texture=photo)
        res = check_frame(f, scene)
        run.judge(name, [(f, scene, [r for r in res if r.name.startswith(("image quad", "scene"))])],
                  first=("image quad: pixel rectangle",))


def resized(run, r, small, photo):
    """After a resize, where the window system allows one."""
    name = "after a resize to 800 x 300: the picture stretches with the window"
    if r is None and run.unsaved:
        return
    if r is None:
        run.say(False, name, "no frame after the resize")
    elif r.window != (800, 300):
        run.skip(name, f"the window stayed {r.window[0]} x {r.window[1]} (the window system refused)", r)
    elif (r.w, r.h) != (800, 300):
        run.say(False, name, f"the viewport stayed {r.w} x {r.h} in the 800 x 300 window", r)
    elif run.settled(name, r):
        scene = Scene(r.number, small, PROJECT_TINT, 800, 300, texture=photo)
        run.judge(name, [(r, scene, check_frame(r, scene))])


def plain_turn(run, plain):
    """The plainest shaders: a fault in the program cannot hide behind them."""
    d = run.folder("plain", plain)
    run.photograph(d, "quadrants")
    run.launch(d, frames=list(range(1, L_AT + 1)), end=L_AT, ahead=AHEAD)
    judged, kept, tallies = run.sweep("plain shaders", d, "plain", "quadrants", range(1, TURN + 1),
                                      range(TURN + 1, L_AT + 1))
    status, output, _ = run.ended(d)
    if status != 0:
        run.say(False, "plain shaders: start-up", demo_failed(output, status))
    else:
        run.turn("plain shaders", d, "plain", "quadrants", judged, kept, tallies)


def photographs(run):
    """Photographs of other kinds, each at frame 90 (the tiled quad edge-on)."""
    for kind, name in (("grayscale", "grayscale: shown grey, not skewed"),
                       ("Adobe CMYK", "Adobe CMYK: shown in its true colours"),
                       ("odd size", "odd size 33 x 31: centred, rows read tightly packed")):
        name = f"photograph: {name}"
        d = run.folder(kind.replace(" ", "-"), run.data)
        photo = run.photograph(d, kind)
        status, output, _, _ = run.start(d, frames=[90], end=90)
        got = run.frames(d, [capture.frame_name(90)])
        if status == 0 and not got and run.unsaved:
            continue
        if status != 0 or not got:
            run.say(False, name, demo_failed(output, status))
        elif run.settled(name, got[capture.frame_name(90)]):
            f = got[capture.frame_name(90)]
            scene = Scene(90, photo, PROJECT_TINT, f.w, f.h)
            # Of the photograph: the image quad and the tiled quad's colours
            # (which may follow from another fault, and then say so).
            about = ("image quad: pixel rectangle", "image quad: the photograph right way up",
                     "tiled quad: the photograph 2 x 2, right way up")
            res = check_frame(f, scene)
            run.judge(name, [(f, scene, [r for r in res if r.name in about])],
                      whole_frame=[r for r in res if r.name == WHOLE],
                      first=("image quad: the photograph right way up", "image quad: pixel rectangle"))


def speed(run):
    """The first frame, then frames over three seconds."""
    d = run.folder("speed", run.data)
    shutil.copy(os.path.join(run.data, "pacific.jpg"), d)
    status, output, notes, first = run.start(d, seconds=3)
    span = (notes.last_swap_ns - notes.first_swap_ns) / 1e9
    if status == 0 and first is not None and notes.frames > 1 and span > 0:
        run.note(f"first frame: {first * 1000:.0f} ms after start")
        run.note(f"frame rate: {(notes.frames - 1) / span:.0f} frames per second over {span:.1f} s")
    else:
        run.say(False, "demo: frame rate", demo_failed(output, status))


def closing(run):
    passed, failed = run.count("ok"), run.count("FAIL", "error")
    following, skipped = sum(bool(v.follows) for v in run.verdicts), run.count("skip")
    tail = (f", {following} following" if following else "") + (f", {skipped} skipped" if skipped else "")
    print(f"{passed} passed, {failed} failed{tail}", flush=True)


def finish(run, folder):
    """The report's line and the closing line; the status."""
    try:
        path = report.write(run.verdicts, folder, run.notes, run.strips)
        print(f"report: {path}", flush=True)
    except Exception as e:  # noqa: BLE001 - the report is the checker's, not the machine's
        run.error("report", f"{type(e).__name__}: {e}")
    closing(run)
    return 3 if run.count("error") else 1 if run.count("FAIL") or any(v.follows for v in run.verdicts) else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
