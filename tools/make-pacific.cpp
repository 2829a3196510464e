// Paints the sample photograph "pacific.jpg": a seascape at dusk, 320 x 240,
// written with the project's own JPEG writer.
//   make_pacific OUTPUT.jpg
#include "raster-jpeg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

static unsigned char clamp_byte(double v) {
  return static_cast<unsigned char>(std::clamp(std::lround(v), 0L, 255L));
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.jpg\n", argv[0]);
    return 2;
  }
  const int w = 320, h = 240, horizon = 132;
  const double sun_x = 218, sun_y = 104, sun_r = 22;
  Raster<unsigned char> picture(w, h, 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      double r, g, b;
      if (y < horizon) {
        // Sky: deep blue overhead to orange at the horizon, a glow round the sun.
        const double t = static_cast<double>(y) / horizon;
        const double glow = std::exp(-std::hypot(x - sun_x, (y - sun_y) * 1.6) / 60.0);
        r = 40 + 200 * t * t + 120 * glow;
        g = 60 + 90 * t + 80 * glow;
        b = 140 - 60 * t + 20 * glow;
        if (std::hypot(x - sun_x, y - sun_y) < sun_r) {
          r = 255;
          g = 230;
          b = 170;
        }
        // A few streaks of cloud.
        const double cloud = std::sin(x * 0.03 + y * 0.25) * std::sin(x * 0.011 - y * 0.05);
        if (y < horizon - 30 && cloud > 0.6) {
          r += 50 * (cloud - 0.6) / 0.4;
          g += 30 * (cloud - 0.6) / 0.4;
        }
      } else {
        // Sea: darker with depth, waves, and the sun's path on the water.
        const double d = static_cast<double>(y - horizon) / (h - horizon);
        const double wave =
            std::sin(x * (0.08 + 0.02 * (1 - d)) + y * 0.9) * std::sin(x * 0.013 + y * 0.31 + 1.7);
        const double path = std::exp(-std::pow((x - sun_x) / (14 + 60 * d), 2));
        const double sparkle = path * std::max(0.0, wave) * 180;
        r = 20 + 30 * (1 - d) + sparkle + 15 * wave;
        g = 50 + 40 * (1 - d) + 0.8 * sparkle + 20 * wave;
        b = 90 + 50 * (1 - d) + 0.5 * sparkle + 25 * wave;
      }
      unsigned char* p = picture.head() + (y * w + x) * 3;
      p[0] = clamp_byte(r);
      p[1] = clamp_byte(g);
      p[2] = clamp_byte(b);
    }
  jpeg_output_quality = 90; // a sample, not an archive
  if (!write_jpeg_image(argv[1], picture)) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
