"""A frame as the capture library writes it, read from its bytes; and
blame's test of whose colours a pixel is in, on a frame made here. No X, no
build."""
import numpy as np
import pytest

from check.capture import STANDARD_POSITIONS, Frame
from check.drawn import Blame
from check.look import Look
from check.photographs import PHOTOGRAPHS
from check.scene import PROJECT_TINT, Scene


def ppm(tmp_path, w, h, notes="", pixels=None, magic=b"P6"):
    """A frame file of w x h: its header's notes, then its pixels (rows top
    first), 0..255 each channel."""
    pixels = np.arange(w * h * 3, dtype=np.uint8).reshape(h, w, 3) if pixels is None else pixels
    path = tmp_path / "frame.ppm"
    path.write_bytes(magic + b"\n" + notes.encode() + f"{w} {h}\n255\n".encode() + pixels.tobytes())
    return str(path)


def test_pixels_top_row_first_and_the_notes(tmp_path):
    f = Frame(ppm(tmp_path, 3, 2, "# frame 30\n# window 3x2 since frame 1\n# drawable 3x2\n# viewport 0 0 3 2\n"
                                  "# samples 2\n# positions 0.25 0.75 0.75 0.25\n"))
    assert (f.w, f.h, f.number, f.window, f.since, f.drawable, f.viewport) == (3, 2, 30, (3, 2), 1, (3, 2),
                                                                               (0, 0, 3, 2))
    assert f.pixels.shape == (2, 3, 3)
    assert f.pixels[0, 0].tolist() == [0, 1, 2] and f.pixels[1, 0].tolist() == [9, 10, 11]
    assert (f.samples, f.positions) == (2, [(0.25, 0.75), (0.75, 0.25)])
    assert f.unsettled() is None


@pytest.mark.parametrize("samples, positions", [(0, [(0.5, 0.5)]), (4, STANDARD_POSITIONS[4])])
def test_sample_positions_where_gl_did_not_tell_them(tmp_path, samples, positions):
    f = Frame(ppm(tmp_path, 4, 4, f"# frame 2\n# samples {samples}\n"))
    assert f.positions == positions and f.window == (4, 4) and f.drawable == (4, 4)


@pytest.mark.parametrize("notes, why", [
    ("# frame 5\n# window 4x4 since frame 4\n", "window 4 x 4 since frame 4"),  # changed at the swap before
    ("# frame 5\n# window 4x4 since frame 3\n", None),
    ("# frame 5\n# window 4x4 since frame 0\n# viewport 0 0 3 4\n", "viewport 3 x 4"),
    ("# frame 5\n# window 8x8 since frame 0\n", "window 8 x 8"),  # the frame is 4 x 4
    ("# frame 5\n# window 4x4 since frame 0\n# drawable 0x0\n", None),  # the drawable unknown
    ("# frame 5\n# window 4x4 since frame 0\n# drawable 4x3\n", "drawable 4 x 3"),
])
def test_a_frame_drawn_while_the_window_changed_size_is_no_evidence(tmp_path, notes, why):
    said = Frame(ppm(tmp_path, 4, 4, notes)).unsettled()
    assert said is None if why is None else why in said


@pytest.mark.parametrize("data, error", [
    (b"P6\n4 4\n255\n" + bytes(47), "47 bytes of pixels, 48 expected"),
    (b"P5\n4 4\n255\n" + bytes(16), "not a binary PPM"),
    (b"P6\n4 4\n65535\n" + bytes(96), "not a binary PPM"),
])
def test_a_file_that_is_no_whole_frame_is_refused(tmp_path, data, error):
    (tmp_path / "bad.ppm").write_bytes(data)
    with pytest.raises(ValueError, match=error):
        Frame(str(tmp_path / "bad.ppm"))


# Blame: a pixel is in an object's colours where it lies within 32 levels
# of a blend of them over black, and lit (brighter than 24 in a channel).
# The tiled quad's photograph is tinted (1, 0.5, 0.2) with the project's
# shaders; the image quad's is not.
COLOURS = (
    ("wire box", (0, 255, 0), True), ("wire box", (0, 128, 0), True),  # half of it over black
    ("wire box", (0, 255, 30), True), ("wire box", (0, 255, 40), False),  # 30 and 40 levels off its green
    ("wire box", (255, 0, 0), False), ("wire box", (20, 20, 20), False),  # dark: nothing's
    ("gradient quad", (255, 0, 0), True), ("gradient quad", (128, 128, 0), True),  # red and green halves
    ("gradient quad", (85, 85, 85), True), ("gradient quad", (255, 255, 255), False),
    ("tiled quad", (255, 128, 51), True), ("tiled quad", (0, 128, 0), True),  # white and green, tinted
    ("tiled quad", (255, 255, 255), False), ("tiled quad", (0, 0, 255), False),  # untinted
    ("image quad", (255, 255, 255), True), ("image quad", (0, 0, 255), True),
    ("image quad", (255, 128, 51), False), ("image quad", (20, 20, 20), False),
)


@pytest.fixture(scope="module")
def painted(tmp_path_factory):
    """A black frame at 30 degrees with each colour of COLOURS at a pixel of
    its own (row 10, every other column): its Blame."""
    pixels = np.zeros((480, 640, 3), np.uint8)
    pixels[10, 10:10 + 2 * len(COLOURS):2] = [c for _, c, _ in COLOURS]
    frame = Frame(ppm(tmp_path_factory.mktemp("blame"), 640, 480, "# frame 30\n", pixels))
    return Blame(Look(frame, Scene(30, PHOTOGRAPHS["quadrants"][0], PROJECT_TINT)))


@pytest.mark.parametrize("i", range(len(COLOURS)), ids=[f"{o} {c}" for o, c, _ in COLOURS])
def test_blame_tells_whose_colours_a_pixel_is_in(painted, i):
    obj, _, theirs = COLOURS[i]
    assert painted.shows(obj, np.array([10]), np.array([10 + 2 * i]))[0] == theirs
