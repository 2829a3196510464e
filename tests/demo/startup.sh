#!/bin/sh
# What a start prints is exact: the GLEW line, each shader's source as it
# stands in its file (with any compile log), then the two link logs, in
# order; and a context without OpenGL 2.0 is refused with status 255.
. "$(dirname "$0")/harness.sh"
use_data
start_x

glew=$(pkg-config --modversion glew) || fail "pkg-config does not know glew"
{
  printf 'Status: Using GLEW %s\n' "$glew"
  for f in vertex1 fragment1 vertex2 fragment2; do
    case $f in vertex*) printf 'Vertex Shader code:\n' ;; *) printf 'Fragment Shader code:\n' ;; esac
    cat "$work/$f.glsl"
    printf '\n'
  done
} >"$work/expected"

start_demo
wait_window
press q
wait_exit
[ "$status" -eq 0 ] || fail "q ended the demo with status $status"
cmp "$work/expected" "$work/stdout" || {
  diff "$work/expected" "$work/stdout" >&2
  fail "the standard output differs from the expected start-up sequence"
}

# A shader with a warning shows its compile log right after its source.
printf '#version 110\nvarying vec4 colour;\nvoid main()\n{\n    float unused;\n    gl_FragColor = colour;\n}\n' \
  >"$work/fragment1.glsl"
printf '#version 110\nvoid main()\n{\n    gl_FragColor = vec4(1.0) \n}\n' >"$work/fragment2.glsl"
start_demo
wait_window
press q
wait_exit
grep -q '^Fragment Shader code:$' "$work/stdout" || fail "no fragment shader echo"
# The broken fragment shader's log follows its source, and the texture
# program's link log ends the output.
awk '/^Fragment Shader code:/ { n++ } n == 2 && /error/ { found = 1 } END { exit !found }' \
  "$work/stdout" || fail "no compile error printed after the broken shader's source"
tail -n 3 "$work/stdout" | grep -qi 'error\|link' || fail "no link log at the end of the output"

# Without OpenGL 2.0: the status line, the two error lines, status 255.
use_data fragment1.glsl fragment2.glsl
start_demo MESA_GL_VERSION_OVERRIDE=1.5
wait_exit
[ "$status" -eq 255 ] || fail "status $status without OpenGL 2.0, expected 255"
printf 'Status: Using GLEW %s\nError: Required extensions not supported.\n  Program requires OpenGL version 2.0 or later.\n' \
  "$glew" >"$work/expected"
cmp "$work/expected" "$work/stdout" || fail "wrong output without OpenGL 2.0"
echo "startup: ok"
