#include "color/blend.h"

#include <algorithm>
#include <atomic>

#include "runtime/report.h"

namespace {

constexpr uint32_t WHITE = 0xFFFFFF;  // full intensity in the screen formula

std::atomic<bool> g_precise{true};
std::atomic<bool> g_unknownModeReported{false};

inline uint32_t Product(uint32_t colour, uint32_t fraction, bool precise) {
  // Nothing and everything are exact in both modes; the shifts alone would
  // make a full coverage lose a little of every colour it touches.
  if (fraction == 0) return 0;
  if (fraction >= BLEND_FULL_COVERAGE) return colour;
  if (precise) return static_cast<uint32_t>((static_cast<uint64_t>(colour) * fraction) >> 32);
  return (colour >> 14) * (fraction >> 18);
}

inline uint32_t Complement(uint32_t fraction) {
  return fraction >= BLEND_FULL_COVERAGE ? 0 : BLEND_FULL_COVERAGE - fraction;
}

inline uint32_t MaxColour(const BlendPixel& p) { return std::max(p.red, std::max(p.green, p.blue)); }

void Add(const BlendPixel& s, BlendPixel* d, bool precise) {
  const uint32_t a = s.coverage;
  uint32_t* channels[3] = {&d->red, &d->green, &d->blue};
  const uint32_t sources[3] = {s.red, s.green, s.blue};
  for (int c = 0; c < 3; ++c) {
    const uint64_t sum = static_cast<uint64_t>(*channels[c]) + Product(sources[c], a, precise);
    // Light beyond the largest representable value saturates there.
    *channels[c] = sum > BLEND_MAX_COLOUR ? BLEND_MAX_COLOUR : static_cast<uint32_t>(sum);
  }
}

void Premultiply(const BlendPixel& s, BlendPixel* d, bool precise) {
  d->red = Product(s.red, s.coverage, precise);
  d->green = Product(s.green, s.coverage, precise);
  d->blue = Product(s.blue, s.coverage, precise);
  d->coverage = BLEND_FULL_COVERAGE;
  d->extra = s.extra;
}

// An over-range colour is stored as a smaller colour with a larger coverage:
// the colour is divided by k and the coverage multiplied by k (both with
// 8 bits moved between them), so that their product stays what it was.
void Store(const BlendPixel& s, BlendPixel* d) {
  const uint32_t a = s.coverage;
  const uint32_t m = MaxColour(s);
  if (a == 0 || m <= 0xFFFFFF) {
    *d = s;
    return;
  }
  const uint32_t h = a < 256 ? 1 : a >> 8;
  const uint32_t g = BLEND_FULL_COVERAGE / h;
  uint32_t k = m / 0xFFFF;
  if (std::min(k, g) < 2) {
    k = 1;
  } else if (k >= g) {
    k = g;
  }
  d->coverage = static_cast<uint32_t>(std::min<uint64_t>(static_cast<uint64_t>(a >> 8) * k, BLEND_FULL_COVERAGE));
  const auto scale = [k](uint32_t v) {
    return static_cast<uint32_t>(std::min<uint64_t>(static_cast<uint64_t>(v / k) << 8, BLEND_MAX_COLOUR));
  };
  d->red = scale(s.red);
  d->green = scale(s.green);
  d->blue = scale(s.blue);
  d->extra = s.extra;
}

void Normal(const BlendPixel& s, BlendPixel* d, bool precise) {
  const uint32_t a = s.coverage;
  const uint32_t rest = Complement(a);
  d->red = Product(d->red, rest, precise) + Product(s.red, a, precise);
  d->green = Product(d->green, rest, precise) + Product(s.green, a, precise);
  d->blue = Product(d->blue, rest, precise) + Product(s.blue, a, precise);
}

void Screen(const BlendPixel& s, BlendPixel* d, bool precise) {
  const uint32_t m = MaxColour(s);
  const uint32_t strength = Product(m, s.coverage, precise);
  const uint32_t f = strength >= 0x1000000 ? BLEND_FULL_COVERAGE : strength << 8;
  const uint32_t keep = Complement(f);
  uint32_t* channels[3] = {&d->red, &d->green, &d->blue};
  const uint32_t sources[3] = {s.red, s.green, s.blue};
  for (int c = 0; c < 3; ++c) {
    const uint32_t old = *channels[c];
    // A destination at or beyond white cannot be brightened by a screen; the
    // formula's (white - d) would wrap there.
    if (old >= WHITE) continue;
    uint32_t ratio = BLEND_FULL_COVERAGE;
    if (m != 0) ratio = static_cast<uint32_t>(std::min<uint64_t>((static_cast<uint64_t>(sources[c]) << 32) / m,
                                                                 BLEND_FULL_COVERAGE));
    const uint32_t screened = WHITE - Product(WHITE - old, Complement(ratio), precise);
    *channels[c] = Product(old, keep, precise) + Product(screened, f, precise);
  }
}

}  // namespace

void BlendPixels(const BlendPixel* source, BlendPixel* destination, uint32_t mode) {
  if (source == nullptr || destination == nullptr) {
    REPORT_DEBUG("BlendPixels() received a NULL pixel.");
    return;
  }
  const bool precise = g_precise.load(std::memory_order_relaxed);
  switch (mode) {
    case BLEND_ADD:
      Add(*source, destination, precise);
      break;
    case BLEND_PREMULTIPLY:
      Premultiply(*source, destination, precise);
      break;
    case BLEND_STORE:
      Store(*source, destination);
      break;
    case BLEND_NORMAL:
      Normal(*source, destination, precise);
      break;
    case BLEND_SCREEN:
      Screen(*source, destination, precise);
      break;
    default:
      // Called per pixel: one report is enough to find the caller.
      if (!g_unknownModeReported.exchange(true)) REPORT_DEBUG("Blending mode not implemented.");
      break;
  }
}

void SetPreciseBlending(bool precise) { g_precise.store(precise, std::memory_order_relaxed); }
bool IsPreciseBlending() { return g_precise.load(std::memory_order_relaxed); }

uint32_t PreciseProduct(uint32_t colour, uint32_t fraction) { return Product(colour, fraction, true); }
uint32_t FastProduct(uint32_t colour, uint32_t fraction) { return Product(colour, fraction, false); }

void ResetBlendReports() { g_unknownModeReported.store(false); }
