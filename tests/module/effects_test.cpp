// Whole runs that draw stars: where light is added, that everything else
// keeps its exact bits in every depth, and that a cancelled render writes
// nothing back.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "hostkit/host.h"
#include "module_support.h"
#include "user_messages.h"

namespace {

using hostkit::Host;
using hostkit::HostImage;
using hostkit::HostOptions;

constexpr int32_t kWidth = 240;
constexpr int32_t kHeight = 180;
constexpr int32_t kLightX = 120;
constexpr int32_t kLightY = 90;

// A night scene: a dark sky, gently mottled or a smooth ramp, whose deepest shadows sit on
// the smallest codes the depth has (and, in float, light far above 1.0 in
// one corner), with or without one bright round lamp in the middle.
HostImage NightScene(int32_t planes, int32_t bytes, bool lamp, bool bumpy = true) {
  HostImage image;
  EXPECT_TRUE(image.Allocate(kWidth, kHeight, planes, bytes));
  const int32_t colours = image.colourPlanes();
  for (int32_t y = 0; y < kHeight; ++y) {
    for (int32_t x = 0; x < kWidth; ++x) {
      for (int32_t c = 0; c < colours; ++c) {
        // 0 .. about 0.012 of full: 16-bit codes up to ~400, the range that a
        // round trip through gamma tables would flatten.
        const double sky = bumpy ? 0.0002 + 0.012 * (0.5 + 0.5 * std::sin(x * 0.03 + c) * std::cos(y * 0.02))
                                 : 0.0002 + 0.012 * (x + y + 10.0 * c) / (kWidth + kHeight + 20.0);
        image.Set(x, y, c, sky);
      }
    }
  }
  if (bytes == 2) {
    for (int32_t x = 0; x < 8; ++x) {
      for (int32_t c = 0; c < colours; ++c) {
        uint16_t code = static_cast<uint16_t>(1 + x);
        std::memcpy(image.Pixel(x, kHeight - 1) + 2 * c, &code, 2);
      }
    }
  }
  if (bytes == 4) {
    for (int32_t c = 0; c < colours; ++c) {
      image.Set(0, 0, c, 2.5);
      image.Set(1, 0, c, 1.25);
    }
  }
  if (lamp) {
    for (int32_t y = kLightY - 6; y <= kLightY + 6; ++y) {
      for (int32_t x = kLightX - 6; x <= kLightX + 6; ++x) {
        const double r = std::hypot(x - kLightX, y - kLightY);
        const double level = r <= 4 ? 1.0 : (r < 6 ? 1.0 - (r - 4) / 2 : -1);
        if (level < 0) continue;
        for (int32_t c = 0; c < colours; ++c) image.Set(x, y, c, std::max(level * (c == 2 ? 0.8 : 1.0), image.Get(x, y, c)));
      }
    }
  }
  return image;
}

struct Depth {
  int32_t planes;
  int32_t bytes;
};
const Depth kDepths[] = {{3, 1}, {3, 2}, {3, 4}, {1, 1}, {1, 2}, {1, 4}};

moduletest::Settings BrightStars() {
  moduletest::Settings s;
  s.quantity = 100;
  s.intensity = 100;
  s.length = 100;
  s.points = 4;
  s.angle = 0;
  // No soft flare: at full strength it would light the diagonals too, and
  // they show that the spikes keep to their axes.
  s.softFlare = 0;
  return s;
}

bool SameSample(const HostImage& a, const HostImage& b, int32_t x, int32_t y) {
  return std::memcmp(a.Pixel(x, y), b.Pixel(x, y), a.pixelBytes()) == 0;
}

TEST(StarEffects, APhotoWithoutHighlightsComesBackBitIdentical) {
  for (const Depth& depth : kDepths) {
    Host host(moduletest::ModuleEntry());
    // A smooth twilight ramp: nothing stands out from it.
    const HostImage scene = NightScene(depth.planes, depth.bytes, false, false);
    host.SetImage(scene);
    moduletest::ReplaySettings(&host, BrightStars());
    ASSERT_EQ(host.RunFilter(false), 0);
    EXPECT_TRUE(host.image().pixels == scene.pixels) << depth.planes << " planes, " << depth.bytes << " bytes";
  }
}

TEST(StarEffects, StarsBrightenAlongTheirSpikesAndLeaveTheRestBitIdentical) {
  for (const Depth& depth : kDepths) {
    SCOPED_TRACE(testing::Message() << depth.planes << " planes, " << depth.bytes << " bytes");
    Host host(moduletest::ModuleEntry());
    const HostImage scene = NightScene(depth.planes, depth.bytes, true);
    host.SetImage(scene);
    moduletest::ReplaySettings(&host, BrightStars());
    moduletest::UserMessageCapture capture;
    ASSERT_EQ(host.RunFilter(false), 0);
    EXPECT_TRUE(capture.Stop().empty());
    const HostImage& out = host.image();

    // Twenty pixels out on each axis the spikes have brightened the sky;
    // on the diagonals the sky is as it was.
    const int32_t axes[4][2] = {{20, 0}, {-20, 0}, {0, 20}, {0, -20}};
    for (const auto& a : axes) {
      const int32_t x = kLightX + a[0], y = kLightY + a[1];
      EXPECT_GT(out.Get(x, y, 0), scene.Get(x, y, 0) + 0.01) << "spike missing at " << x << "," << y;
    }
    EXPECT_TRUE(SameSample(scene, out, kLightX + 40, kLightY + 40));
    EXPECT_TRUE(SameSample(scene, out, kLightX - 40, kLightY - 40));

    // Screening never darkens, gray stays gray, and whatever is unchanged in
    // value keeps its exact bits: the deepest 16-bit codes and float light
    // above 1.0 included.
    int changed = 0;
    for (int32_t y = 0; y < kHeight; ++y) {
      for (int32_t x = 0; x < kWidth; ++x) {
        for (int32_t c = 0; c < out.colourPlanes(); ++c) ASSERT_GE(out.Get(x, y, c), scene.Get(x, y, c)) << x << "," << y;
        changed += !SameSample(scene, out, x, y);
      }
    }
    EXPECT_GT(changed, 200);
    for (int32_t x = 0; x < 8; ++x) EXPECT_TRUE(SameSample(scene, out, x, kHeight - 1)) << x;
    if (depth.bytes == 4) {
      EXPECT_EQ(out.Get(0, 0, 0), 2.5);
      EXPECT_EQ(out.Get(1, 0, 0), 1.25);
    }
  }
}

TEST(StarEffects, TheWrittenBackDescriptorDescribesWhatWasDrawn) {
  Host host(moduletest::ModuleEntry());
  host.SetImage(NightScene(3, 1, true));
  moduletest::ReplaySettings(&host, BrightStars());
  ASSERT_EQ(host.RunFilter(false), 0);
  hostkit::DescriptorItems written;
  ASSERT_TRUE(host.GetScriptDescriptor(&written));
  EXPECT_EQ(written, moduletest::SettingsDescriptor(BrightStars()));
}

TEST(StarEffects, ACancelDuringRenderingWritesNothing) {
  // The rendering reports at most 100 ticks of its own total; reading and
  // writing this one-tile image report totals of 1 and the analysis one per
  // row (180). Cancel at the rendering's first tick, and at its last one,
  // which the last band queues just before it ends.
  const HostImage scene = NightScene(3, 2, true);
  for (bool atTheEnd : {false, true}) {
    bool cancel = false;
    HostOptions options;
    options.revertFailedStart = false;  // see exactly what the module wrote
    options.progressSink = [&cancel, atTheEnd](int32_t done, int32_t total) {
      if (total > 1 && total <= 100 && done >= 1 && (!atTheEnd || done == total)) cancel = true;
    };
    options.abortRequested = [&cancel] { return cancel; };
    Host host(moduletest::ModuleEntry(), options);
    host.SetImage(scene);
    moduletest::ReplaySettings(&host, BrightStars());
    moduletest::UserMessageCapture capture;
    EXPECT_EQ(host.RunFilter(false), -128) << (atTheEnd ? "at the last tick" : "at the first tick");
    EXPECT_TRUE(cancel);
    EXPECT_EQ(host.stats().outputDeliveries, 0);
    EXPECT_TRUE(host.image().pixels == scene.pixels);
    EXPECT_EQ(host.OutstandingSuites(), 0);
  }
}

TEST(StarEffects, TheStoreBlendReplacesTheImageWithTheEffects) {
  // A stored set whose blend selector asks for the effects alone: factory
  // values with Intensity, Length and Quantity 100 and blendSelector 1.
  std::vector<uint8_t> set = {0, 0, 0, 0, 0, 0, 5, 0, 100, 0, 100, 0, 15, 0, 6, 0, 50, 0, 30, 0,
                              50, 0, 50, 0, 0, 0, 30, 0, 1, 0, 0, 0, 0x30, 0x54, 0x66, 0x65, 100, 0, 0, 0};
  set.resize(255, 0);
  Host host(moduletest::ModuleEntry());
  const HostImage scene = NightScene(3, 1, true);
  host.SetImage(scene);
  host.SetRegistryEntry("93de9c7d-1906-4770-a930-6275943844bd",
                        {hostkit::DescriptorItem::RawData(FourCC("PBlk"), set)}, true);
  ASSERT_EQ(host.RunFilter(false), 0);
  const HostImage& out = host.image();
  EXPECT_EQ(out.Get(5, 5, 0), 0.0) << "the sky is replaced by the empty layer";
  EXPECT_GT(out.Get(kLightX, kLightY, 0), 0.1) << "the lamp's own star is kept";
}

TEST(StarEffects, AnImageShorterThanTheBandsIsDrawnByTheLastBand) {
  for (int32_t height : {1, 2}) {
    Host host(moduletest::ModuleEntry());
    HostImage image;
    ASSERT_TRUE(image.Allocate(9, height, 3, 1));
    for (int32_t y = 0; y < height; ++y)
      for (int32_t x = 0; x < 9; ++x)
        for (int32_t c = 0; c < 3; ++c) image.Set(x, y, c, x == 4 ? 1.0 : 0.01);
    host.SetImage(image);
    moduletest::ReplaySettings(&host, BrightStars());
    EXPECT_EQ(host.RunFilter(false), 0) << height;
    for (int32_t y = 0; y < height; ++y) EXPECT_GE(host.image().Get(0, y, 0), image.Get(0, y, 0));
  }
}

}  // namespace
