#!/bin/sh
# Every kind of bad or unusual input, run through the real program: each ends
# as documented (status, message) or runs on drawing frames, and none kills
# it with a signal. The sanitizer build runs this same table under ASan/UBSan.
. "$(dirname "$0")/harness.sh"
start_x

# The frame-capture library ends a running demo with status 0 after frame 5:
# status 0 proves frames kept coming.
run_frames="LD_PRELOAD=$CAPTURE CAPTURE_EXIT=5 CAPTURE_DIR=$work"
export ASAN_OPTIONS="$ASAN_OPTIONS:verify_asan_link_order=0"

# expect STATUS PATTERN NAME: runs the demo on what is in $work now.
expect() {
  rm -f "$work/stdout" "$work/stderr"
  # shellcheck disable=SC2086
  start_demo $run_frames
  wait_exit 120
  [ "$status" -lt 128 ] || fail "$3: killed by signal $((status - 128))"
  [ "$status" -eq "$1" ] || fail "$3: status $status, expected $1"
  if [ -n "$2" ]; then
    grep -Eq "$2" "$work/stderr" "$work/stdout" || fail "$3: no message matching '$2'"
  fi
  echo "ok: $3 (status $status)"
}

fresh() {
  rm -rf "$work"/*.jpg "$work"/*.glsl "$work"/output.jpg
  use_data
}

# Inputs made with the library's own tools.
mkdir "$work/in"
convert -size 64x48 gradient:orange-navy "$work/in/base.ppm"
cjpeg -quality 90 "$work/in/base.ppm" >"$work/in/base.jpg"
size=$(wc -c <"$work/in/base.jpg")

fresh; rm "$work/pacific.jpg"
expect 1 "Cannot open \"pacific.jpg\" in $work: No such file" "missing photograph"
fresh; : >"$work/pacific.jpg"
expect 1 "Empty input file" "empty photograph"
fresh; echo "not a photograph" >"$work/pacific.jpg"
expect 1 "Not a JPEG file" "text file"
fresh; convert "$work/in/base.ppm" "png:$work/pacific.jpg"
expect 1 "Not a JPEG file" "PNG named .jpg"
fresh; head -c 100 "$work/in/base.jpg" >"$work/pacific.jpg"
expect 1 "Premature end|contains no image|Corrupt" "truncated in the header"
fresh; head -c $((size * 2 / 3)) "$work/in/base.jpg" >"$work/pacific.jpg"
expect 0 "Premature end of JPEG file" "truncated in the data"
fresh; cp "$work/in/base.jpg" "$work/pacific.jpg"
printf '\377\000\123\377\000\377\000\001\002\003' |
  dd of="$work/pacific.jpg" bs=1 seek=$((size - 300)) conv=notrunc 2>/dev/null
expect 0 "Corrupt JPEG data" "corrupt entropy data"
fresh; cp "$work/in/base.jpg" "$work/pacific.jpg"
# Mark the frame as 12-bit: the byte after the SOF0 marker's length.
offset=$(od -An -tx1 -v "$work/pacific.jpg" | tr -s ' \n' '  ' | awk '{ for (i = 1; i < NF; i++) if ($i == "ff" && $(i + 1) == "c0") { print i + 3; exit } }')
printf '\014' | dd of="$work/pacific.jpg" bs=1 seek="$offset" conv=notrunc 2>/dev/null
expect 1 "Unsupported JPEG data precision 12" "12-bit precision"
fresh; cjpeg -grayscale "$work/in/base.ppm" >"$work/pacific.jpg"
expect 0 "" "grayscale"
fresh; convert "$work/in/base.ppm" -colorspace CMYK "$work/pacific.jpg"
expect 0 "" "Adobe (inverted) CMYK"
fresh; cjpeg -progressive "$work/in/base.ppm" >"$work/pacific.jpg"
expect 0 "" "progressive"
fresh; cjpeg -arithmetic "$work/in/base.ppm" >"$work/pacific.jpg"
expect 0 "" "arithmetic-coded"
for s in 1x1 33x31 4000x3000; do
  fresh; convert -size "$s" plasma:fractal -seed 1 "$work/pacific.jpg"
  expect 0 "" "$s photograph"
done

# Shader files.
fresh; rm "$work/vertex2.glsl"
expect 1 'Cannot open shader "vertex2.glsl"' "missing shader file"
fresh; : >"$work/fragment1.glsl"
expect 0 "" "empty shader file"
grep -q '^Fragment Shader code:$' "$work/stdout" || fail "empty shader: no echo"
fresh; printf '#version 110\nvoid main() { gl_FragColor = vec4(1.0) }\n' >"$work/fragment2.glsl"
expect 0 "error" "shader syntax error"
fresh; printf '#version 110\nvoid main() { gl_Position = ftransform(); }\n' >"$work/vertex2.glsl"
printf '#version 110\nuniform sampler2D image;\nvoid main() { gl_FragColor = texture2D(image, vec2(0.5)); }\n' \
  >"$work/fragment2.glsl"
expect 0 "" "texture program without the coordinate"

# "output.jpg" that cannot be written: s fails quietly and the demo runs on.
fresh; mkdir "$work/output.jpg"
start_demo
wait_window
press s
wait_traces 1
sleep 0.5
alive || fail "s onto a directory ended the demo"
[ -d "$work/output.jpg" ] || fail "the directory output.jpg was replaced"
press q
wait_exit
[ "$status" -eq 0 ] || fail "q after a failed save: status $status"
echo "ok: output.jpg is a directory"
rmdir "$work/output.jpg"
echo "bad inputs: ok"
