// The preview's reduced copies of the host image: where the levels lie, which
// one the lookup takes for a zoom, and what their pixels hold.
#include "preview/host_proxy_levels.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>

#include "color/color_management.h"
#include "image/pixel_access.h"

namespace {

struct Levels {
  HostProxyImage proxy{};
  Image source{};
  Levels(int32_t width, int32_t height, uint32_t mode = IMAGE_MODE_RGB8) {
    const ImageRect rect{0, 0, width, height};
    EXPECT_TRUE(CreateImage(rect, true, &source, rect, mode, GetWorkingProfile(),
                            GetImageGammaOfProfile(GetWorkingProfile()), false, nullptr));
  }
  ~Levels() {
    ReleaseHostProxyImage(&proxy);
    ReleaseImage(&source);
  }
};

class HostProxyLevelsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int16_t status = 0;
    ASSERT_TRUE(InitializeColorManagement(nullptr, 0, IMAGE_MODE_RGB8, &status));
  }
  void TearDown() override { ReleaseColorManagement(); }
};

TEST_F(HostProxyLevelsTest, TheLookupTakesTheSmallestLevelStillAsLargeAsTheZoom) {
  Levels l(1000, 600);
  LayOutHostProxyLevels(&l.proxy, l.source);
  EXPECT_EQ(l.proxy.levels[1].image.width, 1000);
  EXPECT_EQ(l.proxy.levels[2].image.width, 500);
  EXPECT_EQ(l.proxy.levels[4].image.height, 75);
  EXPECT_EQ(l.proxy.levels[11].image.width, 1) << "never empty";
  EXPECT_EQ(l.proxy.levels[1].image.pixels.buffer, nullptr) << "nothing is built before it is asked for";
  const struct {
    double zoom;
    double scale;
  } rows[] = {{4.0, 1.0}, {1.0, 1.0}, {0.75, 1.0}, {0.5, 0.5}, {0.3, 0.5}, {0.25, 0.25}, {1e-9, 1.0 / 32768}};
  for (const auto& row : rows) {
    double scale[2] = {row.zoom, row.zoom};
    Image chosen{};
    ASSERT_TRUE(GetHostProxyImageInfo(l.proxy, &chosen, scale)) << row.zoom;
    EXPECT_EQ(scale[0], row.scale) << "zoom " << row.zoom;
  }
}

TEST_F(HostProxyLevelsTest, HugeDocumentsStartReducedUnderTheMemoryCap) {
  Levels tall(1, 1);
  Image huge{};
  huge.bufferRect = ImageRect{0, 0, 32767, 32767};
  huge.bytesPerChannel = 1;
  LayOutHostProxyLevels(&tall.proxy, huge);
  const HostProxyLevel& first = tall.proxy.levels[1];
  EXPECT_EQ(first.scaleX, 0.25);
  EXPECT_LE(static_cast<double>(first.image.width) * first.image.height * 4, HOST_PROXY_MEMORY_CAP);
  EXPECT_EQ(tall.proxy.levels[2].scaleX, 0.125);

  // A wide strip and a single pixel lay out without empty levels.
  huge.bufferRect = ImageRect{0, 0, 32767, 200};
  LayOutHostProxyLevels(&tall.proxy, huge);
  EXPECT_EQ(tall.proxy.levels[1].scaleX, 1.0);
  EXPECT_EQ(tall.proxy.levels[9].image.height, 1);
  EXPECT_EQ(tall.proxy.levels[9].image.width, 128);
  LayOutHostProxyLevels(&tall.proxy, tall.source);
  EXPECT_EQ(tall.proxy.levels[16].image.width, 1);
}

TEST_F(HostProxyLevelsTest, LevelsHoldTheImageInTheDisplaysColoursAveragedInLinearLight) {
  // A 4 x 4 checker of black and an orange, in the working profile.
  Levels l(4, 4);
  const PixelValue orange{16777215, 4000000, 0, 0xFFFFFFFE, 0xFFFFFFFE};
  const PixelValue black{0, 0, 0, 0xFFFFFFFE, 0xFFFFFFFE};
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 4; ++x) l.source.writePixel(&l.source, (x + y) % 2 ? &orange : &black, x, y);
  LayOutHostProxyLevels(&l.proxy, l.source);
  double scale[2] = {0.5, 0.5};
  Image level{};
  ASSERT_TRUE(GetHostProxyLevel(&l.proxy, l.source, nullptr, scale, &level));
  EXPECT_EQ(level.width, 2);
  EXPECT_EQ(l.proxy.levels[1].image.pixels.buffer, nullptr) << "level 2 is made without level 1";
  // Level 3 from level 2 now, and level 1 on its own: all agree on the light.
  ASSERT_TRUE(BuildHostProxyLevel(&l.proxy, 3, l.source, nullptr));
  ASSERT_TRUE(BuildHostProxyLevel(&l.proxy, 1, l.source, nullptr));
  PixelValue quarter;
  l.proxy.levels[3].image.readPixel(&l.proxy.levels[3].image, &quarter, 0, 0);
  PixelValue full, half;
  l.proxy.levels[1].image.readPixel(&l.proxy.levels[1].image, &full, 1, 0);
  level.readPixel(&level, &half, 1, 1);
  // Half the light of the orange pixels, within the 8-bit codes' steps.
  EXPECT_NEAR(half.red, full.red / 2.0, full.red * 0.02);
  EXPECT_NEAR(half.green, full.green / 2.0, full.green * 0.05 + 20000);
  EXPECT_EQ(half.blue, 0u);
  EXPECT_NEAR(quarter.red, half.red, half.red * 0.01);

  // A build told to stop keeps nothing, and the next one starts afresh.
  std::atomic<bool> stop{true};
  ReleaseHostProxyImage(&l.proxy);
  LayOutHostProxyLevels(&l.proxy, l.source);
  double again[2] = {0.25, 0.25};
  EXPECT_FALSE(GetHostProxyLevel(&l.proxy, l.source, nullptr, again, &level, &stop));
  EXPECT_EQ(l.proxy.levels[3].image.pixels.buffer, nullptr);
  EXPECT_EQ(l.proxy.levels[3].image.width, 1) << "the layout stays";
  stop = false;
  EXPECT_TRUE(GetHostProxyLevel(&l.proxy, l.source, nullptr, again, &level, &stop));
}

}  // namespace
