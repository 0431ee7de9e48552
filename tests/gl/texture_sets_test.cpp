// Texture sets on a real context: an image larger than one texture is tiled
// with two-pixel overlaps and drawn back pixel for pixel, whatever the tile
// size, with or without buffer objects and power-of-two storage.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "gl/gl_api.h"
#include "gl/gl_support.h"
#include "gl/opengl_drawing.h"
#include "gl/texture_sets.h"
#include "test_gl_context.h"
#include "unit/gl/settings_store_support.h"
#include "unit/runtime/log_test_support.h"

namespace {

class TextureSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    storetest::UsePrivateStore();
    ASSERT_TRUE(context_.Create()) << context_.Failure();
  }
  void TearDown() override {
    SetMaximumTextureSizeCap(0);
    DestroyTextureSet(&set_);
    ReleaseImage(&image_);
    context_.Release();
    GlobalOpenGLSettings() = OpenGLSettings{};
  }

  // Settles the drawing mode: quality gives buffer objects and any texture
  // size on Mesa, compatibility neither.
  void UseMode(int32_t mode) {
    GlobalOpenGLSettings() = OpenGLSettings{"", mode, mode, true};
    int16_t resultCode = 0;
    ASSERT_TRUE(InitializeOpenGLDrawingSettings(true, &resultCode));
  }

  // An 8-bit image whose every pixel differs from its neighbours.
  void MakeImage(int32_t width, int32_t height) {
    const ImageRect rect{0, 0, width, height};
    ASSERT_TRUE(CreateImage(rect, false, &image_, rect, IMAGE_MODE_RGB8, nullptr, 2.2, false, nullptr));
    auto* p = static_cast<uint8_t*>(image_.pixels.buffer);
    for (int32_t y = 0; y < height; ++y)
      for (int32_t x = 0; x < width; ++x) {
        uint8_t* px = p + (static_cast<size_t>(y) * image_.bufferWidth + x) * 4;
        px[0] = static_cast<uint8_t>(x * 7 + y * 3);
        px[1] = static_cast<uint8_t>(x * 5 + y * 11);
        px[2] = static_cast<uint8_t>(x ^ y);
        px[3] = 255;
      }
  }

  // Uploads the whole image and draws it into a frame buffer of its size;
  // counts the pixels that differ from the image.
  size_t DrawBackMismatches(bool buffers) {
    const int32_t w = image_.width, h = image_.height;
    ConfigureTextureSet(&set_, GL_NEAREST, GL_NEAREST, buffers && UseVertexBufferObjects(), GL_STATIC_DRAW,
                        buffers && UsePixelBufferObjects(), GL_STATIC_DRAW, true);
    const ImageRect view{0, 0, w, h};
    EXPECT_TRUE(CreateTextureSetFromImage(&set_, image_, 1.0, 1.0, 0, 0, 1.0, view));
    EXPECT_TRUE(AttachFBOWithRenderBuffer(&set_, w, h));
    SetGLSize(GLRect{0, 0, w, h});
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_TEXTURE_2D);
    glColor4f(1, 1, 1, 1);
    EXPECT_TRUE(DrawImageTextureSet(&set_));
    glDisable(GL_TEXTURE_2D);
    std::vector<uint8_t> back(static_cast<size_t>(w) * h * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, w, h, GL_BGRA, GL_UNSIGNED_BYTE, back.data());
    DetachFBO();
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    size_t mismatches = 0;
    const auto* p = static_cast<const uint8_t*>(image_.pixels.buffer);
    for (int32_t y = 0; y < h; ++y) {
      // Frame buffer rows run bottom-up; the projection puts image row 0 on top.
      const uint8_t* got = back.data() + static_cast<size_t>(h - 1 - y) * w * 4;
      const uint8_t* want = p + static_cast<size_t>(y) * image_.bufferWidth * 4;
      for (int32_t x = 0; x < w; ++x) mismatches += std::memcmp(got + x * 4, want + x * 4, 4) != 0;
    }
    return mismatches;
  }

  TestGLContext context_;
  TextureSet set_{};
  Image image_{};
};

TEST_F(TextureSetTest, ALargeImageDrawsBackWithoutASeamAtAnyTileSize) {
  UseMode(OPTIMIZE_FOR_QUALITY);
  MakeImage(3000, 2000);
  EXPECT_EQ(DrawBackMismatches(true), 0u);
  EXPECT_EQ(set_.tileCount, 1u) << "Mesa takes 16384 pixels in one texture";
  DestroyTextureSet(&set_);
  SetMaximumTextureSizeCap(256);
  EXPECT_EQ(DrawBackMismatches(true), 0u);
  // 254-pixel steps: 12 columns and 8 rows.
  EXPECT_EQ(set_.tileCount, 12u * 8u);
  DestroyTextureSet(&set_);
  EXPECT_EQ(DrawBackMismatches(false), 0u) << "client arrays and direct uploads";
}

TEST_F(TextureSetTest, PowerOfTwoStorageIsPaddedAndReusedWhenTilesShrink) {
  UseMode(OPTIMIZE_FOR_COMPATIBILITY);
  ASSERT_TRUE(MustUsePowerOfTwoSizedTextures());
  SetMaximumTextureSizeCap(256);
  MakeImage(700, 300);
  EXPECT_EQ(DrawBackMismatches(false), 0u);
  const TextureTile* tiles = static_cast<const TextureTile*>(set_.tiles.buffer);
  ASSERT_EQ(set_.tileCount, 3u * 2u);
  EXPECT_EQ(tiles[0].textureWidth, 256);
  EXPECT_EQ(tiles[2].left, 2 * 254);
  EXPECT_EQ(tiles[2].width, 700 - 508);
  EXPECT_EQ(tiles[2].textureWidth, 256);
  EXPECT_EQ(tiles[3].top, 254);
  EXPECT_EQ(tiles[3].textureHeight, 64) << "46 rows are stored in 64";
  const uint32_t texture = tiles[0].texture;

  // A smaller image later: the same textures, no new storage.
  ReleaseImage(&image_);
  MakeImage(300, 200);
  EXPECT_EQ(DrawBackMismatches(false), 0u);
  tiles = static_cast<const TextureTile*>(set_.tiles.buffer);
  EXPECT_EQ(set_.tileCount, 2u);
  EXPECT_EQ(tiles[0].texture, texture);
  EXPECT_EQ(tiles[0].textureHeight, 256) << "storage never shrinks";
  EXPECT_EQ(tiles[1].width, 300 - 254);

  // A 1 x 1 image in a 2 x 2 texture: the storage is larger than the whole
  // pixel buffer, so the upload goes through a padded copy.
  ReleaseImage(&image_);
  DestroyTextureSet(&set_);
  MakeImage(1, 1);
  EXPECT_EQ(DrawBackMismatches(false), 0u);
  EXPECT_EQ(static_cast<const TextureTile*>(set_.tiles.buffer)[0].textureWidth, 2);
}

// What the preview reads back from its frame buffer comes back the right
// way up and unchanged, through pixel buffers or straight copies.
TEST_F(TextureSetTest, FrameBufferCopiesDrawBackUnchanged) {
  for (int32_t mode : {OPTIMIZE_FOR_QUALITY, OPTIMIZE_FOR_COMPATIBILITY}) {
    UseMode(mode);
    ReleaseImage(&image_);
    DestroyTextureSet(&set_);
    SetMaximumTextureSizeCap(0);
    MakeImage(600, 400);
    ASSERT_EQ(DrawBackMismatches(mode == OPTIMIZE_FOR_QUALITY), 0u);
    // Draw the image again into the set's frame buffer and copy that.
    ASSERT_TRUE(AttachFBOWithRenderBuffer(&set_, 600, 400));
    glEnable(GL_TEXTURE_2D);
    ASSERT_TRUE(DrawImageTextureSet(&set_));
    glDisable(GL_TEXTURE_2D);
    TextureSet copy{};
    ConfigureTextureSet(&copy, GL_NEAREST, GL_NEAREST, UseVertexBufferObjects(), GL_DYNAMIC_DRAW,
                        UsePixelBufferObjects(), GL_DYNAMIC_DRAW, true);
    SetMaximumTextureSizeCap(256);
    ASSERT_TRUE(CreateTextureSetFromFramebuffer(600, 400, ImageRect{0, 0, 600, 400}, &copy)) << "mode " << mode;
    EXPECT_GT(copy.tileCount, 1u);
    ASSERT_TRUE(AttachFBOWithRenderBuffer(&copy, 600, 400));
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_TEXTURE_2D);
    ASSERT_TRUE(DrawImageTextureSet(&copy));
    glDisable(GL_TEXTURE_2D);
    std::vector<uint8_t> back(600 * 400 * 4);
    glReadPixels(0, 0, 600, 400, GL_BGRA, GL_UNSIGNED_BYTE, back.data());
    DetachFBO();
    DestroyTextureSet(&copy);
    size_t mismatches = 0;
    const auto* p = static_cast<const uint8_t*>(image_.pixels.buffer);
    for (int32_t y = 0; y < 400; ++y)
      mismatches += std::memcmp(back.data() + static_cast<size_t>(399 - y) * 600 * 4,
                                p + static_cast<size_t>(y) * image_.bufferWidth * 4, 600 * 4) != 0;
    EXPECT_EQ(mismatches, 0u) << "rows differing, mode " << mode;
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  }
}

TEST_F(TextureSetTest, ABottomUpBitmapShowsItsTopRowOnTop) {
  UseMode(OPTIMIZE_FOR_QUALITY);
  // 3 x 2 pixels of 24 bits, rows padded to 12 bytes, bottom row first.
  const uint8_t bits[24] = {10, 20, 30, 11, 21, 31, 12, 22, 32, 0, 0, 0,    // bottom row (blue, green, red)
                            40, 50, 60, 41, 51, 61, 42, 52, 62, 0, 0, 0};  // top row
  const DibDescription dib{3, 2, 12, 24, 0, bits};
  ConfigureTextureSet(&set_, GL_NEAREST, GL_NEAREST, false, GL_STATIC_DRAW, false, GL_STATIC_DRAW, true);
  ASSERT_TRUE(CreateTextureSetFromDIB(&set_, dib, &image_));
  ASSERT_TRUE(AttachFBOWithRenderBuffer(&set_, 3, 2));
  SetGLSize(GLRect{0, 0, 3, 2});
  glEnable(GL_TEXTURE_2D);
  ASSERT_TRUE(DrawImageTextureSet(&set_));
  glDisable(GL_TEXTURE_2D);
  uint8_t topLeft[4] = {}, bottomRight[4] = {};
  glReadPixels(0, 1, 1, 1, GL_BGRA, GL_UNSIGNED_BYTE, topLeft);
  glReadPixels(2, 0, 1, 1, GL_BGRA, GL_UNSIGNED_BYTE, bottomRight);
  DetachFBO();
  EXPECT_EQ(topLeft[0], 40);
  EXPECT_EQ(topLeft[2], 60);
  EXPECT_EQ(topLeft[3], 255);
  EXPECT_EQ(bottomRight[0], 12);
  EXPECT_EQ(bottomRight[2], 32);

  const DibDescription compressed{3, 2, 12, 24, 1, bits};
  Image other{};
  EXPECT_FALSE(CreateTextureSetFromDIB(&set_, compressed, &other));
  const DibDescription paletted{3, 2, 12, 8, 0, bits};
  EXPECT_FALSE(CreateTextureSetFromDIB(&set_, paletted, &other));
  ReleaseImage(&other);
}

TEST_F(TextureSetTest, TileEdgesMeetInsideAndKeepTheBorder) {
  UseMode(OPTIMIZE_FOR_QUALITY);
  ConfigureTextureSet(&set_, GL_NEAREST, GL_NEAREST, false, GL_STATIC_DRAW, false, GL_STATIC_DRAW, false);
  // Exactly one tile, then one pixel more: the second starts at max - 2.
  ASSERT_TRUE(SubdivideImage(&set_, ImageRect{0, 0, 100, 50}, 100, 50));
  EXPECT_EQ(set_.tileCount, 1u);
  ASSERT_TRUE(SubdivideImage(&set_, ImageRect{10, 0, 111, 50}, 100, 50));
  ASSERT_EQ(set_.tileCount, 2u);
  const TextureTile* tiles = static_cast<const TextureTile*>(set_.tiles.buffer);
  EXPECT_EQ(tiles[1].left, 10 + 98);
  const double* first = static_cast<const double*>(set_.vertices.buffer);
  const double* second = first + 16;
  // Vertex order (s0,t1,x0,y1), (s1,t1,x1,y1), (s1,t0,x1,y0), (s0,t0,x0,y0).
  EXPECT_EQ(first[2], 10.0) << "outer edge at the border";
  EXPECT_EQ(first[6], 10.0 + 100 - 1) << "inner edge inset by one";
  EXPECT_EQ(second[2], 108.0 + 1);
  EXPECT_EQ(second[6], 111.0);
  EXPECT_DOUBLE_EQ(second[0], 1.0 / 3.0);
  EXPECT_EQ(first[3], 50.0);
  EXPECT_EQ(first[11], 0.0);
}

}  // namespace
