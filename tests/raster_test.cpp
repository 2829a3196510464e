// Raster operations checked against the plain pixel-by-pixel steps they are
// defined by, so that the faster row-wise flips can never drift from them.
#include "raster.h"
#include "without-memory.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <type_traits>
#include <vector>

namespace {

template <typename T> void fill_random(Raster<T>& r, std::mt19937& rng) {
  std::uniform_int_distribution<int> byte(0, 255);
  for (int i = 0; i < r.length(); ++i)
    r[i] = static_cast<T>(byte(rng));
}

template <typename T> std::vector<T> elements(const Raster<T>& r) {
  return std::vector<T>(r.head(), r.head() + r.length());
}

// The defining steps: reverse each row's pixels, one row after another.
template <typename T> void hflip_by_steps(Raster<T>& r) {
  const int step = r.channels() * (r.width() - 1);
  for (int row = 0; row < r.length(); row = row + step + r.channels())
    r.reverse(row, row + step);
}

// The defining steps: turn the picture by 180 degrees, mirror each row back.
template <typename T> void vflip_by_steps(Raster<T>& r) {
  r.reverse(0, -1);
  hflip_by_steps(r);
}

template <typename T> void check_flips_match_steps() {
  std::mt19937 rng(7);
  for (int channels = 1; channels <= 5; ++channels)
    for (int width : {0, 1, 2, 3, 7, 16})
      for (int height : {0, 1, 2, 5, 8}) {
        Raster<T> fast(width, height, channels), slow(width, height, channels);
        fill_random(fast, rng);
        std::copy(fast.head(), fast.head() + fast.length(), slow.head());
        fast.hflip();
        hflip_by_steps(slow);
        ASSERT_EQ(elements(fast), elements(slow))
            << "hflip " << width << "x" << height << "x" << channels;
        fast.vflip();
        vflip_by_steps(slow);
        ASSERT_EQ(elements(fast), elements(slow))
            << "vflip " << width << "x" << height << "x" << channels;
      }
}

// A 3 x 2 RGB raster whose pixel p has bytes 10p, 10p+1, 10p+2.
void fill_3x2(Raster<unsigned char>& r) {
  for (int p = 0; p < 6; ++p)
    for (int k = 0; k < 3; ++k)
      r[p * 3 + k] = static_cast<unsigned char>(10 * p + k);
}

std::vector<unsigned char> pixels(std::initializer_list<int> order) {
  std::vector<unsigned char> out;
  for (int p : order)
    for (int k = 0; k < 3; ++k)
      out.push_back(static_cast<unsigned char>(10 * p + k));
  return out;
}

} // namespace

TEST(Raster, LayoutAndSize) {
  Raster<unsigned char> r(4, 3, 2);
  EXPECT_EQ(r.width(), 4);
  EXPECT_EQ(r.height(), 3);
  EXPECT_EQ(r.channels(), 2);
  EXPECT_EQ(r.length(), 24);
  r[(2 * 4 + 1) * 2 + 1] = 99; // row 2, column 1, channel 1
  EXPECT_EQ(r.head()[19], 99);
  const Raster<unsigned char>& c = r;
  EXPECT_EQ(c[19], 99);
}

TEST(Raster, OwnsItsBufferAndCannotBeCopied) {
  // A copy would release the same buffer twice.
  static_assert(!std::is_copy_constructible_v<Raster<unsigned char>>);
  static_assert(!std::is_copy_assignable_v<Raster<unsigned char>>);
  static_assert(!std::is_copy_assignable_v<Raster<float>>);
  static_assert(std::is_copy_constructible_v<FloatRaster>);
}

TEST(Raster, ThreeByTwoExample) {
  Raster<unsigned char> r(3, 2, 3);
  fill_3x2(r);
  r.hflip();
  EXPECT_EQ(elements(r), pixels({2, 1, 0, 5, 4, 3}));
  fill_3x2(r);
  r.vflip();
  EXPECT_EQ(elements(r), pixels({3, 4, 5, 0, 1, 2}));
  fill_3x2(r);
  r.reverse(0, -1);
  EXPECT_EQ(elements(r), pixels({5, 4, 3, 2, 1, 0}));
  fill_3x2(r);
  r.reverse(0, r.length()); // out of range also means the last pixel
  EXPECT_EQ(elements(r), pixels({5, 4, 3, 2, 1, 0}));
  fill_3x2(r);
  r.reverse(3, 9); // pixels 1..3 only
  EXPECT_EQ(elements(r), pixels({0, 3, 2, 1, 4, 5}));
}

TEST(Raster, DegenerateShapesAreUnchanged) {
  std::mt19937 rng(1);
  Raster<unsigned char> column(1, 5, 3), row(6, 1, 2);
  fill_random(column, rng);
  fill_random(row, rng);
  const auto column_before = elements(column), row_before = elements(row);
  column.hflip();
  row.vflip();
  EXPECT_EQ(elements(column), column_before);
  EXPECT_EQ(elements(row), row_before);

  Raster<unsigned char> empty(0, 0, 3), no_rows(5, 0, 3), no_channels(4, 4, 0);
  for (Raster<unsigned char>* r : {&empty, &no_rows, &no_channels}) {
    r->reverse(0, -1);
    r->hflip();
    r->vflip();
    EXPECT_EQ(r->length(), 0);
    EXPECT_NE(r->head(), nullptr); // null is kept for memory that cannot be had
  }
}

TEST(Raster, WithoutABufferNothingIsReadOrWritten) {
  // 65536 x 65536 wraps to 0 in an int: a raster that allocated that many
  // would let its users write 4 GB into nothing. 40000 x 40000 fits an int
  // but not the memory there is.
  struct Case {
    const char* name;
    std::unique_ptr<Raster<unsigned char>> raster;
  } cases[] = {
      {"a count past an int", std::make_unique<Raster<unsigned char>>(65536, 65536, 1)},
      {"memory that cannot be had", raster_without_memory(40000, 40000, 1)},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(c.raster);
    Raster<unsigned char>& r = *c.raster;
    ASSERT_EQ(r.head(), nullptr);
    r.hflip();
    r.vflip();
    r.reverse(0, -1);
    EXPECT_EQ(r.head(), nullptr);
    const FloatRaster f(r); // nothing to convert, nothing read
    EXPECT_EQ(f.head(), nullptr);
  }
}

TEST(Raster, FlipsMatchTheDefiningStepsForBytes) {
  check_flips_match_steps<unsigned char>();
}
TEST(Raster, FlipsMatchTheDefiningStepsForFloats) {
  check_flips_match_steps<float>();
}

TEST(FloatRaster, ConvertsBytesToUnitRange) {
  Raster<unsigned char> bytes(3, 1, 1);
  bytes[0] = 0;
  bytes[1] = 51;
  bytes[2] = 255;
  FloatRaster f(bytes);
  ASSERT_EQ(f.width(), 3);
  ASSERT_EQ(f.height(), 1);
  ASSERT_EQ(f.channels(), 1);
  EXPECT_EQ(f[0], 0.0f);
  EXPECT_EQ(f[1], 0.2f);
  EXPECT_EQ(f[2], 1.0f);

  Raster<unsigned char> none(0, 4, 3);
  EXPECT_EQ(FloatRaster(none).length(), 0);
}

TEST(FloatRaster, CopyIsDeep) {
  Raster<unsigned char> bytes(2, 2, 3);
  for (int i = 0; i < bytes.length(); ++i)
    bytes[i] = static_cast<unsigned char>(i * 20);
  FloatRaster source(bytes);
  FloatRaster copy(source);
  ASSERT_NE(copy.head(), source.head());
  ASSERT_EQ(copy.length(), source.length());
  for (int i = 0; i < copy.length(); ++i)
    EXPECT_EQ(copy[i], source[i]);
  copy[5] = 42.0f;
  EXPECT_EQ(source[5], 100.0f / 255.0f);

  const FloatRaster empty(Raster<unsigned char>(0, 0, 1));
  const FloatRaster empty_copy(empty);
  EXPECT_EQ(empty_copy.length(), 0);
}
