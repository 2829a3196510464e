#!/bin/sh
# The shipped shaders are valid GLSL 1.10 for an independent compiler, and
# compile and link on Mesa with the names the scene looks up where it needs them.
. "$(dirname "$0")/../harness.sh"

for f in vertex1 fragment1 vertex2 fragment2; do
  case $f in vertex*) stage=vert ;; *) stage=frag ;; esac
  glslangValidator -S "$stage" "$DATA/$f.glsl" >"$work/glslang.txt" 2>&1 ||
    { cat "$work/glslang.txt"; fail "glslangValidator rejects $f.glsl"; }
done

use_data vertex1.glsl fragment1.glsl vertex2.glsl fragment2.glsl
start_x
(cd "$work" && "$SHADER_CHECK") || fail "the shader programs do not build as the scene needs"
echo "shaders: ok"
