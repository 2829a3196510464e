#!/usr/bin/env python3
"""What reaches the screen, on a real X server: the checker's screen check
must name what the screen does to frames GL drew right, and must not blame
GL for it; it must pass a screen that shows them as drawn, and skip one it
cannot read.

  screen_test.py faults
      the real demo with tests/check/interpose.c's SCREEN= changes, which
      alter only what reaches the screen (painted into the window's front
      buffer after each swap): held and read as the run holds and reads it
      (check/held.py), each must be named by its kind and parameters; and
      the frames GL drew there must pass GL's checks, so the test preload is
      honest
  screen_test.py refused AUTHORITY
      with an X authority whose cookie the X server trusts not (the X
      SECURITY extension's untrusted clients, as ssh -X makes them), the
      screen cannot be read: the checker says why and holds no frame
  screen_test.py line OUTPUT JSON JUNIT REPORT WORDS...
      a run's screen line (the run printed OUTPUT) is a FAIL naming WORDS
      and saying that GL draws right, its only failing line; its JSON, its
      JUnit XML and its report (a picture of the frame as drawn beside the
      screen as read) carry it

DEMO, CAPTURE, DATA and INTERPOSE in the environment name the demo, the
capture library, the data folder and the test preload; DISPLAY the X
server. The model's mathematics is tested apart (test_screen.py)."""
import os
import sys
import tempfile
import time

from PIL import Image

from check import export, held, screen
from check.demo import Demo, demo_failed
from check.frame import check_frame
from check.scene import PROJECT_TINT, Scene
from check.words import says

# SCREEN=..., and words the screen line must hold: each kind a presentation
# path may have, with its parameters.
FAULTS = (
    ("late:1", "the screen shows each frame a frame late"),
    ("late:4", "the screen shows each frame 4 frames late"),
    ("frozen:10", "the screen stopped changing: it shows one picture while GL draws each frame anew"),
    ("levels:0,0", "nothing reaches the screen: the window stays black while GL draws every frame"),
    ("flip", "the picture reaches the screen upside down"),
    ("turn:90", "the picture reaches the screen turned a quarter turn counter-clockwise"),
    ("move:-30,12", "the picture reaches the screen moved 30 pixels left and 12 down"),
    ("scale:1.25,1.25,1", "the picture reaches the screen scaled by 1.25, smoothed"),
    ("channels:bgr", "every colour with its red and blue exchanged on the screen"),
    ("gamma:2.2", "as encoding with a gamma of 2.2 would on the screen"),
    ("posterize:6", "every colour shown in 6 levels a channel, posterised on the screen: (0, 0, 0) shows as (21, 21, 21)"),
    ("blend:0.7", "the window is shown 70 % opaque over what lies behind it"),
)


# The frames held here: two, early in the turn (the run holds later ones,
# spread over it), and the two after the first, which disagrees.
HELD = (20, 50)


def held_run(demo, fault):
    """The demo under SCREEN=fault, held and read as the run holds and
    reads it: (its held.Screen, the photograph drawn, its folder)."""
    d = demo.folder(fault.replace(":", "-").replace(",", "-").replace(".", "-"), demo.data)
    photo = demo.photograph(d, "quadrants")
    s = held.Screen(os.environ["DISPLAY"], frames=HELD)
    frames = sorted({h + k for h in HELD for k in range(-held.BEFORE, held.MORE + 1)})
    demo.launch(d, {"SCREEN": fault}, preload=os.environ["INTERPOSE"], frames=frames, end=frames[-1],
                hold=s.start())
    while demo.process.poll() is None:
        s.poll(d)
        time.sleep(0.002)
    return s, photo, d


def faults():
    failures = 0
    with tempfile.TemporaryDirectory() as scratch:
        demo = Demo(os.environ["DEMO"], os.environ["CAPTURE"], os.environ["DATA"], scratch)
        for fault, words in FAULTS:
            started = time.monotonic()
            s, photo, d = held_run(demo, fault)
            v = screen.verdict(s.pairs) if s.pairs else None
            said = says(v.cause) if v and v.cause else f"no cause ({s.why or 'nothing held'}; the demo: " + \
                demo_failed(open(os.path.join(d, "stderr")).read(), demo.process.returncode) + ")"
            # Honest: the frames GL drew at the held frames pass GL's checks.
            wrong = [f"frame {p.frame}: {r.name}: {r.problem.says}" for p in s.pairs
                     for r in check_frame(s.drawn[p.frame], Scene(p.frame, photo, PROJECT_TINT, *p.shown.shape[1::-1]))
                     if r.problem or r.error]
            ok = words in said and not wrong and v.failing == tuple(p.frame for p in s.pairs)
            print(f"{'ok' if ok else 'FAIL'} SCREEN={fault}: {said[:150]} (frames {','.join(map(str, v.failing if v else ()))}; "
                  f"{time.monotonic() - started:.1f} s)" + (f"; GL: {wrong[0]}" if wrong else ""))
            failures += not ok
    print(f"{len(FAULTS) - failures} passed, {failures} failed")
    return 1 if failures else 0


def refused(authority):
    """The screen cannot be read with an untrusted cookie: why is said."""
    os.environ["XAUTHORITY"] = authority
    s = held.Screen(os.environ["DISPLAY"])
    frames = s.start()
    ok = frames == () and s.why and s.why.startswith("the screen could not be read")
    print(f"{'ok' if ok else 'FAIL'} refused: {s.why}")
    return 0 if ok else 1


def line(output, document, junit, report_dir, *words):
    """The screen's FAIL line: the run's only failing line, naming what the
    screen does and that GL draws right; carried by the JSON, the JUnit XML
    and the report."""
    from junitparser import JUnitXml
    with open(output) as f:
        lines = [l.rstrip("\n") for l in f]
    failing = [l for l in lines if l.startswith(("FAIL", "error"))]
    wrong = []
    if len(failing) != 1 or not failing[0].startswith("FAIL screen: ") or \
            not all(w in failing[0] for w in words + ("; drawn right by GL",)):
        wrong.append(f"the failing lines are {failing}, expected one FAIL screen line with {words}")
    checks = {(c["scenario"], c["check"]): c for c in export.read(document)["checks"]}
    c = checks.get(("screen", "what reaches the screen"), {})
    if c.get("status") != "fail" or not failing or f"FAIL screen: {c.get('words')}" != failing[0] or \
            not c.get("picture") or not os.path.isfile(os.path.join(os.path.dirname(document), c["picture"])):
        wrong.append(f"the JSON says {c}")
    cases = [t for suite in JUnitXml.fromfile(junit) for t in suite if t.classname == "screen"]
    if len(cases) != 1 or not any(r.text == failing[0] for r in cases[0].result):
        wrong.append(f"the JUnit XML holds {[(t.name, [r.text for r in t.result]) for t in cases]}")
    with open(os.path.join(report_dir, "report.html")) as f:
        page = f.read()
    pngs = [n for n in os.listdir(report_dir) if n.endswith("-screen.png")]
    first = c.get("failing", [0])[0]
    size = pngs and Image.open(os.path.join(report_dir, pngs[0])).size
    # The frame as drawn, then the screen as read, side by side, in the page too.
    if not size or size[0] <= 2 * 640 or f'alt="frame {first}: screen"' not in page:
        wrong.append(f"the report has no picture of frame {first} as drawn beside the screen as read ({pngs}, {size})")
    for w in wrong:
        print(f"FAIL {w}")
    print(f"{'FAIL' if wrong else 'ok'} {failing[0] if failing else 'no FAIL line'}")
    return 1 if wrong else 0


if __name__ == "__main__":
    mode, args = sys.argv[1], sys.argv[2:]
    sys.exit({"faults": faults, "refused": refused, "line": line}[mode](*args))
