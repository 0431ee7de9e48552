// Sampling shapes: what the disk and ring generators put into a sub-shape,
// which sub-shape a quarter position selects, and what the two measurements
// return on images whose brightness and colour are known.
#include "analysis/sampling_shapes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <thread>

#include "../runtime/log_test_support.h"
#include "../test_hooks_support.h"
#include "analysis_test_support.h"
#include "image/pixel_access.h"

namespace {

using analysistest::MakeLinearImage;
using analysistest::OwnedImage;
using analysistest::Rgb;

constexpr double PI = 3.14159265358979323846;

bool Contains(const std::string& text, const char* needle) { return text.find(needle) != std::string::npos; }

// A shape of one radius with its generator, freed at the end.
struct TestShape {
  float radius;
  SamplingShape shape{};
  TestShape(ShapeGenerator generator, float r) : radius(r) { InitializeSamplingShape(&shape, generator, &radius); }
  ~TestShape() { FreeSamplingShape(&shape); }
  SubShape& Sub(int32_t xq, int32_t yq) { return shape.subShapes[SubShapeIndex(xq, yq)]; }
  const ShapeSample* Samples(int32_t xq, int32_t yq) {
    return static_cast<const ShapeSample*>(Sub(xq, yq).samples.buffer);
  }
};

double WeightSum(TestShape& t, int32_t xq, int32_t yq) {
  double sum = 0.0;
  for (int32_t i = 0; i < t.Sub(xq, yq).sampleCount; ++i) sum += t.Samples(xq, yq)[i].weight / 4294967294.0;
  return sum;
}

// Brightness of a linear 16-bit grey level, as the analysis computes it
// from the image's 24-bit values.
uint32_t GreyBrightness(uint16_t code) {
  const uint32_t v = static_cast<uint32_t>(std::lround(code / 65535.0 * 16777215.0));
  return Brightness(v, v, v);
}

void FillGrey(Image* image, const ImageRect& rect, uint16_t code) {
  for (int32_t y = rect.top; y < rect.bottom; ++y) {
    for (int32_t x = rect.left; x < rect.right; ++x) {
      uint16_t* p =
          static_cast<uint16_t*>(image->pixels.buffer) +
          (static_cast<size_t>(y - image->bufferRect.top) * image->bufferWidth + (x - image->bufferRect.left)) * 4;
      p[0] = p[1] = p[2] = code;
    }
  }
}

TEST(SamplingShapeGenerators, DiskOfRadiusZeroIsTheCentrePixelAtHalfWeight) {
  TestShape disk(GenerateDiskSubShape, 0.0f);
  ASSERT_TRUE(GenerateDiskSubShape(&disk.shape, 0, 0));
  ASSERT_EQ(disk.Sub(0, 0).sampleCount, 1);
  const ShapeSample& s = disk.Samples(0, 0)[0];
  EXPECT_EQ(s.dx, 0);
  EXPECT_EQ(s.dy, 0);
  EXPECT_EQ(s.weight, 2147483647u);  // 0.5 x 4294967294
  EXPECT_EQ(s.red, FRACTION_FULL);
  EXPECT_EQ(s.green, FRACTION_FULL);
  EXPECT_EQ(s.blue, FRACTION_FULL);
  EXPECT_EQ(disk.Sub(0, 0).generated, 1);
  EXPECT_EQ(disk.shape.type, SHAPE_IMAGE);
}

TEST(SamplingShapeGenerators, DisksCoverTheirAreaWithAOnePixelEdge) {
  for (float r : {0.75f, 2.0f, 5.5f, 17.25f, 60.0f}) {
    TestShape disk(GenerateDiskSubShape, r);
    for (int32_t q = 0; q < 16; ++q) {
      const int32_t xq = q / 4, yq = q % 4;
      ASSERT_TRUE(GenerateDiskSubShape(&disk.shape, xq, yq));
      const SubShape& sub = disk.Sub(xq, yq);
      // The weights add up to the disc's area: pixels count by how much of
      // them lies inside, and a linear edge loses as much as it gains.
      const double area = PI * r * r;
      EXPECT_NEAR(WeightSum(disk, xq, yq), area, 0.02 * area + 1.0) << r << " " << q;
      const double cx = xq / 4.0, cy = yq / 4.0;
      for (int32_t i = 0; i < sub.sampleCount; ++i) {
        const ShapeSample& s = disk.Samples(xq, yq)[i];
        const double dist = std::hypot(s.dx - cx, s.dy - cy);
        ASSERT_LT(dist, r + 0.5);
        if (dist <= r - 0.5) {
          ASSERT_EQ(s.weight, FRACTION_FULL);
        }
        ASSERT_GE(s.dx, sub.left);
        ASSERT_LT(s.dx, sub.right);
        ASSERT_GE(s.dy, sub.top);
        ASSERT_LT(s.dy, sub.bottom);
      }
    }
  }
}

TEST(SamplingShapeGenerators, RingsLieOnTheirRadiusAndAreSymmetric) {
  for (float r : {1.5f, 4.0f, 12.25f, 40.0f}) {
    TestShape ring(GenerateRingSubShape, r);
    ASSERT_TRUE(GenerateRingSubShape(&ring.shape, 0, 0));
    const SubShape& sub = ring.Sub(0, 0);
    ASSERT_GT(sub.sampleCount, 0);
    double weightedDx = 0.0, weightedDy = 0.0, weights = 0.0;
    for (int32_t i = 0; i < sub.sampleCount; ++i) {
      const ShapeSample& s = ring.Samples(0, 0)[i];
      // A pixel of the ring reaches the band [r - 1/8, r + 1/8].
      ASSERT_NEAR(std::hypot(s.dx, s.dy), r, 0.125 + 0.564 + 1e-9);
      ASSERT_GT(s.weight, 0u);
      weightedDx += s.dx * static_cast<double>(s.weight);
      weightedDy += s.dy * static_cast<double>(s.weight);
      weights += s.weight;
    }
    // Around a whole-pixel centre the ring is balanced in every direction.
    EXPECT_NEAR(weightedDx / weights, 0.0, 1e-9);
    EXPECT_NEAR(weightedDy / weights, 0.0, 1e-9);
  }
}

TEST(SamplingShapeGenerators, ARingTouchingNoPixelMeasuresTheCentreAtAQuarter) {
  TestShape ring(GenerateRingSubShape, -1.0f);
  ASSERT_TRUE(GenerateRingSubShape(&ring.shape, 0, 0));
  ASSERT_EQ(ring.Sub(0, 0).sampleCount, 1);
  EXPECT_EQ(ring.Samples(0, 0)[0].dx, 0);
  EXPECT_EQ(ring.Samples(0, 0)[0].dy, 0);
  EXPECT_EQ(ring.Samples(0, 0)[0].weight, 0x40000000u);
}

TEST(SamplingShapeGenerators, RadiiOutOfRangeAreRefused) {
  for (float r : {NAN, INFINITY, 40000.0f}) {
    TestShape disk(GenerateDiskSubShape, r);
    EXPECT_FALSE(GenerateDiskSubShape(&disk.shape, 0, 0));
    EXPECT_EQ(disk.Sub(0, 0).sampleCount, 0);
  }
  SamplingShape noRadius{};
  InitializeSamplingShape(&noRadius, GenerateRingSubShape, nullptr);
  EXPECT_FALSE(GenerateRingSubShape(&noRadius, 1, 1));
  FreeSamplingShape(&noRadius);
}

class SamplingShapeMeasurement : public logtest::DebugLogTest {};

TEST_F(SamplingShapeMeasurement, TheCentresQuartersSelectTheSubShapeLazily) {
  OwnedImage image;
  MakeLinearImage(&image, 20, 20, Rgb{0.5, 0.5, 0.5});
  TestShape disk(GenerateDiskSubShape, 3.0f);
  ShapeAnalysis result{};
  ASSERT_TRUE(AnalyzeShapeFrom(&disk.shape, &image.image, QuarterPoint{10, 3, 10, 2}, &result));
  for (int32_t index = 0; index < SUB_SHAPE_COUNT; ++index)
    EXPECT_EQ(disk.shape.subShapes[index].generated, index == 14 ? 1 : 0) << index;
  // A second measurement at the same quarters generates nothing new.
  const void* samples = disk.shape.subShapes[14].samples.buffer;
  ASSERT_TRUE(AnalyzeShapeFrom(&disk.shape, &image.image, QuarterPoint{4, 3, 12, 2}, &result));
  EXPECT_EQ(disk.shape.subShapes[14].samples.buffer, samples);
}

TEST_F(SamplingShapeMeasurement, MeanAndDeviationFollowTheWeightedPixels) {
  OwnedImage image;
  MakeLinearImage(&image, 40, 40, Rgb{0, 0, 0});
  const uint16_t dark = 8000, bright = 50000;
  FillGrey(&image.image, ImageRect{0, 0, 20, 40}, dark);
  FillGrey(&image.image, ImageRect{20, 0, 40, 40}, bright);
  TestShape disk(GenerateDiskSubShape, 6.0f);
  const QuarterPoint centre{20, 1, 20, 0};
  ShapeAnalysis result{};
  ASSERT_TRUE(AnalyzeShapeFrom(&disk.shape, &image.image, centre, &result));

  // The same statistics from the samples, in floating point.
  const SubShape& sub = disk.Sub(1, 0);
  double w = 0.0, wl = 0.0;
  for (int32_t i = 0; i < sub.sampleCount; ++i) {
    const ShapeSample& s = disk.Samples(1, 0)[i];
    const double l = GreyBrightness(centre.x + s.dx < 20 ? dark : bright);
    w += s.weight;
    wl += s.weight * l;
  }
  const double mean = wl / w;
  double spread = 0.0;
  for (int32_t i = 0; i < sub.sampleCount; ++i) {
    const ShapeSample& s = disk.Samples(1, 0)[i];
    const double l = GreyBrightness(centre.x + s.dx < 20 ? dark : bright);
    spread += s.weight * (l - mean) * (l - mean);
  }
  // Products are truncated to whole units, one per sample at most.
  EXPECT_NEAR(result.mean, mean, sub.sampleCount);
  EXPECT_NEAR(result.deviation, std::sqrt(spread / w), 0.001 * std::sqrt(spread / w) + sub.sampleCount);

  PixelValue colour{};
  TestShape uniform(GenerateRingSubShape, 3.0f);
  ASSERT_TRUE(SampleShapeFrom(&uniform.shape, &image.image, QuarterPoint{30, 0, 30, 0}, &colour));
  const uint32_t expected = static_cast<uint32_t>(std::lround(bright / 65535.0 * 16777215.0));
  EXPECT_NEAR(colour.red, expected, 4.0);
  EXPECT_EQ(colour.red, colour.green);
  EXPECT_EQ(colour.green, colour.blue);
  EXPECT_EQ(colour.alpha, FRACTION_FULL);
  EXPECT_EQ(colour.mask, FRACTION_FULL);
  // A uniform area spreads only by the few units the truncated products take
  // off the mean.
  ASSERT_TRUE(AnalyzeShapeFrom(&uniform.shape, &image.image, QuarterPoint{30, 0, 30, 0}, &result));
  EXPECT_LT(result.deviation, 8.0f);
}

TEST_F(SamplingShapeMeasurement, SamplesOutsideTheImageAreSkipped) {
  OwnedImage image;
  MakeLinearImage(&image, 10, 10, Rgb{1, 1, 1});
  TestShape disk(GenerateDiskSubShape, 2.0f);
  ShapeAnalysis result{1, 1.0f};
  PixelValue colour{1, 1, 1, 1, 1};
  const QuarterPoint far{100, 0, -50, 0};
  ASSERT_TRUE(AnalyzeShapeFrom(&disk.shape, &image.image, far, &result));
  EXPECT_EQ(result.mean, 0u);
  EXPECT_EQ(result.deviation, 0.0f);
  ASSERT_TRUE(SampleShapeFrom(&disk.shape, &image.image, far, &colour));
  EXPECT_EQ(colour.red, 0u);
  EXPECT_EQ(colour.green, 0u);
  EXPECT_EQ(colour.blue, 0u);
  // Half outside: only the inside half counts, and it is uniform.
  ASSERT_TRUE(AnalyzeShapeFrom(&disk.shape, &image.image, QuarterPoint{0, 0, 5, 0}, &result));
  EXPECT_NEAR(result.mean, GreyBrightness(65535), 8.0);
  EXPECT_LT(result.deviation, 8.0f);
}

TEST_F(SamplingShapeMeasurement, TheFastPrecisionIsCloseButNotExact) {
  OwnedImage image;
  MakeLinearImage(&image, 30, 30, Rgb{0.37, 0.37, 0.37});
  TestShape disk(GenerateDiskSubShape, 5.3f);
  ShapeAnalysis exact{}, fast{};
  ASSERT_TRUE(AnalyzeShapeFrom(&disk.shape, &image.image, QuarterPoint{15, 2, 15, 1}, &exact));
  const bool ok = AnalyzeShapeFrom(&disk.shape, &image.image, QuarterPoint{15, 2, 15, 1}, &fast, FRACTION_FAST);
  ASSERT_TRUE(ok);
  // The fast product drops the low 14 bits of the brightness: a few
  // thousandths of this grey.
  EXPECT_NE(exact.mean, fast.mean);
  EXPECT_NEAR(fast.mean, exact.mean, 0.005 * exact.mean);
}

TEST_F(SamplingShapeMeasurement, ShapesThatCannotMeasureAreReported) {
  OpenLog(LOGMODE_IMMEDIATE);
  OwnedImage image;
  MakeLinearImage(&image, 10, 10, Rgb{0.5, 0.5, 0.5});
  ShapeAnalysis result{};
  PixelValue colour{};

  TestShape other(GenerateDiskSubShape, 2.0f);
  other.shape.type = 7;
  EXPECT_FALSE(AnalyzeShapeFrom(&other.shape, &image.image, QuarterPoint{5, 0, 5, 0}, &result));
  EXPECT_FALSE(SampleShapeFrom(&other.shape, &image.image, QuarterPoint{5, 0, 5, 0}, &colour));

  TestShape noGenerator(nullptr, 2.0f);
  EXPECT_FALSE(AnalyzeShapeFrom(&noGenerator.shape, &image.image, QuarterPoint{5, 0, 5, 0}, &result));

  // A disk of radius 0 between four pixels holds none of them.
  TestShape empty(GenerateDiskSubShape, 0.0f);
  EXPECT_FALSE(AnalyzeShapeFrom(&empty.shape, &image.image, QuarterPoint{5, 2, 5, 2}, &result));
  EXPECT_FALSE(AnalyzeShapeFrom(&empty.shape, &image.image, QuarterPoint{5, 4, 5, 0}, &result));

  const std::string log = CloseAndRead();
  EXPECT_TRUE(Contains(log, "AnalyzeShapeFrom detected shape type other than SHAPE_IMAGE:  7"));
  EXPECT_TRUE(Contains(log, "SampleShapeFrom detected shape type other than SHAPE_IMAGE:  7"));
  EXPECT_TRUE(Contains(log, "NULL SubShapeEntry pointer detected."));
  EXPECT_TRUE(Contains(log, "invalid quarter position (4, 0)"));
}

TEST_F(SamplingShapeMeasurement, AnAppendWithoutMemoryWarnsAndKeepsTheSamples) {
  OpenLog(LOGMODE_IMMEDIATE);
  SubShape sub{};
  const ShapeSample sample{1, 2, FRACTION_FULL, FRACTION_FULL, FRACTION_FULL, 123};
  ASSERT_TRUE(AppendShapeSample(2, &sub, sample));
  ASSERT_TRUE(AppendShapeSample(2, &sub, sample));
  bool appended = true;
  // User messages go to a message box on the UI thread; from another
  // thread they are only logged.
  std::thread([&] {
    testhooks::Hooks().failAllocations = 1;
    appended = AppendShapeSample(2, &sub, sample);
  }).join();
  EXPECT_FALSE(appended);
  EXPECT_EQ(sub.sampleCount, 2);
  EXPECT_EQ(static_cast<const ShapeSample*>(sub.samples.buffer)[1].weight, 123u);
  ASSERT_TRUE(AppendShapeSample(2, &sub, sample));
  EXPECT_EQ(sub.sampleCount, 3);
  DeallocateBuffer(&sub.samples);
  EXPECT_TRUE(Contains(CloseAndRead(), "Low memory.  Check image - some effects may not be rendered."));
}

TEST(SamplingShapeRecord, FreeingReleasesTheDrawingPartAndZeroesTheRecord) {
  static int released = 0;
  float radius = 3.0f;
  SamplingShape shape{};
  InitializeSamplingShape(&shape, GenerateDiskSubShape, &radius);
  ASSERT_TRUE(GenerateDiskSubShape(&shape, 1, 1));
  shape.releaseDrawing = [](SamplingShape*) { ++released; };
  FreeSamplingShape(&shape);
  EXPECT_EQ(released, 1);
  const SamplingShape zero{};
  EXPECT_EQ(std::memcmp(&shape, &zero, sizeof shape), 0);
  FreeSamplingShape(&shape);  // a zeroed record is fine
  EXPECT_EQ(released, 1);
}

TEST(SamplingShapeArithmetic, ScaledQuotientIsExactForEveryWidth) {
  EXPECT_EQ(ScaledQuotient(0, 0), 0u);
  EXPECT_EQ(ScaledQuotient(5, 0), 0u);
  EXPECT_EQ(ScaledQuotient(1, 2), 0x80000000u);
  EXPECT_EQ(ScaledQuotient(3, 3), FRACTION_FULL);  // 2^32 does not fit
  EXPECT_EQ(ScaledQuotient(UINT64_MAX, 1), FRACTION_FULL);
  std::mt19937_64 random(7);
  for (int i = 0; i < 20000; ++i) {
    const uint64_t d = (random() >> (random() % 64)) | 1;
    const uint64_t n = random() % (d * 2 + 1);  // mostly below the limit
    const unsigned __int128 exact = (static_cast<unsigned __int128>(n) << 32) / d;
    const uint64_t expected = exact >= FRACTION_FULL ? FRACTION_FULL : static_cast<uint64_t>(exact);
    ASSERT_EQ(ScaledQuotient(n, d), expected) << n << " / " << d;
  }
}

}  // namespace
