"""Does this machine draw the demo right? Runs the real demo under the
capture library in a scratch folder, with test photographs of its own, and
checks every frame of a whole turn, with the project's shaders and with the
plainest ones, object by object against the scene as the demo builds it
(scene.py, frame.py); then `l`, a resize, photographs of other kinds and the
speed; then writes a report with a picture of every check (report.py).

  python3 -m check.run --demo DEMO --capture frame_capture.so --data DATA
                       [--keep DIR] [--report DIR] [--junit FILE] [--json FILE]
                       [--baseline FILE]

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
line), 2 for a usage error or a folder or file refused, 130 when
interrupted.

--keep DIR keeps the scratch folder (photographs, every frame, output) in
DIR; --report DIR writes the report there (by default into check-report/
beside the demo, replacing the report there). Each DIR must be missing or
empty: a folder that holds anything is refused, and nothing in it is
touched. --junit FILE writes the run as JUnit XML, a test case a line;
--json FILE as one JSON document (export.py); each FILE is replaced whole,
and one that is a folder is refused. --baseline FILE takes the failures of
the run that FILE (--json's) holds as known: a check that fails as it did
there, at those frames or fewer, is printed marked "(known)" and counted
apart, one that passes now says so, and only the others fail the run."""
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

from . import capture, export, report
from .capture import Frame
from .checks import (ANGLE, BLAME, BOX, CHECKS, COLOUR_CHECKS, DEPTH, IMAGE_COLOURS, IMAGE_OUTLINE, TILED_COLOURS,
                     WHOLE)
from .frame import check_frame, remember
from .photographs import PHOTOGRAPHS
from .results import (GL, SHOWN, Outcome, RunResult, Status, Tally, evidence, frame_status, frames_words, one_line,
                      ranges)
from .scene import PLAIN_TINT, PROJECT_TINT, Scene
from .turn import across_frames, signature

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
TINTS = {"project": PROJECT_TINT, "plain": PLAIN_TINT}


class Interrupted(Exception):
    pass


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
    [frame.Result] or None, its picture's signature)."""
    f = Frame(path)
    why = f.unsettled()
    results = None
    if not why:
        results = check_frame(f, Scene(f.number, PHOTOGRAPHS[photo][0], TINTS[tint], f.w, f.h))
    return f.number, why, results, signature(f.pixels)


class Run:
    """The demo's process and the workers that judge its frames; what they
    find goes into the result (results.RunResult), a line at a time."""

    def __init__(self, demo, capture_library, data, scratch, keep=False, baseline=None):
        self.demo, self.capture, self.data, self.scratch = demo, capture_library, data, scratch
        self.keep = keep
        self.result = RunResult(baseline)
        self.scenario = "run"  # what the demo runs for now: a capture error's line is of it
        self.magick = shutil.which("magick") or "convert"
        self.process, self.pool, self.unsaved = None, None, False
        self.slow = False  # the checker fell behind the demo: its own line says so
        # Each cause of the whole frame a turn named, by its cause: (its
        # frames, its scenario, its check).
        self.whole = {}

    def workers(self, path, tint, photo):
        """Starts the processes that judge frames, once the first frame has
        warmed what every frame of its window shares (caught in frame.CACHE),
        so that they start with it."""
        try:
            judge_frame(path, tint, photo)
        except Exception:  # noqa: BLE001 - the worker judging it will say
            pass
        self.pool = multiprocessing.get_context("fork").Pool(os.cpu_count() or 2, initializer=worker)

    def note(self, text):
        """A line about the machine or the run, not a check."""
        self.result.notes.append(text)
        print(text, flush=True)

    def line(self, outcome):
        print(self.result.add(outcome).text(), flush=True)

    def say(self, scenario, check, status, words="", name=None, **more):
        self.line(Outcome(scenario, check, status, name or f"{scenario}: {check}", words, **more))

    def error(self, check, what):
        """The checker's own failure, or the run's: a line named `check`."""
        self.line(Outcome(self.scenario, check, Status.ERROR, check, what))

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

    def settled(self, scenario, check, frame):
        """True for a frame that is evidence of the scene; else a skip line."""
        why = frame.unsettled()
        if why:
            self.say(scenario, check, Status.SKIP, f"frame {frame.number}: {why}; not judged", frames=(frame.number,),
                     pictures=evidence(frame))
        return not why

    # ------------------------------------------------------------ a sweep

    def sweep(self, label, folder, tint, photo, numbers, extra=()):
        """Judges the frames `numbers` in worker processes as the running
        demo writes them, in order; removes each once judged (or moves it
        to frames/ with --keep). Frames in `extra` are judged only where
        their angle was not. Returns {number: (why unsettled, [Result])},
        the frames kept for pictures by number, and a results.Tally of each
        check by its id."""
        judged, kept, pending, tallies, pictures = {}, {}, deque(), {}, {}
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
                    _, why, results, pictures[n] = job.get()
                    judged[n] = (why, results)
                    for r in results or ():
                        if tallies.setdefault(r.name, Tally()).add(n, r) and n not in kept:
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
        self.pictures = pictures
        return judged, kept, tallies

    def turn(self, label, tint, photo, judged, kept, tallies):
        """The lines of a turn: each check over every frame judged, its
        failing frames as ranges; the frames that were not judged; the strip
        of angles for the report."""
        # What only the frames together tell (a frame of lag, the frame
        # before showing through), then each check's verdicts over them.
        judged = across_frames(judged, WHOLE, ANGLE, TURN, set(COLOUR_CHECKS.values()) | {DEPTH, BOX}, self.pictures)
        tallies = {}
        for n in sorted(judged):
            for r in judged[n][1] or ():
                tallies.setdefault(r.name, Tally()).add(n, r)
        strip, unsettled = {}, {}
        for n in sorted(judged):
            why, results = judged[n]
            if why:
                unsettled[n] = why
            else:
                strip.setdefault(n % TURN or TURN, (n, max(map(frame_status, results), default=Status.OK)))
        missing = [n for n in range(1, TURN + 1) if n not in judged]
        unsaved = any(o.check == "capture" for o in self.result.outcomes)  # the error line says why
        frames = dict(scenario=label, name=f"frames ({label})")
        if missing and not unsaved:
            self.say(check="frames captured", status=Status.FAIL, words=f"{frames_words(missing)} not captured",
                     failing=tuple(missing), **frames)
        if unsettled:
            why = unsettled[min(unsettled)]
            self.say(check="frames settled", status=Status.SKIP, failing=tuple(unsettled),
                     words=f"{frames_words(list(unsettled))}: {why}; not judged", **frames)
        self.note(f"frames judged ({label}): {len(strip)} of {TURN} angles"
                  + (f", in frames {ranges(n for n, _ in strip.values())}" if strip else ""))
        self.result.strips[label] = {a: status for a, (_, status) in strip.items()}
        if not strip:
            if not unsaved:
                self.say(check="frames judged", status=Status.FAIL,
                         words="no frame was drawn in a window of settled size", **frames)
            return
        seen = sorted(n for n, (why, _) in judged.items() if not why)
        scene_of = lambda f: Scene(f.number, PHOTOGRAPHS[photo][0], TINTS[tint], f.w, f.h)
        for check in CHECKS + ((BLAME,) if BLAME.id in tallies else ()):
            t = tallies.get(check.id, Tally())
            o = t.outcome(label, check, seen, kept, scene_of)
            cause = o.status is Status.FAIL and t.at[Status.FAIL][o.failing[0]].problem.cause
            if cause and (check == WHOLE or cause.kind in ("late", "stopped")):
                frames, scenario, named = self.whole.setdefault(cause.kind, (o.failing, label, check.id))
                remember(cause)  # the frames judged here after the turn try it first
                if scenario != label and set(o.failing) <= set(frames):
                    # The same cause at frames where the turn before found it,
                    # with other shaders: the machine's, whatever the shaders.
                    o = o._replace(status=Status.FOLLOWS, follows=named, follows_in=scenario,
                                   words=f"{frames_words(list(o.failing))}: follows from {named} ({scenario})")
            self.line(o)

    def single(self, scenario, check, frame, scene, results, first=(), about=None):
        """The line of a check of one frame (results.one_line): where the
        frame shows a cause of the whole frame that a turn named, or the
        turn found a frame of lag, it follows from that turn's line; with
        `about` (records), of the checks it is about."""
        whole = next((r for r in results if r.check == WHOLE and r.problem and not r.follows), None)
        shown_late = next((k for k in ("late", "stopped") if k in self.whole), None)
        cause = whole.problem.cause.kind if whole and whole.problem.cause.kind in self.whole else \
            shown_late if shown_late and any(r.problem for r in results) else None
        if cause:
            _, in_scenario, named = self.whole[cause]
            says = f": {whole.problem.says}" if whole and cause != shown_late else ""
            self.line(Outcome(scenario, check, Status.FOLLOWS, f"{scenario}: {check}",
                              f"frame {frame.number}: follows from {named} ({in_scenario}){says}", None,
                              (frame.number,), (frame.number,), named, evidence(frame, scene, whole and whole.problem),
                              follows_in=in_scenario))
            return
        if about is not None:
            results = [r for r in results if r.check in about or r.check == WHOLE and r.problem]
        self.line(one_line(scenario, check, frame, scene, results, first=first))


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


def file_refused(path):
    """Why a file given for output cannot be written, or None: it is
    replaced whole, so it must be missing or a file, in a folder."""
    if os.path.isdir(path):
        return "is a folder"
    if os.path.lexists(path) and (os.path.islink(path) or not os.path.isfile(path)):
        return "is not a plain file"
    if not os.path.isdir(os.path.dirname(path)):
        return "lies in no folder"
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
    parser.add_argument("--junit", metavar="FILE", help="write the run as JUnit XML to FILE")
    parser.add_argument("--json", metavar="FILE", help="write the run as JSON to FILE")
    parser.add_argument("--baseline", metavar="FILE", help="count only the failures that the run in FILE (--json's) did not have")
    args = parser.parse_args(argv[1:])
    demo, capture_library, data = (os.path.abspath(p) for p in (args.demo, args.capture, args.data))
    keep = args.keep and os.path.abspath(args.keep)
    folder = args.report and os.path.abspath(args.report)
    files = {"--junit": args.junit and os.path.abspath(args.junit), "--json": args.json and os.path.abspath(args.json)}
    for option, path in (("--keep", keep), ("--report", folder)):
        if path and refused(path):
            print(f"check: {option} {path} {refused(path)}; give a new or an empty folder", file=sys.stderr)
            return 2
    for option, path in files.items():
        if path and file_refused(path):
            print(f"check: {option} {path} {file_refused(path)}; give a file to write", file=sys.stderr)
            return 2
    if keep and keep == folder or files["--junit"] and files["--junit"] == files["--json"]:
        print("check: --keep and --report need two folders, --junit and --json two files", file=sys.stderr)
        return 2
    baseline = None
    if args.baseline:
        try:
            baseline = export.failed(export.read(args.baseline))
        except (OSError, ValueError) as e:
            print(f"check: --baseline {os.path.abspath(args.baseline)}: {e}", file=sys.stderr)
            return 2
    plain = os.path.join(os.path.dirname(os.path.abspath(__file__)), "plain")
    run = Run(demo, capture_library, data, None, keep=bool(keep), baseline=baseline)
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
        return finish(run, folder, files["--junit"], files["--json"])
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
    run.scenario = "project shaders"
    d = run.folder("project", run.data)
    photo = run.photograph(d, "quadrants")
    small = run.photograph(d, "yellow", "next.jpg")
    run.launch(d, frames=list(range(1, L_AT + 2)), rename=(L_AT, "next.jpg", "pacific.jpg"), keys=(L_AT, "l"),
               resize=(RESIZE_AT, (800, 300)), ahead=AHEAD)  # the resize ends it
    judged, kept, tallies = run.sweep("project shaders", d, "project", "quadrants", range(1, TURN + 1),
                                      range(TURN + 1, L_AT + 1))
    status, output, notes = run.ended(d)
    gl = run.result.gl
    gl.update(renderer=notes.renderer, vendor=notes.vendor, version=notes.version, glsl=notes.glsl)
    for key, label in GL:
        run.note(f"{label}: {gl[key] or 'unknown'}")
    if status != 0 and run.slow:  # the checker's fault, said by its own line: nothing more to judge
        if not any(o.check == "checker" for o in run.result.outcomes):
            run.error("checker", f"fell behind the demo: {status}")
        return None
    if status != 0:
        run.say("demo", "start-up and frames", Status.FAIL, demo_failed(output, status))
        return None
    shots = run.frames(d, [capture.frame_name(L_AT + 1), capture.RESIZED])
    run.result.samples = max([f.samples for f in kept.values()] + [0])
    run.result.window = next(((f.w, f.h) for f in kept.values()), None)
    if run.result.samples > 1:
        run.note(f"multisampling: {run.result.samples} samples a pixel")
    f = kept.get(SHOWN)
    run.say("demo", "start-up and frames", Status.OK, pictures=evidence(f, f and Scene(SHOWN, photo, PROJECT_TINT,
                                                                                        f.w, f.h)))
    run.turn("project shaders", "project", "quadrants", judged, kept, tallies)
    after_l(run, shots.get(capture.frame_name(L_AT + 1)), small, photo)
    resized(run, shots.get(capture.RESIZED), small, photo)
    return photo


def after_l(run, f, small, photo):
    """After l: the image quad takes the new size at once, the texture stays."""
    scenario, check = "after l", "the image quad takes the new size, the texture stays"
    if f is None and run.unsaved:
        return
    if f is None:
        run.say(scenario, check, Status.FAIL, "no frame after l")
    elif run.settled(scenario, check, f):
        scene = Scene(f.number, small, PROJECT_TINT, f.w, f.h, texture=photo)
        res = [r for r in check_frame(f, scene) if r.check.object in ("image quad", None)]
        run.single(scenario, check, f, scene, res, first=(IMAGE_OUTLINE,))


def resized(run, r, small, photo):
    """After a resize, where the window system allows one."""
    scenario, check = "after a resize to 800 x 300", "the picture stretches with the window"
    if r is None and run.unsaved:
        return
    if r is None:
        run.say(scenario, check, Status.FAIL, "no frame after the resize")
    elif r.window != (800, 300):
        run.say(scenario, check, Status.SKIP, f"the window stayed {r.window[0]} x {r.window[1]} "
                "(the window system refused)", pictures=evidence(r))
    elif (r.w, r.h) != (800, 300):
        run.say(scenario, check, Status.FAIL, f"the viewport stayed {r.w} x {r.h} in the 800 x 300 window",
                pictures=evidence(r))
    elif run.settled(scenario, check, r):
        scene = Scene(r.number, small, PROJECT_TINT, 800, 300, texture=photo)
        run.single(scenario, check, r, scene, check_frame(r, scene))


def plain_turn(run, plain):
    """The plainest shaders: a fault in the program cannot hide behind them."""
    run.scenario = "plain shaders"
    d = run.folder("plain", plain)
    run.photograph(d, "quadrants")
    run.launch(d, frames=list(range(1, L_AT + 1)), end=L_AT, ahead=AHEAD)
    judged, kept, tallies = run.sweep("plain shaders", d, "plain", "quadrants", range(1, TURN + 1),
                                      range(TURN + 1, L_AT + 1))
    status, output, _ = run.ended(d)
    if status != 0:
        run.say("plain shaders", "start-up", Status.FAIL, demo_failed(output, status))
    else:
        run.turn("plain shaders", "plain", "quadrants", judged, kept, tallies)


def photographs(run):
    """Photographs of other kinds, each at frame 90 (the tiled quad edge-on)."""
    for kind, which, check in (("grayscale", "grayscale", "shown grey, not skewed"),
                               ("Adobe CMYK", "Adobe CMYK", "shown in its true colours"),
                               ("odd size", "odd size 33 x 31", "centred, rows read tightly packed")):
        scenario = run.scenario = f"photograph: {which}"
        d = run.folder(kind.replace(" ", "-"), run.data)
        photo = run.photograph(d, kind)
        status, output, _, _ = run.start(d, frames=[90], end=90)
        got = run.frames(d, [capture.frame_name(90)])
        if status == 0 and not got and run.unsaved:
            continue
        if status != 0 or not got:
            run.say(scenario, check, Status.FAIL, demo_failed(output, status))
        elif run.settled(scenario, check, got[capture.frame_name(90)]):
            f = got[capture.frame_name(90)]
            scene = Scene(90, photo, PROJECT_TINT, f.w, f.h)
            # Of the photograph: the image quad and the tiled quad's colours
            # (where they follow from a fault of the whole frame, it says so).
            run.single(scenario, check, f, scene, check_frame(f, scene), first=(IMAGE_COLOURS, IMAGE_OUTLINE),
                       about=(IMAGE_COLOURS, IMAGE_OUTLINE, TILED_COLOURS))


def speed(run):
    """The first frame, then frames over three seconds."""
    run.scenario = "demo"
    d = run.folder("speed", run.data)
    shutil.copy(os.path.join(run.data, "pacific.jpg"), d)
    status, output, notes, first = run.start(d, seconds=3)
    span = (notes.last_swap_ns - notes.first_swap_ns) / 1e9
    if status == 0 and first is not None and notes.frames > 1 and span > 0:
        run.result.first_frame, run.result.frame_rate = first, (notes.frames - 1) / span
        run.note(f"first frame: {first * 1000:.0f} ms after start")
        run.note(f"frame rate: {run.result.frame_rate:.0f} frames per second over {span:.1f} s")
    else:
        run.say("demo", "frame rate", Status.FAIL, demo_failed(output, status))


def closing(run):
    print(run.result.totals().line(), flush=True)


def finish(run, folder, junit=None, json_file=None):
    """The report's line, JUnit and JSON where asked for, and the closing
    line; the status."""
    run.scenario = "run"
    pictures = {}
    try:
        path, pictures = report.write(run.result, folder)
        print(f"report: {path}", flush=True)
    except Exception as e:  # noqa: BLE001 - the report is the checker's, not the machine's
        run.error("report", f"{type(e).__name__}: {e}")
    run.result.ended = time.time()
    for what, path, write in (("junit", junit, export.write_junit), ("json", json_file, export.write_json)):
        try:
            if path:
                write(run.result, pictures, path)
        except Exception as e:  # noqa: BLE001 - as the report
            run.error(what, f"{type(e).__name__}: {e}")
    closing(run)
    return run.result.status()


if __name__ == "__main__":
    sys.exit(main(sys.argv))
