/* readback.c - an LD_PRELOAD library that reads GL's own state back from the
 * real demo at one frame, for what the page on how the picture is made says
 * and for the test that holds the page against GL.
 *
 *   READBACK_FRAME=N     the frame read (30 by default); frames are counted
 *                        by glClear, which the demo calls once at the start
 *                        of each.
 *   READBACK_OUT=FILE    one line a record, numbers in full precision:
 *                          depth_bits B               GL_DEPTH_BITS, once, first;
 *                          begin MODE                 each glBegin of frame N, then
 *                          modelview M0 ... M15       GL_MODELVIEW_MATRIX and
 *                          projection P0 ... P15      GL_PROJECTION_MATRIX (column
 *                                                     by column, as GL gives them),
 *                          viewport X Y W H           read just before it;
 *                          vertex X Y Z WX WY WZ      each glVertex3d until glEnd,
 *                                                     and where gluProject puts it
 *                                                     with those matrices;
 *                          samples N                  at its glEnd: how many of the
 *                                                     primitive's fragments passed
 *                                                     the depth test (an occlusion
 *                                                     query, GL_SAMPLES_PASSED).
 *   READBACK_TEXTURE=DIR each level of the texture bound at the first
 *                        glBegin of frame N, as GL holds it, written as
 *                        DIR/level-K.ppm (binary PPM, top row first, i.e.
 *                        t = 1 at the top).
 *   READBACK_DEPTH=FILE  the depth buffer at the first glFlush of frame N
 *                        (the demo's own, once everything is drawn): the
 *                        line "depth W H B", then W x H unsigned 32-bit
 *                        numbers in the machine's byte order, bottom row
 *                        first, each as glReadPixels gives GL_UNSIGNED_INT
 *                        (the buffer's B-bit value in the top B bits).
 * The matrices are read before the real glBegin: GL answers no query
 * between glBegin and glEnd. Each file is written whole: to FILE.part
 * beside it, renamed into place once written and closed (READBACK_OUT at
 * the program's exit). */
#define _GNU_SOURCE
#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/glu.h>
#include <GL/glx.h>
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
static int texture_read, depth_read;
/* The occlusion query of the primitive between glBegin and glEnd, or 0. */
static GLuint query;
static PFNGLGENQUERIESPROC gen_queries;
static PFNGLBEGINQUERYPROC begin_query;
static PFNGLENDQUERYPROC end_query;
static PFNGLGETQUERYOBJECTUIVPROC query_result;

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

/* A file written whole: PATH.part renamed to PATH once every byte is out. */
static int finish_file(FILE* f, int written, const char* part, const char* path) {
  written &= !ferror(f);
  written &= fclose(f) == 0 && rename(part, path) == 0;
  if (!written) {
    remove(part);
    fprintf(stderr, "readback: %s not written\n", path);
  }
  return written;
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
    if (f) {
      glGetTexImage(GL_TEXTURE_2D, level, GL_RGB, GL_UNSIGNED_BYTE, pixels);
      int written = fprintf(f, "P6\n%d %d\n255\n", w, h) > 0;
      for (GLint r = h - 1; r >= 0; --r)
        written &= fwrite(pixels + (size_t)r * row, 1, row, f) == row;
      finish_file(f, written, part, path);
    } else {
      fprintf(stderr, "readback: %s not written\n", path);
    }
    free(pixels);
  }
  glPixelStorei(GL_PACK_ALIGNMENT, alignment);
}

/* The whole depth buffer of the viewport, bottom row first. */
static void write_depth(const char* path) {
  GLint view[4], bits = 0;
  glGetIntegerv(GL_VIEWPORT, view);
  glGetIntegerv(GL_DEPTH_BITS, &bits);
  const size_t n = (size_t)view[2] * (size_t)view[3];
  GLuint* depth = malloc(n * sizeof *depth);
  char part[4200];
  snprintf(part, sizeof part, "%s.part", path);
  FILE* f = depth ? fopen(part, "wb") : NULL;
  if (f) {
    GLint alignment = 4;
    glGetIntegerv(GL_PACK_ALIGNMENT, &alignment);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(view[0], view[1], view[2], view[3], GL_DEPTH_COMPONENT, GL_UNSIGNED_INT, depth);
    glPixelStorei(GL_PACK_ALIGNMENT, alignment);
    int written = fprintf(f, "depth %d %d %d\n", view[2], view[3], bits) > 0;
    written &= fwrite(depth, sizeof *depth, n, f) == n;
    finish_file(f, written, part, path);
  } else {
    fprintf(stderr, "readback: %s not written\n", path);
  }
  free(depth);
}

/* READBACK_OUT into place, whole, or not at all. */
static void finish_out(void) {
  if (out)
    finish_file(out, 1, out_part, out_path);
}

/* The occlusion query's functions, GL 1.5's, as GL hands them out. */
static int have_queries(void) {
  if (!gen_queries) {
    gen_queries = (PFNGLGENQUERIESPROC)glXGetProcAddress((const GLubyte*)"glGenQueries");
    begin_query = (PFNGLBEGINQUERYPROC)glXGetProcAddress((const GLubyte*)"glBeginQuery");
    end_query = (PFNGLENDQUERYPROC)glXGetProcAddress((const GLubyte*)"glEndQuery");
    query_result = (PFNGLGETQUERYOBJECTUIVPROC)glXGetProcAddress((const GLubyte*)"glGetQueryObjectuiv");
  }
  return gen_queries && begin_query && end_query && query_result;
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
      if ((out = fopen(out_part, "w"))) {
        atexit(finish_out);
        GLint bits = 0;
        glGetIntegerv(GL_DEPTH_BITS, &bits);
        fprintf(out, "depth_bits %d\n", bits);
      } else {
        fprintf(stderr, "readback: cannot write %s\n", path);
      }
    }
    glGetDoublev(GL_MODELVIEW_MATRIX, modelview);
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    glGetIntegerv(GL_VIEWPORT, viewport);
    if (out) {
      fprintf(out, "begin %u\n", mode);
      write_matrix("modelview", modelview);
      write_matrix("projection", projection);
      fprintf(out, "viewport %d %d %d %d\n", viewport[0], viewport[1], viewport[2], viewport[3]);
      if (have_queries()) {
        if (!query)
          gen_queries(1, &query);
        begin_query(GL_SAMPLES_PASSED, query);
      }
    }
  }
  real_glBegin(mode);
}

void glEnd(void) {
  static void (*real_glEnd)(void);
  REAL(glEnd);
  real_glEnd();
  if (frame == wanted_frame() && out && query && have_queries()) {
    GLuint passed = 0;
    end_query(GL_SAMPLES_PASSED);
    query_result(query, GL_QUERY_RESULT, &passed);
    fprintf(out, "samples %u\n", passed);
  }
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

void glFlush(void) {
  static void (*real_glFlush)(void);
  REAL(glFlush);
  const char* path = getenv("READBACK_DEPTH");
  if (frame == wanted_frame() && path && !depth_read) {
    depth_read = 1;
    write_depth(path);
  }
  real_glFlush();
}
