#!/bin/sh
# What a start prints is exact: the GLEW line, each shader's source as it
# stands in its file (with any compile log), then the two link logs, in
# order; and a context without OpenGL 2.0 is refused with status 255.
. "$(dirname "$0")/../harness.sh"
use_data
start_x

glew=$(pkg-config --modversion glew) || fail "pkg-config does not know glew"

# start_and_compare WHAT: a start ended with q must print exactly: the GLEW
# line; each shader's echo, its source and one newline, then its compile log
# (from $work/NAME.log, if any) and one newline; then the flat and the
# texture program's link logs (flat.log, texture.log), each with one newline.
start_and_compare() {
  {
    printf 'Status: Using GLEW %s\n' "$glew"
    for f in vertex1 fragment1 vertex2 fragment2 flat texture; do
      case $f in vertex*) printf 'Vertex Shader code:\n' ;; fragment*) printf 'Fragment Shader code:\n' ;; esac
      [ -f "$work/$f.glsl" ] && { cat "$work/$f.glsl"; printf '\n'; }
      [ -s "$work/$f.log" ] && { cat "$work/$f.log"; printf '\n'; }
    done
  } >"$work/expected"
  start_demo
  wait_window
  press q
  wait_exit
  [ "$status" -eq 0 ] || fail "q ended the demo with status $status"
  cmp "$work/expected" "$work/stdout" || {
    diff "$work/expected" "$work/stdout" >&2
    fail "the standard output $1 differs from the expected sequence"
  }
}

# The shipped shaders compile and link without a word.
start_and_compare "at a normal start"

# A shader with a warning and one that does not compile. The logs are GL's
# own, fetched for the same sources by shader_check.
printf '#version 110\nvarying vec4 colour;\nvoid main()\n{\n    float unused;\n    gl_FragColor = colour;\n}\n' \
  >"$work/fragment1.glsl"
printf '#version 110\nvoid main()\n{\n    gl_FragColor = vec4(1.0) \n}\n' >"$work/fragment2.glsl"
(cd "$work" && "$SHADER_CHECK" --logs >/dev/null) || fail "shader_check could not fetch the logs"
grep -q error "$work/fragment2.log" || fail "GL gave no compile error for the broken shader"
start_and_compare "with broken shaders"

# Without OpenGL 2.0: the status line, the two error lines, status 255.
use_data fragment1.glsl fragment2.glsl
start_demo MESA_GL_VERSION_OVERRIDE=1.5
wait_exit
[ "$status" -eq 255 ] || fail "status $status without OpenGL 2.0, expected 255"
printf 'Status: Using GLEW %s\nError: Required extensions not supported.\n  Program requires OpenGL version 2.0 or later.\n' \
  "$glew" >"$work/expected"
cmp "$work/expected" "$work/stdout" || fail "wrong output without OpenGL 2.0"
echo "startup: ok"
