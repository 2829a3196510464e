#include "raster.h"

#include <cstring>

FloatRaster::FloatRaster(const FloatRaster& other)
    : Raster<float>(other.width(), other.height(), other.channels(), other.head() != nullptr) {
  if (head() && length() > 0)
    std::memcpy(head(), other.head(), static_cast<size_t>(length()) * sizeof(float));
}

FloatRaster::FloatRaster(const Raster<unsigned char>& bytes)
    : Raster<float>(bytes.width(), bytes.height(), bytes.channels(), bytes.head() != nullptr) {
  const int n = head() ? length() : 0;
  for (int i = 0; i < n; ++i)
    (*this)[i] = static_cast<float>(bytes[i]) / 255.0f;
}
