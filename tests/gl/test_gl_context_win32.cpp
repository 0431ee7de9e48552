#include "gl/wgl_contexts.h"
#include "test_gl_context.h"

bool TestGLContext::Create() {
  Release();
  auto* context = new OpenGLContext{};
  PIXELFORMATDESCRIPTOR descriptor{};
  bool accelerated = true;
  if (!CreateHiddenOpenGLContext(context, &descriptor, &accelerated)) {
    delete context;
    failure_ = "CreateHiddenOpenGLContext failed (see the log)";
    return false;
  }
  handle_ = context;
  accelerated_ = accelerated;
  return true;
}

void TestGLContext::Release() {
  auto* context = static_cast<OpenGLContext*>(handle_);
  if (context == nullptr) return;
  DestroyHiddenOpenGLContext(context);
  delete context;
  handle_ = nullptr;
}
