#pragma once
// Sampling shapes: weighted pixel offsets around a point, held once for each
// of the sixteen quarter-pixel positions a centre can take.
//
// The highlight analysis measures the brightness, its spread and the colour
// of the analysis image under disks and rings of a given radius; the effect
// drawing uses the same record for its star and flare shapes and hangs its
// vertex, index and texture data on the two `drawing` fields (the analysis
// leaves them null).
//
// Sub-shapes are generated lazily, on the first measurement at their quarter
// position, and kept until the shape is freed. A shape is used by one thread
// at a time; whoever shares one between threads serialises the generation.
//
// Arithmetic: weights, channel factors, alpha and mask are fractions with
// FRACTION_FULL as 1.0 and every product obeys the analysis' precision switch
// (analysis/light_source.h). Colours are linear 24-bit values.
//
// Errors: a failed generation or measurement is reported where it happens
// (the low-memory case as a user warning, the rest as debug messages) and
// returns false; the caller only has to reject what it was measuring.
#include <cstdint>

#include "analysis/light_source.h"
#include "image/image.h"
#include "runtime/buffers.h"

enum ShapeType : int32_t {
  SHAPE_IMAGE = 0,  // the only kind there is
};

constexpr int32_t SUB_SHAPE_COUNT = 16;

// One weighted offset, relative to the centre's integer pixel.
struct ShapeSample {
  int16_t dx;
  int16_t dy;
  uint32_t red;  // channel factors; the generators here write FRACTION_FULL
  uint32_t green;
  uint32_t blue;
  uint32_t weight;
};
static_assert(sizeof(ShapeSample) == 20, "samples are packed as 2 x int16 + 4 x uint32");

struct SubShape {
  uint8_t generated;
  // Offsets from the centre's integer pixel that may hold samples; right and
  // bottom exclusive.
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
  int32_t sampleCount;
  BufferDescriptor samples;  // capacity = samples.size / sizeof(ShapeSample)
  void* drawing;             // the effect drawing's per-slot data; null here
};

struct SamplingShape;
// Fills the sub-shape of one quarter position; false after reporting.
using ShapeGenerator = bool (*)(SamplingShape* shape, int32_t xQuarter, int32_t yQuarter);
// Releases what the effect drawing hung on a shape (both `drawing` levels).
using ShapeDrawingRelease = void (*)(SamplingShape* shape);

struct SamplingShape {
  SubShape subShapes[SUB_SHAPE_COUNT];  // index xQuarter * 4 + yQuarter
  int32_t type;                         // SHAPE_IMAGE
  ShapeGenerator generator;
  // What the generator reads: for the disks and rings here a `const float`
  // radius in pixels; effect shapes point at their parameter record.
  const void* parameter;
  void* drawing;                       // the effect drawing's part; null here
  ShapeDrawingRelease releaseDrawing;  // called by FreeSamplingShape when set
};

inline int32_t SubShapeIndex(int32_t xQuarter, int32_t yQuarter) { return xQuarter * 4 + yQuarter; }

// Zeroes the record, then attaches a generator and its radius. The radius
// must outlive the shape.
void InitializeSamplingShape(SamplingShape* shape, ShapeGenerator generator, const float* radius);

// Releases every sub-shape's samples (and, through releaseDrawing, the
// drawing's resources) and zeroes the record. Safe on a zeroed record.
void FreeSamplingShape(SamplingShape* shape);

// Appends a sample; when the buffer is full it grows by `capacityEstimate`
// samples. On failure warns the user ("Low memory...") and leaves the
// sub-shape as it was.
bool AppendShapeSample(int32_t capacityEstimate, SubShape* subShape, const ShapeSample& sample);

// A filled disk of the shape's radius r: full weight up to r - 0.5, a linear
// one-pixel edge out to r + 0.5.
bool GenerateDiskSubShape(SamplingShape* shape, int32_t xQuarter, int32_t yQuarter);
// A thin ring, the band [r - 1/8, r + 1/8], each pixel weighted by how much
// of the band it covers (a pixel counting as a disc of equal area).
bool GenerateRingSubShape(SamplingShape* shape, int32_t xQuarter, int32_t yQuarter);

// The sub-shape for a centre's quarters, generated if need be; null after
// reporting when the shape cannot give one.
SubShape* PrepareSubShape(SamplingShape* shape, int32_t xQuarter, int32_t yQuarter, const char* caller);

struct ShapeAnalysis {
  uint32_t mean;    // weighted mean brightness, 24-bit units
  float deviation;  // weighted standard deviation of the brightness
};

// Mean and spread of the brightness of `image` under the shape placed at
// `centre`. Samples outside the image are skipped; with none left the result
// is (0, 0) and still a success. The precision is the caller's: the
// analysis measures exactly, a fast preview may not.
bool AnalyzeShapeFrom(SamplingShape* shape, const Image* image, const QuarterPoint& centre, ShapeAnalysis* result,
                      FractionPrecision precision = FRACTION_EXACT);

// The brightness of every pixel of an image, computed once: what the
// analysis measures its shapes on, many times over.
struct BrightnessMap {
  const uint32_t* values;  // row by row, `stride` values apart
  ImageRect rect;          // the pixels it covers
  int32_t stride;
};
inline uint32_t BrightnessOf(const BrightnessMap& map, int32_t x, int32_t y) {
  return map.values[static_cast<size_t>(y - map.rect.top) * static_cast<size_t>(map.stride) +
                    static_cast<size_t>(x - map.rect.left)];
}
// The same measurement on a brightness map; identical results.
bool AnalyzeShapeFrom(SamplingShape* shape, const BrightnessMap& map, const QuarterPoint& centre, ShapeAnalysis* result,
                      FractionPrecision precision = FRACTION_EXACT);

// Weighted mean colour of `image` under the shape; alpha and mask of the
// result are full. Zero colour when no sample lies inside the image.
bool SampleShapeFrom(SamplingShape* shape, const Image* image, const QuarterPoint& centre, PixelValue* colour);

// floor(numerator * 2^32 / denominator), limited to FRACTION_FULL: the
// weighted means of the measurements and the normalised colours. 0 for a
// zero denominator. Exact for every 64-bit input.
uint32_t ScaledQuotient(uint64_t numerator, uint64_t denominator);
