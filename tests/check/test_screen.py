"""The screen's model (check/screen.py), on pairs made here: a frame as
drawn, and the window as a screen shows it. Each change a presentation path
makes is named with its parameters; a pair the screen shows right is never
named. No X, no build."""
import numpy as np
import pytest

from check import screen
from check.model import Cause
from check.words import says

H, W = 240, 320
GAMMA = np.round(255 * (np.arange(256) / 255) ** (1 / 2.2)).astype(np.uint8)


def drawn(n):
    """Frame n as GL may draw it: black; a quad of four coloured cells that
    moves with n; a gradient; a green line; edges smoothed as GL's
    filtering smooths them."""
    p = np.zeros((H, W, 3), np.float32)
    x0, y0 = 40 + 3 * n, 50 + n
    cells = ((255, 128, 51), (0, 255, 0), (64, 64, 200), (255, 255, 255))
    for i, c in enumerate(cells):
        r, k = divmod(i, 2)
        p[y0 + 30 * r:y0 + 30 * r + 30, x0 + 40 * k:x0 + 40 * k + 40] = c
    ramp = np.linspace(0, 1, 90)[None, :, None]
    p[140:200, 180:270] = ramp * (255, 128, 51) + (1 - ramp) * (20, 60, 200)
    p[20, 10:310] = (0, 255, 0)
    p[:, 300] = (0, 255, 0)
    blurred = (p + np.roll(p, 1, 0) + np.roll(p, 1, 1) + np.roll(p, (1, 1), (0, 1))) / 4
    return np.round(blurred).astype(np.uint8)


ALL = np.ones((H, W), bool)


def pair(shown, n=10, sources=(0, 1, 2), judged=ALL, earlier=(), steady=True, samples=0):
    return screen.Pair(n, {k: drawn(n - k) for k in sources}, np.clip(np.round(shown), 0, 255).astype(np.uint8),
                       judged, 0.2, steady, {m: drawn(m) for m in earlier}, samples)


def named(*pairs):
    v = screen.verdict(list(pairs))
    return v.cause and v.cause.values


def placed(n, q, sx, sy, dx, dy, smooth=False):
    return screen.warp(drawn(n), q, sx, sy, dx, dy, smooth)[0]


rng = np.random.default_rng(7)
COVERED = np.ones((H, W), bool)
COVERED[80:160, 100:220] = False


def resolved(n):
    """Frame n as a swap resolves it where GL's readback took one sample: a
    mean of its neighbours at each edge."""
    d = drawn(n).astype(float)
    mean = (d + np.roll(d, 1, 1) + np.roll(d, -1, 0)) / 3
    rows, cols = (g.ravel() for g in np.mgrid[0:H, 0:W])
    return np.where(screen.flat_at(drawn(n), rows, cols).reshape(H, W, 1), d, mean)


@pytest.mark.parametrize("shown, judged, samples", [
    (drawn(10), ALL, 0),
    (drawn(10).astype(float) + rng.integers(-2, 3, (H, W, 3)), ALL, 0),  # a compositor's rounding
    (np.where(rng.random((H, W, 1)) < 0.003, 255, drawn(10)), ALL, 0),  # a few pixels: a cursor, rounded corners
    (np.where(COVERED[..., None], drawn(10), 128), COVERED, 0),  # another window over a part: not judged
    (resolved(10), ALL, 4),  # a multisampled frame resolved anew by the swap
], ids=["exact", "rounded", "a few pixels", "covered", "multisampled"])
def test_a_screen_that_shows_the_frame_as_drawn_is_never_named(shown, judged, samples):
    assert named(pair(shown, judged=judged, samples=samples),
                 pair(resolved(20) if samples else drawn(20), n=20, judged=judged, samples=samples)) is None


def test_only_a_multisampled_frame_may_show_another_resolve():
    assert named(pair(resolved(10)), pair(resolved(20), n=20)) is not None


@pytest.mark.parametrize("shown, part", [
    (placed(10, 0, 1, 1, 7, -4), ("placed", (0, 1, 1, 7, -4, False))),
    (placed(10, 2, 1, 1, 0, 0), ("placed", (2, 1, 1, 0, 0, False))),  # upside down
    (placed(10, 1, 1, 1, 0, 0), ("placed", (1, 1, 1, 0, 0, False))),  # mirrored
    (placed(10, 3, 1, 1, 0, 0), ("placed", (3, 1, 1, 0, 0, False))),  # half a turn
    (placed(10, 0, 0.5, 0.5, 0, 0), ("placed", (0, 0.5, 0.5, 0, 0, False))),
    (placed(10, 0, 1.25, 1.25, 0, 0, True), ("placed", (0, 1.25, 1.25, 0, 0, True))),  # scaled and smoothed
    (screen.resampled(drawn(10), 2, True), ("resampled", (2, True))),
    # A pixel: no more pixels differ than a cursor's, and the frame before
    # differs about as little.
    (placed(10, 0, 1, 1, 1, 0), ("placed", (0, 1, 1, 1, 0, False))),
    (placed(10, 0, 1, 1, 0, -1), ("placed", (0, 1, 1, 0, -1, False))),
    # Scales no program need choose.
    (placed(10, 0, 0.7, 0.7, 0, 0), ("placed", (0, 0.7, 0.7, 0, 0, False))),
    (placed(10, 0, 0.6, 0.85, 0, 0), ("placed", (0, 0.6, 0.85, 0, 0, False))),
    (placed(10, 0, 1.15, 1.15, 0, 0), ("placed", (0, 1.15, 1.15, 0, 0, False))),
    (placed(10, 0, 0.57, 0.86, 0, 0), ("placed", (0, 0.57, 0.86, 0, 0, False))),
    # Smaller than half: a part of the window shows the picture, its thin
    # edges between the pixels sampled.
    (placed(10, 0, 0.4, 0.4, 0, 0), ("placed", (0, 0.4, 0.4, 0, 0, False))),
    (placed(10, 0, 0.3, 0.3, 0, 0), ("placed", (0, 0.3, 0.3, 0, 0, False))),
    # Larger than the window one way alone: its edges cut short that way.
    (placed(10, 0, 1.2, 1, 0, 0), ("placed", (0, 1.2, 1, 0, 0, False))),
], ids=["moved", "upside down", "mirrored", "half a turn", "half the size", "scaled smoothed", "half resolution",
        "a pixel right", "a pixel up", "0.7", "0.6 x 0.85", "1.15", "0.57 x 0.86", "0.4", "0.3", "1.2 x 1"])
def test_where_the_pixels_go(shown, part):
    assert named(pair(shown)) == (Cause(*part),)


def test_colours_inverted_exchanged_and_curved():
    inverted = named(pair(255 - drawn(10).astype(float)))
    assert inverted[0].kind == "colours" and np.allclose(inverted[0].values[0], -np.eye(3))
    assert np.allclose(inverted[0].values[1], 255)
    exchanged = named(pair(drawn(10)[..., ::-1]))
    assert exchanged[0].kind == "colours" and np.allclose(exchanged[0].values[0], np.eye(3)[::-1])
    assert says(Cause("screen", exchanged)).startswith("every colour with its red and blue exchanged on the screen")
    curved = named(pair(GAMMA[drawn(10)]))
    assert curved[0].kind == "colours" and says(Cause("screen", curved)).startswith(
        "every colour but black and white brighter, as encoding with a gamma of 2.2 would on the screen: "
        "(64, 64, 64) shows as (136, 136, 136)")
    # Placed and curved at once: the curve read at every point of the
    # picture placed, not at saturated colours alone.
    for part, words in (((2, 1, 1, 0, 0, False), "upside down, and every colour but black and white brighter"),
                        ((0, 0.7, 0.7, 0, 0, False), "scaled by 0.7, and every colour but black and white"),
                        ((0, 0.8, 0.8, 0, 0, True), "scaled by 0.8, smoothed, and every colour but black and white")):
        both = named(pair(GAMMA[placed(10, *part).astype(np.uint8)]))
        said = says(Cause("screen", both))
        assert both[0] == Cause("placed", part) and words in said and "(64, 64, 64) shows as (136, 136, 13" in said \
            and "(128, 128, 128) as (186, 186, 186)" in said, said
    # A frame whose mid levels lie in a photograph alone, flat nowhere.
    photo = drawn(10)
    photo[60:130, 180:290] = np.random.default_rng(3).integers(0, 256, (70, 110, 3))
    shown = GAMMA[screen.warp(photo, 0, 0.7, 0.7, 0, 0)[0].astype(np.uint8)]
    v = screen.verdict([screen.Pair(10, {0: photo, 1: drawn(9)}, shown, ALL)])
    assert v.cause.values[0] == Cause("placed", (0, 0.7, 0.7, 0, 0, False)) and \
        "(128, 128, 128) as (186, 186, 186)" in says(v.cause)


@pytest.mark.parametrize("levels", [2, 3, 4, 5, 6, 8])
@pytest.mark.parametrize("middles", [False, True], ids=["floors", "middles"])
def test_colours_in_steps_are_a_map_not_a_blend(levels, middles):
    """Each channel shown in a few levels (its bins' floors or middles):
    within a blend's reach of the frame, but a map that lies nearer."""
    bins = np.floor(np.arange(256) * levels / 256)
    steps = np.round((bins + 0.5) * 256 / levels if middles else bins * 255 / (levels - 1)).clip(0, 255).astype(np.uint8)
    assert [c.kind for c in named(pair(steps[drawn(10)]), pair(steps[drawn(20)], n=20))] == ["colours"]


def test_a_frame_that_shows_too_little_to_fit_is_tried_under_the_change_found_after_it():
    # Of the first frame, a part is seen with edges across it alone: no
    # placement of its own is scaled to nothing, and what the screen does is
    # found at the next frame, and then explains the first too.
    steps = (np.arange(256) // 128 * 128 + 64).astype(np.uint8)
    part = np.zeros((H, W), bool)
    part[120:, :180] = True
    v = screen.verdict([pair(steps[drawn(10)], judged=part), pair(steps[drawn(20)], n=20)])
    assert [c.kind for c in v.cause.values] == ["colours"] and v.failing == (10, 20)


def desktop():
    """What lies behind a window: bands of three colours."""
    ys, xs = np.mgrid[0:H, 0:W]
    band = ((xs + ys) // 40) % 3
    return np.stack([np.where(band == 0, 200, 40), np.where(band == 1, 160, 60), np.where(band == 2, 220, 30)], -1)


@pytest.mark.parametrize("alpha, behind", [(0.6, (128, 128, 128)), (0.3, (0, 0, 0)), (0.85, (255, 255, 255))])
def test_an_opacity_over_one_colour(alpha, behind):
    shown = lambda n: alpha * drawn(n) + (1 - alpha) * np.array(behind)
    (found,) = named(pair(shown(10)), pair(shown(20), n=20))
    # Behind a blend of whole levels, a level's rounding either way.
    assert found.kind == "opacity" and found.values[0] == alpha and np.abs(np.subtract(found.values[1], behind)).max() <= 1


def test_an_opacity_over_a_desktop_of_many_colours_is_told_across_frames():
    shown = lambda n: 0.7 * drawn(n) + 0.3 * desktop()
    assert named(pair(shown(10)), pair(shown(40), n=40)) == (Cause("opacity", (0.7, None)),)


DECODED = np.round(255 * (np.arange(256) / 255) ** 2.2).astype(np.uint8)


def ramp(n):
    """Frame n where only a patch of many levels moves, two pixels a frame:
    held frames one after another differ at few pixels."""
    p = drawn(0).astype(float)
    across = np.linspace(0, 1, 60)[None, :, None]
    p[100:150, 100 + 2 * n:160 + 2 * n] = across * (255, 200, 120) + (1 - across) * (30, 10, 90)
    return np.round(p).astype(np.uint8)


@pytest.mark.parametrize("change", [lambda p: DECODED[p], lambda p: GAMMA[p], lambda p: p[..., ::-1]],
                         ids=["gamma decoded", "gamma encoded", "channels exchanged"])
def test_a_map_of_the_colours_is_no_blend_across_frames_that_hardly_differ(change):
    """Where frames differ at few pixels, any screen fits a blend over
    something at the others: only those where the frames differ tell."""
    pairs = [screen.Pair(n, {0: ramp(n), 1: ramp(n - 1), 2: ramp(n - 2)}, change(ramp(n)), ALL) for n in (10, 11, 12, 40)]
    found = named(*pairs)
    assert found[0].kind == "colours"


def test_which_frame_is_shown():
    assert named(pair(drawn(9)), pair(drawn(19), n=20)) == (Cause("shown late", (1,)),)
    assert named(pair(drawn(8)), pair(drawn(18), n=20)) == (Cause("shown late", (2,)),)
    assert named(pair(drawn(10)), pair(drawn(10), n=20, earlier=(10,))) == (Cause("frozen", (10,)),)
    assert named(pair(drawn(3)), pair(drawn(3), n=20)) == (Cause("frozen", (0,)),)  # one never held
    assert named(pair(np.zeros((H, W, 3))), pair(np.zeros((H, W, 3)), n=20)) == (Cause("blank", (0, 0, 0)),)
    assert named(pair(drawn(10), steady=False)) == (Cause("unsteady", (0.2,)),)


def grey(p):
    return np.repeat(p.astype(float) @ (0.299, 0.587, 0.114), 3).reshape(p.shape)


def test_a_frame_late_and_changed_is_both():
    assert named(pair(255 - drawn(9).astype(float))) == (Cause("shown late", (1,)),) + named(
        pair(255 - drawn(10).astype(float)))[:1]
    # Frames that differ at a few pixels (degrees near face-on), one
    # before shown moved, in grey, or with its channels exchanged: the
    # frame itself, so changed, lies near it too, within a level on the mean.
    now, before, earlier = drawn(10), drawn(10).copy(), drawn(10).copy()
    before[60:64, 45:125] = (200, 40, 40)
    earlier[60:66, 45:125] = (200, 40, 40)
    for k, shown, part in ((1, screen.warp(before, 0, 1, 1, -7, 4)[0], Cause("placed", (0, 1, 1, -7, 4, False))),
                           (1, grey(before), "colours"), (2, earlier[..., ::-1], "colours")):
        p = screen.Pair(10, {0: now, 1: before, 2: earlier}, np.round(shown).astype(np.uint8), ALL, 0.2, True, {}, 0)
        late, changed = named(p)
        assert late == Cause("shown late", (k,)) and part in (changed, changed.kind)


def test_what_no_one_change_explains_is_said_as_such():
    v = named(pair(rng.integers(0, 256, (H, W, 3))))
    assert v[0].kind == "unexplained" and v[0].values[0] > 0.5
    # A picture a sixth of the size: mostly black, but no map showing every
    # colour as black.
    v = named(pair(placed(10, 0, 0.16, 0.16, 0, 0)))
    assert v[0].kind == "unexplained", v
    # Frames each unexplained in its own way are said together.
    v = screen.verdict([pair(rng.integers(0, 256, (H, W, 3)), n=n) for n in (10, 20, 30)])
    assert v.cause.values[0].kind == "unexplained" and v.failing == (10, 20, 30), v


@pytest.mark.parametrize("window, above, judged_share, covered, off", [
    ((0, 0, 100, 50), (), 1.0, 0.0, 0.0),
    ((-10, 0, 100, 50), (), 0.9, 0.0, 0.1),  # a tenth off the screen's left
    ((0, 0, 100, 50), ((50, 0, 100, 100),), 0.18, 0.5, 0.0),  # half covered, and its shadow's reach
    ((0, 0, 100, 50), ((200, 200, 10, 10),), 1.0, 0.0, 0.0),  # a window elsewhere
])
def test_what_can_be_seen_of_a_window(window, above, judged_share, covered, off):
    judged, c, o = screen.visible(window, (640, 480), above)
    assert (judged.mean(), c, o) == pytest.approx((judged_share, covered, off))
