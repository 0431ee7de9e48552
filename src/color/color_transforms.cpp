#include "color/color_transforms.h"

#include <mutex>

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
};

std::mutex TransformCacheSection;
TransformCacheEntry g_transformCache[TRANSFORM_CACHE_CAPACITY];

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
      TransformCacheEntry{transform, inputProfile, inputFormat, outputProfile, outputFormat, 1};
  return ColorTransform(transform, false);
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
    entry = TransformCacheEntry{};
  }
}
