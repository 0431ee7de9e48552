// The star and flare shapes: where the spikes go, what stops them, how the
// flare spreads, and which light sources take part.
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "analysis/light_source_table.h"
#include "effects/effect_tables.h"
#include "effects/star_shapes.h"
#include "params/parameter_set.h"

namespace {

constexpr double PI = 3.14159265358979323846;

RenderingParameters ParametersWith(void (*edit)(ParameterSet*)) {
  ParameterSet set = FACTORY_PARAMETER_SET;
  if (edit != nullptr) edit(&set);
  RenderingParameters p;
  InitializeFinalRenderingParameters(&p, &set);
  return p;
}

class ShapeTest : public ::testing::Test {
 protected:
  void Build(const RenderingParameters& p, int32_t diagonal = 400, int32_t bytes = 1, bool gray = false) {
    PrepareStarEffectSettings(p, diagonal, bytes, gray, &settings_);
    SetUpStarEffectShapes(&spike_, &flare_, &settings_);
  }
  void TearDown() override {
    FreeSamplingShape(&spike_);
    FreeSamplingShape(&flare_);
  }
  SubShape& Spike(int32_t xq = 0, int32_t yq = 0) {
    EXPECT_TRUE(GenerateSpikeSubShape(&spike_, xq, yq));
    return spike_.subShapes[SubShapeIndex(xq, yq)];
  }
  SubShape& Flare(int32_t xq = 0, int32_t yq = 0) {
    EXPECT_TRUE(GenerateFlareSubShape(&flare_, xq, yq));
    return flare_.subShapes[SubShapeIndex(xq, yq)];
  }
  static const ShapeSample* Samples(const SubShape& sub) { return static_cast<const ShapeSample*>(sub.samples.buffer); }

  // Total weight of the samples in each 45-degree sector around the centre,
  // sector 0 centred on angle 0 (right), growing clockwise (y down).
  static std::map<int, double> EnergyBySector(const SubShape& sub, int minimumDistance) {
    std::map<int, double> energy;
    for (int32_t i = 0; i < sub.sampleCount; ++i) {
      const ShapeSample& s = Samples(sub)[i];
      if (s.dx * s.dx + s.dy * s.dy < minimumDistance * minimumDistance) continue;
      double angle = std::atan2(s.dy, s.dx) * 180.0 / PI;
      if (angle < 0) angle += 360.0;
      const int sector = static_cast<int>(std::floor((angle + 22.5) / 45.0)) % 8;
      energy[sector] += s.weight;
    }
    return energy;
  }

  StarEffectSettings settings_;
  SamplingShape spike_{};
  SamplingShape flare_{};
};

TEST(EffectTables, TrigonometryInTenthsOfADegree) {
  EXPECT_NEAR(CosineOf(0), 1.0, 1e-7);
  EXPECT_NEAR(CosineOf(900), 0.0, 1e-6);
  EXPECT_NEAR(CosineOf(1800), -1.0, 1e-7);
  EXPECT_NEAR(CosineOf(-600), 0.5, 1e-6);
  EXPECT_NEAR(CosineOf(3600 + 600), 0.5, 1e-6);
  EXPECT_EQ(HalfCosineOf(0), 0xFFFFFFFEu);
  EXPECT_EQ(HalfCosineOf(1800), 0u);
  // The second half is the complement of the first.
  for (int a : {1, 450, 899, 1234})
    EXPECT_EQ(static_cast<uint64_t>(HalfCosineOf(a)) + HalfCosineOf(a + 1800), 0xFFFFFFFEull);
  EXPECT_EQ(DistanceTenths(3, 4), 50u);
  EXPECT_EQ(DistanceTenths(-4, 0), 40u);
  EXPECT_EQ(DistanceTenths(1000, 0), 10000u);  // beyond the cache
  EXPECT_EQ(MinimumVisibleValue(1), 16384u);
  EXPECT_EQ(MinimumVisibleValue(2), 4096u);
  EXPECT_EQ(MinimumVisibleValue(4), 2048u);
}

TEST_F(ShapeTest, OnePointDrawsOneSpikeAtTheAngle) {
  Build(ParametersWith([](ParameterSet* s) {
    s->numberOfPoints = 1;
    s->angle = 90;  // pointing down
  }));
  const SubShape& sub = Spike();
  ASSERT_GT(sub.sampleCount, 0);
  const auto energy = EnergyBySector(sub, 3);
  double total = 0;
  for (const auto& e : energy) total += e.second;
  EXPECT_GT(energy.at(2) / total, 0.99);  // sector 2: straight down
  EXPECT_LE(sub.top, 0);
  EXPECT_GT(sub.bottom, 20);
}

TEST_F(ShapeTest, FourPointsAtZeroDegreesLieOnTheAxes) {
  Build(ParametersWith([](ParameterSet* s) {
    s->numberOfPoints = 4;
    s->angle = 0;
  }));
  const auto energy = EnergyBySector(Spike(), 3);
  double total = 0;
  for (const auto& e : energy) total += e.second;
  for (int sector : {0, 2, 4, 6}) {
    ASSERT_TRUE(energy.count(sector)) << sector;
    EXPECT_NEAR(energy.at(sector) / total, 0.25, 0.02) << "sector " << sector;
  }
  for (int sector : {1, 3, 5, 7}) EXPECT_LT(energy.count(sector) ? energy.at(sector) / total : 0.0, 0.005);
}

TEST_F(ShapeTest, EveryQuarterPositionCentresTheStarOnItsLight) {
  Build(ParametersWith([](ParameterSet* s) { s->numberOfPoints = 4; s->angle = 0; }));
  for (int32_t xq = 0; xq < 4; ++xq) {
    for (int32_t yq = 0; yq < 4; ++yq) {
      const SubShape& sub = Spike(xq, yq);
      double sx = 0, sy = 0, w = 0;
      for (int32_t i = 0; i < sub.sampleCount; ++i) {
        const ShapeSample& s = Samples(sub)[i];
        sx += s.weight * (s.dx + 0.5);
        sy += s.weight * (s.dy + 0.5);
        w += s.weight;
      }
      // A symmetric star balances on its centre, within a pixel.
      EXPECT_NEAR(sx / w, xq / 4.0, 1.0) << xq << "," << yq;
      EXPECT_NEAR(sy / w, yq / 4.0, 1.0) << xq << "," << yq;
    }
  }
}

TEST_F(ShapeTest, NothingIsDrawnWithoutLengthOrIntensity) {
  Build(ParametersWith([](ParameterSet* s) { s->length = 0; }));
  EXPECT_EQ(Spike().sampleCount, 0);
  EXPECT_EQ(Flare().sampleCount, 0);
  EXPECT_EQ(spike_.subShapes[0].generated, 1);

  FreeSamplingShape(&spike_);
  FreeSamplingShape(&flare_);
  Build(ParametersWith([](ParameterSet* s) { s->intensity = 0; }));
  EXPECT_EQ(settings_.spikePeak, 0u);
  EXPECT_EQ(Spike().sampleCount, 0);
  EXPECT_GT(Flare().sampleCount, 0);  // the flare does not depend on Intensity
}

TEST_F(ShapeTest, GrayImagesCarryNoRainbow) {
  Build(ParametersWith(nullptr), 400, 1, true);
  const SubShape& gray = Spike();
  ASSERT_GT(gray.sampleCount, 0);
  for (int32_t i = 0; i < gray.sampleCount; ++i) {
    const ShapeSample& s = Samples(gray)[i];
    ASSERT_EQ(s.red, s.green);
    ASSERT_EQ(s.red, s.blue);
  }
  FreeSamplingShape(&spike_);
  FreeSamplingShape(&flare_);
  Build(ParametersWith(nullptr), 400, 1, false);
  const SubShape& colour = Spike();
  int tinted = 0;
  for (int32_t i = 0; i < colour.sampleCount; ++i) tinted += Samples(colour)[i].red != Samples(colour)[i].blue;
  EXPECT_GT(tinted, colour.sampleCount / 2);
}

TEST_F(ShapeTest, DeeperImagesKeepFainterSamples) {
  Build(ParametersWith(nullptr), 400, 1);
  const int32_t eightBit = Spike().sampleCount;
  FreeSamplingShape(&spike_);
  FreeSamplingShape(&flare_);
  Build(ParametersWith(nullptr), 400, 4);
  EXPECT_GT(Spike().sampleCount, eightBit);
  for (int32_t i = 0; i < spike_.subShapes[0].sampleCount; ++i)
    ASSERT_GE(Samples(spike_.subShapes[0])[i].weight, 2048u);
}

TEST_F(ShapeTest, TheFlareIsRoundBrightestInTheMiddleAndUntinted) {
  Build(ParametersWith(nullptr));
  const SubShape& sub = Flare();
  ASSERT_GT(sub.sampleCount, 8);
  const ShapeSample* s = Samples(sub);
  EXPECT_EQ(s[0].dx, 0);
  EXPECT_EQ(s[0].dy, 0);
  EXPECT_EQ(s[0].weight, 67108860u - 1024u);
  std::map<std::pair<int, int>, uint32_t> at;
  for (int32_t i = 0; i < sub.sampleCount; ++i) {
    EXPECT_TRUE(at.emplace(std::make_pair(s[i].dx, s[i].dy), s[i].weight).second) << "pixel visited twice";
    EXPECT_EQ(s[i].red, 0xFFFFFFFEu);
    EXPECT_LE(s[i].weight, s[0].weight);
  }
  // Centred on the pixel: all eight mirror images carry the same weight.
  for (const auto& p : at) {
    const int x = p.first.first, y = p.first.second;
    for (auto mirror : {std::make_pair(-x, y), std::make_pair(y, x), std::make_pair(-y, -x)}) {
      auto found = at.find(mirror);
      ASSERT_NE(found, at.end()) << x << "," << y;
      EXPECT_EQ(found->second, p.second);
    }
  }
  EXPECT_EQ(sub.left, -sub.right + 1);
}

TEST_F(ShapeTest, OffCentreFlaresLeanTowardsTheirQuarter) {
  Build(ParametersWith(nullptr));
  const SubShape& sub = Flare(3, 0);
  std::map<std::pair<int, int>, uint32_t> at;
  for (int32_t i = 0; i < sub.sampleCount; ++i) at[{Samples(sub)[i].dx, Samples(sub)[i].dy}] = Samples(sub)[i].weight;
  // The light sits three quarters of the way to the next pixel on the right.
  EXPECT_GT((at[{1, 0}]), (at[{0, 0}]));
  EXPECT_GT((at[{0, 0}]), (at[{-1, 0}]));
}

TEST(LightSourceSelection, QuantitySelectsByBrightnessAndForcedEntriesAlwaysTakePart) {
  EXPECT_EQ(QuantityThreshold(50), 1073741823u);  // a quarter of 4294967294, truncated
  EXPECT_EQ(QuantityThreshold(100), 0u);
  EXPECT_EQ(QuantityThreshold(0), 4294967294u);
  EXPECT_EQ(QuantityThreshold(-20), QuantityThreshold(0));  // out of range: clamped

  LightSourceRecord forced{}, shown{}, hidden{};
  forced.state = LIGHT_SOURCE_FORCED;
  shown.state = LIGHT_SOURCE_SHOWN;
  hidden.state = LIGHT_SOURCE_HIDDEN;
  forced.brightness = shown.brightness = hidden.brightness = 0xFFFFFFFC;
  EXPECT_TRUE(LightSourceTakesPart(forced, QuantityThreshold(0)));
  EXPECT_FALSE(LightSourceTakesPart(shown, QuantityThreshold(0)));
  EXPECT_FALSE(LightSourceTakesPart(hidden, QuantityThreshold(100)));
  EXPECT_TRUE(LightSourceTakesPart(shown, 0xFFFFFFFB));
  EXPECT_FALSE(LightSourceTakesPart(shown, 0xFFFFFFFC));
}

TEST(LightSourceSelection, QuantityStateAndWeightDecide) {
  StarEffectSettings s;
  PrepareStarEffectSettings(ParametersWith(nullptr), 400, 1, false, &s);
  LightSourceRecord entry{};
  entry.red = entry.green = entry.blue = 1u << 30;
  entry.effectWeight = 0xFFFFFFFE;
  entry.state = LIGHT_SOURCE_SHOWN;
  entry.brightness = 1;
  StarStamp stamp;
  EXPECT_FALSE(SelectLightSource(entry, QuantityThreshold(50), s, &stamp));
  EXPECT_TRUE(SelectLightSource(entry, QuantityThreshold(100), s, &stamp));  // every shown light with any brightness
  entry.brightness = 0;
  EXPECT_FALSE(SelectLightSource(entry, QuantityThreshold(100), s, &stamp));
  entry.state = LIGHT_SOURCE_FORCED;  // forced lights are drawn below any threshold
  EXPECT_TRUE(SelectLightSource(entry, QuantityThreshold(0), s, &stamp));
  EXPECT_TRUE(stamp.spikes);
  EXPECT_TRUE(stamp.flare);
  EXPECT_EQ(stamp.spikeAlpha, 0xFFFFFFFEu);
  EXPECT_NEAR(stamp.flareAlpha / 4294967294.0, 0.09, 1e-6);  // (30 / 100)^2
  entry.state = LIGHT_SOURCE_HIDDEN;
  EXPECT_FALSE(SelectLightSource(entry, 0, s, &stamp));
  entry.state = LIGHT_SOURCE_FORCED;
  entry.effectWeight = 100;  // too faint to show
  EXPECT_FALSE(SelectLightSource(entry, 0, s, &stamp));
}

TEST(LightSourceSelection, SaturationPushesChannelsApart) {
  uint32_t colour[3] = {3000000000u, 2000000000u, 1000000000u};
  uint32_t gray[3] = {3000000000u, 2000000000u, 1000000000u};
  SaturateColour(colour, 30, false);
  SaturateColour(gray, 30, true);
  EXPECT_EQ(colour[0], 0xFFFFFFFEu);  // pushed beyond full: limited
  EXPECT_EQ(colour[1], 2000000000u);  // already at the others' mean
  EXPECT_EQ(colour[2], 0u);
  EXPECT_EQ(gray[0], 3000000000u);
  uint32_t muted[3] = {3000000000u, 2000000000u, 1000000000u};
  SaturateColour(muted, -100, false);  // two thirds of the way towards the others' mean
  EXPECT_NEAR(static_cast<double>(muted[0]), 2000000000.0, 2.0);
  EXPECT_NEAR(static_cast<double>(muted[2]), 2000000000.0, 2.0);
}

TEST(LightSourceSelection, ScriptValuesOutOfRangeAreLimited) {
  // Scripts store any value; drawing pins percentages to 0..100, saturation
  // to -100..100 and points to 1..360, and takes any angle.
  const struct {
    int16_t ParameterSet::*stored;
    int32_t StarEffectSettings::*drawn;
    int16_t value;
    int32_t expected;
  } cases[] = {
      {&ParameterSet::quantity, &StarEffectSettings::quantity, -5, 0},
      {&ParameterSet::quantity, &StarEffectSettings::quantity, 250, 100},
      {&ParameterSet::intensity, &StarEffectSettings::intensity, 900, 100},
      {&ParameterSet::intensity, &StarEffectSettings::intensity, -1, 0},
      {&ParameterSet::length, &StarEffectSettings::length, 101, 100},
      {&ParameterSet::length, &StarEffectSettings::length, -300, 0},
      {&ParameterSet::angle, &StarEffectSettings::angle, 725, 725},
      {&ParameterSet::angle, &StarEffectSettings::angle, -900, -900},
      {&ParameterSet::numberOfPoints, &StarEffectSettings::points, 0, 1},
      {&ParameterSet::numberOfPoints, &StarEffectSettings::points, 9, 9},
      {&ParameterSet::numberOfPoints, &StarEffectSettings::points, 361, 360},
      {&ParameterSet::spikeSharpness, &StarEffectSettings::sharpness, 101, 100},
      {&ParameterSet::spikeSharpness, &StarEffectSettings::sharpness, -1, 0},
      {&ParameterSet::colorSaturation, &StarEffectSettings::saturation, -3000, -100},
      {&ParameterSet::colorSaturation, &StarEffectSettings::saturation, 150, 100},
      {&ParameterSet::rainbowFrequency, &StarEffectSettings::rainbowFrequency, 300, 100},
      {&ParameterSet::rainbowFrequency, &StarEffectSettings::rainbowFrequency, -1, 0},
      {&ParameterSet::secondarySpikeIntensity, &StarEffectSettings::secondarySpikes, -7, 0},
      {&ParameterSet::secondarySpikeIntensity, &StarEffectSettings::secondarySpikes, 101, 100},
      {&ParameterSet::softFlareIntensity, &StarEffectSettings::softFlare, 500, 100},
      {&ParameterSet::softFlareIntensity, &StarEffectSettings::softFlare, -1, 0},
  };
  for (const auto& c : cases) {
    ParameterSet set = FACTORY_PARAMETER_SET;
    set.*c.stored = c.value;
    RenderingParameters p;
    InitializeFinalRenderingParameters(&p, &set);
    StarEffectSettings drawn;
    PrepareStarEffectSettings(p, 0, 1, false, &drawn);
    EXPECT_EQ(drawn.*c.drawn, c.expected) << "stored " << c.value;
  }

  // Extremes together still draw.
  StarEffectSettings s;
  PrepareStarEffectSettings(ParametersWith([](ParameterSet* p) {
                              p->numberOfPoints = 0;
                              p->intensity = 900;
                              p->rainbowFrequency = 300;
                              p->colorSaturation = -3000;
                            }),
                            0, 1, false, &s);
  EXPECT_EQ(s.diagonal, 1);
  SamplingShape spike{}, flare{};
  SetUpStarEffectShapes(&spike, &flare, &s);
  EXPECT_TRUE(GenerateSpikeSubShape(&spike, 1, 2));
  EXPECT_TRUE(GenerateFlareSubShape(&flare, 1, 2));
  FreeSamplingShape(&spike);
  FreeSamplingShape(&flare);
}

}  // namespace

// The squared-distance bounds a flare walks by agree with the distances
// themselves: every offset's distance in tenths t has its square between
// the bound of t and the bound of t + 1, near the centre (cached distances)
// and far out (computed ones).
TEST(DistanceBounds, EveryOffsetLiesBetweenTheBoundsOfItsDistance) {
  auto check = [](int64_t dx, int64_t dy) {
    const int64_t squared = dx * dx + dy * dy;
    const uint32_t tenths = DistanceTenths(dx, dy);
    ASSERT_LE(SmallestSquareWithTenths(tenths), squared) << dx << "," << dy;
    ASSERT_GT(SmallestSquareWithTenths(tenths + 1), squared) << dx << "," << dy;
  };
  for (int64_t dy : {0, 1, 2, 3, 5, 17, 250, 651}) {
    for (int64_t dx = 0; dx <= 1200; ++dx) check(dx, dy);
  }
  for (int64_t dx = 0; dx <= 120000; dx += 37) check(dx, dx / 3);
  EXPECT_EQ(SmallestSquareWithTenths(0), 0);
}
