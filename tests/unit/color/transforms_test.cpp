// The transform cache: formats Little CMS is asked for, the full cache, many
// threads at once, and single colour conversion.
#include <atomic>
#include <cmath>
#include <thread>

#include "color_test_support.h"

namespace {

using colortest::ColorTest;
using colortest::Contains;
using colortest::CountOf;

TEST_F(ColorTest, GrayProfilesAreAskedForTheFirstOfFourChannels) {
  Initialize(1);
  cmsHPROFILE gray = GetImageProfile();
  ColorTransform fromGray = GetColorTransform(gray, FORMAT_GRAY_8_3X, GetLinearWorkingProfile(), TYPE_BGRA_8);
  ASSERT_TRUE(fromGray);
  EXPECT_EQ(cmsGetTransformInputFormat(fromGray.get()), 0x30189u);
  EXPECT_EQ(cmsGetTransformOutputFormat(fromGray.get()), static_cast<cmsUInt32Number>(TYPE_BGRA_8));

  // RGBA requests with a gray profile and gray requests with an RGB profile
  // are adapted to the profile.
  const std::pair<uint32_t, uint32_t> toGray[] = {
      {TYPE_RGBA_8, 0x30189}, {TYPE_BGRA_8, 0x30189}, {TYPE_RGBA_16, 0x3018A}, {TYPE_RGBA_FLT, 0x43018C}};
  for (const auto& [requested, expected] : toGray) {
    ColorTransform t = GetColorTransform(GetWorkingProfile(), requested, gray, requested);
    ASSERT_TRUE(t) << std::hex << requested;
    EXPECT_EQ(cmsGetTransformOutputFormat(t.get()), expected);
    EXPECT_EQ(cmsGetTransformInputFormat(t.get()), requested);
  }
  ColorTransform toRgb = GetColorTransform(gray, FORMAT_GRAY_16_3X, nullptr, FORMAT_GRAY_16_3X);
  ASSERT_TRUE(toRgb);
  EXPECT_EQ(cmsGetTransformOutputFormat(toRgb.get()), static_cast<cmsUInt32Number>(TYPE_RGBA_16));

  // A gray 16-bit pixel with distinct values in its extra channels: only the
  // first channel is read, and the alpha channel is left alone.
  uint16_t pixel[4] = {32768, 1, 2, 12345};
  cmsDoTransform(toRgb.get(), pixel, pixel, 1);
  EXPECT_EQ(pixel[0], pixel[1]);
  EXPECT_EQ(pixel[1], pixel[2]);
  EXPECT_GT(pixel[0], 1000);
  EXPECT_EQ(pixel[3], 12345);
}

TEST_F(ColorTest, TheThirtyThirdTransformIsHandedOutUncachedAndMadeAgainNextTime) {
  Initialize();
  const cmsHPROFILE profiles[] = {GetStandardProfile(), GetImageProfile(), GetWorkingProfile(),
                                  GetLinearWorkingProfile()};
  const uint32_t formats[] = {TYPE_RGBA_8, TYPE_RGBA_16};
  struct Key {
    cmsHPROFILE in;
    uint32_t inFormat;
    cmsHPROFILE out;
  };
  std::vector<Key> keys;
  for (cmsHPROFILE in : profiles)
    for (uint32_t f : formats)
      for (cmsHPROFILE out : profiles) keys.push_back(Key{in, f, out});
  ASSERT_EQ(keys.size(), 32u);
  std::vector<cmsHTRANSFORM> handles;
  for (const Key& k : keys) {
    ColorTransform t = GetColorTransform(k.in, k.inFormat, k.out, k.inFormat);
    ASSERT_TRUE(t);
    EXPECT_FALSE(t.owned());
    handles.push_back(t.get());
  }
  EXPECT_EQ(GetTransformCacheCount(), 32);

  for (int attempt = 0; attempt < 2; ++attempt) {
    ColorTransform extra = GetColorTransform(GetStandardProfile(), TYPE_RGBA_FLT, GetWorkingProfile(), TYPE_RGBA_FLT);
    ASSERT_TRUE(extra);
    EXPECT_TRUE(extra.owned());
    float pixel[4] = {0.5f, 0.25f, 1.0f, 0.5f};
    cmsDoTransform(extra.get(), pixel, pixel, 1);
    EXPECT_GT(pixel[0], 0.0f);
  }  // each is deleted here
  EXPECT_EQ(GetTransformCacheCount(), 32);
  // Cached keys still come from the cache.
  for (size_t i = 0; i < keys.size(); i += 7) {
    ColorTransform t = GetColorTransform(keys[i].in, keys[i].inFormat, keys[i].out, keys[i].inFormat);
    EXPECT_EQ(t.get(), handles[i]);
    EXPECT_FALSE(t.owned());
  }
  EXPECT_EQ(CountOf(CloseAndRead(), "Transform cache table size exceeded."), 2);
}

TEST_F(ColorTest, ManyThreadsFetchingTransformsAtOnceGetOneTransformPerKeyAndTheSameResults) {
  Initialize();
  const cmsHPROFILE profiles[] = {GetStandardProfile(), GetWorkingProfile(), GetLinearWorkingProfile()};
  constexpr int kKeys = 9;
  const uint16_t input[4] = {50000, 20000, 3000, 777};
  // What each key's conversion of `input` gives, from transforms made here
  // with Little CMS directly.
  uint16_t expected[kKeys][4];
  for (int k = 0; k < kKeys; ++k) {
    cmsHTRANSFORM t = cmsCreateTransform(profiles[k / 3], TYPE_RGBA_16, profiles[k % 3], TYPE_RGBA_16,
                                         INTENT_RELATIVE_COLORIMETRIC, 0x2440);
    ASSERT_NE(t, nullptr);
    std::memcpy(expected[k], input, sizeof input);
    cmsDoTransform(t, expected[k], expected[k], 1);
    cmsDeleteTransform(t);
  }

  constexpr int kThreads = 8;
  std::atomic<int> ready{0};
  std::atomic<int> mismatches{0};
  cmsHTRANSFORM seen[kThreads][kKeys] = {};
  std::vector<std::thread> threads;
  for (int n = 0; n < kThreads; ++n) {
    threads.emplace_back([&, n] {
      ++ready;
      while (ready.load() < kThreads) std::this_thread::yield();
      for (int round = 0; round < 50; ++round) {
        const int k = (n + round) % kKeys;
        ColorTransform t = GetColorTransform(profiles[k / 3], TYPE_RGBA_16, profiles[k % 3], TYPE_RGBA_16);
        if (!t || t.owned()) {
          ++mismatches;
          continue;
        }
        if (seen[n][k] != nullptr && seen[n][k] != t.get()) ++mismatches;
        seen[n][k] = t.get();
        uint16_t pixel[4];
        std::memcpy(pixel, input, sizeof pixel);
        cmsDoTransform(t.get(), pixel, pixel, 1);
        if (std::memcmp(pixel, expected[k], sizeof pixel) != 0) ++mismatches;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_EQ(GetTransformCacheCount(), kKeys);
  for (int k = 0; k < kKeys; ++k)
    for (int n = 1; n < kThreads; ++n) EXPECT_EQ(seen[n][k], seen[0][k]);
}

TEST_F(ColorTest, MissingProfilesMeanTheStandardProfileAndImpossibleTransformsAreReported) {
  ColorTransform before = GetColorTransform(nullptr, TYPE_RGBA_8, nullptr, TYPE_RGBA_8);
  EXPECT_FALSE(before) << "nothing to convert with before initialisation";
  Initialize();
  ColorTransform t = GetColorTransform(nullptr, TYPE_RGBA_16, GetLinearWorkingProfile(), TYPE_RGBA_16);
  ASSERT_TRUE(t);
  uint16_t white[4] = {65535, 65535, 65535, 9};
  cmsDoTransform(t.get(), white, white, 1);
  EXPECT_GE(white[1], 65534);
  cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
  EXPECT_FALSE(GetColorTransform(lab, TYPE_RGBA_8, nullptr, TYPE_RGBA_8));
  const std::string log = CloseAndRead();
  EXPECT_EQ(CountOf(log, "Could not compute color transform."), 2);
  EXPECT_TRUE(Contains(log, "Little CMS returned error code"));
  ReleaseColorManagement();
  cmsCloseProfile(lab);
}

TEST_F(ColorTest, AColourTripleIsConvertedAndDecodedToLinearInItsUpperHalves) {
  Initialize(1);
  uint32_t white[3] = {0xFFFF1234, 0xFFFF0000, 0xFFFFFFFF};
  ASSERT_TRUE(ConvertColorTriple(GetStandardProfile(), white, GetStandardProfile()));
  for (uint32_t c : white) EXPECT_GE(c, 0xFFFE0000u);
  for (uint32_t c : white) EXPECT_EQ(c & 0xFFFF, 0u);

  // sRGB middle grey into the working profile (gamma 2.2), then decoded:
  // about (0.5^2.4-ish sRGB -> 2.2 coding) ^ 2.2, that is sRGB's linear light.
  uint32_t grey[3] = {0x80000000, 0x80000000, 0x80000000};
  ASSERT_TRUE(ConvertColorTriple(nullptr, grey, GetWorkingProfile()));
  const double srgbLinear = std::pow((0.5 + 0.055) / 1.055, 2.4);
  for (uint32_t c : grey) EXPECT_NEAR((c >> 16) / 65535.0, srgbLinear, 0.004);

  // Into a gray profile all three channels carry the gray value.
  uint32_t colour[3] = {0xC0000000, 0x40000000, 0x20000000};
  ASSERT_TRUE(ConvertColorTriple(GetStandardProfile(), colour, GetImageProfile()));
  EXPECT_EQ(colour[0], colour[1]);
  EXPECT_EQ(colour[1], colour[2]);
  EXPECT_FALSE(ConvertColorTriple(nullptr, nullptr, nullptr));
}

}  // namespace
