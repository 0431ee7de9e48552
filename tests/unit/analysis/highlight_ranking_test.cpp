// How small bright highlights rank against large ones. The weight of a
// highlight is f^4 x min(1, R / 96), f its core's linear brightness and R its
// radius; the table's brightness is the weight times the mean of its
// normalised colour. The expected ratios are worked out here from what was
// drawn, so a measurement that lets the dark rim into a small highlight's
// core, or misjudges its radius, shows up as a wrong ratio.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "analysis_test_support.h"

namespace {

using analysistest::DrawDisc;
using analysistest::DrawRadialProfile;
using analysistest::kDark;
using analysistest::MakeLinearImage;
using analysistest::Nearest;
using analysistest::OwnedImage;
using analysistest::Position;
using analysistest::Rgb;
using analysistest::RunAnalysis;
using analysistest::RunResult;

double Weight(double core, double radius) { return std::pow(core, 4) * std::min(1.0, radius / 96); }
double Mean(const Rgb& c) { return (c.red + c.green + c.blue) / 3; }
double Largest(const Rgb& c) { return std::max({c.red, c.green, c.blue}); }

// A hard-edged disc of radius 3 as a pencil draws it: the 37 pixels whose
// centre lies within 3.2 px.
double HardDisc3(double d) { return d <= 3.2 ? 1.0 : 0.0; }
// A flame: full within 3 px, falling linearly to nothing over one more.
double Flame(double d) { return std::clamp(4.0 - d, 0.0, 1.0); }
// Its radius as the radius refinement defines it: where the profile is 64 %
// of the way from the ground to the core, the middle of the 55..73 % band.
constexpr double kFlameRadius = 3.0 + (1.0 - 0.64);
// A large soft highlight: flat to 74 px, fading out by 86 px.
double SoftDisc80(double d) { return std::clamp((86.0 - d) / 12.0, 0.0, 1.0); }

struct RankingCase {
  const char* name;
  // The large highlight: a disc (hard or anti-aliased) of this radius.
  double largeRadius, largeLevel;
  bool largeAntiAliased;
  // The small one, with its profile, colour and the radius the refinement gives it.
  double (*smallProfile)(double);
  Rgb smallColour;
  double smallRadius;
};

TEST(HighlightRanking, SmallBrightHighlightsKeepTheWeightOfTheirCoreAndRadius) {
  const RankingCase cases[] = {
      {"radius-3 disc beside a plateau", 40, 0.7913, false, HardDisc3, Rgb{1, 1, 1}, 3.0},
      {"flame beside a glass highlight", 25, 0.8714, true, Flame, Rgb{1.0, 0.8, 0.5}, kFlameRadius},
  };
  for (const RankingCase& rc : cases) {
    SCOPED_TRACE(rc.name);
    OwnedImage image;
    MakeLinearImage(&image, 400, 300, kDark);
    const Rgb large{rc.largeLevel, rc.largeLevel, rc.largeLevel};
    if (rc.largeAntiAliased) {
      DrawDisc(&image.image, 110, 150, rc.largeRadius, large);
    } else {
      for (int32_t y = 100; y < 200; ++y)
        for (int32_t x = 60; x < 160; ++x)
          if (std::hypot(x - 110, y - 150) <= rc.largeRadius)
            analysistest::FillRect(&image.image, {x, y, x + 1, y + 1}, large);
    }
    DrawRadialProfile(&image.image, 300, 150, 6, rc.smallProfile, rc.smallColour);
    const RunResult run = RunAnalysis(image.image, 2);
    ASSERT_EQ(run.resultCode, 0);
    const LightSourceRecord* big = Nearest(run.table, 110, 150, 1.0);
    const LightSourceRecord* small = Nearest(run.table, 300, 150, 1.0);
    ASSERT_NE(big, nullptr);
    ASSERT_NE(small, nullptr);
    // Core brightness is the mean of the linear channels; the stored colour
    // is normalised to its largest channel before the weight scales it.
    const double smallCore = Mean(rc.smallColour);
    const double expected = Weight(smallCore, rc.smallRadius) * (Mean(rc.smallColour) / Largest(rc.smallColour)) /
                            Weight(rc.largeLevel, rc.largeRadius);
    const double seen = static_cast<double>(small->brightness) / big->brightness;
    EXPECT_NEAR(seen / expected, 1.0, 0.10) << "seen " << seen << ", expected " << expected;
  }
}

TEST(HighlightRanking, ALargeSoftHighlightIsOneEntryAtItsCentre) {
  for (const double cx : {200.0, 200.5}) {
    OwnedImage image;
    MakeLinearImage(&image, 420, 420, kDark);
    DrawRadialProfile(&image.image, cx, 210.25, 90, SoftDisc80, Rgb{0.95, 0.93, 0.9});
    const RunResult run = RunAnalysis(image.image, 2);
    ASSERT_EQ(run.resultCode, 0);
    ASSERT_EQ(run.table.size(), 1u) << cx;
    const LightSourceRecord& e = run.table[0];
    EXPECT_LE(std::hypot(Position(e.x, e.xQuarter) - cx, Position(e.y, e.yQuarter) - 210.25), 1.0) << cx;
  }
}

}  // namespace
