"""What the user reads of a cause: every cause's words, made here, from its
value (model.Cause: a kind and its parameters). No other module makes a
cause's words, and none reads them back."""
import numpy as np

from .tolerances import COLOUR_STEP, LEVELS_OFF, MEAN_OFF, MOVES, ROUND

# The levels away from black and white, where a curve that keeps both ends
# shows its shape.
MID = slice(33, 223)


def rgb(c):
    return "(" + ", ".join(str(round(v)) if v == v else "?" for v in c) + ")"


def plural(n, one, many=None):
    return f"{n:g} {one if n == 1 else many or one + 's'}"


# The eight ways a picture may lie on the frame, turned and mirrored (q of a
# "placed" cause): each a 2 x 2 matrix on pixel offsets from the centre, x
# right and y down, and its words.
ORIENTATIONS = (
    ((1, 0, 0, 1), ""),
    ((-1, 0, 0, 1), "mirrored left to right"),
    ((1, 0, 0, -1), "upside down"),
    ((-1, 0, 0, -1), "turned half a turn"),
    ((0, 1, -1, 0), "turned a quarter turn counter-clockwise"),
    ((0, -1, 1, 0), "turned a quarter turn clockwise"),
    ((0, 1, 1, 0), "turned a quarter turn and mirrored"),
    ((0, -1, -1, 0), "turned a quarter turn the other way and mirrored"),
)


def fraction(f):
    return {2: "half", 3: "a third of", 4: "a quarter of"}.get(f, f"1/{f:g} of")


NAMES = ("red", "green", "blue")


def exchanged(src):
    """Channels each showing channel src[c]: their words."""
    moved = [c for c in range(3) if src[c] != c]
    if len(moved) == 2:
        return f"{NAMES[moved[0]]} and {NAMES[moved[1]]} exchanged"
    return "channels turned round: " + ", ".join(f"{NAMES[src[c]]} shown as {NAMES[c]}" for c in range(3))


def placed(q, sx, sy, dx, dy):
    """A picture turned, mirrored, scaled and moved: its words."""
    return "the whole picture " + ", ".join(placement(q, sx, sy, dx, dy)) + " in the window"


def placement(q, sx, sy, dx, dy):
    """How a picture was turned, mirrored, scaled and moved: a phrase each."""
    parts = [ORIENTATIONS[q][1]] if q else []
    if sx == sy != 1:
        parts.append(f"scaled by {sx:g}")
    elif sx != sy:
        parts.append(f"scaled by {sx:g} across and {sy:g} up")
    moves = [(abs(v), b if v > 0 else a) for v, a, b in ((dx, "left", "right"), (dy, "up", "down")) if v]
    if moves:
        parts.append("moved " + " and ".join(f"{plural(n, 'pixel')} {d}" if i == 0 else f"{n:g} {d}"
                                             for i, (n, d) in enumerate(moves)))
    return parts


def colour_words(matrix, offset, curves, examples, where=""):
    """A map of every colour: a mix of the channels (3 x 3) and an offset,
    then a curve a channel (3 x 256 levels shown); examples: pairs of a
    colour and what it shows as; `where` it happens (" on the screen"),
    said before the examples."""
    m, curves = np.asarray(matrix, float), np.asarray(curves, float)
    shows = where + ": " + example_words(examples)
    rising = [curves[c][-1] >= curves[c][0] for c in range(3)]
    one_each = (np.count_nonzero(m, axis=1) == 1).all() and sorted(np.argmax(np.abs(m), axis=1)) == [0, 1, 2]
    signs = np.sign(m.sum(axis=1)) * np.where(rising, 1, -1)
    src = np.argmax(np.abs(m), axis=1)
    curved = any(np.abs(curves[c] - np.arange(256)).max() > COLOUR_STEP for c in range(3) if rising[c])
    if one_each and np.allclose(np.abs(m.sum(axis=1)), 1) and not curved:
        how = f" with its {exchanged(src)}" if (src != np.arange(3)).any() else ""
        if (signs < 0).all():
            return f"every colour inverted{how}{shows}"
        if (signs > 0).all() and not np.any(offset):
            return f"every colour{how}{shows}"
    # Every level of every channel alike, into a range: levels squeezed.
    lo, hi = np.asarray(offset, float), np.asarray(offset, float) + 255 * m.sum(axis=1)
    if one_each and (src == np.arange(3)).all() and not curved and np.ptp(lo) <= ROUND and np.ptp(hi) <= ROUND and \
            min(lo[0], hi[0]) >= -ROUND and max(lo[0], hi[0]) <= 255 + ROUND and abs(hi[0] - lo[0]) < 255 - ROUND:
        return f"every colour's levels 0 to 255 shown as {lo[0]:.0f} to {hi[0]:.0f}{shows}"
    if np.linalg.matrix_rank(m) == 1 and np.allclose(m[0], m[1]) and np.allclose(m[1], m[2]):
        return f"every colour shown in grey, as its brightness{shows}"
    if not one_each:
        return f"every colour mixed from the channels{shows}"
    # Channels exchanged and a curve: both said.
    every = "every colour" if (src == np.arange(3)).all() else \
        f"every colour with its {exchanged(src)}, and every colour"
    steps = [plateaus(curves[c]) for c in range(3)]
    if all(3 <= len(p) <= POSTERISED and share >= 0.3 or len(p) == 2 and share >= 0.9 for p, share in steps):
        # How many, where the runs cover every level but the steps between.
        n = len(steps[0][0]) if len({len(p) for p, _ in steps}) == 1 and min(s for _, s in steps) >= 0.9 else 0
        return f"{every} shown in {n or 'a few'} levels a channel, posterised{shows}"
    levels = np.arange(256)
    shown = np.array([curves[c][np.clip(np.round(levels * m[c].sum() + offset[c]), 0, 255).astype(int)]
                      for c in range(3)])  # what each grey level shows
    ends_kept = all(abs(shown[c][0]) <= LEVELS_OFF and abs(shown[c][-1] - 255) <= LEVELS_OFF for c in range(3))
    change = np.concatenate([shown[c][MID] - np.arange(256)[MID] for c in range(3)])
    if (change > -MEAN_OFF).all() and change.max() > MOVES:
        how = "but black and white brighter" if ends_kept else "brighter"
    elif (change < MEAN_OFF).all() and change.min() < -MOVES:
        how = "but black and white darker" if ends_kept else "darker"
    else:
        return f"{every} off the same way{shows}"
    # The channels the map moves, where it leaves the others as they are.
    moved = [c for c in range(3) if np.abs(shown[c][MID] - np.arange(256)[MID]).max() > MOVES]
    only = "" if len(moved) == 3 else " in its " + " and ".join(NAMES[c] for c in moved)
    return f"{every} {how}{only}{gamma_words(shown[moved]) if ends_kept else ''}{shows}"


# A curve shows a few levels (posterised) where it shows from 3 to
# POSTERISED levels each over a run of PLATEAU levels or more, the runs
# covering a third of its levels at least (a gamma's curve is nowhere flat so
# long; a clip flattens its ends alone: two runs), or two runs covering all
# but the step between them.
PLATEAU = 8
POSTERISED = 16


def runs(curve):
    """The runs of levels a curve (256) shows as one, rounded: the level
    each shows and its length, two arrays."""
    v = np.round(np.asarray(curve, float))
    starts = np.concatenate([[0], np.flatnonzero(np.diff(v)) + 1])
    return v[starts], np.diff(np.concatenate([starts, [len(v)]]))


def plateaus(curve):
    """The levels a curve (256) shows over runs of PLATEAU levels or more,
    and the share of its levels those runs cover."""
    shown, lengths = runs(curve)
    long = lengths >= PLATEAU
    return sorted(set(shown[long])), float(lengths[long].sum() / len(curve))


def gamma_words(curves):
    """Which gamma curve the curves follow, where one does within MEAN_OFF."""
    a = np.arange(256)[MID] / 255
    s = np.asarray(curves, float)[:, MID] / 255
    usable = (s > 0) & (s < 1)
    if not usable.all() or abs(curves[0][-1] - 255) > LEVELS_OFF:
        return ""
    p = float(np.median(np.log(s) / np.log(a)))
    if np.abs(255 * a ** p - 255 * s).max() > MEAN_OFF or abs(p - 1) <= 0.1:
        return ""
    return f", as encoding with a gamma of {1 / p:.1f} would" if p < 1 else f", as decoding with a gamma of {p:.1f} would"


def example_words(examples):
    """Pairs of a colour and what it shows as, in words."""
    return ", ".join(f"{rgb(c)} {'shows as ' if i == 0 else 'as '}{rgb(s)}" for i, (c, s) in enumerate(examples))


def objects_words(objects):
    names = list(objects)
    return names[0] if len(names) == 1 else ", ".join(names[:-1]) + " and " + names[-1]


def says(cause, angle=None):
    """The words of a cause (model.Cause); `angle`: the frame's own."""
    k, v = cause.kind, cause.values
    if k == "nothing":
        if max(v) <= 10:
            return "nothing drawn: the frame shows only the clear colour"
        return f"nothing drawn: every pixel is {rgb(v)}, not even the clear colour"
    if k == "placed":
        return placed(*v)
    if k == "resolution":
        f, how, w, h = v  # drawn at that size, or sampled from the window's: one picture shown
        return (f"the picture shown at {fraction(f)} the window's resolution ({w} x {h}), "
                + ("smoothed" if how == 1 else f"each pixel repeated {f:g} times across and up"))
    if k == "colours":
        return colour_words(*v)
    if k == "background":
        return f"the background shows {rgb(v)}, not the clear colour black: the colour clear is another"
    if k == "corner":
        return (f"every quad drawn as one triangle, without its corner {v[0] + 1} (of the four given): "
                f"a part of each primitive lost the same way")
    if k == "one colour":
        return f"every object drawn in {rgb(v)}: the colours given with glColor are lost"
    if k == "behind":
        return "the frame before shows through where nothing is drawn over it: the colour clear was skipped"
    if k == "angle":
        off, behind = v
        said = f"drawn at {angle + off} degrees, expected {angle}"
        return said + f", or drawn at {angle} with the frame before showing through" if behind else said
    if k == "late":  # (K, the first frames, which show nothing; "": none, every frame drawn)
        n, first = v
        if not first:
            return f"every frame drawn {n} degree{'s' if n > 1 else ''} short of its angle: frame N at N − {n} degrees"
        before = "the frame before" if n == 1 else f"the frame {n} before"
        return f"each frame shows {before}: frame N drawn at N − {n} degrees" + (
            f", frame{'s' if n > 1 else ''} {first} nothing" if first else "")
    if k == "stopped":  # (the frame whose picture is shown, the last that shows it)
        if len(v) > 1 and v[1] == v[0] + 1:
            return "the frame before's picture shown again"
        return f"the picture stopped changing: from frame {v[0] + 1} on, every frame shows frame {v[0]}'s"
    if k == "screen":
        return ", and ".join(screen_says(part) for part in v)
    if k == "both":
        return ", and ".join(says(part) for part in v)
    if k == "unexplained":
        return (f"most of the frame is wrong and no one change of the whole picture explains it: the "
                f"{objects_words(v)} each differ from the scene")
    raise ValueError(f"no words for a cause of kind {k!r}")


def screen_says(cause):
    """The words of one part of what the screen does to the frames GL drew
    (a part of a cause of kind "screen", screen.py's)."""
    k, v = cause.kind, cause.values
    if k == "blank":
        colour = "black" if max(v) <= 10 else rgb(v)
        return f"nothing reaches the screen: the window stays {colour} while GL draws every frame"
    if k == "shown late":
        late = "a frame" if v[0] == 1 else f"{v[0]:g} frames"
        return f"the screen shows each frame {late} late"
    if k == "frozen":
        if v[0]:
            return f"the screen stopped changing at frame {v[0]}: it shows that frame while GL draws each anew"
        return "the screen stopped changing: it shows one picture while GL draws each frame anew"
    if k == "unsteady":
        return f"the screen flickers: it kept changing for {v[0]:g} s while the demo drew nothing"
    if k == "placed":
        q, sx, sy, dx, dy, smooth = v
        return "the picture reaches the screen " + ", ".join(placement(q, sx, sy, dx, dy) + ["smoothed"] * smooth)
    if k == "resampled":
        f, smooth = v
        return (f"the picture reaches the screen at {fraction(f)} its resolution, "
                + ("smoothed" if smooth else f"each pixel repeated {f:g} times across and up"))
    if k == "colours":
        return colour_words(*v, where=" on the screen")
    if k == "opacity":
        alpha, behind = v
        # Over one colour, the very pixels of every level squeezed alike towards it.
        return f"the window is shown {alpha * 100:.0f} % opaque over what lies behind it" + (
            f", here {rgb(behind)} (or every colour squeezed alike towards it: the same pixels)"
            if behind is not None else "")
    if k == "unexplained":
        share, (x, y), drawn, shown = v
        return (f"the screen differs from what GL drew, and no one change of the picture explains it: "
                f"{share * 100:.0f} % of the window's pixels differ, e.g. ({x}, {y}) drawn {rgb(drawn)}, "
                f"shown {rgb(shown)}")
    raise ValueError(f"no words for a part of what the screen does of kind {k!r}")


# A misreading of one object: the same kinds, applied to that object.
def misread(kind, values):
    if kind == "angle":
        return f"drawn one degree {'short of' if values[0] < 0 else 'past'} the frame's angle" if abs(values[0]) == 1 \
            else f"drawn {plural(abs(values[0]), 'degree')} {'short of' if values[0] < 0 else 'past'} the frame's angle"
    if kind == "spin":
        return "turns counter-clockwise seen from above, expected clockwise"
    if kind == "tumble":
        return "tumbles with its top edge tipping away from the camera, expected towards it"
    if kind == "axis":
        return "turns about the vertical axis, expected the horizontal"
    if kind == "bottom":
        return "turns about its bottom edge, expected its horizontal centre line"
    if kind == "moved":
        dx, dy = values
        return "not centred: half a unit " + " and ".join(
            w for w, v in (("left" if dx < 0 else "right", dx), ("down" if dy < 0 else "up", dy)) if v)
    if kind == "photograph":
        return "shows the photograph " + ORIENTATIONS[values[0]][1]
    if kind == "inverted":
        return "shows the photograph's colours inverted"
    if kind == "once":
        return "shown once"
    if kind == "channels":
        return f"its colours with their {exchanged(values[0])}"
    if kind == "corners":
        order = values[0]
        names = ("red", "green", "blue", "yellow")
        moved = [i for i in range(4) if order[i] != i]
        pairs = ", ".join(f"{names[i]} shows {names[order[i]]}" for i in moved)
        if len(moved) == 2:
            a, b = moved
            return f"{names[a]} and {names[b]} swapped"
        return f"its corners' colours exchanged: {pairs}"
    raise ValueError(f"no words for a misreading of kind {kind!r}")


