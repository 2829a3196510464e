#version 110
// Texture program: the photograph through the sampler "image", tinted by the
// vertex colour. Reading gl_Vertex keeps the coordinate attribute off
// location 0, which aliases the position.
attribute vec2 vertex_texture_coordinate;
varying vec2 texture_coordinate;
varying vec4 colour;

void main()
{
    texture_coordinate = vertex_texture_coordinate;
    colour = gl_Color;
    gl_Position = gl_ModelViewProjectionMatrix * gl_Vertex;
}
