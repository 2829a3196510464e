"""Two runs of the checker compared, from their JSON (--json):

  python3 -m check.compare A.json B.json

Each check is matched by its scenario and its name. One line for each that
changed, in the run's own style, B's line after the colon:

  regression NAME: ok, now FAIL: ...    passed in A, fails in B
  fixed NAME: FAIL, now ok              failed in A, passes in B
  moved NAME: frames 250-254, now FAIL: frames 250-260: ...
                                        fails in both, at other frames
  changed NAME: skip, now ok            any other change of status
  new NAME: FAIL: ...                   in B only
  gone NAME: was ok                     in A only

then GL's strings that differ, and the counts. A following line and an
error fail too. Status 1 when there is a regression, 0 otherwise, 2 when a
file is no run of this checker."""
import sys

from . import export
from .results import GL, Status, frames_words

def status(check):
    return Status[check["status"].upper()]


def word(check):
    return status(check).word


def said(check):
    return f"{word(check)}: {check['words']}" if check["words"] else word(check)


def at(check):
    return frames_words(check["failing"]) if check["failing"] else "no frame named"


def changes(a, b):
    """The checks that changed from run A to run B (JSON documents), in B's
    order and then A's: [(kind, line)]."""
    key = lambda c: (c["scenario"], c["check"])
    before = {key(c): c for c in a["checks"]}
    after = {key(c): c for c in b["checks"]}
    out = []
    for k, new in after.items():
        old = before.get(k)
        if old is None:
            out.append(("new", f"{new['name']}: {said(new)}"))
            continue
        was, now = status(old).failed, status(new).failed
        if old["status"] == "ok" and now:
            out.append(("regression", f"{new['name']}: ok, now {said(new)}"))
        elif was and new["status"] == "ok":
            out.append(("fixed", f"{new['name']}: {word(old)}, now ok"))
        elif was and now and old["failing"] != new["failing"]:
            out.append(("moved", f"{new['name']}: {at(old)}, now {said(new)}"))
        elif old["status"] != new["status"]:
            out.append(("changed", f"{new['name']}: {word(old)}, now {said(new)}"))
    out += [("gone", f"{old['name']}: was {word(old)}") for k, old in before.items() if k not in after]
    return out


KINDS = (("regression", "regressions"), ("fixed", "fixed"), ("moved", "at other frames"), ("changed", "changed"),
         ("new", "new"), ("gone", "gone"))


def main(argv):
    if argv[1:] in (["-h"], ["--help"]):
        print(__doc__)
        return 0
    if len(argv) != 3:
        print("usage: python3 -m check.compare A.json B.json", file=sys.stderr)
        return 2
    try:
        a, b = (export.read(path) for path in argv[1:])
    except (OSError, ValueError) as e:
        print(f"compare: {e}", file=sys.stderr)
        return 2
    found = changes(a, b)
    for kind, line in found:
        print(f"{kind} {line}")
    for key, label in GL:
        was, now = a["gl"].get(key), b["gl"].get(key)
        if was != now:
            print(f"{label}: {was or 'unknown'}, now {now or 'unknown'}")
    kinds = [k for k, _ in found]
    print(", ".join(f"{kinds.count(k)} {k if kinds.count(k) == 1 else many}" if k == "regression"
                    else f"{kinds.count(k)} {many}" for k, many in KINDS))
    return 1 if "regression" in kinds else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
