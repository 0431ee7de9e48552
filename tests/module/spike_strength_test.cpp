// How bright a star's spike is, checked against the drawing formulas worked
// out here from scratch: one white disc on black, so that the table holds a
// single full-strength light at a known pixel, and the brightest channel
// along one spike is what one spike sample and the soft flare screen onto
// black, encoded to sRGB. A stamp drawn dimmer or brighter than the formulas
// (a lost factor of 256, a wrong falloff) moves these values by far more than
// the tolerance.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "hostkit/host.h"
#include "module_support.h"

namespace {

using hostkit::Host;
using hostkit::HostImage;

constexpr int32_t kWidth = 800;
constexpr int32_t kHeight = 600;
constexpr int32_t kCx = 400;
constexpr int32_t kCy = 300;
constexpr double kPi = 3.14159265358979323846;

double SrgbCode(double linear) {
  linear = std::clamp(linear, 0.0, 1.0);
  const double v = linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
  return 255.0 * v;
}

// The parts of the star that reach a pixel (i, j) pixels from the light,
// on black, for a white light of full weight: the spike at angle 15 degrees
// (an x-major spike whose pixels lie on the light's row and column grid) and
// the soft flare. Linear light, 0..1.
struct StarModel {
  double intensity, length, sharpness, saturation, flare;
  double diagonal = std::floor(std::sqrt(double{kWidth} * kWidth + double{kHeight} * kHeight) + 1);
  int32_t rainbowFrequency = 50;

  // One spike sample's weight times its brightest channel factor, or -1
  // where the rasteriser puts no sample.
  double SpikeSample(int32_t i, int32_t j) const {
    const double angle = 15.0 * kPi / 180.0;
    const double c = std::cos(angle), s = std::sin(angle);
    const double major = 4.0 * i, minor = 4.0 * j;  // quarter pixels
    const double line = major * s / c;
    const double lo = line - 1 / c, hi = line + 1 / c;
    const double width = (std::pow(sharpness / 100, 3.5) + 0.003) * 0.5 * 10000 / diagonal;
    const double k = std::min(0.5, c * width);
    double coverage = std::min({0.5 + k * (minor - lo) / 4, 0.5 + k * (hi - minor) / 4, 1.0});
    if (coverage <= 0) return -1;
    if (coverage < 1) coverage = std::pow(coverage, 1.6);
    const double t = std::round(std::sqrt(major * major + minor * minor) * 10);  // tenths of a quarter pixel
    const double e = std::pow(intensity / 100, 0.28) * 200 / (length + 28);
    const double p = 8 * std::pow(1 + 15 * t / diagonal, -e);
    const double peak = std::pow(intensity / 100, 2.8);
    const double weight = peak * std::min(p, 1.0) * coverage;
    // The rainbow tint takes a little from each channel; the brightest one
    // is what the screen's strength follows.
    const double h =
        std::floor(std::floor(t * 3000000 / diagonal) / ((107 - rainbowFrequency) * (107 - rainbowFrequency)));
    const double a = (saturation + 100) / 200 * (h < 2000 ? h / 2000 : 1);
    auto half = [](double tenths) { return (1 + std::cos(std::fmod(tenths, 3600) * kPi / 1800)) / 2; };
    const double factor = std::max({1 - a * half(h + 1200), 1 - a * half(h + 2400), 1 - a * half(h)});
    return weight * factor;
  }

  double FlareAlpha(int32_t i, int32_t j) const {
    const double tenths = std::round(std::sqrt(16.0 * i * i + 16.0 * j * j) * 10);
    const double d = std::floor(tenths / 2) / 20;  // pixels, in steps of 1/20
    const double value = std::round(67108860 / std::pow(1 + 10 * d / diagonal, 25 - length / 5));
    const double weight = std::max(0.0, value - 1024) / 4294967294.0;
    return weight * (flare / 100) * (flare / 100);
  }

  // Screen of a colour far above white: full strength once colour x alpha
  // reaches 1/256, in proportion below.
  static double Strength(double colourTimesAlpha) { return std::min(1.0, 256 * colourTimesAlpha); }

  double Linear(int32_t i, int32_t j) const {
    const double spike = SpikeSample(i, j);
    const double v = spike > 0 ? Strength(spike) : 0.0;
    const double f = Strength(FlareAlpha(i, j));
    return v + (1 - v) * f;
  }
};

HostImage WhiteDiscOnBlack() {
  HostImage image;
  EXPECT_TRUE(image.Allocate(kWidth, kHeight, 3, 1));
  for (int32_t y = kCy - 5; y <= kCy + 5; ++y)
    for (int32_t x = kCx - 5; x <= kCx + 5; ++x)
      if (std::hypot(x - kCx, y - kCy) <= 4.0)
        for (int32_t c = 0; c < 3; ++c) image.Set(x, y, c, 1.0);
  return image;
}

struct SpikeCase {
  const char* name;
  double intensity, length;
};

TEST(SpikeStrength, TheBrightestChannelAlongASpikeFollowsTheDrawingFormulas) {
  const SpikeCase cases[] = {{"factory settings", 50, 50}, {"intensity and length 100", 100, 100}};
  for (const SpikeCase& sc : cases) {
    SCOPED_TRACE(sc.name);
    moduletest::Settings settings;  // factory values
    settings.intensity = sc.intensity;
    settings.length = sc.length;
    const StarModel model{sc.intensity, sc.length, settings.sharpness, settings.saturation, settings.softFlare};
    Host host(moduletest::ModuleEntry());
    host.SetImage(WhiteDiscOnBlack());
    moduletest::ReplaySettings(&host, settings);
    ASSERT_EQ(host.RunFilter(false), 0);
    const HostImage& out = host.image();
    for (int32_t distance : {5, 10, 20, 40}) {
      // The spike's column at that distance; the brightest pixel of the few
      // around its line, in the photo and in the formulas.
      const int32_t i = static_cast<int32_t>(std::lround(distance * std::cos(15.0 * kPi / 180.0)));
      const int32_t line = static_cast<int32_t>(std::lround(i * std::tan(15.0 * kPi / 180.0)));
      double expected = 0, seen = 0;
      for (int32_t j = line - 2; j <= line + 2; ++j) {
        expected = std::max(expected, SrgbCode(model.Linear(i, j)));
        for (int32_t c = 0; c < 3; ++c) seen = std::max(seen, 255.0 * out.Get(kCx + i, kCy + j, c));
      }
      EXPECT_NEAR(seen, expected, 4.0) << distance << " px along the spike";
    }
  }
}

}  // namespace
