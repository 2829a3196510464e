// without-memory.h - byte rasters whose buffer cannot be had, made for real.
//
// A plain build makes one under a 1 GiB address-space limit (RLIMIT_AS), put
// back as soon as the raster is made. AddressSanitizer reserves terabytes of
// address space for itself, so no such limit can be set under it; there the
// binary that includes this header refuses any one allocation over 1 GiB, and
// the allocator returns null instead of reporting it, as the demo's bad-input
// test does. Include it in one source file of a test binary.
#ifndef WITHOUT_MEMORY_H
#define WITHOUT_MEMORY_H

#include "raster.h"

#include <sys/resource.h>

#include <algorithm>
#include <memory>

#if defined(__SANITIZE_ADDRESS__)
#define TEST_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TEST_UNDER_ASAN 1
#endif
#endif

#ifdef TEST_UNDER_ASAN
// Read by AddressSanitizer as it starts; ASAN_OPTIONS adds to it.
extern "C" const char* __asan_default_options() {
  return "allocator_may_return_null=1:max_allocation_size_mb=1024";
}
#endif

// A raster of width x height x channels (more than 1 GiB, an element count
// an int holds) made where at most 1 GiB can be had.
inline std::unique_ptr<Raster<unsigned char>> raster_without_memory(int width, int height,
                                                                    int channels) {
#ifdef TEST_UNDER_ASAN
  return std::make_unique<Raster<unsigned char>>(width, height, channels);
#else
  const rlim_t gib = rlim_t(1) << 30;
  rlimit before;
  if (getrlimit(RLIMIT_AS, &before) != 0)
    return nullptr;
  rlimit limited = before;
  limited.rlim_cur = std::min(before.rlim_cur, gib);
  if (setrlimit(RLIMIT_AS, &limited) != 0)
    return nullptr;
  auto raster = std::make_unique<Raster<unsigned char>>(width, height, channels);
  setrlimit(RLIMIT_AS, &before);
  return raster;
#endif
}

#endif
