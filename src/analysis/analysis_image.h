#pragma once
// The analysis image: the host image copy reduced to at most 1800 rows (the
// larger side is what gets divided), as 16-bit RGB with alpha and an 8-bit
// selection mask, converted to linear light.
//
// Errors: reported where they happen; the builders return false and the
// analysis turns that into its status.
#include <cstdint>

#include "analysis/light_source.h"
#include "image/image.h"

constexpr int32_t ANALYSIS_MAXIMUM_ROWS = 1800;

// Converts an image in place to the linear working profile (gamma 1.0),
// reporting its own failures.
using ConvertToLinearWorking = bool (*)(Image* image);

struct AnalysisGeometry {
  double scale;    // analysis pixel to host pixel: 1.0, or the larger side / 1800
  ImageRect rect;  // the analysis image's rectangle (host coordinates / scale)
};

// Scale 1 while the height is at most 1800 rows; otherwise the larger side
// is brought to 1800 pixels. Sides that would vanish keep one pixel.
AnalysisGeometry ComputeAnalysisGeometry(const ImageRect& hostRect);

// Copies `source` into `destination` (both created): byte for byte when
// rectangles and modes agree, pixel by pixel through the pixel routines when
// only the modes differ, else each destination pixel is the mean of the
// source block it covers. A source without a mask gives a full mask. False
// when `stop` is or becomes set (polled after every row). A reduction may
// use up to `threads` threads, this one included; the result is the same.
bool CopyImageWithReduction(const Image* source, Image* destination, const std::atomic<bool>* stop,
                            int32_t threads = 1);

struct AnalysisImageTimings {
  double reduction;   // seconds creating and filling the image
  double conversion;  // seconds converting it to linear light
};

// Builds the analysis image of `host` into `analysis` (a zeroed record):
// create, copy with reduction, convert. False after reporting, or when
// stopped; the record then holds whatever was allocated, for ReleaseImage.
// `timings` may be null; `threads` as for CopyImageWithReduction. When the
// image cannot be created or converted for want of memory, *status (if
// given) says so (-108).
bool BuildAnalysisImage(const Image* host, Image* analysis, double* scale, ConvertToLinearWorking convert,
                        const std::atomic<bool>* stop, int32_t threads, AnalysisImageTimings* timings,
                        int16_t* status = nullptr);
