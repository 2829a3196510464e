#!/bin/sh
# build/ as scripts/test configures it keeps its tests through scripts/run and
# through the configure-and-build that scripts/check and scripts/screenshot
# share with it, and scripts/run leaves the source tree as it was: s saves in
# build/run/. A demo that fails headless ends scripts/run with its status,
# named. All in a copy of the source tree whose build/ is configured with the
# tests and has only the demo built; scripts/run runs on an X server of the
# test's own, as on a desktop, and the test presses s and q.
# Expects SOURCE, the source tree.
. "$(dirname "$0")/../harness.sh"

copy="$work/tree"
mkdir "$copy"
for entry in "$SOURCE"/* "$SOURCE"/.gitignore; do
  case ${entry##*/} in build | build-*) ;; *) cp -R "$entry" "$copy/" || fail "copy $entry" ;; esac
done
cmake -S "$copy" -B "$copy/build" -DBUILD_TESTING=ON >"$work/configure.log" 2>&1 ||
  fail "configure: $(tail -n 5 "$work/configure.log")"
cmake --build "$copy/build" -j2 --target demo >"$work/build.log" 2>&1 ||
  fail "build: $(tail -n 5 "$work/build.log")"

# Fails unless build/ is configured with the tests and lists them ($1 says
# after what).
tests_kept() {
  grep -qx 'BUILD_TESTING:BOOL=ON' "$copy/build/CMakeCache.txt" || fail "$1 turned the tests off"
  (cd "$copy/build" && ctest -N) >"$work/ctest.out" 2>&1 || fail "ctest -N after $1"
  grep -q '^Total Tests: [1-9]' "$work/ctest.out" || fail "$1: ctest lists no tests"
}

# Every name in the source tree, build/ left out.
tree_names() { ls -AR --ignore=build "$copy"; }
tree_names >"$work/names.before"

# scripts/run with a display: s, then q.
start_x
(cd "$work" && exec sh "$copy/scripts/run" >stdout 2>stderr) &
demo_pid=$!
wait_window
press s
limit=100
until [ -s "$copy/build/run/output.jpg" ]; do
  limit=$((limit - 1))
  [ "$limit" -gt 0 ] || fail "s saved nothing in build/run/"
  sleep 0.1
done
press q
wait_exit 60
[ "$status" -eq 0 ] || fail "scripts/run ended with status $status"
grep -q 's saves the photograph as build/run/output.jpg' "$work/stdout" ||
  fail "scripts/run did not say where s saves"
tail -n 1 "$work/stdout" | grep -qx 'The demo ended with status 0.' || fail "no status line"
tests_kept "scripts/run"
tree_names | diff "$work/names.before" - >&2 || fail "scripts/run changed the source tree"

# The configure-and-build of scripts/check and scripts/screenshot.
(cd "$copy" && . scripts/lib/build.sh && build_demo demo frame_capture) >"$work/build.log" 2>&1 ||
  fail "build_demo: $(tail -n 5 "$work/build.log")"
tests_kept "build_demo demo frame_capture"

# Headless, a demo that cannot decode its photograph ends with status 1.
echo "not a photograph" >"$copy/data/pacific.jpg"
(cd "$work" && unset DISPLAY && exec sh "$copy/scripts/run" >stdout 2>stderr) &
demo_pid=$!
wait_exit 120
[ "$status" -eq 1 ] || fail "headless, scripts/run ended with status $status, not the demo's 1"
tail -n 1 "$work/stdout" | grep -qx 'The demo ended with status 1.' || fail "no status line"
