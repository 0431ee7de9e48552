#include "gl/glew_contexts.h"

#include <mutex>
#include <string>

#include "gl/gl_api.h"
#include "gl/gl_support.h"
#include "runtime/report.h"

namespace {

struct GLEWContextDescriptor {
  void* owner;                 // the rendering context; null = free
  std::string implementation;  // vendor, renderer and version of its driver
  GLEWContext context;
};

std::mutex TableLock;
GLEWContextDescriptor Table[GLEW_CONTEXT_SLOTS];

const char* GLText(GLenum name) {
  const char* text = OpenGLString(name);
  return text != nullptr ? text : "";
}

// Asked before glewInit(): OpenGLString needs no GLEW.
std::string CurrentImplementation() {
  return std::string(GLText(GL_VENDOR)) + "' '" + GLText(GL_RENDERER) + "' '" + GLText(GL_VERSION);
}

unsigned long long Bits(const void* handle) { return static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(handle)); }

}  // namespace

bool CoreFrameBufferEntryPoints() {
  const GLEWContext* context = glewGetContext();
  // GLEW loads these entry points with ARB_framebuffer_object only, whatever
  // the version: a 3.0 context whose extension list lacks it has none.
  return context != nullptr && (context->capabilities.version3_0 || context->capabilities.arbFramebufferObject) &&
         glGenFramebuffers != nullptr;
}

bool CreateGLEWContext() {
  void* rc = CurrentRenderingContext();
  if (rc == nullptr) {
    REPORT_DEBUG("CreateGLEWContext() - Failed to obtain OpenGL rendering context from current context.");
    return false;
  }
  std::lock_guard<std::mutex> lock(TableLock);
  for (const GLEWContextDescriptor& d : Table) {
    if (d.owner == rc) {
      REPORT_DEBUG("CreateGLEWContext() - A GLEW context for OpenGL rendering context 0x%llX already exists.", Bits(rc));
      return false;
    }
  }
  const std::string implementation = CurrentImplementation();
  for (const GLEWContextDescriptor& d : Table) {
    if (d.owner != nullptr && d.implementation != implementation) {
      REPORT_DEBUG("CreateGLEWContext() - OpenGL rendering context 0x%llX comes from another OpenGL implementation "
                   "('%s') than the live context 0x%llX ('%s'); they cannot share GLEW's entry points.",
                   Bits(rc), implementation.c_str(), Bits(d.owner), d.implementation.c_str());
      return false;
    }
  }
  GLEWContextDescriptor* slot = nullptr;
  for (GLEWContextDescriptor& d : Table) {
    if (d.owner == nullptr) {
      slot = &d;
      break;
    }
  }
  if (slot == nullptr) {
    REPORT_DEBUG("CreateGLEWContext() - The GLEW context descriptor array is full.");
    return false;
  }
  GLenum result = glewInit();
  if (!GlewInitSucceeded(result)) {
    REPORT_DEBUG("CreateGLEWContext() - The GLEW context could not be initialized. Error = '%s'.",
                 reinterpret_cast<const char*>(glewGetErrorString(result)));
    return false;
  }
  slot->context.capabilities = CapabilitiesFromGLEW();
  slot->implementation = implementation;
  slot->owner = rc;
  return true;
}

void DeleteGLEWContext(void* renderingContext) {
  std::lock_guard<std::mutex> lock(TableLock);
  for (GLEWContextDescriptor& d : Table) {
    if (renderingContext != nullptr && d.owner == renderingContext) {
      d.owner = nullptr;
      d.implementation.clear();
      d.context = GLEWContext{};
      return;
    }
  }
  REPORT_DEBUG("DeleteGLEWContext() - Failed to obtain GLEW context for OpenGL rendering context 0x%llX.",
               Bits(renderingContext));
}

const GLEWContext* glewGetContext() {
  void* rc = CurrentRenderingContext();
  if (rc == nullptr) {
    REPORT_DEBUG("glewGetContext() - Failed to obtain OpenGL rendering context from current context.");
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(TableLock);
  // A descriptor changes only when its own context is made or released, on
  // the context's thread: the pointer stays valid while the context lives.
  for (const GLEWContextDescriptor& d : Table)
    if (d.owner == rc) return &d.context;
  REPORT_DEBUG("glewGetContext() - Failed to find GLEW context descriptor for OpenGL current context 0x%llX.", Bits(rc));
  return nullptr;
}

int LiveGLEWContextCount() {
  std::lock_guard<std::mutex> lock(TableLock);
  int count = 0;
  for (const GLEWContextDescriptor& d : Table) count += d.owner != nullptr ? 1 : 0;
  return count;
}
