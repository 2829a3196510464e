"""The run's result model and its views: frames as ranges, a check's line
over a turn, the totals and the status with and without a baseline, JUnit
read back with junitparser, the JSON read back, and check.compare's
verdicts. No X, no build."""
import json

import pytest
from junitparser import Error, Failure, JUnitXml, Skipped

from check import compare, export
from check.capture import frame_list
from check.checks import ANGLE, CLEAR_CHECK, GRADIENT_OUTLINE, Problem
from check.frame import Result
from check.model import Cause
from check.results import Outcome, RunResult, Status, Tally, frames_words


@pytest.mark.parametrize("numbers, words, listed", [
    ([7], "frame 7", "7"), ([1, 2, 3, 7], "frames 1-3, 7", "1-3,7"), ([3, 1, 2], "frames 1-3", "1-3"),
    ([1, 3, 5], "frames 1, 3, 5", "1,3,5"), ([170, 171, 250, 251, 252], "frames 170-171, 250-252", "170-171,250-252"),
])
def test_frames_as_ranges(numbers, words, listed):
    assert (frames_words(numbers), frame_list(numbers)) == (words, listed)


def results(kinds):
    """A check's Result at each frame, from letters: . passes, F fails, f
    follows from the gradient quad's outline (blame says so), e cannot judge,
    N and U fail by a cause of the whole frame, one of each kind."""
    says = lambda n, k: "follows from the gradient quad's outline" if k == "f" else f"wrong at {n}"
    cause = {"N": Cause("nothing", (0, 0, 0)), "U": Cause("unexplained", ("background",))}
    return [Result(CLEAR_CHECK, Problem(says(n, k), cause=cause.get(k)) if k in "FfNU" else None,
                   "broke" if k == "e" else None, GRADIENT_OUTLINE if k == "f" else None, 0.5)
            for n, k in enumerate(kinds, 1)]


@pytest.mark.parametrize("kinds, status, words, failing, kept", [
    ("....", Status.OK, "", (), ()),
    ("FFF.F.F.F..", Status.FAIL, "frames 1-3, 5, 7, 9: wrong at 1", (1, 2, 3, 5, 7, 9), (1, 5, 7)),  # 3 pictures
    ("..ff.", Status.FOLLOWS, "frames 3-4: follows from the gradient quad's outline", (3, 4), ()),
    (".fF.", Status.FAIL, "frame 3: wrong at 3", (3,), (3,)),  # failing on its own, it is at fault
    (".Fe", Status.ERROR, "frame 3: broke", (3,), (2,)),
    # Causes of other kinds at other frames are each said at their own frames.
    ("NNFUUN", Status.FAIL, "frames 1-2, 6: wrong at 1; frame 3: wrong at 3; frames 4-5: wrong at 4",
     (1, 2, 3, 4, 5, 6), (1,)),
])
def test_a_checks_line_over_a_turn(kinds, status, words, failing, kept):
    tally = Tally()
    assert tuple(n for n, r in enumerate(results(kinds), 1) if tally.add(n, r)) == kept
    o = tally.outcome("plain shaders", CLEAR_CHECK, range(1, len(kinds) + 1), {}, None)
    assert (o.status, o.words, o.failing, o.seconds) == (status, words, failing, 0.5 * len(kinds))
    assert o.follows == (GRADIENT_OUTLINE.id if status is Status.FOLLOWS else None)
    assert o.text() == f"{status.word} scene: clear colour (plain shaders)" + (f": {words}" if words else "")


def line(status, failing=(), check="a", scenario="s"):
    return Outcome(scenario, check, status, f"{check} ({scenario})", "" if status is Status.OK else "wrong",
                   failing=failing)


O, S, F, FO, E = Status.OK, Status.SKIP, Status.FAIL, Status.FOLLOWS, Status.ERROR


# A baseline: (check, its status there, the frames it failed at); which
# lines are known.
@pytest.mark.parametrize("lines, baseline, totals, status, known", [
    ([O, O], (), "2 passed, 0 failed", 0, "00"),
    ([O, S], (), "1 passed, 0 failed, 1 skipped", 0, "00"),
    ([O, F, FO], (), "1 passed, 1 failed, 1 following", 1, "000"),
    ([O, FO], (), "1 passed, 0 failed, 1 following", 1, "00"),
    ([F, E], (), "0 passed, 2 failed", 3, "00"),
    ([O, (F, (3,)), (FO, (4,))], [("1", F, (3,)), ("2", FO, (4, 5))], "1 passed, 0 failed, 2 known", 0, "011"),
    ([O, F, F], [("1", F, ())], "1 passed, 1 failed, 1 known", 1, "010"),  # and one more
    ([(F, (3, 4))], [("0", F, (3,))], "0 passed, 1 failed", 1, "0"),  # at a frame more
    ([(F, (3,))], [("0", FO, (3,))], "0 passed, 1 failed", 1, "0"),  # on its own, where it followed there
    ([(FO, (3,))], [("0", F, (3,))], "0 passed, 0 failed, 1 known", 0, "1"),
    ([O, E], [("1", F, ())], "1 passed, 1 failed", 3, "00"),  # an error is never known
    ([O, O], [("0", F, (3,))], "2 passed, 0 failed", 0, "10"),  # known to fail, passes now
])
def test_totals_and_status_with_a_baseline(lines, baseline, totals, status, known):
    run = RunResult(baseline={("s", c): (was, frames) for c, was, frames in baseline})
    lines = [run.add(line(*(s if isinstance(s, tuple) else (s, ())), check=str(i))) for i, s in enumerate(lines)]
    assert (run.totals().line(), run.status(), "".join(str(int(o.known)) for o in lines)) == (totals, status, known)
    for o in lines:
        if o.known and o.status.failed:
            assert o.text().endswith(": wrong (known)")
        elif o.known:
            assert o.text() == f"ok {o.name}: passes now, failed in the baseline"
        else:
            assert "known" not in o.text() and "baseline" not in o.text()


def test_a_check_named_twice_in_a_scenario_is_told_apart():
    run = RunResult()
    assert [run.add(line(s, check="frames")).check for s in (F, S, S)] == ["frames", "frames (2)", "frames (3)"]


def a_run():
    """A run of five lines, one of each kind, the FAIL with a picture."""
    run = RunResult(baseline={("project shaders", "known"): (F, (3,))})
    run.gl.update(renderer="llvmpipe", version="4.5")
    run.samples, run.window = 4, (640, 480)
    for o in (Outcome("demo", "start-up and frames", O, "demo: start-up and frames"),
              Outcome("project shaders", GRADIENT_OUTLINE.id, F, "gradient quad: place (project shaders)",
                      "frames 170-179: drawn outside", failing=tuple(range(170, 180)), seconds=1.5),
              Outcome("project shaders", CLEAR_CHECK.id, FO, "scene: clear colour (project shaders)",
                      "frames 170-179: follows from the gradient quad's outline", failing=tuple(range(170, 180)),
                      follows=GRADIENT_OUTLINE.id),
              Outcome("project shaders", "known", F, "known (project shaders)", "frame 3: wrong", failing=(3,)),
              Outcome("after a resize to 800 x 300", "it", S, "after a resize: it", "the window stayed"),
              Outcome("project shaders", ANGLE.id, E, "scene: frame N (project shaders)", "frame 2: broke")):
        run.add(o)
    return run


def test_junit_read_back(tmp_path):
    (tmp_path / "report").mkdir()
    picture = tmp_path / "report" / "02-gradient.png"
    export.write_junit(a_run(), {("project shaders", GRADIENT_OUTLINE.id): str(picture)}, str(tmp_path / "r.xml"))
    cases = [c for suite in JUnitXml.fromfile(str(tmp_path / "r.xml")) for c in suite]
    kinds = [(c.classname, c.name, [type(r) for r in c.result]) for c in cases]
    assert kinds == [("demo", "start-up and frames", []),
                     ("project shaders", GRADIENT_OUTLINE.id, [Failure]),
                     ("project shaders", CLEAR_CHECK.id, [Failure]),
                     ("project shaders", "known", [Skipped]), ("after a resize to 800 x 300", "it", [Skipped]),
                     ("project shaders", ANGLE.id, [Error])]
    assert cases[1].result[0].text == "FAIL gradient quad: place (project shaders): frames 170-179: drawn outside"
    assert cases[1].system_out == "[[ATTACHMENT|report/02-gradient.png]]" and cases[1].time == 1.5
    assert cases[2].result[0].text.endswith("\nfollows from: FAIL gradient quad: place (project shaders): "
                                            "frames 170-179: drawn outside")
    assert cases[3].result[0].text.endswith("(known)")


def test_json_read_back(tmp_path):
    path = str(tmp_path / "r.json")
    export.write_json(a_run(), {}, path)
    document = export.read(path)
    by_check = {c["check"]: c for c in document["checks"]}
    assert by_check[GRADIENT_OUTLINE.id]["failing"] == list(range(170, 180))
    assert by_check[CLEAR_CHECK.id]["follows"] == GRADIENT_OUTLINE.id
    assert (document["gl"]["renderer"], document["machine"], document["status"]) == (
        "llvmpipe", {"samples": 4, "window": [640, 480]}, 3)
    assert export.failed(document) == {("project shaders", GRADIENT_OUTLINE.id): (F, tuple(range(170, 180))),
                                       ("project shaders", CLEAR_CHECK.id): (FO, tuple(range(170, 180))),
                                       ("project shaders", "known"): (F, (3,))}


@pytest.mark.parametrize("text, error", [
    ("{", "not JSON"), ("[]", "no \"checks\""), ('{"version": 2, "checks": []}', "version 2"),
])
def test_a_file_that_is_no_run_is_refused(tmp_path, text, error):
    (tmp_path / "r.json").write_text(text)
    with pytest.raises(ValueError, match=error):
        export.read(str(tmp_path / "r.json"))


def check(status, failing=(), name="a"):
    return {"scenario": "s", "check": name, "name": f"{name} (s)", "status": status, "words": "w" * (status != "ok"),
            "failing": list(failing)}


@pytest.mark.parametrize("a, b, kind", [
    (check("ok"), check("fail", [3]), "regression"),
    (check("ok"), check("follows", [3]), "regression"),
    (check("ok"), check("error", [3]), "regression"),
    (check("fail", [3]), check("ok"), "fixed"),
    (check("fail", [3]), check("fail", [3, 4]), "moved"),
    (check("fail", [3]), check("follows", [5]), "moved"),
    (check("fail", [3]), check("follows", [3]), "changed"),
    (check("skip"), check("fail", [3]), "changed"),  # it passed nowhere
    (check("ok"), check("skip"), "changed"),
    (check("fail", [3]), check("fail", [3]), None),
    (check("ok"), check("ok", name="b"), "new"),
])
def test_compare_verdicts(a, b, kind):
    found = compare.changes({"checks": [a]}, {"checks": [b]})
    assert [k for k, _ in found] == ([] if kind is None else [kind] + ["gone"] * (kind == "new"))


def test_compare_lines_and_status(tmp_path, capsys):
    paths = []
    for name, checks in (("a", [check("ok"), check("fail", [1], "b")]),
                         ("b", [check("fail", [2]), check("ok", (), "b")])):
        paths.append(str(tmp_path / f"{name}.json"))
        with open(paths[-1], "w") as f:
            json.dump({"version": export.VERSION, "gl": {"renderer": name}, "checks": checks}, f)
    assert compare.main(["compare", paths[0], paths[1]]) == 1
    assert capsys.readouterr().out.splitlines() == [
        "regression a (s): ok, now FAIL: w", "fixed b (s): FAIL, now ok", "renderer: a, now b",
        "1 regression, 1 fixed, 0 at other frames, 0 changed, 0 new, 0 gone"]
    assert compare.main(["compare", paths[1], paths[1]]) == 0
    assert compare.main(["compare", paths[0], str(tmp_path)]) == 2
