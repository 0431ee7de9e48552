#include "color/blend.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "color/screen_blend.h"
#include "image/image.h"
#include "image/pixel_access.h"
#include "image/pixel_codecs.h"
#include "runtime/report.h"

namespace {

std::atomic<bool> g_unknownModeReported{false};

// Nothing and everything are exact in both precisions; the shifts alone
// would make a full coverage lose a little of every colour it touches.
inline uint32_t Product(uint32_t colour, uint32_t fraction, bool precise) {
  return BlendProduct(colour, fraction, precise);
}

inline uint32_t Complement(uint32_t fraction) { return BlendComplement(fraction); }

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
  ScreenBlend(MakeScreenSource(s.red, s.green, s.blue), s.coverage, d, precise);
}

uint8_t* PixelAddress(const Image* image, int32_t x, int32_t y) {
  return static_cast<uint8_t*>(image->pixels.buffer) +
         PixelIndexOf(*image, x, y) * 4 * static_cast<size_t>(image->bytesPerChannel);
}

// Colour channel c of a pixel's bytes as a number, for comparing codes.
double ChannelCode(const uint8_t* pixel, int bytesPerChannel, int c) {
  switch (bytesPerChannel) {
    case 1:
      return pixel[c];
    case 2: {
      uint16_t v;
      std::memcpy(&v, pixel + 2 * c, sizeof v);
      return v;
    }
    default: {
      float v;
      std::memcpy(&v, pixel + 4 * c, sizeof v);
      return v;
    }
  }
}

}  // namespace

void BlendPixels(const BlendPixel* source, BlendPixel* destination, uint32_t mode, BlendPrecision precision) {
  if (source == nullptr || destination == nullptr) {
    REPORT_DEBUG("BlendPixels() received a NULL pixel.");
    return;
  }
  const bool precise = precision == BLEND_PRECISE;
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

uint32_t PreciseProduct(uint32_t colour, uint32_t fraction) { return Product(colour, fraction, true); }
uint32_t FastProduct(uint32_t colour, uint32_t fraction) { return Product(colour, fraction, false); }

void ResetBlendReports() { g_unknownModeReported.store(false); }

void ScreenIntoImage(const PixelValue& layerPixel, Image* copy, int32_t x, int32_t y, BlendPrecision precision) {
  if (layerPixel.red == 0 && layerPixel.green == 0 && layerPixel.blue == 0) return;
  PixelValue d;
  copy->readPixel(copy, &d, x, y);
  const BlendPixel source{layerPixel.red, layerPixel.green, layerPixel.blue, layerPixel.alpha, 0};
  BlendPixel target{d.red, d.green, d.blue, d.alpha, d.mask};
  BlendPixels(&source, &target, BLEND_SCREEN, precision);
  if (target.red == d.red && target.green == d.green && target.blue == d.blue) return;
  const int bpc = copy->bytesPerChannel;
  const size_t bytes = 4 * static_cast<size_t>(bpc);
  uint8_t* pixel = PixelAddress(copy, x, y);
  uint8_t original[16];
  uint8_t reencoded[16];
  std::memcpy(original, pixel, bytes);
  const PixelValue same{d.red, d.green, d.blue, PIXEL_KEEP, PIXEL_KEEP};
  copy->writePixel(copy, &same, x, y);
  std::memcpy(reencoded, pixel, bytes);
  const PixelValue blended{target.red, target.green, target.blue, PIXEL_KEEP, PIXEL_KEEP};
  copy->writePixel(copy, &blended, x, y);
  for (int c = 0; c < 3; ++c) {
    const double now = ChannelCode(pixel, bpc, c);
    if (now == ChannelCode(reencoded, bpc, c) || now < ChannelCode(original, bpc, c))
      std::memcpy(pixel + c * bpc, original + c * bpc, static_cast<size_t>(bpc));
  }
}

void StoreIntoImage(const PixelValue& layerPixel, Image* copy, int32_t x, int32_t y, BlendPrecision precision) {
  PixelValue d;
  copy->readPixel(copy, &d, x, y);
  const BlendPixel source{layerPixel.red, layerPixel.green, layerPixel.blue, layerPixel.alpha, 0};
  BlendPixel target{d.red, d.green, d.blue, d.alpha, d.mask};
  BlendPixels(&source, &target, BLEND_STORE, precision);
  const PixelValue out{target.red, target.green, target.blue, target.coverage, PIXEL_KEEP};
  copy->writePixel(copy, &out, x, y);
}

namespace {

// ScreenIntoImage over a row of pixels of the integer modes, reading and
// writing codes in place (the same codecs, the same rule per channel).
template <typename Sample, bool kGray>
void ScreenRowInPlace(const Image& layer, Image* copy, int32_t y, int32_t left, int32_t right, bool precise) {
  using Codec = ColourCodec<Sample, kGray>;
  const Sample* light = PixelSamples<const Sample>(layer, left, y);
  Sample* pixel = PixelSamples<Sample>(*copy, left, y);
  const GammaTables* lightTables = layer.gammaTables;
  const GammaTables* tables = copy->gammaTables;
  ScreenSource source{};
  bool haveSource = false;
  for (int32_t x = left; x < right; ++x, light += 4, pixel += 4) {
    uint32_t red, green, blue;
    Codec::Read(lightTables, light, &red, &green, &blue);
    if (red == 0 && green == 0 && blue == 0) continue;
    if (!haveSource || red != source.colour[0] || green != source.colour[1] || blue != source.colour[2]) {
      source = MakeScreenSource(red, green, blue);
      haveSource = true;
    }
    BlendPixel d{0, 0, 0, 0, 0};
    Codec::Read(tables, pixel, &d.red, &d.green, &d.blue);
    BlendPixel target = d;
    const uint32_t coverage = sizeof(Sample) == 1 ? AlphaFrom8(static_cast<uint8_t>(light[3])) : AlphaFrom16(light[3]);
    ScreenBlend(source, coverage, &target, precise);
    if (target.red == d.red && target.green == d.green && target.blue == d.blue) continue;
    // Per channel: the screened code replaces the old one unless it equals
    // the old value re-encoded or is darker than the old code.
    const uint32_t before[3] = {d.red, d.green, d.blue};
    const uint32_t after[3] = {target.red, target.green, target.blue};
    for (int c = 0; c < 3; ++c) {
      const int from = kGray ? 0 : c;  // gray stores its red value in every channel
      const int at = c == 0 ? Codec::RED : c == 2 ? Codec::BLUE : 1;
      const Sample now = Codec::ToCode(tables, after[from]);
      if (now == Codec::ToCode(tables, before[from]) || now < pixel[at]) continue;
      pixel[at] = now;
    }
  }
}

}  // namespace

void ScreenRowIntoImage(const Image& layer, Image* copy, int32_t y, int32_t left, int32_t right,
                        BlendPrecision precision) {
  const bool precise = precision == BLEND_PRECISE;
  const bool inPlace = layer.mode == copy->mode && layer.gammaTables != nullptr && copy->gammaTables != nullptr;
  if (inPlace && copy->mode == IMAGE_MODE_RGB8)
    return ScreenRowInPlace<uint8_t, false>(layer, copy, y, left, right, precise);
  if (inPlace && copy->mode == IMAGE_MODE_GRAY8)
    return ScreenRowInPlace<uint8_t, true>(layer, copy, y, left, right, precise);
  if (inPlace && copy->mode == IMAGE_MODE_RGB16)
    return ScreenRowInPlace<uint16_t, false>(layer, copy, y, left, right, precise);
  if (inPlace && copy->mode == IMAGE_MODE_GRAY16)
    return ScreenRowInPlace<uint16_t, true>(layer, copy, y, left, right, precise);
  PixelValue s;
  for (int32_t x = left; x < right; ++x) {
    layer.readPixel(&layer, &s, x, y);
    ScreenIntoImage(s, copy, x, y, precision);
  }
}
