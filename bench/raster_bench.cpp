// Flip and JPEG speed, each against a floor: memcpy of the same bytes for the
// flips, a bare libjpeg loop for reading and writing. Google Benchmark's table
// gives each one's time; then each figure is timed in interleaved pairs (the
// measured code, then its floor, then the floor first, and so on), and prints
// "figure NAME ratio=R target=T spread=LO-HI": the median of the per-pair
// ratios and the lowest and highest of them.
#include "bare-decode.h"
#include "raster-jpeg.h"

#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Size {
  int width, height;
};
const Size sizes[] = {{320, 240}, {1920, 1080}, {4000, 3000}};

std::string photo_dir;
std::string photo_path(int i) {
  return photo_dir + "/photo" + std::to_string(i) + ".jpg";
}

// A picture with the mix of smooth areas and detail that photographs have.
std::unique_ptr<Raster<unsigned char>> make_picture(int width, int height) {
  auto r = std::make_unique<Raster<unsigned char>>(width, height, 3);
  unsigned noise = 12345;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      noise = noise * 1103515245u + 12345u;
      const double u = static_cast<double>(x) / width, v = static_cast<double>(y) / height;
      const double wave = std::sin(40 * u + 8 * std::sin(6 * v)) * std::cos(30 * v);
      unsigned char* p = r->head() + (static_cast<long>(y) * width + x) * 3;
      p[0] = static_cast<unsigned char>(60 + 50 * wave + 100 * v + (noise >> 28));
      p[1] = static_cast<unsigned char>(110 + 60 * wave + 40 * u + ((noise >> 24) & 15));
      p[2] = static_cast<unsigned char>(180 - 60 * v + 30 * wave + ((noise >> 20) & 15));
    }
  return r;
}

void make_photographs() {
  char pattern[] = "/tmp/raster-bench-XXXXXX";
  if (!mkdtemp(pattern)) {
    std::perror("mkdtemp");
    std::exit(1);
  }
  photo_dir = pattern;
  for (int i = 0; i < 3; ++i)
    write_jpeg_image(photo_path(i).c_str(), *make_picture(sizes[i].width, sizes[i].height));
}

const int flip_width = 4000, flip_height = 3000;

// The least an encode at the writer's settings can cost, replacing the file
// whole as the writer does: a new file, flushed to disk, renamed over it.
void bare_encode(const Raster<unsigned char>& picture, const char* path) {
  const std::string temporary = std::string(path) + ".new";
  FILE* f = std::fopen(temporary.c_str(), "wb");
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, f);
  cinfo.image_width = static_cast<JDIMENSION>(picture.width());
  cinfo.image_height = static_cast<JDIMENSION>(picture.height());
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, jpeg_output_quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  const size_t stride = static_cast<size_t>(picture.width()) * 3;
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPLE*>(picture.head()) + cinfo.next_scanline * stride;
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::fflush(f);
  fsync(fileno(f));
  std::fclose(f);
  std::rename(temporary.c_str(), path);
}

// Everything that is timed, by name; each call does one unit of work.
struct Work {
  std::string name;
  std::function<void()> run;
};

std::vector<Work> make_work() {
  const size_t n = static_cast<size_t>(flip_width) * flip_height * 3;
  auto from = std::make_shared<std::vector<unsigned char>>(n, 1);
  auto to = std::make_shared<std::vector<unsigned char>>(n, 0);
  auto flip = std::make_shared<Raster<unsigned char>>(flip_width, flip_height, 3);
  std::memset(flip->head(), 7, n);
  std::vector<Work> work = {
      {"memcpy",
       [=] {
         std::memcpy(to->data(), from->data(), n);
         benchmark::DoNotOptimize(to->data());
         benchmark::ClobberMemory();
       }},
      {"vflip",
       [=] {
         flip->vflip();
         benchmark::ClobberMemory();
       }},
      {"hflip",
       [=] {
         flip->hflip();
         benchmark::ClobberMemory();
       }},
  };
  for (int i = 0; i < 3; ++i) {
    const std::string arg = "/" + std::to_string(i), path = photo_path(i);
    std::shared_ptr<Raster<unsigned char>> picture = make_picture(sizes[i].width, sizes[i].height);
    const std::string bare = photo_dir + "/bare.jpg", written = photo_dir + "/written.jpg";
    work.push_back({"bare_decode" + arg, [=] {
                      int width, height;
                      unsigned char* pixels = bare_decode(path.c_str(), &width, &height);
                      benchmark::DoNotOptimize(pixels);
                      delete[] pixels;
                    }});
    work.push_back({"read_jpeg_image" + arg, [=] {
                      Raster<unsigned char>* r = read_jpeg_image(path.c_str());
                      benchmark::DoNotOptimize(r);
                      delete r;
                    }});
    work.push_back({"bare_encode" + arg, [=] { bare_encode(*picture, bare.c_str()); }});
    work.push_back({"write_jpeg_image" + arg, [=] {
                      benchmark::DoNotOptimize(write_jpeg_image(written.c_str(), *picture));
                    }});
  }
  return work;
}

const Work& find(const std::vector<Work>& work, const std::string& name) {
  for (const Work& w : work)
    if (w.name == name)
      return w;
  std::fprintf(stderr, "no benchmark %s\n", name.c_str());
  std::exit(1);
}

// Seconds per call of `run` over `calls` calls.
double seconds_per_call(const Work& w, int calls) {
  const auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < calls; ++i)
    w.run();
  const std::chrono::duration<double> t = std::chrono::steady_clock::now() - t0;
  return t.count() / calls;
}

// Times `measured` and `floor` in turns, `pairs` times, each turn about
// `turn` seconds long; every other pair runs the floor first, so a machine
// that speeds up or slows down favours neither. Prints the figure line.
void figure(const std::vector<Work>& work, const char* name, const std::string& measured,
            const std::string& floor, const char* target, int pairs = 15, double turn = 0.1) {
  const Work &m = find(work, measured), &f = find(work, floor);
  const int calls = std::max(1, static_cast<int>(turn / seconds_per_call(f, 1)));
  seconds_per_call(m, 1); // warm both up
  std::vector<double> ratios;
  for (int i = 0; i < pairs; ++i) {
    double tm, tf;
    if (i % 2 == 0) {
      tm = seconds_per_call(m, calls);
      tf = seconds_per_call(f, calls);
    } else {
      tf = seconds_per_call(f, calls);
      tm = seconds_per_call(m, calls);
    }
    ratios.push_back(tm / tf);
  }
  std::sort(ratios.begin(), ratios.end());
  std::printf("figure %s ratio=%.3f target=%s spread=%.3f-%.3f\n", name, ratios[ratios.size() / 2],
              target, ratios.front(), ratios.back());
  std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
  make_photographs();
  const std::vector<Work> work = make_work();
  for (const Work& w : work)
    benchmark::RegisterBenchmark(("BM_" + w.name).c_str(), [&w](benchmark::State& state) {
      for (auto _ : state)
        w.run();
    })->Unit(benchmark::kMillisecond);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  std::fflush(stdout);

  figure(work, "vflip", "vflip", "memcpy", "2");
  figure(work, "hflip", "hflip", "memcpy", "none");
  for (int i = 0; i < 3; ++i) {
    const std::string arg = "/" + std::to_string(i);
    const std::string size = std::to_string(sizes[i].width) + "x" + std::to_string(sizes[i].height);
    figure(work, ("read_" + size).c_str(), "read_jpeg_image" + arg, "bare_decode" + arg, "1.05");
    figure(work, ("write_" + size).c_str(), "write_jpeg_image" + arg, "bare_encode" + arg, "1.05");
  }
  std::system(("rm -rf '" + photo_dir + "'").c_str());
  return 0;
}
