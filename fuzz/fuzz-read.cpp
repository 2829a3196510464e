// Takes one file through everything the project does to a photograph: the
// read, both flips and a whole reversal, a float raster and its copy, and a
// write back. Built with the sanitizers and AFL++'s instrumentation by
// fuzz/fuzz; any signal it ends with is a fault of ours.
//   fuzz_read FILE [OUTPUT.jpg]   (the output goes to /dev/null by default)
// Status 0 after a write, 1 when FILE cannot be opened, or libjpeg's or the
// reader's own failure status.
#include "raster-jpeg.h"

#include <cstdio>
#include <memory>

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s FILE [OUTPUT.jpg]\n", argv[0]);
    return 2;
  }
  const std::unique_ptr<Raster<unsigned char>> image(read_jpeg_image(argv[1]));
  if (!image)
    return 1;
  image->hflip();
  image->vflip();
  image->reverse(0, -1);

  // The float forms may not fit where the bytes did; a raster without its
  // buffer holds nothing to copy.
  const FloatRaster floats(*image);
  if (floats.head()) {
    const FloatRaster copy(floats);
    if (copy.head() && copy.length() > 0 && copy[copy.length() - 1] != floats[floats.length() - 1])
      return 3;
  }
  return write_jpeg_image(argc > 2 ? argv[2] : "/dev/null", *image) ? 0 : 1;
}
