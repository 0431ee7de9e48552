#include "final_render_support.h"

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstdio>

#include "color/blend.h"
#include "color/color_management.h"
#include "color/color_transforms.h"
#include "effects/effect_drawing.h"
#include "runtime/buffers.h"

namespace finaltest {

std::vector<uint8_t> FinalRender(const Image& photo, const LightSourceList& table, const RenderingParameters& p,
                                 int32_t diagonal) {
  StarEffectSettings settings;
  PrepareStarEffectSettings(p, diagonal, 1, false, &settings);
  EffectShapes shapes{};
  SetUpEffectShapes(&shapes, settings);
  BandLayer layer{};
  int16_t status = 0;
  EXPECT_TRUE(CreateBandLayer(photo.bufferRect, IMAGE_MODE_RGB8, GetWorkingProfile(),
                              GetImageGammaOfProfile(GetWorkingProfile()), false, &layer, &status));
  EXPECT_TRUE(RenderEffectsIntoBandLayer(&layer, &shapes, table, BLEND_PRECISE, nullptr, nullptr));
  EXPECT_TRUE(ConvertColorOf(&layer.image, photo.profile));
  Image copy{};
  EXPECT_TRUE(CreateImage(photo.bufferRect, true, &copy, photo.bufferRect, photo.mode, photo.profile, photo.gamma,
                          false, &status));
  std::copy_n(static_cast<const uint8_t*>(photo.pixels.buffer), photo.pixels.size,
              static_cast<uint8_t*>(copy.pixels.buffer));
  for (int32_t y = 0; y < photo.height; ++y)
    for (int32_t x = 0; x < photo.width; ++x) {
      PixelValue light;
      layer.image.readPixel(&layer.image, &light, x, y);
      ScreenIntoImage(light, &copy, x, y, BLEND_PRECISE);
    }
  EXPECT_TRUE(ConvertColorOf(&copy, GetStandardProfile()));
  std::vector<uint8_t> out(static_cast<size_t>(photo.width) * photo.height * 4);
  for (int32_t y = 0; y < photo.height; ++y)
    std::copy_n(static_cast<const uint8_t*>(copy.pixels.buffer) + static_cast<size_t>(y) * copy.bufferWidth * 4,
                static_cast<size_t>(photo.width) * 4, &out[static_cast<size_t>(y) * photo.width * 4]);
  ReleaseImage(&copy);
  ReleaseBandLayer(&layer);
  ReleaseEffectShapes(&shapes);
  return out;
}


bool LoadAnalysedPhoto(const std::string& folder, analysistest::OwnedImage* photo,
                       std::vector<LightSourceRecord>* lights, std::string* reason) {
  if (!analysistest::LoadPhoto(folder + "/stars_over_mountains.png", photo, reason)) return false;
  photo->image.profile = GetImageProfile();
  *lights = analysistest::RunAnalysis(photo->image, 2, analysistest::DecodeGamma22).table;
  return true;
}

bool FillTable(LightSourceList* table, const std::vector<LightSourceRecord>& lights) {
  table->count = 0;
  if (ReallocateBuffer(std::max<size_t>(lights.size(), 1) * sizeof(LightSourceRecord), &table->records) != 0)
    return false;
  std::copy(lights.begin(), lights.end(), static_cast<LightSourceRecord*>(table->records.buffer));
  table->count = static_cast<uint32_t>(lights.size());
  return true;
}

bool WritePng(const char* path, const uint8_t* pixels, int32_t width, int32_t height, bool bottomUp) {
  FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  std::vector<uint8_t> row(static_cast<size_t>(width) * 3);
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* from = pixels + static_cast<size_t>(bottomUp ? height - 1 - y : y) * width * 4;
    for (int32_t x = 0; x < width; ++x) {
      row[x * 3] = from[x * 4 + 2];
      row[x * 3 + 1] = from[x * 4 + 1];
      row[x * 3 + 2] = from[x * 4];
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(file) == 0;
}

}  // namespace finaltest
