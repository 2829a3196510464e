"""Blame: where several checks of a frame fail, which object is at fault.
The pixels that another failing object may have drawn (drawn.Blame) are
left out of a check: one that then passes follows from that object and
says so; the depth test follows from the quads' colours it reads."""
import numpy as np

from .checks import (ANGLE, BOX, CLEAR_CHECK, COLOUR_CHECKS, DEPTH, DEPTH_GRID, GRADIENT_OUTLINE, OBJECTS,
                     OUTLINE_CHECKS, TILED_OUTLINE, WHOLE, Problem)
from .drawn import Blame
from .look import TURNING, grow


def blame(look, results):
    """Where several checks fail (after a cause of the whole frame, whose
    checks follow from it: causes.whole_frame): the depth test against the
    quads' colours it reads, then the objects: the failing checks whose pixels another
    failing object accounts for follow from it, and say so; the rest are
    the objects at fault. Both quads a degree off follow from the angle."""
    failing = {r.check: r for r in results if r.problem and not r.follows and r.check != WHOLE}
    if len(failing) < 2:
        return results
    follows = spoilt_depth(look, failing)
    if ANGLE in failing:
        follows.update({n: ANGLE for n in (TILED_OUTLINE, GRADIENT_OUTLINE) if n in failing})
    open_ = [n for n in failing if n != ANGLE and n not in follows]
    objects = {n.object for n in open_ if n.object}
    b = Blame(look, {n.object for n in failing if n in OUTLINE_CHECKS.values()})

    def stands(name, among):
        # Pixels where nothing is drawn may be any object's that strayed.
        astray = name == CLEAR_CHECK or failing[name].problem.astray
        still = failing[name].problem.still
        return still is None or still(b.left_out(among, name.object, astray))
    if BOX in open_ and failing[BOX].problem.astray and CLEAR_CHECK in open_ and \
            not stands(BOX, set(OBJECTS) - {"wire box"}):
        # A quad's colours straying where nothing is drawn, green among them:
        # the clear colour's line names whose they are.
        follows[BOX] = CLEAR_CHECK
        open_.remove(BOX)
    primary = [n for n in open_ if stands(n, objects)]
    if not primary and open_:  # each explained by another: the first object's own check
        primary = [next((n for n in open_ if n.object), open_[0])]
    causes = {n.object: n for n in reversed(primary) if n.object}
    if ANGLE in failing:
        # What the turning quads drew at their other angle explains other
        # objects' checks too.
        for n in [n for n in primary if n.object not in TURNING and not stands(n, set(TURNING))]:
            primary.remove(n)
            follows[n] = ANGLE
        causes = {o: n for o, n in causes.items() if n in primary}
        primary.append(ANGLE)
        causes.update({o: ANGLE for o in TURNING})
    for n in open_:
        if n in primary:
            continue
        if stands(n, causes):
            primary.append(n)
            continue
        p = failing[n].problem
        weights = {o: b.drew(o, p.rows, p.cols, n == CLEAR_CHECK).sum() for o in causes if o != n.object}
        follows[n] = causes[max(weights, key=weights.get)] if weights else primary[0]
    return following(results, follows)


def following(results, follows):
    """The results, those named in `follows` ({check: the check it follows
    from}) following from it."""
    return [r._replace(problem=r.problem or Problem(""), follows=follows[r.check]) if r.check in follows else r
            for r in results]


def spoilt_depth(look, failing):
    """The depth test reads which quad shows where they overlap from their
    colours: where a quad's colours fail and still fail with the points the
    depth test disagrees at left out, its fault is theirs; where they fail
    only there, theirs is the depth test's. {check: the check it follows
    from}."""
    colours = [COLOUR_CHECKS[q] for q in COLOUR_CHECKS if COLOUR_CHECKS[q] in failing]
    if DEPTH not in failing or not colours:
        return {}
    p = failing[DEPTH].problem
    region = np.zeros((look.scene.h, look.scene.w), bool)
    region[p.rows, p.cols] = True
    region = grow(region, DEPTH_GRID)
    left_out = lambda rows, cols: region[rows, cols]
    standing = [c for c in colours if failing[c].problem.still is None or failing[c].problem.still(left_out)]
    if standing:
        return {DEPTH: standing[0]}
    return {c: DEPTH for c in colours}
