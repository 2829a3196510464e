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

# A shader with a warning and one that does not compile: each echo, then its
# compile log and one newline, then the two link logs, each with one newline.
# The logs are GL's own, fetched for the same sources by shader_check.
printf '#version 110\nvarying vec4 colour;\nvoid main()\n{\n    float unused;\n    gl_FragColor = colour;\n}\n' \
  >"$work/fragment1.glsl"
printf '#version 110\nvoid main()\n{\n    gl_FragColor = vec4(1.0) \n}\n' >"$work/fragment2.glsl"
(cd "$work" && "$SHADER_CHECK" --logs >/dev/null) || fail "shader_check could not fetch the logs"
grep -q error "$work/fragment2.log" || fail "GL gave no compile error for the broken shader"
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
cmp "$work/expected" "$work/stdout" || {
  diff "$work/expected" "$work/stdout" >&2
  fail "the standard output with broken shaders differs from the expected sequence"
}

# Without OpenGL 2.0: the status line, the two error lines, status 255.
use_data fragment1.glsl fragment2.glsl
start_demo MESA_GL_VERSION_OVERRIDE=1.5
wait_exit
[ "$status" -eq 255 ] || fail "status $status without OpenGL 2.0, expected 255"
printf 'Status: Using GLEW %s\nError: Required extensions not supported.\n  Program requires OpenGL version 2.0 or later.\n' \
  "$glew" >"$work/expected"
cmp "$work/expected" "$work/stdout" || fail "wrong output without OpenGL 2.0"
echo "startup: ok"
