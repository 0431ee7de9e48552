#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <mutex>

#include "gl/gl_support.h"
#include "gl/glew_contexts.h"
#include "test_gl_context.h"

namespace {

struct EglContext {
  EGLDisplay display;
  EGLContext context;
};

// One display for the process: terminating it would end every context made
// on it, including those of other tests still running.
EGLDisplay SharedDisplay(std::string* failure) {
  static std::once_flag once;
  static EGLDisplay display = EGL_NO_DISPLAY;
  static std::string why;
  std::call_once(once, [] {
    EGLDisplay d = eglGetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (d == EGL_NO_DISPLAY) {
      why = "no surfaceless EGL display";
      return;
    }
    if (!eglInitialize(d, nullptr, nullptr)) {
      why = "eglInitialize failed";
      return;
    }
    display = d;
  });
  *failure = why;
  return display;
}

}  // namespace

bool TestGLContext::Create() {
  Release();
  EGLDisplay display = SharedDisplay(&failure_);
  if (display == EGL_NO_DISPLAY) return false;
  if (!eglBindAPI(EGL_OPENGL_API)) {
    failure_ = "eglBindAPI(EGL_OPENGL_API) failed";
    return false;
  }
  // No window: the default surface type (window) would rule out every config.
  const EGLint attributes[] = {EGL_SURFACE_TYPE, 0, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
  EGLConfig config = nullptr;
  EGLint count = 0;
  if (!eglChooseConfig(display, attributes, &config, 1, &count) || count == 0) {
    failure_ = "no EGL configuration renders OpenGL";
    return false;
  }
  EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, nullptr);
  if (context == EGL_NO_CONTEXT) {
    failure_ = "eglCreateContext failed";
    return false;
  }
  if (!eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
    eglDestroyContext(display, context);
    failure_ = "eglMakeCurrent failed";
    return false;
  }
  if (!CreateGLEWContext()) {
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(display, context);
    failure_ = "CreateGLEWContext failed";
    return false;
  }
  handle_ = new EglContext{display, context};
  // As the plug-in's own contexts do after creation.
  LogOpenGLImplementation(context);
  // Mesa's renderer stands in for a driver here: the window path of the
  // Windows build, where Mesa's formats count as accelerated.
  accelerated_ = true;
  return true;
}

void TestGLContext::Release() {
  auto* egl = static_cast<EglContext*>(handle_);
  if (egl == nullptr) return;
  DeleteGLEWContext(egl->context);
  if (eglGetCurrentContext() == egl->context)
    eglMakeCurrent(egl->display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  eglDestroyContext(egl->display, egl->context);
  delete egl;
  handle_ = nullptr;
}
