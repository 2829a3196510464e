#!/bin/sh
# The page's mathematics and its files, pure: the pytest tables in
# tests/page/test_*.py, with no X and no build, in seconds. pytest's status 5
# (no test collected) fails here too, saying so.
cd "$(dirname "$0")/../.." || exit 1
. scripts/lib/python.sh
$python -c 'import pytest' 2>/dev/null || python=/usr/bin/python3
status=0
PYTHONPATH=. PYTHONDONTWRITEBYTECODE=1 $python -m pytest -q -p no:cacheprovider tests/page/test_*.py || status=$?
[ "$status" -ne 5 ] || echo "FAIL: pytest collected no test in tests/page/test_*.py" >&2
exit "$status"
