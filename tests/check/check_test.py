#!/usr/bin/env python3
"""The frame checker must say what is wrong, not only that something is: a
good frame passes every check; the same frame altered in known ways fails,
naming the object and the fault; and so does the real demo with a fault
put in by tests/check/interpose.c, on whatever display, driver and settings
this runs under (forced multisampling, a tiling window manager, ...). And it
must never fail the correct program, never with a traceback. Its report
must show what its lines say, and its JUnit and JSON what its lines say.

  check_test.py faults KEPT   (a scratch folder kept by --keep)
      altered frames and faults put into the real demo at one frame: each
      fails on the object at fault, in its words, and no other object's
      check fails but as following from it
  check_test.py motion OUTPUT JUNIT JSON CORRECT_JSON
      the run that printed OUTPUT (and wrote JUNIT and JSON) had faults at
      some frames of the turn (FAULT=drop,no-box,skip): each fails, naming
      those frames, in its lines and in its JSON; its JUnit, read back with
      junitparser, has a test case a line and a failure a FAIL line; and
      check.compare of the correct run's JSON against it names every FAIL
      line as a regression (status 1), and of the correct run against
      itself nothing (status 0)
  check_test.py whole FAULT OUTPUT [SECONDS CORRECT_SECONDS]
      the run that printed OUTPUT had a fault of the whole frame (FAULT:
      black, lag or no-clear; or PICTURE=mirror or late:2, the picture
      changed after it was drawn): one line names it with its frames, every
      other failing line follows from it, and GL's strings are printed; the
      run's time is said beside a correct run's
  check_test.py report DIR OUTPUT [--browser]
      the report in DIR of a run that printed OUTPUT names every check, has
      a picture of each, marks nothing where the run passed and, for the
      faults the run was given (FAULT=other-spin,box-edge), marks pixels
      where its FAIL lines say; with --browser, Chromium shows its pictures

DEMO, CAPTURE, DATA and INTERPOSE in the environment name the demo, the
capture library, the data folder and the interposing library; the checker
is the package check (PYTHONPATH holds the project's root). The checker's
mathematics is tested apart, without X (test_*.py here)."""
import base64
import html
import io
import os
import re
import subprocess
import sys
import tempfile

import numpy as np
from PIL import Image

from check import export, report
from check.demo import Demo, demo_failed
from check.capture import Frame
from check.frame import check_frame
from check.look import Look
from check.misreadings import OUTLINES
from check.photographs import PHOTOGRAPHS
from check.scene import PROJECT_TINT, Scene


def flipped(frame, look):
    frame.pixels[:] = frame.pixels[::-1].copy()


def shifted(frame, look):  # 2 pixels to the right
    frame.pixels[:, 2:] = frame.pixels[:, :-2].copy()
    frame.pixels[:, :2] = 0


def edge_painted_black(frame, look):  # the box's front left edge
    s = look.scene
    _, a, b = s.box()[3]
    t = np.linspace(0, 1, 2000)
    x, y, _ = s.window(s.BOX, np.outer(1 - t, a) + np.outer(t, b)).T
    rows, cols = (s.h - y).astype(int), x.astype(int)
    inside = (rows >= 0) & (rows < s.h)
    for dx in (-2, -1, 0, 1, 2):
        frame.pixels[rows[inside], np.clip(cols[inside] + dx, 0, s.w - 1)] = 0


def each_pixel_of(name, change):
    def alter(frame, look):
        where = look.front == look.code(name)
        frame.pixels[where] = change(frame.pixels[where])
    return alter


def forty_levels_off(c):  # each channel 40 levels away, up where there is room
    return np.where(c <= 215, c + 40, c - 40)


rng = np.random.default_rng(1)
ALTERED = (
    ("flipped", flipped, "scene: the whole frame", "the whole picture upside down"),
    ("shifted 2 px", shifted, "scene: the whole frame", "the whole picture moved 2 pixels right"),
    ("a box edge painted black", edge_painted_black, "wire box: 12 edges", "front left edge missing"),
    ("two gradient corners swapped", each_pixel_of("gradient quad", lambda c: c[:, [1, 0, 2]]),
     "gradient quad: corner colours", "red and green swapped"),
    ("noise in place of the photograph", each_pixel_of("image quad", lambda c: rng.integers(0, 256, c.shape)),
     "image quad: the photograph right way up", "off"),
    ("the tiled quad 40 levels off", each_pixel_of("tiled quad", forty_levels_off),
     "tiled quad: the photograph 2 x 2, right way up", "off"),
)

TILED, GRADIENT, IMAGE, BOX, ANGLE = "tiled quad", "gradient quad", "image quad", "wire box", "scene: frame N"
WHOLE = "scene: the whole frame"
# FAULT, the test photograph, the frame, the check that must fail, words
# that it must say, the objects whose checks may fail (the rest pass or
# follow from them), and words that no line may say (a misreading that does
# not explain the frame).
FAULTS = (
    ("other-spin", "quadrants", 30, "tiled quad: place, shape and spin", "turns counter-clockwise", (TILED,), ()),
    ("degree-late", "quadrants", 30, "scene: frame N drawn at N degrees, the first at 1", "drawn at 29 degrees",
     (ANGLE,), ()),
    ("vertical-axis", "quadrants", 30, "gradient quad: place and tumble", "turns about the vertical axis",
     (GRADIENT,), ()),
    ("box-edge", "quadrants", 30, "wire box: 12 edges", "front left edge missing", (BOX,), ()),
    ("grey-as-rgb", "grayscale", 90, "image quad: the photograph right way up", "off", (IMAGE, TILED), ()),
    ("inverted", "Adobe CMYK", 90, "image quad: the photograph right way up", "colours inverted", (IMAGE, TILED), ()),
    ("whole-units", "odd size", 90, "image quad: pixel rectangle", "not centred", (IMAGE,), ()),
    ("clamp", "quadrants", 30, "tiled quad: the photograph 2 x 2, right way up", "off", (TILED,), ()),
    ("lose-cells", "quadrants", 30, "image quad: the photograph right way up", "cells off", (IMAGE, TILED), ()),
    ("wide-lines", "quadrants", 30, "wire box: 12 edges", "pixels wide across", (BOX,), ()),
    ("tiled-larger", "quadrants", 30, "tiled quad: place, shape and spin", "drawn outside its outline", (TILED,),
     ("degree",)),
    ("tilted-axis", "quadrants", 30, "gradient quad: place and tumble", "pixels", (GRADIENT,), ("degree",)),
    ("box-turned", "quadrants", 30, "wire box: 12 edges", "edge missing", (BOX,), ()),
    # Two objects wrong at once, or an object's colours changed: the depth
    # test reads which quad is in front from their colours, and follows.
    ("tint", "quadrants", 30, "tiled quad: the photograph 2 x 2, right way up", "off", (TILED,), ()),
    ("other-spin,white-corner", "quadrants", 30, "tiled quad: place, shape and spin", "turns counter-clockwise",
     (TILED, GRADIENT), ()),
    ("towards-z", "quadrants", 20, "gradient quad: place and tumble", "pixels", (GRADIENT,), ("degree", "green")),
    # Faults of the whole frame, named once as a user sees them; at one
    # frame a degree back cannot be told from the frame before showing
    # through around a right one, and the line says both (the run tells them
    # apart: check_test.py whole).
    ("black", "quadrants", 30, WHOLE, "nothing drawn: the frame shows only the clear colour", (WHOLE,), ()),
    ("lag", "quadrants", 1, WHOLE, "nothing drawn", (WHOLE,), ()),
    ("lag", "quadrants", 30, "scene: frame N drawn at N degrees, the first at 1",
     "drawn at 29 degrees, expected 30, or drawn at 30 with the frame before showing through", (ANGLE,), ()),
    ("no-clear", "quadrants", 80, WHOLE, "the frame before shows through", (WHOLE,), ()),
    ("gamma", "quadrants", 30, WHOLE, "brighter, as encoding with a gamma of 2.2 would", (WHOLE,), ()),
    ("gamma", "quadrants", 90, WHOLE, "brighter, as encoding with a gamma of 2.2 would", (WHOLE,), ()),
    ("no-colour", "quadrants", 30, WHOLE, "every object drawn in (255, 255, 255)", (WHOLE,), ()),
    # The whole picture changed after it was drawn (PICTURE=, a kind of each
    # family with its parameters): named by the change, with them.
    ("PICTURE=mirror", "quadrants", 30, WHOLE, "the whole picture mirrored left to right", (WHOLE,), ()),
    ("PICTURE=turn:90", "quadrants", 40, WHOLE, "turned a quarter turn counter-clockwise", (WHOLE,), ()),
    ("PICTURE=move:-20,12", "quadrants", 30, WHOLE, "moved 20 pixels left and 12 down", (WHOLE,), ()),
    ("PICTURE=scale:0.8", "quadrants", 30, WHOLE, "scaled by 0.8", (WHOLE,), ()),
    ("PICTURE=resolution:2", "quadrants", 30, WHOLE, "shown at half the window's resolution (", (WHOLE,), ()),
    ("PICTURE=resolution:3,1", "quadrants", 30, WHOLE, "shown at a third of the window's resolution (", (WHOLE,), ()),
    ("PICTURE=channels:bgr", "quadrants", 30, WHOLE, "red and blue exchanged", (WHOLE,), ()),
    ("PICTURE=grey", "quadrants", 30, WHOLE, "every colour shown in grey", (WHOLE,), ()),
    ("PICTURE=levels:40,200", "quadrants", 30, WHOLE, "(0, 0, 255) shows as (40, 40, 200)", (WHOLE,), ()),
    ("PICTURE=background:0,0,120", "quadrants", 30, WHOLE, "the background shows (0, 0, 120)", (WHOLE,), ()),
    ("PICTURE=corner:2", "quadrants", 30, WHOLE, "every quad drawn as one triangle, without its corner 3", (WHOLE,),
     ()),
    # A placement and a map of the colours at once: one cause.
    ("PICTURE=mirror;channels:bgr", "quadrants", 30, WHOLE,
     "mirrored left to right in the window, and every colour with its red and blue exchanged", (WHOLE,), ()),
    ("PICTURE=late:3", "quadrants", 50, "scene: frame N drawn at N degrees, the first at 1", "drawn at 47 degrees",
     (ANGLE,), ()),
)


def verdict(name, problem, words):
    if not problem or words not in problem:
        print(f"FAIL {name}: gave {problem!r}, expected a fault with {words!r}")
        return 1
    print(f"ok {name}: {problem}")
    return 0


def problems(frame, scene):
    """{check: what is wrong or why it could not judge} of the checks that
    fail on their own, and {check: the check it follows from} of the rest."""
    results = check_frame(frame, scene)
    return ({r.name: r.problem.says if r.problem else f"error: {r.error}"
             for r in results if (r.problem and not r.follows) or r.error},
            {r.name: r.follows for r in results if r.follows})


def blamed(name, found, objects, unsaid):
    """Only the objects at fault fail on their own, and no line says a
    misreading that does not explain the frame."""
    wrong = [f"{check}: {says}" for check, says in found.items() if not check.startswith(objects)]
    wrong += [f"{check}: {says}" for check, says in found.items() for w in unsaid if w in says]
    for w in wrong:
        print(f"FAIL {name}: another object blamed, or an untrue line: {w}")
    return 1 if wrong else 0


def faults(kept):
    path = os.path.join(kept, "project", "frames", "frame-30.ppm")
    good = Frame(path)
    scene = Scene(30, PHOTOGRAPHS["quadrants"][0], PROJECT_TINT, good.w, good.h)
    failures = 0
    wrong, _ = problems(good, scene)
    if wrong:
        print(f"FAIL the unaltered frame: {wrong}")
        failures += 1
    look = Look(good, scene)
    for name, alter, check, words in ALTERED:
        frame = Frame(path)
        alter(frame, look)
        failures += verdict(f"{name}: {check}", problems(frame, scene)[0].get(check), words)

    total = 1 + len(ALTERED) + len(FAULTS)
    with tempfile.TemporaryDirectory() as scratch:
        run = Demo(os.environ["DEMO"], os.environ["CAPTURE"], os.environ["DATA"], scratch)
        for fault, kind, n, check, words, objects, unsaid in FAULTS:
            d = run.folder(f"{fault}-{n}", run.data)
            photo = run.photograph(d, kind)
            env = dict([fault.split("=", 1)]) if "=" in fault else {"FAULT": fault}
            status, output, _, _ = run.start(d, env, preload=os.environ["INTERPOSE"], frames=[n], end=n)
            shots = run.frames(d, [f"frame-{n}.ppm"])
            if status != 0 or not shots:
                print(f"FAIL {fault}: the demo did not run: {demo_failed(output, status)}")
                failures += 1
                continue
            f = shots[f"frame-{n}.ppm"]
            if f.unsettled():  # a window manager resized the window under it: no evidence
                print(f"skip FAULT={fault} at frame {n}: {f.unsettled()}")
                total -= 1
                continue
            found, _ = problems(f, Scene(n, photo, PROJECT_TINT, f.w, f.h))
            failures += verdict(f"FAULT={fault}: {check}", found.get(check), words)
            failures += blamed(f"FAULT={fault}", found, objects, unsaid)
    print(f"{total - failures} passed, {failures} failed")
    return 1 if failures else 0


# What a run with FAULT=drop,no-box,skip must say of each set's turn: the
# check, then words of its line: the frames, and what is wrong at the first;
# and the frames its JSON names (the angle cannot be told at every frame
# from 301 on: a quad seen face on looks alike a degree off).
MOTION = (
    ("gradient quad: place and tumble", "frames 170-179: ", "drawn outside its outline", range(170, 180)),
    ("wire box: 12 edges", "frames 250-254: ", "edge missing", range(250, 255)),
    ("scene: frame N drawn at N degrees, the first at 1", "frames 301-3", "drawn at 302 degrees, expected 301",
     range(301, 361)),
    ("scene: clear colour", "frames 170-179: ", "follows from the gradient quad's outline", range(170, 180)),
)


def motion(output, junit, document, correct):
    """Faults at some frames only fail at those frames, named as ranges."""
    with open(output) as f:
        lines = [l.rstrip("\n") for l in f]
    checks = {(c["scenario"], c["check"]): c for c in export.read(document)["checks"]}
    failures = 0
    for label in ("project shaders", "plain shaders"):
        for check, frames, words, numbers in MOTION:
            line = next((l for l in lines if l.startswith(f"FAIL {check} ({label}): ")), "")
            said = line.split("): ", 1)[-1]
            failing = checks.get((label, check), {}).get("failing", [])
            whole = frames.endswith(": ")
            if not (said.startswith(frames) and words in said):
                print(f"FAIL {check} ({label}): said {line!r}, expected {frames!r}... {words!r}")
                failures += 1
            elif not failing or failing[0] != numbers[0] or not set(failing) <= set(numbers) or (
                    whole and failing != list(numbers)):
                print(f"FAIL {check} ({label}): the JSON names frames {failing}, expected {numbers}")
                failures += 1
            else:
                print(f"ok {check} ({label}): {said[:120]}")
        # Only the objects at fault fail on their own: the gradient quad, the
        # box and the frame's angle.
        others = [l for l in lines if l.startswith("FAIL ") and f" ({label}): " in l and "follows from" not in l
                  and not l.startswith(("FAIL gradient quad", "FAIL wire box", "FAIL scene: frame N"))]
        for l in others:
            print(f"FAIL another check blamed: {l}")
            failures += 1
    failures += read_back(lines, junit) + compared(correct, document, lines)
    print(f"{'FAIL' if failures else 'ok'} motion: {failures} failed")
    return 1 if failures else 0


# What a run with a fault of the whole frame must say: FAULT, then a line
# that must be there (its start), and words it must hold. No other line
# fails on its own.
WHOLE_RUNS = {
    "black": ("FAIL scene: the whole frame (project shaders): frames 1-360: ",
              "nothing drawn: the frame shows only the clear colour"),
    "lag": ("FAIL scene: frame N drawn at N degrees, the first at 1 (project shaders): frames 2",
            "each frame shows the frame before: frame N drawn at N − 1 degrees, frame 1 nothing"),
    "no-clear": ("FAIL scene: the whole frame (project shaders): frames 20, 30, ",
                 "the frame before shows through where nothing is drawn over it: the colour clear was skipped"),
    "PICTURE=mirror": ("FAIL scene: the whole frame (project shaders): frames 1-360: ",
                       "the whole picture mirrored left to right in the window"),
    "PICTURE=late:2": ("FAIL scene: frame N drawn at N degrees, the first at 1 (project shaders): frames 3",
                       "each frame shows the frame 2 before: frame N drawn at N − 2 degrees, frames 1-2 nothing"),
}


def whole(fault, output, seconds=None, correct=None):
    """A run with a fault of the whole frame names it once, with its frames,
    every other failing line following from it, and prints GL's strings;
    its time (seconds) is said beside a correct run's (the figure that
    holds it is scripts/bench's)."""
    with open(output) as f:
        lines = [l.rstrip("\n") for l in f]
    start, words = WHOLE_RUNS[fault]
    failures = []
    named = [l for l in lines if l.startswith(start)]
    if len(named) != 1 or words not in named[0]:
        failures.append(f"no line {start}...{words}: {named}")
    own = [l for l in lines if l.startswith(("FAIL", "error")) and "follows from" not in l and l not in named]
    failures += [f"fails on its own: {l}" for l in own]
    if any(l.startswith("renderer: unknown") for l in lines) or not any(l.startswith("renderer: ") for l in lines):
        failures.append("GL's strings not printed")
    for f in failures:
        print(f"FAIL {fault}: {f[:300]}")
    print(f"{'FAIL' if failures else 'ok'} FAULT={fault}: {named[0][:160] if named else ''}"
          + (f" ({float(seconds):.1f} s, a correct run {float(correct):.1f} s)" if seconds else ""))
    return 1 if failures else 0


def read_back(lines, junit):
    """The JUnit XML, read with junitparser: a test case a line, each
    (class, name) once; a failure a FAIL line, whose text is the line; a
    skipped a skip line; the picture of each failing line that follows from
    no other attached, beside the report."""
    from junitparser import Error, Failure, JUnitXml, Skipped
    cases = [c for suite in JUnitXml.fromfile(junit) for c in suite]
    verdicts = [l for l in lines if VERDICT.match(l)]
    found = {kind: sorted(r.text.split("\nfollows from: ")[0] for c in cases for r in c.result if isinstance(r, kind))
             for kind in (Failure, Skipped, Error)}
    wrong = []
    if len(cases) != len(verdicts) or len({(c.classname, c.name) for c in cases}) != len(cases):
        wrong.append(f"{len(cases)} test cases, {len({(c.classname, c.name) for c in cases})} names, "
                     f"for {len(verdicts)} lines")
    for kind, word in ((Failure, "FAIL"), (Skipped, "skip"), (Error, "error")):
        if found[kind] != sorted(l for l in verdicts if l.startswith(word + " ")):
            wrong.append(f"the {kind.__name__} elements say {found[kind]}")
    attached = [c for c in cases if c.system_out and c.system_out.startswith("[[ATTACHMENT|")]
    own = [l for l in verdicts if l.startswith("FAIL ") and "follows from" not in l]
    missing = [c.system_out for c in attached
               if not os.path.isfile(os.path.join(os.path.dirname(junit), c.system_out[13:-2]))]
    if len(attached) != len(own) or missing:
        wrong.append(f"{len(attached)} pictures attached for {len(own)} failing lines, {missing} not there")
    for w in wrong:
        print(f"FAIL junit: {w}")
    print(f"{'FAIL' if wrong else 'ok'} junit: {len(cases)} test cases, {len(found[Failure])} failures")
    return len(wrong)


def compared(correct, faulty, lines):
    """check.compare: the correct run against the faulty one names each FAIL
    line as a regression, and only those (status 1); against itself,
    nothing (status 0)."""
    def run(a, b):
        out = subprocess.run([sys.executable, "-m", "check.compare", a, b], capture_output=True, text=True,
                             timeout=60)
        return out.returncode, out.stdout.splitlines()
    wrong = []
    status, said = run(correct, faulty)
    names = lambda prefix, ls: sorted(l[len(prefix):].split(": ok, now ", 1)[0] for l in ls if l.startswith(prefix))
    # A FAIL line's name ends before ": frames" or ": frame" (turns, and the
    # scenarios of one frame), or is the whole line.
    failed = sorted(re.sub(r": frames? \d.*$", "", l[5:]) for l in lines if l.startswith("FAIL "))
    if status != 1 or names("regression ", said) != failed:
        wrong.append(f"correct against faulty: status {status}, said {said}, expected a regression for {failed}")
    status, said = run(correct, correct)
    if status != 0 or said != ["0 regressions, 0 fixed, 0 at other frames, 0 changed, 0 new, 0 gone"]:
        wrong.append(f"a run against itself: status {status}, said {said}")
    for w in wrong:
        print(f"FAIL compare: {w}")
    print(f"{'FAIL' if wrong else 'ok'} compare: {len(failed)} regressions named")
    return len(wrong)


VERDICT = re.compile(r"^(ok|FAIL|skip|error) (.*)$")


def marks(image):
    """Where a picture marks pixels that disagree: (rows, columns)."""
    return np.nonzero((np.asarray(image.convert("RGB")) == report.MARK).all(axis=2))


def pictures(page):
    """The pictures embedded in a report page, in order."""
    return [Image.open(io.BytesIO(base64.b64decode(d))) for d in re.findall(r'src="data:image/png;base64,([^"]+)"', page)]


def report_test(folder, output, *browser):
    failures = []
    with open(output) as f:
        lines = [l.rstrip("\n") for l in f if VERDICT.match(l)]
    with open(output) as f:
        named = [l.split(": ", 1)[1].strip() for l in f if l.startswith("report: ")]
    page_path = os.path.join(folder, "report.html")
    if named != [page_path] or not os.path.exists(page_path):
        return print(f"FAIL report: the run named {named}, expected {page_path}") or 1
    with open(page_path) as f:
        page = f.read()
    failures += [f"the report does not name: {l}" for l in lines if html.escape(l) not in page]
    if len(pictures(page)) < sum(not l.startswith("skip") for l in lines):
        failures.append(f"{len(pictures(page))} pictures for {len(lines)} lines")
    pngs = sorted(n for n in os.listdir(folder) if n.endswith(".png"))
    failing = [(i, l) for i, l in enumerate(lines, 1) if l.startswith("FAIL ") and "follows from" not in l]
    if [n[:2] for n in pngs] != [f"{i:02d}" for i, _ in failing]:
        failures.append(f"PNGs {pngs} for the FAIL lines {[i for i, _ in failing]}")
    if not failing:
        marked = sum(len(marks(p)[0]) for p in pictures(page))
        if marked:
            failures.append(f"a correct run's report marks {marked} pixels")
    for (i, line), name in zip(failing, pngs):
        failures += where_said(line, Image.open(os.path.join(folder, name)))
    if browser:
        failures += shown_in_browser(page_path)
        if failing and f'href="#check-{failing[0][0]}"' not in page:
            failures.append("the summary does not link to the first failing check")
    for f in failures:
        print(f"FAIL report: {f}")
    print(f"{'FAIL' if failures else 'ok'} report: {len(lines)} checks, {len(failing)} failing pictures")
    return 1 if failures else 0


def where_said(line, image):
    """The marks of a failing check's picture lie where its line says: along
    a box edge it names, or around the quad whose turn it names (in the
    640 x 480 frames: all but the one after the resize)."""
    if image.width <= 640:
        return [f"no zoom beside the frame: {line}"]
    if "after a resize" in line:
        return []
    rows, cols = marks(image.crop((0, 0, 640, 480)))  # the frame, at its size, top left
    ends = re.search(r"from \((\d+), (\d+)\) to \((\d+), (\d+)\)", line)
    if ends and "edge missing" in line:
        (x0, y0, x1, y1) = (int(v) for v in ends.groups())
        far = (abs(cols - (x0 + x1) / 2) > abs(x1 - x0) / 2 + 4) | (abs(rows - (y0 + y1) / 2) > abs(y1 - y0) / 2 + 4)
        if len(rows) == 0 or far.any():
            return [f"{len(rows)} marks, {far.sum()} away from the edge: {line}"]
    counter = OUTLINES["tiled quad"][2].says
    if counter in line:
        n = int(re.search(r"frames? (\d+)", line).group(1))
        scene = Scene(n, PHOTOGRAPHS["quadrants"][0], PROJECT_TINT)
        spun = OUTLINES["tiled quad"][2].scene(scene)
        corners = np.concatenate([s.corners(s.quads["tiled quad"]) for s in (scene, spun)])
        x0, x1, y0, y1 = corners[:, 0].min(), corners[:, 0].max(), 480 - corners[:, 1].max(), 480 - corners[:, 1].min()
        far = (cols < x0 - 3) | (cols > x1 + 3) | (rows < y0 - 3) | (rows > y1 + 3)
        if len(rows) == 0 or far.any():
            return [f"{len(rows)} marks, {far.sum()} away from the tiled quad: {line}"]
    return []


def shown_in_browser(page_path):
    """Chromium, headless, shows the page with its pictures: the frames' black
    and the box's green fill a good part of a screenshot of its first 6000
    pixels (the summary and the strips come first)."""
    with tempfile.TemporaryDirectory() as scratch:
        shot = os.path.join(scratch, "shot.png")
        subprocess.run(["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                        "--hide-scrollbars", "--no-first-run", "--disable-background-networking",
                        "--disable-component-update", "--disable-sync", "--disable-quic",
                        f"--user-data-dir={scratch}/profile", "--window-size=1100,6000", f"--screenshot={shot}",
                        "file://" + page_path], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        if not os.path.exists(shot):
            return ["Chromium took no screenshot"]
        pixels = np.asarray(Image.open(shot).convert("RGB")).astype(int)
    black = (pixels.max(axis=2) < 16).mean()
    green = ((pixels[..., 1] > 150) & (pixels[..., 0] < 100) & (pixels[..., 2] < 100)).sum()
    if black < 0.15 or green < 100:
        return [f"the browser shows no pictures: {black:.0%} of the screenshot black, {green} green pixels"]
    return []


if __name__ == "__main__":
    mode, args = sys.argv[1], sys.argv[2:]
    sys.exit({"faults": faults, "motion": motion, "whole": whole,
              "report": lambda d, out, *b: report_test(d, out, *b)}[mode](*args))
