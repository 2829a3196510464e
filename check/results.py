"""The result of a run, in one model: each check's result (its scenario,
its status, the frames it judged and failed at, what it follows from, the
evidence its pictures show, kept apart from its words) and the run's (GL's
strings, the machine's notes, the strip of each turn, the totals and the
status, each worked out here once). The lines the run prints, the report
(report.py), JUnit and JSON (export.py) are views of it.

A check of a frame is one record (Check): its id, the object it judges,
what a line that follows from it names, and its function; checks.py lists
them."""
import enum
import time
from typing import Callable, NamedTuple

from .capture import frame_list

# GL's strings, as the run's notes name them.
GL = (("renderer", "renderer"), ("vendor", "vendor"), ("version", "OpenGL version"), ("glsl", "GLSL version"))


class Status(enum.IntEnum):
    """A line's status, from the least severe: the report lists the most
    severe first, and a frame's strip cell takes its worst check's."""
    OK = 0
    SKIP = 1
    FOLLOWS = 2  # failed where another object's fault explains it
    FAIL = 3
    ERROR = 4  # the checker could not judge

    @property
    def word(self):
        """The word a line starts with: a following line is a FAIL too."""
        return ("ok", "skip", "FAIL", "FAIL", "error")[self]

    @property
    def kind(self):
        """The status as JSON and the report's page name it."""
        return self.name.lower()

    @property
    def failed(self):
        return self >= Status.FOLLOWS


class Check(NamedTuple):
    """One check of a frame: its id (what its lines call it), the object it
    judges (None: the scene as a whole), what a line that follows from its
    fault names, and its function of a look.Look: a checks.Problem or None."""
    id: str
    object: str = None
    cause: str = ""
    function: Callable = None

    def __reduce__(self):  # to a worker and back by its id: the same record
        return by_id, (self.id,)


KNOWN = {}


def checks(*records):
    """The records given, known by their ids from now on."""
    KNOWN.update((c.id, c) for c in records)
    return records


def by_id(id_):
    return KNOWN[id_]


def said(result):
    """What a frame.Result says: why it could not judge, what it follows
    from, or what is wrong."""
    if result.error:
        return result.error
    return f"follows from {result.follows.cause}" if result.follows else result.problem.says


def frame_status(result):
    """The status of one check on one frame (a frame.Result)."""
    if result.error:
        return Status.ERROR
    if result.problem:
        return Status.FOLLOWS if result.follows else Status.FAIL
    return Status.OK


def ranges(numbers):
    """Frame numbers as ranges: "1-3, 7"."""
    return frame_list(numbers, ", ")


def frames_words(numbers):
    return f"frame{'s' if len(numbers) > 1 else ''} {ranges(numbers)}"


class Evidence(NamedTuple):
    """What a picture shows: a frame judged (capture.Frame), the scene it
    was judged against, and what was found wrong there (checks.Problem);
    or, for the screen, the frame as GL drew it beside the screen as read
    there (pixels, and the pixels judged)."""
    frame: object
    scene: object = None
    problem: object = None
    screen: tuple = None


def evidence(frame, scene=None, problem=None):
    """The pictures of a line that judged `frame`: none where it judged none."""
    return () if frame is None else (Evidence(frame, scene, problem),)


class Outcome(NamedTuple):
    """A check's result: one line of the run."""
    scenario: str  # what the demo was run for: a shader set's turn, after l, a photograph, ...
    check: str  # the check, unique within its scenario
    status: Status
    name: str  # the check as its line names it
    words: str = ""  # what the line says after its name
    object: str = None  # the object judged, None for the scene or the run
    frames: tuple = ()  # the frames judged
    failing: tuple = ()  # the frames it failed at (or followed, or could not judge)
    follows: str = None  # the check of the same scenario whose fault this one follows from
    pictures: tuple = ()  # Evidence: the first frame of each range it failed at, or the frame seen
    seconds: float = 0.0  # the time its judging took, over all its frames
    known: bool = False  # it failed in the baseline
    follows_in: str = None  # the scenario of the check it follows from, where not its own

    def text(self):
        """The line as printed."""
        words = self.words
        if self.known and not self.status.failed:
            words = "passes now, failed in the baseline"
        line = f"{self.status.word} {self.name}" + (f": {words}" if words else "")
        return line + " (known)" if self.known and self.status.failed else line


class Totals(NamedTuple):
    """The lines counted: a failure the baseline knows, or one that follows
    from another's fault, is counted apart from the failures; an error is a
    failure."""
    passed: int
    failed: int
    following: int
    known: int
    skipped: int

    def line(self):
        return f"{self.passed} passed, {self.failed} failed" + "".join(
            f", {n} {what}" for n, what in ((self.following, "following"), (self.known, "known"),
                                            (self.skipped, "skipped")) if n)


# A passing check shows this frame, where both quads lean clearly; a failing
# one the first frame of each range of failing frames, up to PICTURES.
SHOWN = 30
PICTURES = 3


class Tally:
    """One check over the frames of a turn, in frame order: its result at
    each frame where it failed, followed or could not judge."""

    def __init__(self):
        self.at = {Status.FOLLOWS: {}, Status.FAIL: {}, Status.ERROR: {}}
        self.starts, self.seconds = [], 0.0  # the first frame of each range of failing frames

    def add(self, n, result):
        """Frame n's frame.Result; True where the frame is kept for a picture."""
        self.seconds += result.seconds
        status = frame_status(result)
        starts = status is Status.FAIL and n - 1 not in self.at[status]
        self.at.get(status, {})[n] = result
        self.starts += [n] * starts
        return starts and len(self.starts) <= PICTURES

    def outcome(self, scenario, check, judged, kept, scene_of):
        """The check's line over the turn: its most severe status, its frames
        as ranges and what is wrong at the first (of each kind of cause
        apart); its pictures of the frames
        `kept` ({number: Frame}), each against scene_of(frame)."""
        status = max((s for s, at in self.at.items() if at), default=Status.OK)
        at = self.at.get(status, {})
        first = min(at, default=SHOWN if SHOWN in kept else min(kept, default=None))
        r = at.get(first)
        shown = self.starts[:PICTURES] if status is Status.FAIL else [first]
        pictures = tuple(Evidence(kept[n], scene_of(kept[n]), at[n].problem if status is Status.FAIL else None)
                         for n in shown if n in kept)
        # Frames failing by causes of other kinds are said apart, each kind
        # in the words of its first frame.
        kinds = {}
        for n in sorted(at):
            cause = status is Status.FAIL and at[n].problem.cause
            kinds.setdefault(cause and cause.kind, []).append(n)
        words = "; ".join(f"{frames_words(ns)}: {said(at[ns[0]])}" for ns in kinds.values())
        return Outcome(scenario, check.id, status, f"{check.id} ({scenario})", words, check.object,
                       tuple(judged), tuple(at), r and r.follows and r.follows.id, pictures, self.seconds)


def one_line(scenario, check, frame, scene, results, first=()):
    """One line for several checks of one frame ([frame.Result]): an error
    in any is the line; else the first failing check is named, those in
    `first` (records) before the rest; else the first that follows from
    another's fault, which the line then follows from."""
    rank = lambda r: first.index(r.check) if r.check in first else len(first)
    errors = [r for r in results if r.error]
    failing = sorted((r for r in results if r.problem and not r.follows), key=rank)
    following = sorted((r for r in results if r.problem and r.follows), key=rank)
    r = (errors or failing or following or [None])[0]
    words = r and (f"{r.name}: " if errors or len(results) > 1 else "") + said(r)
    status = Status.ERROR if errors else Status.FAIL if failing else Status.FOLLOWS if following else Status.OK
    return Outcome(scenario, check, status, f"{scenario}: {check}", r and f"frame {frame.number}: {words}" or "",
                   r and r.check.object, (frame.number,), (frame.number,) if r else (),
                   status is Status.FOLLOWS and r.follows.id or None, evidence(frame, scene, r and r.problem),
                   seconds=sum(r.seconds for r in results))


class RunResult:
    """A whole run: its lines (Outcome) in order, GL's strings and the
    machine's notes, each turn's strip, the time to the first frame and the
    frame rate; a baseline's failures, where one is given, are known."""

    def __init__(self, baseline=None):
        self.outcomes, self.notes = [], []  # the notes as printed
        self.gl = {key: "" for key, _ in GL}
        self.samples, self.window = 0, None
        self.strips = {}  # turn: {angle: the Status of the frame judged at it}
        self.first_frame = self.frame_rate = None  # seconds; frames per second
        self.baseline = dict(baseline or {})  # (scenario, check): (Status, frames) of those that failed there
        self.started, self.ended = time.time(), None

    def add(self, outcome):
        """The outcome as the run keeps it: its check unique in its
        scenario, known where the baseline failed it as it fails now."""
        taken = {o.check for o in self.outcomes if o.scenario == outcome.scenario}
        check = next(c for k in range(1, len(taken) + 2)
                     for c in [outcome.check + (f" ({k})" if k > 1 else "")] if c not in taken)
        was, failing = self.baseline.get((outcome.scenario, check), (None, ()))
        # Known: failed there, as severely and at every frame it fails at
        # now; or passes now.
        known = was is not None and (outcome.status is Status.OK or outcome.status in (Status.FOLLOWS, Status.FAIL) and
                                     outcome.status <= was and set(outcome.failing) <= set(failing))
        self.outcomes.append(outcome._replace(check=check, known=known))
        return self.outcomes[-1]

    def find(self, scenario, check):
        return next((o for o in self.outcomes if (o.scenario, o.check) == (scenario, check)), None)

    def cause(self, outcome):
        """The line an outcome follows from, or None."""
        return outcome.follows and self.find(outcome.follows_in or outcome.scenario, outcome.follows)

    def totals(self):
        counted = [o.status for o in self.outcomes if not (o.known and o.status.failed)]
        return Totals(counted.count(Status.OK), counted.count(Status.FAIL) + counted.count(Status.ERROR),
                      counted.count(Status.FOLLOWS), sum(o.known and o.status.failed for o in self.outcomes),
                      counted.count(Status.SKIP))

    def status(self):
        """0 when every check passed (or failed as the baseline did), 1 when
        one failed, 3 when the checker itself failed."""
        t = self.totals()
        return 3 if any(o.status is Status.ERROR for o in self.outcomes) else 1 if t.failed or t.following else 0
