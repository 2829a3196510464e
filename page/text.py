"""The page's words, in the pipeline's order, from the figures that make.py
works out (a dict, `f` throughout). What this renderer drew, what GL read
back and what the checker said of it lies between the DRAWN lines: where
another renderer makes the page, everything else must be the same."""
import os
import re

import numpy as np

from check.results import Status
from check.scene import CAMERA, PROJECT_TINT, PROJECTION

from .figures import (ASPECT, EYE_Z, FAR, FOVY, LOOK_AT, NEAR, PERSPECTIVE, SUN_LEAST, depth_at, depth_grain,
                      depth_step, tolerance_reach)
from .files import TITLE
from .pictures import CLEARED_WORD, DEPTH_SHOWN, HIDDEN_BY, HIDDEN_WORDS, MODEL, OTHER, PIXEL, TOLERANCE, WORDS

DRAWN, END_DRAWN = "<!-- drawn: what this renderer drew and the checker said -->", "<!-- end drawn -->"
COMMAND = "scripts/page"
# The window's shape, as the demo's viewport has it.
WINDOW = (640, 480)
# A depth buffer's size as most renderers give it, for what a step is worth.
COMMON_BITS = 24
SECTIONS = ("The finished frame", "The vertex program applies the matrices", "Clipping, in clip space",
            "The division by w", "The viewport", "Two triangles a quad, and what is interpolated across them",
            "The fragment program", "The texture: from the file to GL's levels",
            "The sampler: which level, which texels", "The depth test", "The wire box: the fixed pipeline")


def num(v, places=2):
    """A number as the page shows it; never "-0.00"."""
    text = f"{v:.{places}f}"
    return text[1:] if re.fullmatch(r"-0\.0*", text) else text


def vec(values, places=2):
    return "(" + ", ".join(num(v, places) for v in values) + ")"


def whole(n):
    """An integer with thousands set apart: 16,777,215."""
    return f"{n:,}"


def span(values, places=2):
    """Numbers as their least and largest, or one where they agree as shown."""
    lo, hi = num(min(values), places), num(max(values), places)
    return lo if lo == hi else f"{lo} to {hi}"


def rgb(c):
    return "(" + ", ".join(str(int(v)) for v in c) + ")"


def heading(n):
    return f"## {n}. {SECTIONS[n - 1]}"


def anchor(n):
    """The anchor the heading of section n gets."""
    return re.sub(r"[^a-z0-9 -]", "", f"{n}. {SECTIONS[n - 1]}".lower()).replace(" ", "-")


def link(n):
    """A link to section n, for a sentence."""
    return f"[section {n}](#{anchor(n)})"


def drawn(*lines):
    return [DRAWN, *lines, END_DRAWN]


def matrix_block(named, places=4):
    """Matrices side by side in a code block: [(title, 4 x 4)]."""
    cells = [[num(v, places) for v in m.ravel()] for _, m in named]
    width = max(len(c) for m in cells for c in m)
    columns = [[title] + ["  ".join(c.rjust(width) for c in m[r * 4:r * 4 + 4]) for r in range(4)]
               for (title, _), m in zip(named, cells)]
    span = [max(len(line) for line in col) for col in columns]
    lines = ["    ".join(col[i].ljust(n) for col, n in zip(columns, span)).rstrip() for i in range(5)]
    return ["```", *lines, "```"]


def corner_table(cs):
    rows = ["| corner | object (x, y, z) | eye (x, y, z) | clip (x, y, z, w) | NDC (x, y, z) | window (x, y) | depth |",
            "|---|---|---|---|---|---|---|"]
    for c in cs:
        rows.append(f"| {c.label} | {vec(c.point)} | {vec(c.eye[:3])} | {vec(c.clip)} | {vec(c.ndc[:2])[:-1]}, "
                    f"{num(c.ndc[2], 4)}) | {vec(c.window[:2])} | {num(c.window[2], 5)} |")
    return rows


def shader_block(path):
    with open(path) as f:
        return ["```glsl", *f.read().rstrip("\n").splitlines(), "```"]


def bare(text):
    """GLSL without its comments and blank lines."""
    return [line.strip() for line in re.sub(r"//[^\n]*", "", text).splitlines() if line.strip()]


def checker_block(lines):
    """The checker's lines of a changed demo: those that do not pass, and how
    many pass."""
    failing = [v for v in lines if v.status is not Status.OK]
    if not failing:
        return ["Every check passes:", "", "```", *[v.text() for v in lines], "```"]
    return ["The checker's lines that do not pass:", "", "```", *[v.text() for v in failing], "```", "",
            f"The other {len(lines) - len(failing)} checks pass."]


def try_it(f, key, title, what, seen=()):
    """A "Try it": the change as a diff, what it does, and, as drawn, the
    frame before and after, the checker's lines and what else this run
    showed (`seen`: lines)."""
    t = f["tries"][key]
    c = t.change
    how = (f"`interpose.c`'s `{next(iter(c.env))}={next(iter(c.env.values()))}` puts it into the real demo"
           if c.env else f"the command runs the demo with a changed copy of `{os.path.basename(c.file)}`")
    return [f"### Try it: {title}", "", f"In `{c.file}` ({how}):", "", "```diff", f"- {c.before}", f"+ {c.after}",
            "```", "", what, "",
            *drawn(f"![Try it: {title}](picture/try-{key}.png)", "", *checker_block(t.lines),
                   *[line for text in seen for line in ("", text)]), ""]


# ------------------------------------------------------------- the page


def page(f):
    """The page's lines."""
    out = intro(f)
    for section in (finished, vertex, clipping, division, viewport, triangles, fragment, texture, sampler, depth,
                    fixed):
        out += section(f)
    return out


def intro(f):
    notes = f["notes"]
    out = [TITLE, "",
           f"Made by `{COMMAND}`, which installs and builds what it needs and remakes this page and its pictures "
           "from a fresh clone; run again, it changes no byte. Every number below comes from the checker's model "
           "of the scene (`check/scene.py`), and every picture from the real demo at frame 30, drawn with Mesa's "
           "software GL on an Xvfb of the command's own and captured as drawn. What GL itself drew, read back or "
           "counted, and what the checker said of it, is marked as drawn; there another renderer may differ.",
           "", *drawn(f"Drawn by {notes.renderer}, {notes.vendor}, OpenGL {notes.version}, on an Xvfb of the "
                      "command's own."), "",
           "The demo draws frame N at N degrees: at frame 30 the tiled quad has turned 30 degrees about the "
           "vertical axis and the gradient quad 30 degrees about the horizontal one. This page follows that "
           "frame through GL 2.0's pipeline, in the pipeline's order:", "",
           "```",
           "     glVertex3d, glColor3f, glVertexAttrib2fv   a corner: its position, a colour, (s, t)",
           "      |",
           "  2  the vertex program       the corner times the modelview and the projection: clip coordinates",
           "  3  clipping                 -w <= x, y, z <= w, before any division",
           "  4  the division by w        normalised device coordinates, -1 to 1",
           "  5  the viewport             window x and y in pixels, and a depth from 0 to 1",
           "  6  two triangles a quad     a fragment at each pixel centre inside, its varyings interpolated",
           "  7  the fragment program     the fragment's colour, with a texel from the sampler (9)",
           "      |                         of the texture uploaded at start-up (8)",
           " 10  the depth test           kept where nearer than what the pixel holds, else dropped",
           "      |",
           "  1  the frame                what the window shows",
           "",
           " 11  the wire box takes the same road with no program: GL's fixed pipeline",
           "```", "",
           *[f"{n}. [{title}](#{anchor(n)})" for n, title in enumerate(SECTIONS, 1)], "",
           "Most steps have a change to try, a line of the demo or of a shader, shown as the demo draws frame "
           "30 before and after it, with the checker's lines about it. Each is made real without "
           "rebuilding the demo: a line of `src/demo.cpp` by the preload library `tests/check/interpose.c` "
           "under the real demo (its `FAULT=` and `TRY=` settings), a shader by a changed copy. The pictures "
           "show the demo's own photograph; the checker's lines are its judgement of frame 30 of the same change "
           "(`check_frame`), printed as `scripts/check` prints them, with the test photograph of flat cells that "
           "`scripts/check` shows the demo (a white frame around red, green, blue and white quadrants), since "
           "it judges a photograph's colours only where it knows them. Over a whole turn the same lines name "
           "every frame that fails.", "",
           *drawn("Unchanged, every check passes:", "", "```", *[v.text() for v in f["unchanged"]], "```"), ""]
    return out


def finished(f):
    return [heading(1), "",
            "Frame 30 as the demo drew it, every pixel as GL left it in the back buffer before the swap:", "",
            *drawn("![Frame 30](picture/frame-30.png)"), "",
            "The rest of this page is how GL got there.", ""]


def vertex(f):
    objs, cs = f["objects"], f["corners"]
    w, h = f["photo size"]
    focal, across = f["projection"]
    four_thirds = WINDOW[0] / WINDOW[1]
    wider = four_thirds / ASPECT
    t1 = cs["tiled quad"][0]
    out = [heading(2), "",
           f"`main()` sets the projection once: `{PERSPECTIVE}`. Its {FOVY} is the field of view from the bottom "
           f"of the window to the top, all of it: {num(FOVY / 2, 1)} degrees above the view axis and "
           f"{num(FOVY / 2, 1)} below. Its {ASPECT} is the aspect, width over height, close to the window's "
           f"{WINDOW[0]} / {WINDOW[1]} = {num(four_thirds, 4)}; and {NEAR} and {FAR} are the distances of the near "
           f"and the far plane in front of the eye. `display_CB()` starts each frame from `{LOOK_AT}`: the eye "
           f"at z = {EYE_Z} looking at the origin, y up. Matrices here have four decimals; GL applies them to a "
           "column (x, y, z, 1) on their right.", ""]
    out += matrix_block([("projection", PROJECTION), ("camera", CAMERA)])
    out += ["", f"The projection's {num(focal, 4)} is 1 / tan({num(FOVY / 2, 1)} degrees): a point 1 unit above "
            f"the view axis at a distance of {num(focal, 4)} lands on the top edge of the window. Across, it is "
            f"divided by the aspect as well, {num(across, 4)}; with {WINDOW[0]} / {WINDOW[1]} it would be "
            f"{num(focal / four_thirds, 4)}, so the picture is {num((wider - 1) * 100, 3)} % wider than the "
            f"window's shape asks, {num((wider - 1) * WINDOW[0] / 2, 2)} pixels at its sides. Its last row copies "
            "the eye's -z into w; its third row maps the distances from the near plane to the far onto z from "
            f"-w to w. The camera only shifts everything {EYE_Z} units along -z, so that the origin lies "
            f"{EYE_Z} units in front of the eye.", "",
            "Each object starts from the camera (`glPushMatrix`), and each call multiplies the matrix on the "
            "right, so the last call is the first to act on a vertex. At frame 30, `angle` is 30:", ""]
    for o in objs:
        size = f", with w × h = {w} × {h}, the photograph's size" if o.name == "image quad" else ""
        out += [f"**{o.name.capitalize()}**: " + ", then ".join(f"`{c}`" for c, _ in o.calls[1:]) + size + ".", ""]
        out += matrix_block([(c.split("(")[0], m) for c, m in o.calls[1:]] + [("modelview", o.modelview)])
        out.append("")
    quads = sum(n for n, o in zip(f["vertices"], objs) if o.name != "wire box")
    out += ["The vertex program is what applies them. Both of the demo's programs end on the same line, "
            "`gl_Position = gl_ModelViewProjectionMatrix * gl_Vertex`: GL hands the program the projection "
            "times the modelview as one matrix, and the position given by `glVertex3d`, and what the program "
            "writes to `gl_Position` is the corner in clip coordinates. It runs once a corner, each time "
            f"`glVertex3d` is called: {quads} times a frame, 4 for each quad (the box is drawn with no program, "
            f"{link(11)}). The tiled quad's first corner, T1, at {vec(t1.point)} in its own coordinates, goes "
            f"to {vec(t1.eye[:3])} in eye coordinates (the eye at the origin, looking down -z) and to "
            f"{vec(t1.clip)} in clip coordinates; {link(5)} has every corner.", "",
            "The flat program's vertex shader, `vertex1.glsl`, draws the gradient quad. It also hands the "
            "corner's colour on, to be interpolated (`colour = gl_Color`, the colour of `glColor3f`):", ""]
    out += shader_block(os.path.join(f["data"], "vertex1.glsl"))
    out += ["", "The texture program's vertex shader, `vertex2.glsl`, draws the tiled and the image quad, and "
            "hands on the texture coordinate too: the attribute `vertex_texture_coordinate`, which the demo "
            "looks up by name and gives with `glVertexAttrib2fv` before each `glVertex3d`:", ""]
    out += shader_block(os.path.join(f["data"], "vertex2.glsl"))
    out += ["", "A test (`page.gl`) reads the demo's own matrices back from GL at frame 30, at each `glBegin`, "
            "and holds these against them.", "",
            *drawn(f"At this run GL's matrices and these differ by at most {f['agree'][0]:.1e}, and `gluProject` "
                   f"of GL's own matrices puts every corner within {f['agree'][1]:.1e} pixels of the tables of "
                   f"{link(5)}."), ""]
    out += try_it(f, "spin", "a sign in a rotation",
                  "What it does: the tiled quad's modelview turns it +30 degrees about y instead of -30: it spins "
                  "the other way, and at frame 30 its left edge is the nearer and the taller one, where the right "
                  "edge should be.")
    return out


def clipping(f):
    x, y, z0, z1 = f["reach"]
    cut = f["near"]
    n = sum(len(c) for c in f["corners"].values())
    gone = " and ".join(f"the {name}" for name in cut.gone)
    starts = "; ".join(f"({num(p[0])}, {num(p[1])})" for _, p in cut.box_starts)
    out = [heading(3), "",
           "GL clips before it divides. A point is inside the view volume where -w <= x <= w, -w <= y <= w and "
           "-w <= z <= w in clip coordinates: x = -w and x = w are the window's left and right sides, y = -w and "
           f"y = w its bottom and top, z = -w the near plane ({NEAR} unit from the eye) and z = w the far "
           f"({FAR}). A primitive that crosses a plane is cut there, in clip space: GL makes new vertices on the "
           "plane, their colours, texture coordinates and depths interpolated along the cut edge, and a "
           "primitive wholly outside is dropped. Clipping comes before the division because the division "
           "cannot be trusted across the eye's own plane: a point behind the eye has w < 0, and dividing by it "
           "would throw it to the other side of the window.", "",
           f"At frame 30 nothing is clipped. Over all {n} corners, |x| / w reaches at most {num(x)} and |y| / w "
           f"{num(y)} (the box's front corners, near the window's corners), and z / w lies between {num(z0, 4)} "
           f"and {num(z1, 4)}: every corner is well inside the near and the far plane.", ""]
    out += try_it(f, "near", f"the near plane at {num(cut.near, 0)} units",
                  f"What it does: the view volume now starts {num(cut.near, 0)} units in front of the eye. The "
                  f"tiled quad, {num(-max(c.eye[2] for c in f['corners']['tiled quad']), 0)} to "
                  f"{num(-min(c.eye[2] for c in f['corners']['tiled quad']), 0)} units away, is cut where it is "
                  f"{num(cut.near, 0)} units away, along window x = {num(cut.tiled_x)}: its nearer half, on the "
                  "right, is gone, and GL made new corners where the plane cut its top and bottom edges. "
                  f"{gone.capitalize()}, nearer than the plane, {'is' if len(cut.gone) == 1 else 'are'} clipped "
                  f"whole, and so are the box's {len(cut.box_gone)} front edges; its "
                  f"{len(cut.box_starts)} front-to-back edges now begin {num(cut.near, 0)} units away, at "
                  f"{starts}. The image quad, at {EYE_Z}, is untouched.")
    return out


def division(f):
    t1 = f["corners"]["tiled quad"][0]
    left, right = f["trapezoid"]
    tiled = f["corners"]["tiled quad"]
    return [heading(4), "",
            "After clipping, GL divides x, y and z by w: normalised device coordinates (NDC), -1 to 1 across the "
            "window in x and in y, and from -1 at the near plane to 1 at the far in z. w is the depth of the "
            "point along the view axis, the eye's -z, which the projection's last row copied; it is not the "
            f"distance from the eye. T1 has w = {num(t1.clip[3])} and lies {num(t1.distance)} units from the eye: "
            f"it is {num(-t1.eye[0])} units to the left of the view axis and {num(t1.eye[1])} above it.", "",
            "Dividing by w is what makes farther things smaller. Turned -30 degrees about y, the tiled quad's "
            f"right edge comes nearer (w = {num(tiled[1].clip[3])}) and its left edge goes farther "
            f"({num(tiled[0].clip[3])}), so on screen the right edge stands {num(right)} pixels tall and the left "
            f"{num(left)}, though both are 100 units: the quad is a trapezoid.", ""]


def viewport(f):
    out = [heading(5), "",
           f"`glViewport(0, 0, {WINDOW[0]}, {WINDOW[1]})` maps NDC x from -1 to 1 onto window x from 0 to "
           f"{WINDOW[0]}, and y onto 0 to {WINDOW[1]}, x from the left and y from the bottom: window x = (NDC x + 1) "
           f"× {WINDOW[0]} / 2. GL's depth range, 0 to 1 unless a program sets another, maps NDC z onto the "
           "window depth: (NDC z + 1) / 2. Every corner, step by step; corners are numbered in the order the demo "
           "gives them (the box's in the order its edges first reach them); two decimals, NDC z four, the depth "
           "five:", ""]
    for o in f["objects"]:
        out += [f"**{o.name.capitalize()}**", ""] + corner_table(f["corners"][o.name]) + [""]
    out += ["Frame 30 with each corner ringed and named beside it:", "",
            *drawn("![Frame 30 with every corner named](picture/corners.png)"), ""]
    return out


def triangles(f):
    seam, c = f["seam"], f["crease"]
    measured = f["seam measured"]
    fits = "G1 to G3" if c.along_13 < c.along_24 else "G2 to G4"
    tiled = f["corners"]["tiled quad"]
    w_left, w_right = tiled[0].clip[3], tiled[1].clip[3]
    out = [heading(6), "",
           "GL rasterises triangles: a `GL_QUADS` quad is split into two, along a diagonal that GL leaves to the "
           "driver. For each triangle GL makes a fragment at each pixel whose centre lies inside it, and "
           "interpolates there, from the triangle's three corners, every varying the vertex program wrote (the "
           "colour, the texture coordinates) and the depth. The gradient quad shows the diagonal: its corners "
           "are red, green, blue and yellow (G1 to G4), and across each triangle the colour blends only that "
           "triangle's three corners, so the two triangles meet in a crease along the diagonal.", "",
           *drawn(f"In this frame the crease runs from {fits}: the frame's colours lie on average "
                  f"{num(c.along_13, 1)} from the model's split along G1-G3 and {num(c.along_24, 1)} from its split "
                  f"along G2-G4 (0 to 255 a channel). At the pixel under the quad's middle, "
                  f"({c.pixel[0]}, {c.pixel[1]}), the frame holds {rgb(c.shown)}; split along G1-G3 it is "
                  f"{rgb(np.round(c.model_13))}, half red and half blue, and split along G2-G4 it would be "
                  f"{rgb(np.round(c.model_24))}.", "",
                  "![The gradient quad as drawn, and the model split either way](picture/crease.png)"), "",
           "The textured quads show no crease: s and t run evenly over each quad's own plane, so both "
           "triangles give the same s and t everywhere.", "",
           "The interpolation is perspective-correct. A varying does not run evenly across the screen, since a "
           "quad that recedes is squeezed on screen at its far end. What does run evenly across the screen is "
           "a varying divided by w, and 1 / w: across a triangle whose corners have varyings v1, v2, v3 and w1, "
           "w2, w3, at a pixel that lies a, b and c of the way to each corner on screen (a + b + c = 1), GL "
           "takes (a v1 / w1 + b v2 / w2 + c v3 / w3) / (a / w1 + b / w2 + c / w3).", "",
           "On the tiled quad s runs from 0 at its left edge to 2 at its right, and the photograph's copies meet "
           "where s = 1, the quad's own middle. On screen that line stands at window x = "
           f"{num(seam.x)}, from y = {num(seam.y0)} to {num(seam.y1)}, while the middles of the quad's bottom and "
           f"top edges on screen lie at x = {num(seam.straight_bottom)}: interpolating straight across the screen "
           f"would put the seam there, {num(seam.straight_bottom - seam.x)} pixels to the right. There, halfway "
           f"on screen from T1 (s = 0, w = {num(w_left)}) to T2 (s = 2, w = {num(w_right)}), GL's s is (0.5 × 0 / "
           f"{num(w_left)} + 0.5 × 2 / {num(w_right)}) / (0.5 / {num(w_left)} + 0.5 / {num(w_right)}) = "
           f"{num(seam.s_at_middle)}, past the seam. The tiled quad enlarged, with ticks above and below it where "
           f"s = 1 lies ({WORDS[MODEL]}, x = {num(seam.x)}) and at the screen's middle of its edges "
           f"({WORDS[OTHER]}, x = {num(seam.straight_bottom)}); nothing is drawn over the quad itself:", "",
           *drawn("![Where the copies meet on the tiled quad](picture/seam.png)"), ""]
    out += try_it(f, "coordinates", "see s and t",
                  "What it does: the texture program shows s / 2 in red and t / 2 in green, the texture "
                  "coordinates as GL interpolated them: the tiled quad runs from black at s = t = 0 to yellow at "
                  "s = t = 2; the image quad, s and t from 0 to 1, "
                  "to half as bright.",
                  [f"Read back from this frame, red is 127.5 (s = 1) at window x = {span(measured)} on the "
                   f"{len(measured)} rows that cross the tiled quad whole (each row's "
                   "reds, turned back into s, fitted with s = (a x + b) / (c x + 1), the form s takes along a "
                   f"row), where the model puts it at {num(seam.x)}, and straight interpolation at "
                   f"{num(seam.straight_bottom)}."])
    return out


def fragment(f):
    fr = f["fragments"]
    data = f["data"]
    plain = os.path.join(f["root"], "check", "plain")
    cov = fr.covered
    names = [o.name for o in f["objects"]]
    passed = dict(zip(names, f["samples"]))
    with open(os.path.join(data, "vertex1.glsl")) as f1, open(os.path.join(plain, "vertex1.glsl")) as f2:
        same_flat = bare(f1.read()) == bare(f2.read())
    with open(os.path.join(data, "fragment1.glsl")) as f1, open(os.path.join(plain, "fragment1.glsl")) as f2:
        same_flat = same_flat and bare(f1.read()) == bare(f2.read())
    out = [heading(7), "",
           "The fragment program runs once a fragment: at each pixel a primitive covers, with the varyings "
           "interpolated there, and writes the fragment's colour, `gl_FragColor`. Where primitives overlap it "
           "runs again at the same pixel, once for each. At frame 30 the flat program runs "
           f"{whole(cov['gradient quad'])} times for the gradient quad, and the texture program "
           f"{whole(cov['tiled quad'])} times for the tiled quad and {whole(cov['image quad'])} for the image "
           f"quad; the image quad is drawn after the other two, and {whole(fr.overlap)} of its fragments fall on "
           "pixels that the tiled or the gradient quad already holds. They are shaded all the same, and then "
           f"fail the depth test ({link(10)}). (A driver may test depth before the program where the program "
           "cannot change the outcome; nothing on the screen tells the two apart.)", "",
           *drawn("GL's own count, an occlusion query (`GL_SAMPLES_PASSED`) around each `glBegin`, of the "
                  f"fragments that passed the depth test: {whole(passed['tiled quad'])} of the tiled quad, "
                  f"{whole(passed['gradient quad'])} of the gradient quad and {whole(passed['image quad'])} of the "
                  f"image quad, where the model has {whole(cov['image quad'] - fr.overlap)} "
                  f"({whole(cov['image quad'])} less {whole(fr.overlap)})."), "",
           "The flat program's fragment shader, `fragment1.glsl`, writes the colour interpolated across the "
           "triangle:", ""]
    out += shader_block(os.path.join(data, "fragment1.glsl"))
    out += ["", "The texture program's, `fragment2.glsl`, reads the texture through the sampler `image`, which "
            "the demo sets to 0, the texture unit where `init_texture` bound the photograph, and multiplies the "
            f"texel by the colour: orange {vec(PROJECT_TINT, 1)} on the tiled quad, white on the image quad "
            f"({link(8)} and {link(9)} follow the texel):", ""]
    out += shader_block(os.path.join(data, "fragment2.glsl"))
    out += ["", "The checker also runs the demo with the plainest pair (`check/plain/`), so that a fault cannot "
            "hide behind a shader. " + ("Its flat program is the same, comments aside. " if same_flat else "")
            + "Its texture program leaves the colour out: the texel alone, so the tiled quad shows the "
            "photograph untinted:", ""]
    out += shader_block(os.path.join(plain, "vertex2.glsl")) + [""] + shader_block(os.path.join(plain,
                                                                                                "fragment2.glsl"))
    out.append("")
    out += try_it(f, "tint", "a line in a shader",
                  f"What it does: the tiled quad loses its orange tint: the texture program no longer multiplies "
                  f"the texel by the vertex colour {vec(PROJECT_TINT, 1)}; the image quad, whose vertex colour is "
                  "white, looks the same.")
    return out


def texture(f):
    w, h = f["photo size"]
    w0, h0 = f["levels"][0]
    (sw, sh), (lw, lh) = f["sun"]
    out = [heading(8), "",
           f"`init_texture` uploads the photograph once, before the first frame. `pacific.jpg` is {w} × {h}:", "",
           "![The photograph](picture/photograph.png)", "",
           "**The flip.** A JPEG holds its rows from the top of the picture down, and the demo reads them so. "
           "GL takes a texture's rows the other way up: the first row it is given is t = 0, the bottom of the "
           "texture, and the quads' texture coordinates have t = 0 at their bottom corners. So the demo flips "
           "the rows (`raster.vflip()`) before it uploads them; without it the photograph would stand on its "
           "head on both quads (the change below).", "",
           f"**GLU's resampling.** `gluBuild2DMipmaps` scales a side that is not a power of two to the nearest "
           f"power (a side of 3 × 2^k goes up): {w} to {w0} and {h} to {h0}, so level 0 is {w0} × {h0}, the "
           f"photograph squeezed to {num(w0 / w)} of its width and stretched to {num(h0 / h)} of its height. "
           "GL before 2.0 could hold only powers of two, and GLU still makes them. The round sun becomes a tall "
           "oval in the texture; the quads stretch it back, and on the image quad, "
           f"{w} × {h} units, it is round again.", "",
           *drawn(f"The sun measures {sw} × {sh} pixels in the file and {lw} × {lh} texels in GL's level 0, read "
                  f"back from the demo (its pixels brighter than {rgb(SUN_LEAST)} in every channel):", "",
                  "![The photograph and GL's level 0](picture/resample.png)"), "",
           f"Each further level halves each side, every texel the mean of the four below it, down to 1 × 1: "
           f"{len(f['levels'])} levels. GL's own levels, read back from the demo at frame 30:", "",
           *drawn("![Every mipmap level](picture/levels.png)"), ""]
    out += try_it(f, "flip", "no flip before the upload",
                  "What it does: GL gets the file's top row first, as t = 0: the photograph stands on its head "
                  "on the image quad and on each copy on the tiled quad, the sea at the top and the sky at the "
                  "bottom.")
    return out


def lookup_lines(look, name, tint, filtered, shown):
    """The sampler's arithmetic for one pixel, written out."""
    bx, by = look.block
    px, py = look.pixel
    a, b = look.levels[0], look.levels[-1]
    blend = (f"`GL_LINEAR_MIPMAP_LINEAR` reads the two levels around it, ⌊λ⌋ = {a.k} and {b.k}, and blends "
             f"them by λ's fraction: {num(a.weight)} of level {a.k} and {num(b.weight)} of level {b.k}"
             if len(look.levels) > 1 else f"GL reads level {a.k} alone")
    rows = []
    for lv in look.levels:
        wrapped = f" ({lv.j0 % lv.height} wrapped)" if lv.j0 % lv.height != lv.j0 else ""
        wrapped_i = f" ({lv.i0 % lv.width} wrapped)" if lv.i0 % lv.width != lv.i0 else ""
        rows.append(f"level {lv.k} ({lv.width} x {lv.height}):  u = {num(lv.u)}  v = {num(lv.v)}  "
                    f"i0 = {lv.i0}{wrapped_i}  j0 = {lv.j0}{wrapped}  α = {num(lv.alpha)}  β = {num(lv.beta)}")
    return [f"**A pixel of the {name}**, ({px}, {py}) from the bottom left. Its centre has s = {num(look.s, 4)} "
            f"and t = {num(look.t, 4)}. GL takes the changes of s and t across the 2 × 2 block of pixels it "
            f"shades together, here columns {bx}-{bx + 1} and rows {by}-{by + 1}; in texels of level 0 (u = "
            f"{look.levels[0].width << look.levels[0].k} s, v = {look.levels[0].height << look.levels[0].k} t):", "",
            "```",
            f"du/dx = {num(look.dudx)}   dv/dx = {num(look.dvdx)}     (column {bx} to {bx + 1}, on row {py})",
            f"du/dy = {num(look.dudy)}   dv/dy = {num(look.dvdy)}     (row {by} to {by + 1}, on column {px})",
            f"ρ = max(√(du/dx² + dv/dx²), √(du/dy² + dv/dy²)) = max({num(look.rho_x)}, {num(look.rho_y)}) = "
            f"{num(look.rho)}",
            f"λ = log2 ρ = {num(look.lam)}",
            "```", "",
            f"A pixel spans about {num(look.rho)} texels of level 0, and level λ = {num(look.lam)} would fit it; "
            f"{blend}. Within each level, bilinear filtering takes the 2 × 2 texels whose centres surround the "
            "point: with u and v in that level's texels, the first is i0 = ⌊u − ½⌋, j0 = ⌊v − ½⌋ (wrapped, "
            "`GL_REPEAT`), and they are weighed by α = frac(u − ½) across and β = frac(v − ½) up:", "",
            "```", *rows, "```", "",
            *drawn(f"The frame holds {rgb(shown)} at this pixel; the blend written out above, of GL's own texels "
                   f"read back, times the colour {vec(tint, 1)}, gives {vec(filtered, 1)}."), "",
            f"The pixel's own outline, its four corners mapped into the texture, is {num(look.sides[0] / 2 ** a.k)} "
            f"× {num(look.sides[1] / 2 ** a.k)} texels of level {a.k}. Below, the pixel in the frame and its "
            f"block; then each level it reads, with the pixel's outline ({WORDS[PIXEL]}), the 2 × 2 texels "
            f"blended ({WORDS[MODEL]}) and the lookup at its centre (a dot):", ""]


def sampler(f):
    t_look, i_look = f["looks"]
    w0 = f["levels"][0][0]
    reach, width = tolerance_reach(t_look, w0)
    s0, s1, t0, t1 = t_look.tolerance
    k = t_look.levels[0].k
    out = [heading(9), "",
           "`texture2D(image, texture_coordinate)` asks the sampler for the texture at (s, t). The demo set "
           "`GL_LINEAR_MIPMAP_LINEAR` as its minifying filter, the one GL uses where a pixel spans more than a "
           "texel (trilinear filtering): GL picks two levels from how fast s and t change from pixel to pixel, "
           "takes the 2 × 2 texels around the point in each (bilinear), and blends the two. Written out for "
           "one pixel of each textured quad:", ""]
    for look, name, tint, filt, shown, key in zip(f["looks"], ("tiled quad", "image quad"), (PROJECT_TINT, (1, 1, 1)),
                                                  f["filtered"], f["shown"], ("tiled", "image")):
        out += lookup_lines(look, name, tint, filt, shown)
        out += [*drawn(f"![The {name}'s pixel and the texels it reads](picture/footprint-{key}.png)"), ""]
    out += [f"The image quad's pixel reads mostly level {i_look.levels[0].k}, and level "
            f"{i_look.levels[-1].k} a little: it is seen a little smaller than the texture, about "
            f"{num(i_look.rho)} texels to a pixel. That is why the tiled quad's copies are blurrier than the flat "
            f"photograph: each of the tiled quad's pixels spans {num(t_look.rho)} texels of level 0 and blends "
            f"levels {t_look.levels[0].k} and {t_look.levels[-1].k}, where a pixel of the image quad spans "
            f"{num(i_look.rho)} and blends levels {i_look.levels[0].k} and {i_look.levels[-1].k}.", "",
            "**The checker's tolerance.** The checker cannot know which level a driver picks: GL lets a driver "
            "approximate ρ, and a user may force a bias in a control panel. So for each pixel it accepts any "
            "texel that a lookup anywhere within the pixel may read at any level a driver may pick: a box far "
            f"larger than what GL reads. For the tiled quad's pixel it runs s from {num(s0, 3)} to {num(s1, 3)} "
            f"and t from {num(t0, 3)} to {num(t1, 3)}: {num(width, 0)} texels of level 0 across, "
            f"{num(width / 2 ** k, 0)} of level {k}, wide enough for the 2 × 2 texels of level {reach}; the "
            f"pixel's own outline in it is {num(t_look.sides[0] / 2 ** k)} × {num(t_look.sides[1] / 2 ** k)} "
            f"texels of level {k}. It is the checker's tolerance, not the pixel's footprint. Dashed "
            f"{WORDS[TOLERANCE]}, with the pixel's outline in {WORDS[PIXEL]}, for both pixels:", "",
            *drawn("![The checker's tolerance, apart from what GL reads](picture/tolerance.png)"), ""]
    out += try_it(f, "nearest", "nearest against trilinear",
                  "What it does: the sampler reads one texel of level 0, the one whose centre is nearest the "
                  "point, however many the pixel spans. A pixel of the tiled quad spans "
                  f"{num(t_look.rho)} texels and shows one of them: neighbouring pixels jump between texels "
                  "apart, the copies turn grainy, and they shimmer as the quad turns; a pixel of the image quad "
                  f"spans {num(i_look.rho)} and changes little.",
                  [] if f["tries"]["nearest"].change.fails else
                  ["The checker passes it: it judges which of its photograph's cells a pixel may show, and one "
                   "texel of level 0 within the pixel is one of them."])
    return out


def depth(f):
    scene = f["scene"]
    bits, values = f["depth bits"], f["depth"]
    top = 2 ** bits - 1
    t_look, i_look = f["looks"]
    rows = ["| edge | hidden on screen | hidden of its length in space | behind |", "|---|---|---|---|"]
    shown = []
    for e in f["hidden"]:
        if e.hidden:
            part = sum(e.hidden.values())
            rows.append(f"| {e.name} | {num(part, 1)} of {num(e.length, 1)} pixels ({num(100 * part / e.length, 1)} "
                        f"%) | {num(100 * e.space, 1)} % | " + ", ".join(
                            f"the {n} ({num(v, 1)} pixels)" for n, v in sorted(e.hidden.items(), key=lambda x: -x[1]))
                        + " |")
        else:
            shown.append(e.name)
    front = next(e for e in f["hidden"] if e.hidden and e.space < 1)
    at = lambda look: int(values[scene.h - 1 - look.pixel[1], look.pixel[0]]) / top
    grain = depth_grain(values, bits)
    effective = bits - grain
    i_depth = float(scene.hits(scene.quads["image quad"], np.array([i_look.pixel[0] + 0.5]),
                               np.array([i_look.pixel[1] + 0.5]))[2][0])
    t_depth = float(scene.hits(scene.quads["tiled quad"], np.array([t_look.pixel[0] + 0.5]),
                               np.array([t_look.pixel[1] + 0.5]))[2][0])
    off = max(abs(at(i_look) - i_depth), abs(at(t_look) - t_depth)) * 2 ** effective
    if grain:
        held = (f"This renderer reports a depth buffer of {bits} bits (`GL_DEPTH_BITS`), but every depth it holds "
                f"at frame 30 is a multiple of {whole(2 ** grain)} of them: {effective} bits' worth"
                + (", the precision of a 32-bit float between 0.5 and 1, where every depth here lies."
                   if bits == 32 and effective == 24 else "."))
    else:
        held = f"This renderer's depth buffer has {bits} bits (`GL_DEPTH_BITS`)."
    greens = []
    for name, (cols, green) in f["green"].items():
        hidden_cols = cols[~green]
        greens.append(f"the {name} edge shows green in {int(green.sum())} of its {len(cols)} columns"
                      + (f", not in the {len(hidden_cols)} from x = {int(hidden_cols.min())} to "
                         f"{int(hidden_cols.max())}" if len(hidden_cols) else ""))
    back = -f["corners"]["wire box"][-1].eye[2]
    out = [heading(10), "",
           "Each fragment that the program has shaded carries its window depth, and GL tests it: "
           "`glEnable(GL_DEPTH_TEST)`, with GL's own test, `GL_LESS`. (The depth, z / w, runs evenly across the "
           "screen, so GL interpolates it straight, unlike a varying.) The depth buffer keeps, at "
           "each pixel, the depth nearest the eye drawn there so far (cleared to 1 each frame by `glClear`), and "
           "a fragment whose depth is not less than what its pixel holds is dropped, its colour never written.",
           "",
           "The window depth of a point w units along the view axis is d = f (w − n) / ((f − n) w), with "
           f"n = {NEAR} and f = {FAR} the near and the far plane: not even in w. With the near plane at {NEAR} "
           "unit, most of the range goes to what is close: a point 2 units from the eye already has depth "
           f"{num(depth_at(scene, 2), 5)}, one at {EYE_Z} units {num(depth_at(scene, EYE_Z), 5)} and one at "
           f"{num(back, 0)} {num(depth_at(scene, back), 5)}, which is why the tables need five decimals.", "",
           f"The depth buffer keeps d in a fixed number of bits. In {COMMON_BITS}, a common size, d is kept as a "
           f"whole number from 0 to {whole(2 ** COMMON_BITS - 1)}, and one step of it is worth "
           f"{num(depth_step(scene, EYE_Z, COMMON_BITS), 3)} units along the view axis at {EYE_Z} units, where "
           f"the photograph lies, and {num(depth_step(scene, back, COMMON_BITS), 3)} at {num(back, 0)}, where the "
           "box's back edges lie: the nearer, the finer.", "",
           *drawn(held + f" Read back from GL at frame 30, the buffer holds d = {num(at(i_look), 8)} at the image "
                  f"quad's pixel ({i_look.pixel[0]}, {i_look.pixel[1]}), where the model gives {num(i_depth, 8)}, "
                  f"and d = {num(at(t_look), 8)} at the tiled quad's ({t_look.pixel[0]}, {t_look.pixel[1]}), where "
                  f"it gives {num(t_depth, 8)}: the same to within {num(off, 1)} of a step of {effective} bits. The "
                  "whole buffer, each value turned back into its distance along the view axis (white "
                  f"{DEPTH_SHOWN[0]} units, black {DEPTH_SHOWN[1]}; {CLEARED_WORD} where nothing was drawn and it "
                  "holds 1, as cleared):", "",
                  "![GL's depth buffer at frame 30](picture/depth-buffer.png)"), "",
           "The box is drawn last, after the three quads, so its edges meet a depth buffer that already holds "
           "them; where a quad lies nearer than an edge, the edge's fragments fail the test. At frame 30, "
           "followed along each edge:", ""]
    out += rows + ["",
                   f"The rest ({', '.join(shown)}) are not hidden. The four front-to-back edges run from "
                   f"{num(-f['corners']['wire box'][0].eye[2], 0)} units to {num(back, 0)}, and the end the image "
                   "quad hides is the far one, which the division by w shortens most: "
                   f"{num(100 * front.space, 1)} % of each edge's length in space, "
                   f"{num(100 * sum(front.hidden.values()) / front.length, 1)} % of it on screen. The box's back "
                   f"edges lie {num(back, 0)} units along the view axis, behind the photograph at {EYE_Z}, and "
                   "within its outline: all four vanish, behind the photograph or a quad in front of it. Dashed "
                   "over the frame where they would have been, in the colour of what hides them: "
                   + "; ".join(f"{HIDDEN_WORDS[n]} behind the {n}" for n in HIDDEN_BY) + ".", "",
                   *drawn("In the frame, " + "; ".join(greens) + ".", "",
                          "![The box's hidden edges](picture/depth.png)"), ""]
    return out


def fixed(f):
    colours = f["box colours"]
    out = [heading(11), "",
           "Before the box, `display_CB` calls `glUseProgram(0)`: no program. The box's 12 lines (`GL_LINES`, "
           f"{f['vertices'][-1]} vertices) take the fixed pipeline, GL's own stages in the programs' place: "
           "the same modelview and projection transform each vertex, as `gl_ModelViewProjectionMatrix * "
           "gl_Vertex` does; clipping, the division, the viewport and the depth test are the same; and each "
           "fragment takes the current colour, (0, 1, 0) from `glColor3d`, since no lighting is enabled and no "
           "texture (the demo never enables `GL_TEXTURE_2D`).", "",
           *drawn(f"The box's front edges in the frame are {', '.join(rgb(c) for c in sorted(colours))} "
                  f"({whole(sum(colours.values()))} pixels)."), "",
           "The texture environment, `glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE)` in "
           "`init_texture`, is how the fixed pipeline combines a texel with the colour. While a program runs, "
           "its fragment shader does that itself (the `* colour` of `fragment2.glsl`), and the environment has "
           "no effect; the box, drawn with no program, has texturing off. The demo's call changes nothing, "
           "as this change shows:", ""]
    same = f["same as unchanged"]["replace"]
    out += try_it(f, "replace", "GL_REPLACE",
                  "What it does: nothing. `GL_REPLACE` would show the texel alone, without the colour, on a quad "
                  "that the fixed pipeline textured; no quad here is.",
                  [f"Frame 30 with the change {'is' if same else 'is not'} the unchanged frame, byte for byte."])
    return out
