#include "gl/gl_support.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "gl/gl_api.h"
#include "runtime/report.h"

uint32_t CheckOpenGLError(uint32_t line, const char* format, ...) {
  GLenum code = glGetError();
  if (code == GL_NO_ERROR) return 0;
  DebugMessage message = MakeDebugMessage(line, OPENGL_ERROR, code);
  va_list args;
  va_start(args, format);
  ReportMessageV(&message, STYLE_ERROR, CAPTION_UNEXPECTED_ERROR, format, args);
  va_end(args);
  return code;
}

bool SetGLSize(const GLRect& client) {
  const int32_t width = client.right - client.left;
  const int32_t height = client.bottom - client.top;
  glViewport(0, 0, width, height);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0.0, width, height, 0.0, -1.0, 1.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  return CHECK_OPENGL_ERROR("OpenGL Function Failed in SetGLSize(). Viewport Width = %d, Viewport Height = %d.", width,
                            height) == 0;
}

const char* OpenGLString(unsigned int name) { return reinterpret_cast<const char*>(glGetString(name)); }

OpenGLCapabilities CapabilitiesFromGLEW() {
  OpenGLCapabilities c{};
  c.version1_4 = GLEW_VERSION_1_4;
  c.version1_5 = GLEW_VERSION_1_5;
  c.version2_0 = GLEW_VERSION_2_0;
  c.version2_1 = GLEW_VERSION_2_1;
  c.version3_0 = GLEW_VERSION_3_0;
  c.arbTextureNonPowerOfTwo = GLEW_ARB_texture_non_power_of_two;
  c.arbVertexBufferObject = GLEW_ARB_vertex_buffer_object;
  c.arbPixelBufferObject = GLEW_ARB_pixel_buffer_object;
  c.arbFramebufferObject = GLEW_ARB_framebuffer_object;
  c.extFramebufferObject = GLEW_EXT_framebuffer_object;
  c.arbShaderObjects = GLEW_ARB_shader_objects;
  c.arbVertexShader = GLEW_ARB_vertex_shader;
  c.arbFragmentShader = GLEW_ARB_fragment_shader;
  c.arbShadingLanguage100 = GLEW_ARB_shading_language_100;
  c.arbTextureFloat = GLEW_ARB_texture_float;
  c.arbHalfFloatPixel = GLEW_ARB_half_float_pixel;
  c.nvFloatBuffer = GLEW_NV_float_buffer;
  c.atiTextureFloat = GLEW_ATI_texture_float;
  return c;
}

std::string FormatOpenGLImplementation(const void* renderingContext, const char* version, const char* vendor,
                                       const char* renderer, const char* extensions) {
  std::string versionText = version != nullptr ? version : "";
  std::string first = versionText;
  std::string rest;
  size_t blank = versionText.find(' ');
  if (blank != std::string::npos) {
    first = versionText.substr(0, blank);
    size_t restStart = versionText.find_first_not_of(' ', blank);
    if (restStart != std::string::npos) rest = " (" + versionText.substr(restStart) + ")";
  }
  std::string list;
  const std::string all = extensions != nullptr ? extensions : "";
  for (size_t at = 0; at < all.size();) {
    size_t end = all.find(' ', at);
    if (end == std::string::npos) end = all.size();
    if (end > at) list += "          " + all.substr(at, end - at) + "\n";
    at = end + 1;
  }
  char head[160];
  std::snprintf(head, sizeof head, "OpenGL Implementation for Rendering Context 0x%llX\n",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(renderingContext)));
  return std::string(head) + "     OpenGL Version " + first + " " + rest + "\n" + "     OpenGL Vendor '" +
         (vendor != nullptr ? vendor : "") + "'\n" + "     OpenGL Renderer '" + (renderer != nullptr ? renderer : "") +
         "'\n" + "     Available Extensions:\n" + list;
}

void LogOpenGLImplementation(const void* renderingContext) {
  std::string block = FormatOpenGLImplementation(renderingContext, OpenGLString(GL_VERSION), OpenGLString(GL_VENDOR),
                                                 OpenGLString(GL_RENDERER), OpenGLString(GL_EXTENSIONS));
  REPORT_TRACE("%s", block.c_str());
}
