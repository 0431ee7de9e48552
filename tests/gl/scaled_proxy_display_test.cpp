// The preview's whole frame (image, stars, gamma) against the final render
// of the same photo and settings, as the display shows both; and what the
// frame does with transparency, zoom and hidden effects.
#include "preview/scaled_proxy_display.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "color/blend.h"
#include "color/color_management.h"
#include "color/color_transforms.h"
#include "effects/effect_drawing.h"
#include "gl/gl_api.h"
#include "gl/gl_support.h"
#include "gl/opengl_drawing.h"
#include "gl/texture_sets.h"
#include "params/parameter_set.h"
#include "image/pixel_access.h"
#include "preview/host_proxy_levels.h"
#include "runtime/buffers.h"
#include "final_render_support.h"
#include "test_gl_context.h"
#include "unit/analysis/analysis_test_support.h"
#include "unit/gl/settings_store_support.h"

namespace {

RenderingParameters ViewOf(int32_t width, int32_t height, double zoom) {
  ParameterSet set = FACTORY_PARAMETER_SET;
  RenderingParameters p;
  InitializeFinalRenderingParameters(&p, &set);
  p.zoomPercent = zoom;
  p.viewRect = RenderingRect{0, 0, width, height};
  p.effectsVisible = 1;
  return p;
}

class ScaledProxyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    storetest::UsePrivateStore();
    ASSERT_TRUE(context_.Create()) << context_.Failure();
    int16_t status = 0;
    ASSERT_TRUE(InitializeColorManagement(nullptr, 0, IMAGE_MODE_RGB8, &status));
    ConfigureTextureSet(&output_, GL_NEAREST, GL_NEAREST, false, GL_STATIC_DRAW, false, GL_STATIC_DRAW, true);
  }
  void TearDown() override {
    if (layer_.initialized) DestroyScaledProxyLayer(&layer_);
    DestroyTextureSet(&output_);
    ReleaseHostProxyImage(&proxy_);
    DeallocateBuffer(&table_.records);
    ReleaseColorManagement();
    context_.Release();
    GlobalOpenGLSettings() = OpenGLSettings{};
  }

  void StartLayer(int32_t mode, const Image* host) {
    if (layer_.initialized) DestroyScaledProxyLayer(&layer_);
    GlobalOpenGLSettings() = OpenGLSettings{"", mode, mode, true};
    int16_t resultCode = 0;
    ASSERT_TRUE(InitializeOpenGLDrawingSettings(true, &resultCode));
    layer_ = ScaledProxyLayer{};
    layer_.proxy = &proxy_;
    layer_.hostImage = host;
    layer_.table = &table_;
    layer_.screenDrawing = true;
    LayOutHostProxyLevels(&proxy_, *host);
    ASSERT_TRUE(InitializeScaledProxyLayer(&layer_));
  }

  // One pass into a frame buffer of the view's size; display codes, rows
  // top-down, blue-green-red-alpha.
  std::vector<uint8_t> Frame(const RenderingParameters& p) {
    const int32_t w = p.viewRect.right, h = p.viewRect.bottom;
    EXPECT_TRUE(AttachFBOWithRenderBuffer(&output_, w, h));
    layer_.outputFramebuffer = output_.framebuffer;
    UpdateProxyDisplayState(&layer_, p);
    EXPECT_TRUE(RenderScaledProxyDisplay(&layer_, p));
    // Off-screen buffers come back as the frame buffer holds them; the
    // software gamma of a shader-less context applies to them here.
    std::vector<uint8_t> rows(static_cast<size_t>(w) * h * 4), frame(rows.size());
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, w, h, GL_BGRA, GL_UNSIGNED_BYTE, rows.data());
    DetachFBO();
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    for (int32_t y = 0; y < h; ++y)
      std::copy_n(&rows[static_cast<size_t>(h - 1 - y) * w * 4], static_cast<size_t>(w) * 4,
                  &frame[static_cast<size_t>(y) * w * 4]);
    return frame;
  }

  TestGLContext context_;
  ScaledProxyLayer layer_{};
  HostProxyImage proxy_{};
  TextureSet output_{};
  LightSourceList table_{};
};

TEST_F(ScaledProxyTest, APhotosFrameShowsWhatTheFinalRenderMakesOfIt) {
  const std::string folder = analysistest::TestDataFolder();
  if (folder.empty()) GTEST_SKIP() << "no test photographs here";
  analysistest::OwnedImage photo;
  std::vector<LightSourceRecord> lights;
  std::string reason;
  ASSERT_TRUE(finaltest::LoadAnalysedPhoto(folder, &photo, &lights, &reason)) << reason;
  ASSERT_TRUE(finaltest::FillTable(&table_, lights));
  const int32_t w = photo.image.width, h = photo.image.height;
  // The view holds the photo at 100 % inside its one-pixel border.
  const RenderingParameters p = ViewOf(w + 2, h + 2, 100.0);
  const std::vector<uint8_t> final = finaltest::FinalRender(photo.image, table_, p, ImageDiagonal(w, h));
  for (int32_t mode : {OPTIMIZE_FOR_QUALITY, OPTIMIZE_FOR_COMPATIBILITY, OPTIMIZE_NONE}) {
    StartLayer(mode, &photo.image);
    const std::vector<uint8_t> frame = Frame(p);
    std::vector<int> differences;
    double total = 0;
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c) {
          const int d = std::abs(frame[(static_cast<size_t>(y + 1) * (w + 2) + x + 1) * 4 + c] -
                                 final[(static_cast<size_t>(y) * w + x) * 4 + c]);
          differences.push_back(d);
          total += d;
        }
    std::sort(differences.begin(), differences.end());
    const double mean = total / differences.size();
    const int p99 = differences[differences.size() * 99 / 100];
    std::printf("mode %d: mean %.3f, p99 %d of 255 over the photo\n", mode, mean, p99);
    // 8-bit composites hold the image's shadows in linear 8-bit codes, a few
    // display steps apart: the weak modes are bounded more loosely there.
    const bool sixteen = mode == OPTIMIZE_FOR_QUALITY;
    EXPECT_LE(mean, sixteen ? 2.0 : 3.0) << "mode " << mode;
    EXPECT_LE(p99, sixteen ? 8 : 16) << "mode " << mode;
  }
}

TEST_F(ScaledProxyTest, TheImageSitsCentredInsideItsBorderAtAnyZoom) {
  const struct {
    ImageRect view;
    int32_t width, height;
    double zoom;
    ImageRect expected;
  } rows[] = {
      {{0, 0, 102, 82}, 100, 80, 100.0, {1, 1, 101, 81}},      // fits exactly
      {{0, 0, 202, 102}, 100, 80, 100.0, {51, 11, 151, 91}},   // centred
      {{0, 0, 102, 82}, 400, 320, 50.0, {1, 1, 101, 81}},      // larger: cut to the view
      {{0, 0, 52, 52}, 1, 1, 33.0, {25, 25, 26, 26}},          // never empty
      {{10, 20, 112, 102}, 300, 240, 33.3333333333, {11, 21, 111, 101}},
  };
  for (const auto& r : rows) {
    const ImageRect got = CenteredImageRect(r.view, r.width, r.height, r.zoom);
    EXPECT_EQ(got.left, r.expected.left) << r.width << " at " << r.zoom;
    EXPECT_EQ(got.top, r.expected.top) << r.width << " at " << r.zoom;
    EXPECT_EQ(got.right, r.expected.right) << r.width << " at " << r.zoom;
    EXPECT_EQ(got.bottom, r.expected.bottom) << r.width << " at " << r.zoom;
  }
}

TEST_F(ScaledProxyTest, SoftwareGammaMatchesTheEncodingOfEveryPixelType) {
  // Each pixel type encoded with the display's 1 / 2.2, alpha untouched:
  // mid grey in linear light comes out near 0.5^(1/2.2) = 0.7297.
  uint8_t bytes[4] = {55, 55, 55, 9};
  ApplyDisplayGamma(1, GL_UNSIGNED_BYTE, bytes);
  EXPECT_NEAR(bytes[0], 255 * std::pow(55 / 255.0, 1 / 2.2), 1.0);
  EXPECT_EQ(bytes[3], 9);
  uint16_t shorts[4] = {32768, 0, 65535, 7};
  ApplyDisplayGamma(1, GL_UNSIGNED_SHORT, shorts);
  EXPECT_NEAR(shorts[0] / 65535.0, 0.7297, 0.001);
  EXPECT_EQ(shorts[1], 0);
  EXPECT_EQ(shorts[2], 65535);
  float floats[4] = {0.5f, 2.0f, -1.0f, 0.25f};
  ApplyDisplayGamma(1, GL_FLOAT, floats);
  EXPECT_NEAR(floats[0], 0.7297, 0.001);
  EXPECT_FLOAT_EQ(floats[1], 1.0f) << "light above white shows as white";
  EXPECT_FLOAT_EQ(floats[2], 0.0f);
  EXPECT_FLOAT_EQ(floats[3], 0.25f);
  uint16_t halves[4] = {FloatToHalf(0.5f), FloatToHalf(0.0f), FloatToHalf(1.0f), FloatToHalf(0.25f)};
  ApplyDisplayGamma(1, GL_HALF_FLOAT, halves);
  EXPECT_NEAR(HalfToFloat(halves[0]), 0.7297, 0.001);
  EXPECT_EQ(HalfToFloat(halves[1]), 0.0f);
  EXPECT_EQ(HalfToFloat(halves[2]), 1.0f);
  EXPECT_EQ(HalfToFloat(halves[3]), 0.25f);
  // The half-float conversion both ways, normals and denormals.
  for (float v : {0.0f, 1.0f, -2.5f, 65504.0f, 6.1035156e-05f, 5.9604645e-08f, 0.333251953f})
    EXPECT_EQ(HalfToFloat(FloatToHalf(v)), v) << v;
}

TEST_F(ScaledProxyTest, TransparencyShowsTheCheckerAndHiddenStarsLeaveTheImage) {
  // A 64 x 32 image: the left half opaque mid grey, the right half clear.
  Image host{};
  const ImageRect rect{0, 0, 64, 32};
  ASSERT_TRUE(CreateImage(rect, true, &host, rect, IMAGE_MODE_RGB8, GetWorkingProfile(),
                          GetImageGammaOfProfile(GetWorkingProfile()), false, nullptr));
  for (int32_t y = 0; y < 32; ++y)
    for (int32_t x = 0; x < 64; ++x) {
      const PixelValue v{8388607, 8388607, 8388607, x < 32 ? 0xFFFFFFFEu : 0u, 0xFFFFFFFEu};
      host.writePixel(&host, &v, x, y);
    }
  LightSourceRecord light{};
  light.x = 16;
  light.y = 16;
  light.red = light.green = light.blue = light.brightness = 0x40000000;
  light.effectWeight = 0xFFFFFFFE;
  light.state = LIGHT_SOURCE_FORCED;
  ASSERT_TRUE(finaltest::FillTable(&table_, {light}));
  StartLayer(OPTIMIZE_FOR_QUALITY, &host);
  RenderingParameters p = ViewOf(66, 34, 100.0);
  auto at = [](const std::vector<uint8_t>& f, int32_t x, int32_t y) { return f[(static_cast<size_t>(y) * 66 + x) * 4]; };
  std::vector<uint8_t> frame = Frame(p);
  EXPECT_GT(at(frame, 17, 17), at(frame, 5, 30)) << "a star at the light";
  // Where the image is clear the checker shows: one repeat of its two
  // squares per 16 screen pixels, white, then grey.
  EXPECT_EQ(at(frame, 1 + 34, 1 + 2), 255);
  EXPECT_LT(at(frame, 1 + 42, 1 + 2), 255);
  EXPECT_EQ(at(frame, 1 + 50, 1 + 2), 255);
  // Twice the size, scrolled by 10 view pixels: the light's centre, at
  // image (16.5, 16.5), lands at 1 + 2 x 16.5 - 10 = 24 in the view.
  p.zoomPercent = 200;
  p.scrollX = p.scrollY = 10;
  frame = Frame(p);
  EXPECT_GT(at(frame, 24, 24), at(frame, 5, 60 - 30)) << "the star follows zoom and scroll";
  p.zoomPercent = 100;
  p.scrollX = p.scrollY = 0;
  p.effectsVisible = 0;
  frame = Frame(p);
  EXPECT_NEAR(at(frame, 17, 17), at(frame, 5, 30), 1) << "no star once hidden";
  ReleaseImage(&host);
}

TEST_F(ScaledProxyTest, TheSelectionAndTheKeyboardFocusAreOutlined) {
  Image host{};
  const ImageRect rect{0, 0, 64, 48};
  ASSERT_TRUE(CreateImage(rect, true, &host, rect, IMAGE_MODE_RGB8, GetWorkingProfile(),
                          GetImageGammaOfProfile(GetWorkingProfile()), false, nullptr));
  const PixelValue grey{8388607, 8388607, 8388607, 0xFFFFFFFE, 0xFFFFFFFE};
  FillImageRect(rect, grey, &host);
  table_.count = 0;
  std::atomic<bool> focus{false};
  StartLayer(OPTIMIZE_FOR_QUALITY, &host);
  layer_.keyboardFocus = &focus;
  std::vector<std::pair<uint32_t, uint32_t>> progress;
  layer_.progress = [](void* c, uint32_t done, uint32_t total) {
    static_cast<std::vector<std::pair<uint32_t, uint32_t>>*>(c)->push_back({done, total});
  };
  layer_.progressContext = &progress;
  RenderingParameters p = ViewOf(66, 50, 100.0);
  p.selectionRect = RenderingRect{11, 11, 31, 31};
  auto at = [](const std::vector<uint8_t>& f, int32_t x, int32_t y) { return f[(static_cast<size_t>(y) * 66 + x) * 4]; };
  std::vector<uint8_t> frame = Frame(p);
  // The selection's left edge: black and white dashes along it; inside, the
  // image's grey.
  int black = 0, white = 0;
  for (int32_t y = 12; y < 30; ++y) {
    black += at(frame, 11, y) == 0;
    white += at(frame, 11, y) == 255;
  }
  EXPECT_GT(black, 3);
  EXPECT_GT(white, 3);
  EXPECT_NEAR(at(frame, 20, 20), 186, 2) << "mid grey shown";
  // Without the focus the view's border is solid black, with it dashed.
  EXPECT_EQ(at(frame, 0, 20), 0);
  EXPECT_EQ(at(frame, 0, 21), 0);
  focus = true;
  p.zoomPercent = 100.0 + 1e-9;  // a new frame
  frame = Frame(p);
  white = 0;
  for (int32_t y = 5; y < 45; ++y) white += at(frame, 0, y) == 255;
  EXPECT_GT(white, 10);
  // The pass fed the progress bar from 0 to its 25 steps and cleared it.
  ASSERT_GE(progress.size(), 3u);
  EXPECT_EQ(progress.front(), std::make_pair(0u, 25u));
  EXPECT_EQ(progress.back(), std::make_pair(0u, 0u));
  ReleaseImage(&host);
}

TEST_F(ScaledProxyTest, TheSplashSitsInTheMiddleOfTheWindow) {
  Image host{};
  const ImageRect rect{0, 0, 8, 8};
  ASSERT_TRUE(CreateImage(rect, true, &host, rect, IMAGE_MODE_RGB8, GetWorkingProfile(), 2.2, false, nullptr));
  StartLayer(OPTIMIZE_FOR_COMPATIBILITY, &host);
  ASSERT_TRUE(AttachFBOWithRenderBuffer(&output_, 500, 300));
  ASSERT_TRUE(DrawSplashScreen(&layer_, ImageRect{0, 0, 500, 300}));
  std::vector<uint8_t> frame(500 * 300 * 4);
  glReadPixels(0, 0, 500, 300, GL_BGRA, GL_UNSIGNED_BYTE, frame.data());
  DetachFBO();
  const auto at = [&](int32_t x, int32_t y) { return frame[(static_cast<size_t>(299 - y) * 500 + x) * 4 + 2]; };
  EXPECT_GT(at(250, 150), 230) << "the star's heart";
  EXPECT_EQ(at(5, 5), 127) << "the window's background";
  EXPECT_LT(at(95, 55), 60) << "night blue in the picture's corner";
  ReleaseImage(&host);
}

}  // namespace
