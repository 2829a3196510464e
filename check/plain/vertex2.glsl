#version 110
attribute vec2 vertex_texture_coordinate;
varying vec2 st;
void main()
{
    st = vertex_texture_coordinate;
    gl_Position = gl_ModelViewProjectionMatrix * gl_Vertex;
}
