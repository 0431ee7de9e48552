// Pixel reads and writes of every image mode: memory order, saturation,
// the "leave unchanged" component, clamped access at the edges, masks,
// FillImageRect and the proxy level lookup.
#include "image/pixel_access.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "../runtime/log_test_support.h"
#include "host/host_image.h"
#include "image/image.h"

namespace {

class PixelLogTest : public logtest::DebugLogTest {};

bool Contains(const std::string& text, const char* needle) { return text.find(needle) != std::string::npos; }

// An image of `mode` covering columns 0..width-1 and rows 0..height-1.
struct TestImage {
  Image image{};
  TestImage(uint32_t mode, int32_t width, int32_t height, bool clamped, bool mask = false, double gamma = 2.2,
            int32_t left = 0, int32_t top = 0) {
    const ImageRect rect{left, top, left + width, top + height};
    EXPECT_TRUE(CreateImage(rect, clamped, &image, rect, mode, nullptr, gamma, mask, nullptr));
  }
  ~TestImage() { ReleaseImage(&image); }
  template <typename T>
  T* At(int32_t x, int32_t y) {
    return static_cast<T*>(image.pixels.buffer) +
           (static_cast<size_t>(y - image.bufferRect.top) * image.bufferWidth + (x - image.bufferRect.left)) * 4;
  }
  PixelValue Read(int32_t x, int32_t y) {
    PixelValue v{};
    image.readPixel(&image, &v, x, y);
    return v;
  }
  void Write(const PixelValue& v, int32_t x, int32_t y) { image.writePixel(&image, &v, x, y); }
};

// The encoding a gamma-coded integer sample should get, computed here
// independently of the tables: round(fraction^(1/gamma) x full).
uint32_t Encode(uint32_t linear24, double gamma, uint32_t full) {
  const double top16 = static_cast<double>(linear24 >> 8);
  return static_cast<uint32_t>(std::nearbyint(std::pow(top16 / 65535.0, 1.0 / gamma) * full));
}

TEST(PixelValueTables, AlphaCodesSurviveTheTripThroughThirtyTwoBits) {
  BuildPixelValueTables();
  EXPECT_EQ(AlphaFrom8(0), 0u);
  EXPECT_EQ(AlphaFrom8(255), PIXEL_OPAQUE);
  EXPECT_EQ(AlphaFrom16(65535), PIXEL_OPAQUE);
  EXPECT_EQ(AlphaFrom8(128), 2155905151u);  // 128/255 of 4294967294 is ...151.498
  for (uint32_t c = 0; c < 256; ++c) ASSERT_EQ(AlphaTo8(AlphaFrom8(static_cast<uint8_t>(c))), c);
  for (uint32_t c = 0; c < 65536; ++c) ASSERT_EQ(AlphaTo16(AlphaFrom16(static_cast<uint16_t>(c))), c);
  EXPECT_EQ(AlphaTo8(PIXEL_KEEP), 255);
}

TEST(PixelAccess, EightBitImagesStoreBlueFirstAndSaturate) {
  TestImage rgb(IMAGE_MODE_RGB8, 4, 3, false);
  rgb.Write(PixelValue{PIXEL_FULL, 0, 0x800000, PIXEL_OPAQUE, PIXEL_OPAQUE}, 1, 2);
  const uint8_t* p = rgb.At<uint8_t>(1, 2);
  EXPECT_EQ(p[2], 255);  // red
  EXPECT_EQ(p[1], 0);
  EXPECT_EQ(p[0], Encode(0x800000, 2.2, 255));  // blue: 186
  EXPECT_EQ(p[3], 255);
  PixelValue v = rgb.Read(1, 2);
  EXPECT_EQ(v.red, PIXEL_FULL);
  EXPECT_EQ(v.green, 0u);
  EXPECT_NEAR(static_cast<double>(v.blue), std::pow(186 / 255.0, 2.2) * PIXEL_FULL, 0.5);
  EXPECT_EQ(v.alpha, PIXEL_OPAQUE);
  EXPECT_EQ(v.mask, PIXEL_OPAQUE);  // no mask buffer

  // Over-range light saturates in every integer mode.
  rgb.Write(PixelValue{0x7FFFFFFF, PIXEL_FULL + 1, PIXEL_FULL, 0, 0}, 0, 0);
  EXPECT_EQ(rgb.At<uint8_t>(0, 0)[0], 255);
  EXPECT_EQ(rgb.At<uint8_t>(0, 0)[1], 255);
  EXPECT_EQ(rgb.At<uint8_t>(0, 0)[2], 255);
  EXPECT_EQ(rgb.At<uint8_t>(0, 0)[3], 0);

  TestImage gray(IMAGE_MODE_GRAY8, 2, 2, false);
  gray.Write(PixelValue{0x400000, 1, 2, PIXEL_OPAQUE, 0}, 1, 1);
  const uint8_t* g = gray.At<uint8_t>(1, 1);
  EXPECT_EQ(g[0], Encode(0x400000, 2.2, 255));  // only red counts for gray
  EXPECT_EQ(g[1], g[0]);
  EXPECT_EQ(g[2], g[0]);
  v = gray.Read(1, 1);
  EXPECT_EQ(v.red, v.green);
  EXPECT_EQ(v.red, v.blue);
}

TEST(PixelAccess, SixteenBitAndUint32ImagesKeepRgbOrder) {
  TestImage rgb(IMAGE_MODE_RGB16, 3, 3, false, false, 1.0);
  rgb.Write(PixelValue{PIXEL_FULL, 0x123456, 0, 0x80000000, PIXEL_OPAQUE}, 2, 0);
  const uint16_t* p = rgb.At<uint16_t>(2, 0);
  EXPECT_EQ(p[0], 65535);
  EXPECT_EQ(p[1], 0x1234);  // gamma 1: the top 16 bits
  EXPECT_EQ(p[2], 0);
  EXPECT_EQ(p[3], 0x8000);
  const PixelValue v = rgb.Read(2, 0);
  EXPECT_EQ(v.red, PIXEL_FULL);
  EXPECT_EQ(v.green, static_cast<uint32_t>(std::nearbyint(0x1234 / 65535.0 * PIXEL_FULL)));
  EXPECT_EQ(v.alpha, AlphaFrom16(0x8000));

  TestImage raw(IMAGE_MODE_RGBA_UINT32, 2, 2, false);
  raw.Write(PixelValue{1, 0xFFFFFFF0, 3, 4, PIXEL_OPAQUE}, 1, 1);
  const uint32_t* q = raw.At<uint32_t>(1, 1);
  EXPECT_EQ(q[0], 1u);
  EXPECT_EQ(q[1], 0xFFFFFFF0u);
  EXPECT_EQ(q[2], 3u);
  EXPECT_EQ(q[3], 4u);
  const PixelValue r = raw.Read(1, 1);
  EXPECT_EQ(r.green, 0xFFFFFFF0u);
  EXPECT_EQ(r.alpha, 4u);
}

TEST(PixelAccess, FloatImagesApplyTheirGammaAndReadOverRangeLight) {
  TestImage linear(IMAGE_MODE_RGB_FLOAT, 2, 1, false, false, 1.0);
  float* f = linear.At<float>(0, 0);
  f[0] = 0.5f;
  f[1] = 2.0f;    // over-range light
  f[2] = -0.25f;  // negative light reads as black
  f[3] = 1.0f;
  PixelValue v = linear.Read(0, 0);
  EXPECT_EQ(v.red, 8388608u);  // 0.5 x 16777215, rounded
  EXPECT_EQ(v.green, 33554430u);
  EXPECT_EQ(v.blue, 0u);
  EXPECT_EQ(v.alpha, PIXEL_OPAQUE);
  f[0] = 1e30f;  // far over range stays a value, never "unchanged"
  f[1] = std::nanf("");
  v = linear.Read(0, 0);
  EXPECT_EQ(v.red, PIXEL_OPAQUE);
  EXPECT_EQ(v.green, 0u);

  linear.Write(PixelValue{PIXEL_FULL / 4, PIXEL_FULL * 3, 0, PIXEL_OPAQUE, PIXEL_OPAQUE}, 1, 0);
  f = linear.At<float>(1, 0);
  EXPECT_NEAR(f[0], 0.25f, 1e-7f);
  EXPECT_EQ(f[1], 1.0f);  // writes saturate
  EXPECT_EQ(f[2], 0.0f);
  EXPECT_EQ(f[3], 1.0f);

  TestImage coded(IMAGE_MODE_GRAY_FLOAT, 1, 1, false, false, 2.2);
  coded.At<float>(0, 0)[0] = 0.5f;
  v = coded.Read(0, 0);
  EXPECT_NEAR(static_cast<double>(v.red), std::pow(0.5, 2.2) * PIXEL_FULL, 0.5);
  EXPECT_EQ(v.green, v.red);
  coded.Write(v, 0, 0);
  EXPECT_NEAR(coded.At<float>(0, 0)[0], 0.5f, 1e-6f);
  EXPECT_EQ(coded.At<float>(0, 0)[2], coded.At<float>(0, 0)[0]);
}

TEST(PixelAccess, KeepComponentLeavesOldValues) {
  TestImage rgb(IMAGE_MODE_RGB8, 2, 2, false, true);
  uint8_t* p = rgb.At<uint8_t>(1, 0);
  p[0] = 11;
  p[1] = 22;
  p[2] = 33;
  p[3] = 44;
  static_cast<uint8_t*>(rgb.image.mask.buffer)[1] = 55;
  rgb.Write(PixelValue{PIXEL_KEEP, 0x800000, PIXEL_KEEP, PIXEL_KEEP, PIXEL_KEEP}, 1, 0);
  EXPECT_EQ(p[2], 33);  // red unchanged
  EXPECT_EQ(p[1], Encode(0x800000, 2.2, 255));
  EXPECT_EQ(p[0], 11);
  EXPECT_EQ(p[3], 44);
  EXPECT_EQ(static_cast<uint8_t*>(rgb.image.mask.buffer)[1], 55);

  for (uint32_t mode : {IMAGE_MODE_GRAY16, IMAGE_MODE_RGB_FLOAT, IMAGE_MODE_RGBA_UINT32}) {
    TestImage image(mode, 1, 1, false);
    std::memset(image.image.pixels.buffer, 0x3C, static_cast<size_t>(image.image.bytesPerChannel) * 4);
    image.Write(PixelValue{PIXEL_KEEP, PIXEL_KEEP, PIXEL_KEEP, PIXEL_KEEP, PIXEL_KEEP}, 0, 0);
    const auto* bytes = static_cast<const uint8_t*>(image.image.pixels.buffer);
    for (int i = 0; i < image.image.bytesPerChannel * 4; ++i) EXPECT_EQ(bytes[i], 0x3C) << mode;
  }
}

TEST(PixelAccess, ClampedAccessStaysInsideTheBuffer) {
  TestImage image(IMAGE_MODE_RGB16, 4, 5, true, true, 2.2, 0, 0);
  image.Write(PixelValue{PIXEL_FULL, 0, 0, PIXEL_OPAQUE, 0x80000000}, 0, 3);
  PixelValue v = image.Read(-5, 3);
  EXPECT_EQ(v.red, PIXEL_FULL);  // the edge pixel's colour...
  EXPECT_EQ(v.alpha, 0u);        // ...but transparent and unselected
  EXPECT_EQ(v.mask, 0u);
  v = image.Read(0, 3);
  EXPECT_EQ(v.alpha, PIXEL_OPAQUE);
  EXPECT_EQ(v.mask, AlphaFrom8(128));
  v = image.Read(100, 100);  // the far corner
  EXPECT_EQ(v.alpha, 0u);

  // Writes outside are dropped; the sanitizer build catches stray stores.
  std::vector<uint8_t> before(static_cast<const uint8_t*>(image.image.pixels.buffer),
                              static_cast<const uint8_t*>(image.image.pixels.buffer) + image.image.pixels.size);
  for (int32_t y : {-1, 5, 6, 1000000}) image.Write(PixelValue{1, 2, 3, 4, 5}, 1, y);
  for (int32_t x : {-1, 4, -2000000}) image.Write(PixelValue{1, 2, 3, 4, 5}, x, 1);
  EXPECT_EQ(std::memcmp(before.data(), image.image.pixels.buffer, before.size()), 0);

  // Offsets of the buffer rectangle are honoured.
  TestImage offset(IMAGE_MODE_GRAY8, 3, 2, true, false, 2.2, 100, 200);
  FillImageRect(offset.image.bufferRect, PixelValue{0, 0, 0, PIXEL_OPAQUE, PIXEL_OPAQUE}, &offset.image);
  offset.Write(PixelValue{PIXEL_FULL, 0, 0, PIXEL_OPAQUE, 0}, 102, 201);
  EXPECT_EQ(offset.At<uint8_t>(102, 201)[0], 255);
  EXPECT_EQ(offset.Read(500, 500).red, PIXEL_FULL);
  EXPECT_EQ(offset.Read(0, 0).red, 0u);
}

TEST(PixelAccess, FillImageRectClipsAndKeeps) {
  TestImage image(IMAGE_MODE_RGB8, 6, 4, false, true);
  const PixelValue fill{PIXEL_FULL, 0, 0, PIXEL_OPAQUE, PIXEL_OPAQUE};
  EXPECT_TRUE(FillImageRect(ImageRect{-10, -10, 100, 100}, fill, &image.image));
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 6; ++x) ASSERT_EQ(image.Read(x, y).red, PIXEL_FULL);
  EXPECT_EQ(static_cast<uint8_t*>(image.image.mask.buffer)[23], 255);

  // Only green changes inside the rectangle; the rest keeps red.
  EXPECT_TRUE(FillImageRect(ImageRect{2, 1, 4, 3}, PixelValue{PIXEL_KEEP, PIXEL_FULL, PIXEL_KEEP, PIXEL_KEEP, 0},
                            &image.image));
  EXPECT_EQ(image.Read(3, 2).red, PIXEL_FULL);
  EXPECT_EQ(image.Read(3, 2).green, PIXEL_FULL);
  EXPECT_EQ(image.Read(3, 2).mask, 0u);
  EXPECT_EQ(image.Read(1, 2).green, 0u);
  EXPECT_EQ(image.Read(4, 2).mask, PIXEL_OPAQUE);

  // Every pixel size fills whole pixels with the value's encoding.
  for (uint32_t mode : {IMAGE_MODE_GRAY8, IMAGE_MODE_RGB16, IMAGE_MODE_RGB_FLOAT}) {
    TestImage other(mode, 5, 3, false, false);
    const PixelValue colour{PIXEL_FULL / 3, PIXEL_FULL / 5, PIXEL_FULL / 7, PIXEL_OPAQUE / 2, PIXEL_OPAQUE};
    ASSERT_TRUE(FillImageRect(ImageRect{0, 0, 5, 3}, colour, &other.image));
    const PixelValue first = other.Read(0, 0);
    for (int32_t y = 0; y < 3; ++y)
      for (int32_t x = 0; x < 5; ++x) {
        const PixelValue v = other.Read(x, y);
        ASSERT_EQ(v.red, first.red) << mode;
        ASSERT_EQ(v.blue, first.blue) << mode;
        ASSERT_EQ(v.alpha, first.alpha) << mode;
      }
    EXPECT_NEAR(first.alpha, PIXEL_OPAQUE / 2, PIXEL_OPAQUE / 500.0) << mode;
  }
  EXPECT_FALSE(FillImageRect(ImageRect{0, 4, 6, 9}, fill, &image.image));  // no rows in common
  EXPECT_TRUE(FillImageRect(ImageRect{6, 0, 9, 4}, fill, &image.image));   // rows but no columns
}

TEST_F(PixelLogTest, UnsupportedModesGetHarmlessRoutines) {
  OpenLog(LOGMODE_IMMEDIATE);
  Image cmyk{};
  cmyk.mode = 4;
  const ReadPixelRoutine read = SelectPixelReader(&cmyk, true);
  const WritePixelRoutine write = SelectPixelWriter(&cmyk, true);
  PixelValue v{1, 2, 3, 4, 5};
  read(&cmyk, &v, 0, 0);
  EXPECT_EQ(v.red, 0u);
  EXPECT_EQ(v.mask, 0u);
  write(&cmyk, &v, 0, 0);
  Image odd{};
  odd.mode = 99;
  SelectPixelReader(&odd, false);
  SelectPixelWriter(&odd, false);
  const std::string log = CloseAndRead();
  EXPECT_TRUE(Contains(log, "InputImage mode not implemented."));
  EXPECT_TRUE(Contains(log, "InputImage mode not yet implemented."));
  EXPECT_TRUE(Contains(log, "OutputImage mode not implemented."));
  EXPECT_TRUE(Contains(log, "Invalid InputImage mode."));
  EXPECT_TRUE(Contains(log, "Unrecognized image mode."));
  EXPECT_TRUE(IsGrayscaleMode(1) && IsGrayscaleMode(10) && IsGrayscaleMode(17));
  EXPECT_FALSE(IsGrayscaleMode(3) || IsGrayscaleMode(11) || IsGrayscaleMode(16) || IsGrayscaleMode(64));
}

TEST_F(PixelLogTest, ProxyLevelLookupPicksTheFirstCoarserLevel) {
  OpenLog(LOGMODE_IMMEDIATE);
  HostProxyImage proxy{};
  const HostProxyImage saved = proxy;
  Image out{};
  double scale[2] = {0.3, 0.3};
  proxy.rendered = false;
  EXPECT_FALSE(GetHostProxyImageInfo(proxy, &out, scale));
  proxy.rendered = true;
  EXPECT_FALSE(GetHostProxyImageInfo(proxy, nullptr, scale));
  EXPECT_FALSE(GetHostProxyImageInfo(proxy, &out, nullptr));

  // Level i halves the scale of level i - 1; the image width tells them apart.
  for (int i = 0; i < HOST_PROXY_LEVEL_COUNT; ++i) {
    proxy.levels[i].scaleX = proxy.levels[i].scaleY = std::ldexp(1.0, -i);
    proxy.levels[i].image.width = 4096 >> (i < 12 ? i : 12);
    proxy.levels[i].image.mode = 3;
  }
  EXPECT_TRUE(GetHostProxyImageInfo(proxy, &out, scale));
  // The coarsest level that still holds the requested detail: 0.3 is more
  // than level 2's 0.25 gives, so level 1.
  EXPECT_EQ(out.width, 2048);
  EXPECT_EQ(scale[0], 0.5);
  scale[0] = 1.0;  // large requests still get level 1, never level 0
  scale[1] = 1.0;
  EXPECT_TRUE(GetHostProxyImageInfo(proxy, &out, scale));
  EXPECT_EQ(scale[0], 0.5);
  scale[0] = 1e-9;  // tiny requests get the last level
  scale[1] = 0.2;   // unless either axis asks for more
  EXPECT_TRUE(GetHostProxyImageInfo(proxy, &out, scale));
  EXPECT_EQ(scale[1], 0.25);
  scale[0] = scale[1] = 1e-9;
  EXPECT_TRUE(GetHostProxyImageInfo(proxy, &out, scale));
  EXPECT_EQ(scale[0], std::ldexp(1.0, -16));
  proxy = saved;
  const std::string log = CloseAndRead();
  EXPECT_TRUE(Contains(log, "GetHostProxyImageInfo() called before HostProxyImage rendered."));
  EXPECT_TRUE(Contains(log, "Some boneheaded programmer passed a NULL pointer to GetHostProxyImageInfo()."));
}

}  // namespace
