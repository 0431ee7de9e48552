#include "gl/texture_formats.h"

#include <cstdio>

#include "gl/drawing_settings.h"
#include "gl/gl_api.h"
#include "gl/gl_support.h"
#include "gl/glew_contexts.h"
#include "runtime/report.h"
#include "runtime/status.h"

namespace {

struct NamedFormat {
  uint32_t value;
  const char* name;
};

// The log's names of internal texture formats, searched in this order.
#define NAMED(token) {token, #token}
const NamedFormat INTERNAL_FORMAT_NAMES[] = {
    NAMED(GL_RGBA), NAMED(GL_ALPHA4), NAMED(GL_ALPHA8),
    NAMED(GL_ALPHA12), NAMED(GL_ALPHA16), NAMED(GL_DEPTH_COMPONENT16),
    NAMED(GL_DEPTH_COMPONENT24), NAMED(GL_DEPTH_COMPONENT32), NAMED(GL_LUMINANCE4),
    NAMED(GL_LUMINANCE8), NAMED(GL_LUMINANCE12), NAMED(GL_LUMINANCE16),
    NAMED(GL_LUMINANCE4_ALPHA4), NAMED(GL_LUMINANCE6_ALPHA2), NAMED(GL_LUMINANCE8_ALPHA8),
    NAMED(GL_LUMINANCE12_ALPHA4), NAMED(GL_LUMINANCE12_ALPHA12), NAMED(GL_LUMINANCE16_ALPHA16),
    NAMED(GL_INTENSITY4), NAMED(GL_INTENSITY8), NAMED(GL_INTENSITY12),
    NAMED(GL_INTENSITY16), NAMED(GL_R3_G3_B2), NAMED(GL_RGB4),
    NAMED(GL_RGB5), NAMED(GL_RGB8), NAMED(GL_RGB10),
    NAMED(GL_RGB12), NAMED(GL_RGB16), NAMED(GL_RGBA2),
    NAMED(GL_RGBA4), NAMED(GL_RGB5_A1), NAMED(GL_RGBA8),
    NAMED(GL_RGB10_A2), NAMED(GL_RGBA12), NAMED(GL_RGBA16),
    NAMED(GL_COLOR_INDEX1_EXT), NAMED(GL_COLOR_INDEX2_EXT), NAMED(GL_COLOR_INDEX4_EXT),
    NAMED(GL_COLOR_INDEX8_EXT), NAMED(GL_COLOR_INDEX12_EXT), NAMED(GL_COLOR_INDEX16_EXT),
    NAMED(GL_COMPRESSED_RGBA_S3TC_DXT1_EXT), NAMED(GL_COMPRESSED_RGBA_S3TC_DXT3_EXT), NAMED(GL_COMPRESSED_RGBA_S3TC_DXT5_EXT),
    NAMED(GL_SIGNED_LUMINANCE8_NV), NAMED(GL_SIGNED_LUMINANCE8_ALPHA8_NV), NAMED(GL_SIGNED_RGB8_NV),
    NAMED(GL_SIGNED_RGBA8_NV), NAMED(GL_SIGNED_RGB8_UNSIGNED_ALPHA8_NV), NAMED(GL_SIGNED_ALPHA8_NV),
    NAMED(GL_SIGNED_INTENSITY8_NV), NAMED(GL_HILO16_NV), NAMED(GL_SIGNED_HILO16_NV),
    NAMED(GL_DSDT8_NV), NAMED(GL_DSDT8_MAG8_NV), NAMED(GL_DSDT8_MAG8_INTENSITY8_NV),
    NAMED(GL_HILO8_NV), NAMED(GL_SIGNED_HILO8_NV), NAMED(GL_FLOAT_R16_NV),
    NAMED(GL_FLOAT_R32_NV), NAMED(GL_FLOAT_RG16_NV), NAMED(GL_FLOAT_RGB16_NV),
    NAMED(GL_FLOAT_RGBA16_NV), NAMED(GL_FLOAT_RG32_NV), NAMED(GL_FLOAT_RGB32_NV),
    NAMED(GL_FLOAT_RGBA32_NV), NAMED(GL_RGBA32F), NAMED(GL_RGB_FLOAT32_ATI),
    NAMED(GL_ALPHA_FLOAT32_ATI), NAMED(GL_INTENSITY_FLOAT32_ATI), NAMED(GL_LUMINANCE_FLOAT32_ATI),
    NAMED(GL_LUMINANCE_ALPHA32F_ARB), NAMED(GL_RGBA16F), NAMED(GL_RGB_FLOAT16_ATI),
    NAMED(GL_ALPHA_FLOAT16_ATI), NAMED(GL_INTENSITY_FLOAT16_ATI), NAMED(GL_LUMINANCE_FLOAT16_ATI),
    NAMED(GL_LUMINANCE_ALPHA16F_ARB), NAMED(GL_DEPTH24_STENCIL8), NAMED(GL_DEPTH_COMPONENT32F),
    NAMED(GL_DEPTH32F_STENCIL8), NAMED(GL_SRGB8), NAMED(GL_SRGB8_ALPHA8),
    NAMED(GL_SLUMINANCE8), NAMED(GL_SLUMINANCE8_ALPHA8), NAMED(GL_COMPRESSED_SRGB_S3TC_DXT1_EXT),
    NAMED(GL_COMPRESSED_SRGB_ALPHA_S3TC_DXT1_EXT), NAMED(GL_COMPRESSED_SRGB_ALPHA_S3TC_DXT3_EXT), NAMED(GL_COMPRESSED_SRGB_ALPHA_S3TC_DXT5_EXT),
    NAMED(GL_RGB9_E5), NAMED(GL_R11F_G11F_B10F), NAMED(GL_COMPRESSED_LUMINANCE_LATC1_EXT),
    NAMED(GL_COMPRESSED_SIGNED_LUMINANCE_LATC1_EXT), NAMED(GL_COMPRESSED_LUMINANCE_ALPHA_LATC2_EXT), NAMED(GL_COMPRESSED_SIGNED_LUMINANCE_ALPHA_LATC2_EXT),
    NAMED(GL_RGBA32UI), NAMED(GL_RGB32UI), NAMED(GL_ALPHA32UI_EXT),
    NAMED(GL_INTENSITY32UI_EXT), NAMED(GL_LUMINANCE32UI_EXT), NAMED(GL_LUMINANCE_ALPHA32UI_EXT),
    NAMED(GL_RGBA16UI), NAMED(GL_RGB16UI), NAMED(GL_ALPHA16UI_EXT),
    NAMED(GL_INTENSITY16UI_EXT), NAMED(GL_LUMINANCE16UI_EXT), NAMED(GL_LUMINANCE_ALPHA16UI_EXT),
    NAMED(GL_RGBA8UI), NAMED(GL_RGB8UI), NAMED(GL_ALPHA8UI_EXT),
    NAMED(GL_INTENSITY8UI_EXT), NAMED(GL_LUMINANCE8UI_EXT), NAMED(GL_LUMINANCE_ALPHA8UI_EXT),
    NAMED(GL_RGBA32I), NAMED(GL_RGB32I), NAMED(GL_ALPHA32I_EXT),
    NAMED(GL_INTENSITY32I_EXT), NAMED(GL_LUMINANCE32I_EXT), NAMED(GL_LUMINANCE_ALPHA32I_EXT),
    NAMED(GL_RGBA16I), NAMED(GL_RGB16I), NAMED(GL_ALPHA16I_EXT),
    NAMED(GL_INTENSITY16I_EXT), NAMED(GL_LUMINANCE16I_EXT), NAMED(GL_LUMINANCE_ALPHA16I_EXT),
    NAMED(GL_RGBA8I), NAMED(GL_RGB8I), NAMED(GL_ALPHA8I_EXT),
    NAMED(GL_INTENSITY8I_EXT), NAMED(GL_LUMINANCE8I_EXT), NAMED(GL_LUMINANCE_ALPHA8I_EXT),
    NAMED(GL_RG32UI), NAMED(GL_R32UI), NAMED(GL_RG16UI),
    NAMED(GL_R16UI), NAMED(GL_RG8UI), NAMED(GL_R8UI),
    NAMED(GL_RG32I), NAMED(GL_R32I), NAMED(GL_RG16I),
    NAMED(GL_R16I), NAMED(GL_RG8I), NAMED(GL_R8I),
    NAMED(GL_RG8), NAMED(GL_R8), NAMED(GL_RG16),
    NAMED(GL_R16), NAMED(GL_RG16F), NAMED(GL_R16F),
    NAMED(GL_RG32F), NAMED(GL_R32F),
};
#undef NAMED

constexpr GLsizei PROBE_SIZE = 256;
constexpr GLenum ANY_TYPE = 0;

struct Candidate {
  GLenum internalFormat;
  GLenum dataType;  // ANY_TYPE: whatever suits the granted depth
  GLint bits;       // 0: any depth
};

struct ProbeObjects {
  GLuint texture;
  GLuint frameBuffer;
  GLuint renderBuffer;
  bool coreFrameBuffers;  // OpenGL 3.0 or ARB_framebuffer_object, else EXT
};

void DrainOpenGLErrors() {
  for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) {
  }
}

// Whether the granted format can also be drawn into: as the colour buffer of
// the test frame buffer it must make that complete, keeping its format and
// depth. The render buffer is detached again either way.
bool RenderBufferAccepts(const ProbeObjects& probe, GLenum granted, GLint redBits) {
  GLenum status = 0;
  GLint format = 0;
  GLint red = 0;
  if (probe.coreFrameBuffers) {
    glRenderbufferStorage(GL_RENDERBUFFER, granted, PROBE_SIZE, PROBE_SIZE);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, probe.renderBuffer);
    status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
    glGetRenderbufferParameteriv(GL_RENDERBUFFER, GL_RENDERBUFFER_INTERNAL_FORMAT, &format);
    glGetRenderbufferParameteriv(GL_RENDERBUFFER, GL_RENDERBUFFER_RED_SIZE, &red);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, 0);
  } else {
    glRenderbufferStorageEXT(GL_RENDERBUFFER_EXT, granted, PROBE_SIZE, PROBE_SIZE);
    glFramebufferRenderbufferEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_RENDERBUFFER_EXT, probe.renderBuffer);
    status = glCheckFramebufferStatusEXT(GL_FRAMEBUFFER_EXT);
    glGetRenderbufferParameterivEXT(GL_RENDERBUFFER_EXT, GL_RENDERBUFFER_INTERNAL_FORMAT_EXT, &format);
    glGetRenderbufferParameterivEXT(GL_RENDERBUFFER_EXT, GL_RENDERBUFFER_RED_SIZE_EXT, &red);
    glFramebufferRenderbufferEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_RENDERBUFFER_EXT, 0);
  }
  // A format the render buffer cannot take leaves an error behind, which
  // must not be blamed on the next candidate.
  bool failed = glGetError() != GL_NO_ERROR;
  DrainOpenGLErrors();
  return !failed && status == GL_FRAMEBUFFER_COMPLETE &&
         (granted == GL_RGBA || static_cast<GLenum>(format) == granted) && red == redBits;
}

// Defines the test texture with the candidate and keeps what the context
// grants, if it is what was asked for.
bool Probe(const ProbeObjects& probe, bool useFrameBufferObjects, const Candidate& c, TextureFormat* format) {
  // The last 8-bit candidate fixes no type; bytes are what any context takes.
  const GLenum uploadType = c.dataType != ANY_TYPE ? c.dataType : GL_UNSIGNED_BYTE;
  glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(c.internalFormat), PROBE_SIZE, PROBE_SIZE, 0, GL_RGBA, uploadType,
               nullptr);
  if (glGetError() != GL_NO_ERROR) {
    DrainOpenGLErrors();
    return false;
  }
  GLint granted = 0;
  GLint red = 0;
  GLint alpha = 0;
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &granted);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_RED_SIZE, &red);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_ALPHA_SIZE, &alpha);
  if (glGetError() != GL_NO_ERROR) {
    DrainOpenGLErrors();
    return false;
  }
  if (c.bits != 0 && (red != c.bits || alpha != c.bits)) return false;
  if (c.internalFormat != GL_RGBA && static_cast<GLenum>(granted) != c.internalFormat) return false;
  // Whatever depth: it must still be a colour format with alpha.
  if (c.bits == 0 && (red <= 0 || alpha <= 0)) return false;
  if (useFrameBufferObjects && !RenderBufferAccepts(probe, static_cast<GLenum>(granted), red)) return false;
  format->internalFormat = static_cast<uint32_t>(granted);
  format->pixelDepth = red / 8 * 4;
  if (c.dataType != ANY_TYPE)
    format->dataType = c.dataType;
  else
    format->dataType = red <= 8 ? GL_UNSIGNED_BYTE : red <= 16 ? GL_UNSIGNED_SHORT : GL_FLOAT;
  return true;
}

template <size_t N>
bool ProbeFirst(const ProbeObjects& probe, bool useFrameBufferObjects, const Candidate (&candidates)[N],
                TextureFormat* format) {
  for (const Candidate& c : candidates)
    if (Probe(probe, useFrameBufferObjects, c, format)) return true;
  return false;
}

}  // namespace

std::string DataTypeName(uint32_t dataType) {
  static const char* const NAMES[] = {"GL_BYTE",  "GL_UNSIGNED_BYTE", "GL_SHORT",   "GL_UNSIGNED_SHORT",
                                      "GL_INT",   "GL_UNSIGNED_INT",  "GL_FLOAT",   "GL_2_BYTES",
                                      "GL_3_BYTES", "GL_4_BYTES",     "GL_DOUBLE",  "GL_HALF_FLOAT"};
  if (dataType >= 0x1400 && dataType <= 0x140B) return NAMES[dataType - 0x1400];
  char text[32];
  std::snprintf(text, sizeof text, "Unrecognized: 0x%X", dataType);
  return text;
}

const char* InternalFormatName(uint32_t internalFormat) {
  for (const NamedFormat& f : INTERNAL_FORMAT_NAMES)
    if (f.value == internalFormat) return f.name;
  return "Unrecognized";
}

bool CharacterizeBestFormats(bool useFrameBufferObjects, int32_t vendor, TextureFormat formats[3], int16_t* resultCode) {
  static const Candidate EIGHT[] = {
      {GL_RGBA, GL_UNSIGNED_BYTE, 8}, {GL_RGBA8, GL_UNSIGNED_BYTE, 8}, {GL_RGBA, ANY_TYPE, 0}};
  static const Candidate SIXTEEN[] = {{GL_RGBA, GL_UNSIGNED_SHORT, 16},
                                      {GL_FLOAT_RGBA16_NV, GL_HALF_FLOAT, 16},
                                      {GL_RGBA16F_ARB, GL_HALF_FLOAT, 16},
                                      {GL_RGBA16, GL_UNSIGNED_SHORT, 16}};
  static const Candidate THIRTY_TWO[] = {
      {GL_RGBA, GL_FLOAT, 32}, {GL_FLOAT_RGBA32_NV, GL_FLOAT, 32}, {GL_RGBA32F_ARB, GL_FLOAT, 32}};

  ProbeObjects probe{};
  probe.coreFrameBuffers = CoreFrameBufferEntryPoints();
  bool result = false;
  bool frameBuffersMade = false;

  glPushAttrib(GL_TEXTURE_BIT);
  glGenTextures(1, &probe.texture);
  glBindTexture(GL_TEXTURE_2D, probe.texture);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
  if (CheckOpenGLError(__LINE__, "CharacterizeBestFormats() - Error initializing test texture.\n") != 0) goto cleanup;

  if (useFrameBufferObjects) {
    if (probe.coreFrameBuffers) {
      glGenFramebuffers(1, &probe.frameBuffer);
      glBindFramebuffer(GL_FRAMEBUFFER, probe.frameBuffer);
      glGenRenderbuffers(1, &probe.renderBuffer);
      glBindRenderbuffer(GL_RENDERBUFFER, probe.renderBuffer);
    } else {
      glGenFramebuffersEXT(1, &probe.frameBuffer);
      glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, probe.frameBuffer);
      glGenRenderbuffersEXT(1, &probe.renderBuffer);
      glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, probe.renderBuffer);
    }
    frameBuffersMade = true;
    if (CheckOpenGLError(__LINE__, "CharacterizeBestFormats() - Error creating FBO test buffers.\n") != 0) goto cleanup;
  }

  if (vendor == VENDOR_MICROSOFT) {
    // The generic renderer has exactly one texture format worth having.
    for (int i = 0; i < 3; ++i) formats[i] = TextureFormat{GL_RGBA8, 4, GL_UNSIGNED_BYTE};
    result = true;
    goto cleanup;
  }
  if (!ProbeFirst(probe, useFrameBufferObjects, EIGHT, &formats[TEXTURE_FORMAT_8])) {
    REPORT_USER(STYLE_ERROR, "System Capability Problem",
                "Your computer and/or video drivers do not provide the required OpenGL capability.  This plug-in "
                "cannot run.");
    if (resultCode != nullptr) *resultCode = STATUS_PARAMETER_ERROR;
    goto cleanup;
  }
  if (!ProbeFirst(probe, useFrameBufferObjects, SIXTEEN, &formats[TEXTURE_FORMAT_16]))
    formats[TEXTURE_FORMAT_16] = formats[TEXTURE_FORMAT_8];
  if (!ProbeFirst(probe, useFrameBufferObjects, THIRTY_TWO, &formats[TEXTURE_FORMAT_32]))
    formats[TEXTURE_FORMAT_32] = formats[TEXTURE_FORMAT_16];
  result = true;

cleanup:
  if (frameBuffersMade) {
    if (probe.coreFrameBuffers) {
      glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, 0);
      glBindRenderbuffer(GL_RENDERBUFFER, 0);
      glBindFramebuffer(GL_FRAMEBUFFER, 0);
      glDeleteRenderbuffers(1, &probe.renderBuffer);
      glDeleteFramebuffers(1, &probe.frameBuffer);
    } else {
      glFramebufferRenderbufferEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_RENDERBUFFER_EXT, 0);
      glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, 0);
      glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
      glDeleteRenderbuffersEXT(1, &probe.renderBuffer);
      glDeleteFramebuffersEXT(1, &probe.frameBuffer);
    }
  }
  glBindTexture(GL_TEXTURE_2D, 0);
  glDeleteTextures(1, &probe.texture);
  glPopAttrib();
  DrainOpenGLErrors();
  return result;
}
