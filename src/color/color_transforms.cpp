#include "color/color_transforms.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "color/color_internal.h"
#include "color/color_management.h"

namespace {

// Relative colorimetric with black point compensation, the full-resolution
// precalculation, and no pixel cache inside the transform (that cache would
// make a transform unsafe to share between threads).
constexpr cmsUInt32Number TRANSFORM_FLAGS =
    cmsFLAGS_BLACKPOINTCOMPENSATION | cmsFLAGS_HIGHRESPRECALC | cmsFLAGS_NOCACHE;
static_assert(TRANSFORM_FLAGS == 0x2440, "transform flags");

static_assert(FORMAT_GRAY_8_3X == (COLORSPACE_SH(PT_GRAY) | EXTRA_SH(3) | CHANNELS_SH(1) | BYTES_SH(1)), "gray 8");
static_assert(FORMAT_GRAY_16_3X == (COLORSPACE_SH(PT_GRAY) | EXTRA_SH(3) | CHANNELS_SH(1) | BYTES_SH(2)), "gray 16");
static_assert(FORMAT_GRAY_FLT_3X == (FLOAT_SH(1) | COLORSPACE_SH(PT_GRAY) | EXTRA_SH(3) | CHANNELS_SH(1) | BYTES_SH(4)),
              "gray float");
static_assert(FORMAT_GRAY_16_2X == (COLORSPACE_SH(PT_GRAY) | EXTRA_SH(2) | CHANNELS_SH(1) | BYTES_SH(2)), "gray 16+2");
static_assert(TYPE_RGBA_8 == 0x40099 && TYPE_BGRA_8 == 0x44499 && TYPE_RGBA_16 == 0x4009A && TYPE_RGBA_FLT == 0x44009C,
              "RGBA formats");

struct TransformCacheEntry {
  cmsHTRANSFORM transform;  // null: free; the first free entry ends the used part
  ColorProfileHandle inputProfile;
  uint32_t inputFormat;
  ColorProfileHandle outputProfile;
  uint32_t outputFormat;
  int32_t valid;
  ChannelTables* channels;  // made on first request, when the transform allows
  bool channelsTried;
};

std::mutex TransformCacheSection;
TransformCacheEntry g_transformCache[TRANSFORM_CACHE_CAPACITY];

// Equal to within the precision a profile stores them in (a profile saved
// and opened again has its numbers rounded to 16 fraction bits).
bool SameXYZTag(cmsHPROFILE a, cmsHPROFILE b, cmsTagSignature tag) {
  const auto* x = static_cast<const cmsCIEXYZ*>(cmsReadTag(a, tag));
  const auto* y = static_cast<const cmsCIEXYZ*>(cmsReadTag(b, tag));
  constexpr double TOLERANCE = 2.0 / 65536.0;
  return x != nullptr && y != nullptr && std::fabs(x->X - y->X) <= TOLERANCE && std::fabs(x->Y - y->Y) <= TOLERANCE &&
         std::fabs(x->Z - y->Z) <= TOLERANCE;
}

// Whether a transform between the two profiles may leave each channel to
// itself: both gray, or both RGB matrix-shaper profiles whose matrices (the
// colorants) and white points agree, so that they cancel and only the tone
// curves remain. Only a hint: the tables are checked against the transform.
bool ChannelsMayStaySeparate(cmsHPROFILE in, cmsHPROFILE out) {
  // Numbers, not the enumeration: a profile may carry any signature.
  const uint32_t a = cmsGetColorSpace(in), b = cmsGetColorSpace(out);
  if (a == cmsSigGrayData && b == cmsSigGrayData) return true;
  if (a != cmsSigRgbData || b != cmsSigRgbData) return false;
  if (!cmsIsMatrixShaper(in) || !cmsIsMatrixShaper(out)) return false;
  for (cmsTagSignature tag :
       {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag, cmsSigMediaWhitePointTag})
    if (!SameXYZTag(in, out, tag)) return false;
  return true;
}

// Samples of `pixels` pixels of four channels of `bytes` each.
struct SampleBuffer {
  int bytes;
  std::vector<uint8_t> data;
  SampleBuffer(int sampleBytes, size_t pixels) : bytes(sampleBytes), data(pixels * 4 * sampleBytes) {}
  uint32_t Get(size_t pixel, int channel) const {
    if (bytes == 1) return data[pixel * 4 + channel];
    uint16_t v;
    std::memcpy(&v, &data[(pixel * 4 + channel) * 2], 2);
    return v;
  }
  void Set(size_t pixel, int channel, uint32_t value) {
    if (bytes == 1) {
      data[pixel * 4 + channel] = static_cast<uint8_t>(value);
      return;
    }
    const uint16_t v = static_cast<uint16_t>(value);
    std::memcpy(&data[(pixel * 4 + channel) * 2], &v, 2);
  }
};

// Builds the tables from the transform's diagonal (every code in every
// channel at once), then checks them: for each channel in turn, every code
// of it with the other channels at pseudo-random codes. Null when any
// output differs from what the tables say.
ChannelTables* BuildChannelTables(cmsHTRANSFORM transform, int bytes, int channels) {
  const size_t codes = size_t{1} << (8 * bytes);
  auto tables = std::make_unique<ChannelTables>();
  tables->bytesPerSample = bytes;
  tables->channels = channels;
  const uint32_t top = static_cast<uint32_t>(codes - 1);
  uint32_t state = 0x2545F491u;
  auto next = [&state, top] {
    state = state * 1664525u + 1013904223u;
    return (state >> 8) & top;
  };
  // A quick look first: mixed pixels against the gray pixels of their
  // codes. Transforms that mix channels mostly show it here, before the
  // tables are built.
  if (channels > 1) {
    constexpr size_t PROBES = 64;
    SampleBuffer mixed(bytes, PROBES * 4), result(bytes, PROBES * 4);
    for (size_t i = 0; i < PROBES; ++i) {
      const uint32_t codes3[3] = {next(), next(), next()};
      for (int c = 0; c < 4; ++c) {
        mixed.Set(i * 4, c, c < 3 ? codes3[c] : top);
        for (int g = 0; g < 3; ++g) mixed.Set(i * 4 + 1 + g, c, c < 3 ? codes3[g] : top);
      }
    }
    result.data = mixed.data;
    cmsDoTransform(transform, mixed.data.data(), result.data.data(), static_cast<cmsUInt32Number>(PROBES * 4));
    for (size_t i = 0; i < PROBES; ++i)
      for (int c = 0; c < 3; ++c)
        if (result.Get(i * 4, c) != result.Get(i * 4 + 1 + c, c)) return nullptr;
  }
  SampleBuffer in(bytes, codes), out(bytes, codes);
  for (size_t v = 0; v < codes; ++v) {
    for (int c = 0; c < 4; ++c) in.Set(v, c, c < channels ? static_cast<uint32_t>(v) : top);
  }
  out.data = in.data;
  cmsDoTransform(transform, in.data.data(), out.data.data(), static_cast<cmsUInt32Number>(codes));
  for (int c = 0; c < channels; ++c) {
    tables->table[c].resize(codes);
    for (size_t v = 0; v < codes; ++v) tables->table[c][v] = static_cast<uint16_t>(out.Get(v, c));
  }
  for (int varied = 0; varied < channels && channels > 1; ++varied) {
    for (size_t v = 0; v < codes; ++v) {
      for (int c = 0; c < 4; ++c) in.Set(v, c, c == varied ? static_cast<uint32_t>(v) : c < channels ? next() : top);
    }
    out.data = in.data;
    cmsDoTransform(transform, in.data.data(), out.data.data(), static_cast<cmsUInt32Number>(codes));
    for (size_t v = 0; v < codes; ++v) {
      for (int c = 0; c < channels; ++c)
        if (out.Get(v, c) != tables->table[c][in.Get(v, c)]) return nullptr;
    }
  }
  return tables.release();
}

}  // namespace

ColorTransform& ColorTransform::operator=(ColorTransform&& other) noexcept {
  if (this != &other) {
    Reset();
    transform_ = other.transform_;
    owned_ = other.owned_;
    other.transform_ = nullptr;
    other.owned_ = false;
  }
  return *this;
}

void ColorTransform::Reset() {
  if (owned_ && transform_ != nullptr) cmsDeleteTransform(transform_);
  transform_ = nullptr;
  owned_ = false;
}

uint32_t AdaptFormatToProfile(ColorProfileHandle profile, uint32_t format) {
  if (IsGrayProfile(profile)) {
    switch (format) {
      case TYPE_RGBA_8:
      case TYPE_BGRA_8:
        return FORMAT_GRAY_8_3X;
      case TYPE_RGBA_16:
        return FORMAT_GRAY_16_3X;
      case TYPE_RGBA_FLT:
        return FORMAT_GRAY_FLT_3X;
      case TYPE_RGB_16:
        return FORMAT_GRAY_16_2X;
      default:
        return format;
    }
  }
  switch (format) {
    // Every 8-bit Image is stored blue first, a grayscale one included.
    case FORMAT_GRAY_8_3X:
      return TYPE_BGRA_8;
    case FORMAT_GRAY_16_3X:
      return TYPE_RGBA_16;
    case FORMAT_GRAY_FLT_3X:
      return TYPE_RGBA_FLT;
    case FORMAT_GRAY_16_2X:
      return TYPE_RGB_16;
    default:
      return format;
  }
}

bool GetImageTransformFormat(const Image* image, uint32_t* format) {
  if (image == nullptr || format == nullptr) return false;
  switch (image->mode) {
    case IMAGE_MODE_GRAY8:
      *format = FORMAT_GRAY_8_3X;
      return true;
    case IMAGE_MODE_RGB8:
      *format = image->glPixelFormat == IMAGE_GL_BGRA ? TYPE_BGRA_8 : TYPE_RGBA_8;
      return true;
    case IMAGE_MODE_GRAY16:
      *format = FORMAT_GRAY_16_3X;
      return true;
    case IMAGE_MODE_RGB16:
      *format = TYPE_RGBA_16;
      return true;
    case IMAGE_MODE_RGB_FLOAT:
      *format = TYPE_RGBA_FLT;
      return true;
    case IMAGE_MODE_GRAY_FLOAT:
      *format = FORMAT_GRAY_FLT_3X;
      return true;
    default:
      return false;
  }
}

ColorTransform GetColorTransform(ColorProfileHandle inputProfile, uint32_t inputFormat,
                                 ColorProfileHandle outputProfile, uint32_t outputFormat) {
  std::lock_guard<std::mutex> lock(TransformCacheSection);
  int freeEntry = -1;
  for (int i = 0; i < TRANSFORM_CACHE_CAPACITY; ++i) {
    const TransformCacheEntry& entry = g_transformCache[i];
    if (entry.transform == nullptr) {
      freeEntry = i;
      break;
    }
    if (entry.valid == 1 && entry.inputProfile == inputProfile && entry.inputFormat == inputFormat &&
        entry.outputProfile == outputProfile && entry.outputFormat == outputFormat) {
      return ColorTransform(entry.transform, false);
    }
  }

  // A missing profile on either side stands for the standard profile.
  cmsHPROFILE actualInput = inputProfile != nullptr ? inputProfile : GetStandardProfile();
  cmsHPROFILE actualOutput = outputProfile != nullptr ? outputProfile : GetStandardProfile();
  cmsHTRANSFORM transform = nullptr;
  if (actualInput != nullptr && actualOutput != nullptr) {
    transform = cmsCreateTransformTHR(GetColorContext(), actualInput, AdaptFormatToProfile(actualInput, inputFormat),
                                      actualOutput, AdaptFormatToProfile(actualOutput, outputFormat),
                                      INTENT_RELATIVE_COLORIMETRIC, TRANSFORM_FLAGS);
  }
  if (transform == nullptr) {
    REPORT_DEBUG("Could not compute color transform.");
    return ColorTransform();
  }
  if (freeEntry < 0) {
    REPORT_DEBUG("Transform cache table size exceeded.");
    return ColorTransform(transform, true);
  }
  g_transformCache[freeEntry] =
      TransformCacheEntry{transform, inputProfile, inputFormat, outputProfile, outputFormat, 1, nullptr, false};
  return ColorTransform(transform, false);
}

const ChannelTables* GetChannelTables(const ColorTransform& transform, ColorProfileHandle inputProfile,
                                      ColorProfileHandle outputProfile, uint32_t format) {
  switch (format) {
    case TYPE_RGBA_8:
    case TYPE_BGRA_8:
    case TYPE_RGBA_16:
    case FORMAT_GRAY_8_3X:
    case FORMAT_GRAY_16_3X:
      break;
    default:
      return nullptr;
  }
  cmsHPROFILE actualInput = inputProfile != nullptr ? inputProfile : GetStandardProfile();
  cmsHPROFILE actualOutput = outputProfile != nullptr ? outputProfile : GetStandardProfile();
  if (actualInput == nullptr || actualOutput == nullptr) return nullptr;
  // Both sides must read the pixel alike (gray profiles read one channel).
  const uint32_t adapted = AdaptFormatToProfile(actualInput, format);
  if (adapted != AdaptFormatToProfile(actualOutput, format)) return nullptr;
  if (!transform || transform.owned()) return nullptr;
  std::lock_guard<std::mutex> lock(TransformCacheSection);
  for (TransformCacheEntry& entry : g_transformCache) {
    if (entry.transform != transform.get()) continue;
    if (!entry.channelsTried) {
      entry.channelsTried = true;
      if (ChannelsMayStaySeparate(actualInput, actualOutput)) {
        try {
          entry.channels = BuildChannelTables(entry.transform, static_cast<int>(T_BYTES(adapted)),
                                              static_cast<int>(T_CHANNELS(adapted)));
        } catch (const std::bad_alloc&) {
          entry.channels = nullptr;
        }
      }
    }
    return entry.channels;
  }
  return nullptr;
}

int GetTransformCacheCount() {
  std::lock_guard<std::mutex> lock(TransformCacheSection);
  int count = 0;
  while (count < TRANSFORM_CACHE_CAPACITY && g_transformCache[count].transform != nullptr) ++count;
  return count;
}

void ReleaseTransformCache() {
  std::lock_guard<std::mutex> lock(TransformCacheSection);
  for (TransformCacheEntry& entry : g_transformCache) {
    if (entry.transform != nullptr) cmsDeleteTransform(entry.transform);
    delete entry.channels;
    entry = TransformCacheEntry{};
  }
}
