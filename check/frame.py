"""The verdict on one captured frame: a cause of the whole frame first (one
model of what can happen to a picture: model.py), then every check
(checks.py) against the scene, or against the scene under that cause, then
blame (blame.py). check_frame is the one way in."""
import ctypes
import itertools
import mmap
import time
from collections import OrderedDict
from typing import NamedTuple

import numpy as np

from . import model
from .blame import blame, following
from .capture import Frame  # noqa: F401 - the checker's frames, read where they are judged
from .causes import whole_frame
from .checks import (ANGLE, BLAME, BOX, CHECKS, CLEAR_CHECK, COLOUR_CHECKS, DEPTH, OUTLINE_CHECKS, WHOLE, Check,
                     Problem, angle_problem, edge_widths)
from .look import TURNING, Look, better_reading
from .model import JUDGED, Cause
from .picture import BACKGROUND, reference_at, segments
from .tolerances import CLEAR_RESIDUAL, FEW, MISSES, WIDE
from .words import says


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


# The causes this process accepted last, tried first on the next frame: a
# machine that draws a frame wrong draws the next one so too.
LATEST = []
# The reduced copy shows a change of the whole picture where an object has
# more than this share of its points off (a correct frame has none).
GATE = MISSES / 5


def check_frame(frame, scene):
    """Every check on one frame: [Result]. A cause of the whole frame is
    looked for first: a frame of one colour is nothing drawn, and every
    other check follows from it unjudged; a frame at the angle off that
    the frames before were at is judged at that angle first; where the
    reduced copy shows a change of the picture, the changes that fit it
    are judged by the checks, and the first that explains the frame as a
    correct frame is explained is named. Where objects fail on their own, the changes that
    only the whole frame shows (another resolution, a move of a pixel or
    two) are tried the same way. An error inside a check is that check's
    own result, never the end of the run. Where several fail, those that
    another object's fault explains follow from it (blame)."""
    results = verdict(frame, scene)
    angle = next((r.problem.cause for r in results if r.check == ANGLE and r.problem), None)
    off = angle.values[0] if angle and angle.kind == "angle" else None
    STREAK[:] = [off, STREAK[1] + 1 if off and off == STREAK[0] else int(bool(off))]
    LAG[0] = off if off and off < 0 else LAG[0]
    return results


def verdict(frame, scene):
    try:
        colour = model.flat_colour(frame.pixels)
        if colour is not None:
            return [Result(WHOLE, Problem(says(Cause("nothing", colour)), cause=Cause("nothing", colour)))] + \
                following([Result(c) for c in CHECKS[1:]], {c: WHOLE for c in CHECKS[1:]})
        # Under a change of the picture accepted lately, a frame at an
        # angle off is that change's, shown late (cause_of judges it so).
        changed = any(c.kind in model.CHANGES for c in LATEST)
        again = shown_again(frame, scene) or not changed and at_latest_angle(frame, scene)
        if again:
            return again
        points = model.grid(frame.pixels)
        ident = reference_at(scene, points.x, points.y)
        base = model.fit(ident, points.got)
        shown = model.shows_change(base, GATE)
        number = frame.number or 0
        if number <= LAST[0]:  # another run, or a frame judged apart
            anew()
            WRONG.clear()
        LAST[0] = number
        search = due()
        # A frame where no search is due after one that most of was wrong
        # is judged by the checks alone: no angle, misreading or faint cause.
        quiet = not search and bool(WRONG)
        if shown:  # the causes accepted lately first, then those the reduced copy shows
            latest = [model.resized(c, frame) for c in LATEST]
            tries = itertools.chain(latest, lazily(blocks, frame, latest), lazily(smoothed, frame, latest, search),
                                    lazily(best_first, frame, scene, points, ident, base, shown, latest, search))
        else:  # a change of the colours accepted lately may be too faint for the reduced copy
            tries = blocks(frame, []) + [c for c in LATEST if c.kind in model.COLOURS or model.subtle(c)]
        found = cause_of(frame, scene, points, ident, base, tries)
        if found:
            return found
        FAILED[0] += bool(shown)
        if quiet and shown:
            found = wrong_again(scene, points, base)
            if found:
                return found
        look = Look(frame, scene, search=not quiet)
        widths = [np.median(w) / e.allowed for e, _, w in edge_widths(look)]
        wide = np.median(widths) if widths else None
        if wide and wide >= WIDE and shown != "picture":  # lines wider than GL's: a smoothed picture
            found = cause_of(frame, scene, points, ident, base, [model.resized(c, frame) for c in LATEST
                                                                  if c.kind == "resolution" and c.values[1]])
            if found:
                return found
    except Exception as e:  # noqa: BLE001 - reported as the checks' own error
        return [Result(c, None, f"{type(e).__name__}: {e}") for c in CHECKS]
    results = [judged(c, look) for c in CHECKS]
    try:
        if quiet and parts(results) == (set(WRONG), False):
            # Wrong in just the parts the frames before were wrong in: said
            # so again, unblamed (blame could only have one part's fault
            # follow from another's, and each of them differs).
            FAILED[0] += not shown
            return bare(wrong_as_before(points, base, scene, results[1:]))
        own = {r.check.object or r.check.id for r in results if r.problem and r.check not in (WHOLE, ANGLE)}
        angle = any(r.problem for r in results if r.check == ANGLE)
        if own and not shown and not quiet:  # a cause the reduced copy is too faint to show: lately, or of colours
            faint = itertools.chain([model.resized(c, frame) for c in LATEST],
                                    lazily(model.colour_causes, scene, ident, points))
            found = cause_of(frame, scene, points, ident, base, faint, results, whole=True)
            if found:
                return found
        if (len(own) >= 2 and own & STILL and not angle or wide and wide >= WIDE or outlines_off(look)) and \
                shown != "picture" and not quiet:
            subtle = itertools.chain(model.smoothed(frame), lazily(placed_nearby, scene, frame))
            found = cause_of(frame, scene, points, ident, base, subtle, results)
            if found:
                return found
        results = at_its_angle(frame, scene, results)
        results = blame(look, whole_frame(look, results))
        results = unexplained(results)
        cause = results[0].problem and results[0].problem.cause
        if cause and cause.kind == "unexplained":
            WRONG[:] = cause.values
            FAILED[0] += not shown
        elif not (quiet and within(results, Cause("unexplained", tuple(WRONG)))):
            # A frame wrong in fewer of the parts the frames before were
            # wrong in, and in nothing else, keeps them quiet.
            WRONG.clear()
    except Exception as e:  # noqa: BLE001
        results.append(Result(BLAME, None, f"{type(e).__name__}: {e}"))
    return bare(results if quiet else [diagnosed(r) for r in results])


# The pictures this process judged last, by signature: (the frame, its
# angle within a turn).
SEEN = OrderedDict()


def shown_again(frame, scene):
    """A frame that shows the picture of a frame drawn at another angle (a
    correct machine's quads turn every frame): the angle's check says so,
    the others follow unjudged ([Result]); or None."""
    if any(c.kind == "resolution" for c in LATEST):  # a picture of a few pixels may show two angles alike
        return None
    sig = model.signature(frame.pixels)
    seen = SEEN.get(sig)
    SEEN[sig] = seen or (frame.number or scene.angle, scene.angle % 360)
    SEEN.move_to_end(sig)
    while len(SEEN) > 64:
        SEEN.popitem(last=False)
    if not seen or seen[1] == scene.angle % 360:
        return None
    cause = Cause("stopped", (seen[0],))
    return [Result(ANGLE, Problem(says(cause), cause=cause)) if c == ANGLE else Result(c) if c == WHOLE else
            Result(c, Problem(""), follows=ANGLE) for c in CHECKS]


# The angle off that the frames this process judged last were at, and how
# many ran so: from STEADY on, the next frame is judged at that angle first.
STREAK = [None, 0]
STEADY = 3
# The angle off that this process named last where the frame lay behind
# its angle (a picture shown late), and those a picture changed and shown
# late is tried at beside it: a frame's turn or a few behind.
LAG = [None]
LATE = (-1, -2, -3)


def at_latest_angle(frame, scene):
    """A frame drawn at the angle off that the frames before were at
    (shown_late), or None, and the frames count anew."""
    off, run = STREAK
    if run < STEADY:
        return None
    STREAK[1] = 0
    found = shown_late(lambda s: Look(frame, s), scene, off, CHECKS)
    STREAK[1] = run if found else 0
    return found


def shown_late(look_of, scene, off, checks, lost=(), angle=None):
    """A frame drawn OFF degrees off its scene's angle: where every check
    of `checks` (but those `lost`) passes on look_of(the scene at that
    angle), and the turning quads fit it far better than the scene
    (better_reading), or the angle's check read it so (`angle`, its
    Result), the Results there: the angle's names it, the turning quads'
    outlines follow from it. Or None."""
    there = look_of(model.angle_scene(scene, off))
    results = [Result(c) if c in lost else judged(c, there) for c in checks]
    if any(r.problem or r.error for r in results):
        return None
    if angle is None:
        look = look_of(scene)
        fits = look.fits_of({n: look.outline_cases(n, ()) for n in TURNING}, keep=False)
        # Both quads together, as the angle's check weighs them.
        summed = {how: fs[TURNING[0]][None]._replace(stray=sum(fs[n][None].stray for n in TURNING),
                                                     residual=sum(fs[n][None].residual for n in TURNING))
                  for how, fs in ((None, fits), (off, there.fits))}
        if better_reading(summed, (off,)) != off:
            return None
        angle = Result(ANGLE, angle_problem(look, off, fits))
    turning = {OUTLINE_CHECKS[n] for n in TURNING}
    return [r._replace(problem=angle.problem) if r.check == ANGLE else
            r._replace(problem=Problem(""), follows=ANGLE) if r.check in turning else r for r in results]


def ordered(causes):
    """The causes, those this process accepted lately first."""
    return sorted(causes, key=lambda c: LATEST.index(c) if c in LATEST else len(LATEST))


def lazily(make, *args):
    """What make(*args) returns, made only once it is first asked for."""
    yield from make(*args)


def blocks(frame, latest):
    """A picture of blocks: the resolutions it may have been drawn at (but
    those in `latest`), tried before the search."""
    return [c for c in ordered(model.repeated(frame)) if c not in latest]


def smoothed(frame, latest, search):
    """The resolutions the frame may have been drawn at and shown smoothed
    (but those in `latest`), where `search`."""
    return [c for c in model.smoothed(frame) if c not in latest] if search else []


def best_first(frame, scene, points, ident, base, shown, latest, search):
    """The causes the reduced copy shows (but those in `latest`), those that
    fit it best first, where `search`."""
    if not search:
        return
    few = model.coarse(points, ident)
    fitted = [(c, model.fits_under(c, scene, *few)) for c in model.candidates(scene, points, ident, shown)
              if c not in latest]
    # Those that may fit as a correct frame fits (fits_better's first look),
    # or, placed a pixel or two off, fit twice as well as the scene already;
    # then the placement that fits best, where it fits a third better (a
    # picture cut short by the frame, placed by its spread, lies further off).
    scene_fit = model.fit(few[1], few[0].got).total
    fitted.sort(key=lambda cf: cf[1].total)
    near = [c for c, f in fitted if f.explains(2 * MISSES) or f.total * 2 <= scene_fit + FEW]
    yield from near
    yield from [c for c, f in fitted if c.kind == "placed" and f.total <= CLOSER * scene_fit and c not in near][:1]
    if shown == "picture":  # where no one change fits: a placement and a map of the colours at once
        placements = [c for c, _ in fitted if c.kind == "placed"]
        yield from (c for c in model.both(scene, points, ident, placements, frame.pixels) if c not in latest)


# The placement that fits best is moved to where the outlines put it where
# it fits the reduced copy this much closer than the scene does at least.
CLOSER = 2 / 3


# A cause that only the whole frame shows is looked for where one of the
# objects that never move fails: the turning quads alone are the angle's.
STILL = {"image quad", "wire box"}


def outlines_off(look, most=None):
    """Whether the quads' outlines fit worse than a correct frame's: two or
    more, among them one that never moves (a quad the angle leaves edge-on
    tells nothing), or any (`most`): the picture moved by less than the
    checks can tell."""
    off = {n for n in look.scene.quads if look.fits[n][None].residual >= CLEAR_RESIDUAL}
    return bool(off) if most is any else len(off) >= 2 and bool(off & STILL)


def placed_nearby(scene, frame):
    """The picture moved by a pixel or two, where it fits the frame's
    outlines best: a list of no or one Cause."""
    moved = model.refined(scene, Cause("placed", (0, 1, 1, 0, 0)), frame.pixels, reach=3)
    return [moved] if moved.values != (0, 1, 1, 0, 0) else []


def cause_of(frame, scene, points, ident, base, causes, results=None, whole=False):
    """The cause that fits the reduced copy as a correct frame fits and,
    judged by the checks under it, explains the frame: the first that
    leaves no check failing, or else (but where `whole`), of those judged,
    the one that leaves one object's own fault alone (the fewest failing
    checks); the Results,
    WHOLE naming it, or None. The checks it explains follow from it: those
    that fail at the scene (in `results`, where the checks were run) or
    whose objects it changes."""
    best = None
    for cause, off in itertools.islice(fitting(frame, scene, points, ident, base, causes), CANDIDATES):
        under = model.judging(cause, frame, scene)
        if under is None:  # no check can judge it: the reduced copy is all the evidence
            remember(cause)
            lag = off and lag_result(cause, off, scene, points, ident)
            got = [lag if lag and c == ANGLE else Result(c) for c in CHECKS[1:]]
            return [whole_result(cause, points, base, scene)] + following(got, {c: WHOLE for c in CHECKS[1:]
                                                                                 if not lag or c != ANGLE})
        # What is thinner than a pixel may be lost by it: the box's lines and
        # a quad's colours at a few points where the picture is resampled;
        # where colours are squeezed towards black, the quads' slivers and
        # the levels shown as black (a gradient's darkest points), and what
        # is read from colours: the outlines, the angle, the depth test.
        # Under a map of the colours those are not judged at all.
        # A picture of another resolution, each pixel repeated, keeps its
        # pixels' colours: its quads' colours are judged at its size.
        colours = cause.kind in ("colours", "both")
        repeated = cause.kind == "resolution" and cause.values[1] != model.SMOOTHED
        lost = ({BOX} | (set() if repeated else set(COLOUR_CHECKS.values())) |
                ({ANGLE, DEPTH, *OUTLINE_CHECKS.values()} if colours else set())) if model.loses(cause) else set()
        # A picture changed and shown late: where the reduced copy fits it
        # at an angle off only, or the frames before were at one under a
        # cause accepted lately, judged there first; where the angle's
        # check reads one, or where checks fail and the angle named last
        # or a frame's turn behind explains them, judged there again.
        # Where a cause loses what the angle is read from, the reduced
        # copy's angle is the one named.
        # NOTE: a map's frame is undone once: at another angle only the scene differs.
        mapped = "colours" in (cause.kind, colours and cause.kind == "both" and cause.values[1].kind)
        look_of = lambda s, cause=cause, under=under, mapped=mapped: Look(*(
            under if s is scene else (under[0], model.under(cause, s)) if mapped else model.judging(cause, frame, s)))
        unjudged = lost if colours else ()
        steady = cause in LATEST and STREAK[1] >= STEADY and STREAK[0]
        late = None
        if ANGLE not in lost and (off or steady):
            late, cause = late_under(cause, look_of, frame, scene, points, off or steady, lost)
        elif off and ANGLE in lost:
            late, cause = late_under(cause, look_of, frame, scene, points, off, lost,
                                     lag_result(cause, off, scene, points, ident))
        look = None if late else Look(*under)
        got = late or blame(look, [Result(c) if c in unjudged else judged(c, look) for c in CHECKS[1:]])
        failing = [r for r in got if r.problem and not r.follows and r.check not in lost]
        angle = next((r for r in failing if r.check == ANGLE and r.problem.cause), None)
        if angle and not late and angle.problem.cause.kind == "angle":
            late, cause = late_under(cause, look_of, frame, scene, points, angle.problem.cause.values[0], lost, angle)
            got, failing = (late, [angle]) if late else (got, failing)
        elif failing and not late and not angle:
            for o in dict.fromkeys(o for o in (off, LAG[0], LATE[0]) if o):
                named = lag_result(cause, o, scene, points, ident) if ANGLE in lost else \
                    Result(ANGLE, angle_problem(look, o, look.fits))
                late, cause = late_under(cause, look_of, frame, scene, points, o, lost, named)
                if late:
                    got, failing = late, [r for r in late if r.check == ANGLE]
                    break
        if model.subtle(cause) and (late or outlines_off(look, any)):  # the checks alone cannot tell it
            continue
        if len({r.check.object or "scene" for r in failing}) > (0 if whole else 1) or any(r.error for r in got):
            continue
        if best is None or len(failing) < best[0]:
            best = (len(failing), cause, got, lost, bool(late))
        # A frame shown late under it, every check passing at the angle it
        # shows, is the angle's to say (its own check, and the turn's over
        # it): the cause is named as it is, not moved a pixel or scaled a
        # little further to hide a degree.
        if not failing or late:
            break
    if best is None:
        return None
    _, cause, got, lost, late = best
    remember(cause)
    changed = changes(cause, scene, points, ident, base, results) | lost
    got = [scaled(r, cause) for r in got]
    follows = {r.check: WHOLE for r in got if (not r.problem or r.check in lost) and r.check in changed and
               not (late and r.check == ANGLE)}
    return bare([whole_result(cause, points, base, scene)] + [diagnosed(r) for r in following(got, follows)])


def late_under(cause, look_of, frame, scene, points, off, lost, angle=None):
    """shown_late under a cause (look_of: its look at a scene), or under
    the map of the colours read again at the angle off (the frame's colours
    read at its own angle are misread where a lag moved them); a placement
    new to this process moved again to where the outlines at that angle
    put it (moved at the frame's own, it took up some of the degree): the
    Results or None, and the cause they are under."""
    late = shown_late(look_of, scene, off, CHECKS[1:], lost, angle)
    there = model.angle_scene(scene, off)
    if late and cause.kind == "placed" and cause not in LATEST:
        again = model.refined(there, cause, frame.pixels)
        moved = again != cause and shown_late(lambda s: Look(frame, model.under(again, s)), scene, off, CHECKS[1:],
                                              lost, angle)
        return (moved, again) if moved else (late, cause)
    if late or cause.kind != "colours":
        return late, cause
    again = next((c for c in model.colour_causes(there, reference_at(there, points.x, points.y), points)
                  if c.kind == "colours" and c != cause), None)
    late = again and shown_late(lambda s: Look(*model.judging(again, frame, s)), scene, off, CHECKS[1:], lost, angle)
    return (late, again) if late else (None, cause)


def whole_result(cause, points, base, scene):
    """The whole frame's Result naming a cause, its evidence the reduced
    copy's points off the scene, and the quads where the cause puts them."""
    moved = cause.kind in ("placed", "corner", "both")
    return Result(WHOLE, Problem(says(cause), points.rows[base.where], points.cols[base.where], at(points, base.where),
                                 model.under(cause, scene) if moved else None, tuple(scene.quads) * moved, cause=cause))


def fitting(frame, scene, points, ident, base, causes):
    """Of the causes, those that fit the reduced copy as a correct frame
    fits (those accepted lately, on every other point alone), in their
    order, each with the angle off it fits at only (fits_late), or None;
    the first REFINED placements new to this process moved first to where
    the frame's outlines put them."""
    refined, refs = 0, {}
    for cause in causes:
        known = cause in LATEST
        if cause.kind == "placed" and not known and refined < REFINED:
            cause, refined = model.refined(scene, cause, frame.pixels), refined + 1
        if cause.kind == "resolution":
            if model.shows_resolution(frame, cause):
                yield cause, None
        elif fits_better(cause, scene, points, ident, base, known):
            yield cause, None
        else:
            off = fits_late(cause, scene, frame.pixels, points, ident, base, known, refs)
            if off:
                yield cause, off


def fits_late(cause, scene, pixels, points, ident, base, known, refs):
    """The angle off at which a cause fits the reduced copy as a correct
    frame fits, where it fits not at the frame's own (a picture changed and
    shown late at once: the angle's check then says the degree), or None:
    the angle the frames before were at (a cause accepted lately, on every
    other point alone), or else of the one named last and LATE, the one
    that the pixels around the points off fit best at (a degree or two may
    fit the reduced copy alike). `refs`: the references at each angle,
    kept across causes."""
    fitted = []
    for off in dict.fromkeys(o for o in (STREAK[0] if known else None, LAG[0], *LATE) if o):
        there = model.angle_scene(scene, off)
        if off not in refs:
            refs[off] = reference_at(there, points.x, points.y)
        if not fits_better(cause, there, points, refs[off], base, known and off == STREAK[0]):
            continue
        if known and off == STREAK[0]:
            return off
        fitted.append(off)
    if len(fitted) < 2:
        return fitted[0] if fitted else None
    where = model.fits_under(cause, scene, points, ident).where
    if not where.any():
        return fitted[0]
    # Every other pixel of the rectangle around the points off.
    rows, cols = points.rows[where], points.cols[where]
    pad = points.cols[1] - points.cols[0]
    box = np.zeros(pixels.shape[:2], bool)
    box[max(rows.min() - pad, 0):rows.max() + pad:2, max(cols.min() - pad, 0):cols.max() + pad:2] = True
    r, c = np.nonzero(box)
    near = model.Points(r, c, c + 0.5, len(box) - r - 0.5, pixels[r, c].astype(float))
    # NOTE: alike there, the angle named last, or else the nearest: a
    # degree GL's edges leave either way cannot be told.
    totals = [(model.fits_under(cause, there, near, reference_at(there, near.x, near.y)).total, off != LAG[0], -off,
               off) for off in fitted for there in [model.angle_scene(scene, off)]]
    return min(totals)[-1]


def lag_result(cause, off, scene, points, ident):
    """The angle's Result where the reduced copy alone says a frame lies
    OFF degrees off its angle under a cause, its evidence the points the
    cause leaves off at the frame's own angle."""
    fit = model.fits_under(cause, scene, points, ident)
    lag = Cause("angle", (off, False))
    return Result(ANGLE, Problem(says(lag, scene.angle), points.rows[fit.where], points.cols[fit.where],
                                 at(points, fit.where), cause=lag))


# Placements are moved to where the outlines put them (costly) for so many.
REFINED = 2


def fits_better(cause, scene, points, ident, base, coarse_only=False):
    """Whether the reduced copy fits the scene under a cause as a correct
    frame fits, and far better than the scene itself: on every other point
    first, then on all."""
    if not model.fits_under(cause, scene, *model.coarse(points, ident)).explains(2 * MISSES):
        return False
    if coarse_only:
        return True
    f = model.fits_under(cause, scene, points, ident)
    return f.explains() and f.total * 2 <= base.total + FEW


# At most this many causes are judged by the checks on one frame.
CANDIDATES = 3


# A search of the causes that failed FAILURES frames running, on and on (a
# picture no one cause explains), is made again only where the count of
# failures is a power of 16, by one process: the cost of a turn stays its
# own, whatever the frames show (a turn's 360 frames are searched at the
# first frames of each process, then at the 16th and 256th failures).
# FAILED: the count and the count last searched again at, one for every
# process judging a turn's frames (in memory shared with the processes
# forked after it is made), counted anew at each turn (anew) and after a
# cause is accepted.
FAILURES = 2
FAILED = (ctypes.c_int64 * 2).from_buffer(mmap.mmap(-1, 16))
# The number of the frame this process judged last: a frame numbered no
# later is of another run, or judged apart, but where the run says it
# goes on (goes_on).
LAST = [0]


def anew():
    """A new turn, or a frame judged apart: no search failed yet."""
    FAILED[:] = [0, 0]


def goes_on():
    """The next frame is of the run the frames before were (a photograph of
    another kind, judged after a turn): its number starts nothing anew."""
    LAST[0] = 0


def due():
    """Whether a search is due: at a process's frames until FAILURES
    failed, then by one process alone at each count searched_again names."""
    # NOTE: unlocked: two processes that claim one count at once both
    # search, which costs a search, never a verdict.
    n = FAILED[0]
    if n >= FAILURES and (not searched_again(n) or FAILED[1] == n):
        return False
    FAILED[1] = n
    return True


def searched_again(failures):
    """Whether a search is made again after so many failures: 16, 256..."""
    return failures > 1 and failures & (failures - 1) == 0 and failures.bit_length() % 4 == 1


def remember(cause):
    """A cause accepted: tried first on the next frames, where a frame can
    be judged under it (not one only the checks or the turn tell)."""
    if cause.kind not in model.CHANGES:
        return
    anew()
    if cause in LATEST:
        LATEST.remove(cause)
    LATEST.insert(0, cause)
    del LATEST[4:]


def at(points, where):
    """The middle of the points off, (column, row), or None."""
    if not where.any():
        return None
    return int(np.median(points.cols[where])), int(np.median(points.rows[where]))


def changes(cause, scene, points, ident, base, results):
    """The checks whose evidence a cause changes: a set of records. Where
    the checks were run at the scene, those that failed there; else those
    of the objects the reduced copy shows otherwise, the box where the
    cause moves or colours it, the clear colour where the background
    changed, the depth test where a quad did, the angle where a turning
    quad did."""
    if results is not None:
        return {r.check for r in results if r.problem or r.error}
    objects = {name for i, name in enumerate(scene.quads, 1) if base.off[model.JUDGED.index(i)] > FEW}
    out = {OUTLINE_CHECKS[n] for n in objects} | {COLOUR_CHECKS[n] for n in objects}
    if base.off[model.JUDGED.index(BACKGROUND)] > FEW:
        out.add(CLEAR_CHECK)
    if objects:
        out.add(DEPTH)
    if objects & set(TURNING):
        out.add(ANGLE)
    if box_changed(cause, scene):
        out.add(BOX)
    return out


def box_changed(cause, scene):
    """Whether a cause moves the box's lines or changes their colour."""
    if cause.kind in ("resolution", "one colour"):
        return True
    if cause.kind == "both":
        return any(box_changed(c, scene) for c in cause.values)
    if cause.kind == "colours":
        return bool(np.abs(model.mapped([scene.box_colour], *cause.values[:3]) - scene.box_colour).max() > FEW)
    if cause.kind != "placed":
        return False
    a, b = segments(scene)[:, :, :2], segments(model.under(cause, scene))[:, :, :2]
    same = lambda p, q: np.abs(p - q).max(axis=(1, 2)) < 0.5
    return not all(same(b[k:k + 1], a).any() or same(b[k:k + 1, ::-1], a).any() for k in range(len(b)))


def scaled(result, cause):
    """A result judged in a frame drawn at another resolution, its evidence
    in the frame's own pixels."""
    if cause.kind != "resolution" or not result.problem:
        return result
    f = cause.values[0]
    p = result.problem
    return result._replace(problem=p._replace(rows=p.rows * f + f // 2, cols=p.cols * f + f // 2,
                                              at=p.at and (p.at[0] * f + f // 2, p.at[1] * f + f // 2)))


def at_its_angle(frame, scene, results):
    """Where the frame is drawn at another angle (the angle's check names
    it), the checks that fail at the scene's angle but pass at that one
    follow from it."""
    angle = next(r for r in results if r.check == ANGLE)
    cause = angle.problem and angle.problem.cause
    others = [r for r in results if r.problem and r.check not in (WHOLE, ANGLE, BOX) and
              r.check not in (OUTLINE_CHECKS[n] for n in TURNING)]  # those blame gives the angle
    if not cause or cause.kind != "angle" or not others:
        return results
    look = Look(frame, model.angle_scene(scene, cause.values[0]))
    passing = {r.check for r in others if not judged(r.check, look).problem}
    return [r._replace(follows=ANGLE) if r.check in passing else r for r in results]


def unexplained(results):
    """Where no cause of the whole frame was found and most parts of the
    picture fail on their own (the background, where nothing is drawn, one
    of them), one line says so, with the parts, and theirs follow from
    it."""
    own = [r for r in results if r.problem and not r.follows and part(r)]
    objects = list(dict.fromkeys(map(part, own)))
    if len(objects) < UNEXPLAINED or any(r.check == WHOLE and r.problem for r in results):
        return results
    cause = Cause("unexplained", tuple(objects))
    p = own[0].problem
    results = [r._replace(problem=Problem(says(cause), p.rows, p.cols, p.at, cause=cause)) if r.check == WHOLE else r
               for r in results]
    return following(results, {r.check: WHOLE for r in own})


def part(result):
    """The part of the picture a check judges: an object's name, the
    "background" (the clear colour's), or None (the whole scene's)."""
    return "background" if result.check == CLEAR_CHECK else result.check.object


def parts(results):
    """The parts of the picture that fail on their own: a set of names, and
    whether anything else does (a check of no part)."""
    own = [r for r in results if r.problem and not r.follows]
    return {part(r) for r in own} - {None}, any(part(r) is None for r in own)


# The parts of the picture that the frame this process judged last was
# found wrong with, no one change explaining them ("unexplained").
WRONG = []


def wrong_again(scene, points, base):
    """A frame on which no search is made, whose reduced copy shows every
    part off that the frame before was found wrong with (WRONG; of those it
    holds: the box's lines are too thin for it), is wrong the same way: the
    whole frame's Result says so, every other check follows unjudged
    ([Result]); or None."""
    off = base.off > GATE * base.judged + FEW
    names = ("background",) + tuple(scene.quads)
    if not set(WRONG) & set(names) <= {names[o] for o, is_off in zip(JUDGED, off) if is_off}:
        return None
    return wrong_as_before(points, base, scene)


def wrong_as_before(points, base, scene, results=None):
    """The whole frame's Result saying it is wrong in the parts the frame
    before was (WRONG), and the other checks' Results (`results`) that fail
    following from it; with no results, every other check, unjudged."""
    others = results or [Result(c) for c in CHECKS[1:]]
    return [whole_result(Cause("unexplained", tuple(WRONG)), points, base, scene)] + \
        following(others, {r.check: WHOLE for r in others if results is None or r.problem})


def within(results, unexplained):
    """Whether the parts that fail on their own in `results` are some of
    those a Cause("unexplained", parts) names, and nothing else fails."""
    failing, other = parts(results)
    return bool(failing) and not other and failing <= set(unexplained.values)


# Parts of the picture failing on their own that make most of the frame wrong.
UNEXPLAINED = 3


def diagnosed(result):
    """A check at fault on its own, in the words of the misreading that
    explains it where one does."""
    if not result.problem or result.follows or result.check == WHOLE or not result.problem.diagnose:
        return result
    try:
        misread = result.problem.diagnose()
    except Exception as e:  # noqa: BLE001 - the check's own error, as any other
        return result._replace(problem=None, error=f"{type(e).__name__}: {e}")
    return result._replace(problem=misread) if misread else result


def bare(results):
    """Closures do not cross to another process; the words and pixels do."""
    return [r._replace(problem=r.problem._replace(still=None, diagnose=None)) if r.problem else r for r in results]
