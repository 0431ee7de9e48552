#pragma once
// The screen blend, inline, for loops that blend many pixels: BlendPixels in
// screen mode is built from these, so both give the same bits. A source's
// ratios to its brightest channel cost three divisions; a caller whose
// source colour repeats keeps its ScreenSource and reuses them.
#include <algorithm>
#include <cstdint>

#include "color/blend.h"

// colour x fraction in the chosen precision (see blend.h); nothing and
// everything are exact in both.
inline uint32_t BlendProduct(uint32_t colour, uint32_t fraction, bool precise) {
  if (fraction == 0) return 0;
  if (fraction >= BLEND_FULL_COVERAGE) return colour;
  if (precise) return static_cast<uint32_t>((static_cast<uint64_t>(colour) * fraction) >> 32);
  return (colour >> 14) * (fraction >> 18);
}

inline uint32_t BlendComplement(uint32_t fraction) {
  return fraction >= BLEND_FULL_COVERAGE ? 0 : BLEND_FULL_COVERAGE - fraction;
}

struct ScreenSource {
  uint32_t colour[3];
  uint32_t brightest;
  uint32_t keepOfRatio[3];  // complement of each channel's ratio to the brightest
};

inline ScreenSource MakeScreenSource(uint32_t red, uint32_t green, uint32_t blue) {
  ScreenSource s{{red, green, blue}, std::max(red, std::max(green, blue)), {0, 0, 0}};
  for (int c = 0; c < 3; ++c) {
    uint32_t ratio = BLEND_FULL_COVERAGE;
    if (s.brightest != 0)
      ratio = static_cast<uint32_t>(
          std::min<uint64_t>((static_cast<uint64_t>(s.colour[c]) << 32) / s.brightest, BLEND_FULL_COVERAGE));
    s.keepOfRatio[c] = BlendComplement(ratio);
  }
  return s;
}

// Screens `source` with `coverage` over the colour channels of `d`.
inline void ScreenBlend(const ScreenSource& source, uint32_t coverage, BlendPixel* d, bool precise) {
  constexpr uint32_t WHITE = 0xFFFFFF;  // full intensity in the screen formula
  const uint32_t strength = BlendProduct(source.brightest, coverage, precise);
  const uint32_t f = strength >= 0x1000000 ? BLEND_FULL_COVERAGE : strength << 8;
  const uint32_t keep = BlendComplement(f);
  uint32_t* channels[3] = {&d->red, &d->green, &d->blue};
  for (int c = 0; c < 3; ++c) {
    const uint32_t old = *channels[c];
    // A destination at or beyond white cannot be brightened by a screen; the
    // formula's (white - d) would wrap there.
    if (old >= WHITE) continue;
    const uint32_t screened = WHITE - BlendProduct(WHITE - old, source.keepOfRatio[c], precise);
    *channels[c] = BlendProduct(old, keep, precise) + BlendProduct(screened, f, precise);
  }
}
