# Shared by the demo's tests: runs the real binary on its own Xvfb with Mesa's
# software GL, in a fresh directory, and drives it with real key presses.
# Sourced by each test; expects DEMO (the binary) and DATA (the data folder).
set -u

export LIBGL_ALWAYS_SOFTWARE=1
export MESA_SHADER_CACHE_DISABLE=true
# Mesa's driver keeps allocations to the end of the process: no leak checks
# for GL processes, everything else still applies under the sanitizers.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"

. "$(dirname "$0")/../../scripts/lib/python.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/demo-test.XXXXXX")
xvfb_pid=""
demo_pid=""
others="" # more processes of the test's own: window managers, X servers

cleanup() {
  [ -n "$demo_pid" ] && kill -9 "$demo_pid" 2>/dev/null
  # shellcheck disable=SC2086
  kill $xvfb_pid $others 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
# Our X servers run in sessions of their own, out of Ctrl-C's reach: an
# interrupted test ends through cleanup.
trap 'exit 130' INT
trap 'exit 143' TERM

fail() {
  echo "FAIL: $*" >&2
  for f in "$work"/stdout "$work"/stderr; do
    [ -f "$f" ] && { echo "--- $(basename "$f"):" >&2; tail -n 30 "$f" >&2; }
  done
  exit 1
}

# Copies the named data files (all of them by default) into the work folder.
use_data() {
  [ $# -gt 0 ] || set -- vertex1.glsl fragment1.glsl vertex2.glsl fragment2.glsl pacific.jpg
  for f in "$@"; do cp "$DATA/$f" "$work/" || fail "no data file $f"; done
}

. "$(dirname "$0")/../../scripts/lib/xvfb.sh"

# Starts an X server of our own for this test.
start_x() {
  start_xvfb "$work" "$work/xvfb.log" || fail "Xvfb did not start"
}

# compositor OPTION...: picom on the test's display, once it has taken the
# screen (its window, "picom", is made as it takes the compositing
# selection); $picom_pid, ended with the test.
compositor() {
  picom "$@" >"$work/picom.log" 2>&1 &
  picom_pid=$!
  others="$others $picom_pid"
  timeout 10 sh -c 'until xdotool search --name "^picom$" >/dev/null 2>&1; do sleep 0.1; done' &&
    sleep 0.3 && kill -0 "$picom_pid" 2>/dev/null || { cat "$work/picom.log"; fail "picom $* did not start"; }
}

# Runs the demo in the work folder in the background; extra arguments are
# environment assignments. Output goes to $work/stdout and $work/stderr. With
# $memory_kb set, the demo gets that much address space (ulimit -v); with
# $file_blocks set, it may write no file past that many 512-byte blocks
# (ulimit -f); with $run_as set (a user name), it runs as that user.
start_demo() {
  as_user=""
  [ -z "${run_as:-}" ] ||
    as_user="setpriv --reuid=$(id -u "$run_as") --regid=$(id -g "$run_as") --clear-groups"
  # shellcheck disable=SC2086
  (cd "$work" && { [ -z "${memory_kb:-}" ] || ulimit -v "$memory_kb"; } &&
    { [ -z "${file_blocks:-}" ] || ulimit -f "$file_blocks"; } &&
    exec env "$@" $as_user "$DEMO" >stdout 2>stderr) &
  demo_pid=$!
}

# Waits for the "Demo" window to be mapped and sets $window.
wait_window() {
  window=$(timeout 60 xdotool search --sync --onlyvisible --name '^Demo$' 2>/dev/null | head -n 1)
  [ -n "$window" ] || fail "no Demo window appeared"
}

# Waits up to $2 seconds (default 60) for the demo to end; sets $status.
wait_exit() {
  limit=$((${1:-60} * 10))
  while kill -0 "$demo_pid" 2>/dev/null && [ "$limit" -gt 0 ]; do
    sleep 0.1
    limit=$((limit - 1))
  done
  kill -0 "$demo_pid" 2>/dev/null && fail "the demo did not end"
  wait "$demo_pid"
  status=$?
  demo_pid=""
}

alive() { kill -0 "$demo_pid" 2>/dev/null; }

# Presses one key with the mouse at ($2, $3) in the window (10, 10 by default).
press() {
  xdotool mousemove --window "$window" "${2:-10}" "${3:-10}" || fail "mousemove"
  sleep 0.2
  xdotool key "$1" || fail "key $1"
}

# Waits until stderr holds $1 trace lines for keys, so a key has been handled.
wait_traces() {
  limit=300
  while [ "$(grep -c '^dbc: key is' "$work/stderr" 2>/dev/null)" -lt "$1" ]; do
    limit=$((limit - 1))
    [ "$limit" -gt 0 ] || fail "the demo did not handle key press $1"
    sleep 0.1
  done
}

# Makes a JPEG in the work folder from an ImageMagick picture description.
make_jpeg() {
  convert "$@" || fail "convert $*"
}

# Root-mean-square difference of two images, normalised to 0..1.
rmse() {
  compare -metric RMSE "$1" "$2" null: 2>&1 | sed -n 's/.*(\(.*\)).*/\1/p'
}

# True when $1 < $2 for decimal numbers.
less_than() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a < b) }'; }
