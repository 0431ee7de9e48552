// Converting images: whole images in place, regions between images of
// different depths, float clamping, gray images, and worker bands.
#include <cmath>
#include <random>

#include "color_test_support.h"
#include "image/pixel_access.h"

namespace {

using colortest::ColorTest;
using colortest::Contains;
using colortest::TestImage;

TEST_F(ColorTest, Srgb8BitThroughTheLinearWorkingProfileAndBackKeepsEveryCode) {
  Initialize();
  const ImageRect codes{0, 0, 256, 3};
  TestImage original(3, codes, GetStandardProfile());
  TestImage linear(11, codes, GetLinearWorkingProfile());
  TestImage back(3, codes, GetStandardProfile());
  for (int32_t y = 0; y < 3; ++y) {  // every code in every channel
    for (int32_t x = 0; x < 256; ++x) {
      uint8_t* p = original.At<uint8_t>(x, y);
      p[0] = static_cast<uint8_t>(x), p[1] = static_cast<uint8_t>(x * 7 + y * 50), p[2] = static_cast<uint8_t>(255 - x);
      p[3] = static_cast<uint8_t>(x ^ 0x5A);
    }
  }
  int16_t status = 0;
  ASSERT_TRUE(ConvertImageRegion(ImagePoint{0, 0}, codes, &original.image, &linear.image, &status));
  ASSERT_TRUE(ConvertImageRegion(ImagePoint{0, 0}, codes, &linear.image, &back.image, &status));
  int worst = 0;
  for (int32_t y = 0; y < 3; ++y) {
    for (int32_t x = 0; x < 256; ++x) {
      const uint8_t* a = original.At<uint8_t>(x, y);
      const uint8_t* b = back.At<uint8_t>(x, y);
      for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(a[c] - b[c]));
      ASSERT_EQ(b[3], a[3]) << "alpha is carried both ways";
      ASSERT_EQ(linear.At<uint16_t>(x, y)[3], a[3] * 257);
    }
  }
  EXPECT_LE(worst, 1);
  // Linear light: sRGB code 128 (the blue of pixel 128) is 0.216 of full.
  EXPECT_NEAR(linear.At<uint16_t>(128, 0)[2] / 65535.0, std::pow((128 / 255.0 + 0.055) / 1.055, 2.4), 0.002);
}

TEST_F(ColorTest, ConvertingAnImageInPlaceSetsItsProfileGammaTablesAndAccessors) {
  Initialize();
  TestImage image(11, ImageRect{0, 0, 64, 5}, GetWorkingProfile());
  for (int32_t i = 0; i < 64 * 5; ++i) {
    uint16_t* p = image.At<uint16_t>(i % 64, i / 64);
    p[0] = p[1] = p[2] = static_cast<uint16_t>((i % 64) * 1040);
    p[3] = 4321;
  }
  image.image.readPixel = nullptr;
  ASSERT_TRUE(ConvertColorOf(&image.image, GetLinearWorkingProfile()));
  EXPECT_EQ(image.image.profile, GetLinearWorkingProfile());
  EXPECT_EQ(image.image.gamma, 1.0);
  ASSERT_TRUE(image.image.gammaTables != nullptr && image.image.readPixel != nullptr);
  EXPECT_EQ(image.image.gammaTables->gamma, 1.0);
  PixelValue v{};  // gamma 2.2 coded values become their 2.2nd power
  image.image.readPixel(&image.image, &v, 32, 2);
  EXPECT_NEAR(v.green / 16777215.0, std::pow(32 * 1040 / 65535.0, 2.2), 0.002);
  EXPECT_EQ(image.At<uint16_t>(63, 4)[3], 4321);

  ASSERT_TRUE(ConvertColorOf(&image.image, GetWorkingProfile()));
  EXPECT_DOUBLE_EQ(image.image.gamma, 2.2);
  EXPECT_NEAR(image.At<uint16_t>(32, 2)[0], 32 * 1040, 40);
  const std::vector<uint8_t> before = image.Copy();
  ASSERT_TRUE(ConvertColorOf(&image.image, GetWorkingProfile()));
  EXPECT_EQ(image.Copy(), before) << "into its own profile nothing changes";

  TestImage integers(64, ImageRect{0, 0, 2, 2}, nullptr);
  EXPECT_FALSE(ConvertColorOf(&integers.image, GetWorkingProfile()));
  cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
  EXPECT_FALSE(ConvertColorOf(&image.image, lab));
  EXPECT_EQ(image.image.profile, GetWorkingProfile()) << "a failed conversion changes nothing";
  EXPECT_TRUE(Contains(CloseAndRead(), "'Debug: Unexpected error' - 'ConvertColorOf() - Could not get color transform.'"));
  ReleaseColorManagement();
  cmsCloseProfile(lab);
}

TEST_F(ColorTest, FloatResultsBelowZeroAreClampedAndAlphaIsLeftAlone) {
  Initialize();
  // A linear profile with very wide primaries: its pure green lies far
  // outside sRGB, and Little CMS alone gives negative red and blue for it.
  const cmsCIExyYTRIPLE primaries = {{0.7347, 0.2653, 1.0}, {0.1596, 0.8404, 1.0}, {0.0366, 0.0001, 1.0}};
  cmsToneCurve* one = cmsBuildGamma(nullptr, 1.0);
  cmsToneCurve* curves[3] = {one, one, one};
  cmsHPROFILE wide = cmsCreateRGBProfile(cmsD50_xyY(), &primaries, curves);
  cmsFreeToneCurve(one);
  const float green[4] = {0.0f, 1.0f, 0.0f, 0.75f};
  float probe[4];
  std::memcpy(probe, green, sizeof probe);
  cmsHTRANSFORM raw = cmsCreateTransform(wide, TYPE_RGBA_FLT, GetLinearWorkingProfile(), TYPE_RGBA_FLT,
                                         INTENT_RELATIVE_COLORIMETRIC, 0);
  cmsDoTransform(raw, probe, probe, 1);
  cmsDeleteTransform(raw);
  ASSERT_LT(std::min(probe[0], probe[2]), -0.01f);

  for (uint32_t mode : {16u, 17u}) {
    TestImage image(mode, ImageRect{0, 0, 3, 2}, wide);
    for (int32_t i = 0; i < 6; ++i) std::memcpy(image.At<float>(i % 3, i / 3), green, sizeof green);
    ASSERT_TRUE(ConvertColorOf(&image.image, GetLinearWorkingProfile()));
    for (int32_t i = 0; i < 6; ++i) {
      const float* p = image.At<float>(i % 3, i / 3);
      EXPECT_TRUE(p[0] >= 0.0f && p[1] > 1.0f && p[2] >= 0.0f) << mode << ": over-range light is kept";
      EXPECT_EQ(p[3], 0.75f);
    }
  }
  ReleaseColorManagement();
  cmsCloseProfile(wide);
}

TEST_F(ColorTest, GrayImagesKeepTheirValueInAllThreeChannels) {
  Initialize(10);
  cmsHPROFILE linearGray = DeriveGammaProfile(1.0, GetImageProfile());
  ASSERT_TRUE(IsGrayProfile(linearGray));
  TestImage image(10, ImageRect{0, 0, 16, 1}, GetImageProfile());
  for (int32_t x = 0; x < 16; ++x) {
    uint16_t* p = image.At<uint16_t>(x, 0);
    p[0] = p[1] = p[2] = static_cast<uint16_t>(x == 8 ? 128 * 257 : x * 4369);
    p[3] = static_cast<uint16_t>(100 + x);
  }
  ASSERT_TRUE(ConvertColorOf(&image.image, linearGray));
  // The built-in curve puts code 128 of 255 at 0.302 of full light.
  EXPECT_NEAR(image.At<uint16_t>(8, 0)[0] / 65535.0, 19795 / 65535.0, 0.01);
  for (int32_t x = 0; x < 16; ++x) {
    const uint16_t* p = image.At<uint16_t>(x, 0);
    EXPECT_TRUE(p[1] == p[0] && p[2] == p[0] && p[3] == 100 + x) << x;
  }
  // A colour image converted into a gray profile becomes a gray image too.
  TestImage colour(3, ImageRect{0, 0, 2, 1}, GetStandardProfile());
  uint8_t* p = colour.At<uint8_t>(0, 0);
  p[0] = 200, p[1] = 20, p[2] = 90, p[3] = 33;
  ASSERT_TRUE(ConvertColorOf(&colour.image, GetImageProfile()));
  EXPECT_TRUE(p[0] == p[1] && p[1] == p[2] && p[3] == 33);
  cmsCloseProfile(linearGray);
}

TEST_F(ColorTest, RegionsAreClippedToBothImagesAndMovedToTheirOrigin) {
  Initialize();
  TestImage source(3, ImageRect{0, 0, 10, 10}, GetStandardProfile());
  TestImage destination(11, ImageRect{100, 100, 108, 108}, GetStandardProfile());
  for (int32_t i = 0; i < 100; ++i) {  // blue first: blue 77, green y * 20, red x * 20
    uint8_t* p = source.At<uint8_t>(i % 10, i / 10);
    p[0] = 77, p[1] = static_cast<uint8_t>(i / 10 * 20), p[2] = static_cast<uint8_t>(i % 10 * 20), p[3] = 200;
  }
  std::fill_n(static_cast<uint16_t*>(destination.image.pixels.buffer), 8 * 8 * 4, uint16_t{7});
  // The rectangle starts 5 pixels before the source and its corner lands at
  // (98, 97): source (0, 0) lands at (103, 102), and the destination's right
  // and bottom edges leave 5 x 6 pixels of it.
  int16_t status = 0;
  ASSERT_TRUE(ConvertImageRegion(ImagePoint{98, 97}, ImageRect{-5, -5, 20, 20}, &source.image, &destination.image,
                                 &status));
  for (int32_t i = 0; i < 64; ++i) {
    const int32_t x = 100 + i % 8, y = 100 + i / 8;
    const uint16_t* p = destination.At<uint16_t>(x, y);
    if (x < 103 || y < 102) {
      EXPECT_EQ(p[0] + p[1] + p[2] + p[3], 28) << x << "," << y;
      continue;
    }
    EXPECT_EQ(p[3], 200 * 257);
    EXPECT_NEAR(p[0], (x - 103) * 20 * 257, 257);
    EXPECT_NEAR(p[1], (y - 102) * 20 * 257, 257);
    EXPECT_NEAR(p[2], 77 * 257, 257);
  }
  // Beside both images: nothing to do, no error. Moving a region inside one
  // image, or an integer image: parameter errors.
  EXPECT_TRUE(ConvertImageRegion(ImagePoint{0, 0}, ImageRect{50, 50, 60, 60}, &source.image, &destination.image, &status));
  EXPECT_EQ(status, 0);
  EXPECT_FALSE(ConvertImageRegion(ImagePoint{1, 0}, ImageRect{0, 0, 5, 5}, &source.image, &source.image, &status));
  EXPECT_EQ(status, -50);
  TestImage integers(64, ImageRect{0, 0, 4, 4}, nullptr);
  int16_t second = 0;
  EXPECT_FALSE(ConvertImageRegion(ImagePoint{0, 0}, ImageRect{0, 0, 4, 4}, &integers.image, &source.image, &second));
  EXPECT_EQ(second, -50);
}

TEST_F(ColorTest, BandsOnWorkerThreadsGiveTheSameBytesAsOneThread) {
  Initialize();
  const ImageRect rect{0, 0, 97, 300};
  std::mt19937 random(12345);
  TestImage single(3, rect, GetStandardProfile());
  TestImage banded(3, rect, GetStandardProfile());
  auto* bytes = static_cast<uint8_t*>(single.image.pixels.buffer);
  for (size_t i = 0; i < single.Bytes(); ++i) bytes[i] = static_cast<uint8_t>(random());
  std::memcpy(banded.image.pixels.buffer, bytes, single.Bytes());
  ASSERT_TRUE(ConvertColorOf(&single.image, GetLinearWorkingProfile(), 1));
  ASSERT_TRUE(ConvertColorOf(&banded.image, GetLinearWorkingProfile(), 5));
  EXPECT_EQ(single.Copy(), banded.Copy());

  TestImage regionOne(16, rect, GetWorkingProfile());
  TestImage regionMany(16, rect, GetWorkingProfile());
  int16_t status = 0;
  ASSERT_TRUE(ConvertImageRegion(ImagePoint{0, 0}, rect, &single.image, &regionOne.image, &status, 1));
  ASSERT_TRUE(ConvertImageRegion(ImagePoint{0, 0}, rect, &single.image, &regionMany.image, &status, 7));
  EXPECT_EQ(regionOne.Copy(), regionMany.Copy());
}

}  // namespace
