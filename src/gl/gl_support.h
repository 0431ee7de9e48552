#pragma once
// Small OpenGL helpers every drawing file uses: the error check, the pixel
// projection, the implementation block of the log.
#include <cstdint>
#include <string>

#include "gl/capabilities.h"

// A client rectangle in pixels (left and top usually 0).
struct GLRect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

// Reads glGetError() once after a group of calls; a non-zero code is
// reported (OpenGL Error category, caption "Debug:  Unexpected Error") with
// the given text and returned.
uint32_t CheckOpenGLError(uint32_t line, const char* format, ...) __attribute__((format(printf, 2, 3)));
#define CHECK_OPENGL_ERROR(...) CheckOpenGLError(__LINE__, __VA_ARGS__)

// Viewport and projection for drawing in pixels: origin top left, y down.
bool SetGLSize(const GLRect& client);

// glGetString as text, null when the context has none. It is an entry
// point of the system's OpenGL library itself, so it may be asked before
// glewInit().
const char* OpenGLString(unsigned int name);

// What GLEW found for the current context, after glewInit().
OpenGLCapabilities CapabilitiesFromGLEW();

// Whether glewInit()'s result means the context's OpenGL part was loaded.
// Natively Debian's GLEW (built for GLX) loads everything for an EGL context
// and then fails to find a GLX display: that counts as success there.
bool GlewInitSucceeded(unsigned int result);

// The log block of a new context: version (first token, then the rest in
// parentheses), vendor, renderer and each extension on its own line.
std::string FormatOpenGLImplementation(const void* renderingContext, const char* version, const char* vendor,
                                       const char* renderer, const char* extensions);
void LogOpenGLImplementation(const void* renderingContext);
