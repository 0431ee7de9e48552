// Converting pixels between profiles: whole images in place, regions from one
// image into another, and single colours.
#include <algorithm>
#include <cstring>

#include "color/color_internal.h"
#include "color/color_management.h"
#include "color/color_transforms.h"
#include "image/gamma_tables.h"
#include "image/pixel_access.h"
#include "runtime/parallel.h"
#include "runtime/status.h"
#include "runtime/threads.h"

namespace {

constexpr int MAX_CONVERSION_BANDS = 24;
constexpr int MIN_ROWS_FOR_BANDS = 129;  // more than 128 rows
constexpr double DECODE_GAMMA_22 = 1.0 / 2.2;

// One conversion: rows of `width` pixels from the source rows into the
// destination rows, followed by the steps that keep the destination a sound
// Image (float clamp, gray repeated, alpha carried over).
struct RowJob {
  cmsHTRANSFORM transform;
  const uint8_t* sourceRow0;
  size_t sourceRowBytes;
  uint8_t* destinationRow0;
  size_t destinationRowBytes;
  uint32_t width;
  int sourceBytesPerChannel;
  int destinationBytesPerChannel;
  bool destinationGray;  // the transform wrote only the first channel
  bool carryAlpha;       // source and destination are different buffers
  bool wholeRows;        // rows are contiguous on both sides: one call per band
  const ChannelTables* tables;  // in place, channels apart: the transform as tables
};

// The transform as its channel tables: each colour sample looked up in
// place (the extra channels, alpha, stay as they are, as with the transform).
template <typename Sample>
void LookUpPixels(const ChannelTables& tables, uint8_t* pixels, size_t count) {
  Sample* p = reinterpret_cast<Sample*>(pixels);
  const uint16_t* t0 = tables.table[0].data();
  if (tables.channels == 1) {
    for (size_t i = 0; i < count; ++i, p += 4) p[0] = static_cast<Sample>(t0[p[0]]);
    return;
  }
  const uint16_t* t1 = tables.table[1].data();
  const uint16_t* t2 = tables.table[2].data();
  for (size_t i = 0; i < count; ++i, p += 4) {
    p[0] = static_cast<Sample>(t0[p[0]]);
    p[1] = static_cast<Sample>(t1[p[1]]);
    p[2] = static_cast<Sample>(t2[p[2]]);
  }
}

void Transform(const RowJob& job, const uint8_t* source, uint8_t* destination, uint32_t pixels) {
  if (job.tables != nullptr && source == destination) {
    if (job.tables->bytesPerSample == 1)
      LookUpPixels<uint8_t>(*job.tables, destination, pixels);
    else
      LookUpPixels<uint16_t>(*job.tables, destination, pixels);
    return;
  }
  cmsDoTransform(job.transform, source, destination, pixels);
}

float ClampUnit(float v) { return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f; }

// Alpha of one source pixel as the destination's sample type.
template <typename Out>
Out ConvertAlpha(const uint8_t* sourcePixel, int sourceBytes) {
  uint32_t code16 = 0;
  float unit = 0.0f;
  switch (sourceBytes) {
    case 1:
      code16 = sourcePixel[3] * 257u;
      unit = sourcePixel[3] / 255.0f;
      break;
    case 2: {
      uint16_t v;
      std::memcpy(&v, sourcePixel + 6, sizeof v);
      code16 = v;
      unit = v / 65535.0f;
      break;
    }
    default: {
      float v;
      std::memcpy(&v, sourcePixel + 12, sizeof v);
      unit = ClampUnit(v);
      code16 = static_cast<uint32_t>(unit * 65535.0f + 0.5f);
      if (sizeof(Out) == 4) unit = v;
      break;
    }
  }
  if constexpr (sizeof(Out) == 1) {
    return static_cast<Out>((code16 * 255u + 32767u) / 65535u);
  } else if constexpr (sizeof(Out) == 2) {
    return static_cast<Out>(code16);
  } else {
    return unit;
  }
}

template <typename Out>
void FinishRow(const RowJob& job, const uint8_t* sourceRow, uint8_t* destinationRow, uint32_t pixels) {
  Out* p = reinterpret_cast<Out*>(destinationRow);
  for (uint32_t i = 0; i < pixels; ++i, p += 4) {
    if constexpr (sizeof(Out) == 4) {
      // Out-of-gamut results of float transforms can be negative (or not a
      // number); light is never negative.
      for (int c = 0; c < 3; ++c) {
        if (!(p[c] >= 0.0f)) p[c] = 0.0f;
      }
    }
    if (job.destinationGray) p[1] = p[2] = p[0];
    if (job.carryAlpha) p[3] = ConvertAlpha<Out>(sourceRow + static_cast<size_t>(i) * 4 * job.sourceBytesPerChannel,
                                                 job.sourceBytesPerChannel);
  }
}

void FinishRows(const RowJob& job, const uint8_t* sourceRow, uint8_t* destinationRow, uint32_t pixels) {
  const bool isFloat = job.destinationBytesPerChannel == 4;
  if (!isFloat && !job.destinationGray && !job.carryAlpha) return;
  switch (job.destinationBytesPerChannel) {
    case 1:
      FinishRow<uint8_t>(job, sourceRow, destinationRow, pixels);
      break;
    case 2:
      FinishRow<uint16_t>(job, sourceRow, destinationRow, pixels);
      break;
    default:
      FinishRow<float>(job, sourceRow, destinationRow, pixels);
      break;
  }
}

void ConvertRowRange(const RowJob& job, int begin, int end) {
  if (begin >= end || job.width == 0) return;
  if (job.wholeRows) {
    const uint8_t* source = job.sourceRow0 + job.sourceRowBytes * static_cast<size_t>(begin);
    uint8_t* destination = job.destinationRow0 + job.destinationRowBytes * static_cast<size_t>(begin);
    const uint32_t pixels = job.width * static_cast<uint32_t>(end - begin);
    Transform(job, source, destination, pixels);
    FinishRows(job, source, destination, pixels);
    return;
  }
  for (int row = begin; row < end; ++row) {
    const uint8_t* source = job.sourceRow0 + job.sourceRowBytes * static_cast<size_t>(row);
    uint8_t* destination = job.destinationRow0 + job.destinationRowBytes * static_cast<size_t>(row);
    Transform(job, source, destination, job.width);
    FinishRows(job, source, destination, job.width);
  }
}

struct BandWork {
  const RowJob* job;
  int32_t rows;
  int32_t bands;
};

void ConvertBand(void* context, int32_t band, int32_t /*worker*/) {
  const auto* work = static_cast<const BandWork*>(context);
  const BandRange range = BandOfRows(work->rows, work->bands, band);
  ConvertRowRange(*work->job, range.begin, range.end);
}

// Runs the job over `rows` rows, split into bands on worker threads when
// that is asked for and worth it. Every row is converted whatever happens
// (a worker that cannot start leaves its bands to the others).
int16_t RunInBands(const RowJob& job, int rows, int threadCount) {
  int bands = threadCount <= 0 ? GetWorkerThreadCount() : threadCount;
  bands = std::min(bands, MAX_CONVERSION_BANDS);
  if (bands < 2 || rows < MIN_ROWS_FOR_BANDS) {
    ConvertRowRange(job, 0, rows);
    return 0;
  }
  BandWork work{&job, rows, bands};
  const ParallelOutcome outcome =
      RunInParallel(ParallelWork{ConvertBand, &work, bands, bands, false, nullptr, nullptr});
  if (outcome.workerFailed) {
    REPORT_DEBUG("A color conversion band failed.");
    return STATUS_FAILURE_REPORTED;
  }
  return 0;
}

void StoreStatus(int16_t* status, int16_t value) {
  if (status != nullptr && *status == 0) *status = value;
}

// True when the image's pixel buffer holds its buffer rectangle.
bool PixelsCoverBuffer(const Image* image) {
  if (image->bufferWidth < 0 || image->bufferHeight < 0 || image->bytesPerChannel <= 0) return false;
  const uint64_t needed = static_cast<uint64_t>(image->bufferWidth) * static_cast<uint64_t>(image->bufferHeight) * 4 *
                          static_cast<uint64_t>(image->bytesPerChannel);
  return needed == 0 || (image->pixels.buffer != nullptr && needed <= image->pixels.size);
}

bool IsGrayOutput(ColorProfileHandle profile, uint32_t format) {
  return T_COLORSPACE(AdaptFormatToProfile(profile != nullptr ? profile : GetStandardProfile(), format)) == PT_GRAY;
}

int16_t ConvertInPlace(Image* image, cmsHTRANSFORM transform, const ChannelTables* tables, bool grayOutput,
                       int threadCount) {
  const size_t rowBytes = static_cast<size_t>(image->bufferWidth) * 4 * static_cast<size_t>(image->bytesPerChannel);
  auto* pixels = static_cast<uint8_t*>(image->pixels.buffer);
  const RowJob job{transform,
                   pixels,
                   rowBytes,
                   pixels,
                   rowBytes,
                   static_cast<uint32_t>(image->bufferWidth),
                   image->bytesPerChannel,
                   image->bytesPerChannel,
                   grayOutput,
                   false,
                   true,
                   tables};
  return RunInBands(job, image->bufferHeight, threadCount);
}

// Gives the image its new profile, gamma, tables and routines.
bool AdoptProfile(Image* image, ColorProfileHandle profile, const char* caller) {
  image->profile = profile;
  image->gamma = GetImageGammaOfProfile(profile != nullptr ? profile : GetStandardProfile());
  image->gammaTables = GetGammaTables(image->gamma);
  AttachPixelRoutines(image);
  if (image->gammaTables == nullptr) {
    REPORT_DEBUG("%s could not get the gamma tables for gamma %g.", caller, image->gamma);
    return false;
  }
  return true;
}

// The checks of every in-place conversion; the image's transform format.
bool CheckConvertible(const Image* image, const char* caller, uint32_t* format) {
  if (!GetImageTransformFormat(image, format)) {
    REPORT_DEBUG("%s cannot convert images of mode %u.", caller, image->mode);
    return false;
  }
  if (!PixelsCoverBuffer(image)) {
    REPORT_DEBUG("%s received an image whose pixel buffer is smaller than its rectangle.", caller);
    return false;
  }
  return true;
}

}  // namespace

bool ConvertColorOf(Image* image, ColorProfileHandle profile, int threadCount) {
  if (image == nullptr) {
    REPORT_DEBUG("ConvertColorOf() received a NULL image record.");
    return false;
  }
  uint32_t format = 0;
  if (!CheckConvertible(image, "ConvertColorOf()", &format)) return false;
  // Into its own profile an image stays as it is: a transform would only
  // add rounding.
  int16_t result = 0;
  if (image->profile != profile) {
    ColorTransform transform = GetColorTransform(image->profile, format, profile, format);
    if (!transform) {
      REPORT_COLOR_DEBUG("ConvertColorOf() - Could not get color transform.");
      return false;
    }
    result = ConvertInPlace(image, transform.get(), GetChannelTables(transform, image->profile, profile, format),
                            IsGrayOutput(profile, format), threadCount);
  }

  return AdoptProfile(image, profile, "ConvertColorOf()") && result == 0;
}


bool ConvertColorOfSpans(Image* image, ColorProfileHandle profile, const int32_t* spanLeft, const int32_t* spanRight) {
  if (image == nullptr || spanLeft == nullptr || spanRight == nullptr) {
    REPORT_DEBUG("ConvertColorOfSpans() received a NULL image record or span list.");
    return false;
  }
  uint32_t format = 0;
  if (!CheckConvertible(image, "ConvertColorOfSpans()", &format)) return false;
  if (image->profile != profile) {
    ColorTransform transform = GetColorTransform(image->profile, format, profile, format);
    if (!transform) {
      REPORT_COLOR_DEBUG("ConvertColorOfSpans() - Could not get color transform.");
      return false;
    }
    const size_t pixelBytes = 4 * static_cast<size_t>(image->bytesPerChannel);
    const size_t rowBytes = static_cast<size_t>(image->bufferWidth) * pixelBytes;
    auto* pixels = static_cast<uint8_t*>(image->pixels.buffer);
    const bool gray = IsGrayOutput(profile, format);
    const ChannelTables* tables = GetChannelTables(transform, image->profile, profile, format);
    const ImageRect& b = image->bufferRect;
    for (int32_t row = 0; row < image->bufferHeight; ++row) {
      const int32_t left = std::max(spanLeft[row], b.left);
      const int32_t right = std::min(spanRight[row], b.right);
      if (left >= right) continue;
      uint8_t* start = pixels + rowBytes * static_cast<size_t>(row) + static_cast<size_t>(left - b.left) * pixelBytes;
      const RowJob job{transform.get(),
                       start,
                       rowBytes,
                       start,
                       rowBytes,
                       static_cast<uint32_t>(right - left),
                       image->bytesPerChannel,
                       image->bytesPerChannel,
                       gray,
                       false,
                       true,
                       tables};
      ConvertRowRange(job, 0, 1);
    }
  }
  return AdoptProfile(image, profile, "ConvertColorOfSpans()");
}

bool ConversionKeepsBlack(const Image* image, ColorProfileHandle profile) {
  uint32_t format = 0;
  if (image == nullptr || !GetImageTransformFormat(image, &format)) return false;
  if (image->profile == profile) return true;
  ColorTransform transform = GetColorTransform(image->profile, format, profile, format);
  if (!transform) return false;
  // Two pixels: some transforms treat a lone pixel differently from a run.
  const size_t pixelBytes = 4 * static_cast<size_t>(image->bytesPerChannel);
  uint8_t packed[32] = {};
  for (size_t i = 0; i < 2; ++i) {
    uint8_t* alpha = packed + i * pixelBytes + 3 * static_cast<size_t>(image->bytesPerChannel);
    if (image->bytesPerChannel == 4) {
      const float one = 1.0f;
      std::memcpy(alpha, &one, sizeof one);
    } else {
      std::memset(alpha, 0xFF, static_cast<size_t>(image->bytesPerChannel));
    }
  }
  uint8_t converted[32];
  std::memcpy(converted, packed, sizeof converted);
  cmsDoTransform(transform.get(), packed, converted, 2);
  for (size_t i = 0; i < 2; ++i) {
    const uint8_t* colour = converted + i * pixelBytes;
    if (image->bytesPerChannel == 4) {
      // Negative results are cleared after every conversion, and what stays
      // below half a 24-bit step reads back as black.
      for (int c = 0; c < 3; ++c) {
        float v;
        std::memcpy(&v, colour + 4 * c, sizeof v);
        if (v >= 0.5f / 16777215.0f || v != v) return false;
      }
      continue;
    }
    for (size_t byte = 0; byte < 3 * static_cast<size_t>(image->bytesPerChannel); ++byte) {
      if (colour[byte] != 0) return false;
    }
  }
  return true;
}

bool ConvertImageRegion(const ImagePoint& destinationOrigin, const ImageRect& rect, const Image* source,
                        Image* destination, int16_t* status, int threadCount) {
  if (source == nullptr || destination == nullptr) {
    REPORT_DEBUG("ConvertImageRegion() received a NULL image record.");
    StoreStatus(status, STATUS_PARAMETER_ERROR);
    return false;
  }
  uint32_t sourceFormat = 0;
  uint32_t destinationFormat = 0;
  if (!GetImageTransformFormat(source, &sourceFormat) || !GetImageTransformFormat(destination, &destinationFormat)) {
    REPORT_DEBUG("ConvertImageRegion() cannot convert from image mode %u to image mode %u.", source->mode,
                 destination->mode);
    StoreStatus(status, STATUS_PARAMETER_ERROR);
    return false;
  }
  if (!PixelsCoverBuffer(source) || !PixelsCoverBuffer(destination)) {
    REPORT_DEBUG("ConvertImageRegion() received an image whose pixel buffer is smaller than its rectangle.");
    StoreStatus(status, STATUS_PARAMETER_ERROR);
    return false;
  }

  // The rectangle inside the source, then moved and clipped to the
  // destination; 64-bit so that no coordinate can wrap.
  const ImageRect& s = source->bufferRect;
  const ImageRect& d = destination->bufferRect;
  int64_t left = std::max<int64_t>(rect.left, s.left);
  int64_t top = std::max<int64_t>(rect.top, s.top);
  int64_t right = std::min<int64_t>(rect.right, s.right);
  int64_t bottom = std::min<int64_t>(rect.bottom, s.bottom);
  int64_t x = static_cast<int64_t>(destinationOrigin.x) + (left - rect.left);
  int64_t y = static_cast<int64_t>(destinationOrigin.y) + (top - rect.top);
  if (x < d.left) {
    left += d.left - x;
    x = d.left;
  }
  if (y < d.top) {
    top += d.top - y;
    y = d.top;
  }
  right = std::min<int64_t>(right, left + (d.right - x));
  bottom = std::min<int64_t>(bottom, top + (d.bottom - y));
  if (right <= left || bottom <= top) return true;  // nothing of it lands

  const bool sameBuffer = source->pixels.buffer == destination->pixels.buffer;
  if (sameBuffer && (x != left || y != top || source->bufferRect.left != d.left || source->bufferRect.top != d.top ||
                     source->bufferWidth != destination->bufferWidth)) {
    REPORT_DEBUG("ConvertImageRegion() cannot move a region within one image.");
    StoreStatus(status, STATUS_PARAMETER_ERROR);
    return false;
  }

  ColorTransform transform = GetColorTransform(source->profile, sourceFormat, destination->profile, destinationFormat);
  if (!transform) {
    StoreStatus(status, STATUS_PARAMETER_ERROR);
    return false;
  }
  const size_t sourcePixelBytes = 4 * static_cast<size_t>(source->bytesPerChannel);
  const size_t destinationPixelBytes = 4 * static_cast<size_t>(destination->bytesPerChannel);
  const size_t sourceRowBytes = static_cast<size_t>(source->bufferWidth) * sourcePixelBytes;
  const size_t destinationRowBytes = static_cast<size_t>(destination->bufferWidth) * destinationPixelBytes;
  const auto* sourcePixels = static_cast<const uint8_t*>(source->pixels.buffer);
  auto* destinationPixels = static_cast<uint8_t*>(destination->pixels.buffer);
  const RowJob job{transform.get(),
                   sourcePixels + static_cast<size_t>(top - s.top) * sourceRowBytes +
                       static_cast<size_t>(left - s.left) * sourcePixelBytes,
                   sourceRowBytes,
                   destinationPixels + static_cast<size_t>(y - d.top) * destinationRowBytes +
                       static_cast<size_t>(x - d.left) * destinationPixelBytes,
                   destinationRowBytes,
                   static_cast<uint32_t>(right - left),
                   source->bytesPerChannel,
                   destination->bytesPerChannel,
                   IsGrayOutput(destination->profile, destinationFormat),
                   !sameBuffer,
                   false,
                   nullptr};
  const int16_t result = RunInBands(job, static_cast<int>(bottom - top), threadCount);
  if (result != 0) {
    StoreStatus(status, result);
    return false;
  }
  return true;
}

bool ConvertColorTriple(ColorProfileHandle inputProfile, uint32_t colour[3], ColorProfileHandle outputProfile) {
  if (colour == nullptr) {
    REPORT_DEBUG("ConvertColorTriple() received a NULL colour.");
    return false;
  }
  ColorTransform transform = GetColorTransform(inputProfile, TYPE_RGB_16, outputProfile, TYPE_RGB_16);
  if (!transform) return false;
  const GammaTables* decode = GetGammaTables(DECODE_GAMMA_22);
  if (decode == nullptr) {
    REPORT_DEBUG("ConvertColorTriple() could not get the gamma tables for decoding.");
    return false;
  }
  cmsUInt16Number pixel[3] = {static_cast<cmsUInt16Number>(colour[0] >> 16),
                              static_cast<cmsUInt16Number>(colour[1] >> 16),
                              static_cast<cmsUInt16Number>(colour[2] >> 16)};
  cmsDoTransform(transform.get(), pixel, pixel, 1);
  if (IsGrayOutput(outputProfile, TYPE_RGB_16)) pixel[1] = pixel[2] = pixel[0];
  for (int c = 0; c < 3; ++c) colour[c] = static_cast<uint32_t>(decode->linearToCode16[pixel[c]]) << 16;
  return true;
}
