#include "raster-jpeg.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

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

// Writes all `size` bytes of `data` to `fd`; false, with errno set, on a
// write error.
static bool write_all(int fd, const unsigned char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR)
      continue;
    if (n == 0)
      errno = EIO;
    if (n <= 0)
      return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// libjpeg's output, written straight into an open file. libjpeg can only
// report an error by ending the process, so a write error is kept here
// instead, what follows it is dropped, and the caller looks at `error` once
// compression is finished.
struct FileDestination {
  jpeg_destination_mgr manager; // first: libjpeg sees only this part
  int fd;
  int error; // errno of the first failed write; 0 while every write worked
  JOCTET buffer[65536];
};

static FileDestination& file_destination(j_compress_ptr cinfo) {
  return *reinterpret_cast<FileDestination*>(cinfo->dest);
}

static void start_output(j_compress_ptr cinfo) {
  FileDestination& d = file_destination(cinfo);
  d.manager.next_output_byte = d.buffer;
  d.manager.free_in_buffer = sizeof d.buffer;
}

// Writes the first `size` bytes of the buffer, unless a write failed before.
static void write_output(FileDestination& d, size_t size) {
  if (d.error == 0 && !write_all(d.fd, d.buffer, size))
    d.error = errno;
}

// The buffer is full: libjpeg expects all of it written.
static boolean empty_output(j_compress_ptr cinfo) {
  write_output(file_destination(cinfo), sizeof file_destination(cinfo).buffer);
  start_output(cinfo);
  return TRUE;
}

static void end_output(j_compress_ptr cinfo) {
  FileDestination& d = file_destination(cinfo);
  write_output(d, sizeof d.buffer - d.manager.free_in_buffer);
}

// The file to replace: where `path` leads through symbolic links, so that a
// link keeps pointing at the new picture; `path` itself when it leads nowhere.
static std::string destination(const char* path) {
  char* real = realpath(path, nullptr);
  if (!real)
    return path;
  std::string target = real;
  std::free(real);
  return target;
}

// What fopen would give a new file: 0666 less the umask.
static mode_t new_file_mode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// Opens where the image goes and returns the descriptor. A regular file, or
// one not there yet, is replaced: the image goes into `temporary`, a new file
// beside it with the old file's mode (or a new file's), refused like fopen
// when the old file may not be written. Anything else that can be written
// (a device such as /dev/null, a pipe) is written in place, as fopen would,
// and `temporary` stays empty. Returns -1 with errno set when neither can be.
static int open_output(const std::string& target, std::string& temporary) {
  struct stat old;
  const bool exists = stat(target.c_str(), &old) == 0;
  if (exists && S_ISDIR(old.st_mode)) {
    errno = EISDIR;
    return -1;
  }
  if (exists && !S_ISREG(old.st_mode))
    return open(target.c_str(), O_WRONLY | O_TRUNC);
  if (exists && access(target.c_str(), W_OK) != 0)
    return -1;
  temporary = target + ".XXXXXX";
  const int fd = mkstemp(&temporary[0]);
  if (fd >= 0 && fchmod(fd, exists ? old.st_mode & 07777 : new_file_mode()) != 0) {
    const int error = errno;
    close(fd);
    unlink(temporary.c_str());
    errno = error;
    return -1;
  }
  return fd;
}

// Flushes a replacement to disk, closes it and renames it over `target`; or,
// after `write_error` or any failure here, closes and removes it. Output
// written in place is only closed. Returns whether all went well; errno says
// why not.
static bool put_in_place(int fd, int write_error, const std::string& temporary,
                         const std::string& target) {
  const bool replacing = !temporary.empty();
  int error = write_error;
  if (error == 0 && replacing && fsync(fd) != 0)
    error = errno;
  if (close(fd) != 0 && error == 0)
    error = errno;
  if (error == 0 && (!replacing || rename(temporary.c_str(), target.c_str()) == 0))
    return true;
  if (error == 0)
    error = errno;
  if (replacing)
    unlink(temporary.c_str());
  errno = error;
  return false;
}

bool write_jpeg_image(const char* path, const Raster<unsigned char>& raster) {
  // Check before anything is created: an encoder error ends the process.
  if (!encodable(raster)) {
    errno = EINVAL;
    return false;
  }
  if (!raster.head()) {
    errno = ENOMEM;
    return false;
  }
  const std::string target = destination(path);
  std::string temporary;
  FileDestination output;
  output.fd = open_output(target, temporary);
  if (output.fd < 0)
    return false;
  output.error = 0;

  // Set up the standard error manager, the compression object and the file.
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  output.manager.init_destination = start_output;
  output.manager.empty_output_buffer = empty_output;
  output.manager.term_destination = end_output;
  cinfo.dest = &output.manager;

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

  // Finish, release the compression object; then the file replaces the old.
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return put_in_place(output.fd, output.error, temporary, target);
}
