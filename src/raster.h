// raster.h - an image in memory.
//
// A Raster<T> holds width x height pixels of `channels` elements each, in one
// buffer of T that it owns:
//   - row-major: the rows follow one another, each row's pixels left to right;
//   - interleaved: the channels of a pixel lie next to each other;
//   - no padding: a row is exactly width * channels elements;
//   - top row first, as a JPEG decodes.
// Channel k of the pixel in column c of row r is element (r * width + c) * channels + k.
// Sizes and offsets are ints; operator[] and reverse() do not check bounds.
//
// Memory that cannot be had throws nothing: head() is then null (never so for
// a raster that got its buffer, even of 0 elements). An element count beyond
// an int counts as such. A raster without a buffer keeps its width, height
// and channels, and length() where the count fits an int; operator[] may not
// be used on it; reverse(), hflip() and vflip() leave it as it is, and a
// FloatRaster made from it, or copied from one, has no buffer either.
#ifndef RASTER_H
#define RASTER_H

#include <algorithm>
#include <new>

template <typename T> class Raster {
public:
  // Allocates length() elements, left uninitialised; head() is null when
  // they cannot be had.
  Raster(int width, int height, int channels) : Raster(width, height, channels, true) {}
  ~Raster() { delete[] buffer_; }

  // A raster owns its buffer: a plain copy would release it twice.
  Raster(const Raster&) = delete;
  Raster& operator=(const Raster&) = delete;

  int width() const { return width_; }
  int height() const { return height_; }
  int channels() const { return channels_; }
  // Number of elements, not pixels or bytes.
  int length() const { return width_ * height_ * channels_; }

  T* head() { return buffer_; }
  const T* head() const { return buffer_; }
  T& operator[](int i) { return buffer_[i]; }
  T operator[](int i) const { return buffer_[i]; }

  // Reverses the order of the pixels starting at element offsets first..last,
  // both included; a pixel's channels keep their order. A negative or
  // out-of-range `last` means the last pixel, so reverse(0, -1) turns the
  // whole pixel sequence end for end.
  void reverse(int first, int last) {
    if (!buffer_)
      return;
    if (last < 0 || last >= length())
      last = length() - channels_;
    while (first < last) {
      for (int k = 0; k < channels_; ++k)
        std::swap(buffer_[first + k], buffer_[last + k]);
      first += channels_;
      last -= channels_;
    }
  }

  // Mirrors every row left to right, in place.
  void hflip() {
    if (!buffer_)
      return;
    switch (channels_) {
    case 1:
      mirror_rows<1>();
      break;
    case 2:
      mirror_rows<2>();
      break;
    case 3:
      mirror_rows<3>();
      break;
    case 4:
      mirror_rows<4>();
      break;
    default: {
      const int step = channels_ * (width_ - 1);
      for (int r = 0; r < length(); r += step + channels_)
        reverse(r, r + step);
    }
    }
  }

  // Puts the rows in reverse order, in place, each row unchanged. Whole rows
  // are swapped, which gives the same result as reversing every pixel and
  // mirroring each row back.
  void vflip() {
    if (!buffer_)
      return;
    const int row = width_ * channels_;
    if (row <= 0)
      return;
    for (int top = 0, bottom = height_ - 1; top < bottom; ++top, --bottom)
      std::swap_ranges(buffer_ + top * row, buffer_ + (top + 1) * row, buffer_ + bottom * row);
  }

protected:
  // A raster of that shape that gets a buffer only `with_buffer`: a copy of a
  // raster without one has none either.
  Raster(int width, int height, int channels, bool with_buffer)
      : buffer_(with_buffer ? allocate(width, height, channels) : nullptr), width_(width),
        height_(height), channels_(channels) {}

private:
  // A negative size gives no elements; a count that overflows an int, no buffer.
  static T* allocate(int width, int height, int channels) {
    int n = 0;
    if (__builtin_mul_overflow(width, height, &n) || __builtin_mul_overflow(n, channels, &n))
      return nullptr;
    return new (std::nothrow) T[n > 0 ? static_cast<size_t>(n) : 0];
  }

  // hflip() with the channel count known at compile time, so the compiler
  // can keep a pixel in registers.
  template <int C> void mirror_rows() {
    if (length() <= 0)
      return;
    const int row = width_ * C;
    for (T* p = buffer_; p != buffer_ + static_cast<long>(row) * height_; p += row) {
      for (T *l = p, *r = p + row - C; l < r; l += C, r -= C)
        for (int k = 0; k < C; ++k)
          std::swap(l[k], r[k]);
    }
  }

  T* buffer_;
  int width_;
  int height_;
  int channels_;
};

// A raster of single-precision elements. Made from a byte raster, its values
// run from 0 to 1. Made from a raster without a buffer, or when its own cannot
// be had, it has none.
class FloatRaster : public Raster<float> {
public:
  FloatRaster(const FloatRaster& other);           // deep copy
  FloatRaster(const Raster<unsigned char>& bytes); // each byte / 255
};

#endif
