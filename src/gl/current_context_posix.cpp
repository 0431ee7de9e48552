// The current rendering context natively: EGL's. The native build draws only
// in tests, on EGL contexts without a window system.
#include <EGL/egl.h>

#include "gl/gl_api.h"
#include "gl/gl_support.h"
#include "gl/glew_contexts.h"

void* CurrentRenderingContext() { return eglGetCurrentContext() != EGL_NO_CONTEXT ? eglGetCurrentContext() : nullptr; }

// Debian's GLEW is built for GLX: on an EGL context glewInit() loads the
// OpenGL entry points and flags, then finds no GLX display and says so.
bool GlewInitSucceeded(unsigned int result) { return result == GLEW_OK || result == GLEW_ERROR_NO_GLX_DISPLAY; }
