// Measuring one highlight: local maximum and overlap, edge distances and the
// flat areas they uncover, the centre and contrast, and the refinement of
// radius and centre, on discs whose centre and radius are known.
#include "analysis/highlight_measurement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <thread>

#include "../runtime/log_test_support.h"
#include "../test_hooks_support.h"
#include "analysis_test_support.h"
#include "runtime/status.h"

namespace {

using analysistest::DrawDisc;
using analysistest::FillRect;
using analysistest::MakeLinearImage;
using analysistest::MeasurementFixture;
using analysistest::OwnedImage;
using analysistest::Rgb;
using analysistest::SetMask;
using analysistest::kDark;
using analysistest::Position;

const Rgb kWhite{1.0, 1.0, 1.0};

enum { E, SE, S, SW, W, NW, N, NE };

EdgeDistances Distances(std::initializer_list<float> values) {
  EdgeDistances d{};
  int i = 0;
  for (float v : values) d.d[i++] = v;
  return d;
}

TEST(HighlightLocalMaximum, ABrighterNeighbourRejectsAndAPlateauPasses) {
  OwnedImage image;
  MakeLinearImage(&image, 60, 60, kDark);
  DrawDisc(&image.image, 30, 30, 5.0, Rgb{0.8, 0.8, 0.8});
  DrawDisc(&image.image, 33, 30, 0.5, Rgb{0.9, 0.9, 0.9});  // one brighter pixel inside the plateau
  MeasurementFixture f(image.image);
  int32_t x = 32, y = 30;
  EXPECT_FALSE(LocateLightSourceCentre(&f.task, &x, &y));
  EXPECT_EQ(x, 32);
  EXPECT_EQ(y, 30);

  OwnedImage plateau;
  MakeLinearImage(&plateau, 60, 60, kDark);
  DrawDisc(&plateau.image, 30, 30, 5.0, Rgb{0.8, 0.8, 0.8});
  MeasurementFixture g(plateau.image);
  x = 32;
  y = 29;
  ASSERT_TRUE(LocateLightSourceCentre(&g.task, &x, &y));
  // Equal neighbours are allowed, and the centring walks to the middle.
  EXPECT_LE(std::abs(x - 30), 1);
  EXPECT_LE(std::abs(y - 30), 1);
}

TEST(HighlightLocalMaximum, AHighlightAlreadyListedRejectsItsPixels) {
  OwnedImage image;
  MakeLinearImage(&image, 60, 60, kDark);
  DrawDisc(&image.image, 30, 30, 5.0, kWhite);
  MeasurementFixture f(image.image);
  ASSERT_EQ(ReallocateBuffer(sizeof(LightSourceRecord), &f.task.list.records), 0);
  LightSourceRecord listed{};
  listed.x = 30;
  listed.y = 30;
  listed.radius = 5.0f;
  listed.squaredRadius = 25.0f;
  listed.state = LIGHT_SOURCE_SHOWN;
  ListRecords(&f.task.list)[0] = listed;
  f.task.list.count = 1;
  int32_t x = 33, y = 32;  // 13 < 25
  EXPECT_FALSE(LocateLightSourceCentre(&f.task, &x, &y));
}

TEST(HighlightEdges, AHardDiscHasItsRadiusAsEdgeInEveryDirection) {
  for (double radius : {3.0, 6.0, 11.0, 25.0}) {
    OwnedImage image;
    MakeLinearImage(&image, 100, 100, kDark);
    DrawDisc(&image.image, 50, 50, radius, kWhite);
    MeasurementFixture f(image.image);
    const EdgeDistances d = MeasureEdgeDistances(&f.task, 50, 50);
    // Along a diagonal the edge is as far, in pixels, as along an axis.
    for (int dir = 0; dir < EDGE_DIRECTIONS; ++dir) EXPECT_NEAR(d.d[dir], radius, 0.6) << radius << " " << dir;
  }
}

TEST(HighlightEdges, ARayLeavingTheImageLosesOnlyItsOwnDirection) {
  OwnedImage image;
  MakeLinearImage(&image, 60, 60, kDark);
  DrawDisc(&image.image, 3, 30, 8.0, kWhite);  // reaches past the left border
  MeasurementFixture f(image.image);
  const EdgeDistances d = MeasureEdgeDistances(&f.task, 3, 30);
  EXPECT_EQ(d.d[W], NO_EDGE);
  EXPECT_EQ(d.d[NW], NO_EDGE);
  EXPECT_EQ(d.d[SW], NO_EDGE);
  for (int dir : {E, SE, S, N, NE}) EXPECT_NEAR(d.d[dir], 8.0, 0.6) << dir;
  EXPECT_EQ(f.task.clearedRows.buffer, nullptr);
}

TEST(HighlightEdges, ALargeFlatAreaIsTakenOutOfTheSearch) {
  OwnedImage image;
  MakeLinearImage(&image, 320, 300, kDark);
  // A grey square far wider than a ray, a gap of black, and another square
  // of the same grey that the fill must not reach.
  const ImageRect square{10, 20, 270, 280};
  const ImageRect other{280, 20, 320, 280};
  FillRect(&image.image, square, Rgb{0.6, 0.6, 0.6});
  FillRect(&image.image, other, Rgb{0.6, 0.6, 0.6});
  MeasurementFixture f(image.image);
  const EdgeDistances d = MeasureEdgeDistances(&f.task, 30, 40);
  for (float v : d.d) EXPECT_EQ(v, NO_EDGE);
  for (int32_t y = 0; y < 300; y += 7) {
    for (int32_t x = 0; x < 320; x += 7) {
      const bool inSquare = x >= square.left && x < square.right && y >= square.top && y < square.bottom;
      ASSERT_EQ(ClearedByTask(f.task, x, y), inSquare) << x << ", " << y;
    }
  }
}

TEST(HighlightEdges, TheFillStopsAtTheSelectionAndAtOtherColours) {
  OwnedImage image;
  MakeLinearImage(&image, 300, 300, Rgb{0.6, 0.6, 0.6}, /*withMask=*/true);
  // Unselected column: the fill does not cross it.
  SetMask(&image.image, ImageRect{150, 0, 151, 300}, 0);
  // A band more than 1/8 brighter: another colour.
  FillRect(&image.image, ImageRect{0, 100, 300, 101}, Rgb{0.7, 0.7, 0.7});
  MeasurementFixture f(image.image);
  const EdgeDistances d = MeasureEdgeDistances(&f.task, 40, 200);
  for (float v : d.d) EXPECT_EQ(v, NO_EDGE);
  EXPECT_TRUE(ClearedByTask(f.task, 40, 200));
  EXPECT_TRUE(ClearedByTask(f.task, 149, 299));
  EXPECT_FALSE(ClearedByTask(f.task, 150, 200));  // unselected
  EXPECT_FALSE(ClearedByTask(f.task, 151, 200));  // beyond it
  EXPECT_FALSE(ClearedByTask(f.task, 40, 100));   // the brighter band
  EXPECT_FALSE(ClearedByTask(f.task, 40, 50));    // beyond the band
}

TEST(HighlightEdges, RaysEndingInAnotherColourClearNothing) {
  OwnedImage image;
  MakeLinearImage(&image, 300, 300, Rgb{0.8, 0.8, 0.8});
  // A darker square: every ray meets the brighter surround, which is no
  // falling edge but another colour, well within 201 steps.
  FillRect(&image.image, ImageRect{100, 100, 200, 200}, Rgb{0.6, 0.6, 0.6});
  MeasurementFixture f(image.image);
  const EdgeDistances d = MeasureEdgeDistances(&f.task, 150, 150);
  for (float v : d.d) EXPECT_EQ(v, NO_EDGE);
  EXPECT_EQ(f.task.clearedRows.buffer, nullptr);
}

TEST(HighlightStatistics, OutliersAreReplacedByTheMean) {
  EdgeDistances d = Distances({1, 1, 1, 1, 1, 1, 1, 9});
  MeanAndDeviation all = RobustMeanAndDeviation(&d, 0.0f);
  EXPECT_FLOAT_EQ(all.mean, 2.0f);
  EXPECT_FLOAT_EQ(all.deviation, std::sqrt(7.0f));  // (7 x 1 + 49) / 8
  for (float v : d.d) EXPECT_GE(v, 1.0f);           // nothing replaced without a limit
  MeanAndDeviation kept = RobustMeanAndDeviation(&d, 3.0f);
  EXPECT_FLOAT_EQ(kept.mean, 1.0f);
  EXPECT_FLOAT_EQ(kept.deviation, 1.0f);
  EXPECT_FLOAT_EQ(d.d[NE], 2.0f);

  EdgeDistances unknown = Distances({-1, 4, -1, -1, -1, -1, -1, 6});
  MeanAndDeviation two = RobustMeanAndDeviation(&unknown, 0.0f);
  EXPECT_FLOAT_EQ(two.mean, 5.0f);
  EXPECT_FLOAT_EQ(unknown.d[E], NO_EDGE);  // unknown entries stay unknown

  EdgeDistances none = Distances({-1, -1, -1, -1, -1, -1, -1, -1});
  MeanAndDeviation nothing = RobustMeanAndDeviation(&none, 0.0f);
  EXPECT_EQ(nothing.mean, -1.0f);
  EXPECT_EQ(nothing.deviation, -1.0f);
}

TEST(HighlightCentre, OneSideUnknownMeansNoCentre) {
  QuarterPoint c{};
  EXPECT_FALSE(CentreFromEdgeDistances(Distances({-1, -1, 3, -1, -1, -1, 3, -1}), 10, 10, &c));
  EXPECT_FALSE(CentreFromEdgeDistances(Distances({3, -1, -1, -1, 3, -1, -1, -1}), 10, 10, &c));
  ASSERT_TRUE(CentreFromEdgeDistances(Distances({3, -1, 3, -1, 3, -1, 3, -1}), 10, 10, &c));
  EXPECT_EQ(c.x, 10);
  EXPECT_EQ(c.xQuarter, 0);
  EXPECT_EQ(c.y, 10);
  EXPECT_EQ(c.yQuarter, 0);
}

TEST(HighlightCentre, DistancesMeasuredOffCentrePointBackToTheCentre) {
  OwnedImage image;
  MakeLinearImage(&image, 100, 100, kDark);
  DrawDisc(&image.image, 50, 50, 9.0, kWhite);
  MeasurementFixture f(image.image);
  for (auto [x, y] : {std::pair{52, 50}, std::pair{47, 51}, std::pair{50, 46}, std::pair{53, 53}}) {
    QuarterPoint c{};
    ASSERT_TRUE(CentreFromEdgeDistances(MeasureEdgeDistances(&f.task, x, y), x, y, &c));
    EXPECT_NEAR(Position(c.x, c.xQuarter), 50.0, 1.0) << x << ", " << y;
    EXPECT_NEAR(Position(c.y, c.yQuarter), 50.0, 1.0) << x << ", " << y;
  }
}

TEST(HighlightContrast, AFaintHighlightMustStandOutFromItsSurroundings) {
  OwnedImage image;
  MakeLinearImage(&image, 300, 100, kDark);
  DrawDisc(&image.image, 250, 50, 10.0, kWhite);  // the image's maximum
  // A half-bright disc on black, and the same disc in a surround nearly as
  // bright as itself: measured against the maximum, only the first stands out.
  DrawDisc(&image.image, 50, 50, 10.0, Rgb{0.5, 0.5, 0.5});
  DrawDisc(&image.image, 150, 50, 40.0, Rgb{0.46, 0.46, 0.46});
  DrawDisc(&image.image, 150, 50, 10.0, Rgb{0.5, 0.5, 0.5});
  MeasurementFixture f(image.image);
  EXPECT_TRUE(EdgeContrastSufficient(&f.task, 10.0f, QuarterPoint{50, 0, 50, 0}));
  EXPECT_FALSE(EdgeContrastSufficient(&f.task, 10.0f, QuarterPoint{150, 0, 50, 0}));
  EXPECT_TRUE(EdgeContrastSufficient(&f.task, 10.0f, QuarterPoint{250, 0, 50, 0}));
  EXPECT_FALSE(EdgeContrastSufficient(&f.task, 10.0f, QuarterPoint{350, 0, 50, 0}));  // outside
}

TEST(HighlightRefinement, AdjustCentreStepsBackFromAPixelOff) {
  for (double radius : {3.0, 6.0, 12.0}) {
    OwnedImage image;
    MakeLinearImage(&image, 100, 100, kDark);
    DrawDisc(&image.image, 50, 50, radius, kWhite);
    MeasurementFixture f(image.image);
    const float r = static_cast<float>(radius - 0.5);
    for (QuarterPoint c : {QuarterPoint{51, 0, 50, 0}, QuarterPoint{49, 0, 51, 0}}) {
      EXPECT_TRUE(AdjustCentre(&f.task, &c, r)) << radius;
      EXPECT_EQ(c.x, 50) << radius;
      EXPECT_EQ(c.y, 50) << radius;
      EXPECT_FALSE(AdjustCentre(&f.task, &c, r)) << radius;
    }
  }
}

TEST(HighlightRefinement, SmallHighlightsAreNeverRejectedForTakingLong) {
  for (double radius = 1.0; radius <= 8.0; radius += 0.75) {
    OwnedImage image;
    MakeLinearImage(&image, 100, 100, kDark);
    DrawDisc(&image.image, 50.25, 49.5, radius, kWhite);
    MeasurementFixture f(image.image);
    // However poor the start, the refinement of a small highlight succeeds
    // and leaves a whole-pixel centre.
    QuarterPoint c{52, 2, 48, 0};
    float r = static_cast<float>(2 * radius);
    EXPECT_TRUE(RefineRadiusAndCentre(&f.task, &c, &r)) << radius;
    EXPECT_EQ(c.xQuarter, 0);
    EXPECT_EQ(c.yQuarter, 0);
  }
}

TEST(HighlightRefinement, FromNearTheCentreItSettlesOnTheCentre) {
  for (double radius : {3.0, 6.0, 12.0, 24.0}) {
    OwnedImage image;
    MakeLinearImage(&image, 120, 120, kDark);
    DrawDisc(&image.image, 60, 60, radius, kWhite);
    MeasurementFixture f(image.image);
    QuarterPoint c{61, 0, 59, 0};
    float r = static_cast<float>(radius);
    ASSERT_TRUE(RefineRadiusAndCentre(&f.task, &c, &r)) << radius;
    EXPECT_EQ(c.x, 60) << radius;
    EXPECT_EQ(c.y, 60) << radius;
    // The radius is where the ring is still clearly bright: inside the edge.
    EXPECT_GE(r, radius - 1.0) << radius;
    EXPECT_LT(r, radius) << radius;
  }
}

TEST(HighlightRefinement, TheRadiusNeverShrinksBelowAnEighth) {
  OwnedImage image;
  MakeLinearImage(&image, 40, 40, kDark);
  DrawDisc(&image.image, 20, 20, 0.3, kWhite);
  MeasurementFixture f(image.image);
  // From the centre of a dot smaller than a pixel, and from beside it, where
  // every ring is darker than the core and the radius wants to shrink.
  for (QuarterPoint c : {QuarterPoint{20, 0, 20, 0}, QuarterPoint{21, 0, 20, 0}, QuarterPoint{21, 0, 21, 0}}) {
    for (float start : {0.125f, 0.25f, 0.375f, 1.0f, 2.0f}) {
      float r = start;
      AdjustRadius(&f.task, c, &r);
      EXPECT_GE(r, 0.125f) << start;
    }
  }
}

TEST(HighlightRefinement, TheCentreLandsOnTheNearestQuarter) {
  for (double dx : {0.0, 0.25, 0.5, 0.75}) {
    for (double radius : {2.5, 7.0, 30.0}) {
      OwnedImage image;
      MakeLinearImage(&image, 120, 120, kDark);
      DrawDisc(&image.image, 60 + dx, 60 - dx, radius, Rgb{0.9, 0.7, 0.5});
      MeasurementFixture f(image.image);
      QuarterPoint c{static_cast<int32_t>(std::lround(60 + dx)), 0, static_cast<int32_t>(std::lround(60 - dx)), 0};
      ASSERT_TRUE(RefineCentreToQuarters(&f.task, &c, static_cast<float>(radius - 0.5)));
      EXPECT_NEAR(Position(c.x, c.xQuarter), 60 + dx, 0.13) << dx << " " << radius;
      EXPECT_NEAR(Position(c.y, c.yQuarter), 60 - dx, 0.13) << dx << " " << radius;
    }
  }
}

class HighlightFlatFill : public logtest::DebugLogTest {};

TEST_F(HighlightFlatFill, AFillWithoutMemoryIsReportedAndSetsTheResultCode) {
  OpenLog(LOGMODE_IMMEDIATE);
  OwnedImage image;
  MakeLinearImage(&image, 300, 300, Rgb{0.5, 0.5, 0.5});
  MeasurementFixture f(image.image);
  bool filled = true;
  std::thread([&] {
    testhooks::Hooks().failAllocations = 1;
    filled = ClearFlatRegion(&f.task, PixelValue{8388608, 8388608, 8388608, FRACTION_FULL, FRACTION_FULL}, 10, 10);
  }).join();
  EXPECT_FALSE(filled);
  EXPECT_EQ(f.resultCode.load(), STATUS_OUT_OF_MEMORY);
  EXPECT_NE(CloseAndRead().find("Unable to allocate memory for a flood fill list."), std::string::npos);
}

}  // namespace
