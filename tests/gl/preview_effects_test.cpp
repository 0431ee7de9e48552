// The preview's stars against the final render's: the effects pass drawn at
// zoom 100 into a frame buffer and read back, and the software band layer of
// the same settings, both in the display's linear colours. Every drawing
// mode is tried: buffer objects and 16-bit textures, or client arrays,
// 8-bit and power-of-two textures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "color/color_management.h"
#include "color/color_transforms.h"
#include "effects/effect_drawing.h"
#include "gl/gl_api.h"
#include "gl/gl_support.h"
#include "gl/opengl_drawing.h"
#include "gl/preview_effects.h"
#include "gl/texture_sets.h"
#include "params/parameter_set.h"
#include "runtime/buffers.h"
#include "final_render_support.h"
#include "test_gl_context.h"
#include "unit/analysis/analysis_test_support.h"
#include "unit/gl/settings_store_support.h"

namespace {

constexpr uint32_t FULL = 0xFFFFFFFE;

RenderingParameters Factory() {
  ParameterSet set = FACTORY_PARAMETER_SET;
  RenderingParameters p;
  InitializeFinalRenderingParameters(&p, &set);
  return p;
}

LightSourceRecord Light(int32_t x, int32_t xq, int32_t y, int32_t yq, uint32_t red, uint32_t green, uint32_t blue) {
  LightSourceRecord e{};
  e.x = x;
  e.xQuarter = xq;
  e.y = y;
  e.yQuarter = yq;
  e.red = red;
  e.green = green;
  e.blue = blue;
  e.brightness = std::max({red, green, blue});
  e.effectWeight = FULL;
  e.state = LIGHT_SOURCE_FORCED;
  return e;
}

// 8-bit codes, blue, green, red, alpha per pixel, rows top-down: linear
// light (as the comparison asks) and the display's own codes (what
// the user sees once the preview's gamma is applied).
struct Picture {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> linear;
  std::vector<uint8_t> display;
  void Resize(int32_t w, int32_t h) {
    width = w;
    height = h;
    linear.assign(static_cast<size_t>(w) * h * 4, 0);
    display.assign(linear.size(), 0);
  }
};

struct Comparison {
  double meanDifference;  // per channel, of 255, inside the stars' box
  double p99Difference;
  double centroidDistance;  // pixels, the largest of the stars'
};

int Channel(const std::vector<uint8_t>& p, int32_t width, int32_t x, int32_t y, int c) {
  return p[(static_cast<size_t>(y) * width + x) * 4 + c];
}

// Differences inside the box around everything either drew; centroids of
// the light within `radius` pixels of each light source.
Comparison Compare(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int32_t width, int32_t height,
                   const std::vector<LightSourceRecord>& lights, int32_t radius) {
  int32_t left = width, top = height, right = 0, bottom = 0;
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c)
        if (Channel(a, width, x, y, c) != 0 || Channel(b, width, x, y, c) != 0) {
          left = std::min(left, x);
          right = std::max(right, x + 1);
          top = std::min(top, y);
          bottom = std::max(bottom, y + 1);
        }
  Comparison r{};
  if (left >= right) return r;
  std::vector<int> differences;
  for (int32_t y = top; y < bottom; ++y)
    for (int32_t x = left; x < right; ++x)
      for (int c = 0; c < 3; ++c)
        differences.push_back(std::abs(Channel(a, width, x, y, c) - Channel(b, width, x, y, c)));
  double total = 0;
  for (int d : differences) total += d;
  r.meanDifference = total / static_cast<double>(differences.size());
  std::sort(differences.begin(), differences.end());
  r.p99Difference = differences[differences.size() * 99 / 100];
  for (const LightSourceRecord& e : lights) {
    double sums[2][3] = {};  // energy, x moment, y moment
    for (int32_t y = std::max(0, e.y - radius); y <= std::min(height - 1, e.y + radius); ++y)
      for (int32_t x = std::max(0, e.x - radius); x <= std::min(width - 1, e.x + radius); ++x)
        for (int c = 0; c < 3; ++c) {
          const double values[2] = {static_cast<double>(Channel(a, width, x, y, c)),
                                    static_cast<double>(Channel(b, width, x, y, c))};
          for (int i = 0; i < 2; ++i) {
            sums[i][0] += values[i];
            sums[i][1] += values[i] * x;
            sums[i][2] += values[i] * y;
          }
        }
    if (sums[0][0] > 0 && sums[1][0] > 0)
      r.centroidDistance = std::max(r.centroidDistance, std::hypot(sums[0][1] / sums[0][0] - sums[1][1] / sums[1][0],
                                                                   sums[0][2] / sums[0][0] - sums[1][2] / sums[1][0]));
    else if (sums[0][0] + sums[1][0] > 0)
      r.centroidDistance = 1e9;  // one of them drew nothing there
  }
  return r;
}

class PreviewEffectsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    storetest::UsePrivateStore();
    ASSERT_TRUE(context_.Create()) << context_.Failure();
    int16_t status = 0;
    ASSERT_TRUE(InitializeColorManagement(nullptr, 0, IMAGE_MODE_RGB8, &status));
  }
  void TearDown() override {
    DestroyFilterEffects_OpenGL(&effects_);
    DestroyTextureSet(&target_);
    SetMaximumTextureSizeCap(0);
    DeallocateBuffer(&table_.records);
    ReleaseColorManagement();
    context_.Release();
    GlobalOpenGLSettings() = OpenGLSettings{};
  }

  void UseMode(int32_t mode) {
    DestroyFilterEffects_OpenGL(&effects_);
    GlobalOpenGLSettings() = OpenGLSettings{"", mode, mode, true};
    int16_t resultCode = 0;
    ASSERT_TRUE(InitializeOpenGLDrawingSettings(true, &resultCode));
    ASSERT_TRUE(SetUpPreviewEffectShapes(&effects_));
  }

  void SetTable(const std::vector<LightSourceRecord>& lights) { ASSERT_TRUE(finaltest::FillTable(&table_, lights)); }


  PreviewFrame Frame(const RenderingParameters& p, int32_t width, int32_t height) {
    parameters_ = p;
    return PreviewFrame{&parameters_, &table_, ImageDiagonal(width, height), 1, false, nullptr, nullptr};
  }

  // The effects pass over the whole image at zoom 100, read back.
  Picture Preview(const RenderingParameters& p, int32_t width, int32_t height) {
    Picture picture;
    picture.Resize(width, height);
    ConfigureTextureSet(&target_, GL_NEAREST, GL_NEAREST, false, GL_STATIC_DRAW, false, GL_STATIC_DRAW, true);
    EXPECT_TRUE(AttachFBOWithRenderBuffer(&target_, width, height));
    SetGLSize(GLRect{0, 0, width, height});
    EXPECT_TRUE(DrawPreviewEffectsPass(&effects_, Frame(p, width, height), 0, 0, 1.0));
    // Linear codes as OpenGL rounds them; display codes from 16 bits.
    std::vector<uint8_t> rows(picture.linear.size());
    std::vector<uint16_t> wide(picture.linear.size());
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_BGRA, GL_UNSIGNED_BYTE, rows.data());
    glReadPixels(0, 0, width, height, GL_BGRA, GL_UNSIGNED_SHORT, wide.data());
    DetachFBO();
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    const size_t stride = static_cast<size_t>(width) * 4;
    for (int32_t y = 0; y < height; ++y) {  // frame buffer rows run bottom-up
      const size_t from = (height - 1 - y) * stride, to = y * stride;
      std::memcpy(&picture.linear[to], &rows[from], stride);
      for (size_t i = 0; i < stride; ++i)
        picture.display[to + i] = static_cast<uint8_t>(std::lround(255 * std::pow(wide[from + i] / 65535.0, 1 / 2.2)));
    }
    return picture;
  }

  // The final render's band layer of the same settings, converted to the
  // display profile and made linear as the preview's textures are.
  Picture Final(const RenderingParameters& p, int32_t width, int32_t height) {
    const PreviewFrame frame = Frame(p, width, height);
    StarEffectSettings settings;
    PrepareStarEffectSettings(p, frame.diagonal, 1, false, &settings);
    EffectShapes shapes{};
    SetUpEffectShapes(&shapes, settings);
    BandLayer layer{};
    int16_t status = 0;
    const ImageRect band{0, 0, width, height};
    EXPECT_TRUE(CreateBandLayer(band, IMAGE_MODE_RGB8, GetWorkingProfile(), GetImageGammaOfProfile(GetWorkingProfile()),
                                false, &layer, &status));
    EXPECT_TRUE(RenderEffectsIntoBandLayer(&layer, &shapes, table_, BLEND_PRECISE, nullptr, nullptr));
    EXPECT_TRUE(ConvertColorOf(&layer.image, GetStandardProfile()));
    Picture picture;
    picture.Resize(width, height);
    const size_t stride = static_cast<size_t>(width) * 4;
    auto copy = [&](std::vector<uint8_t>* to) {
      for (int32_t y = 0; y < height; ++y)
        std::memcpy(&(*to)[y * stride],
                    static_cast<const uint8_t*>(layer.image.pixels.buffer) +
                        static_cast<size_t>(y) * layer.image.bufferWidth * 4,
                    stride);
    };
    copy(&picture.display);
    LinearizeImage(&layer.image);
    copy(&picture.linear);
    ReleaseBandLayer(&layer);
    ReleaseEffectShapes(&shapes);
    return picture;
  }

  // The bounds in linear light, for every drawing mode; the display
  // codes are measured and bounded more loosely where 8-bit textures lose
  // the faint ends of the spikes.
  void ExpectMatch(const RenderingParameters& p, int32_t width, int32_t height,
                   const std::vector<LightSourceRecord>& lights, const std::string& what) {
    SetTable(lights);
    const Picture final = Final(p, width, height);
    for (int32_t mode : {OPTIMIZE_FOR_QUALITY, OPTIMIZE_FOR_COMPATIBILITY}) {
      UseMode(mode);
      const Picture preview = Preview(p, width, height);
      const Comparison linear = Compare(preview.linear, final.linear, width, height, lights, 12);
      const Comparison display = Compare(preview.display, final.display, width, height, lights, 12);
      const std::string where = what + ", mode " + std::to_string(mode);
      std::printf("%s: linear mean %.3f, p99 %.0f, centroid %.3f px; display mean %.3f, p99 %.0f, centroid %.3f px\n",
                  where.c_str(), linear.meanDifference, linear.p99Difference, linear.centroidDistance,
                  display.meanDifference, display.p99Difference, display.centroidDistance);
      EXPECT_LE(linear.meanDifference, 2.0) << where;
      EXPECT_LE(linear.p99Difference, 8.0) << where;
      EXPECT_LE(linear.centroidDistance, 0.5) << where;
      EXPECT_LE(display.meanDifference, 2.0) << where;
      EXPECT_LE(display.p99Difference, 12.0) << where;
    }
  }

  TestGLContext context_;
  PreviewEffects effects_{};
  TextureSet target_{};
  LightSourceList table_{};
  RenderingParameters parameters_{};
};

TEST_F(PreviewEffectsTest, OneLightSourceLooksAsTheFinalRenderDrawsIt) {
  struct Row {
    const char* what;
    uint32_t red, green, blue;
    void (*edit)(RenderingParameters*);
  };
  const Row rows[] = {
      {"warm light, factory settings", FULL / 8, FULL / 10, FULL / 14, [](RenderingParameters*) {}},
      {"white at full strength", FULL, FULL, FULL, [](RenderingParameters*) {}},
      {"faint blue", FULL / 200, FULL / 150, FULL / 90, [](RenderingParameters*) {}},
      {"long, eight points, sharp", FULL / 8, FULL / 10, FULL / 14,
       [](RenderingParameters* p) {
         p->length = 100;
         p->numberOfPoints = 8;
         p->spikeSharpness = 80;
         p->angle = 17;
       }},
      {"strong rainbow and flare", FULL / 4, FULL / 4, FULL / 4,
       [](RenderingParameters* p) {
         p->colorSaturation = 100;
         p->rainbowFrequency = 90;
         p->softFlareIntensity = 100;
         p->intensity = 80;
       }},
  };
  for (const Row& row : rows) {
    RenderingParameters p = Factory();
    row.edit(&p);
    ExpectMatch(p, 400, 300, {Light(200, 1, 150, 2, row.red, row.green, row.blue)}, row.what);
  }
}

TEST_F(PreviewEffectsTest, FiveLightSourcesOfAPhotoLookAsTheFinalRenderDrawsThem) {
  const std::string folder = analysistest::TestDataFolder();
  if (folder.empty()) GTEST_SKIP() << "no test photographs here";
  analysistest::OwnedImage photo;
  std::vector<LightSourceRecord> lights;
  std::string reason;
  ASSERT_TRUE(finaltest::LoadAnalysedPhoto(folder, &photo, &lights, &reason)) << reason;
  ASSERT_GE(lights.size(), 5u);
  std::vector<LightSourceRecord> five(lights.begin(), lights.begin() + 5);
  for (LightSourceRecord& e : five) e.state = LIGHT_SOURCE_FORCED;
  ExpectMatch(Factory(), photo.image.width, photo.image.height, five, "five lights");
}

}  // namespace

namespace {

// Sums of the colour channels of what the effects pass drew.
double DrawnEnergy(const Picture& picture) {
  double sum = 0;
  for (size_t i = 0; i < picture.linear.size(); i += 4) sum += picture.linear[i] + picture.linear[i + 1] + picture.linear[i + 2];
  return sum;
}

TEST_F(PreviewEffectsTest, SettingsThatDrawNothingOrLittleAreDrawnSafely) {
  UseMode(OPTIMIZE_FOR_QUALITY);
  SetTable({Light(50, 0, 40, 0, FULL / 4, FULL / 4, FULL / 4)});
  RenderingParameters p = Factory();
  p.length = 0;
  EXPECT_EQ(DrawnEnergy(Preview(p, 100, 80)), 0) << "Length 0 draws neither spikes nor flare";
  EXPECT_EQ(effects_.spike.batches.quadCount + effects_.flare.batches.quadCount, 0);

  p = Factory();
  p.intensity = 0;
  EXPECT_GT(DrawnEnergy(Preview(p, 100, 80)), 0) << "the flare stays";
  EXPECT_EQ(effects_.spike.batches.quadCount, 0);
  EXPECT_EQ(effects_.flare.batches.quadCount, 1);

  // A 1 x 1 image: a diagonal of 2 pixels.
  SetTable({Light(0, 2, 0, 2, FULL, FULL, FULL)});
  p = Factory();
  const Picture tiny = Preview(p, 1, 1);
  EXPECT_GT(DrawnEnergy(tiny), 0);

  // The largest texture smaller than the spike: it is cut to half of it.
  SetMaximumTextureSizeCap(64);
  UseMode(OPTIMIZE_FOR_QUALITY);
  SetTable({Light(100, 0, 100, 0, FULL / 4, FULL / 4, FULL / 4)});
  p.length = 100;
  EXPECT_GT(DrawnEnergy(Preview(p, 200, 200)), 0);
  EXPECT_EQ(effects_.spike.usedWidth, 32);
  EXPECT_LE(effects_.flare.usedWidth, 63);
  EXPECT_LE(effects_.spike.slots[0].textureWidth, 64);
}

TEST_F(PreviewEffectsTest, TexturesAreRebuiltOnlyWhenTheirSettingsChange) {
  UseMode(OPTIMIZE_FOR_QUALITY);
  SetTable({Light(60, 0, 60, 0, FULL / 4, FULL / 4, FULL / 4)});
  RenderingParameters p = Factory();
  Preview(p, 120, 120);
  const GLuint marker = effects_.spike.slots[0].texture;
  // Clears the light's row of the lowest level, draws a frame and tells
  // whether the row was filled again.
  auto lightRowLit = [&](const RenderingParameters& q) {
    const int32_t w = effects_.spike.slots[0].textureWidth;
    std::vector<uint8_t> zero(static_cast<size_t>(w) * 4, 0);
    glBindTexture(GL_TEXTURE_2D, marker);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, effects_.spike.originY, w, 1, GL_RGBA, GL_UNSIGNED_BYTE, zero.data());
    Preview(q, 120, 120);
    std::vector<uint16_t> texels(static_cast<size_t>(w) * effects_.spike.slots[0].textureHeight * 4);
    glBindTexture(GL_TEXTURE_2D, marker);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_SHORT, texels.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    const auto row = texels.begin() + static_cast<ptrdiff_t>(effects_.spike.originY) * w * 4;
    return std::any_of(row, row + w * 4, [](uint16_t v) { return v != 0; });
  };
  RenderingParameters q = p;
  q.angle += 10;
  q.numberOfPoints += 2;
  q.softFlareIntensity += 10;
  EXPECT_FALSE(lightRowLit(q)) << "angle, points and flare strength reuse the spike";
  q.rainbowFrequency += 10;
  EXPECT_TRUE(lightRowLit(q)) << "the rainbow's frequency tints the spike";
  q.spikeSharpness += 10;
  EXPECT_TRUE(lightRowLit(q));
}

TEST_F(PreviewEffectsTest, ManyQuadsFillASecondBatchAndStillDrawAlike) {
  std::vector<LightSourceRecord> lights;
  for (int32_t i = 0; i < 5000; ++i) lights.push_back(Light(i % 100 * 4, 0, i / 100 * 4, 0, FULL / 64, FULL / 64, FULL / 64));
  SetTable(lights);
  RenderingParameters p = Factory();
  p.numberOfPoints = 4;  // 20000 spike quads
  p.length = 5;
  for (int32_t mode : {OPTIMIZE_FOR_QUALITY, OPTIMIZE_FOR_COMPATIBILITY}) {
    UseMode(mode);
    const Picture picture = Preview(p, 400, 200);
    EXPECT_EQ(effects_.spike.batches.batchCount, 2) << "mode " << mode;
    EXPECT_EQ(effects_.spike.batches.batches[0].vertices.size(), 16383u * 4);
    EXPECT_EQ(effects_.spike.batches.quadCount, 20000);
    // The last light's star is drawn like the first's: both batches reached the screen.
    const auto at = [&](int32_t x, int32_t y) { return Channel(picture.linear, 400, x, y, 2); };
    EXPECT_GT(at(0, 0), 0);
    EXPECT_EQ(at(396, 196), at(200, 100)) << "mode " << mode;
  }
}

TEST_F(PreviewEffectsTest, AnAbortedFrameDrawsNothing) {
  UseMode(OPTIMIZE_FOR_QUALITY);
  SetTable({Light(50, 0, 50, 0, FULL / 4, FULL / 4, FULL / 4)});
  std::atomic<bool> abort{true};
  parameters_ = Factory();
  PreviewFrame frame{&parameters_, &table_, 142, 1, false, nullptr, &abort};
  ConfigureTextureSet(&target_, GL_NEAREST, GL_NEAREST, false, GL_STATIC_DRAW, false, GL_STATIC_DRAW, true);
  ASSERT_TRUE(AttachFBOWithRenderBuffer(&target_, 100, 100));
  SetGLSize(GLRect{0, 0, 100, 100});
  EXPECT_FALSE(DrawPreviewEffectsPass(&effects_, frame, 0, 0, 1.0));
  std::vector<uint8_t> pixels(100 * 100 * 4, 1);
  glReadPixels(0, 0, 100, 100, GL_BGRA, GL_UNSIGNED_BYTE, pixels.data());
  DetachFBO();
  EXPECT_TRUE(std::all_of(pixels.begin(), pixels.end(), [](uint8_t v) { return v == 0; }));
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

}  // namespace
