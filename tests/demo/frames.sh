#!/bin/sh
# What the window shows, object by object, through the same checker as
# scripts/check (tools/check.py) on Mesa's llvmpipe; the checker's own test
# on the frames it kept; and a context without OpenGL 2.0, which must be a
# FAIL line with the demo's own message, not a crash of the checker.
. "$(dirname "$0")/harness.sh"
export ASAN_OPTIONS="$ASAN_OPTIONS:verify_asan_link_order=0"
start_x
check() { python3 "$TOOLS/check.py" --demo "$DEMO" --capture "$CAPTURE" --data "$DATA" "$@"; }

check --keep "$work/kept" >"$work/stdout" 2>&1 || fail "the frame checks"
grep -q '^renderer: llvmpipe' "$work/stdout" || fail "the checks did not run on llvmpipe"
tail -n 1 "$work/stdout" | grep -Eq '^[1-9][0-9]* passed, 0 failed' || fail "no closing line"
python3 "$(dirname "$0")/check_test.py" "$work/kept" >"$work/stdout" 2>&1 || fail "the checker's own test"

status=0
MESA_GL_VERSION_OVERRIDE=1.5 check >"$work/stdout" 2>&1 || status=$?
[ "$status" -eq 1 ] || fail "without OpenGL 2.0 the checker ended with status $status, expected 1"
grep -q '^FAIL demo: start-up and frames: .*requires OpenGL version 2.0 or later. (status 255)$' \
  "$work/stdout" || fail "without OpenGL 2.0: no FAIL line with the demo's message"
grep -q '^OpenGL version: 1.5' "$work/stdout" || fail "without OpenGL 2.0: the version is not shown"
tail -n 1 "$work/stdout" | grep -qx '0 passed, 1 failed' || fail "without OpenGL 2.0: wrong closing line"
echo "frames: ok"
