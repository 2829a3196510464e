"""The verdict on one captured frame: every check (checks.py) against the
scene, the causes of the whole frame first (causes.py), then blame
(blame.py). check_frame is the one way in."""
import copy
import time
from typing import NamedTuple

from .blame import blame, following
from .capture import Frame  # noqa: F401 - the checker's frames, read where they are judged
from .causes import frame_map, whole_frame
from .checks import BLAME, CHECKS, CLEAR, WHOLE, Check, Problem
from .look import Look
from .whole import flat_colour, nothing_drawn, undo


class Result(NamedTuple):
    check: Check
    problem: Problem = None  # what is wrong, or None
    error: str = None  # why the checker could not judge, or None
    follows: Check = None  # the check whose fault this one's follows from, or None
    seconds: float = 0.0  # the time the check took

    @property
    def name(self):
        return self.check.id


def judged(check, look):
    """One check's Result on a look, timed; an error inside it is its own."""
    t = time.perf_counter()
    try:
        return Result(check, check.function(look), seconds=time.perf_counter() - t)
    except Exception as e:  # noqa: BLE001
        return Result(check, None, f"{type(e).__name__}: {e}", seconds=time.perf_counter() - t)


def check_frame(frame, scene):
    """Every check on one frame: [Result]. A cause of the whole frame is
    looked for first: a frame of one colour is nothing drawn, and every
    other check follows from it unjudged; a map of every colour is undone
    and the checks judge the frame without it. An error inside a check is
    that check's own result, never the end of the run. Where several fail,
    those that another object's fault explains follow from it (blame)."""
    try:
        colour = flat_colour(frame.pixels)
        if colour is not None:
            cause = "nothing" if max(colour) <= CLEAR else "flat"
            return [Result(WHOLE, Problem(nothing_drawn(colour), cause=cause))] + following(
                [Result(c) for c in CHECKS[1:]], {c: WHOLE for c in CHECKS[1:]})
        look = Look(frame, scene)
        found = frame_map(look)
        if found is not None:
            cmap, cause = found
            undone = copy.copy(frame)
            undone.pixels = undo(frame.pixels, cmap)
            look = Look(undone, scene)
            look.cause, look.cmap = cause, cmap
    except Exception as e:  # noqa: BLE001 - reported as the checks' own error
        return [Result(c, None, f"{type(e).__name__}: {e}") for c in CHECKS]
    results = [judged(c, look) for c in CHECKS]
    try:
        results = blame(look, whole_frame(look, results))
    except Exception as e:  # noqa: BLE001
        results.append(Result(BLAME, None, f"{type(e).__name__}: {e}"))
    results = [diagnosed(look, r) for r in results]
    # Closures do not cross to another process; the words and pixels do.
    return [r._replace(problem=r.problem._replace(still=None, diagnose=None)) if r.problem else r for r in results]


def diagnosed(look, result):
    """A check at fault on its own, in the words of the misreading that
    explains it where one does; judged in a frame with its colours mapped
    back (causes.frame_map), it says so."""
    if not result.problem or result.follows or result.check == WHOLE:
        return result
    try:
        says = result.problem.diagnose and result.problem.diagnose() or result.problem.says
    except Exception as e:  # noqa: BLE001 - the check's own error, as any other
        return result._replace(problem=None, error=f"{type(e).__name__}: {e}")
    if look.cmap is not None:
        says += " (with the frame's colours mapped back)"
    return result._replace(problem=result.problem._replace(says=says))
