// JPEG reading and writing checked against the library's own command-line
// tools: cjpeg makes the inputs, djpeg says what a decode must give.
#include "raster-jpeg.h"
#include "without-memory.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <jpeglib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Image = std::unique_ptr<Raster<unsigned char>>;

struct Pnm {
  int width = 0, height = 0, channels = 0;
  std::vector<unsigned char> data;
};

class Jpeg : public ::testing::Test {
protected:
  void SetUp() override {
    char pattern[] = "/tmp/raster-jpeg-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::system(("chmod -R u+w '" + dir_ + "'; rm -rf '" + dir_ + "'").c_str());
  }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  static int run(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // A smooth picture with a little noise: realistic for the encoder, and
  // quality 100 keeps it within a few levels.
  static Pnm picture(int width, int height, int channels, unsigned seed = 3) {
    Pnm p{width, height, channels, {}};
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> noise(-3, 3);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        for (int k = 0; k < channels; ++k) {
          const double v = 128 + 90 * std::sin(0.05 * x + 0.9 * k) * std::cos(0.04 * y - 0.5 * k);
          p.data.push_back(static_cast<unsigned char>(std::lround(v) + noise(rng)));
        }
    return p;
  }

  void write_pnm(const std::string& file, const Pnm& p) const {
    std::ofstream out(file, std::ios::binary);
    out << (p.channels == 1 ? "P5" : "P6") << "\n" << p.width << " " << p.height << "\n255\n";
    out.write(reinterpret_cast<const char*>(p.data.data()), static_cast<long>(p.data.size()));
  }

  static Pnm read_pnm(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::string magic;
    int maxval = 0;
    Pnm p;
    in >> magic >> p.width >> p.height >> maxval;
    in.get();
    p.channels = magic == "P5" ? 1 : 3;
    p.data.resize(static_cast<size_t>(p.width) * p.height * p.channels);
    in.read(reinterpret_cast<char*>(p.data.data()), static_cast<long>(p.data.size()));
    return p;
  }

  // Encodes a picture with cjpeg and returns the file's path.
  std::string cjpeg(const std::string& name, const Pnm& p, const std::string& options) const {
    write_pnm(path(name + ".pnm"), p);
    const std::string jpg = path(name + ".jpg");
    EXPECT_EQ(run("cjpeg " + options + " -outfile '" + jpg + "' '" + path(name + ".pnm") + "'"), 0);
    return jpg;
  }

  static Image raster_of(const Pnm& p) {
    Image r(new Raster<unsigned char>(p.width, p.height, p.channels));
    std::copy(p.data.begin(), p.data.end(), r->head());
    return r;
  }

  static std::string contents(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  // The names in a folder, sorted, joined by spaces.
  static std::string names(const std::string& folder) {
    std::vector<std::string> all;
    DIR* d = opendir(folder.c_str());
    while (dirent* e = d ? readdir(d) : nullptr)
      all.push_back(e->d_name);
    if (d)
      closedir(d);
    std::sort(all.begin(), all.end());
    std::string joined;
    for (const std::string& n : all)
      joined += n + " ";
    return joined;
  }

  static int open_descriptors() {
    int n = 0;
    DIR* d = opendir("/proc/self/fd");
    while (readdir(d))
      ++n;
    closedir(d);
    return n;
  }

  static int max_difference(const Raster<unsigned char>& a, const Pnm& b) {
    int worst = 0;
    for (int i = 0; i < a.length(); ++i)
      worst = std::max(worst, std::abs(a[i] - b.data[static_cast<size_t>(i)]));
    return worst;
  }

  std::string dir_;
};

TEST_F(Jpeg, DecodesExactlyAsDjpeg) {
  struct Case {
    const char* name;
    int width, height, channels;
    const char* options;
  } cases[] = {
      {"colour", 64, 48, 3, "-quality 90"},
      {"column", 1, 7, 3, "-quality 75"},
      {"odd", 641, 479, 3, "-quality 85"},
      {"grey", 33, 31, 1, "-quality 90"},
      {"progressive", 97, 65, 3, "-quality 80 -progressive"},
      {"progressive-grey", 50, 21, 1, "-progressive"},
      {"optimised", 40, 40, 3, "-optimize -sample 1x1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string jpg = cjpeg(c.name, picture(c.width, c.height, c.channels), c.options);
    const std::string ref = path(std::string(c.name) + ".ref");
    ASSERT_EQ(run("djpeg -pnm -outfile '" + ref + "' '" + jpg + "'"), 0);
    const Pnm expected = read_pnm(ref);
    Image got(read_jpeg_image(jpg.c_str()));
    ASSERT_TRUE(got);
    ASSERT_EQ(got->width(), expected.width);
    ASSERT_EQ(got->height(), expected.height);
    ASSERT_EQ(got->channels(), expected.channels);
    EXPECT_EQ(std::vector<unsigned char>(got->head(), got->head() + got->length()), expected.data);
  }
}

TEST_F(Jpeg, FourComponentFilesGiveFourChannels) {
  // CMYK (with the Adobe marker) and YCCK, written by the library itself.
  for (J_COLOR_SPACE space : {JCS_CMYK, JCS_YCCK}) {
    const std::string file = path(space == JCS_CMYK ? "cmyk.jpg" : "ycck.jpg");
    const Pnm p = picture(37, 23, 4);
    FILE* out = std::fopen(file.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, out);
    cinfo.image_width = 37;
    cinfo.image_height = 23;
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_colorspace(&cinfo, space);
    jpeg_set_quality(&cinfo, 100, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
      JSAMPROW row = const_cast<JSAMPLE*>(p.data.data()) + cinfo.next_scanline * 37 * 4;
      jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(out);

    Image got(read_jpeg_image(file.c_str()));
    ASSERT_TRUE(got);
    EXPECT_EQ(got->width(), 37);
    EXPECT_EQ(got->height(), 23);
    EXPECT_EQ(got->channels(), 4);
    if (space == JCS_CMYK) {
      EXPECT_LE(max_difference(*got, p), 4);
    }
  }
}

TEST_F(Jpeg, WriteThenReadKeepsShapeAndPixels) {
  for (int channels = 1; channels <= 4; ++channels) {
    SCOPED_TRACE(channels);
    const Pnm p = picture(45, 29, channels);
    const std::string file = path("round" + std::to_string(channels) + ".jpg");
    ASSERT_TRUE(write_jpeg_image(file.c_str(), *raster_of(p)));
    Image got(read_jpeg_image(file.c_str()));
    ASSERT_TRUE(got);
    EXPECT_EQ(got->width(), 45);
    EXPECT_EQ(got->height(), 29);
    ASSERT_EQ(got->channels(), channels);
    // Quality 100 is still lossy (and RGB is subsampled in chroma).
    EXPECT_LE(max_difference(*got, p), channels == 3 ? 12 : 4);
  }
}

TEST_F(Jpeg, WritesTopRowFirstAndGreyAsGrey) {
  // A grey raster must stay one component, and the first row must be the
  // top of the file, as djpeg sees it.
  Pnm p = picture(16, 16, 1);
  for (int x = 0; x < 16 * 8; ++x)
    p.data[static_cast<size_t>(x)] = 250; // top half white
  for (int x = 16 * 8; x < 16 * 16; ++x)
    p.data[static_cast<size_t>(x)] = 5; // bottom half black
  const std::string file = path("grey.jpg");
  ASSERT_TRUE(write_jpeg_image(file.c_str(), *raster_of(p)));
  ASSERT_EQ(run("djpeg -pnm -outfile '" + path("grey.pnm") + "' '" + file + "'"), 0);
  const Pnm decoded = read_pnm(path("grey.pnm"));
  EXPECT_EQ(decoded.channels, 1);
  EXPECT_NEAR(decoded.data.front(), 250, 3);
  EXPECT_NEAR(decoded.data.back(), 5, 3);
}

TEST_F(Jpeg, WritingOverAFileReplacesIt) {
  const std::string file = path("over.jpg");
  ASSERT_TRUE(write_jpeg_image(file.c_str(), *raster_of(picture(200, 150, 3))));
  const std::string big = contents(file);
  ASSERT_TRUE(write_jpeg_image(file.c_str(), *raster_of(picture(8, 4, 3))));
  EXPECT_LT(contents(file).size(), big.size());
  Image got(read_jpeg_image(file.c_str()));
  ASSERT_TRUE(got);
  EXPECT_EQ(got->width(), 8);
  EXPECT_EQ(got->height(), 4);

  // A new file gets the mode fopen would give it, a replaced one keeps its
  // own, and a symbolic link keeps leading to the picture.
  struct stat info;
  const mode_t mask = umask(027);
  const std::string fresh = path("fresh.jpg"), link = path("link.jpg");
  EXPECT_TRUE(write_jpeg_image(fresh.c_str(), *raster_of(picture(8, 4, 3))));
  umask(mask);
  ASSERT_EQ(stat(fresh.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  ASSERT_EQ(chmod(file.c_str(), 0604), 0);
  ASSERT_EQ(symlink("over.jpg", link.c_str()), 0);
  ASSERT_TRUE(write_jpeg_image(link.c_str(), *raster_of(picture(5, 3, 3))));
  ASSERT_EQ(lstat(link.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  ASSERT_EQ(stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0604u);
  got.reset(read_jpeg_image(file.c_str()));
  ASSERT_TRUE(got);
  EXPECT_EQ(got->width(), 5);

  // What is no regular file (a pipe here, /dev/null for the fuzzing harness)
  // is written in place, never replaced.
  const std::string pipe = path("pipe.jpg");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
  const int reader = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  EXPECT_TRUE(write_jpeg_image(pipe.c_str(), *raster_of(picture(8, 4, 3))));
  unsigned char start[2] = {0, 0};
  EXPECT_EQ(read(reader, start, 2), 2);
  close(reader);
  EXPECT_EQ(start[0], 0xff); // a JPEG's start-of-image marker
  EXPECT_EQ(start[1], 0xd8);
  ASSERT_EQ(lstat(pipe.c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

TEST_F(Jpeg, FilesThatCannotBeOpenedOrWritten) {
  const int before = open_descriptors();
  EXPECT_EQ(read_jpeg_image(path("missing.jpg").c_str()), nullptr);
  EXPECT_EQ(open_descriptors(), before);

  // Each write fails with errno saying why and leaves the folders as they
  // were: an old file keeps every byte and no new file is left behind.
  ASSERT_EQ(mkdir(path("folder.jpg").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(path("locked").c_str(), 0755), 0);
  const Image small = raster_of(picture(9, 9, 3));
  for (const char* name : {"old.jpg", "read-only.jpg", "locked/old.jpg"})
    ASSERT_TRUE(write_jpeg_image(path(name).c_str(), *small));
  const std::string old = contents(path("old.jpg"));
  ASSERT_EQ(chmod(path("read-only.jpg").c_str(), 0444), 0);
  ASSERT_EQ(chmod(path("locked").c_str(), 0555), 0);
  const bool privileged = geteuid() == 0; // permissions do not stop root
  const Image r = raster_of(picture(200, 150, 3));
  const Image no_buffer = raster_without_memory(40000, 40000, 1);
  ASSERT_TRUE(no_buffer);
  ASSERT_EQ(no_buffer->head(), nullptr);
  struct Case {
    const char* name;
    const char* file;
    int error;
    rlim_t size_limit; // bytes a process may write to a file; 0: no limit
    bool unprivileged_only;
    const Raster<unsigned char>* raster; // r when null
  } cases[] = {
      {"no such folder", "no/such/dir.jpg", ENOENT, 0, false, nullptr},
      {"a directory", "folder.jpg", EISDIR, 0, false, nullptr},
      {"a file size limit", "old.jpg", EFBIG, 1000, false, nullptr},
      {"a read-only file", "read-only.jpg", EACCES, 0, true, nullptr},
      {"a folder without write permission", "locked/old.jpg", EACCES, 0, true, nullptr},
      {"a raster without a buffer", "old.jpg", ENOMEM, 0, false, no_buffer.get()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.unprivileged_only && privileged)
      continue;
    const std::vector<std::string> listed = {names(dir_), names(path("locked"))};
    const std::string kept = contents(path(c.file));
    rlimit limit;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit unlimited = limit;
    void (*on_limit)(int) = std::signal(SIGXFSZ, SIG_IGN); // EFBIG, not the signal
    if (c.size_limit)
      limit.rlim_cur = c.size_limit;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    errno = 0;
    const bool written = write_jpeg_image(path(c.file).c_str(), c.raster ? *c.raster : *r);
    const int error = errno;
    setrlimit(RLIMIT_FSIZE, &unlimited);
    std::signal(SIGXFSZ, on_limit);
    EXPECT_FALSE(written);
    EXPECT_EQ(error, c.error) << std::strerror(error);
    EXPECT_EQ(contents(path(c.file)), kept);
    EXPECT_EQ(std::vector<std::string>({names(dir_), names(path("locked"))}), listed);
  }
  EXPECT_EQ(contents(path("old.jpg")), old);
  EXPECT_EQ(open_descriptors(), before);
}

TEST_F(Jpeg, RefusesRastersAJpegCannotHoldAndKeepsTheFile) {
  const std::string file = path("output.jpg");
  ASSERT_TRUE(write_jpeg_image(file.c_str(), *raster_of(picture(9, 9, 3))));
  const std::string before = contents(file);
  const int shapes[][3] = {{0, 5, 3},  {5, 0, 3},  {3, 3, 0},     {3, 3, 5},
                           {3, 3, 10}, {-2, 4, 3}, {65501, 1, 1}, {1, 65501, 1}};
  for (const auto& s : shapes) {
    SCOPED_TRACE(::testing::Message() << s[0] << "x" << s[1] << "x" << s[2]);
    Raster<unsigned char> r(s[0], s[1], s[2]);
    std::fill(r.head(), r.head() + std::max(0, r.length()), 0);
    EXPECT_FALSE(write_jpeg_image(file.c_str(), r));
    EXPECT_EQ(contents(file), before);
  }
}

TEST_F(Jpeg, DamagedDataWarnsAndStillGivesAWholeRaster) {
  const std::string jpg = cjpeg("whole", picture(120, 90, 3), "-quality 95");
  const std::string data = contents(jpg);
  const std::string cut = path("cut.jpg");
  std::ofstream(cut, std::ios::binary) << data.substr(0, data.size() / 2);
  ::testing::internal::CaptureStderr();
  Image got(read_jpeg_image(cut.c_str()));
  const std::string err = ::testing::internal::GetCapturedStderr();
  ASSERT_TRUE(got);
  EXPECT_EQ(got->width(), 120);
  EXPECT_EQ(got->height(), 90);
  EXPECT_NE(err.find("Premature end of JPEG file"), std::string::npos) << err;
}

using JpegDeathTest = Jpeg;

TEST_F(JpegDeathTest, UndecodableFilesEndTheProcessWithTheLibraryMessage) {
  const std::string text = path("text.jpg"), empty = path("empty.jpg");
  std::ofstream(text) << "this is not a photograph\n";
  std::ofstream(empty).flush();
  EXPECT_EXIT(read_jpeg_image(text.c_str()), ::testing::ExitedWithCode(1), "Not a JPEG file");
  EXPECT_EXIT(read_jpeg_image(empty.c_str()), ::testing::ExitedWithCode(1), "Empty input file");
}

TEST_F(JpegDeathTest, AHeaderTooLargeToHoldEndsTheProcessWithAMessage) {
  // Element counts past an int: the reader must stop on its own message, not
  // write past a short buffer. 37838 x 37838 x 3 = 4,295,142,732 wraps in 32
  // bits to 175,436: a check that multiplied so would pass it and let libjpeg
  // write 4 GB into 175 kB.
  const std::string data = contents(cjpeg("small", picture(16, 16, 3), "-baseline"));
  const size_t sof = data.find("\xff\xc0");
  ASSERT_NE(sof, std::string::npos);
  for (int side : {65500, 37838}) {
    SCOPED_TRACE(side);
    std::string claim = data;
    const char be[2] = {static_cast<char>(side >> 8), static_cast<char>(side & 0xff)};
    claim.replace(sof + 5, 4, std::string(be, 2) + std::string(be, 2)); // height, then width
    const std::string huge = path("huge.jpg");
    std::ofstream(huge, std::ios::binary) << claim;
    const std::string size = std::to_string(side);
    EXPECT_EXIT(read_jpeg_image(huge.c_str()), ::testing::ExitedWithCode(1),
                size + " x " + size + " image of 3 channels is too large to hold");
  }
}

} // namespace
