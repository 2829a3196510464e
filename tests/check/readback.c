/* readback.c - an LD_PRELOAD library that reads GL's own state back from the
 * real demo at one frame, for what the page on how the picture is made says
 * and for the test that holds the page against GL.
 *
 *   READBACK_FRAME=N     the frame read (30 by default); frames are counted
 *                        by glClear, which the demo calls once at the start
 *                        of each.
 *   READBACK_OUT=FILE    one line a record, numbers in full precision:
 *                          begin MODE                 each glBegin of frame N, then
 *                          modelview M0 ... M15       GL_MODELVIEW_MATRIX and
 *                          projection P0 ... P15      GL_PROJECTION_MATRIX (column
 *                                                     by column, as GL gives them),
 *                          viewport X Y W H           read just before it;
 *                          vertex X Y Z WX WY WZ      each glVertex3d until glEnd,
 *                                                     and where gluProject puts it
 *                                                     with those matrices.
 *   READBACK_TEXTURE=DIR each level of the texture bound at the first
 *                        glBegin of frame N, as GL holds it, written as
 *                        DIR/level-K.ppm (binary PPM, top row first, i.e.
 *                        t = 1 at the top).
 * The matrices are read before the real glBegin: GL answers no query
 * between glBegin and glEnd. Each file is written whole: to FILE.part
 * beside it, renamed into place once written and closed (READBACK_OUT at
 * the program's exit). */
#define _GNU_SOURCE
#include <GL/gl.h>
#include <GL/glu.h>
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>

#define REAL(name)                                                                                 \
  if (!real_##name)                                                                                \
  *(void**)&real_##name = dlsym(RTLD_NEXT, #name)

static long frame;
static FILE* out;
static char out_path[4096], out_part[4200];
static GLdouble modelview[16], projection[16];
static GLint viewport[4];
static int texture_read;

static long wanted_frame(void) {
  const char* n = getenv("READBACK_FRAME");
  return n ? atol(n) : 30;
}

static void write_matrix(const char* name, const GLdouble* m) {
  fprintf(out, "%s", name);
  for (int i = 0; i < 16; ++i)
    fprintf(out, " %.17g", m[i]);
  fputc('\n', out);
}

/* Each level of the bound texture, bottom row last in the file. */
static void write_levels(const char* dir) {
  GLint alignment = 4;
  glGetIntegerv(GL_PACK_ALIGNMENT, &alignment);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  for (GLint level = 0; level < 32; ++level) {
    GLint w = 0, h = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &w);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_HEIGHT, &h);
    if (w <= 0 || h <= 0)
      break;
    const size_t row = (size_t)w * 3;
    unsigned char* pixels = malloc(row * (size_t)h);
    char path[4096], part[4200];
    snprintf(path, sizeof path, "%s/level-%d.ppm", dir, level);
    snprintf(part, sizeof part, "%s.part", path);
    FILE* f = pixels ? fopen(part, "wb") : NULL;
    int written = 0;
    if (f) {
      glGetTexImage(GL_TEXTURE_2D, level, GL_RGB, GL_UNSIGNED_BYTE, pixels);
      written = fprintf(f, "P6\n%d %d\n255\n", w, h) > 0;
      for (GLint r = h - 1; r >= 0; --r)
        written &= fwrite(pixels + (size_t)r * row, 1, row, f) == row;
      written &= fclose(f) == 0 && rename(part, path) == 0;
    }
    if (!written) {
      if (f)
        remove(part);
      fprintf(stderr, "readback: %s not written\n", path);
    }
    free(pixels);
  }
  glPixelStorei(GL_PACK_ALIGNMENT, alignment);
}

/* READBACK_OUT into place, whole, or not at all. */
static void finish_out(void) {
  if (out && (ferror(out) | fclose(out)) == 0 && rename(out_part, out_path) == 0)
    return;
  remove(out_part);
  fprintf(stderr, "readback: %s not written\n", out_path);
}

void glClear(GLbitfield mask) {
  static void (*real_glClear)(GLbitfield);
  REAL(glClear);
  ++frame;
  real_glClear(mask);
}

void glBegin(GLenum mode) {
  static void (*real_glBegin)(GLenum);
  REAL(glBegin);
  if (frame == wanted_frame()) {
    const char* dir = getenv("READBACK_TEXTURE");
    if (dir && !texture_read) {
      texture_read = 1;
      write_levels(dir);
    }
    const char* path = getenv("READBACK_OUT");
    if (path && !out && !out_path[0]) {
      snprintf(out_path, sizeof out_path, "%s", path);
      snprintf(out_part, sizeof out_part, "%s.part", path);
      if ((out = fopen(out_part, "w")))
        atexit(finish_out);
      else
        fprintf(stderr, "readback: cannot write %s\n", path);
    }
    glGetDoublev(GL_MODELVIEW_MATRIX, modelview);
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    glGetIntegerv(GL_VIEWPORT, viewport);
    if (out) {
      fprintf(out, "begin %u\n", mode);
      write_matrix("modelview", modelview);
      write_matrix("projection", projection);
      fprintf(out, "viewport %d %d %d %d\n", viewport[0], viewport[1], viewport[2], viewport[3]);
    }
  }
  real_glBegin(mode);
}

void glVertex3d(GLdouble x, GLdouble y, GLdouble z) {
  static void (*real_glVertex3d)(GLdouble, GLdouble, GLdouble);
  REAL(glVertex3d);
  if (frame == wanted_frame() && out) {
    GLdouble wx = 0, wy = 0, wz = 0;
    gluProject(x, y, z, modelview, projection, viewport, &wx, &wy, &wz);
    fprintf(out, "vertex %.17g %.17g %.17g %.17g %.17g %.17g\n", x, y, z, wx, wy, wz);
  }
  real_glVertex3d(x, y, z);
}
