// raster-jpeg.h - JPEG files to and from byte rasters, through libjpeg.
#ifndef RASTER_JPEG_H
#define RASTER_JPEG_H

#include "raster.h"

// Quality (0 to 100) of every file that write_jpeg_image writes.
extern int jpeg_output_quality;

// Decodes the JPEG file at `path` into a new raster, top row first, with the
// library's default output: 3 channels (RGB) for colour, 1 for grayscale, 4
// for CMYK or YCCK (as stored: Adobe files keep their inverted CMYK). The
// caller owns the result. Returns null, printing nothing, when the file cannot
// be opened. Damaged data prints libjpeg's first warning on stderr and still
// gives a whole raster; a file libjpeg cannot decode at all ends the process
// with libjpeg's message and status 1.
Raster<unsigned char>* read_jpeg_image(const char* path);

// Encodes `raster` at jpeg_output_quality into `path`, first row on top:
// 1 channel as grayscale, 3 as RGB, 2 and 4 as components stored unchanged.
// A file is replaced whole or not at all: the image goes into a new file in
// the same folder (which must be writable), flushed to disk, then renamed
// over `path`; the new file keeps the old one's mode, or gets what fopen
// would give it; through a symbolic link, the file it leads to is replaced.
// What is no regular file (/dev/null, a pipe) is written in place. Returns
// true once the image is there. Returns false, with errno saying why and any
// existing file untouched, for a raster that a JPEG cannot hold (EINVAL: a
// size below 1 or over 65500, a channel count outside 1 to 4), a raster
// without a buffer (ENOMEM; no file is made), a directory (EISDIR), a file
// the user may not write, and any error in creating, writing, flushing,
// closing or renaming the new file, which is then removed.
bool write_jpeg_image(const char* path, const Raster<unsigned char>& raster);

#endif
