#include "raster-jpeg.h"

#include <climits>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

int jpeg_output_quality = 100;

// JPEG's own limit on a side (libjpeg refuses larger images when writing).
static const int max_jpeg_side = 65500;

// libjpeg may hand back this many scanlines per call at most.
static const int max_rows_per_read = 16;

Raster<unsigned char>* read_jpeg_image(const char* path) {
  FILE* file = std::fopen(path, "rb");
  if (!file)
    return nullptr;

  // Set up the standard error manager, then the decompression object.
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_decompress(&cinfo);

  // Read from the file; the header must describe an image.
  jpeg_stdio_src(&cinfo, file);
  jpeg_read_header(&cinfo, TRUE);

  // Decode with the library's default output colour space.
  jpeg_start_decompress(&cinfo);

  // The raster counts its elements in an int; refuse what would overflow it
  // rather than write past a short buffer.
  const long long elements =
      static_cast<long long>(cinfo.output_width) * cinfo.output_height * cinfo.output_components;
  if (elements > INT_MAX) {
    std::fprintf(stderr, "%s: a %u x %u image of %d channels is too large to hold\n", path,
                 cinfo.output_width, cinfo.output_height, cinfo.output_components);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(file);
    std::exit(EXIT_FAILURE);
  }
  auto* raster =
      new Raster<unsigned char>(static_cast<int>(cinfo.output_width),
                                static_cast<int>(cinfo.output_height), cinfo.output_components);

  // Read the scanlines straight into the raster's rows, top row first.
  const int stride = raster->width() * raster->channels();
  JSAMPROW rows[max_rows_per_read];
  while (cinfo.output_scanline < cinfo.output_height) {
    const JDIMENSION next = cinfo.output_scanline;
    const int want = std::min<int>(max_rows_per_read, cinfo.output_height - next);
    for (int i = 0; i < want; ++i)
      rows[i] = raster->head() + static_cast<long>(next + i) * stride;
    jpeg_read_scanlines(&cinfo, rows, static_cast<JDIMENSION>(want));
  }

  // Finish, release the decompression object and the file.
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  std::fclose(file);
  return raster;
}

// What libjpeg can write and read back unchanged in size and channel count:
// its default single-scan layout holds at most 4 components, and the decoder
// refuses a fifth even in a scan of its own.
static bool encodable(const Raster<unsigned char>& raster) {
  return raster.width() >= 1 && raster.width() <= max_jpeg_side && raster.height() >= 1 &&
         raster.height() <= max_jpeg_side && raster.channels() >= 1 && raster.channels() <= 4;
}

static J_COLOR_SPACE input_colour_space(int channels) {
  switch (channels) {
  case 1:
    return JCS_GRAYSCALE;
  case 3:
    return JCS_RGB;
  default:
    return JCS_UNKNOWN;
  }
}

bool write_jpeg_image(const char* path, const Raster<unsigned char>& raster) {
  // Check before opening: an encoder error would end the process after the
  // file had been truncated.
  if (!encodable(raster))
    return false;
  FILE* file = std::fopen(path, "wb");
  if (!file)
    return false;

  // Set up the standard error manager, the compression object and the file.
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, file);

  // Describe the input image.
  cinfo.image_width = static_cast<JDIMENSION>(raster.width());
  cinfo.image_height = static_cast<JDIMENSION>(raster.height());
  cinfo.input_components = raster.channels();
  cinfo.in_color_space = input_colour_space(raster.channels());

  // Defaults follow the colour space; then the quality, baseline tables.
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, jpeg_output_quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);

  // Write the rows top to bottom; libjpeg only reads them.
  const int stride = raster.width() * raster.channels();
  JSAMPROW rows[max_rows_per_read];
  while (cinfo.next_scanline < cinfo.image_height) {
    const JDIMENSION next = cinfo.next_scanline;
    const int want = std::min<int>(max_rows_per_read, cinfo.image_height - next);
    for (int i = 0; i < want; ++i)
      rows[i] = const_cast<JSAMPLE*>(raster.head()) + static_cast<long>(next + i) * stride;
    jpeg_write_scanlines(&cinfo, rows, static_cast<JDIMENSION>(want));
  }

  // Finish, release the compression object and the file.
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::fclose(file);
  return true;
}
