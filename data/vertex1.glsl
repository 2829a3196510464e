#version 110
// Flat program: the vertex colour, blended across the face.
varying vec4 colour;

void main()
{
    colour = gl_Color;
    gl_Position = gl_ModelViewProjectionMatrix * gl_Vertex;
}
