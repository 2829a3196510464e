#!/bin/sh
# What the window shows, frame by frame, against positions computed from the
# scene's transforms: with the project's shaders and with the plainest pair
# (vertex colour; texel unmodulated), so a fault in the program cannot hide
# behind a shader.
. "$(dirname "$0")/harness.sh"
export ASAN_OPTIONS="$ASAN_OPTIONS:verify_asan_link_order=0"
check="python3 $TOOLS/frame_check.py"
start_x

quadrants() { # WIDTH HEIGHT FILE: the four-colour test photograph
  w=$1 h=$2
  make_jpeg -size "${w}x$h" xc:white -fill red -draw "rectangle 0,0 $((w / 2 - 1)),$((h / 2 - 1))" \
    -fill lime -draw "rectangle $((w / 2)),0 $((w - 1)),$((h / 2 - 1))" \
    -fill blue -draw "rectangle 0,$((h / 2)) $((w / 2 - 1)),$((h - 1))" \
    -sampling-factor 1x1 -quality 100 "$3"
}

capture() { # FRAMES: runs the demo until the last of them, saving each
  rm -f "$work"/frame-*.ppm
  start_demo LD_PRELOAD="$CAPTURE" CAPTURE_FRAMES="$1" CAPTURE_EXIT="${1##*,}" CAPTURE_DIR="$work"
  wait_exit 120
  [ "$status" -eq 0 ] || fail "capture run ended with status $status"
}

for shaders in project plain; do
  rm -f "$work"/*.glsl
  if [ $shaders = plain ]; then cp "$TOOLS"/plain/*.glsl "$work/"; tint=1,1,1
  else use_data vertex1.glsl fragment1.glsl vertex2.glsl fragment2.glsl; tint=1,0.5,0.2; fi
  quadrants 320 240 "$work/pacific.jpg"
  capture 1,90
  $check frame90 "$work/frame-90.ppm" 320 240 || fail "frame 90, $shaders shaders"
  $check frame1 "$work/frame-1.ppm" 320 240 "$tint" || fail "frame 1, $shaders shaders"

  # Odd width and height: red left columns, blue elsewhere.
  make_jpeg -size 33x31 xc:blue -fill red -draw 'rectangle 0,0 2,30' \
    -sampling-factor 1x1 -quality 100 "$work/pacific.jpg"
  capture 90
  $check odd "$work/frame-90.ppm" 33 31 || fail "odd-sized photograph, $shaders shaders"
  echo "frames with the $shaders shaders: ok"
done

# l with a photograph of another size: the quad takes the new size at once,
# the texture stays the start-up one. Then a resize stretches the picture.
quadrants 320 240 "$work/pacific.jpg"
start_demo LD_PRELOAD="$CAPTURE" CAPTURE_DIR="$work"
wait_window
make_jpeg -size 160x100 xc:yellow "$work/pacific.jpg"
press l
wait_traces 1
grab "$work/after-l.ppm"
$check reloaded "$work/after-l.ppm" 160 100 || fail "after l"
xdotool windowsize "$window" 800 300
sleep 1.5
grab "$work/resized.ppm"
$check resized "$work/resized.ppm" 160 100 || fail "after resizing to 800 x 300"
press q
wait_exit
echo "frames: ok"
