// The floors the demo's start-up, frame rate and memory are measured against:
// the same libraries opening the same window and doing only what cannot be
// avoided.
//   bare-window start        GLEW initialised, one clear and swap
//   bare-window decode FILE  also decodes FILE with a bare libjpeg loop into a
//                            new buffer and builds its mipmaps
//   bare-window loop         clears and swaps for ever
// Run under the frame-capture library, which ends it after a chosen frame.
#include <GL/glew.h>
#include <GL/glut.h>

#include <cstdio>
#include <cstring>

#include "bare-decode.h"

static void draw() {
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glutSwapBuffers();
}

static void idle() {
  glutPostRedisplay();
}

int main(int argc, char** argv) {
  glutInit(&argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s start | decode FILE | loop\n", argv[0]);
    return 2;
  }
  int w = 0, h = 0;
  unsigned char* pixels = nullptr; // kept to the end, like the demo's raster
  if (std::strcmp(argv[1], "decode") == 0 && argc > 2 && !(pixels = bare_decode(argv[2], &w, &h)))
    return 1;
  glutInitDisplayMode(GLUT_DOUBLE | GLUT_DEPTH | GLUT_RGB);
  glutInitWindowSize(640, 480);
  glutCreateWindow("Demo");
  glewInit();
  if (pixels) {
    GLuint texture;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    gluBuild2DMipmaps(GL_TEXTURE_2D, GL_RGB, w, h, GL_RGB, GL_UNSIGNED_BYTE, pixels);
  }
  glutDisplayFunc(draw);
  if (std::strcmp(argv[1], "loop") == 0)
    glutIdleFunc(idle);
  glutMainLoop();
  return 0;
}
