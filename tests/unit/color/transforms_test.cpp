// The transform cache: formats Little CMS is asked for, the full cache, many
// threads at once, and single colour conversion.
#include <atomic>
#include <cmath>
#include <thread>

#include "color_test_support.h"

namespace {

using colortest::ColorTest;
using colortest::CountOf;

TEST_F(ColorTest, GrayProfilesAreAskedForTheFirstOfFourChannels) {
  Initialize(1);
  cmsHPROFILE gray = GetImageProfile();
  ColorTransform fromGray = GetColorTransform(gray, FORMAT_GRAY_8_3X, GetLinearWorkingProfile(), TYPE_BGRA_8);
  ASSERT_TRUE(fromGray);
  EXPECT_EQ(cmsGetTransformInputFormat(fromGray.get()), 0x30189u);
  // RGBA requested with a gray profile, gray requested with an RGB one.
  ColorTransform toGray = GetColorTransform(nullptr, TYPE_RGBA_FLT, gray, TYPE_RGBA_FLT);
  ASSERT_TRUE(toGray);
  EXPECT_EQ(cmsGetTransformOutputFormat(toGray.get()), 0x43018Cu);
  ColorTransform toRgb = GetColorTransform(gray, FORMAT_GRAY_16_3X, nullptr, FORMAT_GRAY_16_3X);
  ASSERT_TRUE(toRgb);
  EXPECT_EQ(cmsGetTransformOutputFormat(toRgb.get()), static_cast<cmsUInt32Number>(TYPE_RGBA_16));
  // Only the first channel is read; the alpha channel is left alone.
  uint16_t pixel[4] = {32768, 1, 2, 12345};
  cmsDoTransform(toRgb.get(), pixel, pixel, 1);
  EXPECT_TRUE(pixel[0] > 1000 && pixel[0] == pixel[1] && pixel[1] == pixel[2]);
  EXPECT_EQ(pixel[3], 12345);
}

TEST_F(ColorTest, TheThirtyThirdTransformIsHandedOutUncachedAndMadeAgainNextTime) {
  Initialize();
  const cmsHPROFILE profiles[] = {GetStandardProfile(), GetImageProfile(), GetWorkingProfile(), GetLinearWorkingProfile()};
  std::vector<cmsHTRANSFORM> handles;
  auto key = [&profiles](int k, bool* owned) {  // 32 distinct keys
    const uint32_t format = k < 16 ? TYPE_RGBA_8 : TYPE_RGBA_16;
    ColorTransform t = GetColorTransform(profiles[k % 4], format, profiles[(k / 4) % 4], format);
    *owned = t.owned();
    return t.get();
  };
  bool owned = false;
  for (int k = 0; k < 32; ++k) {
    handles.push_back(key(k, &owned));
    ASSERT_TRUE(handles.back() != nullptr && !owned);
  }
  EXPECT_EQ(GetTransformCacheCount(), 32);
  for (int attempt = 0; attempt < 2; ++attempt) {
    ColorTransform extra = GetColorTransform(GetStandardProfile(), TYPE_RGBA_FLT, GetWorkingProfile(), TYPE_RGBA_FLT);
    ASSERT_TRUE(extra);
    EXPECT_TRUE(extra.owned());
    float pixel[4] = {0.5f, 0.25f, 1.0f, 0.5f};
    cmsDoTransform(extra.get(), pixel, pixel, 1);
    EXPECT_GT(pixel[0], 0.0f);
  }  // each is deleted here (the sanitizer build checks for leaks)
  EXPECT_EQ(GetTransformCacheCount(), 32);
  for (int k = 0; k < 32; k += 7) EXPECT_EQ(key(k, &owned), handles[k]) << "still cached";
  EXPECT_EQ(CountOf(CloseAndRead(), "Transform cache table size exceeded."), 2);
}

TEST_F(ColorTest, ManyThreadsFetchingTransformsAtOnceGetOneTransformPerKeyAndTheSameResults) {
  Initialize();
  const cmsHPROFILE profiles[] = {GetStandardProfile(), GetWorkingProfile(), GetLinearWorkingProfile()};
  constexpr int kKeys = 9;
  constexpr int kThreads = 8;
  const uint16_t input[4] = {50000, 20000, 3000, 777};
  uint16_t expected[kKeys][4];  // from transforms made here with Little CMS directly
  for (int k = 0; k < kKeys; ++k) {
    cmsHTRANSFORM t = cmsCreateTransform(profiles[k / 3], TYPE_RGBA_16, profiles[k % 3], TYPE_RGBA_16,
                                         INTENT_RELATIVE_COLORIMETRIC, 0x2440);
    std::memcpy(expected[k], input, sizeof input);
    cmsDoTransform(t, expected[k], expected[k], 1);
    cmsDeleteTransform(t);
  }
  std::atomic<int> ready{0};
  std::atomic<int> mismatches{0};
  cmsHTRANSFORM seen[kThreads][kKeys] = {};
  std::vector<std::thread> threads;
  for (int n = 0; n < kThreads; ++n) {
    threads.emplace_back([&, n] {
      for (++ready; ready.load() < kThreads;) std::this_thread::yield();
      for (int round = 0; round < 50; ++round) {
        const int k = (n + round) % kKeys;
        ColorTransform t = GetColorTransform(profiles[k / 3], TYPE_RGBA_16, profiles[k % 3], TYPE_RGBA_16);
        uint16_t pixel[4];
        std::memcpy(pixel, input, sizeof pixel);
        if (t) cmsDoTransform(t.get(), pixel, pixel, 1);
        if (!t || t.owned() || (seen[n][k] != nullptr && seen[n][k] != t.get()) ||
            std::memcmp(pixel, expected[k], sizeof pixel) != 0) {
          ++mismatches;
        }
        seen[n][k] = t.get();
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_EQ(GetTransformCacheCount(), kKeys);
  for (int k = 0; k < kKeys; ++k)
    for (int n = 1; n < kThreads; ++n) EXPECT_EQ(seen[n][k], seen[0][k]);
}

TEST_F(ColorTest, ColourTriplesAreConvertedThenDecodedToLinearLight) {
  EXPECT_FALSE(GetColorTransform(nullptr, TYPE_RGBA_8, nullptr, TYPE_RGBA_8)) << "no profiles before initialisation";
  Initialize(1);
  uint32_t white[3] = {0xFFFF1234, 0xFFFF0000, 0xFFFFFFFF};
  ASSERT_TRUE(ConvertColorTriple(GetStandardProfile(), white, GetStandardProfile()));
  for (uint32_t c : white) EXPECT_TRUE(c >= 0xFFFE0000u && (c & 0xFFFF) == 0) << std::hex << c;
  // sRGB middle grey ends as sRGB's linear light for it.
  uint32_t grey[3] = {0x80000000, 0x80000000, 0x80000000};
  ASSERT_TRUE(ConvertColorTriple(nullptr, grey, GetWorkingProfile()));
  for (uint32_t c : grey) EXPECT_NEAR((c >> 16) / 65535.0, std::pow((0.5 + 0.055) / 1.055, 2.4), 0.004);
  // Into a gray profile all three channels carry the gray value.
  uint32_t colour[3] = {0xC0000000, 0x40000000, 0x20000000};
  ASSERT_TRUE(ConvertColorTriple(GetStandardProfile(), colour, GetImageProfile()));
  EXPECT_TRUE(colour[0] == colour[1] && colour[1] == colour[2]);
  // Profiles Little CMS cannot join.
  cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
  EXPECT_FALSE(ConvertColorTriple(lab, colour, nullptr));
  const std::string log = CloseAndRead();
  EXPECT_EQ(CountOf(log, "Could not compute color transform."), 2);
  ReleaseColorManagement();
  cmsCloseProfile(lab);
}

}  // namespace

namespace {

// Every 8-bit colour through the tables and through the transform itself.
void ExpectTablesEqualTheTransformEverywhere(ColorProfileHandle from, ColorProfileHandle to) {
  ColorTransform transform = GetColorTransform(from, TYPE_BGRA_8, to, TYPE_BGRA_8);
  ASSERT_TRUE(transform);
  const ChannelTables* tables = GetChannelTables(transform, from, to, TYPE_BGRA_8);
  ASSERT_NE(tables, nullptr) << colortest::Description(from) << " -> " << colortest::Description(to);
  constexpr size_t kColours = size_t{1} << 24;
  std::vector<uint8_t> pixels(kColours * 4), converted;
  for (size_t i = 0; i < kColours; ++i) {
    pixels[i * 4] = static_cast<uint8_t>(i);
    pixels[i * 4 + 1] = static_cast<uint8_t>(i >> 8);
    pixels[i * 4 + 2] = static_cast<uint8_t>(i >> 16);
    pixels[i * 4 + 3] = static_cast<uint8_t>(i * 7);
  }
  converted = pixels;
  cmsDoTransform(transform.get(), pixels.data(), converted.data(), static_cast<cmsUInt32Number>(kColours));
  for (size_t i = 0; i < kColours; ++i) {
    for (int c = 0; c < 3; ++c)
      ASSERT_EQ(converted[i * 4 + c], tables->table[c][pixels[i * 4 + c]]) << "colour " << i << " channel " << c;
  }
}

}  // namespace

// The document, working and linear working profiles share their primaries:
// their 8-bit transforms run as per-channel tables, which must give every
// colour exactly what the transform gives.
TEST_F(ColorTest, ChannelTablesOfTheWorkingProfilesEqualTheirTransformsForEveryColour) {
  Initialize();
  ExpectTablesEqualTheTransformEverywhere(GetWorkingProfile(), GetStandardProfile());
  ExpectTablesEqualTheTransformEverywhere(GetStandardProfile(), GetLinearWorkingProfile());
}

// Profiles with other primaries mix the channels: no tables, the transform
// runs. Where tables are made for other formats they hold for mixed colours.
TEST_F(ColorTest, TransformsThatMixChannelsGetNoTables) {
  Initialize();
  cmsCIExyYTRIPLE wide = {{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
  cmsToneCurve* curve = cmsBuildGamma(nullptr, 2.2);
  cmsToneCurve* curves[3] = {curve, curve, curve};
  cmsCIExyY d65;
  cmsWhitePointFromTemp(&d65, 6504);
  cmsHPROFILE other = cmsCreateRGBProfile(&d65, &wide, curves);
  cmsFreeToneCurve(curve);
  ASSERT_NE(other, nullptr);
  auto tablesOf = [](cmsHPROFILE from, cmsHPROFILE to, uint32_t format) {
    return GetChannelTables(GetColorTransform(from, format, to, format), from, to, format);
  };
  EXPECT_EQ(tablesOf(GetStandardProfile(), other, TYPE_BGRA_8), nullptr);
  EXPECT_EQ(tablesOf(GetStandardProfile(), GetWorkingProfile(), TYPE_RGBA_FLT), nullptr);
  for (uint32_t format : {TYPE_RGBA_16, TYPE_RGBA_8}) {
    const ChannelTables* tables = tablesOf(GetStandardProfile(), GetLinearWorkingProfile(), format);
    if (tables == nullptr) continue;
    ColorTransform transform = GetColorTransform(GetStandardProfile(), format, GetLinearWorkingProfile(), format);
    std::vector<uint16_t> pixels(4 * 100000), converted;
    uint32_t state = 12345;
    const uint32_t top = format == TYPE_RGBA_16 ? 0xFFFF : 0xFF;
    for (uint16_t& v : pixels) v = static_cast<uint16_t>(((state = state * 1103515245u + 12345u) >> 9) & top);
    if (format == TYPE_RGBA_8) {
      std::vector<uint8_t> bytes(pixels.begin(), pixels.end()), out(bytes);
      cmsDoTransform(transform.get(), bytes.data(), out.data(), 100000);
      for (size_t i = 0; i < bytes.size(); ++i)
        if (i % 4 != 3) {
          ASSERT_EQ(out[i], tables->table[i % 4][bytes[i]]) << i;
        }
    } else {
      converted = pixels;
      cmsDoTransform(transform.get(), pixels.data(), converted.data(), 100000);
      for (size_t i = 0; i < pixels.size(); ++i)
        if (i % 4 != 3) {
          ASSERT_EQ(converted[i], tables->table[i % 4][pixels[i]]) << i;
        }
    }
  }
  cmsCloseProfile(other);
}
