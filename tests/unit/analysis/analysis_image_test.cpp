// The analysis image: its size and scale, and the copy with reduction,
// checked against block means computed here through the pixel routines.
#include "analysis/analysis_image.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>

#include "analysis_test_support.h"
#include "image/pixel_access.h"

namespace {

using analysistest::OwnedImage;

void ExpectRect(const ImageRect& r, int32_t left, int32_t top, int32_t right, int32_t bottom) {
  EXPECT_EQ(r.left, left);
  EXPECT_EQ(r.top, top);
  EXPECT_EQ(r.right, right);
  EXPECT_EQ(r.bottom, bottom);
}

TEST(AnalysisImageGeometry, OnlyImagesTallerThan1800RowsAreReduced) {
  AnalysisGeometry g = ComputeAnalysisGeometry(ImageRect{0, 0, 3000, 1500});
  EXPECT_EQ(g.scale, 1.0);
  ExpectRect(g.rect, 0, 0, 3000, 1500);
  g = ComputeAnalysisGeometry(ImageRect{0, 0, 9000, 1800});
  EXPECT_EQ(g.scale, 1.0);
  g = ComputeAnalysisGeometry(ImageRect{0, 0, 1500, 3000});
  EXPECT_DOUBLE_EQ(g.scale, 3000.0 / 1800.0);
  ExpectRect(g.rect, 0, 0, 900, 1800);
  // The larger side is what gets divided, even when it is the width.
  g = ComputeAnalysisGeometry(ImageRect{0, 0, 6000, 4000});
  ExpectRect(g.rect, 0, 0, 1800, 1200);
  g = ComputeAnalysisGeometry(ImageRect{100, 50, 6100, 4050});
  ExpectRect(g.rect, 30, 15, 1830, 1215);
  // A side that would vanish keeps one pixel.
  g = ComputeAnalysisGeometry(ImageRect{0, 0, 3, 32767});
  ExpectRect(g.rect, 0, 0, 1, 1800);
  g = ComputeAnalysisGeometry(ImageRect{0, 0, 0, 0});
  ExpectRect(g.rect, 0, 0, 1, 1);
}

// A source of the given mode with varied content, alpha and (optionally) a
// mask, drawn through the pixel routines.
void MakeSource(OwnedImage* image, uint32_t mode, int32_t width, int32_t height, bool mask, uint32_t seed) {
  const ImageRect rect{10, 20, 10 + width, 20 + height};
  ASSERT_TRUE(CreateImage(rect, false, &image->image, rect, mode, nullptr, 2.2, mask, nullptr));
  std::mt19937 random(seed);
  auto below = [&](uint32_t limit) { return static_cast<uint32_t>(random() % limit); };
  for (int32_t y = rect.top; y < rect.bottom; ++y) {
    for (int32_t x = rect.left; x < rect.right; ++x) {
      // Braced initialisers are evaluated left to right.
      // A third of the colours from a small palette, as photos repeat values.
      auto colour = [&] { return below(3) == 0 ? below(8) * (PIXEL_FULL / 8) : below(PIXEL_FULL); };
      const PixelValue v{colour(), colour(), colour(), below(4) == 0 ? 0u : PIXEL_OPAQUE - below(1000000),
                         below(PIXEL_OPAQUE)};
      image->image.writePixel(&image->image, &v, x, y);
    }
  }
}

// What the destination pixel must read: the mean of its block, read through
// the source's routine and stored through the destination's.
PixelValue ExpectedPixel(const Image& source, Image* scratch, int64_t i, int64_t j, const ImageRect& dest) {
  const ImageRect& s = source.bufferRect;
  const int64_t sw = s.right - s.left, sh = s.bottom - s.top;
  const int64_t dw = dest.right - dest.left, dh = dest.bottom - dest.top;
  const int64_t left = i * sw / dw, top = j * sh / dh;
  const int64_t right = std::min(left + (sw + dw - 1) / dw, sw), bottom = std::min(top + (sh + dh - 1) / dh, sh);
  uint64_t sum[5] = {0, 0, 0, 0, 0};
  for (int64_t y = top; y < bottom; ++y) {
    for (int64_t x = left; x < right; ++x) {
      PixelValue p;
      source.readPixel(&source, &p, static_cast<int32_t>(s.left + x), static_cast<int32_t>(s.top + y));
      sum[0] += p.red;
      sum[1] += p.green;
      sum[2] += p.blue;
      sum[3] += p.alpha;
      sum[4] += p.mask;
    }
  }
  const uint64_t n = static_cast<uint64_t>((right - left) * (bottom - top));
  const PixelValue mean{static_cast<uint32_t>(sum[0] / n), static_cast<uint32_t>(sum[1] / n),
                        static_cast<uint32_t>(sum[2] / n), static_cast<uint32_t>(sum[3] / n),
                        static_cast<uint32_t>(sum[4] / n)};
  scratch->writePixel(scratch, &mean, scratch->bufferRect.left, scratch->bufferRect.top);
  PixelValue stored;
  scratch->readPixel(scratch, &stored, scratch->bufferRect.left, scratch->bufferRect.top);
  return stored;
}

TEST(AnalysisImageCopy, EachPixelIsTheMeanOfItsHostBlock) {
  for (uint32_t mode :
       {IMAGE_MODE_RGB8, IMAGE_MODE_RGB16, IMAGE_MODE_GRAY8, IMAGE_MODE_RGB_FLOAT, IMAGE_MODE_GRAY_FLOAT}) {
    for (bool mask : {false, true}) {
      OwnedImage source;
      MakeSource(&source, mode, 97, 61, mask, mode * 2 + mask);
      const ImageRect dest{3, 6, 3 + 29, 6 + 18};
      OwnedImage reduced, scratch;
      ASSERT_TRUE(CreateImage(dest, false, &reduced.image, dest, IMAGE_MODE_RGB16, nullptr, 2.2, true, nullptr));
      ASSERT_TRUE(CreateImage(ImageRect{0, 0, 1, 1}, false, &scratch.image, ImageRect{0, 0, 1, 1}, IMAGE_MODE_RGB16,
                              nullptr, 2.2, true, nullptr));
      ASSERT_TRUE(CopyImageWithReduction(&source.image, &reduced.image, nullptr, 1));
      for (int32_t j = 0; j < 18; ++j) {
        for (int32_t i = 0; i < 29; ++i) {
          const PixelValue want = ExpectedPixel(source.image, &scratch.image, i, j, dest);
          PixelValue got;
          reduced.image.readPixel(&reduced.image, &got, dest.left + i, dest.top + j);
          ASSERT_EQ(std::memcmp(&want, &got, sizeof want), 0) << mode << " mask " << mask << " at " << i << ", " << j;
        }
      }
      // The same bytes on several threads.
      OwnedImage threaded;
      ASSERT_TRUE(CreateImage(dest, false, &threaded.image, dest, IMAGE_MODE_RGB16, nullptr, 2.2, true, nullptr));
      ASSERT_TRUE(CopyImageWithReduction(&source.image, &threaded.image, nullptr, 3));
      EXPECT_EQ(std::memcmp(threaded.image.pixels.buffer, reduced.image.pixels.buffer, 29 * 18 * 8), 0);
      EXPECT_EQ(std::memcmp(threaded.image.mask.buffer, reduced.image.mask.buffer, 29 * 18), 0);
    }
  }
}

TEST(AnalysisImageCopy, EqualRectanglesCopyOrConvert) {
  OwnedImage source;
  MakeSource(&source, IMAGE_MODE_RGB16, 40, 30, /*mask=*/false, 5);
  const ImageRect rect = source.image.bufferRect;
  OwnedImage same;
  ASSERT_TRUE(CreateImage(rect, false, &same.image, rect, IMAGE_MODE_RGB16, nullptr, 2.2, true, nullptr));
  ASSERT_TRUE(CopyImageWithReduction(&source.image, &same.image, nullptr));
  EXPECT_EQ(std::memcmp(same.image.pixels.buffer, source.image.pixels.buffer, 40 * 30 * 8), 0);
  for (int i = 0; i < 40 * 30; ++i) ASSERT_EQ(static_cast<const uint8_t*>(same.image.mask.buffer)[i], 255);

  OwnedImage eight;
  MakeSource(&eight, IMAGE_MODE_RGB8, 40, 30, /*mask=*/true, 6);
  ASSERT_TRUE(CopyImageWithReduction(&eight.image, &same.image, nullptr));
  OwnedImage scratch;
  ASSERT_TRUE(CreateImage(ImageRect{0, 0, 1, 1}, false, &scratch.image, ImageRect{0, 0, 1, 1}, IMAGE_MODE_RGB16,
                          nullptr, 2.2, true, nullptr));
  for (int32_t y = rect.top; y < rect.bottom; ++y) {
    for (int32_t x = rect.left; x < rect.right; ++x) {
      // Each pixel as the 8-bit routine reads it, stored as the 16-bit
      // routine stores it.
      PixelValue a, want, got;
      eight.image.readPixel(&eight.image, &a, x, y);
      scratch.image.writePixel(&scratch.image, &a, 0, 0);
      scratch.image.readPixel(&scratch.image, &want, 0, 0);
      same.image.readPixel(&same.image, &got, x, y);
      ASSERT_EQ(std::memcmp(&want, &got, sizeof want), 0) << x << ", " << y;
    }
  }
}

TEST(AnalysisImageCopy, AStopEndsTheCopy) {
  OwnedImage source;
  MakeSource(&source, IMAGE_MODE_RGB8, 50, 50, false, 9);
  OwnedImage reduced;
  ASSERT_TRUE(CreateImage(ImageRect{0, 0, 10, 10}, false, &reduced.image, ImageRect{0, 0, 10, 10}, IMAGE_MODE_RGB16,
                          nullptr, 2.2, true, nullptr));
  std::atomic<bool> stop{true};
  EXPECT_FALSE(CopyImageWithReduction(&source.image, &reduced.image, &stop, 2));
}

}  // namespace
