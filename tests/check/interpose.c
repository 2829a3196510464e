/* interpose.c - an LD_PRELOAD library that changes, under the real demo, what
 * the checker's tests need changed: settings a user may force in a driver's
 * control panel (a correct machine, which the checker must pass), and faults
 * (a wrong program, which it must fail and name); and the changes of the
 * page on how the picture is made (TRY, below).
 *
 *   FORCE_SAMPLES=N    antialiasing "override application setting: Nx": GLUT
 *                      is asked for N samples a pixel, whatever the program
 *                      asked for.
 *   FILE_LIMIT=BYTES   no file written past BYTES (RLIMIT_FSIZE), as on a full
 *                      disk: set as GLUT starts, so that only the program is
 *                      limited, not a process that starts it with this preloaded.
 *   FORCE_TEXTURE=bilinear,anisotropic,lod-bias (any of them)
 *                      texture quality: no blend between mipmap levels; 16x
 *                      anisotropic filtering; a level-of-detail bias of +1.
 *   FAULT=other-spin   the tiled quad turns the other way about y;
 *         degree-late  both quads are drawn one degree short of the frame's angle;
 *         vertical-axis  the gradient quad turns about y instead of x;
 *         box-edge     the wire box's fourth edge (front left) is not drawn;
 *         grey-as-rgb  a grayscale photograph is uploaded as RGB rows (skewed;
 *                      a third as high, so that nothing is read past the buffer);
 *         inverted     the texture's bytes inverted, as CMYK shown as stored;
 *         whole-units  translations rounded towards zero, as an odd-sized
 *                      image quad placed with integer halves;
 *         clamp        the texture clamped across (s) instead of repeating;
 *         lose-cells   the texture uploaded half as wide, its rows read at the
 *                      full width: the photograph's right half is lost;
 *         wide-lines   the wire box drawn in 3-pixel lines;
 *         tiled-larger the tiled quad drawn 15 % larger;
 *         tilted-axis  the gradient quad tumbles about an axis tilted 8 degrees
 *                      from x towards y;
 *         box-turned   the wire box turned 5 degrees about y;
 *         drop         frames 170-179: the gradient quad 30 units lower;
 *         skip         from frame 301 on: both quads a degree ahead, as if a
 *                      frame's turn had been skipped;
 *         no-box       frames 250-254: no wire box;
 *         tiled-once   the tiled quad's texture coordinates run to 1, not 2: the
 *                      photograph shown once across it, not twice each way;
 *         tint         the tiled quad tinted (1, 0.5, 0.45) instead of (1, 0.5, 0.2);
 *         white-corner the gradient quad's yellow corner white;
 *         towards-z    the gradient quad tumbles about an axis tilted 8 degrees
 *                      from x towards z.
 *   Faults of the whole frame, as a broken driver or compositor makes them:
 *         black        nothing drawn: every frame shows only the clear colour;
 *         lag          each frame shows the one before (frame 1 black), as a
 *                      swap chain a frame behind does;
 *         no-clear     every tenth frame the colour clear is skipped: the frame
 *                      before shows wherever nothing is drawn over it;
 *         gamma        the frame gamma-encoded (2.2), as a wrong sRGB setting;
 *         no-colour    every glColor lost: everything is drawn in GL's initial
 *                      white;
 *         hang         from frame 40 on, no frame drawn: the program hangs in
 *                      glClear, as a driver that stops answering.
 *   PICTURE=KIND[:A[,B...]][;KIND...]  the whole picture changed after it is
 *                      drawn (by each kind in turn), as a
 *                      driver, a wrong visual or a compositor may change it,
 *                      with parameters (positions in pixels, y down):
 *         mirror, flip, turn:D (D = 90, 180 or 270 counter-clockwise about the
 *         centre), move:DX,DY, scale:S[,SY] (about the centre), resolution:F[,1]
 *         (drawn at 1/F of the size, shown pixel-repeated, or with 1 smoothed),
 *         channels:ORDER (the channels each shows, e.g. bgr), grey (each pixel
 *         its luma), mix:M00,M01,...,M22 (each channel a mix of the three, by
 *         a 3 x 3 matrix's row, clipped to 0..255), gamma:G[,GG,GB] (encoded
 *         with G, or each channel with its own), levels:LO,HI (0..255 shown as
 *         LO..HI), posterize:N (N levels a channel), background:R,G,B (the
 *         clear colour, 0..255), late:K (each
 *         frame shows the one K before; the first K black), frozen:F (from
 *         frame F on, frame F's picture), corner:K (each quad drawn without
 *         its corner K, 0..3: a triangle of the three others), blend:A
 *         (the picture A opaque over diagonal bands of three colours, as a
 *         desktop behind a see-through window); scale:S,SY,1 samples the
 *         picture smoothed (bilinear), not pixel by pixel.
 *   TRY=...            a line of src/demo.cpp changed as a learner would change
 *                      it, for the "Try it" of the page on how the picture is
 *                      made (page/); any of them, comma-separated:
 *         near-500     gluPerspective's near plane 500 units from the eye, not 1;
 *         nearest      the texture minified GL_NEAREST, not GL_LINEAR_MIPMAP_LINEAR;
 *         unflipped    the photograph uploaded as the file holds it, top row
 *                      first, not flipped;
 *         replace      the texture environment GL_REPLACE, not GL_MODULATE.
 *   SCREEN=KIND[:A[,B...]][;KIND...]  what reaches the screen changed (by each
 *                      kind in turn), not what GL drew,
 *                      as a compositor or a display path may change it: the
 *                      kinds of PICTURE that change a drawn picture (not
 *                      resolution, background nor corner), made of the frame
 *                      the back buffer holds at the swap and painted into the
 *                      window's front buffer right after it. The back buffer,
 *                      which the capture library reads before the swap, and
 *                      every frame GL draws after stay as they were.
 * Frames are counted by glClear, which the demo calls once at the start of
 * each; a frame's own faults are made at its first glFlush, the demo's own
 * (freeglut's glutSwapBuffers calls glFlush again, after the frame has been
 * taken). */
#define _GNU_SOURCE
#define GL_GLEXT_PROTOTYPES
#include <GL/freeglut.h>
#include <GL/gl.h>
#include <GL/glu.h>
#include <GL/glx.h>
#include <dlfcn.h>
#include <math.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>
#include <string.h>

#ifndef GL_TEXTURE_MAX_ANISOTROPY_EXT
#define GL_TEXTURE_MAX_ANISOTROPY_EXT 0x84FE
#endif
#ifndef GL_TEXTURE_LOD_BIAS
#define GL_TEXTURE_LOD_BIAS 0x8501
#endif

#define REAL(name)                                                                                 \
  if (!real_##name)                                                                                \
  *(void**)&real_##name = dlsym(RTLD_NEXT, #name)

/* Whether the comma-separated list in the variable NAME holds VALUE. */
static long frame;

/* Whether this frame lies in first..last. */
static int frames(long first, long last) {
  return frame >= first && frame <= last;
}

static int setting(const char* name, const char* value) {
  const size_t n = strlen(value);
  for (const char* v = getenv(name); v && *v; v += strcspn(v, ",") + (v[strcspn(v, ",")] == ','))
    if (strncmp(v, value, n) == 0 && (v[n] == ',' || v[n] == '\0'))
      return 1;
  return 0;
}

static int picture(const char* kind, double* p, int most);
/* The variable whose kinds picture() reads: PICTURE, or SCREEN while what
 * reaches the screen is made; and the kind of it being made, where it holds
 * several, separated by ';'. */
static const char* changing = "PICTURE";
static const char* part;
/* The viewport the program asked for. */
static GLint asked[4];
static void (*real_glViewport)(GLint, GLint, GLsizei, GLsizei);

void glutInitDisplayMode(unsigned int mode) {
  static void (*real_glutInitDisplayMode)(unsigned int);
  REAL(glutInitDisplayMode);
  const char* bytes = getenv("FILE_LIMIT");
  if (bytes) {
    const struct rlimit limit = {(rlim_t)atol(bytes), (rlim_t)atol(bytes)};
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  const char* samples = getenv("FORCE_SAMPLES");
  if (samples && atoi(samples) > 1) {
    glutSetOption(GLUT_MULTISAMPLE, atoi(samples));
    mode |= GLUT_MULTISAMPLE;
  }
  real_glutInitDisplayMode(mode);
}

/* The frame before, as it was at its glFlush: GL_RGB rows, bottom first. */
static unsigned char* before;
static GLint before_w, before_h;

/* Draws RGB pixels (w x h, bottom row first) over the whole viewport, past
 * the depth test and leaving depth as it is. */
static void draw_over(const unsigned char* pixels, GLint w, GLint h) {
  glPushAttrib(GL_ENABLE_BIT | GL_PIXEL_MODE_BIT | GL_CURRENT_BIT);
  glDisable(GL_DEPTH_TEST);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glWindowPos2i(0, 0);
  glDrawPixels(w, h, GL_RGB, GL_UNSIGNED_BYTE, pixels);
  glPopAttrib();
}

void glClear(GLbitfield mask) {
  static void (*real_glClear)(GLbitfield);
  REAL(glClear);
  ++frame;
  while (setting("FAULT", "hang") && frame >= 40)
    pause();
  double p[2];
  if (picture("resolution", p, 2) && p[0] >= 1 && asked[2]) {
    REAL(glViewport);
    real_glViewport(asked[0], asked[1], (GLsizei)(asked[2] / p[0]), (GLsizei)(asked[3] / p[0]));
  }
  real_glClear(mask);
  if (setting("FAULT", "no-clear") && frame % 10 == 0 && before)
    draw_over(before, before_w, before_h); /* what the skipped clear left */
}

/* PICTURE's kind (up to its colon) is KIND; its numbers go into p[]. */
static int picture(const char* kind, double* p, int most) {
  const char* v = part ? part : getenv(changing);
  const size_t n = strlen(kind);
  if (!v || strncmp(v, kind, n) != 0 || (v[n] != ':' && v[n] != '\0' && v[n] != ';'))
    return 0;
  for (int i = 0; i < most; ++i)
    p[i] = 0;
  const char* at = v + n + (v[n] == ':');
  for (int i = 0; i < most && *at && *at != ';'; ++i) {
    char* end;
    p[i] = strtod(at, &end);
    if (end == at) { /* a word: channels:bgr */
      for (int k = 0; k < most && at[k] && at[k] != ';'; ++k)
        p[k] = at[k] == 'r' ? 0 : at[k] == 'g' ? 1 : 2;
      break;
    }
    at = *end == ',' ? end + 1 : end;
  }
  return 1;
}

/* The picture that PICTURE makes of `in` (GL_RGB rows, bottom first, w x h),
 * into `out`; past frames in `past` (the last one first) for the kinds of
 * time. */
static void change_picture(const unsigned char* in, unsigned char* out, int w, int h,
                           unsigned char** past, int kept) {
  double p[4];
  const size_t n = (size_t)w * h * 3;
  memcpy(out, in, n);
  const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0;
  /* Where each pixel comes from, as (x, y) in pixels from the top left. */
  double m[4] = {1, 0, 0, 1}, t[2] = {0, 0};
  int moves = 1, smooth = 0;
  if (picture("mirror", p, 4)) {
    m[0] = -1;
    t[0] = w - 1;
  } else if (picture("flip", p, 4)) {
    m[3] = -1;
    t[1] = h - 1;
  } else if (picture("turn", p, 4)) { /* counter-clockwise on the screen, y down */
    const double a = p[0] * M_PI / 180, c = cos(a), s = sin(a);
    m[0] = c; m[1] = -s; m[2] = s; m[3] = c;
    t[0] = cx - c * cx + s * cy;
    t[1] = cy - s * cx - c * cy;
  } else if (picture("move", p, 4)) {
    t[0] = -p[0];
    t[1] = -p[1];
  } else if (picture("scale", p, 4)) {
    const double sy = p[1] ? p[1] : p[0];
    m[0] = 1 / p[0];
    m[3] = 1 / sy;
    t[0] = cx - cx / p[0];
    t[1] = cy - cy / sy;
    smooth = p[2] != 0;
  } else {
    moves = 0;
  }
  if (moves) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        unsigned char* o = out + ((size_t)(h - 1 - y) * w + x) * 3;
        const double sx = m[0] * x + m[1] * y + t[0], sy = m[2] * x + m[3] * y + t[1];
        const int ix = (int)floor(sx + 0.5), iy = (int)floor(sy + 0.5);
        if (ix < 0 || iy < 0 || ix >= w || iy >= h)
          o[0] = o[1] = o[2] = 0;
        else if (!smooth)
          memcpy(o, in + ((size_t)(h - 1 - iy) * w + ix) * 3, 3);
        else { /* bilinear, the edges held */
          const int x0 = (int)floor(sx), y0 = (int)floor(sy);
          for (int k = 0; k < 3; ++k) {
            double v = 0;
            for (int j = 0; j < 4; ++j) {
              int px = x0 + (j & 1), py = y0 + (j >> 1);
              const double wx = (j & 1) ? sx - x0 : 1 - (sx - x0), wy = (j >> 1) ? sy - y0 : 1 - (sy - y0);
              px = px < 0 ? 0 : px >= w ? w - 1 : px;
              py = py < 0 ? 0 : py >= h ? h - 1 : py;
              v += wx * wy * in[((size_t)(h - 1 - py) * w + px) * 3 + k];
            }
            o[k] = (unsigned char)(v + 0.5);
          }
        }
      }
    return;
  }
  /* Colours by a table a level and channel, or the channels moved or mixed. */
  unsigned char table[3][256];
  double mix[9], q[3];
  int order[3] = {0, 1, 2}, tabled = 0, grey = picture("grey", p, 1), mixed = picture("mix", mix, 9);
  if (picture("channels", p, 3))
    for (int k = 0; k < 3; ++k)
      order[k] = (int)p[k];
  if ((tabled = picture("gamma", q, 3)))
    for (int k = 0; k < 3; ++k)
      for (int v = 0; v < 256; ++v)
        table[k][v] = (unsigned char)(255 * pow(v / 255.0, 1 / (q[k] ? q[k] : q[0])) + 0.5);
  else if ((tabled = picture("levels", p, 2)))
    for (int k = 0; k < 3; ++k)
      for (int v = 0; v < 256; ++v)
        table[k][v] = (unsigned char)(p[0] + (p[1] - p[0]) * v / 255.0 + 0.5);
  else if ((tabled = picture("posterize", p, 1) && p[0] >= 2))
    for (int k = 0; k < 3; ++k)
      for (int v = 0; v < 256; ++v) /* N levels, each step's shown at its middle */
        table[k][v] = (unsigned char)(((int)(v * p[0] / 256) + 0.5) * 256 / p[0]);
  double alpha = 1;
  const int blend = picture("blend", p, 1);
  if (blend)
    alpha = p[0];
  for (size_t i = 0; i < n; i += 3) {
    unsigned char* o = out + i;
    const unsigned char* c = in + i;
    for (int k = 0; k < 3; ++k) {
      const double m = mix[3 * k] * c[0] + mix[3 * k + 1] * c[1] + mix[3 * k + 2] * c[2] + 0.5;
      o[k] = tabled ? table[k][c[k]] : mixed ? (unsigned char)(m < 0 ? 0 : m > 255 ? 255 : m) : c[order[k]];
    }
    if (grey)
      o[0] = o[1] = o[2] = (unsigned char)(0.299 * c[0] + 0.587 * c[1] + 0.114 * c[2] + 0.5);
    if (blend) { /* over a desktop of diagonal bands, a colour each */
      const size_t at = i / 3;
      const int x = (int)(at % (size_t)w), y = (int)(at / (size_t)w), band = ((x + y) / 40) % 3;
      const double behind[3] = {band == 0 ? 200 : 40, band == 1 ? 160 : 60, band == 2 ? 220 : 30};
      for (int k = 0; k < 3; ++k)
        o[k] = (unsigned char)(alpha * c[k] + (1 - alpha) * behind[k] + 0.5);
    }
  }
  if (picture("late", p, 1)) {
    const int k = (int)p[0];
    if (k > kept || !past[k - 1])
      memset(out, 0, n);
    else
      memcpy(out, past[k - 1], n);
  }
  static unsigned char* still;
  if (picture("frozen", p, 1) && frame == (long)p[0] && (still = malloc(n)))
    memcpy(still, out, n);
  if (picture("frozen", p, 1) && frame > (long)p[0] && still)
    memcpy(out, still, n);
}

/* The picture that each of the kinds in `kinds` (separated by ';') makes of
 * `in` in turn, into `out`. */
static void change_in_turn(const char* kinds, const unsigned char* in, unsigned char* out, int w, int h,
                           unsigned char** past, int kept) {
  const size_t n = (size_t)w * h * 3;
  change_picture(in, out, w, h, past, kept);
  unsigned char* from = strchr(kinds, ';') ? malloc(n) : NULL;
  for (part = strchr(kinds, ';'); part && from; part = strchr(part, ';')) {
    ++part;
    memcpy(from, out, n);
    change_picture(from, out, w, h, past, kept);
  }
  free(from);
}

/* PICTURE=resolution:F[,1]: the frame is drawn into a viewport F times
 * smaller, then shown at the size asked, each pixel repeated or smoothed. */
void glViewport(GLint x, GLint y, GLsizei w, GLsizei h) {
  REAL(glViewport);
  double p[2];
  asked[0] = x, asked[1] = y, asked[2] = w, asked[3] = h;
  if (picture("resolution", p, 2) && p[0] >= 1)
    real_glViewport(x, y, (GLsizei)(w / p[0]), (GLsizei)(h / p[0]));
  else
    real_glViewport(x, y, w, h);
}

/* The low picture (lw x lh, from the bottom left) shown over the whole
 * viewport asked for. */
static void show_low(int f, int smooth) {
  const int w = asked[2], h = asked[3], lw = w / f, lh = h / f;
  unsigned char* low = malloc((size_t)lw * lh * 3);
  unsigned char* out = malloc((size_t)w * h * 3);
  if (low && out) {
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, lw, lh, GL_RGB, GL_UNSIGNED_BYTE, low);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        /* where the pixel's centre lies in the low picture, in its pixels */
        const double fx = smooth ? (x + 0.5) / f - 0.5 : x / f, fy = smooth ? (y + 0.5) / f - 0.5 : y / f;
        const int x0 = (int)floor(fx), y0 = (int)floor(fy);
        for (int k = 0; k < 3; ++k) {
          double v = 0;
          for (int j = 0; j < 4; ++j) {
            int sx = x0 + (j & 1), sy = y0 + (j >> 1);
            const double wx = (j & 1) ? fx - x0 : 1 - (fx - x0), wy = (j >> 1) ? fy - y0 : 1 - (fy - y0);
            sx = sx < 0 ? 0 : sx >= lw ? lw - 1 : sx;
            sy = sy < 0 ? 0 : sy >= lh ? lh - 1 : sy;
            v += wx * wy * low[((size_t)sy * lw + sx) * 3 + k];
          }
          out[((size_t)y * w + x) * 3 + k] = (unsigned char)(v + 0.5);
        }
      }
    real_glViewport(asked[0], asked[1], w, h); /* as asked, for whoever reads it before the next frame */
    draw_over(out, w, h);
  }
  free(low);
  free(out);
}

void glClearColor(GLclampf r, GLclampf g, GLclampf b, GLclampf a) {
  static void (*real_glClearColor)(GLclampf, GLclampf, GLclampf, GLclampf);
  REAL(glClearColor);
  double p[3];
  if (picture("background", p, 3)) {
    r = (GLclampf)(p[0] / 255);
    g = (GLclampf)(p[1] / 255);
    b = (GLclampf)(p[2] / 255);
  }
  real_glClearColor(r, g, b, a);
}

void glFlush(void) {
  static void (*real_glFlush)(void);
  static long done;
  REAL(glFlush);
  const int black = setting("FAULT", "black"), lag = setting("FAULT", "lag");
  const int gamma = setting("FAULT", "gamma"), no_clear = setting("FAULT", "no-clear");
  const char* changed = getenv("PICTURE");
  double p[2];
  if (done != frame && picture("resolution", p, 2) && p[0] >= 1) {
    done = frame;
    show_low((int)p[0], p[1] != 0);
  } else if (done != frame && changed && strncmp(changed, "background", 10) != 0 &&
             strncmp(changed, "corner", 6) != 0) {
    /* The frames drawn, the last first, as far back as a change of time needs. */
    enum { KEPT = 16 };
    static unsigned char* past[KEPT];
    done = frame;
    GLint view[4];
    glGetIntegerv(GL_VIEWPORT, view);
    const size_t n = (size_t)view[2] * view[3] * 3;
    unsigned char* now = malloc(n);
    unsigned char* shown = malloc(n);
    if (now && shown) {
      glPixelStorei(GL_PACK_ALIGNMENT, 1);
      glReadPixels(0, 0, view[2], view[3], GL_RGB, GL_UNSIGNED_BYTE, now);
      change_in_turn(changed, now, shown, view[2], view[3], past, KEPT);
      draw_over(shown, view[2], view[3]);
      free(past[KEPT - 1]);
      memmove(past + 1, past, sizeof past - sizeof *past);
      past[0] = now;
      now = NULL;
    }
    free(now);
    free(shown);
  }
  if (done != frame && (black || lag || gamma || no_clear)) {
    done = frame;
    GLint view[4];
    glGetIntegerv(GL_VIEWPORT, view);
    const size_t n = (size_t)view[2] * view[3] * 3;
    unsigned char* now = malloc(n);
    if (now) {
      glPixelStorei(GL_PACK_ALIGNMENT, 1);
      glReadPixels(0, 0, view[2], view[3], GL_RGB, GL_UNSIGNED_BYTE, now);
      unsigned char* shown = now;
      if (black)
        memset(now, 0, n);
      if (gamma)
        for (size_t i = 0; i < n; ++i)
          now[i] = (unsigned char)(255 * pow(now[i] / 255.0, 1 / 2.2) + 0.5);
      if (lag) { /* the frame before, or black for the first */
        shown = before && before_w == view[2] && before_h == view[3] ? before : calloc(n, 1);
        if (!shown)
          shown = now;
      }
      if (black || gamma || lag)
        draw_over(shown, view[2], view[3]);
      if (shown != now && shown != before)
        free(shown);
      free(before);
      before = now;
      before_w = view[2];
      before_h = view[3];
    }
  }
  real_glFlush();
}

/* SCREEN: the frame GL drew changed as SCREEN says, painted into the front
 * buffer right after the swap; the frames before, for the kinds of time, are
 * those GL drew. */
void glutSwapBuffers(void) {
  static void (*real_glutSwapBuffers)(void);
  REAL(glutSwapBuffers);
  if (!getenv("SCREEN")) {
    real_glutSwapBuffers();
    return;
  }
  enum { KEPT = 16 };
  static unsigned char* past[KEPT];
  GLint view[4];
  glGetIntegerv(GL_VIEWPORT, view);
  const size_t n = (size_t)view[2] * view[3] * 3;
  unsigned char* drawn = malloc(n);
  unsigned char* shown = malloc(n);
  if (drawn && shown) {
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, view[2], view[3], GL_RGB, GL_UNSIGNED_BYTE, drawn);
  }
  real_glutSwapBuffers();
  if (drawn && shown) {
    changing = "SCREEN";
    change_in_turn(getenv("SCREEN"), drawn, shown, view[2], view[3], past, KEPT);
    changing = "PICTURE";
    glDrawBuffer(GL_FRONT);
    draw_over(shown, view[2], view[3]);
    glFlush();
    glDrawBuffer(GL_BACK);
    free(past[KEPT - 1]);
    memmove(past + 1, past, sizeof past - sizeof *past);
    past[0] = drawn;
    drawn = NULL;
  }
  free(drawn);
  free(shown);
}

static void (*real_glColor3f)(GLfloat, GLfloat, GLfloat);
static void (*real_glColor3d)(GLdouble, GLdouble, GLdouble);

void glColor3f(GLfloat r, GLfloat g, GLfloat b) {
  REAL(glColor3f);
  if (setting("FAULT", "tint") && r == 1.0f && g == 0.5f && b == 0.2f)
    b = 0.45f;
  if (setting("FAULT", "white-corner") && r == 1 && g == 1 && b == 0)
    b = 1;
  if (!setting("FAULT", "no-colour"))
    real_glColor3f(r, g, b);
}

void glColor3d(GLdouble r, GLdouble g, GLdouble b) {
  REAL(glColor3d);
  if (!setting("FAULT", "no-colour"))
    real_glColor3d(r, g, b);
}

void glTexParameteri(GLenum target, GLenum name, GLint value) {
  static void (*real_glTexParameteri)(GLenum, GLenum, GLint);
  static void (*real_glTexParameterf)(GLenum, GLenum, GLfloat);
  REAL(glTexParameteri);
  REAL(glTexParameterf);
  if (name == GL_TEXTURE_WRAP_S && setting("FAULT", "clamp"))
    value = GL_CLAMP_TO_EDGE;
  if (name == GL_TEXTURE_MIN_FILTER && setting("FORCE_TEXTURE", "bilinear"))
    value = GL_LINEAR_MIPMAP_NEAREST;
  if (name == GL_TEXTURE_MIN_FILTER && setting("TRY", "nearest"))
    value = GL_NEAREST;
  real_glTexParameteri(target, name, value);
  if (name == GL_TEXTURE_MIN_FILTER && setting("FORCE_TEXTURE", "anisotropic"))
    real_glTexParameterf(target, GL_TEXTURE_MAX_ANISOTROPY_EXT, 16);
  if (name == GL_TEXTURE_MIN_FILTER && setting("FORCE_TEXTURE", "lod-bias"))
    real_glTexParameterf(target, GL_TEXTURE_LOD_BIAS, 1);
}

void glTexEnvf(GLenum target, GLenum name, GLfloat value) {
  static void (*real_glTexEnvf)(GLenum, GLenum, GLfloat);
  REAL(glTexEnvf);
  if (name == GL_TEXTURE_ENV_MODE && setting("TRY", "replace"))
    value = GL_REPLACE;
  real_glTexEnvf(target, name, value);
}

void gluPerspective(GLdouble fovy, GLdouble aspect, GLdouble near, GLdouble far) {
  static void (*real_gluPerspective)(GLdouble, GLdouble, GLdouble, GLdouble);
  REAL(gluPerspective);
  if (setting("TRY", "near-500"))
    near = 500;
  real_gluPerspective(fovy, aspect, near, far);
}

void glRotatef(GLfloat angle, GLfloat x, GLfloat y, GLfloat z) {
  static void (*real_glRotatef)(GLfloat, GLfloat, GLfloat, GLfloat);
  REAL(glRotatef);
  if (setting("FAULT", "other-spin") && y != 0)
    angle = -angle;
  if (setting("FAULT", "degree-late")) /* the tiled quad turns by -angle */
    angle += y != 0 ? 1 : -1;
  if (setting("FAULT", "skip") && frame >= 301 && (x != 0 || y != 0))
    angle += y != 0 ? -1 : 1;
  if (setting("FAULT", "vertical-axis") && x != 0) {
    x = 0;
    y = 1;
  }
  if (setting("FAULT", "tilted-axis") && x != 0)
    y = 0.1405f; /* tan(8 degrees) */
  if (setting("FAULT", "towards-z") && x != 0)
    z = 0.1405f;
  real_glRotatef(angle, x, y, z);
  if (setting("FAULT", "tiled-larger") && y != 0)
    glScalef(1.15f, 1.15f, 1.15f);
}

void glScalef(GLfloat x, GLfloat y, GLfloat z) {
  static void (*real_glScalef)(GLfloat, GLfloat, GLfloat);
  REAL(glScalef);
  if (setting("FAULT", "box-turned") && x == 400)
    glRotatef(5, 0, 1, 0);
  real_glScalef(x, y, z);
}

void glTranslatef(GLfloat x, GLfloat y, GLfloat z) {
  static void (*real_glTranslatef)(GLfloat, GLfloat, GLfloat);
  REAL(glTranslatef);
  if (setting("FAULT", "whole-units")) {
    x = (GLfloat)(int)x;
    y = (GLfloat)(int)y;
  }
  if (setting("FAULT", "drop") && frames(170, 179) && y == -100)
    y -= 30;
  real_glTranslatef(x, y, z);
}

static GLenum primitive;
static int vertices;

void glBegin(GLenum mode) {
  static void (*real_glBegin)(GLenum);
  REAL(glBegin);
  primitive = mode;
  vertices = 0;
  if (mode == GL_LINES && setting("FAULT", "wide-lines"))
    glLineWidth(3);
  double p[1];
  if (mode == GL_QUADS && picture("corner", p, 1))
    mode = GL_TRIANGLES; /* the three corners left */
  real_glBegin(mode);
}

void glVertex3d(GLdouble x, GLdouble y, GLdouble z) {
  static void (*real_glVertex3d)(GLdouble, GLdouble, GLdouble);
  REAL(glVertex3d);
  const int n = vertices++;
  if (primitive == GL_LINES && (n == 6 || n == 7) && setting("FAULT", "box-edge"))
    return;
  if (primitive == GL_LINES && frames(250, 254) && setting("FAULT", "no-box"))
    return;
  double p[1];
  if (primitive == GL_QUADS && picture("corner", p, 1) && n % 4 == (int)p[0])
    return;
  real_glVertex3d(x, y, z);
}

GLint gluBuild2DMipmaps(GLenum target, GLint internal, GLsizei width, GLsizei height, GLenum format,
                        GLenum type, const void* data) {
  static GLint (*real_gluBuild2DMipmaps)(GLenum, GLint, GLsizei, GLsizei, GLenum, GLenum,
                                         const void*);
  REAL(gluBuild2DMipmaps);
  if (format == GL_RGB && setting("FAULT", "lose-cells")) {
    glPixelStorei(GL_UNPACK_ROW_LENGTH, width);
    const GLint status =
        real_gluBuild2DMipmaps(target, internal, width / 2, height, format, type, data);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    return status;
  }
  if (format == GL_LUMINANCE && setting("FAULT", "grey-as-rgb"))
    return real_gluBuild2DMipmaps(target, internal, width, height / 3, GL_RGB, type, data);
  if (setting("TRY", "unflipped") && type == GL_UNSIGNED_BYTE) {
    /* The demo flipped the rows, bottom first, as GL takes them: flipped
     * back, GL gets them as the file holds them. Rows are tightly packed
     * (the demo's GL_UNPACK_ALIGNMENT is 1). */
    const size_t row = (size_t)width * (format == GL_LUMINANCE ? 1 : format == GL_LUMINANCE_ALPHA ? 2 : 3);
    unsigned char* rows = malloc(row * (size_t)height);
    for (GLsizei r = 0; rows && r < height; ++r)
      memcpy(rows + (size_t)r * row, (const unsigned char*)data + (size_t)(height - 1 - r) * row, row);
    const GLint status =
        real_gluBuild2DMipmaps(target, internal, width, height, format, type, rows ? rows : data);
    free(rows);
    return status;
  }
  if (format == GL_RGB && setting("FAULT", "inverted")) {
    const size_t n = (size_t)width * height * 3;
    unsigned char* inverted = malloc(n);
    for (size_t i = 0; inverted && i < n; ++i)
      inverted[i] = (unsigned char)(255 - ((const unsigned char*)data)[i]);
    const GLint status = real_gluBuild2DMipmaps(target, internal, width, height, format, type,
                                                inverted ? inverted : data);
    free(inverted);
    return status;
  }
  return real_gluBuild2DMipmaps(target, internal, width, height, format, type, data);
}

/* GLEW reaches glVertexAttrib2fv, which gives the texture coordinates, by
 * asking GLX for its address: tiled-once hands it a function of its own. */
static void (*real_glVertexAttrib2fv)(GLuint, const GLfloat*);

static void tiled_once_coordinate(GLuint index, const GLfloat* st) {
  const GLfloat once[2] = {st[0] == 2 ? 1 : st[0], st[1] == 2 ? 1 : st[1]};
  real_glVertexAttrib2fv(index, once);
}

__GLXextFuncPtr glXGetProcAddressARB(const GLubyte* name) {
  static __GLXextFuncPtr (*real_glXGetProcAddressARB)(const GLubyte*);
  REAL(glXGetProcAddressARB);
  __GLXextFuncPtr f = real_glXGetProcAddressARB(name);
  if (f && setting("FAULT", "tiled-once") && strcmp((const char*)name, "glVertexAttrib2fv") == 0) {
    real_glVertexAttrib2fv = (void (*)(GLuint, const GLfloat*))f;
    return (__GLXextFuncPtr)tiled_once_coordinate;
  }
  return f;
}
