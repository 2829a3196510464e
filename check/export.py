"""A run's result (results.RunResult) as files other tools read: JUnit XML,
a test case a line, as CI shows results per test; and one JSON document,
which a later run takes as its baseline and check.compare reads. A
picture's path is written relative to the file's own folder. Each file is
written whole (report.write_whole)."""
import json
import os
import re
import time
import xml.etree.ElementTree as ET

from .report import write_whole
from .results import Status

# The JSON document's version: a reader refuses any other.
VERSION = 1


def relative(path, to):
    """`path` from the folder of the file `to`: CI takes an attachment from
    the project's folder, where the XML is written."""
    return path and os.path.relpath(path, os.path.dirname(to))


def write_junit(result, pictures, path):
    """One test suite, "check": a test case a line, its class the scenario
    and its name the check; a FAIL a failure whose text is the line (a
    following one's also names the line it follows from), a skip skipped
    (a failure the baseline knows, too), an error an error; GL's strings
    as properties; the picture beside the report attached (GitLab's and
    Jenkins' [[ATTACHMENT|path]] in system-out)."""
    root = ET.Element("testsuites", name="check")
    suite = ET.SubElement(root, "testsuite", name="check",
                          timestamp=time.strftime("%Y-%m-%dT%H:%M:%S", time.localtime(result.started)),
                          time=f"{(result.ended or time.time()) - result.started:.3f}")
    properties = ET.SubElement(suite, "properties")
    notes = {**result.gl, **machine(result), **speed(result)}
    for key, value in notes.items():
        ET.SubElement(properties, "property", name=key, value=value if isinstance(value, str) else json.dumps(value))
    for o in result.outcomes:
        case = ET.SubElement(suite, "testcase", classname=o.scenario, name=o.check, time=f"{o.seconds:.3f}")
        line = o.text()
        if o.known and o.status.failed:
            # NOTE: a known failure is skipped, not failed: CI's page shows
            # red only where the run's status does.
            ET.SubElement(case, "skipped", message="a failure the baseline has too").text = line
        elif o.status is Status.ERROR:
            ET.SubElement(case, "error", message=o.words, type="error").text = line
        elif o.status.failed:
            cause = result.cause(o)
            ET.SubElement(case, "failure", message=o.words, type=o.status.kind).text = line + (
                f"\nfollows from: {cause.text()}" if cause else "")
        elif o.status is Status.SKIP:
            ET.SubElement(case, "skipped", message=o.words).text = line
        if (o.scenario, o.check) in pictures:
            ET.SubElement(case, "system-out").text = f"[[ATTACHMENT|{relative(pictures[o.scenario, o.check], path)}]]"
    counts = {kind: str(len(suite.findall(f"testcase/{kind}"))) for kind in ("failure", "error", "skipped")}
    suite.attrib.update(tests=str(len(result.outcomes)), failures=counts["failure"], errors=counts["error"],
                        skipped=counts["skipped"])
    ET.indent(root)
    write_whole(path, ET.tostring(root, encoding="utf-8", xml_declaration=True) + b"\n")


def machine(result):
    """The machine's notes: the samples a pixel and the window's size."""
    return {"samples": result.samples, "window": list(result.window) if result.window else None}


def speed(result):
    """The seconds from exec to the first frame, and the frames a second."""
    return {"first_frame_s": result.first_frame and round(result.first_frame, 4),
            "frame_rate": result.frame_rate and round(result.frame_rate, 1)}


def write_json(result, pictures, path):
    """The run as one document (docs/check.md gives its schema), a list of
    frame numbers on one line."""
    document = {
        "version": VERSION, "started": time.strftime("%Y-%m-%dT%H:%M:%S%z", time.localtime(result.started)),
        "seconds": round((result.ended or time.time()) - result.started, 3), "gl": result.gl,
        "machine": machine(result), **speed(result),
        "checks": [{"scenario": o.scenario, "check": o.check, "name": o.name, "object": o.object,
                    "status": o.status.kind, "words": o.words, "frames": list(o.frames), "failing": list(o.failing),
                    "follows": o.follows, "follows_scenario": o.follows and (o.follows_in or o.scenario),
                    "known": o.known, "seconds": round(o.seconds, 4),
                    "picture": relative(pictures.get((o.scenario, o.check)), path)} for o in result.outcomes],
        "totals": result.totals()._asdict(), "status": result.status()}
    text = re.sub(r"\[\n\s*(\d+(?:,\n\s*\d+)*)\n\s*\]", lambda m: "[" + re.sub(r",\n\s*", ", ", m.group(1)) + "]",
                  json.dumps(document, indent=1))  # a newline is never inside a string
    write_whole(path, (text + "\n").encode())


def read(path):
    """A run's JSON document; ValueError where the file holds none of this
    version."""
    with open(path, encoding="utf-8") as f:
        try:
            document = json.load(f)
        except json.JSONDecodeError as e:
            raise ValueError(f"not JSON ({e})") from None
    if not isinstance(document, dict) or not isinstance(document.get("checks"), list):
        raise ValueError("not a run of the checker (no \"checks\")")
    if document.get("version") != VERSION:
        raise ValueError(f"a run of version {document.get('version')!r}, this checker reads version {VERSION}")
    return document


def failed(document):
    """{(scenario, check): (results.Status, frames)} of each check that
    failed in a run (an error is no failure of the machine's, and never
    known)."""
    return {(c["scenario"], c["check"]): (Status[c["status"].upper()], tuple(c["failing"]))
            for c in document["checks"] if c["status"] in ("fail", "follows")}
