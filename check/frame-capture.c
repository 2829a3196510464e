/* frame-capture.c - an LD_PRELOAD library that saves and times chosen frames
 * of a GLUT program, and drives it from inside at chosen frames. check/capture.py
 * is its other half: it builds this environment and reads what is written here.
 *
 * Interposes glutSwapBuffers: counts frames (1 is the first) and, before the
 * real swap of each frame listed in CAPTURE_FRAMES (comma-separated numbers
 * N and ranges N-M), reads the back buffer (the whole viewport) into
 * CAPTURE_DIR/frame-N.ppm. Files are binary PPM, top row first, with these
 * comments after the magic number:
 *   # frame N
 *   # window WxH since frame S   the window's size as GLUT has it, unchanged
 *                                since the swap of frame S (0: the size the
 *                                program asked glutInitWindowSize for)
 *   # drawable WxH               its size as GLX has it
 *   # viewport X Y W H
 *   # samples N                  GL_SAMPLES: 0 without multisampling
 *   # positions X0 Y0 X1 Y1 ...  with multisampling on GL 3.2 or later, where
 *                                each sample lies in its pixel (0..1, y up)
 * A frame drawn in a window that changed size at the last swap may have
 * been drawn into buffers of the old size, whatever GL and GLUT say. A file
 * is renamed into place only once all of it is written, flushed and closed,
 * so a caller can wait for it to appear; a frame that cannot be written so
 * (a full disk, no memory) is not saved, and the reason goes to stderr
 * ("frame-capture: frame N not saved: REASON") and to report.txt.
 * CAPTURE_AHEAD=K: before saving a frame, wait while K frame-*.ppm files lie
 * in CAPTURE_DIR, so that a caller that judges and removes them as they
 * come holds at most K at once.
 *
 * After the real swap of frame N, in this order:
 *   CAPTURE_RENAME=N:FROM:TO   renames the file FROM to TO;
 *   CAPTURE_KEYS=N:KEYS        calls the program's keyboard callback (kept by
 *                              interposing glutKeyboardFunc) with each
 *                              character of KEYS, the mouse at (0, 0);
 *   CAPTURE_RESIZE=N:WxH       asks GLUT for a W x H window; the first frame
 *                              drawn with a W x H viewport in a window of that
 *                              size since the swap before last is saved as
 *                              CAPTURE_DIR/resized.ppm and the process ends
 *                              (after 3 s without one, the frame of the moment
 *                              is saved and it ends all the same).
 * CAPTURE_WINDOW=WxH gives the window W x H at its creation, whatever size the
 * program asks for, as a window manager may.
 * The process ends with status 0 after the swap of frame CAPTURE_EXIT, or
 * CAPTURE_SECONDS seconds after the first swap, whichever comes first.
 *
 * CAPTURE_HOLD=LIST (as CAPTURE_FRAMES): after the real swap of each frame
 * listed, before anything else is done at it, the program is held, so that
 * what reaches the screen can settle and be read: the library writes
 * CAPTURE_DIR/held-N.txt (renamed into place whole), one "key=value" a line,
 *   frame=N
 *   window=X Y W H    the window's drawable: its top left on the root window
 *                     and its size
 *   screen=W H        the root window's size
 *   above=X Y W H     a viewable window stacked above the program's top-level
 *                     window (another client's, a window manager's), its
 *                     rectangle on the root, borders included; one line each
 *   xwayland=1        where the X server is Xwayland, whose root window is not
 *                     what a Wayland compositor shows
 * and waits until that file is removed, at most CAPTURE_HOLD_SECONDS (10 by
 * default). Before removing it the caller may write CAPTURE_DIR/hold.txt (a
 * LIST, renamed into place whole): from the next frame on it stands for
 * CAPTURE_HOLD.
 *
 * Ending so, it prints its peak resident memory ("peak_rss_kb=K") on stderr.
 * With CAPTURE_DIR set it also writes CAPTURE_DIR/report.txt after the first
 * swap and again at any exit,
 * one "key=value" a line: renderer, vendor, version, glsl (GL's strings, read
 * once glutCreateWindow has made a context), frames, first_swap_ns and
 * last_swap_ns (CLOCK_MONOTONIC at the end of the first and the last swap),
 * and an "error=..." line for each frame that could not be saved. */
#define _GNU_SOURCE
#include <GL/gl.h>
#include <X11/Xlib.h>
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#ifndef GL_SHADING_LANGUAGE_VERSION
#define GL_SHADING_LANGUAGE_VERSION 0x8B8C
#endif

static long frame;
static void (*keyboard)(unsigned char, int, int);
static char gl_strings[4][256];
static long long first_swap_ns, last_swap_ns;
static int resize_w, resize_h;
static long long resize_since_ns;
static int window_w, window_h; /* at the last swap */
static long window_since;
/* Why frames could not be saved, for report.txt: one line each, the first few. */
static char errors[1024];

static long long now_ns(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

static void read_gl_strings(void) {
  static const GLenum names[4] = {GL_RENDERER, GL_VENDOR, GL_VERSION, GL_SHADING_LANGUAGE_VERSION};
  for (int i = 0; i < 4; ++i) {
    const char* s = (const char*)glGetString(names[i]);
    snprintf(gl_strings[i], sizeof gl_strings[i], "%s", s ? s : "");
  }
}

static void write_report(void) {
  const char* dir = getenv("CAPTURE_DIR");
  if (!dir)
    return;
  char path[4096], part[4200];
  snprintf(path, sizeof path, "%s/report.txt", dir);
  snprintf(part, sizeof part, "%s.part", path);
  FILE* f = fopen(part, "w");
  if (!f)
    return;
  fprintf(f, "renderer=%s\nvendor=%s\nversion=%s\nglsl=%s\n", gl_strings[0], gl_strings[1],
          gl_strings[2], gl_strings[3]);
  fprintf(f, "frames=%ld\nfirst_swap_ns=%lld\nlast_swap_ns=%lld\n%s", frame, first_swap_ns,
          last_swap_ns, errors);
  if (fclose(f) == 0)
    rename(part, path);
  else
    remove(part);
}

__attribute__((constructor)) static void install(void) {
  atexit(write_report);
}

/* The value of NAME=N:REST when N is this frame: REST, else null. */
static const char* at_this_frame(const char* name) {
  const char* v = getenv(name);
  char* rest;
  if (!v || strtol(v, &rest, 10) != frame || *rest != ':')
    return NULL;
  return rest + 1;
}

/* Whether frame N is in LIST: numbers and ranges, comma-separated. */
static int listed(const char* list, long n) {
  while (list && *list) {
    char* end;
    const long first = strtol(list, &end, 10);
    long last = first;
    if (end == list)
      break;
    if (*end == '-') {
      const char* to = end + 1;
      last = strtol(to, &end, 10);
      if (end == to)
        break;
    }
    if (n >= first && n <= last)
      return 1;
    list = *end == ',' ? end + 1 : end;
  }
  return 0;
}

/* Whether frame N is in CAPTURE_FRAMES. */
static int wanted(long n) {
  return listed(getenv("CAPTURE_FRAMES"), n);
}

/* Waits while CAPTURE_AHEAD frames or more lie in CAPTURE_DIR, unjudged. */
static void wait_for_room(const char* dir) {
  const char* ahead = getenv("CAPTURE_AHEAD");
  const long most = ahead ? atol(ahead) : 0;
  for (long waiting = most; most > 0 && waiting >= most;) {
    DIR* d = opendir(dir);
    waiting = 0;
    for (struct dirent* e; d && (e = readdir(d));)
      waiting += strncmp(e->d_name, "frame-", 6) == 0 && strstr(e->d_name, ".ppm") &&
                 !strstr(e->d_name, ".part");
    if (d)
      closedir(d);
    if (waiting >= most) {
      const struct timespec pause = {0, 1000000}; /* 1 ms */
      nanosleep(&pause, NULL);
    }
  }
}

/* Notes that frame N could not be saved, and why, on stderr and for report.txt. */
static void not_saved(const char* why) {
  fprintf(stderr, "frame-capture: frame %ld not saved: %s\n", frame, why);
  const size_t used = strlen(errors);
  if (used + 200 < sizeof errors)
    snprintf(errors + used, sizeof errors - used, "error=frame %ld not saved: %s\n", frame, why);
}

static void* symbol(const char* name) {
  return dlsym(RTLD_DEFAULT, name);
}

/* The window's size as GLUT has it, into window_w and window_h, and the swap
 * since which it has had it. */
static void track_window(void) {
  int (*get)(int);
  *(void**)&get = symbol("glutGet");
  /* 102 and 103: GLUT_WINDOW_WIDTH and GLUT_WINDOW_HEIGHT */
  const int w = get ? get(102) : 0, h = get ? get(103) : 0;
  if (w != window_w || h != window_h)
    window_since = frame;
  window_w = w;
  window_h = h;
}

/* The current drawable's size as GLX has it; 0 x 0 where it cannot say. */
static void drawable_size(unsigned* w, unsigned* h) {
  void* (*display)(void);
  unsigned long (*drawable)(void);
  void (*query)(void*, unsigned long, int, unsigned*);
  *(void**)&display = symbol("glXGetCurrentDisplay");
  *(void**)&drawable = symbol("glXGetCurrentDrawable");
  *(void**)&query = symbol("glXQueryDrawable");
  *w = *h = 0;
  if (display && drawable && query && display() && drawable()) {
    query(display(), drawable(), 0x801D, w); /* GLX_WIDTH */
    query(display(), drawable(), 0x801E, h); /* GLX_HEIGHT */
  }
}

/* Writes GL's sample positions as a PPM comment, where GL 3.2 tells them. */
static void write_positions(FILE* f, int samples) {
  int major = 0, minor = 0;
  void (*(*address)(const unsigned char*))(void);
  void (*get)(GLenum, GLuint, GLfloat*) = NULL;
  *(void**)&address = symbol("glXGetProcAddressARB");
  if (samples < 2 || sscanf(gl_strings[2], "%d.%d", &major, &minor) != 2 ||
      major * 10 + minor < 32 || !address)
    return;
  get = (void (*)(GLenum, GLuint, GLfloat*))address((const unsigned char*)"glGetMultisamplefv");
  if (!get)
    return;
  fprintf(f, "# positions");
  for (int i = 0; i < samples; ++i) {
    GLfloat p[2] = {0.5f, 0.5f};
    get(0x8E50, (GLuint)i, p); /* GL_SAMPLE_POSITION */
    fprintf(f, " %g %g", p[0], p[1]);
  }
  fprintf(f, "\n");
}

/* Saves the back buffer (the whole viewport) as NAME in CAPTURE_DIR, whole or
 * not at all. */
static void save(const char* name) {
  GLint view[4], samples = 0;
  glGetIntegerv(GL_VIEWPORT, view);
  glGetIntegerv(GL_SAMPLES, &samples);
  unsigned drawable_w, drawable_h;
  drawable_size(&drawable_w, &drawable_h);
  const int w = view[2], h = view[3];
  unsigned char* pixels = malloc((size_t)w * h * 3 + 1);
  if (!pixels) {
    not_saved(strerror(ENOMEM));
    return;
  }
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadBuffer(GL_BACK);
  glReadPixels(view[0], view[1], w, h, GL_RGB, GL_UNSIGNED_BYTE, pixels);
  const char* dir = getenv("CAPTURE_DIR");
  char path[4096], part[4200];
  snprintf(path, sizeof path, "%s/%s", dir ? dir : ".", name);
  snprintf(part, sizeof part, "%s.part", path);
  wait_for_room(dir ? dir : ".");
  FILE* f = fopen(part, "wb");
  int error = f ? 0 : errno;
  if (f) {
    fprintf(f, "P6\n# frame %ld\n# window %dx%d since frame %ld\n# drawable %ux%u\n", frame,
            window_w, window_h, window_since, drawable_w, drawable_h);
    fprintf(f, "# viewport %d %d %d %d\n# samples %d\n", view[0], view[1], w, h, samples);
    write_positions(f, samples);
    fprintf(f, "%d %d\n255\n", w, h);
    for (int y = h - 1; y >= 0 && !error; --y) /* GL's rows run bottom to top */
      if (fwrite(pixels + (size_t)y * w * 3, 1, (size_t)w * 3, f) != (size_t)w * 3)
        error = errno ? errno : EIO;
    if (!error && fflush(f) != 0)
      error = errno;
    if (fclose(f) != 0 && !error)
      error = errno;
    if (!error && rename(part, path) != 0)
      error = errno;
    if (error)
      remove(part);
  }
  if (error)
    not_saved(strerror(error));
  free(pixels);
}

/* The frames to hold after: CAPTURE_HOLD, or the caller's hold.txt once it
 * has written one. */
static char hold_list[4096];
static int hold_replaced;

static const char* holds(void) {
  return hold_replaced ? hold_list : getenv("CAPTURE_HOLD");
}

/* X errors while the windows are looked at (one destroyed meanwhile) are
 * ignored: a window gone is no window above. */
static int ignore_x_error(Display* d, XErrorEvent* e) {
  (void)d;
  (void)e;
  return 0;
}

/* Writes what held-N.txt says of the window: its place and size, the
 * screen's size, the windows above it, Xwayland. */
static void describe_window(FILE* f) {
  Display* (*display)(void);
  Window (*drawable)(void);
  *(void**)&display = symbol("glXGetCurrentDisplay");
  *(void**)&drawable = symbol("glXGetCurrentDrawable");
  Display* d = display ? display() : NULL;
  const Window w = d && drawable ? drawable() : 0;
  if (!w)
    return;
  XSync(d, False);
  int (*before)(Display*, XErrorEvent*) = XSetErrorHandler(ignore_x_error);
  XWindowAttributes a, r;
  int x, y;
  Window child, root, parent, *children = NULL;
  unsigned n = 0;
  if (XGetWindowAttributes(d, w, &a) && XGetWindowAttributes(d, a.root, &r) &&
      XTranslateCoordinates(d, w, a.root, 0, 0, &x, &y, &child)) {
    fprintf(f, "window=%d %d %d %d\nscreen=%d %d\n", x, y, a.width, a.height, r.width, r.height);
    Window top = w; /* the program's top-level window: the root's child that holds it */
    while (XQueryTree(d, top, &root, &parent, &children, &n) && parent != root && parent) {
      if (children)
        XFree(children);
      children = NULL;
      top = parent;
    }
    if (children)
      XFree(children);
    children = NULL;
    if (XQueryTree(d, a.root, &root, &parent, &children, &n)) {
      unsigned i = 0; /* bottom to top: the windows after ours are above it */
      while (i < n && children[i] != top)
        ++i;
      for (++i; i < n; ++i) {
        XWindowAttributes o;
        if (XGetWindowAttributes(d, children[i], &o) && o.map_state == IsViewable &&
            o.class == InputOutput)
          fprintf(f, "above=%d %d %d %d\n", o.x, o.y, o.width + 2 * o.border_width,
                  o.height + 2 * o.border_width);
      }
      if (children)
        XFree(children);
    }
  }
  int opcode, event, error;
  if (XQueryExtension(d, "XWAYLAND", &opcode, &event, &error))
    fprintf(f, "xwayland=1\n");
  XSync(d, False);
  XSetErrorHandler(before);
}

/* Holds the program after this frame's swap until the caller removes
 * held-N.txt (at most CAPTURE_HOLD_SECONDS), then takes hold.txt's list
 * where the caller wrote one. */
static void hold(void) {
  const char* dir = getenv("CAPTURE_DIR");
  char path[4096], part[4200];
  snprintf(path, sizeof path, "%s/held-%ld.txt", dir ? dir : ".", frame);
  snprintf(part, sizeof part, "%s.part", path);
  FILE* f = fopen(part, "w");
  if (!f)
    return;
  fprintf(f, "frame=%ld\n", frame);
  describe_window(f);
  if (fclose(f) != 0 || rename(part, path) != 0) {
    remove(part);
    return;
  }
  const char* limit = getenv("CAPTURE_HOLD_SECONDS");
  const long long until = now_ns() + (long long)((limit ? atof(limit) : 10) * 1e9);
  while (access(path, F_OK) == 0 && now_ns() < until) {
    const struct timespec pause = {0, 1000000}; /* 1 ms */
    nanosleep(&pause, NULL);
  }
  remove(path);
  snprintf(path, sizeof path, "%s/hold.txt", dir ? dir : ".");
  FILE* list = fopen(path, "r");
  if (list) {
    const size_t got = fread(hold_list, 1, sizeof hold_list - 1, list);
    hold_list[got] = '\0';
    hold_replaced = 1;
    fclose(list);
  }
}

static void finish(void) {
  FILE* status = fopen("/proc/self/status", "r");
  char line[256];
  while (status && fgets(line, sizeof line, status))
    if (strncmp(line, "VmHWM:", 6) == 0)
      fprintf(stderr, "peak_rss_kb=%ld\n", strtol(line + 6, NULL, 10));
  if (status)
    fclose(status);
  fflush(stdout);
  exit(0);
}

/* GL's strings as soon as there is a context: a program may end before it
 * ever swaps (one that refuses the GL it got, say). */
int glutCreateWindow(const char* title) {
  static int (*real)(const char*);
  if (!real)
    *(void**)&real = dlsym(RTLD_NEXT, "glutCreateWindow");
  const int window = real(title);
  read_gl_strings();
  return window;
}

/* The size asked for is the window's until a swap finds another: a window
 * manager may give it another before the first frame. */
void glutInitWindowSize(int w, int h) {
  static void (*real)(int, int);
  if (!real)
    *(void**)&real = dlsym(RTLD_NEXT, "glutInitWindowSize");
  const char* forced = getenv("CAPTURE_WINDOW");
  if (forced)
    sscanf(forced, "%dx%d", &w, &h);
  window_w = w;
  window_h = h;
  real(w, h);
}

void glutKeyboardFunc(void (*callback)(unsigned char, int, int)) {
  static void (*real)(void (*)(unsigned char, int, int));
  if (!real)
    *(void**)&real = dlsym(RTLD_NEXT, "glutKeyboardFunc");
  keyboard = callback;
  real(callback);
}

void glutSwapBuffers(void) {
  static void (*real_swap)(void);
  if (!real_swap)
    *(void**)&real_swap = dlsym(RTLD_NEXT, "glutSwapBuffers");
  ++frame;
  track_window();
  if (wanted(frame)) {
    char name[64];
    snprintf(name, sizeof name, "frame-%ld.ppm", frame);
    save(name);
  }
  if (resize_w) {
    GLint view[4];
    glGetIntegerv(GL_VIEWPORT, view);
    const int settled = view[2] == resize_w && view[3] == resize_h && window_w == resize_w &&
                        window_h == resize_h && window_since < frame - 1;
    if (settled || now_ns() - resize_since_ns > 3000000000LL) {
      save("resized.ppm");
      real_swap();
      finish();
    }
  }
  real_swap();
  last_swap_ns = now_ns();
  if (frame == 1) {
    first_swap_ns = last_swap_ns;
    write_report(); /* GL's strings, even where the program never ends */
  }
  if (listed(holds(), frame))
    hold();

  const char* v;
  if ((v = at_this_frame("CAPTURE_RENAME"))) {
    char from[2048];
    const char* to = strchr(v, ':');
    if (to && (size_t)(to - v) < sizeof from) {
      memcpy(from, v, (size_t)(to - v));
      from[to - v] = '\0';
      rename(from, to + 1);
    }
  }
  if ((v = at_this_frame("CAPTURE_KEYS")) && keyboard)
    for (; *v; ++v)
      keyboard((unsigned char)*v, 0, 0);
  if ((v = at_this_frame("CAPTURE_RESIZE")) && sscanf(v, "%dx%d", &resize_w, &resize_h) == 2) {
    void (*reshape)(int, int);
    *(void**)&reshape = symbol("glutReshapeWindow");
    resize_since_ns = now_ns();
    if (reshape)
      reshape(resize_w, resize_h);
  }

  const char* last = getenv("CAPTURE_EXIT");
  const char* seconds = getenv("CAPTURE_SECONDS");
  if ((last && frame >= atol(last)) ||
      (seconds && last_swap_ns - first_swap_ns >= (long long)(atof(seconds) * 1e9)))
    finish();
}
