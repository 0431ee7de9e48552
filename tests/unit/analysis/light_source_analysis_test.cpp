// Whole analysis runs through a private stand-in of the light source table:
// what ends up in the table, that it does not depend on the number of
// workers, the reduction of tall images, stopping, failures, and images with
// nothing to find.
#include "analysis/light_source_analysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "../runtime/log_test_support.h"
#include "../test_hooks_support.h"
#include "analysis/light_source_detection.h"
#include "analysis_test_support.h"
#include "image/pixel_access.h"
#include "runtime/status.h"
#include "table_stand_in.h"

namespace {

using analysistest::AlreadyLinear;
using analysistest::DrawDisc;
using analysistest::FillRect;
using analysistest::MakeLinearImage;
using analysistest::Nearest;
using analysistest::OwnedImage;
using analysistest::Rgb;
using analysistest::RunAnalysis;
using analysistest::RunResult;

using analysistest::kDark;
using analysistest::Position;
using analysistest::StandInSetup;

bool SameTables(const std::vector<LightSourceRecord>& a, const std::vector<LightSourceRecord>& b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof a[0]) == 0);
}

// Deterministic pseudo-random numbers in [0, 1): raw generator output, so
// that every platform draws the same image.
struct Draw {
  std::mt19937 generator;
  explicit Draw(uint32_t seed) : generator(seed) {}
  double operator()() { return generator() / 4294967296.0; }
};

// Highlights of every size across the section boundaries, a flat bright
// area over several sections with faint bumps in it, and a textured band
// that makes many candidates.
void MakeBusyImage(OwnedImage* image, int32_t width, int32_t height, uint32_t seed) {
  Draw draw(seed);
  MakeLinearImage(image, width, height, Rgb{0.02, 0.03, 0.05});
  for (int32_t y = 0; y < height / 6; y += 2) {
    for (int32_t x = 0; x < width; x += 2) {
      const double v = 0.4 + 0.3 * draw();
      FillRect(&image->image, ImageRect{x, y, x + 2, y + 2}, Rgb{v, v * 0.9, v * 0.8});
    }
  }
  FillRect(&image->image, ImageRect{width / 2, height / 4, width, height * 3 / 4}, Rgb{0.8, 0.8, 0.8});
  for (int i = 0; i < 6; ++i)
    DrawDisc(&image->image, width * (0.55 + 0.07 * i), height * (0.3 + 0.07 * i), 3.0, Rgb{0.84, 0.84, 0.84});
  for (int i = 0; i < 70; ++i) {
    const double x = std::floor(draw() * width * 4) / 4, y = std::floor(draw() * height * 4) / 4;
    const double r = 1.5 + 28.0 * draw() * draw();
    DrawDisc(&image->image, x, y, r, Rgb{0.5 + 0.5 * draw(), 0.5 + 0.5 * draw(), 0.5 + 0.5 * draw()});
  }
}

TEST(AnalysisRun, DiscsAreFoundRankedAndNormalised) {
  OwnedImage image;
  MakeLinearImage(&image, 400, 300, kDark);
  DrawDisc(&image.image, 100.25, 80.5, 12.0, Rgb{1.0, 0.8, 0.6});     // brightest and largest
  DrawDisc(&image.image, 300.75, 90.0, 12.0, Rgb{0.85, 0.68, 0.51});  // same colour, dimmer
  DrawDisc(&image.image, 200.0, 220.25, 4.0, Rgb{0.9, 0.9, 1.0});     // small
  const RunResult run = RunAnalysis(image.image, 2);
  ASSERT_TRUE(run.started);
  EXPECT_EQ(run.resultCode, 0);
  ASSERT_EQ(run.table.size(), 3u);
  for (size_t i = 1; i < run.table.size(); ++i) EXPECT_GE(run.table[i - 1].brightness, run.table[i].brightness);
  EXPECT_EQ(Position(run.table[0].x, run.table[0].xQuarter), 100.25);
  EXPECT_EQ(Position(run.table[0].y, run.table[0].yQuarter), 80.5);
  // Normalised to the largest channel of all: the brightest entry's red.
  EXPECT_EQ(run.table[0].red, FRACTION_FULL);
  uint32_t largest = 0;
  for (const LightSourceRecord& e : run.table) largest = std::max({largest, e.red, e.green, e.blue});
  EXPECT_EQ(largest, FRACTION_FULL);
  const LightSourceRecord* dim = Nearest(run.table, 300.75, 90.0, 0.25);
  ASSERT_NE(dim, nullptr);
  EXPECT_LT(dim->brightness, run.table[0].brightness);
  EXPECT_NEAR(dim->green / static_cast<double>(dim->red), 0.8, 0.01);
  EXPECT_NE(Nearest(run.table, 200.0, 220.25, 0.25), nullptr);
}

TEST(AnalysisRun, TheTableDoesNotDependOnTheNumberOfWorkers) {
  OwnedImage image;
  MakeBusyImage(&image, 640, 480, 12345);
  const RunResult one = RunAnalysis(image.image, 1);
  ASSERT_EQ(one.resultCode, 0);
  ASSERT_GT(one.table.size(), 40u);
  for (int32_t workers : {2, 3, 5, 24}) {
    const RunResult many = RunAnalysis(image.image, workers);
    EXPECT_TRUE(SameTables(one.table, many.table)) << workers << " workers: " << many.table.size() << " entries";
  }
}

TEST(AnalysisRun, ReusedMeasurementsNeverChangeTheTable) {
  OwnedImage image;
  MakeBusyImage(&image, 480, 360, 777);
  const RunResult reused = RunAnalysis(image.image, 2);
  testhooks::Hooks().analysisMemosDisabled = !(false);
  const RunResult measured = RunAnalysis(image.image, 2);
  testhooks::Hooks().analysisMemosDisabled = !(true);
  ASSERT_GT(reused.table.size(), 20u);
  EXPECT_TRUE(SameTables(reused.table, measured.table));
}

TEST(AnalysisRun, AWideImageIsAnalysedAtFullSize) {
  OwnedImage image;
  MakeLinearImage(&image, 3000, 1500, kDark);
  const double xs[] = {150.25, 1400.5, 2900.75};
  for (double x : xs) DrawDisc(&image.image, x, 700.25, 8.0, Rgb{1.0, 1.0, 1.0});
  const RunResult run = RunAnalysis(image.image, 2);
  ASSERT_EQ(run.table.size(), 3u);
  for (double x : xs) {
    const LightSourceRecord* e = Nearest(run.table, x, 700.25, 0.25);
    ASSERT_NE(e, nullptr) << x;
    EXPECT_NEAR(e->radius, 7.5, 0.25);
  }
}

TEST(AnalysisRun, ATallImageIsReducedAndMappedBackToHostPixels) {
  OwnedImage image;
  MakeLinearImage(&image, 1500, 3000, kDark);
  const double scale = 3000.0 / 1800.0;
  std::vector<std::pair<double, double>> truth;
  for (int i = 0; i < 10; ++i) {
    const double x = 120.0 + i * 131.25, y = 200.0 + i * 270.5 + (i % 4) * 0.25;
    DrawDisc(&image.image, x, y, 12.0, Rgb{1.0, 0.9, 0.8});
    truth.emplace_back(x, y);
  }
  const RunResult run = RunAnalysis(image.image, 2);
  ASSERT_EQ(run.resultCode, 0);
  ASSERT_EQ(run.table.size(), truth.size());
  for (auto [x, y] : truth) {
    // A quarter of an analysis pixel at this scale, plus the half pixel
    // by which the reduction's whole-pixel blocks may miss the exact ratio.
    const LightSourceRecord* e = Nearest(run.table, x, y, scale / 8 + 0.5);
    ASSERT_NE(e, nullptr) << x << ", " << y;
    EXPECT_NEAR(e->radius, 11.5, scale / 4 + 0.5);
    EXPECT_FLOAT_EQ(e->squaredRadius, e->radius * e->radius);
  }
  // Each section's top row went to the table in host rows.
  ASSERT_EQ(run.sectionTops.size(), 24u);
  EXPECT_EQ(run.sectionTops[0], 0);
  EXPECT_EQ(run.sectionTops[1], 125);  // analysis row 75
}

std::atomic<int32_t> g_stopAtRow{-1};
void StopAtRow(int32_t rowsDone) {
  if (rowsDone == g_stopAtRow.load()) {
    standin::StopFlags().stop = true;  // as the run's owner stops it
    standin::StopFlags().stopAll = true;
  }
}

TEST(AnalysisRun, AStopDuringTheSearchSetsTheEventAndLeavesTheTableEmpty) {
  OwnedImage image;
  MakeBusyImage(&image, 480, 360, 99);
  std::atomic<int16_t> resultCode{0};
  const LightSourceAnalysisSetup setup = StandInSetup(image.image, &resultCode, AlreadyLinear, 3);
  g_stopAtRow = 40;
  testhooks::Hooks().analysisRowObserver = StopAtRow;
  LightSourceAnalysis* analysis = nullptr;
  ASSERT_TRUE(StartLightSourceAnalysis(setup, &analysis));
  EXPECT_TRUE(WaitForLightSourceAnalysis(analysis, 60000));
  testhooks::Hooks().analysisRowObserver = nullptr;
  EXPECT_TRUE(standin::Entries().empty());
  EXPECT_TRUE(standin::SectionTops().empty());  // nothing handed over
  EXPECT_EQ(resultCode.load(), 0);              // a stop is not a failure
  const LightSourceAnalysisProgress progress = GetLightSourceAnalysisProgress(analysis);
  EXPECT_EQ(progress.done, progress.total);
  ReleaseLightSourceAnalysis(&analysis);
  EXPECT_EQ(analysis, nullptr);
  EXPECT_FALSE(standin::StopFlags().stop.load());
  EXPECT_FALSE(standin::StopFlags().stopAll.load());
}

TEST(AnalysisRun, ProgressCountsTheAnalysisRows) {
  OwnedImage image;
  MakeLinearImage(&image, 200, 2400, kDark);
  std::atomic<int16_t> resultCode{0};
  const LightSourceAnalysisSetup setup = StandInSetup(image.image, &resultCode);
  LightSourceAnalysis* analysis = nullptr;
  ASSERT_TRUE(StartLightSourceAnalysis(setup, &analysis));
  const LightSourceAnalysisProgress early = GetLightSourceAnalysisProgress(analysis);
  EXPECT_GE(early.total, 1);
  EXPECT_LE(early.done, early.total);
  ASSERT_TRUE(WaitForLightSourceAnalysis(analysis, -1));
  const LightSourceAnalysisProgress done = GetLightSourceAnalysisProgress(analysis);
  EXPECT_EQ(done.total, 1800);
  EXPECT_EQ(done.done, 1800);
  ReleaseLightSourceAnalysis(&analysis);
  ReleaseLightSourceAnalysis(&analysis);  // twice is harmless
  EXPECT_TRUE(WaitForLightSourceAnalysis(nullptr, 0));
}

TEST(AnalysisRun, ImagesWithNothingToFindGiveAnEmptyTable) {
  struct Case {
    const char* what;
    int32_t width, height;
    Rgb colour;
    bool mask;
    void (*prepare)(Image*);
  };
  const Case cases[] = {
      {"all transparent", 300, 200, Rgb{1, 1, 1}, false,
       [](Image* i) {
         analysistest::SetAlpha16(i, ImageRect{0, 0, 300, 200}, 0);
       }},
      {"opaque black", 300, 200, Rgb{0, 0, 0}, false, nullptr},
      {"one flat bright area", 1200, 900, Rgb{0.9, 0.9, 0.9}, false, nullptr},
      {"nothing selected", 300, 200, Rgb{0.5, 0.5, 0.5}, true,
       [](Image* i) {
         DrawDisc(i, 100, 100, 5.0, Rgb{1, 1, 1});
         analysistest::SetMask(i, ImageRect{0, 0, 300, 200}, 0);
       }},
      {"a single pixel", 1, 1, Rgb{1, 1, 1}, false, nullptr},
  };
  for (const Case& c : cases) {
    OwnedImage image;
    MakeLinearImage(&image, c.width, c.height, c.colour, c.mask);
    if (c.prepare != nullptr) c.prepare(&image.image);
    const RunResult run = RunAnalysis(image.image, 2);
    EXPECT_TRUE(run.started) << c.what;
    EXPECT_EQ(run.resultCode, 0) << c.what;
    EXPECT_TRUE(run.table.empty()) << c.what << ": " << run.table.size();
  }
}

TEST(AnalysisRun, AnImageOf32767RowsIsReducedTo1800) {
  const ImageRect rect{0, 0, 64, 32767};
  OwnedImage image;
  ASSERT_TRUE(CreateImage(rect, false, &image.image, rect, IMAGE_MODE_RGB8, nullptr, 2.2, false, nullptr));
  FillImageRect(rect, PixelValue{200000, 200000, 200000, PIXEL_OPAQUE, PIXEL_OPAQUE}, &image.image);
  // Bright bars, each tall enough to survive the reduction by 18.
  for (int32_t y = 1000; y < 32767; y += 4000)
    FillImageRect(ImageRect{20, y, 44, y + 60},
                  PixelValue{PIXEL_FULL, PIXEL_FULL, PIXEL_FULL, PIXEL_OPAQUE, PIXEL_OPAQUE}, &image.image);
  const RunResult run = RunAnalysis(image.image, 2, analysistest::DecodeGamma22);
  ASSERT_TRUE(run.started);
  EXPECT_EQ(run.resultCode, 0);
  for (const LightSourceRecord& e : run.table) {
    EXPECT_GE(e.x, 0);
    EXPECT_LT(e.x, 64);
    EXPECT_GE(e.y, 0);
    EXPECT_LT(e.y, 32767);
    EXPECT_GT(e.radius, 0.0f);
  }
}

class AnalysisRunFailures : public logtest::DebugLogTest {};

bool RefuseToConvert(Image*) { return false; }

TEST_F(AnalysisRunFailures, ARunThatCannotStartIsReportedWithItsStatus) {
  OpenLog(LOGMODE_IMMEDIATE);
  OwnedImage image;
  MakeLinearImage(&image, 10, 10, kDark);
  std::atomic<int16_t> resultCode{0};
  LightSourceAnalysisSetup setup{};
  setup.hostImage = &image.image;
  setup.resultCode = &resultCode;
  setup.table = standin::TableRoutines();  // but no converter
  LightSourceAnalysis* analysis = reinterpret_cast<LightSourceAnalysis*>(&setup);
  EXPECT_FALSE(StartLightSourceAnalysis(setup, &analysis));
  EXPECT_EQ(analysis, nullptr);
  EXPECT_EQ(resultCode.load(), STATUS_FAILURE_REPORTED);
  EXPECT_NE(CloseAndRead().find("Could not initiate light source table initialization"), std::string::npos);
}

TEST_F(AnalysisRunFailures, AnAnalysisImageThatCannotBeBuiltEndsTheRunWithItsStatus) {
  OwnedImage image;
  MakeLinearImage(&image, 100, 100, kDark);
  DrawDisc(&image.image, 50, 50, 5.0, Rgb{1, 1, 1});
  const RunResult run = RunAnalysis(image.image, 2, RefuseToConvert);
  ASSERT_TRUE(run.started);
  EXPECT_EQ(run.resultCode, STATUS_PARAMETER_ERROR);
  EXPECT_TRUE(run.table.empty());
}

TEST_F(AnalysisRunFailures, AWorkerThatCannotStartLeavesItsShareToTheAnalysisThread) {
  OpenLog(LOGMODE_IMMEDIATE);
  OwnedImage image;
  MakeBusyImage(&image, 320, 240, 5);
  const RunResult normal = RunAnalysis(image.image, 3);
  testhooks::Hooks().failAnalysisWorkerStart = 1;
  const RunResult short_ = RunAnalysis(image.image, 3);
  testhooks::Hooks().failAnalysisWorkerStart = -1;
  EXPECT_EQ(short_.resultCode, 0);
  EXPECT_TRUE(SameTables(normal.table, short_.table));
  EXPECT_NE(CloseAndRead().find("Could not initiate AnalyzeSection() task : "), std::string::npos);
}

TEST_F(AnalysisRunFailures, TheFirstFailureOfTheRunIsTheOneThatStays) {
  OwnedImage image;
  MakeLinearImage(&image, 100, 100, kDark);
  std::atomic<int16_t> resultCode{-128};  // the user cancelled before
  const LightSourceAnalysisSetup setup = StandInSetup(image.image, &resultCode, RefuseToConvert);
  LightSourceAnalysis* analysis = nullptr;
  ASSERT_TRUE(StartLightSourceAnalysis(setup, &analysis));
  ASSERT_TRUE(WaitForLightSourceAnalysis(analysis, -1));
  ReleaseLightSourceAnalysis(&analysis);
  EXPECT_EQ(resultCode.load(), -128);
}

// The same runs through the master table itself.
std::vector<LightSourceRecord> RunThroughMasterTable(const Image& host, int32_t workers) {
  std::atomic<int16_t> resultCode{0};
  LightSourceAnalysisSetup setup = StandInSetup(host, &resultCode, AlreadyLinear, workers);
  MasterLightSourceTable owned;
  setup.table = MasterLightSourceTableRoutines(&owned);
  LightSourceAnalysis* analysis = nullptr;
  std::vector<LightSourceRecord> table;
  if (!StartLightSourceAnalysis(setup, &analysis)) return table;
  EXPECT_TRUE(WaitForLightSourceAnalysis(analysis, -1));
  EXPECT_EQ(resultCode.load(), 0);
  const LightSourceList& master = GetMasterLightSourceTable(&owned);
  table.assign(ListRecords(&master), ListRecords(&master) + master.count);
  ReleaseLightSourceAnalysis(&analysis);
  EXPECT_EQ(GetMasterLightSourceTable(&owned).count, 0u);  // released with the run
  return table;
}

TEST(AnalysisRunWithMasterTable, TheMasterTableHoldsEveryHighlightOnceRanked) {
  OwnedImage image;
  MakeBusyImage(&image, 480, 360, 4242);
  const RunResult standIn = RunAnalysis(image.image, 2);
  const std::vector<LightSourceRecord> master = RunThroughMasterTable(image.image, 2);
  ASSERT_EQ(master.size(), standIn.table.size());
  for (size_t i = 0; i < master.size(); ++i) {
    const LightSourceRecord& e = master[i];
    if (i > 0) {
      EXPECT_GE(master[i - 1].brightness, e.brightness);
    }
    EXPECT_NE(Nearest(standIn.table, Position(e.x, e.xQuarter), Position(e.y, e.yQuarter), 0.0), nullptr) << i;
  }
}

TEST(AnalysisRunWithMasterTable, TheMasterTableDoesNotDependOnTheNumberOfWorkers) {
  OwnedImage image;
  MakeBusyImage(&image, 640, 480, 31337);
  const std::vector<LightSourceRecord> one = RunThroughMasterTable(image.image, 1);
  ASSERT_GT(one.size(), 30u);
  for (int32_t workers : {2, 7}) EXPECT_TRUE(SameTables(one, RunThroughMasterTable(image.image, workers))) << workers;
}

}  // namespace
