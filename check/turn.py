"""What only the frames of a turn together tell: which frame each shows
(one or more frames late; the picture stopped changing; the frame before
showing through around a right one), and a cause of the whole frame at the
frames between two that show it. Causes are model.Cause values, read as
such; their words are words.says'."""
from .checks import ANGLE, BLAME, BOX, CHECKS, COLOUR_CHECKS, DEPTH, WHOLE, Problem
from . import frame
from .model import CHANGES, Cause, same_picture
from .photographs import PHOTOGRAPHS
from .results import Status, Tally, frame_status, frames_words, ranges
from .scene import PLAIN_TINT, PROJECT_TINT, Scene
from .words import says

# A turn: frames 1 to 360, each at its own angle.
TURN = 360
TINTS = {"project": PROJECT_TINT, "plain": PLAIN_TINT}

# A run of frames each at the angle K degrees back is K frames of lag where
# at least this share of the frames after the first K fit it (near face-on
# a degree cannot be told) and none fits another angle.
LAG_SHARE = 0.5
# Of the frames whose angle is off, this share may be off otherwise.
LAG_OTHERS = 0.1
# Or, where the first K frames show nothing, so many frames K back (two
# lone frames a degree back are the frame before showing through as well).
LAG_FEW = 3


def across_frames(judged, whole, angle, turn, colour_checks=(), pictures=None):
    """What only the frames together tell, in the results of a turn
    (judged: {frame: (why unsettled, [frame.Result])}; `whole` and `angle`
    those checks' records, `colour_checks` the records of the checks that
    judge colours; pictures: {frame: signature}): frames that show the
    picture of the frame before, a run of them, are the picture that
    stopped changing, said by the angle check; every frame K degrees back,
    the first K showing nothing (or all drawn), is K frames of lag, said
    by the angle check (the first frames' lines follow from it); a lone
    frame a degree back that misses nothing of its own scene, with its
    neighbours at their angles, is the frame before showing through, said
    by the whole frame's check (the angle follows from it); and between
    two frames that show a cause of the whole frame, a frame where only
    the checks that read colours fail shows it too (a frame that shows too
    few of the scene's colours to tell it by), and between two where most
    of the frame is wrong, a frame where only some of the same parts are.
    Returns the same form."""
    def result(n, check):
        why, results = out.get(n, ("not judged", None))
        return None if why or not results else next((r for r in results if r.check == check), None)

    def cause(n, check):
        r = result(n, check)
        return r.problem.cause if r and r.problem and not r.follows else None

    def replace(n, change):
        why, results = out[n]
        out[n] = (why, [change(r) for r in results])

    def follow(check):
        return lambda r: r._replace(follows=check) if r.problem else r

    def name(n, check, c):
        """Frame n's line of `check` names cause c; its other failing lines
        follow from it, but a change of the picture that the frame shows
        as well (a picture changed and shown late), and what follows from
        that."""
        own = (cause(n, whole) or Cause("")).kind in CHANGES
        replace(n, lambda r: r._replace(problem=(r.problem or Problem(""))._replace(says=says(c, n), cause=c),
                                        follows=None) if r.check == check else
                r if own and (r.check == whole or r.follows == whole) else
                follow(check)(r) if r.problem and not r.follows or r.follows == whole else r)

    out = dict(judged)
    frames = sorted(n for n in judged if not judged[n][0] and judged[n][1] and n <= turn)
    pictures = pictures or {}
    blank = lambda n: (cause(n, whole) or Cause("")).kind == "nothing"
    # A picture drawn at a fraction of the resolution may show two angles alike.
    stopped = [n for n in frames if same_picture(pictures.get(n), pictures.get(n - 1))
               and any(r.problem for r in out[n][1]) and not blank(n)
               and (cause(n, whole) or Cause("")).kind != "resolution"]
    for n in stopped:  # the run of frames showing one picture: its first and last
        first, last = n - 1, n
        while first - 1 in pictures and same_picture(pictures[first], pictures[first - 1]):
            first -= 1
        while last + 1 in pictures and same_picture(pictures[last], pictures[last + 1]):
            last += 1
        name(n, angle, Cause("stopped", (first, last)))
    angles = {n: cause(n, angle) for n in frames if n not in stopped}
    offsets = {n: c.values[0] for n, c in angles.items() if c and c.kind == "angle"}
    # The most frames' offset back; the frames less far back are near
    # face-on, where a degree or two cannot be told.
    back = [-o for o in offsets.values() if o < 0]
    k = max(set(back), key=back.count) if back else 0
    first = [n for n in frames if n <= k]
    # The first K frames show nothing, or (drawn at the angle K degrees
    # back from the start) none of them does. Where they show nothing, a
    # few frames K back tell it, more than half of those off (a change of
    # the picture that loses a degree's detail hides it at the others, and
    # there a degree or two may fit alike).
    nothing = first and all(blank(n) for n in first)
    few = nothing and back.count(k) >= LAG_FEW and back.count(k) * 2 > len(offsets)
    if k and (few or sum(0 < b <= k for b in back) >= (1 - LAG_OTHERS) * len(offsets)):
        later = [n for n in frames if n > k]
        start = nothing or not any(blank(n) for n in first)
        if later and start and (few or back.count(k) >= LAG_SHARE * len(later)):
            c = Cause("late", (k, (f"1-{k}" if k > 1 else "1") if nothing else ""))
            for n in offsets:
                name(n, angle, c)  # NOTE: a frame judged a degree back near face-on is named late too
            for n in first + [n for n in frames if (cause(n, whole) or Cause("")).kind == "behind"]:
                replace(n, lambda r: follow(angle)(r) if r.check == whole or r.follows == whole else r)
            return out
    for kind in ("colours", "one colour", "background", "unexplained"):
        seen = [n for n in frames if (cause(n, whole) or Cause("")).kind == kind]
        for a, b in zip(seen, seen[1:]):
            for n in range(a + 1, b):
                own = [r for r in (out[n][1] if n in frames else ()) if r.problem and not r.follows]
                shows = frame.within(out[n][1], cause(a, whole)) if kind == "unexplained" else \
                    all(r.check in colour_checks for r in own)
                if own and shows:
                    problem = result(a, whole).problem
                    replace(n, lambda r: r._replace(problem=problem) if r.check == whole else
                            follow(whole)(r) if r.problem and (kind == "unexplained" or r.check in colour_checks)
                            else r)
    for n in offsets:
        c = angles[n]
        alone = offsets[n] == -1 and c.values[1] and all(
            result(m, angle) is not None and cause(m, angle) is None for m in (n - 1, n + 1))
        if alone:
            behind = Cause("behind", (1,))
            problem = result(n, angle).problem._replace(says=says(behind), cause=behind)
            replace(n, lambda r: r._replace(problem=problem, follows=None) if r.check == whole else
                    follow(whole)(r) if r.check == angle else r)
    return out


def turn_lines(run, label, tint, photo, judged, kept):
    """The lines of a turn (scenarios.Run `run`; the shaders' `tint` and the
    test photograph `photo` of its frames; judged: {frame: (why unsettled,
    [frame.Result])}; kept: the frames for pictures by number): each check
    over every frame judged, its failing frames as ranges; the frames that
    were not judged; the strip of angles for the report. A cause of the
    whole frame a turn names is remembered (frame.remember) for the frames
    judged after it, and said once: the same cause at the same frames in
    the next turn follows from it."""
    # What only the frames together tell (a frame of lag, the frame
    # before showing through), then each check's verdicts over them.
    judged = across_frames(judged, WHOLE, ANGLE, TURN, set(COLOUR_CHECKS.values()) | {DEPTH, BOX}, run.demo.pictures)
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
    unsaved = any(o.check == "capture" for o in run.result.outcomes)  # the error line says why
    frames = dict(scenario=label, name=f"frames ({label})")
    if missing and not unsaved:
        run.say(check="frames captured", status=Status.FAIL, words=f"{frames_words(missing)} not captured",
                 failing=tuple(missing), **frames)
    if unsettled:
        why = unsettled[min(unsettled)]
        run.say(check="frames settled", status=Status.SKIP, failing=tuple(unsettled),
                 words=f"{frames_words(list(unsettled))}: {why}; not judged", **frames)
    run.note(f"frames judged ({label}): {len(strip)} of {TURN} angles"
              + (f", in frames {ranges(n for n, _ in strip.values())}" if strip else ""))
    run.result.strips[label] = {a: status for a, (_, status) in strip.items()}
    if not strip:
        if not unsaved:
            run.say(check="frames judged", status=Status.FAIL,
                     words="no frame was drawn in a window of settled size", **frames)
        return
    seen = sorted(n for n, (why, _) in judged.items() if not why)
    scene_of = lambda f: Scene(f.number, PHOTOGRAPHS[photo][0], TINTS[tint], f.w, f.h)
    for check in CHECKS + ((BLAME,) if BLAME.id in tallies else ()):
        t = tallies.get(check.id, Tally())
        o = t.outcome(label, check, seen, kept, scene_of)
        cause = o.status is Status.FAIL and t.at[Status.FAIL][o.failing[0]].problem.cause
        if cause and (check == WHOLE or cause.kind in ("late", "stopped")):
            frames, scenario, named, _ = run.whole.setdefault(cause.kind, (o.failing, label, check.id, cause))
            frame.remember(cause)  # the frames judged here after the turn try it first
            if scenario != label and set(o.failing) <= set(frames):
                # The same cause at frames where the turn before found it,
                # with other shaders: the machine's, whatever the shaders.
                o = o._replace(status=Status.FOLLOWS, follows=named, follows_in=scenario,
                               words=f"{frames_words(list(o.failing))}: follows from {named} ({scenario})")
        run.line(o)
