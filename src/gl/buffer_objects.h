#pragma once
// Buffer objects through the OpenGL 1.5 entry points when the current
// context reports 1.5, through ARB_vertex_buffer_object's otherwise (1.4
// drivers that carry the extension). Callers check for errors themselves.
#include "gl/gl_api.h"
#include "gl/glew_contexts.h"

namespace glbuffers {

inline bool CoreBuffers() {
  const GLEWContext* context = glewGetContext();
  return context != nullptr && context->capabilities.version1_5;
}
inline void GenBuffer(GLuint* name) { CoreBuffers() ? glGenBuffers(1, name) : glGenBuffersARB(1, name); }
inline void DeleteBuffer(GLuint* name) {
  if (*name == 0) return;
  CoreBuffers() ? glDeleteBuffers(1, name) : glDeleteBuffersARB(1, name);
  *name = 0;
}
inline void BindBuffer(GLenum target, GLuint name) {
  CoreBuffers() ? glBindBuffer(target, name) : glBindBufferARB(target, name);
}
inline void BufferData(GLenum target, GLsizeiptr size, const void* data, GLenum usage) {
  CoreBuffers() ? glBufferData(target, size, data, usage) : glBufferDataARB(target, size, data, usage);
}
inline void BufferSubData(GLenum target, GLsizeiptr size, const void* data) {
  CoreBuffers() ? glBufferSubData(target, 0, size, data) : glBufferSubDataARB(target, 0, size, data);
}
inline void* MapBuffer(GLenum target, GLenum access) {
  return CoreBuffers() ? glMapBuffer(target, access) : glMapBufferARB(target, access);
}
inline bool UnmapBuffer(GLenum target) {
  return (CoreBuffers() ? glUnmapBuffer(target) : glUnmapBufferARB(target)) == GL_TRUE;
}

// Frame and render buffers through the core entry points where GLEW loaded
// them, through EXT_framebuffer_object's otherwise.
inline bool CoreFrames() { return CoreFrameBufferEntryPoints(); }
inline void GenFrameBuffers(GLuint* framebuffer, GLuint* renderbuffer) {
  if (CoreFrames()) {
    glGenFramebuffers(1, framebuffer);
    glGenRenderbuffers(1, renderbuffer);
  } else if (glGenFramebuffersEXT != nullptr) {
    glGenFramebuffersEXT(1, framebuffer);
    glGenRenderbuffersEXT(1, renderbuffer);
  }
}
inline void DeleteFrameBuffers(GLuint* framebuffer, GLuint* renderbuffer) {
  const bool core = CoreFrames();
  if (*renderbuffer != 0) core ? glDeleteRenderbuffers(1, renderbuffer) : glDeleteRenderbuffersEXT(1, renderbuffer);
  if (*framebuffer != 0) core ? glDeleteFramebuffers(1, framebuffer) : glDeleteFramebuffersEXT(1, framebuffer);
  *renderbuffer = *framebuffer = 0;
}
inline void BindFrameBuffers(GLuint framebuffer, GLuint renderbuffer) {
  if (CoreFrames()) {
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glBindRenderbuffer(GL_RENDERBUFFER, renderbuffer);
  } else {
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, framebuffer);
    glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, renderbuffer);
  }
}
inline void RenderBufferStorage(GLenum format, GLsizei width, GLsizei height) {
  CoreFrames() ? glRenderbufferStorage(GL_RENDERBUFFER, format, width, height)
               : glRenderbufferStorageEXT(GL_RENDERBUFFER_EXT, format, width, height);
}
inline void AttachRenderBuffer(GLuint renderbuffer) {
  CoreFrames() ? glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, renderbuffer)
               : glFramebufferRenderbufferEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_RENDERBUFFER_EXT,
                                              renderbuffer);
}
inline bool FrameBufferComplete(GLenum* status) {
  *status = CoreFrames() ? glCheckFramebufferStatus(GL_FRAMEBUFFER) : glCheckFramebufferStatusEXT(GL_FRAMEBUFFER_EXT);
  return *status == GL_FRAMEBUFFER_COMPLETE;  // the same value in both
}
inline GLint RenderBufferInternalFormat() {
  GLint format = 0;
  CoreFrames() ? glGetRenderbufferParameteriv(GL_RENDERBUFFER, GL_RENDERBUFFER_INTERNAL_FORMAT, &format)
               : glGetRenderbufferParameterivEXT(GL_RENDERBUFFER_EXT, GL_RENDERBUFFER_INTERNAL_FORMAT_EXT, &format);
  return format;
}

}  // namespace glbuffers
