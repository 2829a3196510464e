"""What reaches the screen at the frames the demo is held at (the capture
library's CAPTURE_HOLD, capture.py): at each, the window's rectangle read
from the screen (on X, the root window's pixels at the window's place,
which hold a compositing manager's output) until it settles, beside the
frame GL drew and the frames before it; and which frames to hold next.
What the pairs say is screen.py's."""
import os
import time

import numpy as np

from . import capture, screen

# The frames held: a handful spread over the turn, each quad leaning.
HELD = (45, 115, 185, 255, 325)
# Where the screen does not show a held frame as drawn, the MORE frames
# after it are held too (a frame shown late, a picture that stopped
# changing and a flicker tell themselves apart there), for the first AGAIN
# frames that disagree.
MORE = 2
AGAIN = 1
# The frames GL drew before a held one that the screen may show instead
# (a swap chain or a compositor this many frames behind).
BEFORE = 8
# Reading: the first read FIRST after the hold (the X server's round trip),
# then one every GAP; the screen has settled where it shows the frame as
# drawn, or where its reads agree for SETTLE (a compositor paints a
# damaged window at its next frame, 16 ms at 60 Hz: three of them); a
# screen still changing after LIMIT, while the demo draws nothing,
# flickers (picom's fading in takes 0.36 s: 1/0.028 steps of 10 ms).
FIRST = 0.005
GAP = 0.02
SETTLE = 0.05
LIMIT = 2.0


class Unreadable(Exception):
    """The screen cannot be read: why, in words."""


def read_root(display):
    """The root window's pixels (rows x columns x 3) on X display `display`
    (Pillow's ImageGrab, through XCB)."""
    from PIL import ImageGrab
    try:
        return np.asarray(ImageGrab.grab(xdisplay=display).convert("RGB"))
    except OSError as e:
        raise Unreadable(f"the screen could not be read: {e}") from None


class Screen:
    """The screen at the held frames of one run of the demo: each a
    screen.Pair; why the screen is not judged, where it is not; how much of
    the window could be seen; the time the holds took."""

    def __init__(self, display, keep=None, frames=HELD):
        self.display, self.keep = display, keep
        self.frames = sorted(frames)
        self.why = None  # why the screen is not judged at all
        self.skipped = {}  # held frames not judged: why, by frame
        self.pairs = []
        self.drawn = {}  # frames GL drew that the pairs need, by number (capture.Frame)
        self.again = AGAIN
        self.covered = self.off = 0.0  # the most of the window covered, and off the screen, at a held frame
        self.seconds = 0.0

    def start(self):
        """The frames to hold: none where the screen cannot be read (why
        says why)."""
        if not self.display:
            self.why = "no X display to read"
        else:
            try:
                read_root(self.display)
            except Unreadable as e:
                self.why = str(e)
        return () if self.why else tuple(self.frames)

    def wanted(self, n):
        """Whether frame n is one a held frame's pair needs."""
        return any(0 <= h - n <= BEFORE for h in self.frames)

    def keep_drawn(self, n, frame):
        """Frame n as GL drew it (capture.Frame), before the sweep removes it."""
        if self.wanted(n):
            self.drawn[n] = frame

    def poll(self, folder):
        """Reads the screen at a frame the demo is held at, if any, and
        lets the demo go on."""
        for n in self.frames:
            if os.path.exists(os.path.join(folder, capture.held_name(n))):
                self.at(folder, n)

    def drawn_frame(self, folder, n):
        if n not in self.drawn and os.path.exists(os.path.join(folder, capture.frame_name(n))):
            self.drawn[n] = capture.Frame(os.path.join(folder, capture.frame_name(n)))
        return self.drawn.get(n)

    def at(self, folder, n):
        """Frame n is held: its window read from the screen until it
        settles, beside the frames drawn; where the screen disagrees, the
        frames after it held too. Then the demo goes on."""
        started = time.monotonic()
        then = None
        try:
            note = capture.held(folder, n)
            f = self.drawn_frame(folder, n)
            if note is None or self.why or f is None:
                return  # not held, not judged, or not saved (its error line says why)
            if note.xwayland:
                self.why = ("the X server is Xwayland: its root window is not what the Wayland compositor "
                            "shows, and cannot be read for it")
            elif note.window is None or note.screen is None:
                self.why = "the capture library could not tell where the window lies on the screen"
            elif f.unsettled() or (f.w, f.h) != tuple(note.window[2:]):
                self.skipped[n] = "the window changed size"
                return
            if self.why:
                then = []
                return
            judged, covered, off = screen.visible(note.window, note.screen, note.above)
            self.covered, self.off = max(self.covered, covered), max(self.off, off)
            if judged.mean() < screen.MIN_SEEN:
                self.skipped[n] = "too little of the window could be seen"
                return
            sources = {k: self.drawn_frame(folder, n - k) for k in range(BEFORE + 1)}
            sources = {k: s.pixels for k, s in sources.items() if s is not None}
            shown, seconds, steady = self.read(note.window, sources, judged, f.samples)
            earlier = {p.frame: p.sources[0] for p in self.pairs}
            self.pairs.append(screen.Pair(n, sources, shown, judged, seconds, steady, earlier, f.samples))
            if self.keep:
                from PIL import Image
                Image.fromarray(shown).save(os.path.join(self.keep, f"screen-{n}.png"), compress_level=1)
            if self.again > 0 and (not steady or screen.shown_as_drawn(sources, shown, judged, f.samples) != 0):
                self.again -= 1
                self.frames = sorted(set(self.frames) | {n + k for k in range(1, MORE + 1)})
                then = [m for m in self.frames if m > n]
        except Unreadable as e:
            self.why, then = str(e), []
        finally:
            capture.release(folder, n, then)
            self.seconds += time.monotonic() - started

    def read(self, window, sources, judged, samples=0):
        """The window's pixels on the screen once they settle (they show
        the frame held as drawn, sources[0], rather than one before it; or
        they stay the same for SETTLE): (pixels, seconds read for, whether
        they settled). `samples`: the frames' samples a pixel."""
        start = time.monotonic()
        time.sleep(FIRST)
        last, since = None, None
        while True:
            shown = screen.cut(read_root(self.display), window)
            now = time.monotonic()
            if screen.shown_as_drawn(sources, shown, judged, samples) == 0:
                return shown, now - start, True
            if last is not None and screen.agrees(last, shown, judged):
                if now - since >= SETTLE:
                    return shown, now - start, True
            else:
                last, since = shown, now
            if now - start > LIMIT:
                return shown, now - start, False
            time.sleep(GAP)
