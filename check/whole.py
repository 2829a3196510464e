"""Causes of the whole frame, told before any object is blamed: a frame of
one colour (nothing drawn), one map from the scene's colours to the colours
shown over every object alike (a gamma curve, an inversion), and the words
for them (misreadings.CAUSES). Pure functions on arrays: pixels are
(rows, columns, 3) levels 0..255, points (n, 3)."""
from typing import NamedTuple

import numpy as np

from .checks import rgb
from .misreadings import CAUSES

# Within this many levels of one colour a pixel is that colour (a 16-bit
# visual's dither); a frame with no more than FLAT_STRAYS pixels further off
# shows that colour alone.
FLAT_REACH = 10
FLAT_STRAYS = 3
# The map is read at each level that this many points of the scene share,
# and at the median of each run of MAP_RUN of the other points, by level,
# that spans no more than MAP_BAND levels.
MAP_POINTS = 8
MAP_RUN = 4
MAP_BAND = 16
# A point fits the map when each channel lies within MAP_TOLERANCE of it
# (the checks' own tolerance for a colour); every object fits it at all but
# this share of its points (a dither, a texel at a cell's corner).
MAP_TOLERANCE = 24
MAP_MISSES = 0.1
# A map is a cause where it moves a level further than a colour check
# allows, with room for a rounding, and every object that shows a colour
# fits it: at least MAP_OBJECTS of them (the background counts), so that
# the levels one object has are held by another's (a quad seen edge-on
# shows none).
MAP_MOVES = 40
MAP_OBJECTS = 3
# Levels MAP_APART apart stay at least MAP_SQUEEZE of that apart under a
# map that can be undone (decoding with a gamma of 2.2 keeps 0 and 64 a
# fifth apart).
MAP_APART = 64
MAP_SQUEEZE = 1 / 8
# A gamma curve explains a map whose known levels all lie this near it.
GAMMA_TOLERANCE = 12
LEVELS = np.arange(256, dtype=float)


def flat_colour(pixels):
    """The one colour of a frame that shows nothing else, as (r, g, b), or
    None. A sparse sample is tried first, so that a frame with anything
    drawn costs little."""
    sample = pixels[::8, ::8].reshape(-1, 3).astype(np.int16)
    c = np.median(sample, axis=0).astype(np.int16)
    if (np.abs(sample - c).max(axis=1) > FLAT_REACH).any():
        return None
    off = (np.abs(pixels.astype(np.int16) - c).max(axis=2) > FLAT_REACH).sum()
    return tuple(int(v) for v in c) if off <= FLAT_STRAYS else None


def nothing_drawn(colour):
    """The words for a frame of one colour."""
    if max(colour) <= FLAT_REACH:
        return CAUSES["nothing"].says
    return CAUSES["flat"].says.format(colour=rgb(colour))


class ColourMap(NamedTuple):
    """A map from the levels of the scene's colours to those shown: each
    channel's known levels and what each shows, the map over 0..255
    (3, 256), and its inverse (3, 256) uint8, which undoes it in a frame."""
    known: tuple  # per channel: (levels, shown), two arrays
    forward: np.ndarray
    back: np.ndarray
    says: str


def read_map(levels, shown):
    """One channel's map as (levels, shown) at the levels the points share
    and at the median of each run of the others: levels and shown are (n,)."""
    values, counts = np.unique(levels, return_counts=True)
    exact = values[counts >= MAP_POINTS]
    rest = ~np.isin(levels, exact)
    at, got = [], []
    for v in exact:
        at.append(v)
        got.append(np.median(shown[levels == v]))  # a few levels: the scene's flat colours
    # The rest in runs of MAP_RUN points, by level (a quad seen nearly
    # edge-on has few, spread over many levels), none wider than MAP_BAND.
    order = np.argsort(levels[rest], kind="stable")
    run_levels, run_shown = levels[rest][order], shown[rest][order]
    span = run_levels[MAP_RUN - 1:] - run_levels[:len(run_levels) - MAP_RUN + 1]  # of the run from each point
    starts, start = [], 0
    while start < len(span):
        if span[start] <= MAP_BAND:
            starts.append(start)
            start += MAP_RUN
        else:
            start += 1
    if starts:
        index = np.asarray(starts)[:, None] + np.arange(MAP_RUN)
        at += list(np.median(run_levels[index], axis=1))
        got += list(np.median(run_shown[index], axis=1))
    order = np.argsort(at)
    return np.asarray(at, float)[order], np.asarray(got, float)[order]


def keeps_apart(at, shown):
    """Whether a channel's map keeps its levels apart, the one way: it runs
    one way (up or down, but for a rounding) from each known level to the
    next, and any two known levels MAP_APART or more apart show at least
    MAP_SQUEEZE of that apart, all the same way round. A map that squeezes
    levels together cannot be undone, and is no map of a curve but of
    colours lost (every level but black showing white); one that turns
    back is two objects' colours off two ways."""
    steps = np.diff(shown)
    if not ((steps >= -MAP_TOLERANCE / 2).all() or (steps <= MAP_TOLERANCE / 2).all()):
        return False
    i, j = np.triu_indices(len(at), 1)
    far = at[j] - at[i] >= MAP_APART
    if not far.any():
        return True
    gap = (shown[j] - shown[i])[far] / (at[j] - at[i])[far]
    return bool((gap >= MAP_SQUEEZE).all() or (gap <= -MAP_SQUEEZE).all())


def colour_map(expected, got, objects):
    """The map from the scene's colours to the frame's that every object
    shows alike, where it moves some level beyond what a check allows on at
    least MAP_OBJECTS objects: a ColourMap, or None. expected, got: (n, 3)
    levels at points of one certain colour each; objects: (n,) which object
    each point is of."""
    if len(expected) < MAP_POINTS:
        return None
    known, forward = [], np.empty((3, 256))
    for c in range(3):
        at, shown = read_map(expected[:, c], got[:, c])
        if len(at) < 2 or not keeps_apart(at, shown):
            return None
        known.append((at, shown))
        forward[c] = np.interp(LEVELS, at, shown)
    mapped = forward[np.arange(3), np.clip(np.round(expected), 0, 255).astype(int)]
    fits = (np.abs(got - mapped) <= MAP_TOLERANCE).all(axis=1)
    moved = (np.abs(mapped - expected) > MAP_MOVES).any(axis=1)
    shown = 0
    for o in np.unique(objects):
        k = objects == o
        if k.sum() >= MAP_POINTS and (~fits[k]).mean() > MAP_MISSES:
            return None  # this object is off some other way
        shown += k.sum() >= MAP_POINTS
    if shown < MAP_OBJECTS or (moved & fits).sum() < MAP_POINTS:
        return None
    # Examples: two greys where the map moves greys, else the scene's
    # colours it moves most.
    greys = np.array([(64,) * 3, (128,) * 3])
    if (np.abs(forward[np.arange(3), greys] - greys) > MAP_MOVES).any():
        shown_most = greys
    else:
        colours = np.unique(np.clip(np.round(expected[moved & fits]), 0, 255).astype(int), axis=0)
        shifts = np.abs(forward[np.arange(3), colours] - colours).max(axis=1)
        shown_most = colours[np.argsort(-shifts, kind="stable")[:2]]
    back = np.empty((3, 256), np.uint8)
    for c in range(3):
        f = forward[c]
        if f[-1] >= f[0]:
            back[c] = np.round(np.interp(LEVELS, np.maximum.accumulate(f), LEVELS))
        else:
            back[c] = np.round(np.interp(LEVELS, np.maximum.accumulate(f[::-1]), LEVELS[::-1]))
    return ColourMap(tuple(known), forward, back, map_words(forward, known, shown_most))


def map_words(forward, known, colours):
    """What a user sees of a map, in the words of CAUSES["colour map"], with
    the scene's colours that it moves most (k, 3) for examples."""
    ends_kept = all(abs(f[0]) <= MAP_TOLERANCE and abs(f[-1] - 255) <= MAP_TOLERANCE for f in forward)
    mid = [(at[(at > 32) & (at < 223)], shown[(at > 32) & (at < 223)]) for at, shown in known]
    change = np.concatenate([s - a for a, s in mid]) if mid else np.zeros(0)
    if all(f[-1] < f[0] for f in forward):
        how = "inverted"
    elif len(change) and (change > -MAP_TOLERANCE / 2).all() and change.max() > MAP_MOVES:
        how = "but black and white brighter" if ends_kept else "brighter"
    elif len(change) and (change < MAP_TOLERANCE / 2).all() and change.min() < -MAP_MOVES:
        how = "but black and white darker" if ends_kept else "darker"
    else:
        how = "off the same way"
    curve = ""
    a = np.concatenate([a for a, _ in mid]) / 255 if mid else np.zeros(0)
    s = np.concatenate([s for _, s in mid]) / 255 if mid else np.zeros(0)
    usable = (a > 0) & (a < 1) & (s > 0) & (s < 1)
    if ends_kept and usable.sum() >= 2:
        p = float(np.median(np.log(s[usable]) / np.log(a[usable])))
        if np.abs(255 * a[usable] ** p - 255 * s[usable]).max() <= GAMMA_TOLERANCE and abs(p - 1) > 0.1:
            curve = (f", as encoding with a gamma of {1 / p:.1f} would" if p < 1
                     else f", as decoding with a gamma of {p:.1f} would")
    examples = ", ".join(f"{rgb(c)} {'shows as ' if i == 0 else 'as '}{rgb(forward[np.arange(3), c])}"
                         for i, c in enumerate(colours))
    return CAUSES["colour map"].says.format(how=how, curve=curve, examples=examples)


def undo(pixels, cmap):
    """The frame's pixels with the map undone: (rows, columns, 3) uint8."""
    out = np.empty_like(pixels)
    for c in range(3):
        out[..., c] = cmap.back[c][pixels[..., c]]
    return out


# ------------------------------------------------------- across frames

# A run of frames each at the angle a degree back is a frame of lag where at
# least this share of the frames after the first fit it (near face-on a
# degree cannot be told) and none fits another angle.
LAG_SHARE = 0.5


def across_frames(judged, whole, angle, turn, colour_checks=()):
    """What only the frames together tell, in the results of a turn
    (judged: {frame: (why unsettled, [frame.Result])}; `whole` and `angle`
    those checks' records, `colour_checks` the records of the checks that
    judge colours): every frame a degree back with the first showing
    nothing is a frame of lag, said by the angle check (the first frame's
    lines follow from it); a frame a degree back that misses nothing of its
    own scene, with its neighbours at their angles, is the frame before
    showing through, said by the whole frame's check (the angle follows
    from it); and between two frames that show a map of every colour (or
    every object in one colour), a frame where only the checks that read
    colours fail shows it too: it is the machine's, and a frame that shows
    too few of the scene's colours to tell it by (a quad seen nearly
    edge-on) shows it all the same. Returns the same form."""
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
        return lambda r: r._replace(problem=r.problem._replace(says=f"follows from {check.cause}"), follows=check)
    out = dict(judged)
    frames = sorted(n for n in judged if not judged[n][0] and judged[n][1] and n <= turn)
    back = [n for n in frames if (cause(n, angle) or "").startswith("angle -1")]
    other = [n for n in frames if cause(n, angle) and n not in back]
    later = [n for n in frames if n > 1]
    if later and cause(1, whole) == "nothing" and not other and len(back) >= LAG_SHARE * len(later):
        words = CAUSES["lag"].says.format(first=", frame 1 nothing")
        for n in back:
            replace(n, lambda r: r._replace(problem=r.problem._replace(says=words, cause="lag"))
                    if r.check == angle else r)
        for n in [1] + [n for n in frames if cause(n, whole) == "behind 1"]:  # what the frame before shows
            replace(n, lambda r: follow(angle)(r) if r.check == whole or r.follows == whole else r)
        return out
    for kind in ("colour map", "one colour"):
        seen = [n for n in frames if cause(n, whole) == kind]
        for a, b in zip(seen, seen[1:]):
            for n in range(a + 1, b):
                own = [r for r in (out[n][1] if n in frames else ()) if r.problem and not r.follows]
                if own and all(r.check in colour_checks for r in own):
                    problem = result(a, whole).problem
                    replace(n, lambda r: r._replace(problem=problem) if r.check == whole else
                            follow(whole)(r) if r.problem and r.check in colour_checks else r)
    alone = [n for n in back if (cause(n, angle) or "").endswith("behind") and all(
        result(m, angle) is not None and cause(m, angle) is None for m in (n - 1, n + 1))]
    words = CAUSES["behind"].says.format(which="the frame before")
    for n in alone:
        problem = result(n, angle).problem._replace(says=words, cause="behind 1")
        replace(n, lambda r: r._replace(problem=problem, follows=None) if r.check == whole else
                follow(whole)(r) if r.check == angle else r)
    return out
