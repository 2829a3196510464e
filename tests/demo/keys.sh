#!/bin/sh
# The keys as a user presses them: every key is traced in three lines, only
# lower-case q, s and l are commands, s saves the raster as it is in memory
# (flipped by the upload, as decoded after l), and a failed reload leaves
# nothing to save or draw without harming the running program.
. "$(dirname "$0")/../harness.sh"
use_data vertex1.glsl fragment1.glsl vertex2.glsl fragment2.glsl
# Top and bottom halves differ, so a flip shows.
make_jpeg -size 64x48 xc:black -fill red -draw 'rectangle 0,0 63,23' \
  -fill blue -draw 'rectangle 0,24 63,47' -quality 95 "$work/pacific.jpg"
convert "$work/pacific.jpg" -flip "$work/flipped.png"
start_x
start_demo
wait_window

# a, with the mouse at (10, 20): three lines, consecutive source lines.
press a 10 20
wait_traces 1
head -n 3 "$work/stderr" >"$work/trace"
n=$(sed -n '1s/.* on source line \([0-9]*\) of .*/\1/p' "$work/trace")
[ -n "$n" ] || fail "no line number in the trace"
printf '%s\n' \
  "dbc: key is ->a<- (0x61, 97) on source line $n of src/demo.cpp" \
  "dbi: x is 10 on source line $((n + 1)) of src/demo.cpp" \
  "dbi: y is 20 on source line $((n + 2)) of src/demo.cpp" >"$work/expected"
cmp "$work/expected" "$work/trace" || { diff "$work/expected" "$work/trace" >&2; fail "key trace"; }

# s right after start-up saves the raster as the upload left it: upside down.
press s
wait_traces 2
sleep 0.5
[ -f "$work/output.jpg" ] || fail "s wrote no output.jpg"
d=$(rmse "$work/output.jpg" "$work/flipped.png")
less_than "$d" 0.1 || fail "s did not save the flipped raster (rmse $d)"

# Upper case is no command: Q does not quit, S does not save, L does not load.
rm "$work/output.jpg"
press Q
press S
wait_traces 4
sleep 0.5
alive || fail "Q ended the demo"
[ -f "$work/output.jpg" ] && fail "S saved a file"
mv "$work/pacific.jpg" "$work/kept.jpg"
press L
press s
wait_traces 6
sleep 0.5
[ -f "$work/output.jpg" ] || fail "L dropped the raster"
rm "$work/output.jpg"

# l with the photograph gone: no raster; s says so and writes nothing, and
# frames go on.
press l
press s
wait_traces 8
sleep 0.5
alive || fail "the demo died after a failed reload"
[ -f "$work/output.jpg" ] && fail "s wrote a file with no raster"
grep -q '^Nothing to save' "$work/stderr" || fail "s with no raster said nothing"

# l with the photograph back, then s: saved as decoded, the right way up.
mv "$work/kept.jpg" "$work/pacific.jpg"
press l
press s
wait_traces 10
sleep 0.5
d=$(rmse "$work/output.jpg" "$work/pacific.jpg")
less_than "$d" 0.1 || fail "s after l did not save the raster as decoded (rmse $d)"

press q
wait_exit
[ "$status" -eq 0 ] || fail "q ended the demo with status $status"
[ "$(grep -c '^dbc: key is' "$work/stderr")" -eq 11 ] || fail "not every key was traced"
echo "keys: ok"
