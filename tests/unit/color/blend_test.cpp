// Blending rendered effects into pixels: the five modes in precise and fast
// arithmetic, their fixed points (nothing and everything), over-range light,
// and the error of the fast product.
#include <random>

#include "color/screen_blend.h"
#include "color_test_support.h"
#include "image/pixel_access.h"

namespace {

using colortest::ColorTest;
using colortest::CountOf;

constexpr uint32_t kFull = 0xFFFFFFFE;
constexpr uint32_t kOne = 0x1000000;

BlendPixel Pixel(uint32_t r, uint32_t g, uint32_t b, uint32_t coverage = kFull, uint32_t extra = 0) {
  return BlendPixel{r, g, b, coverage, extra};
}

void ExpectColour(const BlendPixel& p, uint32_t r, uint32_t g, uint32_t b, uint32_t tolerance = 0) {
  EXPECT_NEAR(static_cast<double>(p.red), r, tolerance);
  EXPECT_NEAR(static_cast<double>(p.green), g, tolerance);
  EXPECT_NEAR(static_cast<double>(p.blue), b, tolerance);
}

// The precision the current test blends with (the parameter of the suite).
BlendPrecision g_precision = BLEND_PRECISE;

void Apply(const BlendPixel& source, BlendPixel* destination, uint32_t mode) {
  BlendPixels(&source, destination, mode, g_precision);
}

// Colour times coverage as real numbers: the light a pixel contributes.
double Light(uint32_t colour, uint32_t coverage) { return colour / double(kOne) * (coverage / double(kFull)); }

class Blend : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { g_precision = GetParam() ? BLEND_PRECISE : BLEND_FAST; }
  void TearDown() override { g_precision = BLEND_PRECISE; }
};

TEST_P(Blend, ScreeningBlackChangesNothingAndScreeningWhiteGivesWhite) {
  const uint32_t destinations[] = {0, 1, 0x123456, 0x800000, 0xFFFFFE, 0xFFFFFF};
  for (uint32_t d : destinations) {
    for (uint32_t coverage : {0u, 1u, 0x80000000u, kFull}) {
      BlendPixel out = Pixel(d, d / 2, d / 3, 0x1234, 99);
      Apply(Pixel(0, 0, 0, coverage), &out, BLEND_SCREEN);
      ExpectColour(out, d, d / 2, d / 3);
      EXPECT_EQ(out.coverage, 0x1234u);
      EXPECT_EQ(out.extra, 99u);
    }
    BlendPixel out = Pixel(d, d / 2, d / 3);
    Apply(Pixel(kOne, kOne, kOne), &out, BLEND_SCREEN);
    ExpectColour(out, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF);
  }
  // Over black a screen adds the source's light; over light beyond white it
  // adds nothing.
  BlendPixel onBlack = Pixel(0, 0, 0);
  Apply(Pixel(0x800000, 0x400000, 0, 0x80000000), &onBlack, BLEND_SCREEN);
  ExpectColour(onBlack, 0x400000, 0x200000, 0, 0x2000);
  BlendPixel bright = Pixel(0x3000000, 0xFFFFFFFD, 0x100);
  Apply(Pixel(kOne, kOne, kOne, 0x80000000), &bright, BLEND_SCREEN);
  EXPECT_EQ(bright.red, 0x3000000u);
  EXPECT_EQ(bright.green, 0xFFFFFFFDu);
  EXPECT_GT(bright.blue, 0x7F0000u);
}

TEST_P(Blend, NormalAddAndPremultiplyWeighTheSourceByItsCoverage) {
  const BlendPixel source = Pixel(0xC00000, 0x400000, 0x2000000, 0x40000000, 5);
  BlendPixel keep = Pixel(0x111111, 0x222222, 0x333333, 17, 3);
  Apply(Pixel(0xFFFFFF, 0, 0xFFFFFF, 0), &keep, BLEND_NORMAL);
  ExpectColour(keep, 0x111111, 0x222222, 0x333333);
  BlendPixel replace = keep;
  Apply(Pixel(0xABCDEF, 0x2000000, 7, kFull), &replace, BLEND_NORMAL);
  ExpectColour(replace, 0xABCDEF, 0x2000000, 7);

  // A quarter of the source over the destination; the fast products may
  // fall short by a few hundred units of 2^24.
  const uint32_t tolerance = g_precision == BLEND_PRECISE ? 2 : 0x400;
  BlendPixel mixed = Pixel(0x800000, 0x800000, 0x800000);
  Apply(source, &mixed, BLEND_NORMAL);
  ExpectColour(mixed, 0x600000 + 0x300000, 0x600000 + 0x100000, 0x600000 + 0x800000, tolerance);

  BlendPixel added = Pixel(0x100000, 0x100000, 0x100000, 9, 9);
  Apply(source, &added, BLEND_ADD);
  ExpectColour(added, 0x100000 + 0x300000, 0x100000 + 0x100000, 0x100000 + 0x800000, tolerance);
  EXPECT_EQ(added.coverage, 9u);
  BlendPixel saturated = Pixel(0xFFFFFF00, 5, 0xFFFFFFF0);
  Apply(Pixel(0x10000000, 0, 0x10000000), &saturated, BLEND_ADD);
  ExpectColour(saturated, 0xFFFFFFFD, 5, 0xFFFFFFFD);

  BlendPixel premultiplied = Pixel(1, 2, 3, 4, 6);
  Apply(source, &premultiplied, BLEND_PREMULTIPLY);
  ExpectColour(premultiplied, 0x300000, 0x100000, 0x800000, tolerance);
  EXPECT_EQ(premultiplied.coverage, kFull);
  EXPECT_EQ(premultiplied.extra, 5u);
}

TEST_P(Blend, StoringCopiesInRangeLightAndRescalesLightBeyondWhite) {
  for (const BlendPixel& s : {Pixel(0x5000000, 0x20, 0xFFFFFFFD, 0, 1), Pixel(0x123456, 0xFFFFFF, 0, 0x1234, 2)}) {
    BlendPixel d = Pixel(9, 9, 9, 9, 9);
    Apply(s, &d, BLEND_STORE);
    EXPECT_TRUE(std::memcmp(&d, &s, sizeof d) == 0) << "no coverage, or no light beyond white: a copy";
  }
  for (uint32_t coverage : {kFull, 0x80000000u, 0x01000000u}) {
    const BlendPixel s = Pixel(0x5000000, 0x1800000, 0x20000, coverage, 42);
    BlendPixel d{};
    Apply(s, &d, BLEND_STORE);
    EXPECT_EQ(d.extra, 42u);
    // The colour comes down to about white as far as the coverage leaves
    // room (none at full coverage), and each channel keeps its light to a
    // few parts in a thousand of the brightest.
    EXPECT_TRUE(Light(s.red, s.coverage) >= 1.0 || std::max({d.red, d.green, d.blue}) <= kOne) << coverage;
    EXPECT_TRUE(coverage != kFull || d.red == s.red);
    EXPECT_NEAR(Light(d.red, d.coverage), Light(s.red, s.coverage), 0.005 * Light(s.red, s.coverage)) << coverage;
    EXPECT_NEAR(Light(d.green, d.coverage), Light(s.green, s.coverage), 0.005 * Light(s.red, s.coverage)) << coverage;
  }
}

INSTANTIATE_TEST_SUITE_P(PreciseAndFast, Blend, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Precise" : "Fast"; });

TEST(BlendProducts, PreciseIsTheExactFloorAndFastStaysWithinItsBound) {
  std::mt19937 random(2024);
  std::vector<std::pair<uint32_t, uint32_t>> samples = {
      {0, 0}, {0xFFFFFFFD, 1}, {0xFFFFFFFD, 0xFFFFFFFD}, {0x1000000, 0x80000000}, {0x3FFF, 0x3FFFF}, {1, 0x7FFFFFFF}};
  for (int i = 0; i < 20000; ++i) samples.emplace_back(random(), random() % kFull);
  for (const auto& [x, y] : samples) {
    const uint32_t precise = PreciseProduct(x, y);
    const uint32_t fast = FastProduct(x, y);
    const long double exact = static_cast<long double>(x) * y / 4294967296.0L;
    ASSERT_EQ(precise, static_cast<uint32_t>(exact)) << x << " " << y;
    ASSERT_LE(fast, precise) << x << " " << y;
    ASSERT_LT(precise - fast, (x >> 14) + (y >> 18) + 1) << x << " " << y;
  }
  for (uint32_t x : {0u, 1u, 0xFFFFFFu, 0xFFFFFFFDu}) {
    EXPECT_EQ(PreciseProduct(x, kFull), x);
    EXPECT_EQ(FastProduct(x, kFull), x);
    EXPECT_EQ(FastProduct(x, 0), 0u);
  }
  // The precision asked for decides which of the two a blend uses.
  for (bool precise : {true, false}) {
    g_precision = precise ? BLEND_PRECISE : BLEND_FAST;
    BlendPixel d = Pixel(0, 0, 0);
    Apply(Pixel(0xFFFFFF, 0, 0, 0x7FFFFFFF), &d, BLEND_NORMAL);
    EXPECT_EQ(d.red, precise ? PreciseProduct(0xFFFFFF, 0x7FFFFFFF) : FastProduct(0xFFFFFF, 0x7FFFFFFF));
  }
  g_precision = BLEND_PRECISE;
}

TEST_F(ColorTest, UnknownModesLeaveTheDestinationAndAreReportedOnce) {
  Initialize();
  BlendPixel d = Pixel(1, 2, 3, 4, 5);
  for (uint32_t mode : {0u, static_cast<uint32_t>('mult'), static_cast<uint32_t>('BWAD')}) {
    Apply(Pixel(0xFFFFFF, 0xFFFFFF, 0xFFFFFF), &d, mode);
    ExpectColour(d, 1, 2, 3);
    EXPECT_EQ(d.coverage, 4u);
  }
  BlendPixels(nullptr, &d, BLEND_NORMAL, BLEND_PRECISE);
  EXPECT_EQ(CountOf(CloseAndRead(), "Blending mode not implemented."), 1);
}

}  // namespace

// A row screened at once (the in-place path of the integer modes) gives the
// bytes the per-pixel screen gives, in every mode, gamma and precision:
// light of every strength over every kind of pixel, black light included.
TEST(ScreenRow, EqualsThePixelByPixelScreenInEveryMode) {
  struct Case {
    uint32_t mode;
    double gamma;
  };
  const Case cases[] = {{IMAGE_MODE_RGB8, 2.2},      {IMAGE_MODE_RGB8, 1.0},   {IMAGE_MODE_GRAY8, 1.8},
                        {IMAGE_MODE_RGB16, 2.2},     {IMAGE_MODE_GRAY16, 1.0}, {IMAGE_MODE_RGB_FLOAT, 2.2},
                        {IMAGE_MODE_GRAY_FLOAT, 1.0}};
  constexpr int32_t kWidth = 4096;
  const ImageRect rect{-3, 5, kWidth - 3, 6};
  for (const Case& c : cases) {
    for (BlendPrecision precision : {BLEND_PRECISE, BLEND_FAST}) {
      SCOPED_TRACE(testing::Message() << "mode " << c.mode << ", gamma " << c.gamma << ", precision " << precision);
      Image light{}, row{}, pixels{};
      ASSERT_TRUE(CreateImage(rect, true, &light, rect, c.mode, nullptr, c.gamma, false, nullptr));
      ASSERT_TRUE(CreateImage(rect, true, &row, rect, c.mode, nullptr, c.gamma, false, nullptr));
      ASSERT_TRUE(CreateImage(rect, true, &pixels, rect, c.mode, nullptr, c.gamma, false, nullptr));
      std::mt19937 engine(c.mode * 31 + static_cast<uint32_t>(c.gamma * 10) + precision);
      auto random = [&engine]() { return static_cast<uint32_t>(engine()); };
      auto channel = [&](int kind) -> uint32_t {
        switch (kind) {
          case 0:
            return 0;  // black
          case 1:
            return random() % 0x100;  // deep shadow
          case 2:
            return 0xFFFFFF;  // white
          default:
            return random() % 0x1000000;  // anything
        }
      };
      for (int32_t x = rect.left; x < rect.right; ++x) {
        const int kind = static_cast<int>(random() % 4);
        const PixelValue l{channel(kind), channel(kind == 0 ? 0 : 3), channel(kind == 0 ? 0 : 3),
                           random() % 3 == 0 ? static_cast<uint32_t>(random()) : PIXEL_OPAQUE, PIXEL_OPAQUE};
        const PixelValue d{channel(static_cast<int>(random() % 4)), channel(3), channel(1), PIXEL_OPAQUE, PIXEL_OPAQUE};
        light.writePixel(&light, &l, x, rect.top);
        row.writePixel(&row, &d, x, rect.top);
        pixels.writePixel(&pixels, &d, x, rect.top);
      }
      ScreenRowIntoImage(light, &row, rect.top, rect.left, rect.right, precision);
      for (int32_t x = rect.left; x < rect.right; ++x) {
        PixelValue l;
        light.readPixel(&light, &l, x, rect.top);
        ScreenIntoImage(l, &pixels, x, rect.top, precision);
      }
      const size_t bytes = static_cast<size_t>(kWidth) * 4 * static_cast<size_t>(row.bytesPerChannel);
      EXPECT_EQ(0, std::memcmp(row.pixels.buffer, pixels.pixels.buffer, bytes));
      ReleaseImage(&light);
      ReleaseImage(&row);
      ReleaseImage(&pixels);
    }
  }
}

// The inline screen with a prepared source is the screen of BlendPixels.
TEST(ScreenRow, PreparedSourcesScreenAsBlendPixelsDoes) {
  std::mt19937 engine(7);
  auto random = [&engine]() { return static_cast<uint32_t>(engine()); };
  for (int i = 0; i < 200000; ++i) {
    const uint32_t spread = i % 3 == 0 ? 0x1000000 : 0x40000000;  // in range, or far beyond white
    const BlendPixel source{random() % spread, random() % spread, i % 5 == 0 ? 0 : random() % spread,
                            static_cast<uint32_t>(random()), 0};
    const BlendPixel start{random() % 0x1000000, random() % 0x1000000, random() % 0x1200000, kFull, 0};
    for (BlendPrecision precision : {BLEND_PRECISE, BLEND_FAST}) {
      BlendPixel expected = start, got = start;
      BlendPixels(&source, &expected, BLEND_SCREEN, precision);
      ScreenBlend(MakeScreenSource(source.red, source.green, source.blue), source.coverage, &got,
                  precision == BLEND_PRECISE);
      ASSERT_EQ(expected.red, got.red) << i;
      ASSERT_EQ(expected.green, got.green) << i;
      ASSERT_EQ(expected.blue, got.blue) << i;
    }
  }
}
