"""The frame before showing through where nothing is drawn over it (the
colour clear skipped): a cause of the whole frame that only the frame's
own checks tell, after them. The checks it explains follow from the whole
frame's check (WHOLE)."""
import numpy as np

from .blame import following
from .checks import (ANGLE, BOX, CLEAR_CHECK, GRADIENT_OUTLINE, IMAGE_OUTLINE, OUTLINE_CHECKS, TILED_OUTLINE, WHOLE,
                     Problem)
from .look import ANGLE_READINGS, TURNING, at_pixels, patch, union_fit
from .model import Cause, angle_scene
from .tolerances import CLEAR_RESIDUAL, FEW
from .words import says


def behind(look, failing):
    """The frame before showing through where nothing is drawn over it: each
    turning quad whose outline fails fits the frame as a correct frame
    fits, drawn over itself a degree back (look.union_fit), and the clear
    colour, if it fails, passes with the lit pixels that the frame before's
    turning quads covered left out. (Problem, the checks it explains) or
    None."""
    where_nothing = {CLEAR_CHECK, TILED_OUTLINE, GRADIENT_OUTLINE, IMAGE_OUTLINE, BOX} & set(failing)
    if not where_nothing:
        return None
    scene = look.scene
    before = angle_scene(scene, -1)
    for name in TURNING:
        fit, union = look.fits[name][None], union_fit(look, name, ANGLE_READINGS[name][0])
        if OUTLINE_CHECKS[name] in failing or fit.residual >= CLEAR_RESIDUAL:
            if union is None or union.stray > FEW or union.residual >= CLEAR_RESIDUAL:
                return None
    others = where_nothing - {TILED_OUTLINE, GRADIENT_OUTLINE}
    if others:
        patches = [patch(before, before.quads[n]) for n in TURNING]

        def left_out(rows, cols):
            # Lit pixels only: what shows through adds to a frame, and never
            # takes from it.
            return np.logical_or.reduce([at_pixels(p, p.near, rows, cols) for p in patches]) & look.lit[rows, cols]
        if any(failing[n].problem.still is None or failing[n].problem.still(left_out) for n in others):
            return None
    p = failing[min(where_nothing)].problem
    cause = Cause("behind", (1,))
    return Problem(says(cause), p.rows, p.cols, p.at, before, cause=cause), where_nothing


def whole_frame(look, results):
    """The results with the frame before showing through said (WHOLE), and
    the checks it explains following from it."""
    failing = {r.check: r for r in results if r.problem and not r.follows and r.check != WHOLE}
    if ANGLE in failing:  # the turning quads' outlines are the angle's
        failing = {n: r for n, r in failing.items() if n not in (TILED_OUTLINE, GRADIENT_OUTLINE)}
    found = failing and behind(look, failing)
    if not found:
        return results
    problem, explained = found
    results = [r._replace(problem=problem) if r.check == WHOLE else r for r in results]
    return following(results, {n: WHOLE for n in explained})
