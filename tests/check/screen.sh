#!/bin/sh
# What reaches the screen, through a real compositing manager started here as
# the X server is: Debian's picom showing the demo's window 60 % opaque (an
# opacity rule) and with every colour inverted (an inversion rule), each one
# FAIL screen line that names what the screen does and says that GL draws
# right, the run's only failing line, carried by its JSON, its JUnit XML and
# its report (screen_test.py line); the faults no compositor makes on
# request, made by the test preload in the window's front buffer after each
# swap, each named with its parameters, GL's own frames passing
# (screen_test.py faults); and a display whose root the checker may not read
# (an untrusted client's, as ssh -X makes them): it says why and holds no
# frame (screen_test.py refused). The display stands for a user's own: the
# run says that llvmpipe draws there, not the GPU's driver. A screen that
# shows the frames as drawn (no compositor, picom with no effect or with
# shadows and fading, another window over the demo's, a window manager that
# places it) passes in check.frames, with the runs there. The sanitizer build
# runs the faults and the refused read only (the capture library's holds and
# the test preload; the checker's Python is the same in both builds).
. "$(dirname "$0")/../harness.sh"
export ASAN_OPTIONS="$ASAN_OPTIONS:verify_asan_link_order=0"
start_x
unset CHECK_OWN_DISPLAY # as on a user's own display

# fails NAME WORDS: the checker, the compositor running, ends with status 1
# and one FAIL screen line saying WORDS and that GL draws right.
fails() {
  name=$1 words=$2
  status=0
  $python -m check.run --demo "$DEMO" --capture "$CAPTURE" --data "$DATA" --report "$work/$name-report" \
    --json "$work/$name.json" --junit "$work/$name.xml" >"$work/$name.out" 2>&1 || status=$?
  [ "$status" -eq 1 ] || { cat "$work/$name.out"; fail "$name: status $status, expected 1"; }
  $python "$(dirname "$0")/screen_test.py" line "$work/$name.out" "$work/$name.json" "$work/$name.xml" \
    "$work/$name-report" "$words" >"$work/stdout" 2>&1 || { cat "$work/stdout"; fail "$name"; }
  echo "ok $name: $(grep '^FAIL screen' "$work/$name.out")"
  kill "$picom_pid" && wait "$picom_pid" 2>/dev/null
}

if [ "$SANITIZED" != ON ]; then
  # NOTE: the rules match the window's name, not its class: freeglut gives
  # the demo's window no WM_CLASS, so class_g = "Demo" matches nothing.
  compositor --backend xrender --opacity-rule '60:name = "Demo"'
  fails opacity "the window is shown 60 % opaque over what lies behind it"
  grep -qx "note: llvmpipe is Mesa's software renderer: on your display the demo draws with the CPU, and the GPU's \
driver is not in use (LIBGL_ALWAYS_SOFTWARE is set)" "$work/opacity.out" || fail "no note that llvmpipe draws"
  compositor --backend xrender --invert-color-include 'name = "Demo"'
  fails inverted "every colour inverted on the screen: (64, 64, 64) shows as (191, 191, 191)"
fi

$python "$(dirname "$0")/screen_test.py" faults >"$work/stdout" 2>&1 || { cat "$work/stdout"; fail "the screen's faults"; }
echo "ok faults of the screen: $(tail -n 1 "$work/stdout")"

# A display that refuses the read: an X server that asks for a cookie, and an
# untrusted one (the X SECURITY extension's) for the checker. The server
# takes every cookie in its file, whatever display it is written for.
cookie=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
xauth -q -f "$work/server.auth" add :0 . "$cookie"
others="$others $xvfb_pid"
start_xvfb "$work" "$work/xvfb-auth.log" 640x480x24 -auth "$work/server.auth" ||
  fail "an Xvfb that asks for a cookie did not start"
xauth -q -f "$work/trusted.auth" add "$DISPLAY" . "$cookie"
cp "$work/trusted.auth" "$work/untrusted.auth"
XAUTHORITY="$work/trusted.auth" xauth -q -f "$work/untrusted.auth" generate "$DISPLAY" . untrusted timeout 600 ||
  fail "no untrusted cookie"
$python "$(dirname "$0")/screen_test.py" refused "$work/untrusted.auth" >"$work/stdout" 2>&1 ||
  { cat "$work/stdout"; fail "a display that refuses the read"; }
echo "$(cat "$work/stdout")"
echo "screen: ok"
