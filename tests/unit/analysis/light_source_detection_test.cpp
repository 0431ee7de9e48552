// Detection in one section: the section's list of highlights, the two
// passes, the examination of candidates on discs of known centre, radius and
// colour, and the mapping of analysis positions back to host pixels.
#include "analysis/light_source_detection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "../runtime/log_test_support.h"
#include "../test_hooks_support.h"
#include "analysis_test_support.h"

namespace {

using analysistest::DrawDisc;
using analysistest::MakeLinearImage;
using analysistest::MeasurementFixture;
using analysistest::OwnedImage;
using analysistest::Rgb;
using analysistest::SetAlpha16;

using analysistest::kDark;
using analysistest::Position;

// A task with a list and nothing else, for the list's own rules.
struct ListFixture {
  AnalysisContext context;
  AnalyzeSectionTask task{};
  ListFixture() { task.context = &context; }
  ~ListFixture() { FreeAnalysisTask(&task); }
  bool Add(int32_t x, int32_t y, float radius, uint32_t red = 1, int32_t xq = 0, int32_t yq = 0) {
    return AddLightSource(&task, radius, radius * radius, red, 2, 3, QuarterPoint{x, xq, y, yq});
  }
  const LightSourceRecord& At(uint32_t i) { return ListRecords(&task.list)[i]; }
};

TEST(AnalysisSectionList, NewHighlightsAreAppendedAndOverlapsMatched) {
  ListFixture f;
  ASSERT_TRUE(f.Add(10, 10, 3.0f, 100, 1, 2));
  ASSERT_EQ(f.task.list.count, 1u);
  const LightSourceRecord& a = f.At(0);
  EXPECT_EQ(a.x, 10);
  EXPECT_EQ(a.xQuarter, 1);
  EXPECT_EQ(a.yQuarter, 2);
  EXPECT_EQ(a.red, 100u);
  EXPECT_EQ(a.effectWeight, FRACTION_FULL);
  EXPECT_EQ(a.reserved, 0xFFFFFFFFu);
  EXPECT_EQ(a.state, LIGHT_SOURCE_SHOWN);
  EXPECT_EQ(a.previousState, LIGHT_SOURCE_SHOWN);
  EXPECT_EQ(a.brightness, 0u);  // the table computes it
  EXPECT_EQ(f.task.list.largestRadius, 3.0f);

  // A smaller highlight inside: nothing changes.
  EXPECT_FALSE(f.Add(11, 10, 2.0f, 200));
  EXPECT_EQ(f.task.list.count, 1u);
  EXPECT_EQ(f.At(0).red, 100u);

  // A larger one over it takes its place, size and colour; states stay.
  ListRecords(&f.task.list)[0].effectWeight = 77;
  EXPECT_TRUE(f.Add(10, 12, 5.0f, 300));
  ASSERT_EQ(f.task.list.count, 1u);
  EXPECT_EQ(f.At(0).y, 12);
  EXPECT_EQ(f.At(0).xQuarter, 0);
  EXPECT_EQ(f.At(0).radius, 5.0f);
  EXPECT_EQ(f.At(0).squaredRadius, 25.0f);
  EXPECT_EQ(f.At(0).red, 300u);
  EXPECT_EQ(f.At(0).effectWeight, 77u);
  EXPECT_EQ(f.task.list.largestRadius, 5.0f);

  // Far away: a new record. Beside a hidden record: a new record too.
  EXPECT_TRUE(f.Add(100, 100, 2.0f));
  EXPECT_EQ(f.task.list.count, 2u);
  ListRecords(&f.task.list)[1].state = LIGHT_SOURCE_HIDDEN;
  EXPECT_TRUE(f.Add(100, 101, 1.0f));
  EXPECT_EQ(f.task.list.count, 3u);
}

TEST(AnalysisSectionList, ALargerHighlightOverSeveralLeavesOneRecord) {
  ListFixture f;
  ASSERT_TRUE(f.Add(10, 10, 2.0f));
  ASSERT_TRUE(f.Add(14, 10, 2.0f));
  ASSERT_TRUE(f.Add(12, 40, 2.0f));
  ASSERT_EQ(f.task.list.count, 3u);
  // Covers the first two: they become one record, not two copies.
  EXPECT_TRUE(f.Add(12, 10, 5.0f, 9));
  ASSERT_EQ(f.task.list.count, 2u);
  int covering = 0;
  for (uint32_t i = 0; i < f.task.list.count; ++i) {
    if (f.At(i).y == 10) {
      ++covering;
      EXPECT_EQ(f.At(i).x, 12);
      EXPECT_EQ(f.At(i).radius, 5.0f);
      EXPECT_EQ(f.At(i).red, 9u);
    } else {
      EXPECT_EQ(f.At(i).y, 40);
    }
  }
  EXPECT_EQ(covering, 1);
}

TEST(AnalysisSectionList, HighlightsGoToTheSectionOfTheirCentre) {
  AnalysisContext context;
  AnalyzeSectionTask tasks[3] = {};
  for (int k = 0; k < 3; ++k) {
    tasks[k].context = &context;
    tasks[k].section = ImageRect{0, 50 * k, 200, 50 * (k + 1)};
  }
  auto add = [&](int k, int32_t x, int32_t y, int32_t yq, float r, uint32_t red) {
    ASSERT_TRUE(AddLightSource(&tasks[k], r, r * r, red, 0, 0, QuarterPoint{x, 0, y, yq}));
  };
  // One highlight reached from the first and the last section, far from
  // both boundaries of the last; and one that stays where it was found.
  add(0, 80, 120, 0, 3.0f, 1);
  add(0, 10, 20, 0, 1.0f, 2);
  add(2, 80, 120, 1, 2.0f, 3);
  add(2, 150, 140, 0, 1.0f, 4);
  GatherHighlightsBySection(tasks, 3);
  EXPECT_EQ(tasks[0].list.count, 1u);
  EXPECT_EQ(tasks[1].list.count, 0u);
  ASSERT_EQ(tasks[2].list.count, 2u);
  EXPECT_EQ(ListRecords(&tasks[2].list)[0].y, 120);
  EXPECT_EQ(ListRecords(&tasks[2].list)[0].red, 1u);  // the larger of the two
  EXPECT_EQ(ListRecords(&tasks[2].list)[0].radius, 3.0f);
  EXPECT_EQ(ListRecords(&tasks[2].list)[1].red, 4u);
  EXPECT_EQ(tasks[2].list.largestRadius, 3.0f);
  for (AnalyzeSectionTask& task : tasks) FreeAnalysisTask(&task);
}

class AnalysisSectionListMemory : public logtest::DebugLogTest {};

TEST_F(AnalysisSectionListMemory, AListThatCannotGrowWarnsOnceAndKeepsWhatItHas) {
  OpenLog(LOGMODE_IMMEDIATE);
  ListFixture f;
  ASSERT_TRUE(f.Add(0, 0, 1.0f));
  // Fill the list to its capacity with highlights far apart.
  const uint32_t capacity = ListCapacity(&f.task.list);
  for (uint32_t i = f.task.list.count; i < capacity; ++i)
    ASSERT_TRUE(f.Add(static_cast<int32_t>(i % 1000) * 10, static_cast<int32_t>(i / 1000) * 10, 1.0f));
  ASSERT_EQ(f.task.list.count, capacity);
  bool first = true, second = true;
  std::thread([&] {
    testhooks::Hooks().failAllocations = 1;
    first = f.Add(-500, -500, 1.0f);
    second = f.Add(-600, -600, 1.0f);
  }).join();
  EXPECT_FALSE(first);
  EXPECT_FALSE(second);
  EXPECT_TRUE(f.task.listFull);
  EXPECT_EQ(f.task.list.count, capacity);
  EXPECT_EQ(f.At(0).x, 0);
  // Matching still works on a full list.
  EXPECT_TRUE(f.Add(0, 0, 3.0f));
  const std::string log = CloseAndRead();
  const std::string warning = "Low memory.  Check image - some effects may not be rendered.";
  const size_t at = log.find(warning);
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(log.find(warning, at + 1), std::string::npos);
}

struct Disc {
  double x, y, radius;
  Rgb colour;
};

// Runs pass 1 and pass 2 over the whole image as one section.
void SearchWholeImage(MeasurementFixture& f) { AnalyzeSection(&f.task); }

TEST(AnalysisDetection, DiscsAreFoundAtTheirCentreWithTheirSizeAndColour) {
  const Disc discs[] = {
      {40.0, 40.0, 2.5, {1.0, 1.0, 1.0}},     {120.25, 50.5, 6.0, {1.0, 0.5, 0.25}},
      {220.75, 45.25, 10.0, {0.6, 0.8, 1.0}}, {320.5, 60.75, 20.0, {0.9, 0.9, 0.45}},
      {60.25, 180.0, 3.5, {0.3, 1.0, 0.6}},   {200.5, 200.25, 40.0, {1.0, 0.95, 0.9}},
  };
  OwnedImage image;
  MakeLinearImage(&image, 400, 300, kDark);
  for (const Disc& d : discs) DrawDisc(&image.image, d.x, d.y, d.radius, d.colour);
  MeasurementFixture f(image.image);
  SearchWholeImage(f);
  ASSERT_EQ(f.task.list.count, std::size(discs));
  for (const Disc& d : discs) {
    const LightSourceRecord* found = nullptr;
    for (uint32_t i = 0; i < f.task.list.count; ++i) {
      const LightSourceRecord& e = ListRecords(&f.task.list)[i];
      if (std::hypot(Position(e.x, e.xQuarter) - d.x, Position(e.y, e.yQuarter) - d.y) < 1.0) found = &e;
    }
    ASSERT_NE(found, nullptr) << d.x << ", " << d.y;
    EXPECT_NEAR(Position(found->x, found->xQuarter), d.x, 0.25) << d.x;
    EXPECT_NEAR(Position(found->y, found->yQuarter), d.y, 0.25) << d.y;
    // The radius is where the highlight is still uniformly bright: the
    // anti-aliased edge pixel puts that half a pixel inside the drawn edge.
    EXPECT_NEAR(found->radius, d.radius - 0.5, 0.25) << d.radius;
    EXPECT_FLOAT_EQ(found->squaredRadius, found->radius * found->radius);
    // The colour keeps the disc's proportions, scaled by its weight.
    // (within 1 %: the ring at the radius sees a little of the background).
    const double green = d.colour.green / d.colour.red, blue = d.colour.blue / d.colour.red;
    EXPECT_NEAR(found->green / static_cast<double>(found->red), green, 0.01 * green) << d.x;
    EXPECT_NEAR(found->blue / static_cast<double>(found->red), blue, 0.01 * blue) << d.x;
  }
  for (uint32_t i = 1; i < f.task.list.count; ++i)
    EXPECT_LE(ListRecords(&f.task.list)[i - 1].y, ListRecords(&f.task.list)[i].y);
  EXPECT_EQ(f.context.rowsDone.load(), 300);
}

TEST(AnalysisDetection, TwoCandidatesInOneHighlightGiveOneRecord) {
  OwnedImage image;
  MakeLinearImage(&image, 100, 100, kDark);
  DrawDisc(&image.image, 50, 50, 8.0, Rgb{1.0, 1.0, 1.0});
  MeasurementFixture f(image.image);
  EXPECT_TRUE(ExtractLightSource(&f.task, 48, 47));
  EXPECT_FALSE(ExtractLightSource(&f.task, 53, 52));
  EXPECT_EQ(f.task.list.count, 1u);
}

TEST(AnalysisDetection, HighlightsWiderThanTheLimitAreRejected) {
  for (double radius : {90.0, 110.0}) {
    OwnedImage image;
    MakeLinearImage(&image, 320, 320, kDark);
    DrawDisc(&image.image, 160, 160, radius, Rgb{1.0, 1.0, 1.0});
    MeasurementFixture f(image.image);
    EXPECT_EQ(ExtractLightSource(&f.task, 160, 160), radius < 96.0) << radius;
    EXPECT_EQ(f.task.list.count, radius < 96.0 ? 1u : 0u) << radius;
  }
}

TEST(AnalysisDetection, PassOneCountsOpaquePixelsOnly) {
  OwnedImage image;
  MakeLinearImage(&image, 50, 50, kDark);
  DrawDisc(&image.image, 10, 10, 3.0, Rgb{1.0, 1.0, 1.0});
  DrawDisc(&image.image, 40, 40, 3.0, Rgb{0.5, 0.5, 0.5});
  SetAlpha16(&image.image, ImageRect{0, 0, 25, 25}, 0);
  MeasurementFixture f(image.image);
  const uint32_t half = static_cast<uint32_t>(std::lround(0.5 * 65535) * 16777215ll / 65535);
  EXPECT_NEAR(f.context.maximumBrightness, Brightness(half, half, half), 300.0);
}

TEST(AnalysisDetection, TransparentAndUnselectedPixelsAreNoCandidates) {
  OwnedImage image;
  MakeLinearImage(&image, 80, 40, kDark, /*withMask=*/true);
  DrawDisc(&image.image, 20, 20, 5.0, Rgb{1.0, 1.0, 1.0});
  DrawDisc(&image.image, 60, 20, 5.0, Rgb{1.0, 1.0, 1.0});
  SetAlpha16(&image.image, ImageRect{0, 0, 40, 40}, 0);
  analysistest::SetMask(&image.image, ImageRect{40, 0, 80, 40}, 127);  // just below half selected
  MeasurementFixture f(image.image);
  SearchWholeImage(f);
  EXPECT_EQ(f.task.list.count, 0u);
  analysistest::SetMask(&f.context.image, ImageRect{40, 0, 80, 40}, 128);
  SearchWholeImage(f);
  EXPECT_EQ(f.task.list.count, 1u);
}

TEST(AnalysisHostMapping, PositionsLandOnTheCentresOfTheirBlocks) {
  int32_t pixel = 0, quarter = 0;
  // Unreduced: positions stay.
  const AnalysisToHost same{ImageRect{5, 7, 105, 57}, ImageRect{5, 7, 105, 57}, 1.0};
  AnalysisToHostCoordinate(same, false, 40, 3, &pixel, &quarter);
  EXPECT_EQ(pixel, 40);
  EXPECT_EQ(quarter, 3);

  // 3000 host rows on 1800: analysis row i averages rows 5i/3 .. 5i/3 + 1.
  const AnalysisToHost tall{ImageRect{0, 0, 1500, 3000}, ImageRect{0, 0, 900, 1800}, 3000.0 / 1800.0};
  AnalysisToHostCoordinate(tall, true, 0, 0, &pixel, &quarter);
  EXPECT_EQ(pixel, 0);
  EXPECT_EQ(quarter, 2);  // between host rows 0 and 1
  AnalysisToHostCoordinate(tall, true, 3, 0, &pixel, &quarter);
  EXPECT_EQ(pixel, 5);
  EXPECT_EQ(quarter, 2);
  AnalysisToHostCoordinate(tall, true, 3, 2, &pixel, &quarter);  // + half a pixel of 5/3
  EXPECT_EQ(pixel, 6);
  EXPECT_EQ(quarter, 1);

  // An offset filter rectangle: analysis pixel 60 stands for host 100..103.
  const AnalysisToHost offset{ImageRect{100, 0, 6100, 4000}, ImageRect{30, 0, 1830, 1200}, 6000.0 / 1800.0};
  AnalysisToHostCoordinate(offset, false, 30, 0, &pixel, &quarter);
  EXPECT_EQ(pixel, 101);
  EXPECT_EQ(quarter, 2);

  LightSourceList list{};
  ASSERT_EQ(ReallocateBuffer(2 * sizeof(LightSourceRecord), &list.records), 0);
  ListRecords(&list)[0] = LightSourceRecord{30, 0, 9, 0, 2.0f, 4.0f, 0, 1, 1, 1, FRACTION_FULL, 0xFFFFFFFF, 1, 1};
  ListRecords(&list)[1] = LightSourceRecord{31, 0, 3, 0, 1.0f, 1.0f, 0, 1, 1, 1, FRACTION_FULL, 0xFFFFFFFF, 1, 1};
  list.count = 2;
  list.largestRadius = 2.0f;
  ConvertListToHostCoordinates(&list, offset);
  EXPECT_EQ(ListRecords(&list)[0].y, 11);  // rows 10..13, sorted first now
  EXPECT_EQ(ListRecords(&list)[0].yQuarter, 2);
  EXPECT_FLOAT_EQ(ListRecords(&list)[1].radius, 2.0f * 6000.0f / 1800.0f);
  EXPECT_FLOAT_EQ(ListRecords(&list)[1].squaredRadius, ListRecords(&list)[1].radius * ListRecords(&list)[1].radius);
  EXPECT_FLOAT_EQ(list.largestRadius, 2.0f * 6000.0f / 1800.0f);
  DeallocateBuffer(&list.records);
}

}  // namespace
