#pragma once
// The in-memory Image: every picture the plug-in holds (the host image copy,
// the analysis image, render bands, effect textures, preview layers).
//
// An Image stores four channels per pixel whatever its mode: blue, green,
// red, alpha for 8-bit modes, red, green, blue, alpha otherwise; grayscale
// modes repeat their value in the three colour channels. The pixel buffer
// holds one row more than the buffer rectangle so that row-pair filters may
// read one row past the last without a bounds test; the optional mask holds
// one byte per pixel with the same extra row.
//
// Ownership: the creator of an Image owns its two tracked buffers and
// releases them with ReleaseImage, which also zeroes the record. Its gamma
// tables belong to the process-wide cache (host/gamma_tables.h).
//
// Errors: CreateImage reports its own failures and stores the reason in the
// caller's status; images may be created on any thread, each caller passing
// the status it owns.
#include <cstdint>

#include "image/gamma_tables.h"
#include "runtime/buffers.h"
#include "runtime/status.h"

// Image modes: the host's mode numbers plus one internal mode.
enum : uint32_t {
  IMAGE_MODE_GRAY8 = 1,
  IMAGE_MODE_RGB8 = 3,
  IMAGE_MODE_GRAY16 = 10,
  IMAGE_MODE_RGB16 = 11,
  IMAGE_MODE_RGB_FLOAT = 16,
  IMAGE_MODE_GRAY_FLOAT = 17,
  IMAGE_MODE_RGBA_UINT32 = 64,  // internal: four 32-bit unsigned components
};

// OpenGL pixel formats and data types of the pixel buffer, as the plain
// values OpenGL defines (no OpenGL header is needed to hold an Image).
enum : uint32_t {
  IMAGE_GL_UNSIGNED_BYTE = 0x1401,   // 5121
  IMAGE_GL_UNSIGNED_SHORT = 0x1403,  // 5123
  IMAGE_GL_UNSIGNED_INT = 0x1405,    // 5125
  IMAGE_GL_FLOAT = 0x1406,           // 5126
  IMAGE_GL_RGBA = 0x1908,            // 6408
  IMAGE_GL_BGRA = 0x80E1,            // 32993: blue-first channel order
};

// Right and bottom are exclusive.
struct ImageRect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

// The unit of every pixel read and write: colour in 24-bit linear units
// (16777215 full, more allowed on reads of float images), alpha and mask as
// fractions with 0xFFFFFFFE full. In a write, 0xFFFFFFFF leaves a component
// as it is.
struct PixelValue {
  uint32_t red;
  uint32_t green;
  uint32_t blue;
  uint32_t alpha;
  uint32_t mask;
};

struct Image;
using ReadPixelRoutine = void (*)(const Image* image, PixelValue* value, int32_t x, int32_t y);
using WritePixelRoutine = void (*)(Image* image, const PixelValue* value, int32_t x, int32_t y);

// Opaque handle of a colour profile; colour management gives it meaning.
using ColorProfileHandle = void*;

struct Image {
  ReadPixelRoutine readPixel;  // per mode and clamped; set by the pixel access code
  WritePixelRoutine writePixel;
  ImageRect imageRect;      // the area the image stands for, host coordinates
  ImageRect bufferRect;     // the area held in the pixel buffer
  BufferDescriptor pixels;  // 4 channels x bytesPerChannel, bufferHeight + 1 rows of bufferWidth
  BufferDescriptor mask;    // 1 byte per pixel, bufferHeight + 1 rows; empty without a mask
  int32_t width;
  int32_t height;
  int32_t bufferWidth;  // also the row stride in pixels
  int32_t bufferHeight;
  int32_t bytesPerChannel;  // 1, 2 or 4
  int32_t channels;         // always 4
  uint32_t mode;
  uint8_t clamped;  // reads and writes test the buffer rectangle
  ColorProfileHandle profile;
  double gamma;  // the profile's gamma rounded to 1/20
  const GammaTables* gammaTables;
  uint32_t glDataType;
  uint32_t glPixelFormat;
};

// The diagonal every effect size is relative to: trunc(sqrt(w^2 + h^2) + 1)
// pixels.
int32_t ImageDiagonal(int32_t width, int32_t height);

// 1 for modes 0 to 9, 2 for 10 to 15, 4 for 16, 17 and 64. Any other mode is
// reported and counts 1.
int32_t BytesPerChannel(uint32_t mode);

// Fills `image` for the given rectangles and mode and allocates its buffers
// (contents not initialised). `profileGamma` is the gamma of `profile`; the
// image keeps it rounded to the nearest 1/20. Buffers the record already
// holds are reused when large enough; without a mask any old mask is freed.
// On failure reports, stores the reason in *status (when not null) and
// returns false; the record may then hold partial state and is released
// with ReleaseImage as usual.
bool CreateImage(const ImageRect& bufferRect, bool clamped, Image* image, const ImageRect& imageRect, uint32_t mode,
                 ColorProfileHandle profile, double profileGamma, bool withMask, int16_t* status);

// Frees both buffers and zeroes the record. Safe on a zeroed record.
void ReleaseImage(Image* image);

// Decodes the colour channels of an 8- or 16-bit image from gamma 2.2 to
// linear light in place (alpha untouched); the image's gamma becomes 1.0 in
// every case. Other data types are reported and left as they are.
void LinearizeImage(Image* image);
