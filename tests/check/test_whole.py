"""The causes of a whole frame, on arrays made here: a frame of one colour,
a map of every colour read from points of known colour (and what is no
such map), and what only a turn's frames tell. No X, no build."""
import numpy as np
import pytest

from check.checks import ANGLE, CHECKS, DEPTH, GRADIENT_COLOURS, TILED_COLOURS, WHOLE, Problem
from check.frame import Result
from check.whole import across_frames, colour_map, flat_colour, nothing_drawn, undo

GAMMA = 255 * (np.arange(256) / 255) ** (1 / 2.2)


def frame(colour=(0, 0, 0), lit=0, w=64, h=48):
    """A frame of one colour with `lit` pixels of another, apart."""
    pixels = np.zeros((h, w, 3), np.uint8) + np.array(colour, np.uint8)
    pixels.reshape(-1, 3)[np.arange(lit) * 7 + 3] = (0, 255, 0)
    return pixels


@pytest.mark.parametrize("pixels, colour", [
    (frame(), (0, 0, 0)),
    (frame(lit=3), (0, 0, 0)),  # a dither's or a line end's
    (frame(lit=4), None),
    (frame((255, 255, 255)), (255, 255, 255)),
    (frame(lit=64), None),  # a line the sparse sample misses
])
def test_a_frame_of_one_colour(pixels, colour):
    assert flat_colour(pixels) == colour


def test_the_words_for_nothing_drawn():
    assert nothing_drawn((0, 0, 0)) == "nothing drawn: the frame shows only the clear colour"
    assert "every pixel is (255, 255, 255)" in nothing_drawn((255, 255, 255))


def points(shown, off=None):
    """The scene's levels at points of three objects and the background,
    and the frame's through `shown` (a map of 0..255, or a function of the
    levels and the object); `off` maps one object's alone."""
    rng = np.random.default_rng(3)
    objects = np.repeat([0, 1, 2, 3], 120)
    expected = np.zeros((len(objects), 3))
    expected[objects == 1] = rng.choice([0, 51, 128, 255], (120, 3))  # a tinted photograph's cells
    expected[objects == 2] = rng.uniform(0, 255, (120, 3))  # a gradient's blends
    expected[objects == 3] = rng.choice([0, 255], (120, 3))  # a photograph's primaries
    got = np.round(np.asarray(shown, float)[np.round(expected).astype(int)])
    if off is not None:
        got[objects == 2] = np.round(off(expected[objects == 2]))
    return expected, got, objects


def test_a_gamma_curve_over_every_object_is_named_and_undone():
    expected, got, objects = points(GAMMA)
    cmap = colour_map(expected, got, objects)
    assert cmap is not None
    assert "every colour but black and white brighter, as encoding with a gamma of 2.2 would" in cmap.says
    assert "(128, 128, 128) as (186, 186, 186)" in cmap.says
    back = undo(got.astype(np.uint8).reshape(1, -1, 3), cmap).reshape(-1, 3)
    assert np.abs(back - expected).max() <= 8


@pytest.mark.parametrize("shown, words", [
    (255 - np.arange(256), "every colour inverted"),
    (np.arange(256) * 0.6, "every colour darker"),
])
def test_other_maps_of_every_colour(shown, words):
    cmap = colour_map(*points(shown))
    assert cmap is not None and cmap.says.startswith(words)


@pytest.mark.parametrize("shown, off", [
    (np.arange(256), None),  # the scene's own colours
    (np.arange(256), lambda e: e / 2),  # one object's colours off: its own fault
    (np.where(np.arange(256) > 0, 255, 0), None),  # every level but black white: colours lost, no curve
    (np.arange(256), lambda e: e[:, [1, 0, 2]]),  # two channels swapped on one object
])
def test_what_is_no_map_of_every_colour(shown, off):
    assert colour_map(*points(shown, off)) is None


def results(**causes):
    """A frame's Results: the checks named (by their records' names in
    causes) failing with those causes, the rest passing."""
    by = {c: Result(c) for c in CHECKS}
    for name, cause in causes.items():
        check = {"whole": WHOLE, "angle": ANGLE, "tiled": TILED_COLOURS, "gradient": GRADIENT_COLOURS,
                 "depth": DEPTH}[name]
        by[check] = Result(check, Problem(f"{name} at fault", cause=cause))
    return list(by.values())


def failing(judged, check):
    """{frame: (says, follows)} of a check where it does not pass."""
    out = {}
    for n, (_, res) in judged.items():
        r = next(r for r in res if r.check == check)
        if r.problem:
            out[n] = (r.problem.says, r.follows)
    return out


def test_every_frame_a_degree_back_the_first_black_is_a_frame_of_lag():
    judged = {1: (None, results(whole="nothing"))}
    judged.update({n: (None, results(angle="angle -1 behind" if n % 2 else "angle -1")) for n in range(2, 40)})
    out = across_frames(judged, WHOLE, ANGLE, 360)
    angle = failing(out, ANGLE)
    assert set(angle) == set(range(2, 40))
    assert all(says.startswith("each frame shows the frame before") and follows is None
               for says, follows in angle.values())
    assert failing(out, WHOLE) == {1: ("follows from the frame's angle", ANGLE)}


@pytest.mark.parametrize("first, frames", [
    ("nothing", {20: "angle -1 behind", 30: "angle -1 behind"}),  # lone frames: not a lag
    (None, {n: "angle -1" for n in range(2, 40)}),  # the first drawn at 0 degrees: a degree late
])
def test_what_is_no_frame_of_lag(first, frames):
    judged = {n: (None, results(angle=frames[n]) if n in frames else results(**({"whole": first} if n == 1 and
                                                                                first else {})))
              for n in range(1, 41)}
    out = across_frames(judged, WHOLE, ANGLE, 360)
    assert not any(says.startswith("each frame") for says, _ in failing(out, ANGLE).values())


def test_a_lone_frame_a_degree_back_that_misses_nothing_is_the_frame_before_showing_through():
    judged = {n: (None, results()) for n in range(1, 41)}
    judged[20] = (None, results(angle="angle -1 behind"))
    judged[30] = (None, results(angle="angle -1"))  # misses its own scene: drawn at 29
    out = across_frames(judged, WHOLE, ANGLE, 360)
    assert failing(out, WHOLE) == {20: ("the frame before shows through where nothing is drawn over it: the colour "
                                        "clear was skipped", None)}
    assert failing(out, ANGLE) == {20: ("follows from the whole frame", WHOLE), 30: ("angle at fault", None)}


@pytest.mark.parametrize("kind", ["colour map", "one colour"])
def test_a_map_of_every_colour_between_two_frames_that_show_it(kind):
    judged = {n: (None, results(whole=kind)) for n in range(1, 41)}
    for n in range(15, 20):
        judged[n] = (None, results(tiled="", gradient="", depth=""))
    judged[25] = (None, results(tiled="", angle="angle 1"))  # something else wrong too: not the map's alone
    out = across_frames(judged, WHOLE, ANGLE, 360, {TILED_COLOURS, GRADIENT_COLOURS, DEPTH})
    assert set(failing(out, WHOLE)) == set(range(1, 41)) - {25}
    assert {n: f for n, (_, f) in failing(out, TILED_COLOURS).items()} == {**{n: WHOLE for n in range(15, 20)},
                                                                         25: None}
