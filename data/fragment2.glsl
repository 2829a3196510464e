#version 110
uniform sampler2D image;
varying vec2 texture_coordinate;
varying vec4 colour;

void main()
{
    gl_FragColor = texture2D(image, texture_coordinate) * colour;
}
