"""The causes of a whole frame that a frame's own checks tell: the map of
every colour, read from the points of known colour (before the checks,
which then judge the frame with it undone); every object in one colour;
the frame before showing through (after them). The checks each explains
follow from the whole frame's check (WHOLE). The mathematics is whole.py's,
the words misreadings.CAUSES."""
import numpy as np

from .blame import following
from .checks import (ANGLE, BOX, CLEAR_CHECK, COLOUR_CHECKS, COLOUR_GRID, COLOUR_MISSES, DEPTH, EDGE_SHOWN,
                     FEW_POINTS, GRADIENT_COLOURS, GRADIENT_OUTLINE, IMAGE_COLOURS, IMAGE_OUTLINE, MIN_REGION,
                     OUTLINE_CHECKS, TILED_COLOURS, TILED_OUTLINE, TOLERANCE, WHOLE, Problem, around, failed,
                     finite_rows, image_points,
                     judge_colours, quad_points, rgb)
from .drawn import CLASS_REACH, object_colours
from .look import (ANGLE_READINGS, CLEAR_RESIDUAL, EMPTY, FOREGROUND, STRAY_PIXELS, TURNING, at_pixels, centres,
                   channel_max, grid_points, patch, quad_colours, union_fit)
from .misreadings import CAUSES
from .scene import PLAIN_TINT, Colours, Scene
from .whole import MAP_MOVES, MAP_POINTS, colour_map


# A map of the whole frame's colours is read at points every MAP_GRID pixels
# (on the colour checks' grid), at most MAP_MOST of the background and of
# each quad, where the scene's colour is one colour to within MAP_SURE
# levels (the gradient's two diagonals agree there).
MAP_GRID = 2 * COLOUR_GRID
MAP_MOST = 400
MAP_SURE = 4


def colour_pairs(look, split=None):
    """Points of one certain colour each, away from every outline: what the
    scene has there (n, 3), what the frame shows (n, 3), which object each
    is of (n,: 0 the background, then the quads in drawing order), and
    where (rows, columns). The gradient's colours are those of the diagonal
    `split` (the scene's where None)."""
    scene = look.scene
    rows, cols = grid_points(scene, MAP_GRID)
    front, away = look.front[rows, cols], ~look.edges[rows, cols]

    def take(k):
        r, c = rows[k], cols[k]
        every = max(1, -(-len(r) // MAP_MOST))
        return r[::every], c[::every]
    r, c = take(look.clear[rows, cols])
    parts = [(np.zeros((len(r), 3)), r, c, 0)]
    for i, name in enumerate(look.names, 1):
        r, c = take((front == i) & away)
        q = scene.quads[name]
        if name == "image quad":
            want = image_points(look, r, c).want
        elif q.repeats:
            want = Colours(*quad_colours(scene, q, r, c))
        else:
            one = scene.blends(q, *centres(scene, r, c), (scene.split if split is None else split,))[0]
            want = Colours(one, one, one.sum(axis=-1))
        with np.errstate(invalid="ignore"):
            sure = finite_rows(want.lo) & finite_rows(want.hi) & (channel_max(want.hi - want.lo) <= MAP_SURE)
        parts.append((((want.lo + want.hi) / 2)[sure], r[sure], c[sure], i))
    want = np.concatenate([p[0] for p in parts])
    rows, cols = np.concatenate([p[1] for p in parts]), np.concatenate([p[2] for p in parts])
    whose = np.concatenate([np.full(len(p[1]), p[3]) for p in parts])
    return want, look.got(rows, cols), whose, rows, cols


def frame_map(look):
    """The map of every colour that explains the frame, with the gradient
    split along whichever diagonal fits it (GL leaves that open), and the
    Problem that names it (the points it moves), or None."""
    for split in (0, 1):
        want, got, whose, rows, cols = colour_pairs(look, split)
        if (channel_max(np.abs(got - want)) > MAP_MOVES).sum() < MAP_POINTS:
            return None  # the frame shows the scene's colours: no map to find
        cmap = colour_map(want, got, whose)
        if cmap is not None:
            moved = channel_max(np.abs(got - want)) > max(TOLERANCE.values())
            return cmap, Problem(cmap.says, rows[moved], cols[moved],
                                                       around(rows[moved], cols[moved]), cause="colour map")
    return None


def mixtures(colours, steps=4):
    """Every mixture of the colours with weights 1 / steps apart (no black):
    (n, 3)."""
    c = np.asarray(colours, float)
    if len(c) == 1:
        return c
    out = []
    for w in np.ndindex(*(steps + 1,) * (len(c) - 1)):
        if sum(w) <= steps:
            out.append((np.array(w) @ c[:-1] + (steps - sum(w)) * c[-1]) / steps)
    return np.array(out)


def colours_moved(look):
    """The checks whose colours the map of the whole frame moves beyond
    what they allow: a set of names."""
    forward = look.cmap.forward

    def moves(colours):
        c = np.clip(np.round(np.asarray(colours, float)), 0, 255).astype(int)
        return bool((np.abs(forward[np.arange(3), c] - c) > max(TOLERANCE.values())).any())
    out = {COLOUR_CHECKS[q] for q in COLOUR_CHECKS
           if moves(mixtures(object_colours(look.scene, q)) if q == "gradient quad" else object_colours(look.scene, q))}
    if moves([(0, 255, 0)]):
        out.add(BOX)
    if moves([(0, 0, 0)]):
        out.add(CLEAR_CHECK)
    return out


def one_colour(look, failing):
    """Every object drawn in one colour (the gradient's, flat; or, the
    gradient seen edge-on, the box's), as where the colours given with
    glColor are lost: every quad's colours pass drawn in it, and at least
    two objects show it where it is not their own (the gradient's corners;
    a texel the project's shaders tint; the box's green). (Problem, the
    checks it explains: those of the objects it changes) or None."""
    if not {GRADIENT_COLOURS, TILED_COLOURS, IMAGE_COLOURS, BOX} & set(failing):
        return None
    rows, cols = quad_points(look, "gradient quad")
    seen_on = set()
    if len(rows) >= MIN_REGION:
        got = look.got(rows, cols)
        colour = np.median(got, axis=0)
        if (channel_max(np.abs(got - colour)) > TOLERANCE["gradient quad"]).mean() > COLOUR_MISSES:
            return None
        seen_on.add("gradient quad")
    else:  # the gradient seen edge-on: the box's colour, where it is clear of the quads
        colour, rows, cols = box_colour(look)
        if colour is None:
            return None
    if channel_max(colour) <= FOREGROUND:
        return None  # objects in black are not drawn, as far as the frame tells
    scene = look.scene
    quads = dict(scene.quads)
    quads["gradient quad"] = quads["gradient quad"]._replace(colours=(tuple(colour),) * 4)
    modulated = tuple(scene.tint) != PLAIN_TINT  # the project's shaders tint the texel by the colour
    changed = {"gradient quad"}
    for name in ("tiled quad", "image quad") if modulated else ():
        if np.abs(np.array(quads[name].tint) * 255 - colour).max() > TOLERANCE[name]:
            quads[name] = quads[name]._replace(tint=tuple(colour / 255))
            changed.add(name)
    lost = Scene(scene.angle, scene.photo, scene.tint, scene.w, scene.h, scene.texture, scene.split, quads)
    for name in COLOUR_CHECKS:
        r, c = quad_points(look, name, MAP_GRID)  # a coarser grid: the colour is one
        if failed(judge_colours(look, lost, name, r, c, look.got(r, c))):
            return None
        if name in changed and name != "gradient quad" and len(r) >= MIN_REGION:
            seen_on.add(name)
    if np.abs(colour - (0, 255, 0)).max() > CLASS_REACH and box_in(look, colour):
        changed.add("wire box")
        seen_on.add("wire box")
    if len(seen_on) < 2:
        return None
    explained = {check for check in failing if check.object in changed and check != OUTLINE_CHECKS.get(check.object)}
    if not explained:
        return None
    if DEPTH in failing:
        explained.add(DEPTH)
    words = CAUSES["one colour"].says.format(colour=rgb(colour))
    return Problem(words, rows, cols, around(rows, cols), cause="one colour"), explained


def box_colour(look):
    """The one colour the box's edges show where they are clear of the
    quads (the brightest pixel around each point), with the points: (colour,
    rows, columns), or None and two empty arrays where they show none or
    several."""
    pixels, rows, cols = [], [], []
    for e in look.box.edges:
        k = ~look.near_quads[e.rows, e.cols]
        around9 = look.flat_pixels[e.around[k]].astype(np.float32)
        brightest = around9[np.arange(len(around9)), channel_max(around9).argmax(axis=1)] if len(around9) else []
        pixels += list(brightest)
        rows, cols = rows + list(e.rows[k]), cols + list(e.cols[k])
    pixels = np.array(pixels).reshape(-1, 3)
    lit = channel_max(pixels) > FOREGROUND
    if lit.sum() <= FEW_POINTS or lit.mean() < EDGE_SHOWN:
        return None, EMPTY, EMPTY
    colour = np.median(pixels[lit], axis=0)
    if (channel_max(np.abs(pixels[lit] - colour)) > CLASS_REACH).mean() > COLOUR_MISSES:
        return None, EMPTY, EMPTY
    return colour, np.array(rows)[lit], np.array(cols)[lit]


def box_in(look, colour):
    """Whether the box's edges show in `colour` where they are clear of the
    quads."""
    near, shown = 0, 0
    for e in look.box.edges:
        k = ~look.near_quads[e.rows, e.cols]
        pixels = look.flat_pixels[e.around[k]].astype(np.float32)
        near += (np.sqrt(((pixels - colour) ** 2).sum(axis=-1)) <= CLASS_REACH).any(axis=1).sum()
        shown += k.sum()
    return shown > FEW_POINTS and near >= shown * EDGE_SHOWN


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
    before = Scene(scene.angle - 1, scene.photo, scene.tint, scene.w, scene.h, scene.texture, scene.split)
    for name in TURNING:
        fit, union = look.fits[name][None], union_fit(look, name, ANGLE_READINGS[name][0])
        if OUTLINE_CHECKS[name] in failing or fit.residual >= CLEAR_RESIDUAL:
            if union is None or union.stray > STRAY_PIXELS or union.residual >= CLEAR_RESIDUAL:
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
    words = CAUSES["behind"].says.format(which="the frame before")
    return Problem(words, p.rows, p.cols, p.at, before, cause="behind 1"), where_nothing


def whole_frame(look, results):
    """The results with a cause of the whole frame said (WHOLE) and the
    checks it explains following from it: a map of every colour (found
    before the checks, which judged the frame with it undone: those whose
    colours it moves follow; one failing is its own fault even so), every
    object in one colour, or the frame before showing through."""
    by = {r.check: r for r in results}
    failing = {n: r for n, r in by.items() if r.problem and not r.follows and n != WHOLE}
    follows = {}
    if look.cmap is not None:
        moved = colours_moved(look)
        follows = {n: WHOLE for n in moved if n in by and not by[n].problem and not by[n].error}
        return following(results, follows)
    if ANGLE in failing:  # the turning quads' outlines are the angle's
        failing = {n: r for n, r in failing.items() if n not in (TILED_OUTLINE, GRADIENT_OUTLINE)}
    found = failing and (one_colour(look, failing) or behind(look, failing))
    if not found:
        return results
    problem, explained = found
    results = [r._replace(problem=problem) if r.check == WHOLE else r for r in results]
    return following(results, {n: WHOLE for n in explained})
