#!/bin/sh
# What the window shows, object by object, through the same checker as
# scripts/check (the package check/), on the kinds of correct machine that can be
# made here; each must pass: llvmpipe; softpipe; antialiasing forced as a
# driver's control panel forces it, 2x and 4x; a 16-bit visual with texture
# quality forced (bilinear, anisotropic, a level-of-detail bias); a tiling
# window manager (i3) that gives the window its tile as soon as it is
# mapped; a 1000 x 700 window. On llvmpipe, under 4x and under i3 the
# checker's own test then alters a good frame and puts faults into the real
# demo (check_test.py), and each must fail, named. On llvmpipe every frame
# of a whole turn must pass, with both shader sets and in other window
# sizes, whichever frame a window manager's resize lands on; and the
# scene's geometry must hold in any window size. The report of a correct
# run marks nothing; that of a run with faults marks where its lines say,
# and a browser shows it. Last, a context without OpenGL 2.0 must be one
# FAIL line with the demo's message, not a crash of the checker. The
# sanitizer build runs llvmpipe and its faults, and the last case.
. "$(dirname "$0")/../harness.sh"
export ASAN_OPTIONS="$ASAN_OPTIONS:verify_asan_link_order=0"
start_x
check() { $python -m check.run --demo "$DEMO" --capture "$CAPTURE" --data "$DATA" "$@"; }

# passes NAME VAR=VALUE...: the checker passes the correct program there,
# keeping its frames in $work/NAME and its report in $work/NAME-report.
passes() {
  name=$1
  shift
  env "$@" $python -m check.run --demo "$DEMO" --capture "$CAPTURE" --data "$DATA" --keep "$work/$name" \
    --report "$work/$name-report" >"$work/stdout" 2>&1 || fail "$name: the frame checks"
  tail -n 1 "$work/stdout" | grep -Eq '^[1-9][0-9]* passed, 0 failed' || fail "$name: no closing line"
  echo "ok $name: $(tail -n 1 "$work/stdout")"
}

# faults_fail NAME VAR=VALUE...: altered frames and faults fail there, named.
faults_fail() {
  name=$1
  shift
  env "$@" $python "$(dirname "$0")/check_test.py" faults "$work/$name" >"$work/stdout" 2>&1 ||
    fail "$name: the checker's own test"
  echo "ok $name, faults: $(tail -n 1 "$work/stdout")"
}

# every_frame SHADERS [WxH]: every frame of a turn passes, in that window.
every_frame() {
  $python "$(dirname "$0")/check_test.py" every-frame "$@" >"$work/stdout" 2>&1 ||
    fail "every frame with $*"
  tail -n 1 "$work/stdout"
}

passes llvmpipe
grep -q '^renderer: llvmpipe' "$work/stdout" || fail "the checks did not run on llvmpipe"
cp "$work/stdout" "$work/llvmpipe.out"
faults_fail llvmpipe
if [ "$SANITIZED" != ON ]; then
  # The report of the correct run, then of the demo with two faults.
  $python "$(dirname "$0")/check_test.py" report "$work/llvmpipe-report" "$work/llvmpipe.out" >"$work/stdout" 2>&1 ||
    fail "the report of a correct run"
  tail -n 1 "$work/stdout"
  status=0
  LD_PRELOAD="$INTERPOSE" FAULT=other-spin,box-edge check --report "$work/faults-report" >"$work/faults.out" 2>&1 ||
    status=$?
  [ "$status" -eq 1 ] || fail "with two faults the checker ended with status $status, expected 1"
  $python "$(dirname "$0")/check_test.py" report "$work/faults-report" "$work/faults.out" --browser \
    >"$work/stdout" 2>&1 || fail "the report of a run with faults"
  tail -n 1 "$work/stdout"

  $python "$(dirname "$0")/check_test.py" sizes >"$work/stdout" 2>&1 || fail "the scene in other window sizes"
  tail -n 1 "$work/stdout"
  every_frame "$DATA"
  every_frame "$PLAIN"
  every_frame "$DATA" 800x300
  every_frame "$DATA" 1000x700
  passes 1000x700 CAPTURE_WINDOW=1000x700
  passes softpipe GALLIUM_DRIVER=softpipe
  grep -q '^renderer: softpipe' "$work/stdout" || fail "the checks did not run on softpipe"
  # Forced antialiasing gets what the X server offers (llvmpipe: 4 samples);
  # an Xvfb with no multisampled visual (Debian 13's) offers none.
  offered=$("$SHADER_CHECK" --samples)
  for n in 2 4; do
    passes "${n}x" LD_PRELOAD="$INTERPOSE" FORCE_SAMPLES=$n
    if [ -n "$offered" ]; then
      grep -q '^multisampling: [0-9]* samples a pixel' "$work/stdout" || fail "${n}x: not multisampled"
    else
      echo "note: ${n}x: this X server offers no multisampled visual, so it ran without"
    fi
  done
  faults_fail 4x LD_PRELOAD="$INTERPOSE" FORCE_SAMPLES=4

  # Other X servers, each stopped before the next starts.
  desktop=$DISPLAY others=$xvfb_pid
  start_xvfb "$work" "$work/xvfb16.log" 1024x768x16 || fail "a 16-bit Xvfb did not start"
  passes 16-bit-textures LD_PRELOAD="$INTERPOSE" FORCE_TEXTURE=bilinear,anisotropic,lod-bias
  kill "$xvfb_pid"
  start_xvfb "$work" "$work/xvfb-i3.log" 1280x800x24 || fail "an Xvfb for i3 did not start"
  printf 'font pango:monospace 8\n' >"$work/i3.config" # no bar
  i3 -c "$work/i3.config" >"$work/i3.log" 2>&1 &
  others="$others $!"
  timeout 10 sh -c 'until xprop -root I3_SOCKET_PATH >/dev/null 2>&1; do sleep 0.1; done' || fail "i3 did not start"
  passes i3
  grep -q '^skip frames (project shaders): frame 1: drawn while the window changed size' "$work/stdout" ||
    fail "i3: frame 1 was judged, though i3 resized the window under it"
  faults_fail i3
  kill "$xvfb_pid"
  DISPLAY=$desktop
fi

status=0
MESA_GL_VERSION_OVERRIDE=1.5 check >"$work/stdout" 2>&1 || status=$?
[ "$status" -eq 1 ] || fail "without OpenGL 2.0 the checker ended with status $status, expected 1"
grep -q '^FAIL demo: start-up and frames: .*requires OpenGL version 2.0 or later. (status 255)$' \
  "$work/stdout" || fail "without OpenGL 2.0: no FAIL line with the demo's message"
grep -q '^OpenGL version: 1.5' "$work/stdout" || fail "without OpenGL 2.0: the version is not shown"
tail -n 1 "$work/stdout" | grep -qx '0 passed, 1 failed' || fail "without OpenGL 2.0: wrong closing line"
# A folder given for output that holds anything is refused, whatever holds
# it, and nothing in it is touched: --keep . from a checkout of one's own
# (scripts/check, before it installs or builds), a folder holding a file,
# and the same given to the checker itself.
mkdir -p "$work/checkout/scripts" "$work/full"
cp "$(dirname "$0")/../../scripts/check" "$work/checkout/scripts/"
echo mine >"$work/checkout/notes.txt"
echo mine >"$work/full/notes.txt"
listing() { (cd "$work" && ls -AR checkout full && cksum checkout/notes.txt checkout/scripts/check full/notes.txt); }
before=$(listing)
refused() { # FOLDER COMMAND...: run from FOLDER, it ends with status 2 and says why
  status=0
  (cd "$1" && shift && "$@") >"$work/stdout" 2>&1 || status=$?
  [ "$status" -eq 2 ] && grep -q "not an empty folder\|is not empty" "$work/stdout" ||
    fail "$*: status $status, expected 2 and a message"
}
refused "$work/checkout" sh scripts/check --keep .
refused "$work" sh checkout/scripts/check --report full
refused "$work" $python -m check.run --demo "$DEMO" --capture "$CAPTURE" --data "$DATA" --keep full
[ "$(listing)" = "$before" ] || fail "a refused folder was changed"
echo "ok refused: --keep and --report onto folders that hold something"
echo "frames: ok"
