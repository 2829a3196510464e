#!/bin/sh
# Every kind of bad or unusual input, run through the real program: each ends
# as documented (status, message) or runs on drawing frames, and none kills
# it with a signal. The sanitizer build runs this same table under ASan/UBSan.
. "$(dirname "$0")/../harness.sh"
start_x

# The frame-capture library ends a running demo with status 0 after frame 5:
# status 0 proves frames kept coming.
run_frames="LD_PRELOAD=$CAPTURE CAPTURE_EXIT=5 CAPTURE_DIR=$work"
export ASAN_OPTIONS="$ASAN_OPTIONS:verify_asan_link_order=0"

# expect STATUS PATTERN NAME [VAR=VALUE...]: runs the demo on what is in
# $work now, with the extra environment.
expect() {
  want=$1 pattern=$2 name=$3
  shift 3
  rm -f "$work/stdout" "$work/stderr"
  # shellcheck disable=SC2086
  start_demo $run_frames "$@"
  wait_exit 120
  [ "$status" -lt 128 ] || fail "$name: killed by signal $((status - 128))"
  [ "$status" -eq "$want" ] || fail "$name: status $status, expected $want"
  if [ -n "$pattern" ]; then
    grep -Eq "$pattern" "$work/stderr" "$work/stdout" || fail "$name: no message matching '$pattern'"
  fi
  echo "ok: $name (status $status)"
}

# The offset of the precision byte in the frame header of JPEG file $1.
frame_header() {
  od -An -tx1 -v "$1" | tr -s ' \n' '  ' |
    awk '{ for (i = 1; i < NF; i++) if ($i == "ff" && $(i + 1) ~ /^c[012]$/) { print i + 3; exit } }'
}

# poke FILE OFFSET BYTE...: overwrites FILE from OFFSET with the (decimal) bytes.
poke() {
  file=$1 at=$2
  shift 2
  for b; do printf "\\$(printf %03o "$b")"; done | dd of="$file" bs=1 seek="$at" conv=notrunc 2>/dev/null
}

# claim FILE WIDTH HEIGHT: FILE's frame header made to claim that size.
claim() {
  at=$(frame_header "$1")
  poke "$1" $((at + 1)) $(($3 >> 8)) $(($3 & 255)) $(($2 >> 8)) $(($2 & 255))
}

# low_memory KB: the next runs get KB kilobytes of address space, with one
# malloc arena and one llvmpipe thread, so that the demo's own share (about
# 300 MB) does not follow the machine's core count. The sanitizers reserve
# terabytes for their shadow; under them the allocator refuses any one block
# over KB instead, returning null as the system would.
low_memory() {
  if [ "$SANITIZED" = ON ]; then
    lean="ASAN_OPTIONS=$ASAN_OPTIONS:allocator_may_return_null=1:max_allocation_size_mb=$(($1 / 1024))"
  else
    memory_kb=$1 lean="MALLOC_ARENA_MAX=1 LP_NUM_THREADS=1"
  fi
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
poke "$work/pacific.jpg" "$(frame_header "$work/pacific.jpg")" 12
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

# Small files that claim a large image, where memory is limited (a shared
# machine, a container): 20000 x 20000 x 3 is 1.2 GB decoded, at start-up and
# on l; a CMYK 12000 x 12000 is 576 MB, and 432 MB more for the RGB that the
# texture gets. Each ends with the file, the size and status 1. A per-block
# limit cannot fail the RGB where the larger raster passed, so the CMYK case
# runs in the plain build only.
convert -size 16x16 gradient:red-blue "$work/in/small.ppm"
cjpeg "$work/in/small.ppm" >"$work/in/claims.jpg"
claim "$work/in/claims.jpg" 20000 20000
convert "$work/in/small.ppm" -colorspace CMYK "$work/in/claims-cmyk.jpg"
claim "$work/in/claims-cmyk.jpg" 12000 12000
too_big="a 20000 x 20000 image of 3 channels does not fit in the memory available"
low_memory 800000
fresh; cp "$work/in/claims.jpg" "$work/pacific.jpg"
# shellcheck disable=SC2086
expect 1 "^pacific.jpg: $too_big" "20000 x 20000 claimed, memory limited" $lean
fresh; cp "$work/in/claims.jpg" "$work/next.jpg"
# shellcheck disable=SC2086
expect 1 "^pacific.jpg: $too_big" "20000 x 20000 claimed, loaded by l, memory limited" $lean \
  CAPTURE_RENAME=3:next.jpg:pacific.jpg CAPTURE_KEYS=3:l
if [ "$SANITIZED" != ON ]; then
  low_memory 1000000
  fresh; cp "$work/in/claims-cmyk.jpg" "$work/pacific.jpg"
  # shellcheck disable=SC2086
  expect 1 "^pacific.jpg: a 12000 x 12000 image of 4 channels does not fit in the memory available" \
    "CMYK 12000 x 12000 claimed, memory limited" $lean
fi
memory_kb="" lean=""

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

# "output.jpg" that cannot be written: s says so in one line naming the file
# and the reason, every file stays as it was (an old output.jpg keeps every
# byte, no new file is left behind), and the demo runs on.
# cannot_save NAME REASON [unwritable]: s on what is in $work now. With
# "unwritable" the demo may not write the folder, though output.jpg is
# writable: as root (whom permissions do not stop) it runs as nobody, from a
# copy nobody can reach, in a folder of root's; otherwise the folder loses
# its write permission while s is pressed.
cannot_save() {
  name=$1 reason=$2 lock="" program=$DEMO
  if [ "${3:-}" = unwritable ]; then
    chmod a+w "$work/output.jpg"
    if [ "$(id -u)" -eq 0 ]; then
      cp "$DEMO" "$work/in/demo" && chmod a+rx "$work" "$work/in" || fail "$name: no copy"
      DEMO=$work/in/demo run_as=nobody
    else
      lock=1
    fi
  fi
  rm -f "$work/stdout" "$work/stderr"
  start_demo
  DEMO=$program run_as=""
  wait_window
  [ ! -f "$work/output.jpg" ] || cp "$work/output.jpg" "$work/in/kept.jpg"
  ls -Ap "$work" >"$work/in/before"
  [ -z "$lock" ] || chmod a-w "$work"
  press s
  wait_traces 1
  sleep 0.5
  chmod u+w "$work"
  alive || fail "$name: s ended the demo"
  ls -Ap "$work" | diff "$work/in/before" - >&2 || fail "$name: the folder changed"
  [ ! -f "$work/output.jpg" ] || cmp "$work/output.jpg" "$work/in/kept.jpg" ||
    fail "$name: output.jpg changed"
  [ "$(grep -c '^Cannot save' "$work/stderr")" -eq 1 ] &&
    grep -q "^Cannot save \"output.jpg\": $reason\$" "$work/stderr" ||
    fail "$name: no line 'Cannot save \"output.jpg\": $reason'"
  press q
  wait_exit
  [ "$status" -eq 0 ] || fail "$name: q after a failed save: status $status"
  rm -f "$work/in/kept.jpg"
  echo "ok: $name"
}
fresh; mkdir "$work/output.jpg"
cannot_save "output.jpg is a directory" "Is a directory"
rmdir "$work/output.jpg"
fresh; cp "$work/in/base.jpg" "$work/output.jpg"
file_blocks=16 # 8 kB: the shaders' echo fits, the saved photograph does not
cannot_save "a file size limit (ulimit -f)" "File too large"
file_blocks=""
fresh; cp "$work/in/base.jpg" "$work/output.jpg"
cannot_save "a folder the demo may not write" "Permission denied" unwritable
chmod go-rx "$work"
echo "bad inputs: ok"
