#include "analysis/sampling_shapes.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "runtime/report.h"

namespace {

constexpr double PI = 3.14159265358979323846;
// A pixel counts as a disc of its own area: radius 1 / sqrt(pi).
constexpr double PIXEL_RADIUS = 0.564;
constexpr double RING_HALF_WIDTH = 0.125;
constexpr uint32_t EMPTY_RING_WEIGHT = 0x40000000;
// Keeps a runaway estimate (an effect shape's huge radius) from asking for
// more than the allocator could ever give in one step.
constexpr double MAX_CAPACITY_ESTIMATE = 1 << 24;

uint32_t WeightFromReal(double v) { return FractionFromReal(v); }

int32_t CapacityEstimate(double samples) {
  if (!(samples >= 1.0)) return 1;
  if (samples > MAX_CAPACITY_ESTIMATE) return static_cast<int32_t>(MAX_CAPACITY_ESTIMATE);
  return static_cast<int32_t>(samples);
}

const float* RadiusOf(const SamplingShape* shape, const char* generatorName) {
  if (shape->parameter == nullptr) {
    REPORT_DEBUG("%s() - The shape has no radius parameter.", generatorName);
    return nullptr;
  }
  return static_cast<const float*>(shape->parameter);
}

// Bounds of a disk or ring around (cx, cy); truncation toward zero, as the
// widened margins (0.564 and 1.564) leave room for it. False when the radius
// is not a number or the offsets would not fit the samples' 16 bits.
bool ShapeBounds(double r, double cx, double cy, SubShape* sub, const char* generatorName) {
  const double limit = std::numeric_limits<int16_t>::max() - 2;
  if (!std::isfinite(r) || std::fabs(r) > limit) {
    REPORT_DEBUG("%s() - Radius %g is out of range.", generatorName, r);
    return false;
  }
  sub->left = static_cast<int32_t>(cx - r - PIXEL_RADIUS);
  sub->top = static_cast<int32_t>(cy - r - PIXEL_RADIUS);
  sub->right = static_cast<int32_t>(cx + r + 1.0 + PIXEL_RADIUS);
  sub->bottom = static_cast<int32_t>(cy + r + 1.0 + PIXEL_RADIUS);
  return true;
}

// Common start of both generators: the sub-shape of the quarters, emptied.
SubShape* StartGeneration(SamplingShape* shape, int32_t xQuarter, int32_t yQuarter, const char* generatorName) {
  if (shape == nullptr || xQuarter < 0 || xQuarter > 3 || yQuarter < 0 || yQuarter > 3) {
    REPORT_DEBUG("%s() - Invalid shape or quarter position (%d, %d).", generatorName, xQuarter, yQuarter);
    return nullptr;
  }
  shape->type = SHAPE_IMAGE;
  SubShape* sub = &shape->subShapes[SubShapeIndex(xQuarter, yQuarter)];
  sub->sampleCount = 0;
  return sub;
}

// What both round generators start from: the emptied sub-shape, the radius,
// the centre within its pixel and the bounds (`ok` false when the radius is
// missing or unusable, after a report).
struct RoundShape {
  SubShape* sub;
  double r;
  double cx;
  double cy;
  bool ok;
};

bool StartRoundShape(SamplingShape* shape, int32_t xQuarter, int32_t yQuarter, const char* generatorName,
                     RoundShape* round) {
  round->sub = StartGeneration(shape, xQuarter, yQuarter, generatorName);
  if (round->sub == nullptr) return false;
  const float* radius = RadiusOf(shape, generatorName);
  round->r = radius != nullptr ? *radius : 0.0;
  round->cx = xQuarter / 4.0;
  round->cy = yQuarter / 4.0;
  round->ok = radius != nullptr && ShapeBounds(round->r, round->cx, round->cy, round->sub, generatorName);
  return true;
}

ShapeSample MakeSample(int32_t dx, int32_t dy, uint32_t weight) {
  return ShapeSample{
      static_cast<int16_t>(dx), static_cast<int16_t>(dy), FRACTION_FULL, FRACTION_FULL, FRACTION_FULL, weight};
}

inline bool InsideBuffer(const Image* image, int32_t x, int32_t y) {
  const ImageRect& r = image->bufferRect;
  return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

const char* const SHAPE_TYPE_CAPTION = "Debug: Unexpected Error";

}  // namespace

uint32_t ScaledQuotient(uint64_t numerator, uint64_t denominator) {
  if (denominator == 0) return 0;
  uint64_t quotient = numerator / denominator;
  if (quotient >= (uint64_t{1} << 32)) return FRACTION_FULL;
  uint64_t remainder = numerator % denominator;
  // Long division for the 32 fractional bits; a carry out of the remainder
  // means it exceeded the denominator.
  for (int bit = 0; bit < 32; ++bit) {
    const bool carry = (remainder >> 63) != 0;
    remainder <<= 1;
    quotient <<= 1;
    if (carry || remainder >= denominator) {
      remainder -= denominator;
      quotient |= 1;
    }
  }
  return quotient >= FRACTION_FULL ? FRACTION_FULL : static_cast<uint32_t>(quotient);
}

void InitializeSamplingShape(SamplingShape* shape, ShapeGenerator generator, const float* radius) {
  if (shape == nullptr) return;
  std::memset(shape, 0, sizeof *shape);
  shape->type = SHAPE_IMAGE;
  shape->generator = generator;
  shape->parameter = radius;
}

void FreeSamplingShape(SamplingShape* shape) {
  if (shape == nullptr) return;
  if (shape->releaseDrawing != nullptr) shape->releaseDrawing(shape);
  for (SubShape& sub : shape->subShapes) DeallocateBuffer(&sub.samples);
  std::memset(shape, 0, sizeof *shape);
}

bool AppendShapeSample(int32_t capacityEstimate, SubShape* subShape, const ShapeSample& sample) {
  if (subShape == nullptr) {
    REPORT_DEBUG("NULL SubShapeEntry pointer detected.");
    return false;
  }
  const size_t capacity = subShape->samples.size / sizeof(ShapeSample);
  if (static_cast<size_t>(subShape->sampleCount) >= capacity) {
    const size_t grown = capacity + static_cast<size_t>(capacityEstimate < 1 ? 1 : capacityEstimate);
    if (subShape->sampleCount == std::numeric_limits<int32_t>::max() ||
        ReallocateBufferPreserveContents(grown * sizeof(ShapeSample), &subShape->samples) != 0) {
      REPORT_USER(STYLE_WARNING, "Warning", "Low memory.  Check image - some effects may not be rendered.");
      return false;
    }
  }
  static_cast<ShapeSample*>(subShape->samples.buffer)[subShape->sampleCount] = sample;
  ++subShape->sampleCount;
  return true;
}

bool GenerateDiskSubShape(SamplingShape* shape, int32_t xQuarter, int32_t yQuarter) {
  RoundShape round;
  if (!StartRoundShape(shape, xQuarter, yQuarter, "GenerateDiskSubShape", &round)) return false;
  SubShape* sub = round.sub;
  const double r = round.r, cx = round.cx, cy = round.cy;
  bool ok = round.ok;
  if (ok) {
    const int32_t estimate = CapacityEstimate((r + 1.0) * (r + 1.0) * PI + 4.0);
    for (int32_t j = sub->top; ok && j < sub->bottom; ++j) {
      for (int32_t i = sub->left; i < sub->right; ++i) {
        const double dist = std::sqrt((i - cx) * (i - cx) + (j - cy) * (j - cy));
        if (!(dist < r + 0.5)) continue;
        const uint32_t weight = dist <= r - 0.5 ? FRACTION_FULL : WeightFromReal(r + 0.5 - dist);
        if (!AppendShapeSample(estimate, sub, MakeSample(i, j, weight))) {
          ok = false;
          break;
        }
      }
    }
  }
  sub->generated = 1;
  return ok;
}

bool GenerateRingSubShape(SamplingShape* shape, int32_t xQuarter, int32_t yQuarter) {
  RoundShape round;
  if (!StartRoundShape(shape, xQuarter, yQuarter, "GenerateRingSubShape", &round)) return false;
  SubShape* sub = round.sub;
  const double r = round.r, cx = round.cx, cy = round.cy;
  bool ok = round.ok;
  if (ok) {
    const int32_t estimate = CapacityEstimate(r * 2.0 * PI * 3.0 + 4.0);
    const double hi = r + RING_HALF_WIDTH;
    double lo = r - RING_HALF_WIDTH;
    for (int32_t j = sub->top; ok && j < sub->bottom; ++j) {
      for (int32_t i = sub->left; i < sub->right; ++i) {
        const double dist = std::sqrt((i - cx) * (i - cx) + (j - cy) * (j - cy));
        const double u = dist + PIXEL_RADIUS;  // the pixel's span along the radius
        const double v = dist - PIXEL_RADIUS;
        uint32_t weight = 0;
        if (r <= 1.0 && lo < -v) {
          // A ring this small lies inside the centre pixels: they share
          // what the ring covers. The band never starts below 0 from here on.
          if (lo < 0.0) lo = 0.0;
          weight = WeightFromReal((0.5 - PI * lo * lo) * std::sqrt(2.0));
        } else if (v < hi && lo < u) {
          if (hi > u && lo < v)
            weight = FRACTION_FULL;
          else if (hi > u)
            weight = WeightFromReal((u - lo) * 2.0);
          else if (lo < v)
            weight = WeightFromReal((hi - v) * 2.0);
          else
            weight = FRACTION_FULL;
        } else {
          continue;
        }
        if (!AppendShapeSample(estimate, sub, MakeSample(i, j, weight))) {
          ok = false;
          break;
        }
      }
    }
    // A band that misses every pixel still measures something: the centre,
    // at a quarter weight.
    if (ok && sub->sampleCount == 0) ok = AppendShapeSample(1, sub, MakeSample(0, 0, EMPTY_RING_WEIGHT));
  }
  sub->generated = 1;
  return ok;
}

SubShape* PrepareSubShape(SamplingShape* shape, int32_t xQuarter, int32_t yQuarter, const char* caller) {
  if (shape == nullptr) {
    REPORT_DEBUG("NULL SubShapeEntry pointer detected.");
    return nullptr;
  }
  if (shape->type != SHAPE_IMAGE) {
    DebugMessage message = MakeDebugMessage(__LINE__, DEBUG_MESSAGE);
    ReportMessage(&message, STYLE_ERROR, SHAPE_TYPE_CAPTION, "%s detected shape type other than SHAPE_IMAGE:  %d",
                  caller, shape->type);
    return nullptr;
  }
  if (xQuarter < 0 || xQuarter > 3 || yQuarter < 0 || yQuarter > 3) {
    REPORT_DEBUG("%s received an invalid quarter position (%d, %d).", caller, xQuarter, yQuarter);
    return nullptr;
  }
  SubShape* sub = &shape->subShapes[SubShapeIndex(xQuarter, yQuarter)];
  if (!sub->generated) {
    if (shape->generator == nullptr) {
      REPORT_DEBUG("%s found a shape without a generator.", caller);
      return nullptr;
    }
    if (!shape->generator(shape, xQuarter, yQuarter)) return nullptr;
  }
  if (sub->samples.buffer == nullptr) {
    REPORT_DEBUG("NULL SubShapeEntry pointer detected.");
    return nullptr;
  }
  return sub;
}

namespace {

// Sum of weight x d^2 over the samples, kept exactly: each term needs up to
// 80 bits, and rounding them one by one would make the deviation depend on
// the order and the floating-point unit.
struct WideSum {
  uint64_t low = 0;
  uint64_t high = 0;
  void Add(uint32_t weight, uint64_t square) {
    const uint64_t lowPart = static_cast<uint64_t>(weight) * (square & 0xFFFFFFFFu);
    const uint64_t highPart = static_cast<uint64_t>(weight) * (square >> 32);
    AddShifted(lowPart, 0);
    AddShifted(highPart << 32, highPart >> 32);
  }
  void AddShifted(uint64_t addLow, uint64_t addHigh) {
    const uint64_t before = low;
    low += addLow;
    high += addHigh + (low < before ? 1 : 0);
  }
  long double Value() const { return static_cast<long double>(high) * 18446744073709551616.0L + low; }
};

// Both measurements share this: `brightnessAt` gives the brightness of a
// pixel known to lie inside `rect`; `exact` is the precision switch, read
// once per measurement.
template <bool Exact, bool AllInside, typename BrightnessAt>
void AnalyzeSamples(const SubShape* sub, const ImageRect& rect, const QuarterPoint& centre, ShapeAnalysis* result,
                    BrightnessAt brightnessAt) {
  const ShapeSample* samples = static_cast<const ShapeSample*>(sub->samples.buffer);
  auto inside = [&](int32_t x, int32_t y) {
    return AllInside || (x >= rect.left && x < rect.right && y >= rect.top && y < rect.bottom);
  };
  // The brightness under each sample is read once and kept for the second
  // pass (0xFFFFFFFF marks a sample outside the image; no brightness is
  // that large).
  constexpr uint32_t OUTSIDE = 0xFFFFFFFF;
  constexpr int32_t KEPT = 4096;
  uint32_t kept[KEPT];
  uint64_t sum = 0;
  uint64_t weights = 0;
  for (int32_t s = 0; s < sub->sampleCount; ++s) {
    const int32_t x = centre.x + samples[s].dx;
    const int32_t y = centre.y + samples[s].dy;
    if (!inside(x, y)) {
      if (s < KEPT) kept[s] = OUTSIDE;
      continue;
    }
    const uint32_t brightness = brightnessAt(x, y);
    if (s < KEPT) kept[s] = brightness;
    sum += Exact ? FractionProductExact(samples[s].weight, brightness)
                 : FractionProductFast(samples[s].weight, brightness);
    weights += samples[s].weight;
  }
  const uint32_t mean = ScaledQuotient(sum, weights);
  WideSum spread;
  if (weights != 0) {
    for (int32_t s = 0; s < sub->sampleCount; ++s) {
      uint32_t brightness;
      if (s < KEPT) {
        brightness = kept[s];
        if (brightness == OUTSIDE) continue;
      } else {
        const int32_t x = centre.x + samples[s].dx;
        const int32_t y = centre.y + samples[s].dy;
        if (!inside(x, y)) continue;
        brightness = brightnessAt(x, y);
      }
      const int64_t d = static_cast<int32_t>(brightness - mean);
      spread.Add(samples[s].weight, static_cast<uint64_t>(d * d));
    }
  }
  result->mean = mean;
  result->deviation =
      weights == 0 ? 0.0f : static_cast<float>(std::sqrt(spread.Value() / static_cast<long double>(weights)));
}

template <typename BrightnessAt>
bool AnalyzeSubShape(SamplingShape* shape, const ImageRect& rect, const QuarterPoint& centre, ShapeAnalysis* result,
                     FractionPrecision precision, BrightnessAt brightnessAt) {
  SubShape* sub = PrepareSubShape(shape, centre.xQuarter, centre.yQuarter, "AnalyzeShapeFrom");
  if (sub == nullptr || result == nullptr) return false;
  // Shapes that lie wholly inside the image need no test per sample.
  const bool allInside = static_cast<int64_t>(centre.x) + sub->left >= rect.left &&
                         static_cast<int64_t>(centre.x) + sub->right <= rect.right &&
                         static_cast<int64_t>(centre.y) + sub->top >= rect.top &&
                         static_cast<int64_t>(centre.y) + sub->bottom <= rect.bottom;
  const bool exact = precision == FRACTION_EXACT;
  if (exact && allInside)
    AnalyzeSamples<true, true>(sub, rect, centre, result, brightnessAt);
  else if (exact)
    AnalyzeSamples<true, false>(sub, rect, centre, result, brightnessAt);
  else if (allInside)
    AnalyzeSamples<false, true>(sub, rect, centre, result, brightnessAt);
  else
    AnalyzeSamples<false, false>(sub, rect, centre, result, brightnessAt);
  return true;
}

}  // namespace

bool AnalyzeShapeFrom(SamplingShape* shape, const Image* image, const QuarterPoint& centre, ShapeAnalysis* result,
                      FractionPrecision precision) {
  if (image == nullptr) {
    REPORT_DEBUG("AnalyzeShapeFrom() received a NULL image.");
    return false;
  }
  return AnalyzeSubShape(shape, image->bufferRect, centre, result, precision, [image](int32_t x, int32_t y) {
    PixelValue p;
    image->readPixel(image, &p, x, y);
    return Brightness(p.red, p.green, p.blue);
  });
}

bool AnalyzeShapeFrom(SamplingShape* shape, const BrightnessMap& map, const QuarterPoint& centre, ShapeAnalysis* result,
                      FractionPrecision precision) {
  if (map.values == nullptr) {
    REPORT_DEBUG("AnalyzeShapeFrom() received an empty brightness map.");
    return false;
  }
  return AnalyzeSubShape(shape, map.rect, centre, result, precision,
                         [&map](int32_t x, int32_t y) { return BrightnessOf(map, x, y); });
}

bool SampleShapeFrom(SamplingShape* shape, const Image* image, const QuarterPoint& centre, PixelValue* colour) {
  SubShape* sub = PrepareSubShape(shape, centre.xQuarter, centre.yQuarter, "SampleShapeFrom");
  if (sub == nullptr || image == nullptr || colour == nullptr) return false;
  const ShapeSample* samples = static_cast<const ShapeSample*>(sub->samples.buffer);
  uint64_t red = 0, green = 0, blue = 0, weights = 0;
  PixelValue p;
  for (int32_t s = 0; s < sub->sampleCount; ++s) {
    const int32_t x = centre.x + samples[s].dx;
    const int32_t y = centre.y + samples[s].dy;
    if (!InsideBuffer(image, x, y)) continue;
    image->readPixel(image, &p, x, y);
    const uint32_t w = samples[s].weight;
    red += FractionProduct(w, p.red);
    green += FractionProduct(w, p.green);
    blue += FractionProduct(w, p.blue);
    weights += w;
  }
  colour->red = ScaledQuotient(red, weights);
  colour->green = ScaledQuotient(green, weights);
  colour->blue = ScaledQuotient(blue, weights);
  colour->alpha = FRACTION_FULL;
  colour->mask = FRACTION_FULL;
  return true;
}
