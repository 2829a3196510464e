"""The command that makes the page on how the picture is made: frame 30 of
the demo through GL's pipeline, every number from the checker's model of
the scene and every picture from the real demo. scripts/page runs it on an
Xvfb of its own once it has installed and built what it needs.

  python3 -m page [--build DIR] [--data DIR] [--out DIR]

The demo runs on the current DISPLAY with Mesa's software GL (llvmpipe),
in scratch folders. DIR of --build (build/ at the project's root by
default) holds demo, frame_capture.so, readback.so and interpose.so; --data
(data/ by default) the shaders and pacific.jpg.

--out DIR (docs/ by default) receives how-the-picture-is-made.md and its
pictures in picture/. It must be missing, empty, or the page's own folder
(the project's docs/, or one that holds the page already): there the page
and its pictures are replaced, each file whole and only where its bytes
change, and the pictures an earlier page named that this one no longer has
are removed; nothing else is touched. Running the command again on the
same machine changes no byte."""
import argparse
import os
import subprocess
import sys
import tempfile

from .files import PAGE, PICTURES, refused, write
from .make import make
from .pictures import NoFont
from .runs import Demo, Missing, environment

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def main(argv):
    parser = argparse.ArgumentParser(prog="python3 -m page", description=__doc__.split("\n\n")[0],
                                     epilog="Status: 0 written (or nothing changed), 1 the demo or what it needs "
                                            "failed, 2 usage or a folder refused.")
    parser.add_argument("--build", default=os.path.join(ROOT, "build"), help="the build folder (default: build/)")
    parser.add_argument("--data", default=os.path.join(ROOT, "data"), help="shaders and pacific.jpg (default: data/)")
    parser.add_argument("--out", default=os.path.join(ROOT, "docs"), metavar="DIR",
                        help="where the page goes: missing, empty or the page's own folder (default: docs/)")
    args = parser.parse_args(argv[1:])
    out = os.path.abspath(args.out)
    why = refused(out, os.path.join(ROOT, "docs"))
    if why:
        print(f"page: --out {out} {why}; give a new or an empty folder, or the page's own", file=sys.stderr)
        return 2
    if not os.environ.get("DISPLAY"):
        print("page: no DISPLAY to run the demo on: scripts/page runs it on an Xvfb of its own", file=sys.stderr)
        return 1
    # Every run starts from this environment (check.demo.Demo takes the process's).
    clean = environment(os.environ)
    os.environ.clear()
    os.environ.update(clean)
    with tempfile.TemporaryDirectory(prefix="demo-page.") as scratch:
        try:
            demo = Demo(os.path.abspath(args.build), os.path.abspath(args.data), scratch)
            text, pictures = make(demo, ROOT)
        except (Missing, NoFont, subprocess.TimeoutExpired, subprocess.CalledProcessError) as e:
            print(f"page: {e}", file=sys.stderr)
            return 1
        except KeyboardInterrupt:
            print("page: interrupted; nothing written", file=sys.stderr)
            return 130
    changed = write(out, text, pictures)
    where = os.path.join(out, PAGE)
    print(f"{where}: {len(pictures)} pictures in {os.path.join(out, PICTURES)}; "
          + (f"changed: {', '.join(changed)}" if changed else "no byte changed"))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
