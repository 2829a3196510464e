// The least a JPEG decode can cost: one plain libjpeg loop into a new buffer
// (row-major, interleaved, top row first). The floor for read_jpeg_image and
// for the demo's start-up. Returns null when the file cannot be opened.
#ifndef BARE_DECODE_H
#define BARE_DECODE_H

#include <cstdio>

#include <jpeglib.h> // after <cstdio>: it uses FILE

inline unsigned char* bare_decode(const char* path, int* width, int* height) {
  FILE* f = std::fopen(path, "rb");
  if (!f)
    return nullptr;
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_decompress(&cinfo);
  jpeg_stdio_src(&cinfo, f);
  jpeg_read_header(&cinfo, TRUE);
  jpeg_start_decompress(&cinfo);
  const size_t stride = cinfo.output_width * static_cast<size_t>(cinfo.output_components);
  auto* pixels = new unsigned char[stride * cinfo.output_height];
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = pixels + cinfo.output_scanline * stride;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  *width = static_cast<int>(cinfo.output_width);
  *height = static_cast<int>(cinfo.output_height);
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  std::fclose(f);
  return pixels;
}

#endif
