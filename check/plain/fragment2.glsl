#version 110
uniform sampler2D image;
varying vec2 st;
void main()
{
    gl_FragColor = texture2D(image, st);
}
