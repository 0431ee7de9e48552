#pragma once
// GLEW descriptors: one per live rendering context, at most four.
//
// GLEW 2.2 keeps its function pointers and version and extension flags in
// process-wide variables that glewInit() fills for whichever context is
// current. So each new context runs glewInit() under one process-wide lock
// (the preview's context and a probe's can be made on two threads at once),
// and what that context offers is copied into its own descriptor right
// after; glewGetContext() answers that copy for the calling thread's current
// context.
//
// The function pointers stay shared. They are the same for every context of
// one OpenGL implementation, but a context of another implementation (the
// system's generic renderer beside a driver's) would overwrite them under a
// context that is still drawing. CreateGLEWContext therefore refuses a
// context whose implementation (vendor, renderer and version) differs from
// that of any live context: a probe can never replace the pointers the
// preview uses.
#include <cstdint>

#include "gl/capabilities.h"

constexpr int GLEW_CONTEXT_SLOTS = 4;

struct GLEWContext {
  OpenGLCapabilities capabilities;
};

// The calling thread's current rendering context (WGL on Windows, EGL
// natively), null when none.
void* CurrentRenderingContext();

// For the current rendering context; false with a report when there is none,
// it has a descriptor already, all four are taken, it comes from another
// implementation than the live contexts, or GLEW fails on it.
bool CreateGLEWContext();
void DeleteGLEWContext(void* renderingContext);
// Null with a report when the thread has no current context or it has no
// descriptor.
const GLEWContext* glewGetContext();
int LiveGLEWContextCount();

// Frame buffer objects through the core entry points (OpenGL 3.0 or
// ARB_framebuffer_object) rather than EXT_framebuffer_object's, for the
// current context.
bool CoreFrameBufferEntryPoints();
