// demo.cpp - an OpenGL 2.0 / GLSL / texture demonstration.
//
// Reads "pacific.jpg", "vertex1.glsl", "fragment1.glsl", "vertex2.glsl" and
// "fragment2.glsl" from the current directory, and animates a spinning tiled
// quad, a tumbling gradient quad, the photograph and a green wire box.
// Keys: q quits, s saves the raster as "output.jpg", l reloads the photograph.
#include <GL/glew.h>
#include <GL/glut.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "raster-jpeg.h"

static int debug_level = 1;
static char outfile[11] = "output.jpg";
static char infile[12] = "pacific.jpg";
static int width = 640;
static int height = 480;

GLuint shaderProg[2]; // 0: flat program, 1: texture program

static Raster<unsigned char>* image = nullptr; // the photograph; null after a failed reload
static float angle = 0;                        // degrees, kept in [0, 360)

// Key trace: each prints the traced variable's name and its own source line.
#define TRACE_CHAR(v)                                                                              \
  do {                                                                                             \
    if (debug_level > 0)                                                                           \
      std::fprintf(stderr, "dbc: " #v " is ->%c<- (0x%x, %d) on source line %d of %s\n",           \
                   static_cast<int>(v), static_cast<int>(v), static_cast<int>(v), __LINE__,        \
                   __FILE__);                                                                      \
  } while (0)
#define TRACE_INT(v)                                                                               \
  do {                                                                                             \
    if (debug_level > 0)                                                                           \
      std::fprintf(stderr, "dbi: " #v " is %ld on source line %d of %s\n", static_cast<long>(v),   \
                   __LINE__, __FILE__);                                                            \
  } while (0)

// The 12 edges of the unit cube centred on the origin, as pairs of corners.
static const double cube_edges[24][3] = {
    {-0.5, -0.5, 0.5}, {0.5, -0.5, 0.5},   {0.5, -0.5, 0.5},  {0.5, 0.5, 0.5},    {0.5, 0.5, 0.5},
    {-0.5, 0.5, 0.5},  {-0.5, 0.5, 0.5},   {-0.5, -0.5, 0.5}, {-0.5, 0.5, 0.5},   {-0.5, 0.5, -0.5},
    {0.5, 0.5, 0.5},   {0.5, 0.5, -0.5},   {-0.5, -0.5, 0.5}, {-0.5, -0.5, -0.5}, {0.5, -0.5, 0.5},
    {0.5, -0.5, -0.5}, {-0.5, -0.5, -0.5}, {0.5, -0.5, -0.5}, {0.5, -0.5, -0.5},  {0.5, 0.5, -0.5},
    {0.5, 0.5, -0.5},  {-0.5, 0.5, -0.5},  {-0.5, 0.5, -0.5}, {-0.5, -0.5, -0.5},
};

static void draw_cube() {
  glColor3d(0.0, 1.0, 0.0);
  glBegin(GL_LINES);
  for (const double* v : cube_edges)
    glVertex3d(v[0], v[1], v[2]);
  glEnd();
}

// Gives the texture program its coordinate; -1 means the program has no such
// active attribute, and there is nothing to set.
static void texture_coordinate(GLint location, const GLfloat st[2]) {
  if (location >= 0)
    glVertexAttrib2fv(static_cast<GLuint>(location), st);
}

static void display_CB() {
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  gluLookAt(0, 0, 600, 0, 0, 0, 0, 1, 0);

  // One degree a frame; wrapping keeps the float exact however long it runs.
  angle = angle + 1;
  if (angle >= 360)
    angle -= 360;

  // NOTE: uniform and attribute locations are looked up by name every frame,
  // not kept from start-up; GL answers the same each time.
  glUseProgram(shaderProg[1]);
  glUniform1i(glGetUniformLocation(shaderProg[1], "image"), 0);

  // Tiled quad: the photograph twice across and twice up, spinning about y.
  glPushMatrix();
  GLint coordinate = glGetAttribLocation(shaderProg[1], "vertex_texture_coordinate");
  glTranslatef(0, 100, 100);
  glRotatef(-angle, 0, 1, 0);
  static const GLfloat tiled_st[4][2] = {{0, 0}, {2, 0}, {2, 2}, {0, 2}};
  static const double tiled_xyz[4][3] = {{-50, -50, 0}, {50, -50, 0}, {50, 50, 0}, {-50, 50, 0}};
  glBegin(GL_QUADS);
  for (int i = 0; i < 4; ++i) {
    texture_coordinate(coordinate, tiled_st[i]);
    glColor3f(1.0f, 0.5f, 0.2f);
    glVertex3d(tiled_xyz[i][0], tiled_xyz[i][1], tiled_xyz[i][2]);
  }
  glEnd();
  glPopMatrix();

  // Gradient quad: tumbling about x through its horizontal centre line.
  glUseProgram(shaderProg[0]);
  glPushMatrix();
  glTranslatef(0, -100, 200);
  glRotatef(angle, 1, 0, 0);
  glTranslatef(0, -50, 0);
  static const GLfloat gradient_rgb[4][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 0}};
  static const double gradient_xyz[4][3] = {{-50, 0, 0}, {50, 0, 0}, {50, 100, 0}, {-50, 100, 0}};
  glBegin(GL_QUADS);
  for (int i = 0; i < 4; ++i) {
    glColor3f(gradient_rgb[i][0], gradient_rgb[i][1], gradient_rgb[i][2]);
    glVertex3d(gradient_xyz[i][0], gradient_xyz[i][1], gradient_xyz[i][2]);
  }
  glEnd();
  glPopMatrix();

  // Image quad: one unit per pixel of the raster, centred, facing the camera.
  // Without a raster (a reload found no file) there is nothing to size it by.
  if (image) {
    const double w = image->width(), h = image->height();
    glUseProgram(shaderProg[1]);
    glPushMatrix();
    glTranslatef(static_cast<float>(-w / 2.0), static_cast<float>(-h / 2.0), 0);
    coordinate = glGetAttribLocation(shaderProg[1], "vertex_texture_coordinate");
    glColor3f(1, 1, 1);
    static const GLfloat image_st[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    const double image_xyz[4][3] = {{0, 0, 0}, {w, 0, 0}, {w, h, 0}, {0, h, 0}};
    glBegin(GL_QUADS);
    for (int i = 0; i < 4; ++i) {
      texture_coordinate(coordinate, image_st[i]);
      glVertex3d(image_xyz[i][0], image_xyz[i][1], image_xyz[i][2]);
    }
    glEnd();
    glPopMatrix();
  }

  // Wire box, in the fixed pipeline.
  glUseProgram(0);
  glPushMatrix();
  glScalef(400, 300, 400);
  draw_cube();
  glPopMatrix();

  glFlush();
  glutSwapBuffers();
}

static void idle_CB() {
  glutPostRedisplay();
}

static void key_CB(unsigned char key, int x, int y) {
  TRACE_CHAR(key);
  TRACE_INT(x);
  TRACE_INT(y);

  switch (key) {
  case 'q':
    std::exit(0);
  case 's':
    if (!image)
      std::fprintf(stderr, "Nothing to save: no photograph is loaded.\n");
    else if (!write_jpeg_image(outfile, *image))
      std::fprintf(stderr, "Cannot save \"%s\": %s\n", outfile, std::strerror(errno));
    break;
  case 'l':
    delete image;
    image = read_jpeg_image(infile);
    break;
  default:
    break;
  }
  glutPostRedisplay();
}

// Returns the whole file as a new zero-terminated string. A file that cannot
// be opened ends the program: the scene cannot be drawn without its shaders.
static char* readShaderSource(const char* path) {
  FILE* file = std::fopen(path, "r");
  if (!file) {
    std::fprintf(stderr, "Cannot open shader \"%s\": %s\n", path, std::strerror(errno));
    std::exit(1);
  }
  struct stat info;
  const size_t size =
      fstat(fileno(file), &info) == 0 && info.st_size > 0 ? static_cast<size_t>(info.st_size) : 0;
  char* source = static_cast<char*>(std::calloc(size + 1, 1));
  if (std::fread(source, 1, size, file) != size && std::ferror(file))
    std::fprintf(stderr, "Error reading shader \"%s\"\n", path);
  std::fclose(file);
  return source;
}

static void printLog(GLuint object) {
  GLint length = 0;
  if (glIsShader(object))
    glGetShaderiv(object, GL_INFO_LOG_LENGTH, &length);
  else
    glGetProgramiv(object, GL_INFO_LOG_LENGTH, &length);
  std::vector<char> log(static_cast<size_t>(length > 0 ? length : 1), '\0');
  GLsizei count = 0;
  if (glIsShader(object))
    glGetShaderInfoLog(object, length, &count, log.data());
  else
    glGetProgramInfoLog(object, length, &count, log.data());
  if (count > 0)
    std::puts(log.data());
}

static void compile_stage(GLuint program, GLenum stage, const char* path, const char* label) {
  char* source = readShaderSource(path);
  const GLuint shader = glCreateShader(stage);
  glShaderSource(shader, 1, const_cast<const GLchar**>(&source), nullptr);
  glCompileShader(shader); // NOTE: compile status is never queried; see the log
  glAttachShader(program, shader);
  std::printf("%s Shader code:\n%s\n", label, source);
  printLog(shader);
  std::free(source);
}

static void build_shader(GLuint program, const char* vertexPath, const char* fragmentPath) {
  compile_stage(program, GL_VERTEX_SHADER, vertexPath, "Vertex");
  compile_stage(program, GL_FRAGMENT_SHADER, fragmentPath, "Fragment");
}

// Adobe CMYK as libjpeg hands it over (inverted: 255 is no ink) to RGB. Memory
// that cannot be had ends the program with the photograph's name and size.
static std::unique_ptr<unsigned char[]>
rgb_from_inverted_cmyk(const Raster<unsigned char>& raster) {
  const size_t pixels = static_cast<size_t>(raster.width()) * raster.height();
  std::unique_ptr<unsigned char[]> rgb(new (std::nothrow) unsigned char[pixels * 3]);
  if (!rgb) {
    std::fprintf(stderr,
                 "%s: a %d x %d image of %d channels does not fit in the memory available\n",
                 infile, raster.width(), raster.height(), raster.channels());
    std::exit(1);
  }
  const unsigned char* p = raster.head();
  for (size_t i = 0; i < pixels; ++i, p += 4)
    for (int k = 0; k < 3; ++k)
      rgb[i * 3 + k] = static_cast<unsigned char>((p[k] * p[3] + 127) / 255);
  return rgb;
}

static void init_texture(Raster<unsigned char>& raster) {
  raster.vflip(); // GL wants the bottom row first

  GLuint texture = 0;
  glGenTextures(1, &texture);
  glBindTexture(GL_TEXTURE_2D, texture);
  glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);

  // Rows are width * channels bytes with no padding.
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  std::unique_ptr<unsigned char[]> converted;
  const void* pixels = raster.head();
  GLenum format = GL_RGB;
  switch (raster.channels()) {
  case 1:
    format = GL_LUMINANCE;
    break;
  case 2:
    format = GL_LUMINANCE_ALPHA;
    break;
  case 3:
    break;
  case 4:
    converted = rgb_from_inverted_cmyk(raster);
    pixels = converted.get();
    break;
  default:
    std::fprintf(stderr, "Cannot show a photograph of %d channels; no texture\n",
                 raster.channels());
    return;
  }
  gluBuild2DMipmaps(GL_TEXTURE_2D, GL_RGB, raster.width(), raster.height(), format,
                    GL_UNSIGNED_BYTE, pixels);
}

int main(int argc, char** argv) {
  // Past a file size limit (ulimit -f) a write fails with EFBIG, which s
  // reports, instead of ending the program.
  std::signal(SIGXFSZ, SIG_IGN);

  image = read_jpeg_image(infile);
  if (!image) {
    char cwd[PATH_MAX];
    const int error = errno;
    std::fprintf(stderr, "Cannot open \"%s\" in %s: %s\n", infile,
                 getcwd(cwd, sizeof cwd) ? cwd : "the current directory", std::strerror(error));
    return 1;
  }

  glutInit(&argc, argv);
  glutInitDisplayMode(GLUT_DOUBLE | GLUT_DEPTH | GLUT_RGB);
  glutInitWindowSize(width, height);
  glutCreateWindow("Demo");

  const GLenum status = glewInit();
  if (status != GLEW_OK)
    std::fprintf(stderr, "Error: %s\n", glewGetErrorString(status));
  std::printf("Status: Using GLEW %s\n", glewGetString(GLEW_VERSION));
  if (!GLEW_VERSION_2_0) {
    std::printf("Error: Required extensions not supported.\n");
    std::printf("  Program requires OpenGL version 2.0 or later.\n");
    std::exit(-1);
  }

  glutDisplayFunc(display_CB);
  glutIdleFunc(idle_CB);
  glutKeyboardFunc(key_CB);

  glClearColor(0, 0, 0, 0);
  glEnable(GL_DEPTH_TEST);

  // NOTE: a constant viewport and an aspect of 1.333, set once: with no
  // reshape callback GLUT's own sets the viewport to a resized window, and
  // the picture stretches with it.
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glViewport(0, 0, 640, 480);
  gluPerspective(45, 1.333, 1, 1000);

  shaderProg[0] = glCreateProgram();
  shaderProg[1] = glCreateProgram();
  build_shader(shaderProg[0], "vertex1.glsl", "fragment1.glsl");
  build_shader(shaderProg[1], "vertex2.glsl", "fragment2.glsl");
  // NOTE: link status is never queried; a failed link shows in the logs only.
  glLinkProgram(shaderProg[0]);
  glLinkProgram(shaderProg[1]);
  printLog(shaderProg[0]);
  printLog(shaderProg[1]);

  init_texture(*image);

  glutMainLoop();
  return 1;
}
