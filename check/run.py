"""Does this machine draw the demo right? Runs the real demo under the
capture library in a scratch folder, with test photographs of its own, and
checks every frame of a whole turn, with the project's shaders and with the
plainest ones, object by object against the scene as the demo builds it
(scene.py, frame.py); then `l`, a resize, photographs of other kinds and the
speed; then what reaches the screen at frames the demo is held at, against
what GL drew there (held.py, screen.py); then writes a report with a
picture of every check (report.py).

  python3 -m check.run --demo DEMO --capture frame_capture.so --data DATA
                       [--keep DIR] [--report DIR] [--junit FILE] [--json FILE]
                       [--baseline FILE]

DATA holds the project's shaders; the plainest pair (the vertex colour; the
texel, unmodulated) lies in check/plain/. The demo runs on the current
DISPLAY with whatever GL it gets there. Prints GL's strings, one line per
check ("ok NAME" or "FAIL NAME: frames A-B, C: what is wrong at the first
of them", "skip NAME: why", or "error NAME: what went wrong" where the
checker itself could not judge), how many frames were judged, the time to
the first frame and the frame rate, "report: PATH", then "N passed, M
failed" (errors count as failed; a FAIL that follows from another object's
fault is counted apart, as following). The status is 0 when every check
passed, 1 when one failed, 3 when the checker itself failed (an error
line), 2 for a usage error or a folder or file refused, 130 when
interrupted.

--keep DIR keeps the scratch folder (photographs, every frame, output) in
DIR; --report DIR writes the report there (by default into check-report/
beside the demo, replacing the report there). Each DIR must be missing or
empty: a folder that holds anything is refused, and nothing in it is
touched. --junit FILE writes the run as JUnit XML, a test case a line;
--json FILE as one JSON document (export.py); each FILE is replaced whole,
and one that is a folder is refused. --baseline FILE takes the failures of
the run that FILE (--json's) holds as known: a check that fails as it did
there, at those frames or fewer, is printed marked "(known)" and counted
apart, one that passes now says so, and only the others fail the run."""
import argparse
import os
import shutil
import signal
import sys
import tempfile
import time

from . import export, report
from .demo import Limits
from .scenarios import Run, check


class Interrupted(Exception):
    pass


def interrupt(*_):
    raise Interrupted()


def refused(path):
    """Why a folder given for output cannot be used, or None: it must be
    missing or an empty folder, so that nothing of the user's is touched."""
    if not os.path.lexists(path):
        return None
    if not os.path.isdir(path) or os.path.islink(path):
        return "is not a folder"
    if os.listdir(path):
        return "is not empty"
    return None


def file_refused(path):
    """Why a file given for output cannot be written, or None: it is
    replaced whole, so it must be missing or a file, in a folder."""
    if os.path.isdir(path):
        return "is a folder"
    if os.path.lexists(path) and (os.path.islink(path) or not os.path.isfile(path)):
        return "is not a plain file"
    if not os.path.isdir(os.path.dirname(path)):
        return "lies in no folder"
    return None


def main(argv, limits=Limits()):
    parser = argparse.ArgumentParser(prog="check", description=__doc__.split("\n\n")[0],
                                     epilog="Status: 0 passed, 1 a check failed, 2 usage, 3 the checker failed, "
                                            "130 interrupted.")
    parser.add_argument("--demo", required=True)
    parser.add_argument("--capture", required=True)
    parser.add_argument("--data", required=True)
    parser.add_argument("--keep", metavar="DIR", help="keep the scratch folder in DIR (missing or empty)")
    parser.add_argument("--report", metavar="DIR", help="write the report in DIR (missing or empty)")
    parser.add_argument("--junit", metavar="FILE", help="write the run as JUnit XML to FILE")
    parser.add_argument("--json", metavar="FILE", help="write the run as JSON to FILE")
    parser.add_argument("--baseline", metavar="FILE", help="count only the failures that the run in FILE (--json's) did not have")
    args = parser.parse_args(argv[1:])
    demo, capture_library, data = (os.path.abspath(p) for p in (args.demo, args.capture, args.data))
    keep = args.keep and os.path.abspath(args.keep)
    folder = args.report and os.path.abspath(args.report)
    files = {"--junit": args.junit and os.path.abspath(args.junit), "--json": args.json and os.path.abspath(args.json)}
    for option, path in (("--keep", keep), ("--report", folder)):
        if path and refused(path):
            print(f"check: {option} {path} {refused(path)}; give a new or an empty folder", file=sys.stderr)
            return 2
    for option, path in files.items():
        if path and file_refused(path):
            print(f"check: {option} {path} {file_refused(path)}; give a file to write", file=sys.stderr)
            return 2
    if keep and keep == folder or files["--junit"] and files["--junit"] == files["--json"]:
        print("check: --keep and --report need two folders, --junit and --json two files", file=sys.stderr)
        return 2
    baseline = None
    if args.baseline:
        try:
            baseline = export.failed(export.read(args.baseline))
        except (OSError, ValueError) as e:
            print(f"check: --baseline {os.path.abspath(args.baseline)}: {e}", file=sys.stderr)
            return 2
    plain = os.path.join(os.path.dirname(os.path.abspath(__file__)), "plain")
    run = Run(demo, capture_library, data, None, keep=bool(keep), baseline=baseline, limits=limits)
    # Ctrl-C at a terminal reaches the whole process group: the demo ends,
    # and the run stops here, whatever it was doing.
    interrupted = False
    previous = signal.signal(signal.SIGINT, interrupt)
    try:
        if not folder:
            folder = os.path.join(os.path.dirname(demo), "check-report")
            report.clear(folder)
        if keep:
            os.makedirs(keep, exist_ok=True)
            run.demo.scratch = keep
        else:
            run.demo.scratch = tempfile.mkdtemp(prefix="demo-check.")
        check(run, plain)
    except Interrupted:
        interrupted = True
    except Exception as e:  # noqa: BLE001 - the checker's own failure, said as such
        try:
            run.error("checker", f"{type(e).__name__}: {e}")
        except Interrupted:
            interrupted = True
    finally:
        try:
            stop(run, keep)
        except Interrupted:
            interrupted = True
        except Exception as e:  # noqa: BLE001
            run.error("checker", f"{type(e).__name__}: {e}")
    if interrupted:
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        print("interrupted: stopped at once, nothing judged further (Ctrl-C)", flush=True)
        closing(run)
        return 130
    signal.signal(signal.SIGINT, previous)
    try:
        return finish(run, folder, files["--junit"], files["--json"])
    except Interrupted:
        print("interrupted: stopped at once, nothing judged further (Ctrl-C)", flush=True)
        closing(run)
        return 130


def stop(run, keep):
    """Ends what the run started: the demo, the workers, the scratch folder."""
    demo = run.demo
    if demo.process is not None and demo.process.poll() is None:
        demo.process.kill()
        demo.process.wait()
    if demo.pool is not None:
        demo.pool.terminate()
        demo.pool.join()
    if demo.scratch and not keep:
        shutil.rmtree(demo.scratch, ignore_errors=True)


def closing(run):
    print(run.result.totals().line(), flush=True)


def finish(run, folder, junit=None, json_file=None):
    """The report's line, JUnit and JSON where asked for, and the closing
    line; the status."""
    run.scenario = "run"
    pictures = {}
    try:
        path, pictures = report.write(run.result, folder)
        print(f"report: {path}", flush=True)
    except Exception as e:  # noqa: BLE001 - the report is the checker's, not the machine's
        run.error("report", f"{type(e).__name__}: {e}")
    run.result.ended = time.time()
    for what, path, write in (("junit", junit, export.write_junit), ("json", json_file, export.write_json)):
        try:
            if path:
                write(run.result, pictures, path)
        except Exception as e:  # noqa: BLE001 - as the report
            run.error(what, f"{type(e).__name__}: {e}")
    closing(run)
    return run.result.status()


if __name__ == "__main__":
    sys.exit(main(sys.argv))
