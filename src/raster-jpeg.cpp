#include "raster-jpeg.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <new>

#include <jpeglib.h>

int jpeg_output_quality = 100;

// JPEG's own limit on a side (libjpeg refuses larger images when writing).
static const int max_jpeg_side = 65500;

// Scanlines handed to libjpeg per call; it may take fewer.
static const int max_rows_per_call = 16;

// Points rows[] at the raster rows from `next` on, at most max_rows_per_call
// and no further than `total`; returns how many.
static JDIMENSION row_batch(JSAMPROW* rows, unsigned char* first_row, int stride, JDIMENSION next,
                            JDIMENSION total) {
  const int count = std::min<int>(max_rows_per_call, static_cast<int>(total - next));
  for (int i = 0; i < count; ++i)
    rows[i] = first_row + static_cast<long>(next + i) * stride;
  return static_cast<JDIMENSION>(count);
}

// Ends the process over an image that cannot be held: names the file, the
// size and the problem, and releases the decompression object and the file.
[[noreturn]] static void give_up(jpeg_decompress_struct& cinfo, FILE* file, const char* path,
                                 const char* problem) {
  std::fprintf(stderr, "%s: a %u x %u image of %d channels %s\n", path, cinfo.output_width,
               cinfo.output_height, cinfo.output_components, problem);
  jpeg_destroy_decompress(&cinfo);
  std::fclose(file);
  std::exit(EXIT_FAILURE);
}

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
  // rather than write past a short buffer. Memory that cannot be had ends the
  // process the same way, not with an exception.
  const long long elements =
      static_cast<long long>(cinfo.output_width) * cinfo.output_height * cinfo.output_components;
  if (elements > INT_MAX)
    give_up(cinfo, file, path, "is too large to hold");
  auto* raster = new (std::nothrow)
      Raster<unsigned char>(static_cast<int>(cinfo.output_width),
                            static_cast<int>(cinfo.output_height), cinfo.output_components);
  if (!raster || !raster->head()) {
    delete raster;
    give_up(cinfo, file, path, "does not fit in the memory available");
  }

  // Read the scanlines straight into the raster's rows, top row first.
  const int stride = raster->width() * raster->channels();
  JSAMPROW rows[max_rows_per_call];
  while (cinfo.output_scanline < cinfo.output_height)
    jpeg_read_scanlines(
        &cinfo, rows,
        row_batch(rows, raster->head(), stride, cinfo.output_scanline, cinfo.output_height));

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
  JSAMPROW rows[max_rows_per_call];
  unsigned char* first_row = const_cast<unsigned char*>(raster.head());
  while (cinfo.next_scanline < cinfo.image_height)
    jpeg_write_scanlines(
        &cinfo, rows, row_batch(rows, first_row, stride, cinfo.next_scanline, cinfo.image_height));

  // Finish, release the compression object and the file.
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::fclose(file);
  return true;
}
