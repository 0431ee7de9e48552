// Whole analyses of the shared test photographs (GLIMMARK_TESTDATA names
// their folder; skipped without it or without a PNG reader): sound tables,
// the same for any number of workers, also when the photo must be reduced.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "analysis_test_support.h"

namespace {

using analysistest::DecodeGamma22;
using analysistest::LoadPhoto;
using analysistest::OwnedImage;
using analysistest::RunAnalysis;
using analysistest::RunResult;

const char* const kPhotos[] = {"stars_over_mountains.png", "still_life_lamps_16bit.png",
                               "foggy_lake_no_highlights.png"};

bool Load(const char* name, OwnedImage* image) {
  const std::string folder = analysistest::TestDataFolder();
  if (folder.empty()) return false;
  std::string reason;
  if (!LoadPhoto(folder + "/" + name, image, &reason)) {
    ADD_FAILURE() << reason;
    return false;
  }
  return true;
}

bool SameTables(const std::vector<LightSourceRecord>& a, const std::vector<LightSourceRecord>& b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof a[0]) == 0);
}

// What every table must be: entries inside the image, sized within the
// limit, shown, ranked, normalised, and no highlight twice.
void ExpectSoundTable(const std::vector<LightSourceRecord>& table, const Image& image, double scale, const char* what) {
  ASSERT_FALSE(table.empty()) << what;
  std::set<std::pair<int64_t, int64_t>> positions;
  uint32_t largest = 0;
  for (size_t i = 0; i < table.size(); ++i) {
    const LightSourceRecord& e = table[i];
    EXPECT_GE(e.x, image.imageRect.left) << what << " " << i;
    EXPECT_LT(e.x, image.imageRect.right) << what << " " << i;
    EXPECT_GE(e.y, image.imageRect.top) << what << " " << i;
    EXPECT_LT(e.y, image.imageRect.bottom) << what << " " << i;
    EXPECT_GE(e.xQuarter, 0);
    EXPECT_LE(e.xQuarter, 3);
    EXPECT_GE(e.yQuarter, 0);
    EXPECT_LE(e.yQuarter, 3);
    EXPECT_GT(e.radius, 0.0f) << what << " " << i;
    EXPECT_LE(e.radius, 96.125 * scale) << what << " " << i;
    EXPECT_FLOAT_EQ(e.squaredRadius, e.radius * e.radius);
    EXPECT_EQ(e.state, LIGHT_SOURCE_SHOWN);
    if (i > 0) {
      EXPECT_GE(table[i - 1].brightness, e.brightness) << what << " " << i;
    }
    EXPECT_TRUE(positions.emplace(int64_t{e.x} * 4 + e.xQuarter, int64_t{e.y} * 4 + e.yQuarter).second)
        << what << ": two entries at " << e.x << ", " << e.y;
    largest = std::max({largest, e.red, e.green, e.blue});
  }
  EXPECT_EQ(largest, FRACTION_FULL) << what;
}

TEST(AnalysisPhotos, TablesAreSoundAndTheSameForAnyNumberOfWorkers) {
  if (analysistest::TestDataFolder().empty()) GTEST_SKIP() << "GLIMMARK_TESTDATA is not set";
  for (const char* name : kPhotos) {
    OwnedImage photo;
    if (!Load(name, &photo)) continue;
    const RunResult one = RunAnalysis(photo.image, 1, DecodeGamma22);
    ASSERT_EQ(one.resultCode, 0) << name;
    ExpectSoundTable(one.table, photo.image, 1.0, name);
    for (int32_t workers : {2, 5}) {
      const RunResult many = RunAnalysis(photo.image, workers, DecodeGamma22);
      EXPECT_TRUE(SameTables(one.table, many.table)) << name << ", " << workers << " workers";
    }
  }
}

TEST(AnalysisPhotos, StarsAreSmallFogHasNoLightsAndTheBrightestLampIsWarm) {
  if (analysistest::TestDataFolder().empty()) GTEST_SKIP() << "GLIMMARK_TESTDATA is not set";
  OwnedImage stars, lamps;
  if (!Load("stars_over_mountains.png", &stars) || !Load("still_life_lamps_16bit.png", &lamps)) return;
  const RunResult sky = RunAnalysis(stars.image, 2, DecodeGamma22);
  // Hundreds of point stars (the photo has about 600 blobs near full white)
  // and a little snow: nearly every highlight is a few pixels across.
  ASSERT_GT(sky.table.size(), 600u);
  const size_t small = static_cast<size_t>(
      std::count_if(sky.table.begin(), sky.table.end(), [](const LightSourceRecord& e) { return e.radius <= 8.0f; }));
  EXPECT_GT(small, sky.table.size() * 95 / 100);
  // Snow fields cut by the border have no edge of their own: none may grow
  // into a huge entry and leave the factory Quantity (a quarter of the
  // brightest) to itself alone.
  EXPECT_LT(sky.table[0].radius, 32.0f);
  const auto factoryQuantity = static_cast<size_t>(std::count_if(
      sky.table.begin(), sky.table.end(), [](const LightSourceRecord& e) { return e.brightness > FRACTION_FULL / 4; }));
  EXPECT_GT(factoryQuantity, 10u);

  // Fog: the photo's maximum is the fog itself, so its faint bumps pass any
  // test made relative to the maximum; they stand out from nothing around
  // them and must not become lights (there were 2497).
  OwnedImage fog;
  if (!Load("foggy_lake_no_highlights.png", &fog)) return;
  EXPECT_LT(RunAnalysis(fog.image, 2, DecodeGamma22).table.size(), 20u);

  const RunResult still = RunAnalysis(lamps.image, 2, DecodeGamma22);
  ASSERT_FALSE(still.table.empty());
  const LightSourceRecord& flame = still.table[0];
  EXPECT_GE(flame.red, flame.green);
  EXPECT_GT(flame.green, flame.blue);
  EXPECT_LT(flame.blue, flame.red / 5 * 4);
}

TEST(AnalysisPhotos, AReducedPhotoIsTheSameForAnyNumberOfWorkers) {
  if (analysistest::TestDataFolder().empty()) GTEST_SKIP() << "GLIMMARK_TESTDATA is not set";
  OwnedImage photo;
  if (!Load("stars_over_mountains.png", &photo)) return;
  // Twice the size, so that the analysis has to reduce it.
  const Image& small = photo.image;
  const ImageRect rect{0, 0, small.width * 2, small.height * 2};
  OwnedImage large;
  ASSERT_TRUE(CreateImage(rect, false, &large.image, rect, small.mode, nullptr, 2.2, false, nullptr));
  const auto* from = static_cast<const uint8_t*>(small.pixels.buffer);
  auto* to = static_cast<uint8_t*>(large.image.pixels.buffer);
  for (int32_t y = 0; y < rect.bottom; ++y)
    for (int32_t x = 0; x < rect.right; ++x)
      std::memcpy(to + (static_cast<size_t>(y) * rect.right + x) * 4,
                  from + (static_cast<size_t>(y / 2) * small.width + x / 2) * 4, 4);
  const RunResult one = RunAnalysis(large.image, 1, DecodeGamma22);
  const RunResult two = RunAnalysis(large.image, 2, DecodeGamma22);
  ASSERT_EQ(one.resultCode, 0);
  ExpectSoundTable(one.table, large.image, 2.0 * small.height / 1800.0 + 1.0, "reduced stars");
  EXPECT_TRUE(SameTables(one.table, two.table));
}

}  // namespace
