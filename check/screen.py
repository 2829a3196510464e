"""What reaches the screen, against what GL drew: one model of what a
presentation path (the X server, a compositing manager, a scaler, a
readback) can do to a picture, fitted between the frame GL drew and the
window's pixels read from the screen, and named once as a model.Cause of
kind "screen" whose parts words.screen_says puts in words.

The screen shows a frame GL drew (this one, one before it, one it stopped
at, or none: one colour), its pixels placed (turned or mirrored, scaled,
smoothed, moved; or shown at a fraction of its resolution), its colours
mapped (a map a channel, the channels exchanged or mixed: model.colour_map)
or blended with what lies behind the window at some opacity. Each change is
fitted from the two pictures; none is looked up in a list of cases.

Pure functions on arrays: pictures are (rows, columns, 3) levels 0..255,
`judged` (rows, columns) bool: the window's pixels that can be seen and are
judged. Rectangles are (x, y, w, h) on the screen, y down."""
from typing import NamedTuple

import numpy as np

from .model import (NICE, SCALE_STEPS, Cause, along, climb, colour_map, flat_colour, map_examples, mapped,
                    nice, snaps, stepped)
from .tolerances import FEW, LEVELS_OFF, MIN_POINTS, ROUND
from .words import ORIENTATIONS

# Equal on the screen: a channel within SAME_LEVELS of what GL drew (a
# compositor's rounding; a dither to 6 bits a channel moves a level by up to
# 4: picom 9.1's xrender and glx backends, and the X server alone, show an
# opaque window exactly, measured), at all but SAME_MISSES of the judged
# pixels (a cursor a screen draws into its pixels, 32 x 32 of a 640 x 480
# window; a compositor's rounded corners).
SAME_LEVELS = 6
SAME_MISSES = 0.005
# A window judged needs at least this share of it seen: less holds too
# little of the picture to tell a change of the whole of it.
MIN_SEEN = 0.25
# A compositor's shadow of a window above reaches this far beyond it
# (picom's default: a blur of 12 pixels, offset 15 up and left): the pixels
# there are not judged, nor counted as covered.
SHADOW_REACH = 32
# A fitted change explains the screen where each judged pixel lies within
# LEVELS_OFF of the changed frame, at the pixel or a neighbour (a resampler
# puts a pixel half a pixel either way), at all but FIT_MISSES of them.
FIT_MISSES = 0.02
# Points where the drawn frame is flat within this many levels over 3 x 3
# pixels hold one colour each, whatever a resampler does (half a pixel
# moves a level by half of it at most, far within a map's reach); a
# gradient's steps of up to 3 levels a pixel lie within it, so that a
# curve is read at its mid levels, not at saturated colours alone (at 4, a
# picture scaled and gamma-encoded showed 128 as 175 in red): the colours are
# fitted there, every COLOUR_STEP pixels across and up, in REGIONS x REGIONS
# parts of the window, each of which the map must hold in.
FLAT = 8
COLOUR_STEP = 3
REGIONS = 3
# An opacity is a blend that moves a level by more than SAME_LEVELS: at most
# this share of the picture's own; and at least TRANSPARENT of it (a window
# less opaque shows next to nothing of its frames: a screen that stopped
# changing fits a blend of none of them).
OPAQUE = 1 - 2 * SAME_LEVELS / 255
TRANSPARENT = 0.05
# A blend is told across frames from the pixels where the frames drawn
# differ: at least this many (of every other pixel across and up; a turning
# quad's edge moves thousands between two frames a degree apart).
MOVING = 500
# A screen that differs from a frame at more pixels than this is asked
# whether the frame moved a pixel fits it far better.
MIN_MOVED = 64
# Fractions of its resolution a picture may reach the screen at.
FACTORS = (2, 3, 4)
# The candidate placements judged in full, of those the edges rank; the
# held frames fitted in full, where none fitted before explains them (the
# cost of a screen nothing explains is bounded).
PLACEMENTS = 3
FITS = 2
# The ways of placing a frame judged in full, of those whose edges are
# likest the screen's. A fit that lies within EXACT levels of the screen on
# the mean (a rounding's) needs the frame before fitted no other way.
WAYS = 4
EXACT = 1


class Pair(NamedTuple):
    """A held frame: its number; the frames GL drew that the screen may
    show (`sources`: {k: pixels} for the frame k before it, 0 the frame
    itself; `earlier`: {frame: pixels} of frames held before it); the
    window's pixels read from the screen; which of them are judged; how
    long the screen was read; whether it settled (two reads agreed); and
    the frames' samples a pixel (GL_SAMPLES)."""
    frame: int
    sources: dict
    shown: np.ndarray
    judged: np.ndarray
    seconds: float = 0.0
    steady: bool = True
    earlier: dict = {}
    samples: int = 0


# ----------------------------------------------------- where the window is

def visible(window, screen, above, reach=SHADOW_REACH):
    """Which of a window's pixels can be seen: (judged (h, w) bool, the
    share covered by the windows above, the share off the screen). A
    covered pixel, one off the screen and one within `reach` of a window
    above (its shadow) are not judged."""
    x, y, w, h = window
    rows, cols = np.arange(h)[:, None] + y, np.arange(w)[None, :] + x
    on = (rows >= 0) & (rows < screen[1]) & (cols >= 0) & (cols < screen[0])
    covered, near = np.zeros((h, w), bool), np.zeros((h, w), bool)
    for ax, ay, aw, ah in above:
        covered |= (cols >= ax) & (cols < ax + aw) & (rows >= ay) & (rows < ay + ah)
        near |= (cols >= ax - reach) & (cols < ax + aw + reach) & (rows >= ay - reach) & (rows < ay + ah + reach)
    return on & ~near, float((covered & on).mean()), float((~on).mean())


def cut(root, window):
    """The window's rectangle of the screen's pixels (root: rows x columns
    x 3): (h, w, 3), 0 where it lies off the screen."""
    x, y, w, h = window
    out = np.zeros((h, w, 3), np.uint8)
    r0, c0 = max(y, 0), max(x, 0)
    r1, c1 = min(y + h, root.shape[0]), min(x + w, root.shape[1])
    if r1 > r0 and c1 > c0:
        out[r0 - y:r1 - y, c0 - x:c1 - x] = root[r0:r1, c0:c1, :3]
    return out


# ---------------------------------------------------------- equal, or not

def resolves(pixels):
    """What a screen may show of a multisampled frame at each pixel: the
    swap resolves its samples anew, and a readback may have taken one of
    them (llvmpipe reads sample 0) where the swap takes their mean; each
    sample shows the colour of the pixel or of a neighbour's. The least and
    the most of each channel over the 3 x 3 pixels about it: (lo, hi)
    uint8."""
    h, w = pixels.shape[:2]
    padded = np.pad(pixels, ((1, 1), (1, 1), (0, 0)), mode="edge")
    lo, hi = pixels.copy(), pixels.copy()
    for dy in (0, 1, 2):
        for dx in (0, 1, 2):
            np.minimum(lo, padded[dy:dy + h, dx:dx + w], out=lo)
            np.maximum(hi, padded[dy:dy + h, dx:dx + w], out=hi)
    return lo, hi


def differing(drawn, shown, judged, levels=SAME_LEVELS):
    """The judged pixels where a channel differs by more than `levels`:
    drawn a uint8 picture, or (lo, hi) that a multisampled one may show
    (resolves)."""
    if isinstance(drawn, tuple):
        lo, hi = drawn
        below, above = np.maximum(lo, shown), np.maximum(hi, shown)
        below -= shown  # in uint8: how far below lo, else 0
        above -= hi
        apart = np.maximum(below, above)
    else:
        apart = np.maximum(drawn, shown)
        apart -= np.minimum(drawn, shown)  # in uint8: no copy wider
    return judged & (np.maximum(np.maximum(apart[..., 0], apart[..., 1]), apart[..., 2]) > levels)


def every(drawn, step):
    """Every step-th row of a picture, or of (lo, hi)."""
    return tuple(p[::step] for p in drawn) if isinstance(drawn, tuple) else drawn[::step]


def agrees(drawn, shown, judged):
    """Whether the screen shows the frame as drawn, within SAME_LEVELS at
    all but SAME_MISSES of the judged pixels."""
    return differing(drawn, shown, judged).sum() <= SAME_MISSES * max(judged.sum(), 1)


def shown_as_drawn(sources, shown, judged, samples=0):
    """Which of the frames GL drew ({key: pixels}, with `samples` a pixel)
    the screen shows as drawn: the one it differs from at the fewest
    pixels, where it agrees with it (the frame itself first where as few);
    None where it shows none. Two frames a degree apart differ at few
    pixels, fewer than a screen may: the one it is nearest tells them
    apart. A multisampled frame may show any resolve of its samples."""
    if not sources:
        return None
    if samples > 1:
        sources = {k: resolves(p) for k, p in sources.items()}
    most = SAME_MISSES * max(judged.sum(), 1)
    # Every fourth row first: the two nearest there are counted in full.
    sample = {k: int(differing(every(p, 4), shown[::4], judged[::4]).sum()) for k, p in sources.items()}
    near = sorted(sample, key=lambda k: (sample[k], k != 0))[:2]
    if 4 * sample[near[0]] > 2 * most:
        return None
    counts = {k: int(differing(sources[k], shown, judged).sum()) for k in near}
    k = min(counts, key=lambda k: (counts[k], k != 0))
    if counts[k] > most:
        return None
    # A picture moved by a pixel differs from every frame at its edges
    # alone, as few pixels as a cursor: the frame moved so fits far better.
    if counts[k] > MIN_MOVED and any(2 * differing(shifted(sources[k], dx, dy), shown, judged).sum() < counts[k]
                                     for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1))):
        return None
    return k


def shifted(drawn, dx, dy):
    """A picture, or (lo, hi), moved a pixel (dx right, dy down), its edge
    held."""
    if isinstance(drawn, tuple):
        return tuple(shifted(p, dx, dy) for p in drawn)
    h, w = drawn.shape[:2]
    padded = np.pad(drawn, ((1, 1), (1, 1), (0, 0)), mode="edge")
    return padded[1 - dy:1 - dy + h, 1 - dx:1 - dx + w]


def same_picture(a, b, judged):
    """Whether two reads of the screen are one picture: equal within
    SAME_LEVELS at all but FEW judged pixels (a frozen screen shows the
    very same pixels; two frames a degree apart differ at hundreds)."""
    if differing(a[::7], b[::7], judged[::7]).sum() > FEW:  # most pairs differ at every seventh row too
        return False
    return differing(a, b, judged).sum() <= FEW


def one_colour(pixels, judged):
    """The one colour the judged pixels show, within BLACK but SAME_MISSES
    of them, or None."""
    return flat_colour(pixels, judged, SAME_MISSES * judged.sum())


# -------------------------------------------------------- where pixels go

def orientation(q):
    """ORIENTATIONS[q] as a 2 x 2 matrix on pixel offsets (x right, y down)."""
    return np.array(ORIENTATIONS[q][0], float).reshape(2, 2)


def warp(pixels, q, sx, sy, dx, dy, smooth=False):
    """A picture (h, w, 3) turned or mirrored (ORIENTATIONS[q]) and scaled
    (sx, sy) about its centre, then moved (dx right, dy down), into a
    picture of the same size: (out (h, w, 3) float32, valid (h, w) bool:
    the pixels that come from the picture). Sampled pixel by pixel, or
    smoothed (bilinear). Each orientation takes each axis of the out from
    one axis of the picture: a lookup a row and a column."""
    h, w = pixels.shape[:2]
    m = orientation(q)
    inverse = np.linalg.inv(np.diag([sx, sy]) @ m)
    p = pixels.astype(np.float32)
    across = np.arange(w) + 0.5 - w / 2 - dx  # the out's pixel centres from the centre, moved back
    up = np.arange(h) + 0.5 - h / 2 - dy
    if m[0, 0] == 0:  # a quarter turn: the out's rows come from the picture's columns
        p = p.transpose(1, 0, 2)
        rows, cols = inverse[0, 1] * up + w / 2, inverse[1, 0] * across + h / 2
    else:
        rows, cols = inverse[1, 1] * up + h / 2, inverse[0, 0] * across + w / 2
    valid = ((rows >= 0) & (rows < p.shape[0]))[:, None] & ((cols >= 0) & (cols < p.shape[1]))[None, :]
    if not smooth:
        r = np.minimum(np.maximum(np.floor(rows).astype(int), 0), p.shape[0] - 1)
        c = np.minimum(np.maximum(np.floor(cols).astype(int), 0), p.shape[1] - 1)
        return p[r][:, c], valid
    return along(along(p, rows - 0.5, 0), cols - 0.5, 1), valid


def warp_edges(e, q, sx, sy, dx, dy):
    """An edge map (h, w) placed as warp places a picture: (out (h, w, 1),
    valid). Where it is made smaller, each pixel first takes the most of
    the pixels about it that the smaller one stands for: a line a pixel
    wide, sampled every few pixels, would be lost."""
    k = int(np.ceil(1 / min(sx, sy))) - 2
    if k > 0:
        grown = e.copy()
        for dr in range(-(k // 2), k - k // 2 + 1):
            for dc in range(-(k // 2), k - k // 2 + 1):
                np.maximum(grown, np.roll(e, (dr, dc), (0, 1)), out=grown)
        e = grown
    return warp(e[..., None], q, sx, sy, dx, dy)


def resampled(pixels, f, smooth):
    """A picture shown at 1/f of its resolution: each block of f x f pixels
    its mean, then shown at the picture's size, each pixel repeated or
    smoothed (bilinear): (h, w, 3) float."""
    h, w = pixels.shape[:2]
    lh, lw = h // f, w // f
    low = pixels[:lh * f, :lw * f].astype(np.float32).reshape(lh, f, lw, f, 3).mean(axis=(1, 3))
    rows, cols = np.arange(h), np.arange(w)
    if not smooth:
        return low[np.minimum(rows // f, lh - 1)][:, np.minimum(cols // f, lw - 1)]
    return along(along(low, (rows + 0.5) / f - 0.5, 0), (cols + 0.5) / f - 0.5, 1)


def edges(pixels):
    """How much a picture changes at each of its pixels: the sum of the
    channels' differences between the pixels either side, across and up
    (h, w) float32. What a map of the colours keeps: an inverted or a
    blended picture has its edges where the picture has; a turned or
    mirrored one, turned and mirrored (the differences are taken either
    side alike)."""
    p = pixels.astype(np.float32)
    e = np.zeros(p.shape[:2], np.float32)
    e[:, 1:-1] += np.abs(p[:, 2:] - p[:, :-2]).sum(axis=2)
    e[1:-1] += np.abs(p[2:] - p[:-2]).sum(axis=2)
    return e


def spread(e):
    """The centroid (2,) and the spread along x and y (2,) of an edge map,
    each point weighed by its edge, from its centre, in its pixels."""
    h, w = e.shape
    total = e.sum()
    if total <= 0:
        return np.zeros(2), np.ones(2)
    ys, xs = np.mgrid[0:h, 0:w]
    x, y = xs + 0.5 - w / 2, ys + 0.5 - h / 2
    mx, my = (x * e).sum() / total, (y * e).sum() / total
    return np.array([mx, my]), np.sqrt([((x - mx) ** 2 * e).sum() / total, ((y - my) ** 2 * e).sum() / total])


def best_shift(a, b):
    """The move (dx, dy) that carries edge map a onto b best (cross-
    correlation, by FFT), and how well: the correlation there, 0..1."""
    fa, fb = np.fft.rfft2(a), np.fft.rfft2(b)
    c = np.fft.irfft2(fb * np.conj(fa), s=a.shape)
    r, col = np.unravel_index(int(np.argmax(c)), c.shape)
    h, w = a.shape
    dy, dx = (r + h // 2) % h - h // 2, (col + w // 2) % w - w // 2
    norm = np.sqrt((a * a).sum() * (b * b).sum())
    return (int(dx), int(dy)), float(c[r, col] / norm) if norm > 0 else 0.0


# Scales tried about the one the edges' spreads give, in octaves.
SPREAD_OCTAVES = np.arange(-0.5, 0.55, 0.1)


def placements(drawn, shown, judged, step=2):
    """Ways the frame drawn may be placed on the screen, the likeliest
    first: for each of the eight orientations, unscaled and at the scale the
    edges' spreads give (model.nice); unturned, at each scale a picture is
    put at (model.NICE: a picture larger than the window shows a part, its
    spread cut short); each moved where the edges fit best (found on
    blocks of `step` pixels, then to the pixel). Each (q, sx, sy, dx, dy),
    moves in pixels."""
    full_a, full_b = edges(drawn), edges(shown) * judged
    a, b = blocks(full_a, step), blocks(full_b, step)
    _, sa = spread(a)
    _, sb = spread(b)
    tried = []
    for q in range(len(ORIENTATIONS)):
        turned = np.abs(orientation(q)) @ sa
        tried.append((q, 1.0, 1.0))
        if (turned > 0).all() and (sb > 0).all():
            raw = [float(sb[i] / turned[i]) for i in (0, 1)]
            # The scale it is near, and its own.
            tried += [(q, *[nice(v) for v in raw]), (q, *[round(v, 3) for v in raw])]
    tried += [(0, round(n, 4), round(n, 4)) for n in NICE[1:]]
    if (sa > 0).all() and (sb > 0).all():  # unturned, alike both ways, about the spreads' scale
        # (edges cut short spread less)
        g = float(np.sqrt(np.prod(sb / sa)))
        tried += [(0, round(v, 3), round(v, 3)) for v in g * 2 ** SPREAD_OCTAVES]
        # Larger than the window one way alone: above its spread that way.
        raw = sb / sa
        tried += [(0, *(round(v * 2 ** k, 3) if i == j else nice(v) for j, v in enumerate(raw)))
                  for i in (0, 1) for k in SPREAD_OCTAVES if k > 0]
    out = []
    for q, sx, sy in dict.fromkeys(t for t in tried if 0.2 < t[1] < 5 and 0.2 < t[2] < 5):  # a scale shown
        placed, valid = warp_edges(a, q, sx, sy, 0, 0)
        (dx, dy), score = best_shift(placed[..., 0] * valid, b)
        out.append((score, (q, sx, sy, dx * step, dy * step)))
    best = [p for _, p in sorted(out, key=lambda o: -o[0])][:PLACEMENTS]
    coarse = [rescaled(a, b, p[:3] + (p[3] // step, p[4] // step)) for p in best]  # on blocks
    return [scaled(full_a, full_b, to_the_pixel(full_a, full_b, p[:3] + (p[3] * step, p[4] * step), step))
            for p in coarse]


def rescaled(a, b, placement):
    """A scaled placement's scales stepped, 2 %, 0.5 % and 0.1 % of a scale
    either way, while the edge map a (on blocks), placed so and moved where
    it fits b best (best_shift), fits better: a scale and a move fitted
    apart leave each other where neither fits."""
    q, sx, sy, _, _ = placement
    if (sx, sy) == (1, 1):
        return placement

    def shift(t):
        placed, valid = warp_edges(a, q, *t, 0, 0)
        return best_shift(placed[..., 0] * valid, b)
    near = lambda at, k: [(at[0] * (1 + k), at[1]), (at[0] / (1 + k), at[1]), (at[0], at[1] * (1 + k)),
                          (at[0], at[1] / (1 + k))]
    at, _ = climb((sx, sy), lambda t: shift(t)[1], SCALE_STEPS, near)
    return (q, *at, *shift(at)[0])


def scaled(a, b, placement):
    """A scaled placement's scales and move, each in turn a step either way
    while the edge map a (the frame drawn's), placed so, fits b (the
    screen's) better: steps of 2 %, 0.5 % and 0.1 % of a scale and a
    pixel. Each scale is then the nearest a picture is put at where that
    moves the window's border by less than a pixel (model.snaps)."""
    q, sx, sy, dx, dy = placement
    if (sx, sy) == (1, 1):
        return placement
    h, w = a.shape

    def score(t):
        placed = warp_edges(a, q, *t)[0][..., 0]
        return float((placed * b).sum())
    def near(at, k):  # the scales first, then the moves
        t = stepped(at[2:] + at[:2], 1, k)
        return [u[2:] + u[:2] for u in t[4:] + t[:4]]
    at, _ = climb((sx, sy, dx, dy), score, SCALE_STEPS, near)
    near = [next((n for n in snaps(v) if abs(n - v) * size / 2 < 1), round(v, 4)) for v, size in zip(at[:2], (w, h))]
    return (q, *near, *at[2:])


def blocks(e, step):
    """An edge map's means over blocks of step x step pixels."""
    h, w = e.shape[0] // step, e.shape[1] // step
    return e[:h * step, :w * step].reshape(h, step, w, step).mean(axis=(1, 3))


def to_the_pixel(a, b, placement, reach):
    """A placement moved, within `reach` pixels, to where the edge map a
    (the frame drawn's), placed so, fits b (the screen's) best."""
    q, sx, sy, dx, dy = placement
    a = warp_edges(a, q, sx, sy, 0, 0)[0][..., 0]
    h, w = a.shape
    best = None
    for ey in range(dy - reach, dy + reach + 1):
        for ex in range(dx - reach, dx + reach + 1):
            # a moved by (ex, ey) against b, where both lie
            ra, rb = slice(max(0, -ey), min(h, h - ey)), slice(max(0, ey), min(h, h + ey))
            ca, cb = slice(max(0, -ex), min(w, w - ex)), slice(max(0, ex), min(w, w + ex))
            score = float((a[ra, ca] * b[rb, cb]).sum())
            if best is None or score > best[0]:
                best = (score, ex, ey)
    return q, sx, sy, best[1], best[2]


# ------------------------------------------------------ what colours become

def regions(h, w, n=REGIONS):
    """Each pixel's part of the window, n x n parts: (h, w) int."""
    return (np.arange(h)[:, None] * n // h) * n + np.arange(w)[None, :] * n // w


def flat_at(pixels, rows, cols):
    """Whether the 3 x 3 pixels about each point (rows, cols) hold one
    colour within FLAT."""
    h, w = pixels.shape[:2]
    near = np.stack([pixels[np.clip(rows + dy, 0, h - 1), np.clip(cols + dx, 0, w - 1)]
                     for dy in (-1, 0, 1) for dx in (-1, 0, 1)])
    return (near.max(axis=0) - near.min(axis=0)).max(axis=1) <= FLAT


def colours(placed, shown, mask, exact=False):
    """The map of every colour that carries the placed frame's colours onto
    the screen's, fitted at points every COLOUR_STEP pixels in every part
    of the window (model.colour_map): at each, where `exact`; else at points
    of one colour each. ((matrix, offset, curves), the placed frame's colours
    at the points), or (None, those)."""
    h, w = mask.shape
    rows, cols = np.nonzero(mask[COLOUR_STEP // 2::COLOUR_STEP, COLOUR_STEP // 2::COLOUR_STEP])
    rows, cols = rows * COLOUR_STEP + COLOUR_STEP // 2, cols * COLOUR_STEP + COLOUR_STEP // 2
    if not exact:
        keep = flat_at(placed, rows, cols)
        rows, cols = rows[keep], cols[keep]
    want = placed[rows, cols].astype(float)
    if len(rows) < MIN_POINTS:
        return None, want
    return colour_map(want, shown[rows, cols].astype(float), regions(h, w)[rows, cols]), want


def colour_part(found, want):
    """A map of every colour as a part of what the screen does: a blend
    with one colour behind the window (every channel the same share of its
    own, the rest one colour) is an opacity; any other that moves a colour
    is a map of the colours, with two colours it moves as examples; one that
    moves none is no part (None). `want`: the colours of the frame drawn at
    the points the map was fitted at."""
    matrix, offset, curves = (np.asarray(v, float) for v in found)
    straight = np.abs(curves - np.arange(256)).max() <= ROUND
    alpha = float(np.mean(np.diag(matrix)))
    if straight and np.allclose(matrix, np.eye(3) * alpha, atol=0.02) and 0 < alpha <= OPAQUE:
        behind = offset / (1 - alpha)
        if ((behind >= -LEVELS_OFF) & (behind <= 255 + LEVELS_OFF)).all():
            return Cause("opacity", (round(alpha, 2), tuple(int(v) for v in np.clip(np.round(behind), 0, 255))))
    moved = np.abs(mapped(want, matrix, offset, curves) - want).max(axis=1) > SAME_LEVELS
    if moved.sum() < MIN_POINTS:
        return None
    shows = lambda c: tuple(int(v) for v in mapped([c], matrix, offset, curves)[0])
    examples = tuple((c, shows(c)) for c in map_examples(want[moved], (matrix, offset, curves)))
    if any(np.abs(np.subtract(c, m)).max() <= SAME_LEVELS for c, m in examples):
        # Greys that the map keeps (an inversion keeps the middle grey):
        # the frame's own colours it moves most say more: the one it moves
        # most, then the one it moves most of another kind (a grey, a colour).
        colours_ = np.unique(np.round(want[moved]).astype(int), axis=0)
        most = np.argsort(-np.abs(mapped(colours_, matrix, offset, curves) - colours_).sum(axis=1), kind="stable")
        grey = np.ptp(colours_, axis=1) <= SAME_LEVELS
        other = next((i for i in most[1:] if grey[i] != grey[most[0]]), most[1] if len(most) > 1 else most[0])
        examples = tuple((tuple(int(v) for v in colours_[i]), shows(colours_[i])) for i in (most[0], other))
    return Cause("colours", (tuple(map(tuple, np.round(matrix, 4))), tuple(np.round(offset, 4)),
                             tuple(map(tuple, np.round(curves, 4))), examples))


def blend_across(pairs, placed, mask):
    """An opacity over what lies behind the window, whatever that is,
    where the same window shows two frames or more: the screen's change
    between two frames is the opacity times the frames' change; what lies
    behind is then the same at every frame. pairs: the screen's pixels at
    each (h, w, 3); placed: the frames as placed there; mask: the pixels
    judged at every one. (Cause("opacity", (alpha, the colour behind where
    it is one, else None)), how far it lies off the screens on the mean),
    or None."""
    if len(pairs) < 2:
        return None
    at = mask[::2, ::2]  # every other pixel across and up: a blend holds at each
    s = np.stack([p[::2, ::2][at] for p in pairs]).astype(np.float32)
    d = np.stack([p[::2, ::2][at] for p in placed]).astype(np.float32)
    ds, dd = s - s.mean(axis=0), d - d.mean(axis=0)
    # The evidence: the pixels where the frames drawn differ (elsewhere any
    # screen fits a blend, what lies behind taking up the rest).
    moving = (np.abs(dd) > LEVELS_OFF).any(axis=(0, 2))
    if moving.sum() < MOVING:
        return None
    alpha = float((ds[:, moving] * dd[:, moving]).sum() / (dd[:, moving] ** 2).sum())
    if not TRANSPARENT <= alpha <= OPAQUE:
        return None
    rest = (s - alpha * d).mean(axis=0)  # (1 - alpha) x what lies behind, at each pixel
    if (np.abs(s - alpha * d - rest)[:, moving] > LEVELS_OFF).any(axis=2).mean() > FIT_MISSES:
        return None
    behind = rest / (1 - alpha)
    if ((behind < -LEVELS_OFF) | (behind > 255 + LEVELS_OFF)).any(axis=1).mean() > FIT_MISSES:
        return None  # what lies behind a window is a colour
    colour = np.median(behind, axis=0)
    one = (np.abs(behind - colour) <= LEVELS_OFF).all(axis=1).mean() >= 1 - FIT_MISSES
    return Cause("opacity", (round(alpha, 2), tuple(int(v) for v in np.clip(np.round(colour), 0, 255)) if one else None)), \
        float(np.abs(s - alpha * d - rest)[:, moving].mean())


# -------------------------------------------------------- a whole fit

def explained(predicted, valid, shown, judged):
    """The share of the judged pixels (where the prediction holds: valid)
    that a predicted screen explains, each within LEVELS_OFF of it at the
    pixel or a neighbour; 0 where too little is valid to tell (less than
    MIN_SEEN of what the prediction covers: a picture made smaller covers
    a part of the window alone)."""
    mask = judged & valid
    if mask.sum() < MIN_SEEN * judged.sum() * valid.mean():
        return 0.0
    s = shown.astype(np.float32)
    rows, cols = np.nonzero(mask & (np.abs(predicted - s) > LEVELS_OFF).any(axis=2))
    h, w = mask.shape
    fits = np.zeros(len(rows), bool)
    for dy in (-1, 0, 1):
        for dx in (-1, 0, 1):
            if dx or dy:
                q = predicted[np.clip(rows + dy, 0, h - 1), np.clip(cols + dx, 0, w - 1)]
                fits |= (np.abs(q - s[rows, cols]) <= LEVELS_OFF).all(axis=1)
    return float(1 - (~fits).sum() / mask.sum())


class Fit(NamedTuple):
    """A presentation fitted: its parts (Causes: which frame, where the
    pixels go, what colours become), the share of the screen it explains,
    and how far the frame drawn, so presented, lies from the screen (the
    mean difference, in levels)."""
    parts: tuple
    share: float
    apart: float = np.inf

    def better(self, other):
        """Whether this fit is better than another: it explains the screen
        where the other does not; or both do, and it lies nearer (but one of
        more parts than the other, only where it explains as much: a map of
        the colours in steps lies nearer to a smoothed picture still); or
        neither, and it explains more."""
        explains = self.share >= 1 - FIT_MISSES
        if explains != (other.share >= 1 - FIT_MISSES):
            return explains
        if explains and len(self.parts) > len(other.parts) and self.share < other.share:
            return False
        return self.apart < other.apart if explains else (self.share, -self.apart) > (other.share, -other.apart)


def likeness(a, b):
    """How alike two edge maps are: their correlation, 0..1."""
    norm = np.sqrt(float((a * a).sum()) * float((b * b).sum()))
    return float((a * b).sum()) / norm if norm > 0 else 0.0


def placed_ways(source, shown, judged):
    """The frame drawn, placed each way the screen may have placed it:
    (part or None, placed (h, w, 3) float, valid), the likeliest first: as
    it is; then of the best placements the edges find (each pixel by pixel,
    and smoothed where scaled) and of the fractions of its resolution (each
    block repeated, or smoothed), the WAYS whose edges are likest the
    screen's, likest first."""
    ones = np.ones(judged.shape, bool)
    yield None, source.astype(np.float32), ones
    ways = []
    for q, sx, sy, dx, dy in placements(source, shown, judged):
        for smooth in ((False, True) if (sx, sy) != (1, 1) else (False,)):
            if (q, sx, sy, dx, dy) != (0, 1, 1, 0, 0):
                ways.append((Cause("placed", (q, sx, sy, dx, dy, smooth)), *warp(source, q, sx, sy, dx, dy, smooth)))
    ways += [(Cause("resampled", (f, smooth)), resampled(source, f, smooth), ones)
             for f in FACTORS for smooth in (False, True)]
    b = edges(shown) * judged
    ranked = sorted(ways, key=lambda w: -likeness(edges(w[1]) * w[2], b))
    yield from ranked[:WAYS]


def fit_source(source, shown, judged, when=None):
    """The best presentation of one frame drawn (`source`; `when`: the part
    that says which frame it is, or None): a Fit. Of the ways that explain
    the screen, the one nearest it (the least mean difference: smoothed or
    not tell apart so)."""
    best = Fit((), 0.0)
    for where, placed, valid in placed_ways(source, shown, judged):
        best = fit_way(best, shown, judged, when, where, placed, valid)
    # The edges may leave a placement a pixel off, or its scale off the one
    # of two decimals next to it: the colours tell, each scale's nearest
    # first, then each move by a pixel, pixel by pixel or smoothed.
    where = next((p for p in best.parts if p.kind == "placed"), None)
    if where is not None:
        q, sx, sy, dx, dy, smooth = where.values
        for nx, ny in sorted({(snaps(sx)[0], sy), (sx, snaps(sy)[0]), (snaps(sx)[0], snaps(sy)[0])} - {(sx, sy)}):
            best = fit_way(best, shown, judged, when, *placed_way(source, q, nx, ny, dx, dy, smooth))
        where = next(p for p in best.parts if p.kind == "placed")
        q, sx, sy, dx, dy, _ = where.values
        for mx, my in ((0, 0), (1, 0), (-1, 0), (0, 1), (0, -1)):
            for smooth in (False, True) if (sx, sy) != (1, 1) else (False,):
                if (q, sx, sy, dx + mx, dy + my, smooth) != where.values:
                    best = fit_way(best, shown, judged, when, *placed_way(source, q, sx, sy, dx + mx, dy + my, smooth))
    return best


def placed_way(source, *values):
    """The frame drawn placed (values: a placed part's), as a way: (part,
    placed, valid)."""
    return (Cause("placed", values), *warp(source, *values))


def ways_of(source, where):
    """The frame drawn placed as a part says (placed, resampled, or None:
    as it is), as ways: (part, placed, valid); a scaled placement both
    pixel by pixel and smoothed (a frame other than the one shown, smoothed,
    may lie nearer the screen than placed as it was)."""
    ones = np.ones(source.shape[:2], bool)
    if where is None:
        yield None, source.astype(np.float32), ones
    elif where.kind == "resampled":
        yield where, resampled(source, *where.values), ones
    else:
        q, sx, sy, dx, dy, smooth = where.values
        for s in (smooth, not smooth) if (sx, sy) != (1, 1) else (smooth,):
            yield placed_way(source, q, sx, sy, dx, dy, s)


def fit_way(best, shown, judged, when, where, placed, valid):
    """The better of a Fit and the frame drawn placed one way (`where`, a
    part or None: placed, valid) and its colours fitted."""
    mask = judged & valid
    # The colours are read at every point: a picture placed, then its
    # colours changed, holds each pixel as placed, and so does one placed
    # pixel by pixel whatever the order. Where a smoothed one is not
    # explained so, at points of one colour only: colours changed before a
    # smoothing blend at edges.
    for exact in (True, False) if where is not None and where.values[-1] is True else (True,):
        found, want = colours(placed, shown, mask, exact)
        if found is not None:
            predicted = mapped(placed.reshape(-1, 3), *found).reshape(placed.shape).astype(np.float32)
            colour = colour_part(found, want)
        else:
            predicted, colour = placed, None
        share = explained(predicted, valid, shown, judged)
        apart = float(np.abs(predicted - shown)[mask].mean()) if mask.any() else np.inf
        found = Fit(tuple(p for p in (when, where, colour) if p is not None), share, apart)
        best = found if found.better(best) else best
        if share >= 1 - FIT_MISSES:
            break
    return best


def which_frame(pair):
    """Which frame the screen shows where it shows one GL drew as drawn,
    but not the frame held: the part that says so, or None. A frame before
    it is shown late; one held before, where the screen stopped changing;
    one colour, where the frame drawn holds more, is nothing reaching the
    screen."""
    k = shown_as_drawn({**pair.sources, **{("held", n): p for n, p in pair.earlier.items()}}, pair.shown,
                       pair.judged, pair.samples)
    if isinstance(k, tuple):
        return Cause("frozen", (k[1],))
    if k:
        return Cause("shown late", (k,))
    colour = one_colour(pair.shown, pair.judged)
    if colour is not None and one_colour(pair.sources[0], pair.judged) is None:
        return Cause("blank", colour)
    return None


def fit(pair):
    """What the screen does at one held frame that shows neither it nor
    another frame GL drew as drawn (which_frame): a Fit; its parts empty
    where nothing explains it. The frame itself is fitted, and the one
    before where the frame itself is not explained within EXACT; then the
    frame drawn whose edges, placed as the best fit places it, are likest
    the screen's (a map of the colours keeps them; frames a degree apart
    differ at the quads' edges). Another frame is taken only where it
    explains the screen far better (taken)."""
    order = sorted(pair.sources)
    best = fit_source(pair.sources[0], pair.shown, pair.judged)
    tried = {0}
    if len(order) > 1 and (best.share < 1 - FIT_MISSES or best.apart > EXACT):
        found = fit_source(pair.sources[order[1]], pair.shown, pair.judged, Cause("shown late", (order[1],)))
        best, tried = found if taken(found, best) else best, {0, order[1]}
    if best.apart or best.share < 1 - FIT_MISSES:  # else no frame lies nearer than the very pixels
        where = next((p for p in best.parts if p.kind in ("placed", "resampled")), None)
        shown = edges(pair.shown) * pair.judged
        likest = max(order, key=lambda k: max(likeness(edges(placed) * valid, shown)
                                              for _, placed, valid in ways_of(pair.sources[k], where)))
        if likest not in tried:
            found = fit_source(pair.sources[likest], pair.shown, pair.judged, Cause("shown late", (likest,)))
            best = found if taken(found, best) else best
    return best if best.share >= 1 - FIT_MISSES else Fit((), best.share)


def taken(found, best):
    """Whether a fit of a frame before the one held replaces the best so
    far: it is better, and where the best explains the screen, far better:
    at as many pixels, and twice as near (two frames a degree apart, placed
    a little off, fit about alike; a map that hides most of what moved, or
    a curve read at few levels, lies off between them, the frame itself
    alike)."""
    return found.better(best) and (best.share < 1 - FIT_MISSES or
                                   2 * found.apart < best.apart and found.share >= best.share)


def presented(parts, pair):
    """The frame drawn as the parts fitted at another held frame show it:
    (predicted (h, w, 3) float, valid), or None where they cannot say (an
    opacity over what lies behind, known across frames only)."""
    late = next((p.values[0] for p in parts if p.kind == "shown late"), 0)
    if late not in pair.sources:
        return None
    placed, valid = pair.sources[late].astype(np.float32), np.ones(pair.judged.shape, bool)
    for p in parts:
        if p.kind == "placed":
            placed, valid = warp(pair.sources[late], *p.values)
        elif p.kind == "resampled":
            placed = resampled(pair.sources[late], *p.values)
        elif p.kind == "colours":
            placed = mapped(placed.reshape(-1, 3), *p.values[:3]).reshape(placed.shape).astype(np.float32)
        elif p.kind == "opacity":
            if p.values[1] is None:
                return None
            placed = p.values[0] * placed + (1 - p.values[0]) * np.asarray(p.values[1], np.float32)
        elif p.kind != "shown late":
            return None
    return placed, valid


def again(parts, pair):
    """Whether the parts fitted at another held frame explain this one."""
    shown = presented(parts, pair)
    return shown is not None and explained(*shown, pair.shown, pair.judged) >= 1 - FIT_MISSES


def unexplained(pair):
    """The part that says the screen differs and nothing explains it: the
    share of the judged pixels that differ, and the one that differs most
    (x, y in the window), as drawn and as shown."""
    off = differing(pair.sources[0], pair.shown, pair.judged)
    d = np.abs(pair.sources[0].astype(np.int16) - pair.shown.astype(np.int16)).max(axis=2) * pair.judged
    r, c = np.unravel_index(int(np.argmax(d)), d.shape)
    return Cause("unexplained", (round(float(off.sum() / max(pair.judged.sum(), 1)), 3), (int(c), int(r)),
                                 tuple(int(v) for v in pair.sources[0][r, c]), tuple(int(v) for v in pair.shown[r, c])))


class Verdict(NamedTuple):
    """The screen over the held frames: the frames judged; what it does
    (a Cause of kind "screen", or None where it shows every frame as
    drawn); the frames where it does so; and the first of them (a Pair),
    or None."""
    frames: tuple
    cause: object = None
    failing: tuple = ()
    pair: object = None


def verdict(pairs):
    """What the screen does over the held frames (Pair, in order). First
    which frame each shows (one before it, one held before, none, a screen
    that never settled), and what only the frames together tell: a screen
    that showed one picture at two frames or more that GL drew apart
    stopped changing; a blend over what lies behind the window, whatever
    it is, fits them all at one opacity. Then each other frame's
    presentation is fitted (one fitted at a frame before is tried first,
    and at the end at the frames before it that none explained; at most
    FITS frames are fitted anew). The cause named is the one at
    the most frames (the first of them, where as many)."""
    found, known, fitted = {}, None, 0
    failing = [p for p in pairs if not p.steady or shown_as_drawn(p.sources, p.shown, p.judged, p.samples) != 0]
    for p in failing:
        if not p.steady:
            found[p.frame] = Fit((Cause("unsteady", (round(p.seconds, 1),)),), 1.0)
        elif (part := which_frame(p)) is not None:
            found[p.frame] = Fit((part,), 1.0)
        elif any(o is not p and o.steady and same_picture(o.shown, p.shown, p.judged)
                 and not same_picture(o.sources[0], p.sources[0], p.judged) for o in failing):
            found[p.frame] = Fit((Cause("frozen", (0,)),), 1.0)
    rest = [p for p in failing if p.frame not in found]
    if len(rest) >= 2:
        blend = blend_across([p.shown for p in rest], [p.sources[0] for p in rest],
                             np.logical_and.reduce([p.judged for p in rest]))
        if blend is not None:  # a map of the colours in steps may lie within a blend's reach: nearer, it is the one
            alone = fit(rest[0])
            fitted += 1
            if alone.share >= 1 - FIT_MISSES and alone.apart < blend[1] and \
                    all(part.kind != "opacity" for part in alone.parts):
                found[rest[0].frame], known, blend = alone, alone.parts, None
        for p in rest if blend is not None else ():
            found[p.frame] = Fit((blend[0],), 1.0)
    for p in failing:
        if p.frame in found:
            continue
        if known is not None and again(known, p):
            found[p.frame] = Fit(known, 1.0)
        elif fitted < FITS:
            found[p.frame] = fit(p)
            fitted += 1
            known = found[p.frame].parts or known
        else:
            found[p.frame] = Fit((), 0.0)
    for p in failing:  # a frame fitted before what the screen does was known, tried under it
        if not found[p.frame].parts and known is not None and again(known, p):
            found[p.frame] = Fit(known, 1.0)
        if not found[p.frame].parts:
            found[p.frame] = Fit((unexplained(p),), found[p.frame].share)
    frames = tuple(p.frame for p in pairs)
    if not failing:
        return Verdict(frames)
    # Frames no change explains are one kind, whatever each shows.
    kinds = [tuple(c.kind if c.kind == "unexplained" else c for c in found[p.frame].parts) for p in failing]
    named = max(kinds, key=lambda k: (kinds.count(k), -kinds.index(k)))
    at = [p for p, k in zip(failing, kinds) if k == named]
    return Verdict(frames, Cause("screen", found[at[0].frame].parts), tuple(p.frame for p in at), at[0])
