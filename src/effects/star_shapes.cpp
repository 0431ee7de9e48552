#include "effects/star_shapes.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "analysis/light_source_table.h"
#include "effects/effect_tables.h"
#include "params/parameter_table.h"
#include "runtime/report.h"

namespace {

constexpr uint32_t FULL = FRACTION_FULL;
constexpr size_t SPIKE_PROFILE_CAPACITY = 131072;
constexpr double FLARE_CENTRE_VALUE = 67108860.0;  // about 1/64 of full
constexpr uint32_t FLARE_FLOOR = 1024;
// Sample offsets are 16-bit: no shape reaches further than this (pixels).
constexpr int32_t MAX_OFFSET = 32000;

uint32_t FractionOfReal(double v) {
  if (!(v > 0.0)) return 0;
  if (v >= 1.0) return FULL;
  return static_cast<uint32_t>(v * FRACTION_SCALE);
}

const StarEffectSettings* SettingsOf(const SamplingShape* shape, const char* generator) {
  if (shape == nullptr || shape->parameter == nullptr) {
    REPORT_DEBUG("%s() - The shape has no effect settings.", generator);
    return nullptr;
  }
  return static_cast<const StarEffectSettings*>(shape->parameter);
}

SubShape* StartSubShape(SamplingShape* shape, int32_t xQuarter, int32_t yQuarter, const char* generator) {
  if (xQuarter < 0 || xQuarter > 3 || yQuarter < 0 || yQuarter > 3) {
    REPORT_DEBUG("%s() - Invalid quarter position (%d, %d).", generator, xQuarter, yQuarter);
    return nullptr;
  }
  SubShape* sub = &shape->subShapes[SubShapeIndex(xQuarter, yQuarter)];
  sub->sampleCount = 0;
  sub->left = sub->top = sub->right = sub->bottom = 0;
  return sub;
}

// Appends and grows the bounds; the bounds of an empty sub-shape are empty.
bool Append(SubShape* sub, int32_t capacityEstimate, int32_t dx, int32_t dy, uint32_t red, uint32_t green,
            uint32_t blue, uint32_t weight) {
  const ShapeSample sample{static_cast<int16_t>(dx), static_cast<int16_t>(dy), red, green, blue, weight};
  const bool first = sub->sampleCount == 0;
  // Grow at least by what there is already: large shapes would otherwise be
  // copied over and over while they grow.
  if (!AppendShapeSample(std::max(capacityEstimate, std::min(sub->sampleCount, 1 << 24)), sub, sample)) return false;
  if (first) {
    sub->left = dx;
    sub->right = dx + 1;
    sub->top = dy;
    sub->bottom = dy + 1;
  } else {
    sub->left = std::min(sub->left, dx);
    sub->right = std::max(sub->right, dx + 1);
    sub->top = std::min(sub->top, dy);
    sub->bottom = std::max(sub->bottom, dy + 1);
  }
  return true;
}

// Intensity along a spike: flat at the peak near the centre, then falling
// with a power of the distance relative to the image.
uint32_t SpikeIntensityAt(double tenths, const StarEffectSettings& s) {
  const double p = 8.0 * std::pow(1.0 + 15.0 * tenths / s.diagonal, -s.spikeFalloff);
  if (p >= 1.0) return s.spikePeak;
  return static_cast<uint32_t>(s.spikePeak * p);
}

// Each cache bucket holds four distances; its value is taken at the
// bucket's middle so that it never depends on which sample came first.
uint32_t SpikeIntensity(uint32_t tenths, const StarEffectSettings& s) {
  const size_t bucket = tenths / 4;
  if (bucket < s.spikeProfile.size()) return s.spikeProfile[bucket];
  return SpikeIntensityAt(bucket * 4.0 + 1.5, s);
}

// The profile is made for the settings' peak; a spike of another peak (the
// preview's full one) scales it.
uint32_t SpikeIntensity(uint32_t tenths, const StarEffectSettings& s, uint32_t peak) {
  const uint32_t intensity = SpikeIntensity(tenths, s);
  if (peak == s.spikePeak) return intensity;
  return static_cast<uint32_t>(static_cast<uint64_t>(intensity) * peak / std::max(s.spikePeak, 1u));
}

uint32_t FlareWeightAt(size_t halfTenths, const StarEffectSettings& s) {
  const double d = halfTenths / 20.0;  // pixels
  const double exponent = 25.0 - s.length / 5.0;
  const double value = std::nearbyint(FLARE_CENTRE_VALUE / std::pow(1.0 + 10.0 * d / s.diagonal, exponent));
  return value > FLARE_FLOOR ? static_cast<uint32_t>(value) - FLARE_FLOOR : 0;
}

}  // namespace

uint32_t FlareWeight(uint32_t tenths, const StarEffectSettings& s) {
  const size_t index = tenths / 2;
  return index < s.flareProfile.size() ? s.flareProfile[index] : 0;
}

int32_t FlareReach(const StarEffectSettings& s) {
  return std::min({s.diagonal, MAX_OFFSET, static_cast<int32_t>(s.flareProfile.size() / 20 + 2)});
}

namespace {

// The rainbow along a spike: channel factors that cycle with the distance.
void RainbowFactors(uint32_t tenths, const StarEffectSettings& s, uint32_t* red, uint32_t* green, uint32_t* blue) {
  const int64_t period = static_cast<int64_t>(107 - s.rainbowFrequency) * (107 - s.rainbowFrequency);
  const int64_t h = static_cast<int64_t>(tenths) * 3000000 / s.diagonal / period;
  const double strength = (s.saturation + 100) / 200.0;
  const double amplitude = h < 2000 ? strength * static_cast<double>(h) / 2000.0 : strength;
  const uint32_t a = FractionOfReal(amplitude);
  *red = FULL - FractionProduct(a, HalfCosineOf(h + 1200));
  if (s.gray) {
    *green = *blue = *red;
    return;
  }
  *green = FULL - FractionProduct(a, HalfCosineOf(h + 2400));
  *blue = FULL - FractionProduct(a, HalfCosineOf(h));
}

// A stored field as the renderer may draw it.
int32_t RenderValue(ParameterIndex index, int32_t stored) {
  return LimitForRendering(*ParameterByIndex(index), stored);
}

}  // namespace

double SpikeWidth(int32_t sharpness, int32_t diagonal) {
  return (std::pow(sharpness * 0.01, 3.5) + 0.003) * 0.5 * 10000.0 / std::max(diagonal, 1);
}

void PrepareStarEffectSettings(const RenderingParameters& p, int32_t diagonal, int32_t bytesPerChannel, bool gray,
                               StarEffectSettings* s) {
  // Quantity is the low half of the set's 32 bits at its offset.
  s->quantity = RenderValue(PARAM_QUANTITY, static_cast<int16_t>(p.quantity & 0xFFFF));
  s->intensity = RenderValue(PARAM_INTENSITY, p.intensity);
  s->length = RenderValue(PARAM_LENGTH, p.length);
  s->angle = RenderValue(PARAM_ANGLE, p.angle);
  s->points = RenderValue(PARAM_NUMBER_OF_POINTS, p.numberOfPoints);
  s->sharpness = RenderValue(PARAM_SPIKE_SHARPNESS, p.spikeSharpness);
  s->saturation = RenderValue(PARAM_COLOR_SATURATION, p.colorSaturation);
  s->rainbowFrequency = RenderValue(PARAM_RAINBOW_FREQUENCY, p.rainbowFrequency);
  s->secondarySpikes = RenderValue(PARAM_SECONDARY_SPIKE_INTENSITY, p.secondarySpikeIntensity);
  s->softFlare = RenderValue(PARAM_SOFT_FLARE_INTENSITY, p.softFlareIntensity);
  s->diagonal = std::max(diagonal, 1);
  s->minimumVisible = MinimumVisibleValue(bytesPerChannel);
  s->gray = gray;

  const double i = s->intensity / 100.0;
  s->spikePeak = static_cast<uint32_t>(std::pow(i, 2.8) * FRACTION_SCALE);
  s->spikeWidth = SpikeWidth(s->sharpness, s->diagonal);
  s->spikeFalloff = std::pow(i, 0.28) * 200.0 / (s->length + 28);

  // Distances reach at most sqrt(2) x 4D quarter pixels.
  const size_t spikeBuckets = std::min(SPIKE_PROFILE_CAPACITY, static_cast<size_t>(s->diagonal) * 15 + 16);
  s->spikeProfile.resize(spikeBuckets);
  for (size_t b = 0; b < spikeBuckets; ++b) s->spikeProfile[b] = SpikeIntensityAt(b * 4.0 + 1.5, *s);
  // The flare's weights by distance, down to the first one too faint to
  // keep (weights only fall with the distance); beyond the table there is
  // no flare. Distances reach at most sqrt(2) x 4D quarter pixels.
  s->flareProfile.clear();
  if (s->length >= 1) {
    const size_t last = static_cast<size_t>(s->diagonal) * 29 + 16;
    for (size_t k = 0; k <= last; ++k) {
      const uint32_t w = FlareWeightAt(k, *s);
      if (w < s->minimumVisible) break;
      s->flareProfile.push_back(w);
    }
  }
  s->flareBounds.resize(s->flareProfile.size() + 1);
  for (size_t k = 0; k < s->flareBounds.size(); ++k)
    s->flareBounds[k] = SmallestSquareWithTenths(static_cast<uint32_t>(2 * k));
}

void SetUpStarEffectShapes(SamplingShape* spikeShape, SamplingShape* flareShape, const StarEffectSettings* settings) {
  BuildEffectTables();
  std::memset(spikeShape, 0, sizeof *spikeShape);
  std::memset(flareShape, 0, sizeof *flareShape);
  spikeShape->type = flareShape->type = SHAPE_IMAGE;
  spikeShape->generator = GenerateSpikeSubShape;
  flareShape->generator = GenerateFlareSubShape;
  spikeShape->parameter = flareShape->parameter = settings;
}

bool RasterizeSpike(int32_t angleTenths, SubShape* sub, int32_t qx, int32_t qy, const StarEffectSettings& s,
                    uint32_t peak, double width) {
  const uint32_t m = s.minimumVisible;
  if (s.length < 1 || peak < m) return true;
  const double c = CosineOf(angleTenths);
  const double sn = -CosineOf(static_cast<int64_t>(angleTenths) + 900);
  const bool xMajor = std::fabs(c) >= std::fabs(sn);
  const double g = xMajor ? c : sn;      // cosine along the major axis
  const double other = xMajor ? sn : c;  // along the minor axis
  const double slope = other / g;
  const int32_t majorOrigin = xMajor ? qx : qy;
  const int32_t minorOrigin = xMajor ? qy : qx;
  const int32_t step = g > 0 ? 4 : -4;
  const double halfBand = 1.0 / std::fabs(g);
  const double k = std::min(0.5, std::fabs(g) * width);
  const int64_t limit = std::min<int64_t>(4LL * s.diagonal, 4LL * MAX_OFFSET);
  const int32_t estimate = static_cast<int32_t>(std::min<int64_t>(std::max<int64_t>(4096, s.diagonal * 8LL), 1 << 22));

  for (int64_t major = step > 0 ? 0 : -4; std::llabs(major) <= limit; major += step) {
    const double line = minorOrigin + static_cast<double>(major - majorOrigin) * slope;
    const double lo = line - halfBand;
    const double hi = line + halfBand;
    int64_t m0 = static_cast<int64_t>(line);
    m0 -= m0 % 4;
    uint32_t largest = 0;
    for (int direction = -1; direction <= 1; direction += 2) {
      for (int64_t p = direction < 0 ? m0 : m0 + 4;; p += 4 * direction) {
        if (std::llabs(p) > limit) break;
        double coverage = std::min(0.5 + k * (p - lo) / 4.0, 0.5 + k * (hi - p) / 4.0);
        if (coverage <= 0.0) break;
        if (coverage >= 1.0) {
          coverage = 1.0;
        } else {
          coverage = std::pow(coverage, 1.6);
        }
        const uint32_t tenths = DistanceTenths(major - majorOrigin, p - minorOrigin);
        const uint32_t intensity = SpikeIntensity(tenths, s, peak);
        const uint32_t weight = FractionProduct(intensity, FractionOfReal(coverage));
        largest = std::max(largest, weight);
        if (weight < m) continue;
        uint32_t red = FULL, green = FULL, blue = FULL;
        RainbowFactors(tenths, s, &red, &green, &blue);
        const int32_t a = static_cast<int32_t>(major / 4);
        const int32_t b = static_cast<int32_t>(p / 4);
        if (!Append(sub, estimate, xMajor ? a : b, xMajor ? b : a, red, green, blue, weight)) return false;
      }
    }
    if (largest < m) break;
  }
  return true;
}

bool GenerateSpikeSubShape(SamplingShape* shape, int32_t xQuarter, int32_t yQuarter) {
  const StarEffectSettings* s = SettingsOf(shape, "GenerateSpikeSubShape");
  if (s == nullptr) return false;
  SubShape* sub = StartSubShape(shape, xQuarter, yQuarter, "GenerateSpikeSubShape");
  if (sub == nullptr) return false;
  if (s->length >= 1) {
    for (int32_t i = 0; i < s->points; ++i) {
      const int32_t angle = 10 * s->angle + (i * ANGLE_STEPS) / s->points;
      if (!RasterizeSpike(angle, sub, xQuarter, yQuarter, *s, s->spikePeak, s->spikeWidth)) break;
    }
  }
  sub->generated = 1;
  return true;
}

bool GenerateFlareSubShape(SamplingShape* shape, int32_t xQuarter, int32_t yQuarter) {
  const StarEffectSettings* s = SettingsOf(shape, "GenerateFlareSubShape");
  if (s == nullptr) return false;
  SubShape* sub = StartSubShape(shape, xQuarter, yQuarter, "GenerateFlareSubShape");
  if (sub == nullptr) return false;
  sub->generated = 1;
  if (s->length < 1 || s->flareProfile.empty()) return true;
  const uint32_t m = s->minimumVisible;
  const int32_t estimate = static_cast<int32_t>(std::min<int64_t>(std::max<int64_t>(4096, s->diagonal * 16LL), 1 << 22));
  // Each pixel's weight is taken at its own distance from the light's
  // quarter-pixel centre, so the glow sits exactly where the spikes cross.
  auto weightAt = [&](int32_t dx, int32_t dy) {
    return FlareWeight(DistanceTenths(4LL * dx - xQuarter, 4LL * dy - yQuarter), *s);
  };
  // The largest weight any pixel of ring x, row y (or beyond) can have:
  // none of the mirror positions is nearer than this to a quarter centre.
  auto bound = [&](int32_t x, int32_t y) {
    return FlareWeight(DistanceTenths(4LL * x - 3, std::max<int64_t>(4LL * y - 3, 0)), *s);
  };
  auto put = [&](int32_t dx, int32_t dy) {
    const uint32_t w = weightAt(dx, dy);
    return w < m || Append(sub, estimate, dx, dy, FULL, FULL, FULL, w);
  };
  // The centre, then rings of growing size, each visited through its eight
  // mirror positions (those that coincide only once). The result is every
  // pixel whose weight can be seen.
  if (!put(0, 0)) return true;
  const int32_t limit = FlareReach(*s);
  for (int32_t x = 1; x <= limit && bound(x, 0) >= m; ++x) {
    for (int32_t y = 0; y <= x && bound(x, y) >= m; ++y) {
      int32_t points[8][2] = {{x, y}, {-x, y}, {x, -y}, {-x, -y}, {y, x}, {-y, x}, {y, -x}, {-y, -x}};
      int count = 8;
      if (y == 0) {
        points[1][0] = -x; points[1][1] = 0;
        points[2][0] = 0; points[2][1] = x;
        points[3][0] = 0; points[3][1] = -x;
        count = 4;
      } else if (y == x) {
        count = 4;
      }
      for (int n = 0; n < count; ++n) {
        if (!put(points[n][0], points[n][1])) return true;
      }
    }
  }
  return true;
}

void SaturateColour(uint32_t colour[3], int32_t saturation, bool gray) {
  if (gray || saturation == 0) return;
  const int64_t k = saturation > 0 ? 15LL * saturation : saturation;
  const int64_t v[3] = {colour[0], colour[1], colour[2]};
  for (int c = 0; c < 3; ++c) {
    const int64_t others = (v[(c + 1) % 3] + v[(c + 2) % 3]) / 2;
    int64_t pushed = v[c] + (v[c] - others) * k / 150;
    pushed = std::clamp<int64_t>(pushed, 0, FULL);
    colour[c] = static_cast<uint32_t>(pushed);
  }
}

uint32_t QuantityThreshold(int32_t quantity) {
  if (quantity >= 100) return 0;
  const double share = (100.0 - std::max(quantity, 0)) / 100.0;
  return static_cast<uint32_t>(share * share * FRACTION_SCALE);
}

bool LightSourceTakesPart(const LightSourceRecord& entry, uint32_t threshold) {
  return entry.state == LIGHT_SOURCE_FORCED || (entry.state == LIGHT_SOURCE_SHOWN && entry.brightness > threshold);
}

bool SelectLightSource(const LightSourceRecord& entry, uint32_t threshold, const StarEffectSettings& s,
                       StarStamp* stamp) {
  *stamp = StarStamp{};
  if (!LightSourceTakesPart(entry, threshold)) return false;
  const uint32_t m = s.minimumVisible;
  stamp->spikes = DrawsSpikes(s) && entry.effectWeight > m;
  stamp->spikeAlpha = entry.effectWeight;
  if (DrawsFlare(s)) {
    const double share = s.softFlare / 100.0;
    stamp->flareAlpha = FractionProduct(entry.effectWeight, static_cast<uint32_t>(share * share * FRACTION_SCALE));
    stamp->flare = stamp->flareAlpha > m;
  }
  uint32_t colour[3] = {entry.red, entry.green, entry.blue};
  SaturateColour(colour, s.saturation, s.gray);
  stamp->red = colour[0];
  stamp->green = colour[1];
  stamp->blue = colour[2];
  return stamp->spikes || stamp->flare;
}
