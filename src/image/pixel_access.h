#pragma once
// Reading and writing single pixels of an in-memory Image in any of its
// modes, through the PixelValue unit (host/image.h):
//   colour  24-bit fixed point, 0xFFFFFF full intensity; reads of float
//           images may exceed it (over-range light), writes saturate;
//   alpha, mask  0xFFFFFFFE opaque / fully selected, 0 transparent;
//   in a write, PIXEL_KEEP (0xFFFFFFFF) leaves that component unchanged.
// A read of an image without a mask returns mask PIXEL_OPAQUE.
//
// Every Image carries a read and a write routine chosen from its mode and
// its `clamped` flag. Clamped reads outside the buffer rectangle return the
// nearest edge pixel's colour with alpha and mask 0; clamped writes outside
// it are dropped. Unclamped routines expect coordinates inside.
//
// Threads: the routines take no locks; concurrent writers must touch
// disjoint pixels. The global alpha tables are built once per process
// (BuildPixelValueTables, also called by CreateImage) before any routine
// runs.
#include <cstddef>
#include <cstdint>

#include "image/image.h"

constexpr uint32_t PIXEL_FULL = 0xFFFFFF;      // full colour intensity
constexpr uint32_t PIXEL_OPAQUE = 0xFFFFFFFE;  // full alpha and mask
constexpr uint32_t PIXEL_KEEP = 0xFFFFFFFF;    // write: leave unchanged

// The process-wide alpha and mask conversion tables: 8- and 16-bit codes to
// 32-bit fractions (rounded to nearest), and the top 16 bits of a fraction
// back to 8 and 16 bits. Idempotent and safe to call from any thread.
void BuildPixelValueTables();
uint32_t AlphaFrom8(uint8_t code);
uint32_t AlphaFrom16(uint16_t code);
uint8_t AlphaTo8(uint32_t alpha);
uint16_t AlphaTo16(uint32_t alpha);

// The routine for `image`'s mode and the given variant. Unsupported modes
// are reported (debug) and get a reader of zero pixels and a writer that
// reports each call.
ReadPixelRoutine SelectPixelReader(const Image* image, bool clamped);
WritePixelRoutine SelectPixelWriter(const Image* image, bool clamped);
// Sets image->readPixel and writePixel from its mode and clamped flag.
void AttachPixelRoutines(Image* image);

// What the read routines of the float modes make of one sample: the linear
// value of a colour sample of `image` (its gamma applied), and the alpha of
// an alpha sample.
uint32_t LinearOfFloatSample(const Image* image, float sample);
uint32_t AlphaOfFloatSample(float sample);

// Writes `value` into every pixel of `rect` intersected with the image's
// buffer rectangle; PIXEL_KEEP components keep each pixel's old values.
// False only when the intersection has no rows.
// Index of pixel (x, y) in the image's buffer, in pixels, and the first
// sample of that pixel as `Sample`; the pixel must lie inside the buffer.
inline size_t PixelIndexOf(const Image& image, int32_t x, int32_t y) {
  return static_cast<size_t>(y - image.bufferRect.top) * static_cast<size_t>(image.bufferWidth) +
         static_cast<size_t>(x - image.bufferRect.left);
}
template <typename Sample>
Sample* PixelSamples(const Image& image, int32_t x, int32_t y) {
  return static_cast<Sample*>(image.pixels.buffer) + PixelIndexOf(image, x, y) * 4;
}

bool FillImageRect(const ImageRect& rect, const PixelValue& value, Image* image);

// The grayscale host modes: 1, 10 and 17.
bool IsGrayscaleMode(int32_t mode);
