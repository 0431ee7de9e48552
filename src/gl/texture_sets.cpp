#include "gl/texture_sets.h"

#include <algorithm>
#include <cstring>

#include "gl/drawing_settings.h"
#include "gl/gl_api.h"
#include "gl/gl_support.h"
#include "gl/glew_contexts.h"
#include "gl/opengl_drawing.h"
#include "runtime/report.h"

namespace {

int32_t SizeCap = 0;

// Buffer objects through the OpenGL 1.5 entry points when the context
// reports 1.5, through ARB_vertex_buffer_object's otherwise.
bool CoreBuffers() {
  const GLEWContext* context = glewGetContext();
  return context != nullptr && context->capabilities.version1_5;
}
void GenBuffer(GLuint* name) { CoreBuffers() ? glGenBuffers(1, name) : glGenBuffersARB(1, name); }
void DeleteBuffer(GLuint* name) {
  if (*name == 0) return;
  CoreBuffers() ? glDeleteBuffers(1, name) : glDeleteBuffersARB(1, name);
  *name = 0;
}
void BindBuffer(GLenum target, GLuint name) { CoreBuffers() ? glBindBuffer(target, name) : glBindBufferARB(target, name); }
void BufferData(GLenum target, GLsizeiptr size, const void* data, GLenum usage) {
  CoreBuffers() ? glBufferData(target, size, data, usage) : glBufferDataARB(target, size, data, usage);
}
void BufferSubData(GLenum target, GLsizeiptr size, const void* data) {
  CoreBuffers() ? glBufferSubData(target, 0, size, data) : glBufferSubDataARB(target, 0, size, data);
}
void* MapBuffer(GLenum target, GLenum access) {
  return CoreBuffers() ? glMapBuffer(target, access) : glMapBufferARB(target, access);
}
bool UnmapBuffer(GLenum target) {
  return (CoreBuffers() ? glUnmapBuffer(target) : glUnmapBufferARB(target)) == GL_TRUE;
}

TextureTile* Tiles(TextureSet* set) { return static_cast<TextureTile*>(set->tiles.buffer); }
double* Vertices(TextureSet* set, uint32_t tile) {
  return reinterpret_cast<double*>(static_cast<uint8_t*>(set->vertices.buffer) + tile * TEXTURE_VERTEX_RECORD_BYTES);
}

bool SixteenBitComposite() {
  const OpenGLDrawingState& state = DrawingState();
  return GlobalOpenGLSettings().drawingMode == OPTIMIZE_FOR_QUALITY && state.gpuAcceleration &&
         state.formats[TEXTURE_FORMAT_16].internalFormat != state.formats[TEXTURE_FORMAT_8].internalFormat;
}

uint32_t ImageInternalFormat() {
  return DrawingState().formats[SixteenBitComposite() ? TEXTURE_FORMAT_16 : TEXTURE_FORMAT_8].internalFormat;
}

// A storage upload that was not granted what it asked for still draws, but
// with other precision: worth a warning in the log.
void CheckGrantedFormat(GLenum requested) {
  GLint granted = 0;
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &granted);
  if (static_cast<GLenum>(granted) != requested) {
    DebugMessage message = MakeDebugMessage(__LINE__, DEBUG_MESSAGE);
    ReportMessage(&message, STYLE_WARNING, "Debug - Warning", "Unexpected internal texture format.  Desired 0x%X, got 0x%X",
                  requested, static_cast<unsigned>(granted));
  }
}

}  // namespace

int32_t PowerOfTwoAtLeast(int32_t n) {
  for (int32_t p = 2; p <= (1 << 24); p <<= 1)
    if (p >= n) return p;
  return n;
}

int32_t PowerOfTwoAtMost(int32_t n) {
  if (n < 2) return 0;
  int32_t result = 2;
  for (int32_t p = 2; p <= (1 << 24) && p <= n; p <<= 1) result = p;
  return result;
}

void SetMaximumTextureSizeCap(int32_t cap) { SizeCap = cap; }

TextureSize GetMaximumTextureSize(bool roundToPowerOfTwo, bool limitToViewport) {
  GLint size = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &size);
  const GLenum format = ImageInternalFormat() != 0 ? ImageInternalFormat() : GL_RGBA8;
  while (size > 64) {
    glTexImage2D(GL_PROXY_TEXTURE_2D, 0, static_cast<GLint>(format), size, size, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    GLint width = 0;
    glGetTexLevelParameteriv(GL_PROXY_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    if (width == size) break;
    size /= 2;
  }
  if (SizeCap > 0) size = std::min<GLint>(size, SizeCap);
  TextureSize result{size, size};
  if (limitToViewport) {
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    result.width = std::min<int32_t>(size, viewport[2]);
    result.height = std::min<int32_t>(size, viewport[3]);
  }
  if (roundToPowerOfTwo) {
    result.width = PowerOfTwoAtMost(result.width);
    result.height = PowerOfTwoAtMost(result.height);
  }
  CHECK_OPENGL_ERROR("Determination of maximum texture size failed.");
  return result;
}

void ConfigureTextureSet(TextureSet* set, int32_t magFilter, int32_t minFilter, bool vertexBuffer,
                         uint32_t vertexUsage, bool pixelBuffer, uint32_t pixelUsage, bool frameBuffer) {
  set->magFilter = magFilter;
  set->minFilter = minFilter;
  // GL_CLAMP blends the border colour into the edge texels under linear
  // filtering; every context from OpenGL 1.2 on can clamp to the edge.
  const GLEWContext* context = glewGetContext();
  const bool edge = context != nullptr && GLEW_VERSION_1_2;
  set->wrapS = set->wrapT = edge ? GL_CLAMP_TO_EDGE : GL_CLAMP;
  set->vertexBufferUsage = vertexUsage;
  set->pixelBufferUsage = pixelUsage;
  if (vertexBuffer && set->vertexBuffer == 0) {
    GenBuffer(&set->vertexBuffer);
    set->vertexBufferDirty = 1;
  }
  if (pixelBuffer && set->pixelBuffer == 0) GenBuffer(&set->pixelBuffer);
  if (frameBuffer && set->framebuffer == 0) {
    glGenFramebuffers(1, &set->framebuffer);
    glGenRenderbuffers(1, &set->renderbuffer);
    GLint dims[2] = {};
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, dims);
    set->maxViewportWidth = dims[0];
    set->maxViewportHeight = dims[1];
  }
  CHECK_OPENGL_ERROR("ConfigureTextureSet() - Failed to create the buffer objects of a texture set.");
}

bool SubdivideImage(TextureSet* set, const ImageRect& rect, int32_t maxWidth, int32_t maxHeight) {
  CHECK_OPENGL_ERROR("Error on entry into SubdivideImage()");
  // Two pixels of every step overlap the next tile; a step must move on.
  if (maxWidth < 3 || maxHeight < 3 || rect.right <= rect.left || rect.bottom <= rect.top) {
    set->tileCount = 0;
    return false;
  }
  set->bounds = ImageRect{0, 0, 0, 0};
  bool boundsSet = false;
  uint32_t count = 0;
  const bool powerOfTwo = MustUsePowerOfTwoSizedTextures();
  for (int32_t top = rect.top;; top += maxHeight - 2) {
    for (int32_t left = rect.left;; left += maxWidth - 2) {
      if (count >= set->tileCapacity) {
        const size_t tiles = static_cast<size_t>(count) + 1;
        if (ReallocateBufferPreserveContents(tiles * sizeof(TextureTile), &set->tiles) != 0 ||
            ReallocateBufferPreserveContents(tiles * TEXTURE_VERTEX_RECORD_BYTES, &set->vertices) != 0) {
          set->tileCount = count;
          return false;
        }
        std::memset(&Tiles(set)[count], 0, sizeof(TextureTile));
        std::memset(Vertices(set, count), 0, TEXTURE_VERTEX_RECORD_BYTES);
        set->tileCapacity = count + 1;
        set->vertexBufferDirty = 1;
      }
      TextureTile& tile = Tiles(set)[count];
      if (tile.texture == 0) {
        glPushAttrib(GL_TEXTURE_BIT);
        glGenTextures(1, &tile.texture);
        glBindTexture(GL_TEXTURE_2D, tile.texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, set->magFilter);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, set->minFilter);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, set->wrapS);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, set->wrapT);
        glPopAttrib();
        tile.needsStorage = 1;
      }
      tile.left = left;
      tile.top = top;
      tile.width = std::min(maxWidth, rect.right - left);
      tile.height = std::min(maxHeight, rect.bottom - top);
      tile.right = left + tile.width;
      tile.bottom = top + tile.height;
      const int32_t textureWidth = powerOfTwo ? PowerOfTwoAtLeast(tile.width) : tile.width;
      const int32_t textureHeight = powerOfTwo ? PowerOfTwoAtLeast(tile.height) : tile.height;
      // Storage only grows: a smaller tile reuses the larger texture.
      if (textureWidth > tile.textureWidth || textureHeight > tile.textureHeight) {
        tile.textureWidth = std::max(textureWidth, tile.textureWidth);
        tile.textureHeight = std::max(textureHeight, tile.textureHeight);
        tile.needsStorage = 1;
      }
      const double x0 = left == rect.left ? left : left + 1;
      const double x1 = tile.right == rect.right ? tile.right : tile.right - 1;
      const double y0 = top == rect.top ? top : top + 1;
      const double y1 = tile.bottom == rect.bottom ? tile.bottom : tile.bottom - 1;
      const double s0 = (x0 - left) / tile.textureWidth;
      const double s1 = (x1 - left) / tile.textureWidth;
      auto t = [&](double y) {
        return set->bottomUp ? (tile.bottom - y) / tile.textureHeight : (y - top) / tile.textureHeight;
      };
      const double t0 = t(y0), t1 = t(y1);
      const double quad[16] = {s0, t1, x0, y1, s1, t1, x1, y1, s1, t0, x1, y0, s0, t0, x0, y0};
      std::memcpy(Vertices(set, count), quad, sizeof quad);
      tile.paddedLeft = left;
      tile.paddedTop = top;
      tile.paddedRight = left + tile.textureWidth;
      tile.paddedBottom = top + tile.textureHeight;
      if (!boundsSet) {
        set->bounds = ImageRect{tile.paddedLeft, tile.paddedTop, tile.paddedRight, tile.paddedBottom};
        boundsSet = true;
      } else {
        set->bounds.left = std::min(set->bounds.left, tile.paddedLeft);
        set->bounds.top = std::min(set->bounds.top, tile.paddedTop);
        set->bounds.right = std::max(set->bounds.right, tile.paddedRight);
        set->bounds.bottom = std::max(set->bounds.bottom, tile.paddedBottom);
      }
      ++count;
      if (tile.right >= rect.right) break;
    }
    if (std::min(maxHeight, rect.bottom - top) + top >= rect.bottom) break;
  }
  set->tileCount = count;
  return CHECK_OPENGL_ERROR("Subdivision of specified image Failed") == 0;
}

ImageRect ImageExcerpt(const Image& image, double scaleX, double scaleY, int32_t scrollX, int32_t scrollY, double zoom,
                       const ImageRect& viewRect) {
  const int32_t left = static_cast<int32_t>(scrollX / zoom * scaleX);
  const int32_t top = static_cast<int32_t>(scrollY / zoom * scaleY);
  const int32_t right = static_cast<int32_t>((viewRect.right - viewRect.left) / zoom * scaleX) + left + 2;
  const int32_t bottom = static_cast<int32_t>((viewRect.bottom - viewRect.top) / zoom * scaleY) + top + 2;
  const ImageRect& r = image.imageRect;
  return ImageRect{std::max(left, r.left), std::max(top, r.top), std::min(right, r.right), std::min(bottom, r.bottom)};
}

bool CreateTextureSetFromImage(TextureSet* set, const Image& image, double scaleX, double scaleY, int32_t scrollX,
                               int32_t scrollY, double zoom, const ImageRect& viewRect) {
  CHECK_OPENGL_ERROR("Error on entry into CreateTextureSetFromImage()");
  const GLenum internalFormat = ImageInternalFormat();
  const size_t bytesPerPixel = static_cast<size_t>(image.channels) * static_cast<size_t>(image.bytesPerChannel);
  const ImageRect excerpt = ImageExcerpt(image, scaleX, scaleY, scrollX, scrollY, zoom, viewRect);
  // The excerpt is read from the pixel buffer, which holds bufferRect.
  const ImageRect& held = image.bufferRect;
  if (excerpt.right <= excerpt.left || excerpt.bottom <= excerpt.top || excerpt.left < held.left ||
      excerpt.top < held.top || excerpt.right > held.right || excerpt.bottom > held.bottom || bytesPerPixel == 0 ||
      image.pixels.buffer == nullptr) {
    REPORT_DEBUG("CreateTextureSetFromImage() - The image holds nothing of the requested view.");
    return false;
  }
  const bool powerOfTwo = MustUsePowerOfTwoSizedTextures();
  const TextureSize limit = GetMaximumTextureSize(powerOfTwo, false);
  if (!SubdivideImage(set, excerpt, limit.width, limit.height)) return false;

  const int32_t excerptWidth = excerpt.right - excerpt.left;
  const uint8_t* pixels = static_cast<const uint8_t*>(image.pixels.buffer);
  const size_t pixelBytes = image.pixels.size;
  const size_t rowLength = static_cast<size_t>(image.bufferWidth);
  bool ok = true;
  glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
  glPushAttrib(GL_TEXTURE_BIT);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
  glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);

  const bool viaPixelBuffer = set->pixelBuffer != 0;
  if (viaPixelBuffer) {
    const int32_t boundsWidth = set->bounds.right - set->bounds.left;
    const int32_t boundsHeight = set->bounds.bottom - set->bounds.top;
    const size_t size = static_cast<size_t>(boundsWidth) * static_cast<size_t>(boundsHeight + 1) * bytesPerPixel;
    BindBuffer(GL_PIXEL_UNPACK_BUFFER, set->pixelBuffer);
    if (size > static_cast<size_t>(set->pixelBufferSize)) {
      BufferData(GL_PIXEL_UNPACK_BUFFER, static_cast<GLsizeiptr>(size), nullptr, set->pixelBufferUsage);
      set->pixelBufferSize = static_cast<int32_t>(size);
    }
    auto* target = static_cast<uint8_t*>(MapBuffer(GL_PIXEL_UNPACK_BUFFER, GL_WRITE_ONLY));
    if (target == nullptr) {
      REPORT_DEBUG("Failed to map Image Excerpt PBO.");
      ok = false;
    } else {
      const size_t rowBytes = static_cast<size_t>(excerptWidth) * bytesPerPixel;
      for (int32_t y = excerpt.top; y < excerpt.bottom; ++y) {
        const size_t from = (static_cast<size_t>(y - held.top) * rowLength + static_cast<size_t>(excerpt.left - held.left)) *
                            bytesPerPixel;
        std::memcpy(target + static_cast<size_t>(y - excerpt.top) * rowBytes, pixels + from, rowBytes);
      }
      if (!UnmapBuffer(GL_PIXEL_UNPACK_BUFFER)) {
        REPORT_DEBUG("Failed to unmap Image Excerpt PBO.");
        ok = false;
      }
    }
    if (CHECK_OPENGL_ERROR("Failed to copy image into Image PBO.") != 0) ok = false;
    glPixelStorei(GL_UNPACK_ROW_LENGTH, excerptWidth);
  } else {
    glPixelStorei(GL_UNPACK_ROW_LENGTH, image.bufferWidth);
  }

  BufferDescriptor padded{};
  for (uint32_t i = 0; ok && i < set->tileCount; ++i) {
    TextureTile& tile = Tiles(set)[i];
    size_t offset;
    if (viaPixelBuffer)
      offset = (static_cast<size_t>(tile.left - excerpt.left) +
                static_cast<size_t>(tile.top - excerpt.top) * static_cast<size_t>(excerptWidth)) *
               bytesPerPixel;
    else
      offset = (static_cast<size_t>(tile.left - held.left) + static_cast<size_t>(tile.top - held.top) * rowLength) *
               bytesPerPixel;
    // With a pixel buffer bound, the data pointer is an offset into it.
    const uint8_t* source = viaPixelBuffer ? reinterpret_cast<const uint8_t*>(offset) : pixels + offset;
    glBindTexture(GL_TEXTURE_2D, tile.texture);
    if (tile.needsStorage && powerOfTwo) {
      const size_t lastByte = (offset + (static_cast<size_t>(tile.textureHeight - 1) * rowLength +
                                         static_cast<size_t>(tile.textureWidth)) *
                                            bytesPerPixel);
      if (!viaPixelBuffer && lastByte > pixelBytes) {
        // Reading the whole storage size from the image would run past its
        // end: the tile's pixels go through a zeroed buffer of that size.
        const size_t tileRowBytes = static_cast<size_t>(tile.width) * bytesPerPixel;
        const size_t paddedRowBytes = static_cast<size_t>(tile.textureWidth) * bytesPerPixel;
        const size_t bytes = paddedRowBytes * static_cast<size_t>(tile.textureHeight);
        if (ReallocateBuffer(bytes, &padded) != 0) {
          ok = false;
          break;
        }
        std::memset(padded.buffer, 0, bytes);
        for (int32_t row = 0; row < tile.height; ++row)
          std::memcpy(static_cast<uint8_t*>(padded.buffer) + static_cast<size_t>(row) * paddedRowBytes,
                      source + static_cast<size_t>(row) * rowLength * bytesPerPixel, tileRowBytes);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, tile.textureWidth);
        glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(internalFormat), tile.textureWidth, tile.textureHeight, 0,
                     image.glPixelFormat, image.glDataType, padded.buffer);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, image.bufferWidth);
        if (CHECK_OPENGL_ERROR("CreateTextureSetFromImage() - glTexImage2D Failed to copy from SubImage buffer, "
                               "DesiredInternalFormat = 0x%X, Image->PixelFormat = 0x%X.\n",
                               internalFormat, image.glPixelFormat) != 0)
          ok = false;
      } else {
        glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(internalFormat), tile.textureWidth, tile.textureHeight, 0,
                     image.glPixelFormat, image.glDataType, source);
        if (CHECK_OPENGL_ERROR("CreateTextureSetFromImage() - glTexImage2D Failed to copy data directly from image.") != 0)
          ok = false;
      }
      if (ok) {
        CheckGrantedFormat(internalFormat);
        tile.needsStorage = 0;
      }
    } else if (tile.needsStorage) {
      glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(internalFormat), tile.width, tile.height, 0,
                   image.glPixelFormat, image.glDataType, source);
      if (CHECK_OPENGL_ERROR("CreateTextureSetFromImage() - glTexImage2D Failed") != 0) {
        ok = false;
      } else {
        CheckGrantedFormat(internalFormat);
        tile.needsStorage = 0;
      }
    } else {
      glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, tile.width, tile.height, image.glPixelFormat, image.glDataType, source);
      if (CHECK_OPENGL_ERROR("CreateTextureSetFromImage() - glTexSubImage2D Failed") != 0) ok = false;
    }
  }
  DeallocateBuffer(&padded);
  if (viaPixelBuffer) BindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
  glPopAttrib();
  glPopClientAttrib();
  if (ok) {
    set->scaleX = scaleX;
    set->scaleY = scaleY;
    if (set->vertexBuffer != 0) ok = UpdateVertexBuffer(set);
  }
  return CHECK_OPENGL_ERROR("Creation of Texture Set from image Failed") == 0 && ok;
}

bool DrawImageTextureSet(TextureSet* set) {
  CHECK_OPENGL_ERROR("Error on entry into DrawImageTextureSet()");
  glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
  glPushAttrib(GL_TEXTURE_BIT | GL_CURRENT_BIT);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  const uint8_t* base = nullptr;
  if (set->vertexBuffer != 0)
    BindBuffer(GL_ARRAY_BUFFER, set->vertexBuffer);
  else
    base = static_cast<const uint8_t*>(set->vertices.buffer);
  glTexCoordPointer(2, GL_DOUBLE, 32, base);
  glVertexPointer(2, GL_DOUBLE, 32, base + 16);
  if (set->scaled && set->scaleX != 0 && set->scaleY != 0)
    glScaled(1.0 / set->scaleX, 1.0 / set->scaleY, 1.0);
  else
    glLoadIdentity();
  bool ok = true;
  for (uint32_t i = 0; i < set->tileCount; ++i) {
    glBindTexture(GL_TEXTURE_2D, Tiles(set)[i].texture);
    glDrawArrays(GL_QUADS, static_cast<GLint>(i * 4), 4);
    if (CHECK_OPENGL_ERROR("glDrawArrays() Failed") != 0) {
      ok = false;
      break;
    }
  }
  if (set->vertexBuffer != 0) BindBuffer(GL_ARRAY_BUFFER, 0);
  glPopMatrix();
  glPopAttrib();
  glPopClientAttrib();
  return CHECK_OPENGL_ERROR("Drawing of Image Texture Set Failed") == 0 && ok;
}

bool UpdateVertexBuffer(TextureSet* set) {
  CHECK_OPENGL_ERROR("Error on entry to UpdateVertexBuffer().");
  if (set->vertexBuffer == 0) {
    REPORT_USER(STYLE_ERROR, "Error - Exiting Plug-in", "UpdateVertexBuffer() called with invalid texture.");
    return false;
  }
  const GLsizeiptr bytes = static_cast<GLsizeiptr>(set->tileCount * TEXTURE_VERTEX_RECORD_BYTES);
  BindBuffer(GL_ARRAY_BUFFER, set->vertexBuffer);
  if (set->vertexBufferDirty) {
    BufferData(GL_ARRAY_BUFFER, bytes, set->vertices.buffer, set->vertexBufferUsage);
    set->vertexBufferDirty = 0;
  } else {
    BufferSubData(GL_ARRAY_BUFFER, bytes, set->vertices.buffer);
  }
  BindBuffer(GL_ARRAY_BUFFER, 0);
  return CHECK_OPENGL_ERROR("Failed to update Vertex Buffer for texture set %d.", static_cast<int>(set->vertexBuffer)) ==
         0;
}

bool AttachFBOWithRenderBuffer(TextureSet* set, int32_t width, int32_t height) {
  if (set->framebuffer == 0 || set->renderbuffer == 0) {
    REPORT_DEBUG("Texture was incomplete. FBO = %d, RBO = %d", static_cast<int>(set->framebuffer),
                 static_cast<int>(set->renderbuffer));
    return false;
  }
  const GLenum format = CompositeInternalFormat();
  glBindFramebuffer(GL_FRAMEBUFFER, set->framebuffer);
  glBindRenderbuffer(GL_RENDERBUFFER, set->renderbuffer);
  if (width != set->renderbufferWidth || height != set->renderbufferHeight) {
    glRenderbufferStorage(GL_RENDERBUFFER, format, width, height);
    set->renderbufferWidth = width;
    set->renderbufferHeight = height;
  }
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, set->renderbuffer);
  const GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
  if (status != GL_FRAMEBUFFER_COMPLETE) {
    REPORT_DEBUG("Frame Buffer Object was incomplete. Status = 0x%X", status);
    DetachFBO();
    set->renderbufferWidth = set->renderbufferHeight = 0;
    return false;
  }
  GLint granted = 0;
  glGetRenderbufferParameteriv(GL_RENDERBUFFER, GL_RENDERBUFFER_INTERNAL_FORMAT, &granted);
  if (format != GL_RGBA && static_cast<GLenum>(granted) != format) {
    REPORT_DEBUG("Frame Buffer Object was not granted the required format (0x%X vs. 0x%X).",
                 static_cast<unsigned>(granted), format);
    DetachFBO();
    return false;
  }
  return CHECK_OPENGL_ERROR("AttachFBOWithRenderBuffer() - Failed to attach Frame Buffer Object.") == 0;
}

void DetachFBO() {
  const GLEWContext* context = glewGetContext();
  const bool core =
      context != nullptr && (context->capabilities.version3_0 || context->capabilities.arbFramebufferObject);
  if (core) {
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, 0);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
  } else if (context != nullptr && context->capabilities.extFramebufferObject) {
    glFramebufferRenderbufferEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_RENDERBUFFER_EXT, 0);
    glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, 0);
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
  }
}

void DestroyTextureSet(TextureSet* set) {
  for (uint32_t i = 0; i < set->tileCapacity && set->tiles.buffer != nullptr; ++i) {
    TextureTile& tile = Tiles(set)[i];
    if (tile.texture != 0) glDeleteTextures(1, &tile.texture);
  }
  DeallocateBuffer(&set->tiles);
  DeallocateBuffer(&set->vertices);
  DeallocateBuffer(&set->readBuffer);
  DeleteBuffer(&set->vertexBuffer);
  DeleteBuffer(&set->pixelBuffer);
  if (set->renderbuffer != 0) glDeleteRenderbuffers(1, &set->renderbuffer);
  if (set->framebuffer != 0) glDeleteFramebuffers(1, &set->framebuffer);
  *set = TextureSet{};
  CHECK_OPENGL_ERROR("DestroyTextureSet() - Failed to release the texture set.");
}
