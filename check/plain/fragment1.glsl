#version 110
varying vec4 colour;
void main()
{
    gl_FragColor = colour;
}
