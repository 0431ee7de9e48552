#include "gl/texture_sets.h"

#include <algorithm>
#include <cstring>

#include "gl/buffer_objects.h"
#include "gl/drawing_settings.h"
#include "gl/gl_api.h"
#include "gl/gl_support.h"
#include "gl/glew_contexts.h"
#include "gl/opengl_drawing.h"
#include "runtime/report.h"

namespace {

int32_t SizeCap = 0;
FrameGammaCorrector GammaCorrector = nullptr;
TextureSet PreviewSets[4];

using namespace glbuffers;

TextureTile* Tiles(TextureSet* set) { return static_cast<TextureTile*>(set->tiles.buffer); }
double* Vertices(TextureSet* set, uint32_t tile) {
  return reinterpret_cast<double*>(static_cast<uint8_t*>(set->vertices.buffer) + tile * TEXTURE_VERTEX_RECORD_BYTES);
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
  const GLenum format = CompositeInternalFormat() != 0 ? CompositeInternalFormat() : GL_RGBA8;
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
    GenFrameBuffers(&set->framebuffer, &set->renderbuffer);
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
  const GLenum internalFormat = CompositeInternalFormat();
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
  BindFrameBuffers(set->framebuffer, set->renderbuffer);
  if (width != set->renderbufferWidth || height != set->renderbufferHeight) {
    RenderBufferStorage(format, width, height);
    set->renderbufferWidth = width;
    set->renderbufferHeight = height;
  }
  AttachRenderBuffer(set->renderbuffer);
  GLenum status = 0;
  if (!FrameBufferComplete(&status)) {
    REPORT_DEBUG("Frame Buffer Object was incomplete. Status = 0x%X", status);
    DetachFBO();
    set->renderbufferWidth = set->renderbufferHeight = 0;
    return false;
  }
  const GLint granted = RenderBufferInternalFormat();
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
  if (context == nullptr || (!CoreFrameBufferEntryPoints() && !context->capabilities.extFramebufferObject)) return;
  AttachRenderBuffer(0);
  BindFrameBuffers(0, 0);
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
  DeleteFrameBuffers(&set->framebuffer, &set->renderbuffer);
  *set = TextureSet{};
  CHECK_OPENGL_ERROR("DestroyTextureSet() - Failed to release the texture set.");
}

void SetFrameGammaCorrector(FrameGammaCorrector corrector) { GammaCorrector = corrector; }

bool CreateTextureSetFromFramebuffer(int32_t drawableWidth, int32_t drawableHeight, const ImageRect& source,
                                     TextureSet* set) {
  CHECK_OPENGL_ERROR("Error on entry into CreateTextureSetFromFramebuffer()");
  const TextureFormat& format = CompositeTextureFormat();
  const GLenum internalFormat = format.internalFormat;
  const GLenum dataType = format.dataType;
  const size_t bytesPerPixel = static_cast<size_t>(format.pixelDepth);
  const int32_t sourceWidth = source.right - source.left;
  const int32_t sourceHeight = source.bottom - source.top;
  if (sourceWidth <= 0 || sourceHeight <= 0 || bytesPerPixel == 0) {
    REPORT_DEBUG("CreateTextureSetFromFramebuffer() - Nothing to copy.");
    return false;
  }
  set->bottomUp = 1;
  const bool powerOfTwo = MustUsePowerOfTwoSizedTextures();
  const TextureSize limit = GetMaximumTextureSize(powerOfTwo, true);
  if (!SubdivideImage(set, source, limit.width, limit.height)) return false;

  bool ok = true;
  glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
  glPushAttrib(GL_TEXTURE_BIT);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  // Bottom-up rows of the source, padded like the set's bounds so that
  // power-of-two storage read from them stays inside.
  const size_t bufferBytes = static_cast<size_t>(set->bounds.right - set->bounds.left) *
                             static_cast<size_t>(set->bounds.bottom - set->bounds.top + 1) * bytesPerPixel;
  const GLint readY = drawableHeight - source.bottom;
  const uint8_t* buffer = nullptr;  // offsets into the pixel buffer, or client memory
  bool haveBuffer = false;
  const bool blueFirst = !DrawingState().gpuAcceleration;
  if (set->pixelBuffer != 0) {
    BindBuffer(GL_PIXEL_PACK_BUFFER, set->pixelBuffer);
    if (bufferBytes > static_cast<size_t>(set->pixelBufferSize)) {
      BufferData(GL_PIXEL_PACK_BUFFER, static_cast<GLsizeiptr>(bufferBytes), nullptr, set->pixelBufferUsage);
      set->pixelBufferSize = static_cast<int32_t>(bufferBytes);
    }
    glReadPixels(source.left, readY, sourceWidth, sourceHeight, GL_RGBA, dataType, nullptr);
    BindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    BindBuffer(GL_PIXEL_UNPACK_BUFFER, set->pixelBuffer);
    if (set->correctGamma) {
      void* pixels = MapBuffer(GL_PIXEL_UNPACK_BUFFER, GL_READ_WRITE);
      if (pixels == nullptr) {
        REPORT_DEBUG("Failed to map texture set PBO.");
        ok = false;
      } else {
        if (GammaCorrector != nullptr)
          GammaCorrector(pixels, static_cast<size_t>(sourceWidth) * static_cast<size_t>(sourceHeight), dataType, false);
        if (!UnmapBuffer(GL_PIXEL_UNPACK_BUFFER)) {
          REPORT_DEBUG("Failed to unmap texture set PBO.");
          ok = false;
        }
      }
    }
    glPixelStorei(GL_UNPACK_ROW_LENGTH, sourceWidth);
    if (CHECK_OPENGL_ERROR("Failed to create PBO in CreateTextureSetFromFramebuffer()") != 0) ok = false;
    haveBuffer = true;
  } else if (set->correctGamma) {
    if (ReallocateBuffer(bufferBytes, &set->readBuffer) != 0) {
      ok = false;
    } else {
      glReadPixels(source.left, readY, sourceWidth, sourceHeight, blueFirst ? GL_BGRA : GL_RGBA, dataType,
                   set->readBuffer.buffer);
      if (GammaCorrector != nullptr)
        GammaCorrector(set->readBuffer.buffer, static_cast<size_t>(sourceWidth) * static_cast<size_t>(sourceHeight),
                       dataType, blueFirst);
      buffer = static_cast<const uint8_t*>(set->readBuffer.buffer);
      glPixelStorei(GL_UNPACK_ROW_LENGTH, sourceWidth);
      haveBuffer = true;
    }
  }
  const GLenum bufferFormat = set->pixelBuffer == 0 && blueFirst ? GL_BGRA : GL_RGBA;

  BufferDescriptor padded{};
  for (uint32_t i = 0; ok && i < set->tileCount; ++i) {
    TextureTile& tile = Tiles(set)[i];
    const size_t offset = (static_cast<size_t>(tile.left - source.left) +
                           static_cast<size_t>(source.bottom - tile.bottom) * static_cast<size_t>(sourceWidth)) *
                          bytesPerPixel;
    const uint8_t* from = set->pixelBuffer != 0 ? reinterpret_cast<const uint8_t*>(offset) : buffer + offset;
    const GLint frameY = drawableHeight - tile.bottom;
    glBindTexture(GL_TEXTURE_2D, tile.texture);
    if (tile.needsStorage && powerOfTwo) {
      if (haveBuffer) {
        glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(internalFormat), tile.textureWidth, tile.textureHeight, 0,
                     bufferFormat, dataType, from);
        if (CHECK_OPENGL_ERROR("CreateTextureSetFromFramebuffer() - Failed to complete glTexImage2D() from PBO") != 0)
          ok = false;
      } else if (tile.left + tile.textureWidth > drawableWidth || frameY + tile.textureHeight > drawableHeight) {
        // The storage reaches past the drawable: read the tile alone into a
        // zeroed buffer of the storage size.
        const size_t bytes =
            static_cast<size_t>(tile.textureWidth) * static_cast<size_t>(tile.textureHeight) * bytesPerPixel;
        if (ReallocateBuffer(bytes, &padded) != 0) {
          ok = false;
          break;
        }
        std::memset(padded.buffer, 0, bytes);
        glPixelStorei(GL_PACK_ROW_LENGTH, tile.textureWidth);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, tile.textureWidth);
        glReadPixels(tile.left, frameY, tile.width, tile.height, GL_RGBA, dataType, padded.buffer);
        glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(internalFormat), tile.textureWidth, tile.textureHeight, 0,
                     GL_RGBA, dataType, padded.buffer);
        glPixelStorei(GL_PACK_ROW_LENGTH, 0);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        if (CHECK_OPENGL_ERROR(
                "CreateTextureSetFromFramebuffer() - Failed to complete glTexImage2D() from PaddedTextureBuffer") != 0)
          ok = false;
      } else {
        glCopyTexImage2D(GL_TEXTURE_2D, 0, internalFormat, tile.left, frameY, tile.textureWidth, tile.textureHeight, 0);
        if (CHECK_OPENGL_ERROR(
                "CreateTextureSetFromFramebuffer() - Failed to complete glCopyTexImage2D() from frame buffer") != 0)
          ok = false;
      }
      if (ok) tile.needsStorage = 0;
    } else if (tile.needsStorage) {
      if (haveBuffer) {
        glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(internalFormat), tile.width, tile.height, 0, bufferFormat,
                     dataType, from);
        if (CHECK_OPENGL_ERROR(
                "CreateTextureSetFromFramebuffer() - Failed to complete glTexImage2D() from PBO, non power of two") != 0)
          ok = false;
      } else {
        glCopyTexImage2D(GL_TEXTURE_2D, 0, internalFormat, tile.left, frameY, tile.width, tile.height, 0);
        if (CHECK_OPENGL_ERROR("CreateTextureSetFromFramebuffer() - Failed to complete glCopyTexImage2D() from frame "
                               "buffer, non power of two") != 0)
          ok = false;
      }
      if (ok) tile.needsStorage = 0;
    } else if (haveBuffer) {
      glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, tile.width, tile.height, bufferFormat, dataType, from);
      if (CHECK_OPENGL_ERROR("CreateTextureSetFromFramebuffer() - Failed to complete glTexSubImage2D() from PBO") != 0)
        ok = false;
    } else {
      glCopyTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, tile.left, frameY, tile.width, tile.height);
      if (CHECK_OPENGL_ERROR(
              "CreateTextureSetFromFramebuffer() - Failed to complete glCopyTexSubImage2D() from frame buffer") != 0)
        ok = false;
    }
  }
  DeallocateBuffer(&padded);
  if (set->pixelBuffer != 0) BindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
  glPopAttrib();
  glPopClientAttrib();
  if (ok) {
    set->scaleX = set->scaleY = 0;
    if (set->vertexBuffer != 0) ok = UpdateVertexBuffer(set);
  }
  return CHECK_OPENGL_ERROR("Creation of Texture Set from framebuffer Failed") == 0 && ok;
}

bool CreateTextureSetFromDIB(TextureSet* set, const DibDescription& dib, Image* image) {
  if (dib.compression != 0) {
    REPORT_DEBUG("DIB Section compression mode %d unsupported at this time.", static_cast<int>(dib.compression));
    return false;
  }
  if (dib.bitCount != 24 && dib.bitCount != 32) {
    REPORT_DEBUG("DIB Section  %d bit depth unsupported at this time.", dib.bitCount);
    return false;
  }
  const int32_t height = dib.height < 0 ? -dib.height : dib.height;
  const int32_t bytesPerPixel = dib.bitCount / 8;
  if (dib.width <= 0 || height <= 0 || dib.bits == nullptr || dib.rowStride < dib.width * bytesPerPixel) {
    REPORT_DEBUG("CreateTextureSetFromDIB() - The DIB section has no usable pixels.");
    return false;
  }
  const ImageRect rect{0, 0, dib.width, height};
  if (!CreateImage(rect, false, image, rect, IMAGE_MODE_RGB8, nullptr, 2.2, false, nullptr)) return false;
  // Rows are copied in memory order: bottom-up DIBs give bottom-up images.
  set->bottomUp = dib.height >= 0 ? 1 : 0;
  const bool rgba = image->glPixelFormat == GL_RGBA;
  if (!rgba && image->glPixelFormat != GL_BGRA) {
    REPORT_DEBUG(bytesPerPixel == 4 ? "Image pixel format 0x%X for 32 bit pixels is unsupported at this time."
                                    : "Image pixel format 0x%X for 24 bit pixels is unsupported at this time.",
                 image->glPixelFormat);
    return false;
  }
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* from = static_cast<const uint8_t*>(dib.bits) + static_cast<size_t>(y) * dib.rowStride;
    uint8_t* to = static_cast<uint8_t*>(image->pixels.buffer) + static_cast<size_t>(y) * image->bufferWidth * 4;
    for (int32_t x = 0; x < dib.width; ++x, from += bytesPerPixel, to += 4) {
      // DIB pixels are blue first.
      to[0] = rgba ? from[2] : from[0];
      to[1] = from[1];
      to[2] = rgba ? from[0] : from[2];
      to[3] = bytesPerPixel == 4 ? from[3] : 255;
    }
  }
  return CreateTextureSetFromImage(set, *image, 1.0, 1.0, 0, 0, 1.0, rect);
}

TextureSet* PreviewTextureSet(int index) { return index >= 0 && index < 4 ? &PreviewSets[index] : nullptr; }

void InitializeTextureSets(bool gammaShaderAvailable) {
  const bool accelerated = DrawingState().gpuAcceleration;
  const bool vbo = UseVertexBufferObjects();
  const bool pbo = UsePixelBufferObjects();
  const bool fbo = UseFrameBufferObjects() && !MustUsePowerOfTwoSizedTextures();
  const GLint smooth = accelerated ? GL_LINEAR : GL_NEAREST;
  TextureSet* sets = PreviewSets;
  sets[COMPOSITE_SET].correctGamma = !gammaShaderAvailable && accelerated ? 1 : 0;
  ConfigureTextureSet(&sets[HOST_IMAGE_SET], GL_NEAREST, smooth, vbo, GL_STATIC_DRAW, pbo, GL_STATIC_DRAW, false);
  ConfigureTextureSet(&sets[EFFECTS_SET], GL_NEAREST, smooth, vbo, GL_DYNAMIC_DRAW, pbo && !fbo, GL_DYNAMIC_DRAW, fbo);
  ConfigureTextureSet(&sets[COMPOSITE_SET], GL_NEAREST, GL_NEAREST, vbo, GL_DYNAMIC_DRAW,
                      pbo && (!fbo || sets[COMPOSITE_SET].correctGamma), GL_DYNAMIC_DRAW, fbo);
  ConfigureTextureSet(&sets[SPLASH_SET], GL_NEAREST, GL_NEAREST, false, GL_STATIC_DRAW, false, GL_STATIC_DRAW, false);
}

void DestroyPreviewTextureSets() {
  for (TextureSet& set : PreviewSets) DestroyTextureSet(&set);
}
