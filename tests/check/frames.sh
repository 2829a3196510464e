#!/bin/sh
# What the window shows, object by object, through the same checker as
# scripts/check (the package check/), which judges every frame of a whole
# turn, on the kinds of correct machine that can be made here; each must
# pass: llvmpipe; softpipe; antialiasing forced as a driver's control panel
# forces it, 2x and 4x; a 16-bit visual with texture quality forced
# (bilinear, anisotropic, a level-of-detail bias); a tiling window manager
# (i3) that gives the window its tile as soon as it is mapped, and a
# stacking one (openbox); a 1000 x 700 window; and what reaches the screen
# shown as drawn there, under a compositing manager with no effect on the
# window's pixels (picom, and picom with shadows and fading in), with another
# X client's window raised over the demo's (the covered share said, the rest
# judged), and skipped where the screen cannot be read (16 bits a pixel,
# which the checker's reader does not take). On llvmpipe, under 4x and
# under i3 the checker's own test then alters a good frame and puts faults
# into the real demo (check_test.py), and each must fail on the object at
# fault, named; faults at some frames of the turn must fail at those frames,
# in the lines, the JSON and the JUnit XML, and check.compare must name them
# against the correct run; a later correct run with that run as its
# baseline says each of them passes now; faults of the whole frame (nothing
# drawn, a frame of lag, the frame before showing through) must be named
# once, with their frames (the time of a run that draws nothing is said
# beside a correct run's). The report of a correct run marks
# nothing; that of a run with faults marks where its lines say, and a
# browser shows it. The checker's own failures are lines, never a
# traceback: frames the capture could not save, an old report file that
# cannot be removed; Ctrl-C stops it at once. Last, a context without
# OpenGL 2.0 must be one FAIL line with the demo's message, not a crash of
# the checker, and with the JSON of such a run as its baseline, status 0.
# The sanitizer build runs llvmpipe and its faults, and the last case.
. "$(dirname "$0")/../harness.sh"
export ASAN_OPTIONS="$ASAN_OPTIONS:verify_asan_link_order=0"
start_x
check() { $python -m check.run --demo "$DEMO" --capture "$CAPTURE" --data "$DATA" "$@"; }

# passes NAME VAR=VALUE...: the checker passes the correct program there,
# keeping its frames in $work/NAME, its report in $work/NAME-report, its
# JUnit and JSON in $work/NAME.xml and .json; $also: more of its options.
also=""
passes() {
  name=$1
  shift
  started=$(date +%s.%N)
  # shellcheck disable=SC2086
  env "$@" $python -m check.run --demo "$DEMO" --capture "$CAPTURE" --data "$DATA" --keep "$work/$name" \
    --report "$work/$name-report" --junit "$work/$name.xml" --json "$work/$name.json" $also >"$work/stdout" 2>&1 ||
    fail "$name: the frame checks"
  awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN { print b - a }' >"$work/$name.seconds"
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

# fails_with STATUS NAME VAR=VALUE...: the checker ends with STATUS there,
# its output in $work/NAME.out, its report in $work/NAME-report, its JUnit
# and JSON in $work/NAME.xml and .json; never a traceback.
fails_with() {
  want=$1 name=$2
  shift 2
  status=0
  started=$(date +%s.%N)
  env "$@" $python -m check.run --demo "$DEMO" --capture "$CAPTURE" --data "$DATA" \
    --report "$work/$name-report" --junit "$work/$name.xml" --json "$work/$name.json" >"$work/$name.out" 2>&1 ||
    status=$?
  awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN { print b - a }' >"$work/$name.seconds"
  [ "$status" -eq "$want" ] || { cat "$work/$name.out"; fail "$name: status $status, expected $want"; }
  ! grep -q Traceback "$work/$name.out" || { cat "$work/$name.out"; fail "$name: a traceback"; }
}

# screen_shown NAME [WORDS]: the run's screen line says the frames are shown as
# drawn (with WORDS after it).
screen_shown() {
  grep -Eq "^ok screen: shows the frames as drawn \([0-9]+ frames\)${2:-}\$" "$work/stdout" ||
    fail "$1: $(grep '^[a-zA-Z]* screen' "$work/stdout"), expected the frames shown as drawn${2:+ and $2}"
}

passes llvmpipe
grep -q '^renderer: llvmpipe' "$work/stdout" || fail "the checks did not run on llvmpipe"
screen_shown llvmpipe
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

  # Faults at some frames of the turn only: the gradient quad dropped at
  # frames 170-179, no box at 250-254, every frame from 301 on a degree ahead.
  fails_with 1 motion LD_PRELOAD="$INTERPOSE" FAULT=drop,no-box,skip
  $python "$(dirname "$0")/check_test.py" motion "$work/motion.out" "$work/motion.xml" "$work/motion.json" \
    "$work/llvmpipe.json" >"$work/stdout" 2>&1 || { cat "$work/stdout"; fail "faults at some frames"; }
  tail -n 1 "$work/stdout"

  # Faults of the whole frame, as a broken driver or compositor makes them:
  # each named once with its frames, everything else following.
  # Two changes of the whole picture made after it is drawn, of kinds that
  # the fault table tries at a frame: the whole turn names each once.
  for fault in black lag no-clear PICTURE=mirror PICTURE=late:2; do
    name=$(echo "$fault" | tr '=:' '--')
    case $fault in *=*) set -- "$fault" ;; *) set -- "FAULT=$fault" ;; esac
    fails_with 1 "$name" LD_PRELOAD="$INTERPOSE" "$@"
    $python "$(dirname "$0")/check_test.py" whole "$fault" "$work/$name.out" \
      $([ "$fault" = black ] && echo "$(cat "$work/black.seconds") $(cat "$work/llvmpipe.seconds")") \
      >"$work/stdout" 2>&1 || { cat "$work/stdout" "$work/$name.out"; fail "the whole frame: $fault"; }
    tail -n 1 "$work/stdout"
  done

  # The run's limits say who was slow, with the limits made short: a demo
  # that stops drawing at frame 40 (the demo's line, GL's strings as the
  # capture library wrote them after the first swap), and a checker that
  # judges too slowly (its own error, not the demo's).
  limited() { # FRAME_SECONDS JUDGE_SECONDS NAME VAR=VALUE...: the checker with those limits
    frame_s=$1 judge_s=$2 name=$3
    shift 3
    status=0
    env "$@" $python -c "import sys; from check import run; from check.demo import Limits; \
sys.exit(run.main(sys.argv, Limits(frame=$frame_s, judge=$judge_s)))" --demo "$DEMO" --capture "$CAPTURE" --data "$DATA" \
      --report "$work/$name-report" >"$work/$name.out" 2>&1 || status=$?
  }
  limited 3 60 hang LD_PRELOAD="$INTERPOSE" FAULT=hang
  [ "$status" -eq 1 ] && grep -q '^FAIL demo: start-up and frames: .*(status a time-out: no frame for 3 s, after frame 39)$' \
    "$work/hang.out" && grep -q '^renderer: llvmpipe' "$work/hang.out" ||
    { cat "$work/hang.out"; fail "a demo that stops drawing: status $status"; }
  limited 60 0.001 slow
  [ "$status" -eq 3 ] && grep -q '^error checker: [0-9]* frames waiting to be judged, none judged for 0.001 s' \
    "$work/slow.out" && ! grep -q '^FAIL demo' "$work/slow.out" ||
    { cat "$work/slow.out"; fail "a checker that falls behind: status $status"; }
  echo "ok the run's limits: $(grep '^FAIL demo' "$work/hang.out"); $(grep '^error checker' "$work/slow.out")"

  # A correct run with the faulty one as its baseline: each of its failures
  # passes now, and says so.
  also="--baseline $work/motion.json"
  compositor --backend xrender --shadow --fading
  passes 1000x700 CAPTURE_WINDOW=1000x700
  kill "$picom_pid"
  also=""
  screen_shown "1000x700, picom with shadows and fading"
  for line in 'gradient quad: place and tumble (project shaders)' 'wire box: 12 edges (plain shaders)'; do
    grep -Fqx "ok $line: passes now, failed in the baseline" "$work/stdout" ||
      fail "1000x700: $line not said to pass now"
  done
  compositor --backend xrender
  passes softpipe GALLIUM_DRIVER=softpipe
  kill "$picom_pid"
  grep -q '^renderer: softpipe' "$work/stdout" || fail "the checks did not run on softpipe"
  screen_shown "softpipe, picom"
  # Forced antialiasing gets what the X server offers (llvmpipe: 4 samples);
  # an Xvfb with no multisampled visual (Debian 13's) offers none.
  offered=$("$SHADER_CHECK" --samples)
  for n in 2 4; do
    # At 2x, another client's window over the middle of the demo's, raised as
    # soon as the first Demo window is mapped.
    [ "$n" = 4 ] || (xdotool search --sync --onlyvisible --name '^Demo$' >/dev/null &&
      exec xev -geometry 300x200+170+140 >/dev/null) &
    over=$!
    others="$others $over"
    passes "${n}x" LD_PRELOAD="$INTERPOSE" FORCE_SAMPLES=$n
    kill "$over" 2>/dev/null
    screen_shown "${n}x" "$([ "$n" = 4 ] || echo '; [0-9]+ % of the window covered by other windows, the rest judged')"
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
  grep -q '^skip screen: the screen could not be read: unsupported bit depth: 16$' "$work/stdout" ||
    fail "16 bits: $(grep '^[a-zA-Z]* screen' "$work/stdout"), expected a skip saying why"
  stop_xvfb
  start_xvfb "$work" "$work/xvfb-i3.log" 1280x800x24 || fail "an Xvfb for i3 did not start"
  printf 'font pango:monospace 8\n' >"$work/i3.config" # no bar
  i3 -c "$work/i3.config" >"$work/i3.log" 2>&1 &
  others_wm=$!
  others="$others $others_wm"
  timeout 10 sh -c 'until xprop -root I3_SOCKET_PATH >/dev/null 2>&1; do sleep 0.1; done' || fail "i3 did not start"
  passes i3
  screen_shown i3
  grep -Eq '^skip frames \(project shaders\): frames? 1(-[0-9]+)?: drawn while the window changed size' "$work/stdout" ||
    fail "i3: frame 1 was judged, though i3 resized the window under it"
  faults_fail i3
  kill "$others_wm" 2>/dev/null
  wait "$others_wm" 2>/dev/null
  # The server outlives its clients' properties too: i3's mark of a window
  # manager stays on the root until removed.
  xprop -root -remove _NET_SUPPORTING_WM_CHECK
  openbox >"$work/openbox.log" 2>&1 &
  others_wm=$!
  others="$others $others_wm"
  timeout 10 sh -c 'until xprop -root _NET_SUPPORTING_WM_CHECK >/dev/null 2>&1; do sleep 0.1; done' ||
    fail "openbox did not start"
  passes openbox
  screen_shown openbox
  stop_xvfb
  DISPLAY=$desktop CHECK_OWN_DISPLAY=$desktop

  # The checker's own failures are its lines, status 3: frames the capture
  # could not save (a file size limit in the demo, as on a full disk), and an
  # old picture in its report folder that cannot be removed (a folder in
  # its place, beside a copy of the demo).
  fails_with 3 unsaved LD_PRELOAD="$INTERPOSE" FILE_LIMIT=200000
  grep -q '^error capture: frame 1 not saved: File too large' "$work/unsaved.out" ||
    fail "a frame that could not be saved: no error capture line"
  ! grep -q '^FAIL' "$work/unsaved.out" || fail "frames that could not be saved blamed on the machine"
  mkdir -p "$work/bin/check-report/01-old-picture.png"
  cp "$DEMO" "$work/bin/demo"
  status=0
  $python -m check.run --demo "$work/bin/demo" --capture "$CAPTURE" --data "$DATA" >"$work/stuck.out" 2>&1 ||
    status=$?
  [ "$status" -eq 3 ] && grep -q '^error checker: .*01-old-picture.png' "$work/stuck.out" &&
    ! grep -q Traceback "$work/stuck.out" || { cat "$work/stuck.out"; fail "an old report picture that cannot be removed"; }
  echo "ok the checker's own failures: $(head -n 1 "$work/unsaved.out")"

  # Ctrl-C: SIGINT to the whole process group, as a terminal sends it, to
  # scripts/check headless: it stops at once, no FAIL line, the closing
  # line, status 130, and neither its scratch folders nor its Xvfb are left.
  mkdir "$work/tmp"
  (cd "$SOURCE" && TMPDIR="$work/tmp" exec setsid env -u DISPLAY sh scripts/check --report "$work/int-report") \
    >"$work/int.out" 2>&1 &
  group=$!
  timeout 300 sh -c "until ls '$work'/tmp/demo-check.*/project/stderr >/dev/null 2>&1; do sleep 0.2; done" ||
    fail "Ctrl-C: the check never started judging"
  sleep 1
  server=$(pgrep -P "$group" -x Xvfb) || fail "Ctrl-C: scripts/check has no Xvfb of its own"
  kill -s INT -- "-$group"
  status=0
  wait "$group" || status=$?
  [ "$status" -eq 130 ] || { cat "$work/int.out"; fail "Ctrl-C: status $status, expected 130"; }
  grep -q '^interrupted' "$work/int.out" && tail -n 1 "$work/int.out" | grep -Eq '^[0-9]+ passed, [0-9]+ failed' ||
    { cat "$work/int.out"; fail "Ctrl-C: no line saying so, or no closing line"; }
  ! grep -q '^FAIL\|Traceback' "$work/int.out" || { cat "$work/int.out"; fail "Ctrl-C blamed the machine"; }
  [ -z "$(ls -A "$work/tmp")" ] || fail "Ctrl-C left $(ls "$work/tmp")"
  sleep 1
  ! kill -0 "$server" 2>/dev/null || fail "Ctrl-C left scripts/check's Xvfb running"
  echo "ok Ctrl-C: $(tail -n 2 "$work/int.out" | head -n 1)"
fi

status=0
MESA_GL_VERSION_OVERRIDE=1.5 check --json "$work/gl15.json" >"$work/stdout" 2>&1 || status=$?
[ "$status" -eq 1 ] || fail "without OpenGL 2.0 the checker ended with status $status, expected 1"
grep -q '^FAIL demo: start-up and frames: .*requires OpenGL version 2.0 or later. (status 255)$' \
  "$work/stdout" || fail "without OpenGL 2.0: no FAIL line with the demo's message"
grep -q '^OpenGL version: 1.5' "$work/stdout" || fail "without OpenGL 2.0: the version is not shown"
tail -n 1 "$work/stdout" | grep -qx '0 passed, 1 failed' || fail "without OpenGL 2.0: wrong closing line"
# The same fault, with that run as its baseline: known, and status 0.
status=0
MESA_GL_VERSION_OVERRIDE=1.5 check --baseline "$work/gl15.json" >"$work/stdout" 2>&1 || status=$?
[ "$status" -eq 0 ] && grep -q '^FAIL demo: start-up and frames: .*(status 255) (known)$' "$work/stdout" &&
  tail -n 1 "$work/stdout" | grep -qx '0 passed, 0 failed, 1 known' ||
  fail "without OpenGL 2.0, its own run as the baseline: status $status, expected 0 and the line known"
# A folder given for output that holds anything is refused, whatever holds
# it, and nothing in it is touched: --keep . from a checkout of one's own
# (scripts/check, before it installs or builds), a folder holding a file,
# and the same given to the checker itself; so is a folder given as a file.
mkdir -p "$work/checkout/scripts" "$work/full"
cp "$(dirname "$0")/../../scripts/check" "$work/checkout/scripts/"
echo mine >"$work/checkout/notes.txt"
echo mine >"$work/full/notes.txt"
listing() { (cd "$work" && ls -AR checkout full && cksum checkout/notes.txt checkout/scripts/check full/notes.txt); }
before=$(listing)
refused() { # FOLDER COMMAND...: run from FOLDER, it ends with status 2 and says why
  status=0
  (cd "$1" && shift && "$@") >"$work/stdout" 2>&1 || status=$?
  [ "$status" -eq 2 ] && grep -q "not an empty folder\|is not empty\|is a folder" "$work/stdout" ||
    fail "$*: status $status, expected 2 and a message"
}
refused "$work/checkout" sh scripts/check --keep .
refused "$work" sh checkout/scripts/check --report full
refused "$work" $python -m check.run --demo "$DEMO" --capture "$CAPTURE" --data "$DATA" --keep full
refused "$work" sh checkout/scripts/check --junit full
refused "$work" sh checkout/scripts/check --baseline full
refused "$work" $python -m check.run --demo "$DEMO" --capture "$CAPTURE" --data "$DATA" --json full
[ "$(listing)" = "$before" ] || fail "a refused folder was changed"
echo "ok refused: --keep and --report onto folders that hold something, --junit, --json and --baseline onto folders"
echo "frames: ok"
