#pragma once
// Per-pixel blending of rendered effects into an image.
//
// Colour channels are fixed point with 1.0 = 0x1000000 (values up to
// 0xFFFFFFFD allowed, for light beyond full intensity); coverage is a fraction
// with 1.0 = 0xFFFFFFFE. A product of a colour x and a fraction y is
//   precise: (x * y) >> 32, exactly;
//   fast:    (x >> 14) * (y >> 18), never above the precise product and below
//            it by less than (x >> 14) + (y >> 18) + 1.
// In both, a fraction of 0 gives 0 and a full fraction gives x itself, so
// blending with nothing or with everything is exact. The choice is one
// process-wide switch, set by the rendering code; it may change between
// passes, not during one.
//
// Modes (four-character codes):
//   'BWad' add: d += s * a per colour channel, saturating at 0xFFFFFFFD;
//   'BWpa' premultiply: d = s * a, coverage full, extra from the source;
//   'BWst' store: the source is copied; an over-range source colour is
//          rescaled so that colour * coverage is kept while the colour fits;
//   'norm' normal: d = d * (1 - a) + s * a;
//   'scrn' screen: light adds like a screen print, weighted by the source's
//          brightest channel and its coverage.
// Any other mode is reported (once per initialisation of colour management)
// and leaves the destination unchanged.
//
// Threads: BlendPixels takes no lock; concurrent callers must blend into
// distinct pixels.
#include <cstdint>

#include "image/image.h"

struct BlendPixel {
  uint32_t red;       // 1.0 = 0x1000000
  uint32_t green;
  uint32_t blue;
  uint32_t coverage;  // 1.0 = 0xFFFFFFFE
  uint32_t extra;     // carried along
};

enum BlendMode : uint32_t {
  BLEND_ADD = 'BWad',
  BLEND_PREMULTIPLY = 'BWpa',
  BLEND_STORE = 'BWst',
  BLEND_NORMAL = 'norm',
  BLEND_SCREEN = 'scrn',
};

constexpr uint32_t BLEND_FULL_COVERAGE = 0xFFFFFFFE;
constexpr uint32_t BLEND_ONE = 0x1000000;
constexpr uint32_t BLEND_MAX_COLOUR = 0xFFFFFFFD;

// Products of colour and coverage: exact, or the fast split-shift
// approximation a preview may choose. The final rendering is precise.
enum BlendPrecision : uint8_t { BLEND_PRECISE, BLEND_FAST };

void BlendPixels(const BlendPixel* source, BlendPixel* destination, uint32_t mode, BlendPrecision precision);

// The two products, for callers that blend on their own.
uint32_t PreciseProduct(uint32_t colour, uint32_t fraction);
uint32_t FastProduct(uint32_t colour, uint32_t fraction);

// Lets the next unknown mode be reported again (InitializeColorManagement).
void ResetBlendReports();

// Combining a rendered effects pixel (already in the image's profile) with
// one pixel of an image. Screen: a colour channel keeps its exact bits unless
// the screened value encodes differently from the channel's own value
// re-encoded and is not darker than it was, so that what no effect touched
// (deep shadows, float light above 1.0) survives the round trip through the
// gamma tables. Store: the effects pixel replaces the image's (the store
// blend's over-range rule decides its coverage).
void ScreenIntoImage(const PixelValue& light, Image* image, int32_t x, int32_t y, BlendPrecision precision);
// ScreenIntoImage for columns [left, right) of row y, the light read from
// `layer` (an image of the same mode); the same bits, faster for the
// integer modes.
void ScreenRowIntoImage(const Image& layer, Image* image, int32_t y, int32_t left, int32_t right,
                        BlendPrecision precision);
void StoreIntoImage(const PixelValue& light, Image* image, int32_t x, int32_t y, BlendPrecision precision);
