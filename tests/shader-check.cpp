// Compiles and links the demo's two shader programs from the files in the
// current directory on the real GL, and checks what the scene relies on:
// both link, "image" is an active sampler and "vertex_texture_coordinate" an
// active attribute away from location 0 (which aliases the vertex position).
//   shader_check          the checks, one line each; status 1 if any fails
//   shader_check --logs   writes each info log, exactly as GL gives it, to
//                         vertex1.log ... fragment2.log, flat.log and
//                         texture.log (empty when there is none); status 0
//   shader_check --samples  prints the sample counts of the multisampled
//                         visuals this display offers (none: an empty line)
#include <GL/glew.h> // before any other GL header

#include <GL/freeglut.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

static int failures = 0;
static bool write_logs = false;

static void check(bool ok, const char* what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
  failures += !ok;
}

static void save_log(GLuint object, const std::string& name) {
  if (!write_logs)
    return;
  GLint length = 0;
  std::string log;
  if (glIsShader(object))
    glGetShaderiv(object, GL_INFO_LOG_LENGTH, &length);
  else
    glGetProgramiv(object, GL_INFO_LOG_LENGTH, &length);
  if (length > 1) {
    log.resize(static_cast<size_t>(length));
    if (glIsShader(object))
      glGetShaderInfoLog(object, length, nullptr, &log[0]);
    else
      glGetProgramInfoLog(object, length, nullptr, &log[0]);
    log.resize(log.find('\0'));
  }
  std::ofstream(name + ".log", std::ios::binary) << log;
}

static GLuint compile(GLenum stage, const char* path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  const std::string source = text.str();
  const char* s = source.c_str();
  const GLuint shader = glCreateShader(stage);
  glShaderSource(shader, 1, &s, nullptr);
  glCompileShader(shader);
  GLint ok = 0;
  glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
  check(in.good() || in.eof(), path);
  check(ok == GL_TRUE, (std::string(path) + " compiles").c_str());
  save_log(shader, std::string(path).substr(0, std::string(path).rfind('.')));
  return shader;
}

static GLuint link(const char* vertex, const char* fragment, const char* name) {
  const GLuint program = glCreateProgram();
  glAttachShader(program, compile(GL_VERTEX_SHADER, vertex));
  glAttachShader(program, compile(GL_FRAGMENT_SHADER, fragment));
  glLinkProgram(program);
  GLint ok = 0;
  glGetProgramiv(program, GL_LINK_STATUS, &ok);
  check(ok == GL_TRUE, (std::string(vertex) + " + " + fragment + " link").c_str());
  save_log(program, name);
  return program;
}

int main(int argc, char** argv) {
  glutInit(&argc, argv);
  if (argc > 1 && std::string(argv[1]) == "--samples") {
    int count = 0;
    glutInitDisplayMode(GLUT_DOUBLE | GLUT_DEPTH | GLUT_RGB | GLUT_MULTISAMPLE);
    const int* samples = glutGetModeValues(GLUT_MULTISAMPLE, &count);
    for (int i = 0; i < count; ++i)
      std::printf("%s%d", i ? " " : "", samples[i]);
    std::printf("\n");
    return 0;
  }
  write_logs = argc > 1 && std::string(argv[1]) == "--logs";
  glutInitDisplayMode(GLUT_DOUBLE | GLUT_DEPTH | GLUT_RGB);
  glutCreateWindow("shader check");
  if (glewInit() != GLEW_OK || !GLEW_VERSION_2_0) {
    std::printf("FAILED: no OpenGL 2.0\n");
    return 1;
  }
  const GLuint flat = link("vertex1.glsl", "fragment1.glsl", "flat");
  const GLuint texture = link("vertex2.glsl", "fragment2.glsl", "texture");
  if (write_logs)
    return flat && texture ? 0 : 1;
  const GLint coordinate = glGetAttribLocation(texture, "vertex_texture_coordinate");
  std::printf("vertex_texture_coordinate at %d\n", coordinate);
  check(coordinate > 0, "vertex_texture_coordinate is active and not at location 0");
  check(glGetUniformLocation(texture, "image") >= 0, "image is an active uniform");
  return failures ? 1 : 0;
}
