// Stamping shapes into images and rendering light sources into band
// layers: what is drawn, what is skipped, and that sparse layers and band
// splits give the same pixels as one dense layer.
#include "effects/effect_drawing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "analysis/light_source_table.h"
#include "color/blend.h"
#include "effects/effect_tables.h"
#include "image/pixel_access.h"
#include "params/parameter_set.h"
#include "runtime/buffers.h"

namespace {

constexpr uint32_t FULL = 0xFFFFFFFE;

StarEffectSettings Settings(uint32_t bytes = 1, int16_t points = 6) {
  ParameterSet set = FACTORY_PARAMETER_SET;
  set.intensity = 100;
  set.length = 100;
  set.numberOfPoints = points;
  RenderingParameters p;
  InitializeFinalRenderingParameters(&p, &set);
  StarEffectSettings s;
  PrepareStarEffectSettings(p, 300, static_cast<int32_t>(bytes), false, &s);
  return s;
}

LightSourceRecord Light(int32_t x, int32_t xq, int32_t y, int32_t yq, uint32_t level) {
  LightSourceRecord e{};
  e.x = x;
  e.xQuarter = xq;
  e.y = y;
  e.yQuarter = yq;
  e.red = level;
  e.green = level / 2;
  e.blue = level / 3;
  e.brightness = level;
  e.effectWeight = FULL;
  e.state = LIGHT_SOURCE_SHOWN;
  return e;
}

// Shapes and images that release themselves.
struct OwnedShapes : EffectShapes {
  explicit OwnedShapes(const StarEffectSettings& settings) { SetUpEffectShapes(this, settings); }
  ~OwnedShapes() { ReleaseEffectShapes(this); }
  OwnedShapes(const OwnedShapes&) = delete;
  OwnedShapes& operator=(const OwnedShapes&) = delete;
};

struct FilledImage : Image {
  FilledImage(const ImageRect& rect, uint32_t mode, const PixelValue& value) : Image{} {
    int16_t status = 0;
    EXPECT_TRUE(CreateImage(rect, true, this, rect, mode, nullptr, 2.2, false, &status));
    FillImageRect(rect, value, this);
  }
  ~FilledImage() { ReleaseImage(this); }
  FilledImage(const FilledImage&) = delete;
  FilledImage& operator=(const FilledImage&) = delete;
};

class DrawingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BuildPixelValueTables();
    lights_.push_back(Light(60, 1, 50, 2, FULL));
    lights_.push_back(Light(150, 0, 120, 3, FULL / 2));
    lights_.push_back(Light(200, 3, 20, 0, FULL / 5));
    lights_.push_back(Light(-40, 0, 90, 0, FULL));  // off the image: only its spikes reach in
    table_.count = static_cast<uint32_t>(lights_.size());
    ASSERT_EQ(ReallocateBuffer(lights_.size() * sizeof(LightSourceRecord), &table_.records), 0);
    std::memcpy(table_.records.buffer, lights_.data(), lights_.size() * sizeof(LightSourceRecord));
  }
  void TearDown() override { DeallocateBuffer(&table_.records); }

  static PixelValue At(const Image& image, int32_t x, int32_t y) {
    PixelValue v;
    image.readPixel(&image, &v, x, y);
    return v;
  }

  std::vector<LightSourceRecord> lights_;
  LightSourceList table_{};
  const ImageRect area_{0, 0, 240, 160};
};

TEST_F(DrawingTest, SparseAndDenseLayersAndAnyBandSplitAgree) {
  for (uint32_t mode : {3u, 11u, 16u}) {
    const uint32_t bytes = mode == 3 ? 1 : (mode == 11 ? 2 : 4);
    OwnedShapes shapes(Settings(bytes));
    BandLayer dense{};
    int16_t status = 0;
    ASSERT_TRUE(CreateBandLayer(area_, mode, nullptr, 2.2, false, &dense, &status));
    ASSERT_TRUE(RenderEffectsIntoBandLayer(&dense, &shapes, table_, BLEND_PRECISE, nullptr, nullptr));

    const int32_t cuts[] = {0, 1, 47, 48, 159, 160};
    BandLayer bands[5] = {};
    for (int b = 0; b < 5; ++b) {
      const ImageRect band{area_.left, cuts[b], area_.right, cuts[b + 1]};
      ASSERT_TRUE(CreateBandLayer(band, mode, nullptr, 2.2, true, &bands[b], &status));
      ASSERT_TRUE(RenderEffectsIntoBandLayer(&bands[b], &shapes, table_, BLEND_PRECISE, nullptr, nullptr));
    }
    int lit = 0;
    for (int b = 0; b < 5; ++b) {
      const BandLayer& layer = bands[b];
      for (int32_t y = cuts[b]; y < cuts[b + 1]; ++y) {
        const size_t row = static_cast<size_t>(y - cuts[b]);
        for (int32_t x = area_.left; x < area_.right; ++x) {
          const PixelValue d = At(dense.image, x, y);
          const bool inside = x >= layer.spanLeft[row] && x < layer.spanRight[row];
          if (!inside) {
            ASSERT_EQ(d.red | d.green | d.blue, 0u) << "light outside the touched span at " << x << "," << y;
            continue;
          }
          const PixelValue s = At(layer.image, x, y);
          ASSERT_EQ(s.red, d.red) << "mode " << mode << " at " << x << "," << y;
          ASSERT_EQ(s.green, d.green);
          ASSERT_EQ(s.blue, d.blue);
          ASSERT_EQ(s.alpha, d.alpha);
          lit += d.red > 0;
        }
      }
    }
    EXPECT_GT(lit, 2000) << "mode " << mode;
    EXPECT_EQ(At(dense.image, 60, 50).alpha, 0xFFFFFFFEu);
    for (BandLayer& layer : bands) ReleaseBandLayer(&layer);
    ReleaseBandLayer(&dense);
  }
}

TEST_F(DrawingTest, EnergyLandsOnTheAxesForFourPointsAtZeroDegrees) {
  StarEffectSettings s = Settings(1, 4);
  s.angle = 0;
  s.softFlare = 0;
  OwnedShapes shapes(s);
  FilledImage image(area_, 3, PixelValue{0, 0, 0, FULL, FULL});
  const StampColour white{FULL, FULL, FULL, FULL};
  ASSERT_TRUE(
      DrawShapeInto(&shapes.spike, &image, area_, white, QuarterPoint{120, 0, 80, 0}, BLEND_SCREEN, BLEND_PRECISE));
  // Along the axes, 30 pixels out, the spikes are bright; on the diagonals dark.
  for (auto p : {std::make_pair(150, 80), std::make_pair(90, 80), std::make_pair(120, 110), std::make_pair(120, 50)})
    EXPECT_GT(At(image, p.first, p.second).green, 20000u) << p.first << "," << p.second;
  for (auto p : {std::make_pair(141, 101), std::make_pair(99, 59), std::make_pair(141, 59), std::make_pair(99, 101)})
    EXPECT_EQ(At(image, p.first, p.second).green, 0u) << p.first << "," << p.second;
}

TEST_F(DrawingTest, BlackOrUnseenStampsDrawNothing) {
  OwnedShapes shapes(Settings());
  FilledImage image(area_, 3, PixelValue{1000, 2000, 3000, FULL, FULL});
  const size_t bytes = static_cast<size_t>(area_.right) * area_.bottom * 4;
  const std::vector<uint8_t> before(static_cast<uint8_t*>(image.pixels.buffer),
                                    static_cast<uint8_t*>(image.pixels.buffer) + bytes);
  EXPECT_TRUE(DrawShapeInto(&shapes.spike, &image, area_, StampColour{0, 0, 0, FULL}, QuarterPoint{100, 0, 80, 0},
                            BLEND_SCREEN, BLEND_PRECISE));
  EXPECT_TRUE(DrawShapeInto(&shapes.flare, &image, area_, StampColour{FULL, FULL, FULL, 0}, QuarterPoint{100, 0, 80, 0},
                            BLEND_SCREEN, BLEND_PRECISE));
  // Far outside the image and outside the clip.
  EXPECT_TRUE(DrawShapeInto(&shapes.flare, &image, area_, StampColour{FULL, FULL, FULL, FULL},
                            QuarterPoint{2000000000, 0, -2000000000, 0}, BLEND_SCREEN, BLEND_PRECISE));
  EXPECT_TRUE(DrawShapeInto(&shapes.flare, &image, ImageRect{0, 0, 10, 10}, StampColour{FULL, FULL, FULL, FULL},
                            QuarterPoint{200, 0, 150, 0}, BLEND_SCREEN, BLEND_PRECISE));
  EXPECT_EQ(std::memcmp(before.data(), image.pixels.buffer, bytes), 0);

  SamplingShape wrong = shapes.flare;
  wrong.type = 7;
  EXPECT_FALSE(DrawShapeInto(&wrong, &image, area_, StampColour{FULL, FULL, FULL, FULL}, QuarterPoint{10, 0, 10, 0},
                             BLEND_SCREEN, BLEND_PRECISE));
}

// The flare is stamped from its weight profile, not from a sample list; it
// must give exactly what stamping its generated sub-shape sample by sample
// gives.
// What stamping a sub-shape's sample list means, pixel by pixel through the
// image's own routines and BlendPixels: the reference the drawing code's
// in-place paths must match bit for bit.
void ReferenceStamp(const SubShape& sub, Image* image, const ImageRect& clip, const StampColour& colour,
                    const QuarterPoint& at) {
  const auto* samples = static_cast<const ShapeSample*>(sub.samples.buffer);
  const uint32_t threshold = MinimumVisibleValue(image->bytesPerChannel) / 2;
  for (int32_t i = 0; i < sub.sampleCount; ++i) {
    const ShapeSample& smp = samples[i];
    const int32_t x = at.x + smp.dx, y = at.y + smp.dy;
    if (x < clip.left || x >= clip.right || y < clip.top || y >= clip.bottom) continue;
    const uint32_t sa = FractionProduct(colour.alpha, smp.weight);
    const uint32_t r = FractionProduct(colour.red, smp.red), g = FractionProduct(colour.green, smp.green),
                   bl = FractionProduct(colour.blue, smp.blue);
    if (FractionProduct(std::max(r, std::max(g, bl)), sa) < threshold) continue;
    PixelValue d;
    image->readPixel(image, &d, x, y);
    const BlendPixel source{r, g, bl, sa, 0};
    BlendPixel target{d.red, d.green, d.blue, d.alpha, d.mask};
    BlendPixels(&source, &target, BLEND_SCREEN, BLEND_PRECISE);
    const PixelValue out{target.red, target.green, target.blue, target.coverage, 0xFFFFFFFF};
    image->writePixel(image, &out, x, y);
  }
}

// The flare is stamped from its weight profile and the spikes from chunked
// sample lists, both straight into the pixels of integer images; each must
// give what its sample list gives through the pixel routines, over black
// and over light, in every integer mode, for opaque and faint stamps.
TEST_F(DrawingTest, StampsMatchTheirSampleListsThroughThePixelRoutines) {
  for (uint32_t mode : {1u, 3u, 10u, 11u}) {
    const uint32_t bytes = mode <= 3 ? 1 : 2;
    StarEffectSettings s = Settings(bytes);
    OwnedShapes shapes(s);
    SamplingShape listed{};
    SamplingShape unusedSpike{};
    SetUpStarEffectShapes(&unusedSpike, &listed, &shapes.settings);
    for (int32_t xq : {0, 3}) {
      for (int32_t yq : {0, 2}) {
        for (uint32_t alpha : {FULL, FULL / 40}) {
          for (uint32_t ground : {0u, 3000u}) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << ", quarters " << xq << "," << yq << ", alpha "
                                            << alpha << ", ground " << ground);
            const PixelValue fill{ground * 3, ground * 2, ground, FULL, FULL};
            const StampColour colour{FULL, FULL / 2, FULL / 4, alpha};
            const QuarterPoint at{100, xq, 70, yq};
            ASSERT_TRUE(GenerateFlareSubShape(&listed, xq, yq));
            const SubShape& flare = listed.subShapes[SubShapeIndex(xq, yq)];
            ASSERT_GT(flare.sampleCount, 100);
            const size_t imageBytes = static_cast<size_t>(area_.right) * area_.bottom * 4 * bytes;
            FilledImage a(area_, mode, fill), b(area_, mode, fill);
            ASSERT_TRUE(DrawShapeInto(&shapes.flare, &a, area_, colour, at, BLEND_SCREEN, BLEND_PRECISE));
            ReferenceStamp(flare, &b, area_, colour, at);
            EXPECT_EQ(std::memcmp(a.pixels.buffer, b.pixels.buffer, imageBytes), 0) << "flare";

            FilledImage c(area_, mode, fill), d(area_, mode, fill);
            ASSERT_TRUE(DrawShapeInto(&shapes.spike, &c, area_, colour, at, BLEND_SCREEN, BLEND_PRECISE));
            const SubShape& spike = shapes.spike.subShapes[SubShapeIndex(xq, yq)];
            ASSERT_GT(spike.sampleCount, 100);
            ReferenceStamp(spike, &d, area_, colour, at);
            EXPECT_EQ(std::memcmp(c.pixels.buffer, d.pixels.buffer, imageBytes), 0) << "spikes";
          }
        }
      }
    }
    FreeSamplingShape(&listed);
    FreeSamplingShape(&unusedSpike);
  }
}

TEST_F(DrawingTest, ProgressIsReportedPerLightAndPassAndCanStopTheBand) {
  OwnedShapes shapes(Settings());
  BandLayer layer{};
  int16_t status = 0;
  ASSERT_TRUE(CreateBandLayer(area_, 3, nullptr, 2.2, true, &layer, &status));
  int calls = 0;
  auto count = [](void* context) {
    ++*static_cast<int*>(context);
    return true;
  };
  ASSERT_TRUE(RenderEffectsIntoBandLayer(&layer, &shapes, table_, BLEND_PRECISE, count, &calls));
  EXPECT_EQ(calls, 2 * static_cast<int>(lights_.size()));  // spikes and flares
  auto stop = [](void* context) { return ++*static_cast<int*>(context) < 2; };
  calls = 0;
  EXPECT_FALSE(RenderEffectsIntoBandLayer(&layer, &shapes, table_, BLEND_PRECISE, stop, &calls));
  EXPECT_EQ(calls, 2);
  ReleaseBandLayer(&layer);
}

}  // namespace
