// Compiles and links the demo's two shader programs from the files in the
// current directory on the real GL, and checks what the scene relies on:
// both link, "image" is an active sampler and "vertex_texture_coordinate" an
// active attribute away from location 0 (which aliases the vertex position).
#include <GL/glew.h>
#include <GL/glut.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

static int failures = 0;

static void check(bool ok, const char* what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
  failures += !ok;
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
  return shader;
}

static GLuint link(const char* vertex, const char* fragment) {
  const GLuint program = glCreateProgram();
  glAttachShader(program, compile(GL_VERTEX_SHADER, vertex));
  glAttachShader(program, compile(GL_FRAGMENT_SHADER, fragment));
  glLinkProgram(program);
  GLint ok = 0;
  glGetProgramiv(program, GL_LINK_STATUS, &ok);
  check(ok == GL_TRUE, (std::string(vertex) + " + " + fragment + " link").c_str());
  return program;
}

int main(int argc, char** argv) {
  glutInit(&argc, argv);
  glutInitDisplayMode(GLUT_DOUBLE | GLUT_DEPTH | GLUT_RGB);
  glutCreateWindow("shader check");
  if (glewInit() != GLEW_OK || !GLEW_VERSION_2_0) {
    std::printf("FAILED: no OpenGL 2.0\n");
    return 1;
  }
  link("vertex1.glsl", "fragment1.glsl");
  const GLuint texture = link("vertex2.glsl", "fragment2.glsl");
  const GLint coordinate = glGetAttribLocation(texture, "vertex_texture_coordinate");
  std::printf("vertex_texture_coordinate at %d\n", coordinate);
  check(coordinate > 0, "vertex_texture_coordinate is active and not at location 0");
  check(glGetUniformLocation(texture, "image") >= 0, "image is an active uniform");
  return failures ? 1 : 0;
}
