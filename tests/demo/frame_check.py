#!/usr/bin/env python3
"""Checks captured frames of the demo against positions computed from the
scene's own transforms: viewport 640 x 480 (or the window's size after a
resize), vertical field of view 45 degrees, aspect 1.333, eye at z = 600.

  frame_check.py CHECK FRAME.ppm [ARGS...]

Test photographs are quadrants: top left red, top right green, bottom left
blue, bottom right white. Exits non-zero, saying why, when a check fails."""
import math
import sys

RED, GREEN, BLUE, WHITE, BLACK = (255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 255), (0, 0, 0)
failures = []


def read_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    assert fields[0] == b"P6", "not a binary PPM"
    w, h = int(fields[1]), int(fields[2])
    return w, h, data[pos + 1:]


class Frame:
    def __init__(self, path):
        self.w, self.h, self.data = read_ppm(path)

    def at(self, x, y):
        """Pixel in column x, row y (row 0 at the top)."""
        i = (y * self.w + x) * 3
        return tuple(self.data[i:i + 3])


def rotate(p, degrees, axis):
    a = math.radians(degrees)
    c, s = math.cos(a), math.sin(a)
    x, y, z = p
    if axis == "x":
        return (x, y * c - z * s, y * s + z * c)
    return (x * c + z * s, y, -x * s + z * c)  # about y


def project(p, w=640, h=480):
    """World point to window (column, row from the top), as the real
    viewport transform does: pixel centres are at half units."""
    f = 1 / math.tan(math.radians(22.5))
    x, y, z = p[0], p[1], p[2] - 600  # the camera looks down -z from z = 600
    ndc_x = f / 1.333 * x / -z
    ndc_y = f * y / -z
    return (ndc_x + 1) * w / 2, h - (ndc_y + 1) * h / 2


def near(colour, want, tolerance=60):
    return all(abs(a - b) <= tolerance for a, b in zip(colour, want))


def expect_colour(frame, point, want, what, tolerance=60):
    x, y = int(point[0]), int(point[1])
    got = frame.at(x, y)
    if not near(got, want, tolerance):
        failures.append(f"{what}: pixel ({x}, {y}) is {got}, expected about {want}")


def expect_green_near(frame, point, what, radius=2):
    x0, y0 = int(round(point[0])), int(round(point[1]))
    for y in range(max(0, y0 - radius), min(frame.h, y0 + radius + 1)):
        for x in range(max(0, x0 - radius), min(frame.w, x0 + radius + 1)):
            r, g, b = frame.at(x, y)
            if g > 150 and r < 100 and b < 100:
                return
    failures.append(f"{what}: no green near ({x0}, {y0})")


def extent(frame, x, y, dx, dy):
    """Last non-black pixel met walking from (x, y) in steps of (dx, dy)."""
    while 0 <= x + dx < frame.w and 0 <= y + dy < frame.h and max(frame.at(x + dx, y + dy)) > 40:
        x, y = x + dx, y + dy
    return x, y


def covered_range(lo, hi):
    """First and last pixel whose centre lies in [lo, hi)."""
    return math.ceil(lo - 0.5), math.ceil(hi - 0.5) - 1


def check_image_quad(frame, pw, ph, w=640, h=480, tolerance=1):
    left, top = project((-pw / 2, ph / 2, 0), w, h)
    right, bottom = project((pw / 2, -ph / 2, 0), w, h)
    first_x, last_x = covered_range(left, right)
    first_y, last_y = covered_range(top, bottom)
    cx, cy = int((left + right) / 2), int(top + (bottom - top) * 0.3)
    got_l = extent(frame, cx, cy, -1, 0)[0]
    got_r = extent(frame, cx, cy, 1, 0)[0]
    cx = int(left + (right - left) * 0.3)
    got_t = extent(frame, cx, cy, 0, -1)[1]
    got_b = extent(frame, cx, int((top + bottom) / 2), 0, 1)[1]
    for name, got, want in (("left", got_l, first_x), ("right", got_r, last_x),
                            ("top", got_t, first_y), ("bottom", got_b, last_y)):
        if abs(got - want) > tolerance:
            failures.append(f"image quad {name} edge at {got}, expected {want}")
    return got_l, got_r, got_t, got_b


def check_quadrants(frame, pw, ph, w=640, h=480):
    """The photograph the right way up: its quadrants where they belong."""
    for qx, qy, colour, name in ((-1, 1, RED, "top left"), (1, 1, GREEN, "top right"),
                                 (-1, -1, BLUE, "bottom left"), (1, -1, WHITE, "bottom right")):
        point = project((qx * pw / 4, qy * ph / 4, 0), w, h)
        expect_colour(frame, point, colour, f"photograph {name}")


def frame90(frame, pw, ph):
    check_image_quad(frame, pw, ph)
    check_quadrants(frame, pw, ph)
    expect_colour(frame, (100, 240), BLACK, "clear colour beside the photograph", 10)
    expect_colour(frame, (320, 10), BLACK, "clear colour above everything", 10)
    for sx in (-1, 1):
        for sy in (-1, 1):
            expect_green_near(frame, project((sx * 200, sy * 150, 200)), f"box front corner {sx},{sy}")
        expect_green_near(frame, project((sx * 200, 0, 200)), f"box front side edge {sx}")
    expect_green_near(frame, project((0, 150, 200)), "box front top edge")
    # Edge-on, the tiled quad leaves the space above the photograph black.
    expect_colour(frame, project((-40, 140, 100)), BLACK, "tiled quad edge-on", 10)


def frame1(frame, pw, ph, tint):
    # Gradient quad: corners a few pixels inside, towards its centre.
    def gradient(p):
        p = rotate((p[0], p[1] - 50, p[2]), 1, "x")
        return project((p[0], p[1] - 100, p[2] + 200))
    centre = gradient((0, 50, 0))
    for corner, colour, name in (((-50, 0, 0), RED, "red"), ((50, 0, 0), GREEN, "green"),
                                 ((50, 100, 0), BLUE, "blue"), ((-50, 100, 0), (255, 255, 0), "yellow")):
        x, y = gradient(corner)
        d = math.hypot(centre[0] - x, centre[1] - y)
        inside = (x + (centre[0] - x) * 4 / d, y + (centre[1] - y) * 4 / d)
        expect_colour(frame, inside, colour, f"gradient quad {name} corner", 50)
    # In front of the photograph the depth test keeps the quad. A quad is two
    # triangles split along its red-blue diagonal, so its centre is the mean
    # of those two corners.
    expect_colour(frame, centre, (128, 0, 128), "gradient quad centre over the photograph", 30)
    # Tiled quad: the photograph twice across and twice up (texture rows
    # bottom first, so t below 0.5 is the photograph's bottom half).
    for i in range(4):
        for j in range(4):
            s, t = (i + 0.5) / 2, (j + 0.5) / 2
            left, bottom = (s % 1) < 0.5, (t % 1) < 0.5
            colour = {(True, True): BLUE, (False, True): WHITE,
                      (True, False): RED, (False, False): GREEN}[(left, bottom)]
            colour = tuple(round(c * k) for c, k in zip(colour, tint))
            p = rotate((-50 + 50 * s, -50 + 50 * t, 0), -1, "y")
            expect_colour(frame, project((p[0], p[1] + 100, p[2] + 100)), colour,
                          f"tiled quad cell s={s} t={t}", 50)


def odd(frame, pw, ph):
    l, r, t, b = check_image_quad(frame, pw, ph)
    if l + r != 639 or t + b != 479:
        failures.append(f"odd-sized quad not centred: columns {l}..{r}, rows {t}..{b}")
    # The photograph's three left columns are red, the rest blue: read with a
    # wrong row length, the red column would slant across the quad.
    for row in (2.5, ph / 2, ph - 2.5):
        y = ph / 2 - row
        expect_colour(frame, project((-pw / 2 + 1.5, y, 0)), RED, f"left column, photo row {row}", 80)
        expect_colour(frame, project((-pw / 2 + 10.5, y, 0)), BLUE, f"photo row {row}, column 10", 80)


def reloaded(frame, pw, ph):
    # New size, old texture: the start-up photograph (quadrants) squeezed in.
    check_image_quad(frame, pw, ph)
    check_quadrants(frame, pw, ph)


def resized(frame, pw, ph):
    if (frame.w, frame.h) != (800, 300):
        failures.append(f"frame is {frame.w} x {frame.h}, expected 800 x 300")
        return
    check_image_quad(frame, pw, ph, 800, 300, tolerance=2)
    check_quadrants(frame, pw, ph, 800, 300)


def main():
    check, path = sys.argv[1], sys.argv[2]
    frame = Frame(path)
    pw, ph = int(sys.argv[3]), int(sys.argv[4])
    if check == "frame1":
        tint = tuple(float(v) for v in sys.argv[5].split(",")) if len(sys.argv) > 5 else (1, 1, 1)
        frame1(frame, pw, ph, tint)
    else:
        {"frame90": frame90, "odd": odd, "reloaded": reloaded, "resized": resized}[check](frame, pw, ph)
    for f in failures:
        print(f"{path}: {f}", file=sys.stderr)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
