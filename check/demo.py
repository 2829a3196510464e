"""The demo's process under the capture library, and its limits: the
demo in a scratch folder with shaders and a test photograph of the
checker's, its frames judged by worker processes as it writes them (a
sweep), its end and what it said. The limits are parameters (Limits), and
what goes wrong is said through the run's lines (`say`: a function of the
check's name and the words)."""
import ctypes
import multiprocessing
import os
import shutil
import signal
import subprocess
import time
from collections import deque
from typing import NamedTuple

from . import capture
from .capture import Frame
from .frame import anew, check_frame
from .photographs import PHOTOGRAPHS
from .results import SHOWN, Tally
from .scene import Scene
from .model import signature
from .turn import TINTS, TURN

# The demo waits before saving a frame while this many wait to be judged
# (about 30 MB at 640 x 480).
AHEAD = 32


class Limits(NamedTuple):
    """How long the demo and the checker are given, in seconds."""
    demo: float = 180  # the demo, to draw its frames and end
    frame: float = 60  # the demo, for each frame while it is not waiting for the checker
    judge: float = 60  # the checker, to judge a frame that waits for it


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


class Done(NamedTuple):
    """A frame judged already, as a worker's job that is ready."""
    value: tuple

    def ready(self):
        return True

    def get(self):
        return self.value


class Demo:
    """The demo's process and the workers that judge its frames, in a
    scratch folder; its errors and the checker's own are said by `say`."""

    def __init__(self, demo, capture_library, data, scratch, keep=False, limits=Limits(), say=None):
        self.demo, self.capture, self.data, self.scratch = demo, capture_library, data, scratch
        self.keep, self.limits = keep, limits
        self.say = say or (lambda check, what: None)
        self.magick = shutil.which("magick") or "convert"
        self.process, self.pool, self.unsaved = None, None, False
        self.slow = False  # the checker fell behind the demo: its own line says so
        self.pictures = {}
        self.screen = None  # held.Screen: the screen read at the frames the demo is held at

    def workers(self, path, tint, photo):
        """Starts the processes that judge frames, once the first frame has
        warmed what every frame of its window shares (caught in frame.CACHE),
        so that they start with it: that frame judged, as a job done, or
        None (a worker judging it again says what went wrong)."""
        try:
            first = Done(judge_frame(path, tint, photo))
        except Exception:  # noqa: BLE001 - the worker judging it will say
            first = None
        self.pool = multiprocessing.get_context("fork").Pool(os.cpu_count() or 2, initializer=worker)
        return first

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
        self.deadline = time.monotonic() + self.limits.demo
        self.last_frame, self.frames_seen, self.waiting = time.monotonic(), 0, 0
        return t0

    def running(self):
        """Whether the demo runs on; ended when it overstays, and why said in
        self.status: the demo drew no frame for the limit of a frame while
        the checker held none back, or the run passed the demo's limit, with
        how many frames then waited to be judged (the checker fell behind)."""
        if self.process.poll() is None:
            now = time.monotonic()
            stalled = now - self.last_frame > self.limits.frame and self.waiting < AHEAD
            if stalled or now > self.deadline:
                self.process.kill()
                self.process.wait()
                if stalled:
                    self.status = (f"a time-out: no frame for {self.limits.frame:g} s"
                                   + (f", after frame {self.frames_seen}" if self.frames_seen else ""))
                else:
                    self.status = f"a time-out after {self.limits.demo:g} s"
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
            self.say("capture", notes.errors[0] + (f" (and {more} more frame{'s' * (more > 1)} not saved)" * bool(more)))
        return status, output, notes

    def start(self, folder, env=None, **how):
        """Runs the demo in `folder` to its end: (status, output, report,
        seconds from exec to the first swap)."""
        t0 = self.launch(folder, env, **how)
        status, output, notes = self.ended(folder)
        return status, output, notes, (notes.first_swap_ns - t0) / 1e9 if notes.first_swap_ns else None

    def frames(self, folder, names):
        return {n: Frame(os.path.join(folder, n)) for n in names if os.path.exists(os.path.join(folder, n))}

    # ------------------------------------------------------------ a sweep

    def sweep(self, folder, tint, photo, numbers, extra=()):
        """Judges the frames `numbers` in worker processes as the running
        demo writes them, in order; removes each once judged (or moves it
        to frames/ with --keep). Frames in `extra` are judged only where
        their angle was not. Returns {number: (why unsettled, [Result])}
        and the frames kept for pictures by number (the first of each
        failing check's ranges); self.pictures holds each frame's picture's
        signature."""
        judged, kept, pending, tallies, pictures = {}, {}, deque(), {}, {}
        anew()  # the workers' searches counted from none, together
        last_judged = time.monotonic()
        wanted = list(numbers) + list(extra)
        kept_dir = os.path.join(folder, "frames")
        if self.keep:
            os.makedirs(kept_dir, exist_ok=True)
        i = 0
        while True:
            if self.screen is not None:
                self.screen.poll(folder)
            while i < len(wanted) and os.path.exists(os.path.join(folder, capture.frame_name(wanted[i]))):
                n = wanted[i]
                path = os.path.join(folder, capture.frame_name(n))
                angle = n % TURN or TURN
                if n in extra and judged.get(angle, ("not judged",))[0] is None:
                    pending.append((n, None))  # its angle was judged: not needed
                else:
                    first = self.workers(path, tint, photo) if self.pool is None else None
                    pending.append((n, first or self.pool.apply_async(judge_frame, (path, tint, photo))))
                i += 1
                self.last_frame, self.frames_seen = time.monotonic(), n
            self.waiting = len(pending)
            if pending and time.monotonic() - last_judged > self.limits.judge:
                self.slow = True
                self.say("checker", f"{len(pending)} frames waiting to be judged, none judged for "
                                      f"{self.limits.judge:g} s (from frame {pending[0][0]})")
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
                if self.screen is not None and self.screen.wanted(n):
                    self.screen.keep_drawn(n, kept.get(n) or Frame(path))
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
        return judged, kept


def demo_failed(output, status):
    lines = [l.strip() for l in output.splitlines()
             if l.strip() and not l.startswith(("dbc:", "dbi:", "peak_rss", "ATTENTION:", "frame-capture:"))]
    keep = [l for l in lines if not l.startswith(("Vertex Shader", "Fragment Shader", "Status:"))]
    return f"{' '.join(keep[-3:]) or 'no message'} (status {status})"
