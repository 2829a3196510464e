#!/bin/sh
# Long use: a thousand l/s presses leave memory and descriptors flat and every
# saved file whole; 100,000 frames later the animation still turns; a close
# request from the window manager ends the program cleanly.
. "$(dirname "$0")/../harness.sh"
export ASAN_OPTIONS="$ASAN_OPTIONS:verify_asan_link_order=0"
start_x
use_data

rss() { awk '/^VmRSS:/ { print $2 }' "/proc/$demo_pid/status"; }
fds() { ls "/proc/$demo_pid/fd" | wc -l; }

start_demo
wait_window
xdotool mousemove --window "$window" 10 10
presses=0
for batch in 1 2 3 4 5 6 7 8 9 10; do
  # 50 l/s pairs, then check that the last file saved is a whole JPEG.
  keys=$(yes 'l s' | head -n 50 | tr '\n' ' ')
  # shellcheck disable=SC2086
  xdotool key --delay 2 $keys || fail "xdotool"
  presses=$((presses + 100))
  wait_traces "$presses"
  sleep 0.3
  djpeg "$work/output.jpg" 2>"$work/djpeg.err" >/dev/null || fail "output.jpg not a JPEG after $presses presses"
  [ -s "$work/djpeg.err" ] && fail "output.jpg damaged after $presses presses: $(cat "$work/djpeg.err")"
  if [ "$batch" -eq 1 ]; then rss0=$(rss); fds0=$(fds); fi
done
rss1=$(rss)
fds1=$(fds)
echo "after 100 presses: ${rss0} kB, $fds0 descriptors; after $presses: ${rss1} kB, $fds1 descriptors"
[ "$fds1" -eq "$fds0" ] || fail "open descriptors grew from $fds0 to $fds1"
[ "$rss1" -le $((rss0 + 4096)) ] || fail "resident memory grew from $rss0 kB to $rss1 kB"
alive || fail "the demo died"

# WM_DELETE_WINDOW, as a window manager sends it when the user closes it.
"$CLOSE_WINDOW" "$window" || fail "could not send the close request"
wait_exit 30
[ "$status" -eq 0 ] || fail "closing the window ended the demo with status $status"

# 100,000 frames: the angle stays in [0, 360), so frame 100,000 is drawn at
# 100,000 mod 360 = 280 degrees, exactly as frame 280 is.
start_demo LD_PRELOAD="$CAPTURE" CAPTURE_DIR="$work" CAPTURE_FRAMES=280,100000 CAPTURE_EXIT=100000
wait_exit 800
[ "$status" -eq 0 ] || fail "100,000 frames: status $status"
# The pixels, after the two header lines that name the frame.
for n in 280 100000; do tail -n +3 "$work/frame-$n.ppm" >"$work/pixels-$n"; done
cmp -s "$work/pixels-280" "$work/pixels-100000" || fail "frame 100,000 differs from frame 280"
echo "long runs: ok"
