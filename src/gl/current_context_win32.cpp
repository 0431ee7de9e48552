// The current rendering context on Windows: WGL's.
#include <windows.h>

#include "gl/gl_api.h"
#include "gl/gl_support.h"
#include "gl/glew_contexts.h"

void* CurrentRenderingContext() { return wglGetCurrentContext(); }

bool GlewInitSucceeded(unsigned int result) { return result == GLEW_OK; }
