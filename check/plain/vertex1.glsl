#version 110
varying vec4 colour;
void main()
{
    colour = gl_Color;
    gl_Position = gl_ModelViewProjectionMatrix * gl_Vertex;
}
