#pragma once
// Texture sets: an image larger than the GPU's texture limit held as a grid
// of overlapping tiles, each its own texture with one textured quad, drawn
// from vertex arrays or a vertex buffer; plus the frame buffer object with
// its render buffer that the preview draws into.
//
// A set's tiles, textures and buffers persist and are reused: a later
// creation re-specifies storage only for tiles that grew and otherwise
// updates sub-images. Only the thread whose context is current uses a set.
#include <cstdint>

#include "image/image.h"
#include "runtime/buffers.h"

struct TextureTile {
  uint32_t texture;
  int32_t left, top, right, bottom;
  int32_t width, height;
  int32_t paddedLeft, paddedTop, paddedRight, paddedBottom;
  int32_t textureWidth, textureHeight;
  uint8_t needsStorage;
};

struct TextureSet {
  uint32_t tileCount;
  uint32_t tileCapacity;
  int32_t magFilter;
  int32_t minFilter;
  int32_t wrapS;
  int32_t wrapT;
  ImageRect bounds;
  uint32_t framebuffer;
  int32_t maxViewportWidth, maxViewportHeight;
  uint32_t renderbuffer;
  int32_t renderbufferWidth, renderbufferHeight;
  uint32_t vertexBuffer;
  uint32_t vertexBufferUsage;
  uint8_t vertexBufferDirty;
  uint32_t pixelBuffer;
  uint32_t pixelBufferUsage;
  int32_t pixelBufferSize;
  uint8_t scaled;
  uint8_t bottomUp;
  uint8_t correctGamma;
  double scaleX, scaleY;
  BufferDescriptor vertices;  // 128 bytes per tile
  BufferDescriptor tiles;     // one TextureTile per tile
  BufferDescriptor readBuffer;
};

// Four vertices of (s, t, x, y) doubles per tile, drawn as one quad.
constexpr size_t TEXTURE_VERTEX_RECORD_BYTES = 128;

struct TextureSize {
  int32_t width;
  int32_t height;
};

// The largest square texture the context really takes in the composite
// format (probed with proxy textures), limited to the viewport and rounded
// down to a power of two on request. Never more than the cap below.
TextureSize GetMaximumTextureSize(bool roundToPowerOfTwo, bool limitToViewport);
// Caps what GetMaximumTextureSize answers (0: no cap): for drivers that
// overstate their limit, and for tests of tiling on a machine whose limit is
// large.
void SetMaximumTextureSizeCap(int32_t cap);

// The smallest power of two from 2 to 2^24 not less than n (n itself when
// larger); the largest not more than n (0 below 2).
int32_t PowerOfTwoAtLeast(int32_t n);
int32_t PowerOfTwoAtMost(int32_t n);

// Sets a set's texture parameters and which buffer objects it may use; the
// objects themselves are made when first needed.
void ConfigureTextureSet(TextureSet* set, int32_t magFilter, int32_t minFilter, bool vertexBuffer,
                         uint32_t vertexUsage, bool pixelBuffer, uint32_t pixelUsage, bool frameBuffer);

// Lays tiles of at most maxWidth x maxHeight over rect, overlapping by two
// pixels, and writes their quads. False when the tile arrays cannot grow.
bool SubdivideImage(TextureSet* set, const ImageRect& rect, int32_t maxWidth, int32_t maxHeight);

// The excerpt of the image that a view of viewRect's size shows at the
// scroll position and zoom, in image pixels (scale: image pixels per view
// unit at zoom 1), cut to the image.
ImageRect ImageExcerpt(const Image& image, double scaleX, double scaleY, int32_t scrollX, int32_t scrollY, double zoom,
                       const ImageRect& viewRect);
// Turns that excerpt into the set's textures. No upload reads past the end
// of the image's pixel buffer.
bool CreateTextureSetFromImage(TextureSet* set, const Image& image, double scaleX, double scaleY, int32_t scrollX,
                               int32_t scrollY, double zoom, const ImageRect& viewRect);
// Pixels read back from the frame buffer are corrected for the display's
// gamma in software when the set asks for it (no gamma shader): the preview
// registers how (pixel count, OpenGL data type, blue first or not).
using FrameGammaCorrector = void (*)(void* pixels, size_t pixelCount, uint32_t dataType, bool blueFirst);
void SetFrameGammaCorrector(FrameGammaCorrector corrector);

// The frame buffer's source rectangle (top-down coordinates of a drawable of
// the given size) as the set's textures, rows bottom-up.
bool CreateTextureSetFromFramebuffer(int32_t drawableWidth, int32_t drawableHeight, const ImageRect& source,
                                     TextureSet* set);

// A device-independent bitmap as the splash screen shows it: 24 or 32 bits
// per pixel, uncompressed, rows bottom-up when height is positive.
struct DibDescription {
  int32_t width;
  int32_t height;  // negative: top-down rows
  int32_t rowStride;
  int32_t bitCount;
  uint32_t compression;  // 0: none
  const void* bits;
};
// Copies the bitmap into *image (made here, the caller releases it) and
// builds the set from it at scale 1.
bool CreateTextureSetFromDIB(TextureSet* set, const DibDescription& dib, Image* image);

// The preview's four sets, configured for the current context.
enum PreviewTextureSetIndex { HOST_IMAGE_SET = 0, EFFECTS_SET = 1, COMPOSITE_SET = 2, SPLASH_SET = 3 };
TextureSet* PreviewTextureSet(int index);
void InitializeTextureSets(bool gammaShaderAvailable);
void DestroyPreviewTextureSets();

// Draws every tile's quad with its texture; texturing, colour and blending
// are the caller's.
bool DrawImageTextureSet(TextureSet* set);
bool UpdateVertexBuffer(TextureSet* set);
// Binds the set's frame buffer with a render buffer of the composite format
// and the given size as its colour buffer.
bool AttachFBOWithRenderBuffer(TextureSet* set, int32_t width, int32_t height);
void DetachFBO();
void DestroyTextureSet(TextureSet* set);
