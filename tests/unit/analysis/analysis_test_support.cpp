#include "analysis_test_support.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "analysis/light_source_detection.h"
#include "image/pixel_access.h"
#include "table_stand_in.h"

#if __has_include(<stb/stb_image.h>)
#define GLIMMARK_TEST_PNG 1
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wall"
#pragma GCC diagnostic ignored "-Wextra"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb/stb_image.h>
#pragma GCC diagnostic pop
#endif

namespace analysistest {
namespace {

uint16_t* Pixel16(Image* image, int32_t x, int32_t y) {
  return static_cast<uint16_t*>(image->pixels.buffer) +
         (static_cast<size_t>(y - image->bufferRect.top) * image->bufferWidth + (x - image->bufferRect.left)) * 4;
}

uint16_t ToCode(double v) { return static_cast<uint16_t>(std::lround(std::clamp(v, 0.0, 1.0) * 65535.0)); }

// Fraction of pixel (x, y) inside the disc, on a 16 x 16 grid of points.
double Coverage(double x, double y, double cx, double cy, double radius) {
  const double nearest = std::hypot(std::max(0.0, std::fabs(x - cx) - 0.5), std::max(0.0, std::fabs(y - cy) - 0.5));
  if (nearest >= radius) return 0.0;
  const double farthest = std::hypot(std::fabs(x - cx) + 0.5, std::fabs(y - cy) + 0.5);
  if (farthest <= radius) return 1.0;
  constexpr int GRID = 16;
  int inside = 0;
  for (int j = 0; j < GRID; ++j) {
    for (int i = 0; i < GRID; ++i) {
      const double px = x - 0.5 + (i + 0.5) / GRID;
      const double py = y - 0.5 + (j + 0.5) / GRID;
      if ((px - cx) * (px - cx) + (py - cy) * (py - cy) <= radius * radius) ++inside;
    }
  }
  return static_cast<double>(inside) / (GRID * GRID);
}

}  // namespace

void MakeLinearImage(OwnedImage* out, int32_t width, int32_t height, const Rgb& background, bool withMask, int32_t left,
                     int32_t top) {
  const ImageRect rect{left, top, left + width, top + height};
  ASSERT_TRUE(CreateImage(rect, false, &out->image, rect, IMAGE_MODE_RGB16, nullptr, 1.0, withMask, nullptr));
  for (int32_t y = top; y < top + height; ++y) {
    for (int32_t x = left; x < left + width; ++x) {
      uint16_t* p = Pixel16(&out->image, x, y);
      p[0] = ToCode(background.red);
      p[1] = ToCode(background.green);
      p[2] = ToCode(background.blue);
      p[3] = 65535;
    }
  }
  if (withMask) std::memset(out->image.mask.buffer, 255, static_cast<size_t>(width) * static_cast<size_t>(height));
}

void DrawDisc(Image* image, double cx, double cy, double radius, const Rgb& colour) {
  const ImageRect& r = image->bufferRect;
  const int32_t x0 = std::max(r.left, static_cast<int32_t>(std::floor(cx - radius - 1)));
  const int32_t x1 = std::min(r.right - 1, static_cast<int32_t>(std::ceil(cx + radius + 1)));
  const int32_t y0 = std::max(r.top, static_cast<int32_t>(std::floor(cy - radius - 1)));
  const int32_t y1 = std::min(r.bottom - 1, static_cast<int32_t>(std::ceil(cy + radius + 1)));
  for (int32_t y = y0; y <= y1; ++y) {
    for (int32_t x = x0; x <= x1; ++x) {
      const double c = Coverage(x, y, cx, cy, radius);
      if (c <= 0.0) continue;
      uint16_t* p = Pixel16(image, x, y);
      const double channels[3] = {colour.red, colour.green, colour.blue};
      for (int k = 0; k < 3; ++k) p[k] = ToCode(p[k] / 65535.0 * (1.0 - c) + channels[k] * c);
    }
  }
}

void DrawRadialProfile(Image* image, double cx, double cy, double reach, double (*level)(double), const Rgb& colour) {
  const ImageRect& r = image->bufferRect;
  for (int32_t y = std::max(r.top, static_cast<int32_t>(std::floor(cy - reach)));
       y <= std::min(r.bottom - 1, static_cast<int32_t>(std::ceil(cy + reach))); ++y) {
    for (int32_t x = std::max(r.left, static_cast<int32_t>(std::floor(cx - reach)));
         x <= std::min(r.right - 1, static_cast<int32_t>(std::ceil(cx + reach))); ++x) {
      const double c = level(std::hypot(x - cx, y - cy));
      if (c <= 0.0) continue;
      uint16_t* p = Pixel16(image, x, y);
      const double channels[3] = {colour.red, colour.green, colour.blue};
      for (int k = 0; k < 3; ++k) p[k] = ToCode(p[k] / 65535.0 * (1.0 - c) + channels[k] * c);
    }
  }
}

void FillRect(Image* image, const ImageRect& rect, const Rgb& colour) {
  for (int32_t y = std::max(rect.top, image->bufferRect.top); y < std::min(rect.bottom, image->bufferRect.bottom);
       ++y) {
    for (int32_t x = std::max(rect.left, image->bufferRect.left); x < std::min(rect.right, image->bufferRect.right);
         ++x) {
      uint16_t* p = Pixel16(image, x, y);
      p[0] = ToCode(colour.red);
      p[1] = ToCode(colour.green);
      p[2] = ToCode(colour.blue);
    }
  }
}

void SetMask(Image* image, const ImageRect& rect, uint8_t value) {
  auto* mask = static_cast<uint8_t*>(image->mask.buffer);
  ASSERT_NE(mask, nullptr);
  for (int32_t y = std::max(rect.top, image->bufferRect.top); y < std::min(rect.bottom, image->bufferRect.bottom); ++y)
    for (int32_t x = std::max(rect.left, image->bufferRect.left); x < std::min(rect.right, image->bufferRect.right);
         ++x)
      mask[static_cast<size_t>(y - image->bufferRect.top) * image->bufferWidth + (x - image->bufferRect.left)] = value;
}

void SetAlpha16(Image* image, const ImageRect& rect, uint16_t value) {
  for (int32_t y = std::max(rect.top, image->bufferRect.top); y < std::min(rect.bottom, image->bufferRect.bottom); ++y)
    for (int32_t x = std::max(rect.left, image->bufferRect.left); x < std::min(rect.right, image->bufferRect.right);
         ++x)
      Pixel16(image, x, y)[3] = value;
}

bool AlreadyLinear(Image* image) {
  image->gamma = 1.0;
  image->gammaTables = GetGammaTables(1.0);
  return image->gammaTables != nullptr;
}

bool DecodeGamma22(Image* image) {
  LinearizeImage(image);
  return true;
}

MeasurementFixture::MeasurementFixture(const Image& source) {
  context.stopFlags = &stopFlags;
  context.resultCode = &resultCode;
  context.scale = 1.0;
  const ImageRect rect = source.bufferRect;
  EXPECT_TRUE(CreateImage(rect, false, &context.image, rect, IMAGE_MODE_RGB16, nullptr, source.gamma, true, nullptr));
  EXPECT_TRUE(CopyImageWithReduction(&source, &context.image, nullptr));
  AlreadyLinear(&context.image);
  context.totalRows = rect.bottom - rect.top;
  EXPECT_EQ(InitializeAnalysisTask(&task, 0, &context), 0);
  task.section = rect;
  EXPECT_EQ(PrepareBrightnessMap(&context), 0);
  MeasureSectionMaximum(&task);
  context.maximumBrightness = task.sectionMaximum;
}

MeasurementFixture::~MeasurementFixture() {
  FreeAnalysisTask(&task);
  ReleaseAnalysisImage(&context);
}

LightSourceAnalysisSetup StandInSetup(const Image& host, std::atomic<int16_t>* resultCode,
                                      ConvertToLinearWorking convert, int32_t workers) {
  LightSourceAnalysisSetup setup{};
  setup.hostImage = &host;
  setup.convertToLinearWorking = convert;
  setup.resultCode = resultCode;
  setup.table = standin::TableRoutines();
  setup.stopFlags = &standin::StopFlags();
  setup.workerCount = workers;
  return setup;
}

RunResult RunAnalysis(const Image& host, int32_t workers, ConvertToLinearWorking convert) {
  RunResult result;
  std::atomic<int16_t> resultCode{0};
  const LightSourceAnalysisSetup setup = StandInSetup(host, &resultCode, convert, workers);
  LightSourceAnalysis* analysis = nullptr;
  result.started = StartLightSourceAnalysis(setup, &analysis);
  if (!result.started) {
    result.resultCode = resultCode.load();
    return result;
  }
  EXPECT_TRUE(WaitForLightSourceAnalysis(analysis, -1));
  result.resultCode = resultCode.load();
  result.table = standin::Entries();
  result.sectionTops = standin::SectionTops();
  result.timings = GetLightSourceAnalysisTimings(analysis);
  ReleaseLightSourceAnalysis(&analysis);
  return result;
}

std::string TestDataFolder() {
  const char* folder = std::getenv("GLIMMARK_TESTDATA");
  return folder != nullptr ? std::string(folder) : std::string();
}

bool LoadPhoto(const std::string& path, OwnedImage* out, std::string* reason) {
#if GLIMMARK_TEST_PNG
  int width = 0, height = 0, channels = 0;
  const bool sixteen = stbi_is_16_bit(path.c_str()) != 0;
  std::unique_ptr<void, void (*)(void*)> data(
      sixteen ? static_cast<void*>(stbi_load_16(path.c_str(), &width, &height, &channels, 3))
              : static_cast<void*>(stbi_load(path.c_str(), &width, &height, &channels, 3)),
      stbi_image_free);
  if (!data) {
    *reason = "cannot read " + path;
    return false;
  }
  const ImageRect rect{0, 0, width, height};
  const uint32_t mode = sixteen ? IMAGE_MODE_RGB16 : IMAGE_MODE_RGB8;
  if (!CreateImage(rect, false, &out->image, rect, mode, nullptr, 2.2, false, nullptr)) {
    *reason = "cannot create an image for " + path;
    return false;
  }
  const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
  if (sixteen) {
    const auto* src = static_cast<const uint16_t*>(data.get());
    auto* dst = static_cast<uint16_t*>(out->image.pixels.buffer);
    for (size_t i = 0; i < pixels; ++i) {
      dst[i * 4] = src[i * 3];
      dst[i * 4 + 1] = src[i * 3 + 1];
      dst[i * 4 + 2] = src[i * 3 + 2];
      dst[i * 4 + 3] = 65535;
    }
  } else {
    const auto* src = static_cast<const uint8_t*>(data.get());
    auto* dst = static_cast<uint8_t*>(out->image.pixels.buffer);
    for (size_t i = 0; i < pixels; ++i) {  // blue first in memory
      dst[i * 4] = src[i * 3 + 2];
      dst[i * 4 + 1] = src[i * 3 + 1];
      dst[i * 4 + 2] = src[i * 3];
      dst[i * 4 + 3] = 255;
    }
  }
  return true;
#else
  (void)path;
  (void)out;
  *reason = "no PNG reader in this build";
  return false;
#endif
}

const LightSourceRecord* Nearest(const std::vector<LightSourceRecord>& table, double x, double y, double within) {
  const LightSourceRecord* best = nullptr;
  double bestDistance = within;
  for (const LightSourceRecord& e : table) {
    const double d = std::hypot(Position(e.x, e.xQuarter) - x, Position(e.y, e.yQuarter) - y);
    if (d <= bestDistance) {
      bestDistance = d;
      best = &e;
    }
  }
  return best;
}

}  // namespace analysistest
