"""The scenarios of a run, as a table (SCENARIOS): each shader set's turn,
l and a resize, photographs of other kinds, the speed; and the run they
add their lines to (Run): the result (results.RunResult), the demo's
process (demo.Demo), and the causes of a whole frame that a turn named."""
import os
import shutil

from . import capture, held, screen
from .checks import IMAGE_COLOURS, IMAGE_OUTLINE, TILED_COLOURS, WHOLE
from .demo import AHEAD, TURN, Demo, Limits, demo_failed
from .frame import check_frame, goes_on, within
from .results import GL, SHOWN, Evidence, Outcome, RunResult, Status, evidence, frames_words, one_line
from .scene import PROJECT_TINT, Scene
from .turn import turn_lines
from .words import says

# Renderers that draw with the CPU: on a user's own display, the GPU's
# driver is not in use.
SOFTWARE = ("llvmpipe", "softpipe", "swrast")

# Frames TURN + 1 to L_AT judge angles 1 to 5 again where a window
# manager's resize left those unjudged. With the project's shaders: l after
# frame L_AT (a smaller photograph renamed into place first), the frame
# after it judged; then a resize.
L_AT = TURN + 5
RESIZE_AT = L_AT + 5


class Run:
    """A run: the result its lines go into, a line at a time, and the
    demo's process."""

    def __init__(self, demo, capture_library, data, scratch, keep=False, baseline=None, limits=Limits()):
        self.result = RunResult(baseline)
        self.scenario = "run"  # what the demo runs for now: a capture error's line is of it
        self.demo = Demo(demo, capture_library, data, scratch, keep, limits, self.error)
        # Each cause of the whole frame a turn named, by its kind: (its
        # frames, its scenario, its check, the Cause).
        self.whole = {}
        # The screen at the frames held in the turn with the project's shaders.
        self.screen = held.Screen(os.environ.get("DISPLAY"))

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

    def settled(self, scenario, check, frame):
        """True for a frame that is evidence of the scene; else a skip line."""
        why = frame.unsettled()
        if why:
            self.say(scenario, check, Status.SKIP, f"frame {frame.number}: {why}; not judged", frames=(frame.number,),
                     pictures=evidence(frame))
        return not why

    def single(self, scenario, check, frame, scene, results, first=(), about=None):
        """The line of a check of one frame (results.one_line): where the
        frame shows a cause of the whole frame that a turn named, or the
        turn found a frame of lag, or only some of the parts that a turn
        found most of the frame wrong with fail, it follows from that
        turn's line; with `about` (records), of the checks it is about."""
        whole = next((r for r in results if r.check == WHOLE and r.problem and not r.follows), None)
        shown_late = next((k for k in ("late", "stopped") if k in self.whole), None)
        wrong = self.whole.get("unexplained")
        cause = whole.problem.cause.kind if whole and whole.problem.cause.kind in self.whole else \
            shown_late if shown_late and any(r.problem for r in results) else \
            "unexplained" if wrong and within(results, wrong[3]) else None
        if cause:
            _, in_scenario, named, _ = self.whole[cause]
            says = f": {whole.problem.says}" if whole and cause != shown_late else ""
            self.line(Outcome(scenario, check, Status.FOLLOWS, f"{scenario}: {check}",
                              f"frame {frame.number}: follows from {named} ({in_scenario}){says}", None,
                              (frame.number,), (frame.number,), named, evidence(frame, scene, whole and whole.problem),
                              follows_in=in_scenario))
            return
        if about is not None:
            results = [r for r in results if r.check in about or r.check == WHOLE and r.problem]
        self.line(one_line(scenario, check, frame, scene, results, first=first))


def check(run, plain):
    """The scenarios, one after the other, while the demo runs at all."""
    for name, scenario in SCENARIOS:
        if scenario(run, plain) is False:
            return


def project_turn(run, plain=None):
    """Every frame of a turn with the project's shaders, then l with a
    smaller photograph, then a resize. False where the demo did not run."""
    run.scenario = "project shaders"
    d = run.demo.folder("project", run.demo.data)
    photo = run.demo.photograph(d, "quadrants")
    small = run.demo.photograph(d, "yellow", "next.jpg")
    run.screen.keep = run.demo.keep and d
    run.demo.screen = run.screen
    run.demo.launch(d, frames=list(range(1, L_AT + 2)), rename=(L_AT, "next.jpg", "pacific.jpg"), keys=(L_AT, "l"),
                    resize=(RESIZE_AT, (800, 300)), ahead=AHEAD, hold=run.screen.start())  # the resize ends it
    judged, kept = run.demo.sweep(d, "project", "quadrants", range(1, TURN + 1), range(TURN + 1, L_AT + 1))
    run.demo.screen = None  # the holds are this turn's only
    status, output, notes = run.demo.ended(d)
    gl = run.result.gl
    gl.update(renderer=notes.renderer, vendor=notes.vendor, version=notes.version, glsl=notes.glsl)
    for key, label in GL:
        run.note(f"{label}: {gl[key] or 'unknown'}")
    software = next((s for s in SOFTWARE if s in gl["renderer"]), None)
    if software and os.environ.get("DISPLAY") and os.environ.get("CHECK_OWN_DISPLAY") != os.environ["DISPLAY"]:
        run.note(f"note: {software} is Mesa's software renderer: on your display the demo draws with the CPU, "
                 "and the GPU's driver is not in use" + (" (LIBGL_ALWAYS_SOFTWARE is set)"
                                                         if os.environ.get("LIBGL_ALWAYS_SOFTWARE") else ""))
    if status != 0 and run.demo.slow:  # the checker's fault, said by its own line: nothing more to judge
        if not any(o.check == "checker" for o in run.result.outcomes):
            run.error("checker", f"fell behind the demo: {status}")
        return False
    if status != 0:
        run.say("demo", "start-up and frames", Status.FAIL, demo_failed(output, status))
        return False
    shots = run.demo.frames(d, [capture.frame_name(L_AT + 1), capture.RESIZED])
    run.result.samples = max([f.samples for f in kept.values()] + [0])
    run.result.window = next(((f.w, f.h) for f in kept.values()), None)
    if run.result.samples > 1:
        run.note(f"multisampling: {run.result.samples} samples a pixel")
    f = kept.get(SHOWN)
    run.say("demo", "start-up and frames", Status.OK, pictures=evidence(f, f and Scene(SHOWN, photo, PROJECT_TINT,
                                                                                        f.w, f.h)))
    turn_lines(run, "project shaders", "project", "quadrants", judged, kept)
    after_l(run, shots.get(capture.frame_name(L_AT + 1)), small, photo)
    resized(run, shots.get(capture.RESIZED), small, photo)
    return True


def after_l(run, f, small, photo):
    """After l: the image quad takes the new size at once, the texture stays."""
    scenario, check = "after l", "the image quad takes the new size, the texture stays"
    if f is None and run.demo.unsaved:
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
    if r is None and run.demo.unsaved:
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
    d = run.demo.folder("plain", plain)
    run.demo.photograph(d, "quadrants")
    run.demo.launch(d, frames=list(range(1, L_AT + 1)), end=L_AT, ahead=AHEAD)
    judged, kept = run.demo.sweep(d, "plain", "quadrants", range(1, TURN + 1), range(TURN + 1, L_AT + 1))
    status, output, _ = run.demo.ended(d)
    if status != 0:
        run.say("plain shaders", "start-up", Status.FAIL, demo_failed(output, status))
    else:
        turn_lines(run, "plain shaders", "plain", "quadrants", judged, kept)


def photographs(run, plain=None):
    """Photographs of other kinds, each at frame 90 (the tiled quad edge-on)."""
    for kind, which, check in (("grayscale", "grayscale", "shown grey, not skewed"),
                               ("Adobe CMYK", "Adobe CMYK", "shown in its true colours"),
                               ("odd size", "odd size 33 x 31", "centred, rows read tightly packed")):
        scenario = run.scenario = f"photograph: {which}"
        d = run.demo.folder(kind.replace(" ", "-"), run.demo.data)
        photo = run.demo.photograph(d, kind)
        status, output, _, _ = run.demo.start(d, frames=[90], end=90)
        got = run.demo.frames(d, [capture.frame_name(90)])
        if status == 0 and not got and run.demo.unsaved:
            continue
        if status != 0 or not got:
            run.say(scenario, check, Status.FAIL, demo_failed(output, status))
        elif run.settled(scenario, check, got[capture.frame_name(90)]):
            f = got[capture.frame_name(90)]
            scene = Scene(90, photo, PROJECT_TINT, f.w, f.h)
            goes_on()  # the turns' machine: a picture no change explained there is not searched afresh
            # Of the photograph: the image quad and the tiled quad's colours
            # (where they follow from a fault of the whole frame, it says so).
            run.single(scenario, check, f, scene, check_frame(f, scene), first=(IMAGE_COLOURS, IMAGE_OUTLINE),
                       about=(IMAGE_COLOURS, IMAGE_OUTLINE, TILED_COLOURS))


def speed(run, plain=None):
    """The first frame, then frames over three seconds."""
    run.scenario = "demo"
    d = run.demo.folder("speed", run.demo.data)
    shutil.copy(os.path.join(run.demo.data, "pacific.jpg"), d)
    status, output, notes, first = run.demo.start(d, seconds=3)
    span = (notes.last_swap_ns - notes.first_swap_ns) / 1e9
    if status == 0 and first is not None and notes.frames > 1 and span > 0:
        run.result.first_frame, run.result.frame_rate = first, (notes.frames - 1) / span
        run.note(f"first frame: {first * 1000:.0f} ms after start")
        run.note(f"frame rate: {run.result.frame_rate:.0f} frames per second over {span:.1f} s")
    else:
        run.say("demo", "frame rate", Status.FAIL, demo_failed(output, status))


def on_screen(run, plain=None):
    """What reaches the screen at the frames held in the turn with the
    project's shaders, against what GL drew there (screen.py): the frames
    shown as drawn, or what the screen does, said once; skipped where the
    screen cannot be read or too little of the window is seen."""
    scenario, check, name = "screen", "what reaches the screen", "screen"
    s = run.screen
    seen = [f"{share * 100:.0f} % of {what}" for share, what in ((s.covered, "the window covered by other windows"),
                                                                   (s.off, "the window off the screen"))
            if share >= 0.005]
    rest = f"; {' and '.join(seen)}, the rest judged" if seen else ""
    if s.why or not s.pairs:
        why = s.why or next(iter(s.skipped.values()), "no frame was held")
        if seen and not s.pairs:
            why = f"{' and '.join(seen)}: {why}"
        run.say(scenario, check, Status.SKIP, why, name=name)
        return
    v = screen.verdict(s.pairs)
    held_frames = tuple(p.frame for p in s.pairs)
    shown = v.pair or s.pairs[0]  # the first held frame that shows what the line says
    pictures = (Evidence(s.drawn[shown.frame], screen=(shown.shown, shown.judged)),)
    if v.cause is None:
        run.say(scenario, check, Status.OK, f"shows the frames as drawn ({len(held_frames)} frames){rest}", name=name,
                frames=held_frames, pictures=pictures, seconds=s.seconds)
        return
    right = not any(o.status.failed for o in run.result.outcomes)
    run.say(scenario, check, Status.FAIL, f"{frames_words(v.failing)}: {says(v.cause)}"
            + ("; drawn right by GL" if right else "") + rest, name=name, frames=held_frames, failing=v.failing,
            pictures=pictures, seconds=s.seconds)


# The scenarios, in their order: a function each of the run and the folder
# of the plainest shaders; one that returns False ends the run (the demo
# did not run).
SCENARIOS = (
    ("project shaders", project_turn),
    ("plain shaders", plain_turn),
    ("photographs", photographs),
    ("speed", speed),
    ("screen", on_screen),
)
