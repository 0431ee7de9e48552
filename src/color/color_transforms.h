#pragma once
// Colour transforms and image conversion.
//
// Transform cache. GetColorTransform keeps up to TRANSFORM_CACHE_CAPACITY
// transforms, filled in order and kept until ReleaseColorManagement, under
// one lock ('TransformCacheSection'). Transforms are made without Little
// CMS's own pixel cache, so one transform may run on several threads at
// once. When the cache is full a new transform is still made, reported
// ("Transform cache table size exceeded.") and handed to the caller, who then
// owns it: the ColorTransform holder below deletes it when it goes away; the
// next request for the same keys makes another one.
//
// Pixel formats are Little CMS format codes. Requests are adapted to the
// profiles: a grayscale profile reads and writes the first channel of a
// four-channel pixel (gray with three extra channels), any other profile
// reads and writes RGBA. In-memory Images use these formats:
//   mode 1  gray 8-bit + 3 extras     mode 3  TYPE_BGRA_8 (TYPE_RGBA_8 when
//   mode 10 gray 16-bit + 3 extras            the buffer is red first)
//   mode 17 gray float + 3 extras     mode 11 TYPE_RGBA_16, 16 TYPE_RGBA_FLT
// Mode 64 (four 32-bit integers) has no format and cannot be converted.
//
// Conversions keep the Image invariants: alpha is never changed by an in-place
// conversion, negative float results become 0, and a gray result is repeated
// in the three colour channels. Threads: any; a conversion splits rows into
// bands on worker threads (runtime/threads.h) only when asked to, and gives
// the same bytes whatever the number of bands.
#include <lcms2.h>

#include <cstdint>
#include <vector>

#include "image/image.h"

// Little CMS formats of the in-memory images.
constexpr uint32_t FORMAT_GRAY_8_3X = 0x30189;     // gray 8-bit, three extra channels
constexpr uint32_t FORMAT_GRAY_16_3X = 0x3018A;    // gray 16-bit, three extra channels
constexpr uint32_t FORMAT_GRAY_FLT_3X = 0x43018C;  // gray float, three extra channels
constexpr uint32_t FORMAT_GRAY_16_2X = 0x3010A;    // gray 16-bit, two extra channels (colour triples)

constexpr int TRANSFORM_CACHE_CAPACITY = 32;

// A transform handed out by GetColorTransform: borrowed from the cache, or
// owned (cache full) and deleted with the holder. Move-only.
class ColorTransform {
 public:
  ColorTransform() = default;
  ColorTransform(cmsHTRANSFORM transform, bool owned) : transform_(transform), owned_(owned) {}
  ColorTransform(ColorTransform&& other) noexcept : transform_(other.transform_), owned_(other.owned_) {
    other.transform_ = nullptr;
    other.owned_ = false;
  }
  ColorTransform& operator=(ColorTransform&& other) noexcept;
  ColorTransform(const ColorTransform&) = delete;
  ColorTransform& operator=(const ColorTransform&) = delete;
  ~ColorTransform() { Reset(); }

  cmsHTRANSFORM get() const { return transform_; }
  bool owned() const { return owned_; }
  explicit operator bool() const { return transform_ != nullptr; }
  void Reset();

 private:
  cmsHTRANSFORM transform_ = nullptr;
  bool owned_ = false;
};

// The transform from `inputProfile` (read in `inputFormat`) to `outputProfile`
// (written in `outputFormat`), relative colorimetric with black point
// compensation. A null profile stands for the standard profile. An empty
// holder after a reported failure ("Could not compute color transform.").
ColorTransform GetColorTransform(ColorProfileHandle inputProfile, uint32_t inputFormat,
                                 ColorProfileHandle outputProfile, uint32_t outputFormat);

// The format as Little CMS is asked for it with `profile` (see above).
uint32_t AdaptFormatToProfile(ColorProfileHandle profile, uint32_t format);

// The format of an Image's pixel buffer; false (nothing reported) for modes
// without one.
bool GetImageTransformFormat(const Image* image, uint32_t* format);

// Converts the image in place from its profile to `profile`; then the image
// carries `profile`, GetImageGammaOfProfile(profile) as its gamma and that
// gamma's tables and pixel routines. `threadCount` bands of rows run on
// worker threads (1: the calling thread only; 0: GetWorkerThreadCount()).
bool ConvertColorOf(Image* image, ColorProfileHandle profile, int threadCount = 1);

// ConvertColorOf limited to spans of rows: row i of the buffer converts the
// columns [spanLeft[i], spanRight[i]) (clipped to the buffer; empty spans are
// skipped) on the calling thread; the rest of the image is left as it is but
// the image carries `profile` afterwards, as with ConvertColorOf. For images
// whose untouched pixels hold a value the conversion keeps (see
// ConversionKeepsBlack).
bool ConvertColorOfSpans(Image* image, ColorProfileHandle profile, const int32_t* spanLeft, const int32_t* spanRight);

// True when an opaque black pixel of the image's mode comes out exactly as
// it went in when converted from the image's profile to `profile`.
bool ConversionKeepsBlack(const Image* image, ColorProfileHandle profile);

struct ImagePoint {
  int32_t x;
  int32_t y;
};

// Converts `rect` (source coordinates, clipped to the source's buffer) from
// the source's profile and format into the destination's, placing the
// rectangle's top-left corner at `destinationOrigin` (clipped to the
// destination's buffer). The source's alpha is carried along. With more than
// 128 rows and more than one worker the rows run in bands on worker threads
// (`threadCount` as for ConvertColorOf, 0 by default). Source and destination
// may be the same Image only with the rectangle in place. On failure reports,
// stores a status in *status (may be null; -50 without a transform, -1715
// when the workers failed) unless it already holds one, and returns false.
bool ConvertImageRegion(const ImagePoint& destinationOrigin, const ImageRect& rect, const Image* source,
                        Image* destination, int16_t* status, int threadCount = 0);

// Converts one colour given as three 16-bit channels in the upper halves of
// `colour` from `inputProfile` to `outputProfile`, then decodes each channel
// from gamma 2.2 to linear and stores it back in the upper half (lower half
// 0). Null profiles stand for the standard profile. False after a report,
// with `colour` unchanged.
bool ConvertColorTriple(ColorProfileHandle inputProfile, uint32_t colour[3], ColorProfileHandle outputProfile);

// Per-channel tables standing in for an in-place transform whose channels
// do not mix: gray to gray, or between RGB matrix-shaper profiles with the
// same colorants and white point (the document and the working profiles
// usually). table[c][code] is what the transform makes of `code` in memory
// channel c, whatever the other channels hold.
struct ChannelTables {
  int bytesPerSample;  // 1 or 2
  int channels;        // colour channels: 3, or 1 for gray
  std::vector<uint16_t> table[3];
};

// The tables of `transform`, the transform from `inputProfile` to
// `outputProfile` in `format` (one of the 8- and 16-bit formats of the
// in-memory images, the same on both sides) that GetColorTransform handed
// out for those keys, made on first use from the transform itself and
// checked against it: every code of each channel, with the other channels
// at varied values, must come out as the tables say. Null when the profiles
// may mix channels, the check fails, the format is another, or the
// transform cannot be cached; the caller then runs the transform. Valid
// until ReleaseColorManagement.
const ChannelTables* GetChannelTables(const ColorTransform& transform, ColorProfileHandle inputProfile,
                                      ColorProfileHandle outputProfile, uint32_t format);

// Tests and diagnostics: how many transforms the cache holds.
int GetTransformCacheCount();
