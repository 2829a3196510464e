"""The screen figures: the time the screen check adds to a run of the
checker, in seconds, against the bound it is held to (3 s).

Runs the turn with the project's shaders as the checker runs it (the real
demo DEMO under the capture library CAPTURE, the project's shaders from
DATA, its frames judged by the workers as they come, the demo held at the
screen's frames) on the current DISPLAY, then the screen's line, RUNS times;
and once more with picom showing the window 60 % opaque, a screen the check
fails (where picom is installed). The time added is the time the run spends
with the demo held (reading the screen until it settles) and in the
screen's verdict: an upper bound, since the workers go on judging the
frames that wait while the demo is held. Prints the seconds of each part
(medians) and the figure lines: the median and its spread over the runs of
a correct screen; and the run the screen fails."""
import contextlib
import io
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from check import scenarios  # noqa: E402
from check.run import stop  # noqa: E402

RUNS = 3
# The screen check adds at most this many seconds to a run.
TARGET = 3


def screen_seconds():
    """One turn and the screen's line: (the seconds held, the verdict's
    seconds, the line)."""
    with tempfile.TemporaryDirectory() as scratch:
        run = scenarios.Run(os.environ["DEMO"], os.environ["CAPTURE"], os.environ["DATA"], scratch)
        try:
            with contextlib.redirect_stdout(io.StringIO()):
                scenarios.project_turn(run)
                t = time.perf_counter()
                scenarios.on_screen(run)
                verdict = time.perf_counter() - t
        finally:
            stop(run, keep=True)
    line = next((o.text() for o in run.result.outcomes if o.scenario == "screen"), "no screen line")
    return run.screen.seconds, verdict, line


def main():
    held, verdicts, added = [], [], []
    for _ in range(RUNS):
        h, v, line = screen_seconds()
        held.append(h)
        verdicts.append(v)
        added.append(h + v)
    print(f"screen: held {statistics.median(held):.2f} s, verdict {statistics.median(verdicts):.2f} s a run "
          f"(medians of {RUNS}): {line}")
    print(f"figure screen ratio={statistics.median(added):.2f} target={TARGET} spread={min(added):.2f}-{max(added):.2f}")
    if shutil.which("picom"):
        picom = subprocess.Popen(["picom", "--backend", "xrender", "--opacity-rule", '60:name = "Demo"'],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            time.sleep(1)  # picom takes the screen
            h, v, line = screen_seconds()
        finally:
            picom.terminate()
            picom.wait()
        print(f"screen failing: held {h:.2f} s, verdict {v:.2f} s: {line}")
        print(f"figure screen_wrong ratio={h + v:.2f} target={TARGET}")


if __name__ == "__main__":
    main()
