#include "image/pixel_access.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#include "image/pixel_codecs.h"
#include "runtime/report.h"

namespace {

uint32_t g_alphaFrom8[256];
uint32_t g_alphaFrom16[65536];
uint8_t g_alphaTo8[65536];
uint16_t g_alphaTo16[65536];
std::once_flag g_tablesBuilt;

constexpr double ALPHA_SCALE = 4294967294.0;

void BuildTables() {
  for (uint32_t i = 0; i < 256; ++i) g_alphaFrom8[i] = static_cast<uint32_t>(std::floor(i / 255.0 * ALPHA_SCALE + 0.5));
  for (uint32_t i = 0; i < 65536; ++i) {
    g_alphaFrom16[i] = static_cast<uint32_t>(std::floor(i / 65535.0 * ALPHA_SCALE + 0.5));
    g_alphaTo8[i] = static_cast<uint8_t>(std::floor(i / 65535.0 * 255.0 + 0.5));
    g_alphaTo16[i] = static_cast<uint16_t>(i);
  }
}

inline bool Inside(const Image* image, int32_t x, int32_t y) {
  return x >= image->bufferRect.left && x < image->bufferRect.right && y >= image->bufferRect.top &&
         y < image->bufferRect.bottom;
}

inline uint32_t ReadMask(const Image* image, size_t index) {
  if (image->mask.buffer == nullptr) return PIXEL_OPAQUE;
  return g_alphaFrom8[static_cast<const uint8_t*>(image->mask.buffer)[index]];
}

inline void WriteMask(Image* image, size_t index, uint32_t mask) {
  if (mask == PIXEL_KEEP || image->mask.buffer == nullptr) return;
  static_cast<uint8_t*>(image->mask.buffer)[index] = g_alphaTo8[mask >> 16];
}

// Float samples to linear colour. Negative and NaN samples read as black and
// far over-range ones saturate below PIXEL_KEEP, so that a value read can
// always be written back without turning into "unchanged".
inline uint32_t FloatToLinear(const Image* image, float sample) {
  if (!(sample > 0.0f)) return 0;
  double value = sample;
  if (image->gamma != 1.0) value = std::pow(value, image->gamma);
  value = value * PIXEL_FULL + 0.5;
  return value >= static_cast<double>(PIXEL_OPAQUE) ? PIXEL_OPAQUE : static_cast<uint32_t>(value);
}
inline float LinearToFloat(const Image* image, uint32_t value) {
  if (value > PIXEL_FULL - 1) return 1.0f;
  const double fraction = static_cast<double>(value) / PIXEL_FULL;
  return static_cast<float>(image->gamma == 1.0 ? fraction : std::pow(fraction, 1.0 / image->gamma));
}
inline uint32_t FloatToAlpha(float sample) {
  if (!(sample > 0.0f)) return 0;
  if (sample >= 1.0f) return PIXEL_OPAQUE;
  return static_cast<uint32_t>(static_cast<double>(sample) * ALPHA_SCALE + 0.5);
}
inline float AlphaToFloat(uint32_t alpha) { return static_cast<float>(alpha / 4294967296.0); }

// ---- per-mode routines on a pixel known to lie inside the buffer ----------

template <typename Sample, bool kGray>
void ReadInteger(const Image* image, PixelValue* value, size_t index) {
  const Sample* p = static_cast<const Sample*>(image->pixels.buffer) + index * 4;
  ColourCodec<Sample, kGray>::Read(image->gammaTables, p, &value->red, &value->green, &value->blue);
  if constexpr (sizeof(Sample) == 1)
    value->alpha = g_alphaFrom8[p[3]];
  else
    value->alpha = g_alphaFrom16[p[3]];
  value->mask = ReadMask(image, index);
}
template <typename Sample, bool kGray>
void WriteInteger(Image* image, const PixelValue* value, size_t index) {
  Sample* p = static_cast<Sample*>(image->pixels.buffer) + index * 4;
  ColourCodec<Sample, kGray>::Write(image->gammaTables, p, value->red, value->green, value->blue);
  if (value->alpha != PIXEL_KEEP) {
    if constexpr (sizeof(Sample) == 1)
      p[3] = g_alphaTo8[value->alpha >> 16];
    else
      p[3] = g_alphaTo16[value->alpha >> 16];
  }
  WriteMask(image, index, value->mask);
}
void ReadGray8(const Image* image, PixelValue* value, size_t index) { ReadInteger<uint8_t, true>(image, value, index); }
void ReadRgb8(const Image* image, PixelValue* value, size_t index) { ReadInteger<uint8_t, false>(image, value, index); }
void ReadGray16(const Image* image, PixelValue* value, size_t index) {
  ReadInteger<uint16_t, true>(image, value, index);
}
void ReadRgb16(const Image* image, PixelValue* value, size_t index) {
  ReadInteger<uint16_t, false>(image, value, index);
}
void WriteGray8(Image* image, const PixelValue* value, size_t index) {
  WriteInteger<uint8_t, true>(image, value, index);
}
void WriteRgb8(Image* image, const PixelValue* value, size_t index) {
  WriteInteger<uint8_t, false>(image, value, index);
}
void WriteGray16(Image* image, const PixelValue* value, size_t index) {
  WriteInteger<uint16_t, true>(image, value, index);
}
void WriteRgb16(Image* image, const PixelValue* value, size_t index) {
  WriteInteger<uint16_t, false>(image, value, index);
}
void ReadRgbFloat(const Image* image, PixelValue* value, size_t index) {
  const float* p = static_cast<const float*>(image->pixels.buffer) + index * 4;
  value->red = FloatToLinear(image, p[0]);
  value->green = FloatToLinear(image, p[1]);
  value->blue = FloatToLinear(image, p[2]);
  value->alpha = FloatToAlpha(p[3]);
  value->mask = ReadMask(image, index);
}
void ReadGrayFloat(const Image* image, PixelValue* value, size_t index) {
  const float* p = static_cast<const float*>(image->pixels.buffer) + index * 4;
  value->red = value->green = value->blue = FloatToLinear(image, p[0]);
  value->alpha = FloatToAlpha(p[3]);
  value->mask = ReadMask(image, index);
}
void ReadUint32(const Image* image, PixelValue* value, size_t index) {
  const uint32_t* p = static_cast<const uint32_t*>(image->pixels.buffer) + index * 4;
  value->red = p[0];
  value->green = p[1];
  value->blue = p[2];
  value->alpha = p[3];
  value->mask = ReadMask(image, index);
}

void WriteRgbFloat(Image* image, const PixelValue* value, size_t index) {
  float* p = static_cast<float*>(image->pixels.buffer) + index * 4;
  if (value->red != PIXEL_KEEP) p[0] = LinearToFloat(image, value->red);
  if (value->green != PIXEL_KEEP) p[1] = LinearToFloat(image, value->green);
  if (value->blue != PIXEL_KEEP) p[2] = LinearToFloat(image, value->blue);
  if (value->alpha != PIXEL_KEEP) p[3] = AlphaToFloat(value->alpha);
  WriteMask(image, index, value->mask);
}
void WriteGrayFloat(Image* image, const PixelValue* value, size_t index) {
  float* p = static_cast<float*>(image->pixels.buffer) + index * 4;
  if (value->red != PIXEL_KEEP) p[0] = p[1] = p[2] = LinearToFloat(image, value->red);
  if (value->alpha != PIXEL_KEEP) p[3] = AlphaToFloat(value->alpha);
  WriteMask(image, index, value->mask);
}
void WriteUint32(Image* image, const PixelValue* value, size_t index) {
  uint32_t* p = static_cast<uint32_t*>(image->pixels.buffer) + index * 4;
  if (value->red != PIXEL_KEEP) p[0] = value->red;
  if (value->green != PIXEL_KEEP) p[1] = value->green;
  if (value->blue != PIXEL_KEEP) p[2] = value->blue;
  if (value->alpha != PIXEL_KEEP) p[3] = value->alpha;
  WriteMask(image, index, value->mask);
}

// ---- the public routines: the unchecked and checked variants of each mode --

using IndexedRead = void (*)(const Image*, PixelValue*, size_t);
using IndexedWrite = void (*)(Image*, const PixelValue*, size_t);

template <IndexedRead Read>
void ReadUnchecked(const Image* image, PixelValue* value, int32_t x, int32_t y) {
  Read(image, value, PixelIndexOf(*image, x, y));
}

template <IndexedRead Read>
void ReadChecked(const Image* image, PixelValue* value, int32_t x, int32_t y) {
  const ImageRect& r = image->bufferRect;
  if (r.right <= r.left || r.bottom <= r.top) {
    *value = PixelValue{0, 0, 0, 0, 0};
    return;
  }
  if (Inside(image, x, y)) {
    Read(image, value, PixelIndexOf(*image, x, y));
    return;
  }
  Read(image, value, PixelIndexOf(*image, std::clamp(x, r.left, r.right - 1), std::clamp(y, r.top, r.bottom - 1)));
  value->alpha = 0;
  value->mask = 0;
}

template <IndexedWrite Write>
void WriteUnchecked(Image* image, const PixelValue* value, int32_t x, int32_t y) {
  Write(image, value, PixelIndexOf(*image, x, y));
}

template <IndexedWrite Write>
void WriteChecked(Image* image, const PixelValue* value, int32_t x, int32_t y) {
  if (Inside(image, x, y)) Write(image, value, PixelIndexOf(*image, x, y));
}

void ReadNothing(const Image*, PixelValue* value, int32_t, int32_t) { *value = PixelValue{0, 0, 0, 0, 0}; }

void WriteNothing(Image*, const PixelValue*, int32_t, int32_t) { REPORT_DEBUG("OutputImage mode not implemented."); }

struct ModeRoutines {
  uint32_t mode;
  ReadPixelRoutine read[2];  // unchecked, checked
  WritePixelRoutine write[2];
};

#define GM_MODE_ROUTINES(mode, read, write)                                                        \
  {                                                                                                \
    mode, {ReadUnchecked<read>, ReadChecked<read>}, { WriteUnchecked<write>, WriteChecked<write> } \
  }

const ModeRoutines kRoutines[] = {
    GM_MODE_ROUTINES(IMAGE_MODE_GRAY8, ReadGray8, WriteGray8),
    GM_MODE_ROUTINES(IMAGE_MODE_RGB8, ReadRgb8, WriteRgb8),
    GM_MODE_ROUTINES(IMAGE_MODE_GRAY16, ReadGray16, WriteGray16),
    GM_MODE_ROUTINES(IMAGE_MODE_RGB16, ReadRgb16, WriteRgb16),
    GM_MODE_ROUTINES(IMAGE_MODE_RGB_FLOAT, ReadRgbFloat, WriteRgbFloat),
    GM_MODE_ROUTINES(IMAGE_MODE_GRAY_FLOAT, ReadGrayFloat, WriteGrayFloat),
    GM_MODE_ROUTINES(IMAGE_MODE_RGBA_UINT32, ReadUint32, WriteUint32),
};
#undef GM_MODE_ROUTINES

const ModeRoutines* FindRoutines(uint32_t mode) {
  for (const ModeRoutines& routines : kRoutines)
    if (routines.mode == mode) return &routines;
  return nullptr;
}

// Host modes that exist but that an Image cannot hold.
bool IsKnownUnsupportedMode(uint32_t mode) { return mode <= 15; }

}  // namespace

void BuildPixelValueTables() { std::call_once(g_tablesBuilt, BuildTables); }

uint32_t LinearOfFloatSample(const Image* image, float sample) { return FloatToLinear(image, sample); }
uint32_t AlphaOfFloatSample(float sample) { return FloatToAlpha(sample); }
uint32_t AlphaFrom8(uint8_t code) { return g_alphaFrom8[code]; }
uint32_t AlphaFrom16(uint16_t code) { return g_alphaFrom16[code]; }
uint8_t AlphaTo8(uint32_t alpha) { return g_alphaTo8[alpha >> 16]; }
uint16_t AlphaTo16(uint32_t alpha) { return g_alphaTo16[alpha >> 16]; }

ReadPixelRoutine SelectPixelReader(const Image* image, bool clamped) {
  BuildPixelValueTables();
  const ModeRoutines* routines = image != nullptr ? FindRoutines(image->mode) : nullptr;
  if (routines != nullptr) return routines->read[clamped ? 1 : 0];
  if (image != nullptr && IsKnownUnsupportedMode(image->mode))
    REPORT_DEBUG("InputImage mode not implemented.");
  else
    REPORT_DEBUG("Invalid InputImage mode.");
  return ReadNothing;
}

WritePixelRoutine SelectPixelWriter(const Image* image, bool clamped) {
  BuildPixelValueTables();
  const ModeRoutines* routines = image != nullptr ? FindRoutines(image->mode) : nullptr;
  if (routines != nullptr) return routines->write[clamped ? 1 : 0];
  if (image != nullptr && IsKnownUnsupportedMode(image->mode))
    REPORT_DEBUG("InputImage mode not yet implemented.");
  else
    REPORT_DEBUG("Unrecognized image mode.");
  return WriteNothing;
}

void AttachPixelRoutines(Image* image) {
  if (image == nullptr) return;
  image->readPixel = SelectPixelReader(image, image->clamped != 0);
  image->writePixel = SelectPixelWriter(image, image->clamped != 0);
}

bool FillImageRect(const ImageRect& rect, const PixelValue& value, Image* image) {
  if (image == nullptr || image->pixels.buffer == nullptr) return false;
  const ImageRect& b = image->bufferRect;
  const int32_t top = std::max(rect.top, b.top), bottom = std::min(rect.bottom, b.bottom);
  const int32_t left = std::max(rect.left, b.left), right = std::min(rect.right, b.right);
  if (bottom <= top) return false;
  if (right <= left) return true;
  const WritePixelRoutine write = SelectPixelWriter(image, false);
  const bool keepsSome = value.red == PIXEL_KEEP || value.green == PIXEL_KEEP || value.blue == PIXEL_KEEP ||
                         value.alpha == PIXEL_KEEP || value.mask == PIXEL_KEEP;
  if (keepsSome) {
    for (int32_t y = top; y < bottom; ++y)
      for (int32_t x = left; x < right; ++x) write(image, &value, x, y);
    return true;
  }
  // Encode the value once into the first pixel, then copy its bytes.
  write(image, &value, left, top);
  const size_t pixelBytes = static_cast<size_t>(image->bytesPerChannel) * 4;
  const auto* base = static_cast<uint8_t*>(image->pixels.buffer);
  uint8_t encoded[16];
  std::memcpy(encoded, base + PixelIndexOf(*image, left, top) * pixelBytes, pixelBytes);
  uint8_t* maskBase = static_cast<uint8_t*>(image->mask.buffer);
  const uint8_t maskByte = maskBase != nullptr ? maskBase[PixelIndexOf(*image, left, top)] : 0;
  // The pixel size is fixed per loop so that each copy is a plain store.
  auto fillRows = [&](auto pixel) {
    constexpr size_t size = sizeof pixel;
    std::memcpy(&pixel, encoded, size);
    for (int32_t y = top; y < bottom; ++y) {
      const size_t first = PixelIndexOf(*image, left, y);
      uint8_t* row = static_cast<uint8_t*>(image->pixels.buffer) + first * size;
      for (int32_t x = left; x < right; ++x, row += size) std::memcpy(row, &pixel, size);
      if (maskBase != nullptr) std::memset(maskBase + first, maskByte, static_cast<size_t>(right - left));
    }
  };
  struct Bytes16 {
    uint64_t half[2];
  };
  switch (pixelBytes) {
    case 4:
      fillRows(uint32_t{});
      break;
    case 8:
      fillRows(uint64_t{});
      break;
    default:
      fillRows(Bytes16{});
      break;
  }
  return true;
}

bool IsGrayscaleMode(int32_t mode) { return mode == 1 || mode == 10 || mode == 17; }
