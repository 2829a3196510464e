/* frame-capture.c - test-only LD_PRELOAD library that saves chosen frames.
 *
 * Interposes glutSwapBuffers: counts frames and, on the frames listed in
 * CAPTURE_FRAMES (comma-separated, 1 is the first), reads the back buffer
 * (the whole viewport) into CAPTURE_DIR/frame-N.ppm before the real swap.
 * The file is binary PPM, top row first. SIGUSR1 asks for the next frame
 * whatever its number, saved as CAPTURE_DIR/requested.ppm (renamed into
 * place whole, so a test can wait for it to appear). With CAPTURE_EXIT=N the
 * process ends with status 0 right after frame N has been swapped, first
 * printing its peak resident memory ("peak_rss_kb=K") on stderr. */
#define _GNU_SOURCE
#include <GL/gl.h>
#include <dlfcn.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static long frame;
static volatile sig_atomic_t requested;

static void request(int signal) {
  (void)signal;
  requested = 1;
}

__attribute__((constructor)) static void install(void) {
  signal(SIGUSR1, request);
}

static int wanted(long n) {
  const char* list = getenv("CAPTURE_FRAMES");
  while (list && *list) {
    char* end;
    long v = strtol(list, &end, 10);
    if (end == list)
      break;
    if (v == n)
      return 1;
    list = *end == ',' ? end + 1 : end;
  }
  return 0;
}

static void save(const char* name) {
  GLint view[4];
  glGetIntegerv(GL_VIEWPORT, view);
  const int w = view[2], h = view[3];
  unsigned char* pixels = malloc((size_t)w * h * 3);
  if (!pixels)
    return;
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadBuffer(GL_BACK);
  glReadPixels(view[0], view[1], w, h, GL_RGB, GL_UNSIGNED_BYTE, pixels);
  const char* dir = getenv("CAPTURE_DIR");
  char path[4096], part[4200];
  snprintf(path, sizeof path, "%s/%s", dir ? dir : ".", name);
  snprintf(part, sizeof part, "%s.part", path);
  FILE* f = fopen(part, "wb");
  if (f) {
    fprintf(f, "P6\n%d %d\n255\n", w, h);
    for (int y = h - 1; y >= 0; --y) /* GL's rows run bottom to top */
      fwrite(pixels + (size_t)y * w * 3, 1, (size_t)w * 3, f);
    fclose(f);
    rename(part, path);
  }
  free(pixels);
}

void glutSwapBuffers(void) {
  static void (*real_swap)(void);
  if (!real_swap)
    *(void**)&real_swap = dlsym(RTLD_NEXT, "glutSwapBuffers");
  ++frame;
  if (wanted(frame)) {
    char name[64];
    snprintf(name, sizeof name, "frame-%ld.ppm", frame);
    save(name);
  }
  if (requested) {
    requested = 0;
    save("requested.ppm");
  }
  real_swap();
  const char* last = getenv("CAPTURE_EXIT");
  if (last && frame >= atol(last)) {
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
}
