#include "analysis_test_support.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "analysis/light_source_detection.h"
#include "image/pixel_access.h"
#include "table_stand_in.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <vector>

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

namespace {

// The photo's RGB samples as stored (8 or 16 bits, machine byte order),
// through libpng like the tool's own reader; false with a reason.
bool ReadPngRgb(const std::string& path, std::vector<uint8_t>* data, int* width, int* height, bool* sixteen,
                std::string* reason) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    *reason = "cannot open " + path;
    return false;
  }
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  bool ok = false;
  std::vector<png_bytep> rows;
  if (info != nullptr && setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, file);
    png_read_info(png, info);
    png_set_expand(png);
    png_set_gray_to_rgb(png);
    png_set_strip_alpha(png);
    if (png_get_bit_depth(png, info) == 16) png_set_swap(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    *width = static_cast<int>(png_get_image_width(png, info));
    *height = static_cast<int>(png_get_image_height(png, info));
    *sixteen = png_get_bit_depth(png, info) == 16;
    const size_t rowBytes = png_get_rowbytes(png, info);
    data->assign(rowBytes * static_cast<size_t>(*height), 0);
    rows.resize(static_cast<size_t>(*height));
    for (int y = 0; y < *height; ++y) rows[static_cast<size_t>(y)] = data->data() + rowBytes * static_cast<size_t>(y);
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    ok = true;
  }
  png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
  std::fclose(file);
  if (!ok) *reason = "cannot read " + path;
  return ok;
}

}  // namespace

bool LoadPhoto(const std::string& path, OwnedImage* out, std::string* reason) {
  int width = 0, height = 0;
  bool sixteen = false;
  std::vector<uint8_t> bytes;
  if (!ReadPngRgb(path, &bytes, &width, &height, &sixteen, reason)) return false;
  const uint8_t* data = bytes.data();
  const ImageRect rect{0, 0, width, height};
  const uint32_t mode = sixteen ? IMAGE_MODE_RGB16 : IMAGE_MODE_RGB8;
  if (!CreateImage(rect, false, &out->image, rect, mode, nullptr, 2.2, false, nullptr)) {
    *reason = "cannot create an image for " + path;
    return false;
  }
  const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
  if (sixteen) {
    const auto* src = reinterpret_cast<const uint16_t*>(data);
    auto* dst = static_cast<uint16_t*>(out->image.pixels.buffer);
    for (size_t i = 0; i < pixels; ++i) {
      dst[i * 4] = src[i * 3];
      dst[i * 4 + 1] = src[i * 3 + 1];
      dst[i * 4 + 2] = src[i * 3 + 2];
      dst[i * 4 + 3] = 65535;
    }
  } else {
    const uint8_t* src = data;
    auto* dst = static_cast<uint8_t*>(out->image.pixels.buffer);
    for (size_t i = 0; i < pixels; ++i) {  // blue first in memory
      dst[i * 4] = src[i * 3 + 2];
      dst[i * 4 + 1] = src[i * 3 + 1];
      dst[i * 4 + 2] = src[i * 3];
      dst[i * 4 + 3] = 255;
    }
  }
  return true;
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
