// Flip and JPEG speed, each against a floor measured in the same run:
// memcpy of the same bytes for the flips, a bare libjpeg loop for reading and
// writing. Prints "figure NAME ratio=R target=T" lines after the table.
#include "bare-decode.h"
#include "raster-jpeg.h"

#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
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

double fastest(const std::vector<double>& v) {
  return *std::min_element(v.begin(), v.end());
}

void BM_memcpy(benchmark::State& state) {
  const size_t n = static_cast<size_t>(flip_width) * flip_height * 3;
  std::vector<unsigned char> from(n, 1), to(n, 0);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), n);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
}

void BM_vflip(benchmark::State& state) {
  Raster<unsigned char> r(flip_width, flip_height, 3);
  std::memset(r.head(), 7, static_cast<size_t>(r.length()));
  for (auto _ : state) {
    r.vflip();
    benchmark::ClobberMemory();
  }
}

void BM_hflip(benchmark::State& state) {
  Raster<unsigned char> r(flip_width, flip_height, 3);
  std::memset(r.head(), 7, static_cast<size_t>(r.length()));
  for (auto _ : state) {
    r.hflip();
    benchmark::ClobberMemory();
  }
}

void BM_bare_decode(benchmark::State& state) {
  const std::string path = photo_path(static_cast<int>(state.range(0)));
  int width, height;
  for (auto _ : state) {
    unsigned char* pixels = bare_decode(path.c_str(), &width, &height);
    benchmark::DoNotOptimize(pixels);
    delete[] pixels;
  }
}

void BM_read_jpeg_image(benchmark::State& state) {
  const std::string path = photo_path(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    Raster<unsigned char>* r = read_jpeg_image(path.c_str());
    benchmark::DoNotOptimize(r);
    delete r;
  }
}

// The least an encode at the writer's settings can cost.
void BM_bare_encode(benchmark::State& state) {
  const Size s = sizes[state.range(0)];
  const auto picture = make_picture(s.width, s.height);
  const std::string path = photo_dir + "/bare.jpg";
  for (auto _ : state) {
    FILE* f = std::fopen(path.c_str(), "wb");
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, f);
    cinfo.image_width = static_cast<JDIMENSION>(s.width);
    cinfo.image_height = static_cast<JDIMENSION>(s.height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, jpeg_output_quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    const size_t stride = static_cast<size_t>(s.width) * 3;
    while (cinfo.next_scanline < cinfo.image_height) {
      JSAMPROW row = picture->head() + cinfo.next_scanline * stride;
      jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(f);
  }
}

void BM_write_jpeg_image(benchmark::State& state) {
  const Size s = sizes[state.range(0)];
  const auto picture = make_picture(s.width, s.height);
  const std::string path = photo_dir + "/written.jpg";
  for (auto _ : state)
    benchmark::DoNotOptimize(write_jpeg_image(path.c_str(), *picture));
}

BENCHMARK(BM_memcpy)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ComputeStatistics("min", fastest);
BENCHMARK(BM_vflip)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ComputeStatistics("min", fastest);
BENCHMARK(BM_hflip)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ComputeStatistics("min", fastest);
BENCHMARK(BM_bare_decode)
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ComputeStatistics("min", fastest);
BENCHMARK(BM_read_jpeg_image)
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ComputeStatistics("min", fastest);
BENCHMARK(BM_bare_encode)
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ComputeStatistics("min", fastest);
BENCHMARK(BM_write_jpeg_image)
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ComputeStatistics("min", fastest);

// Keeps each benchmark's time per iteration: the fastest repetition, the one
// least disturbed by whatever else the machine was doing.
class Recorder : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "min")
        seconds[run.run_name.function_name +
                (run.run_name.args.empty() ? "" : "/" + run.run_name.args)] =
            run.GetAdjustedRealTime();
    }
  }
  std::map<std::string, double> seconds;
};

void figure(const Recorder& r, const std::string& name, const std::string& measured,
            const std::string& floor, const char* target) {
  const auto m = r.seconds.find(measured), f = r.seconds.find(floor);
  if (m == r.seconds.end() || f == r.seconds.end() || f->second <= 0)
    return;
  std::printf("figure %s ratio=%.3f target=%s\n", name.c_str(), m->second / f->second, target);
}

} // namespace

int main(int argc, char** argv) {
  make_photographs();
  benchmark::Initialize(&argc, argv);
  Recorder recorder;
  benchmark::RunSpecifiedBenchmarks(&recorder);
  std::fflush(stdout);
  figure(recorder, "vflip", "BM_vflip", "BM_memcpy", "2");
  figure(recorder, "hflip", "BM_hflip", "BM_memcpy", "none");
  for (int i = 0; i < 3; ++i) {
    const std::string arg = "/" + std::to_string(i);
    const std::string size = std::to_string(sizes[i].width) + "x" + std::to_string(sizes[i].height);
    figure(recorder, "read_" + size, "BM_read_jpeg_image" + arg, "BM_bare_decode" + arg, "1.05");
    figure(recorder, "write_" + size, "BM_write_jpeg_image" + arg, "BM_bare_encode" + arg, "1.05");
  }
  std::system(("rm -rf '" + photo_dir + "'").c_str());
  return 0;
}
