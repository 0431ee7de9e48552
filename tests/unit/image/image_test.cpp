// The in-memory Image: sizes and formats per mode, refusals of bad and
// oversized requests, buffer reuse and release, and gamma 2.2 decoding.
#include "image/image.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "../runtime/log_test_support.h"
#include "../test_hooks_support.h"
#include "runtime/buffers.h"

namespace {

class ImageLogTest : public logtest::DebugLogTest {};

bool Contains(const std::string& text, const char* needle) { return text.find(needle) != std::string::npos; }

constexpr ImageRect kBuffer{10, 20, 17, 25};  // 7 x 5
constexpr ImageRect kImage{0, 0, 100, 50};

TEST(Image, EveryModeGetsItsFormatAndBufferSizes) {
  struct Case {
    uint32_t mode;
    int32_t bytes;
    uint32_t format;
    uint32_t type;
  };
  // OpenGL's numbers: BGRA 32993, RGBA 6408; unsigned byte 5121, unsigned
  // short 5123, unsigned int 5125, float 5126.
  const Case cases[] = {{1, 1, 32993, 5121}, {3, 1, 32993, 5121}, {10, 2, 6408, 5123}, {11, 2, 6408, 5123},
                        {16, 4, 6408, 5126}, {17, 4, 6408, 5126}, {64, 4, 6408, 5125}};
  for (const Case& c : cases) {
    Image image{};
    int16_t status = 0;
    ASSERT_TRUE(CreateImage(kBuffer, true, &image, kImage, c.mode, nullptr, 2.2, true, &status)) << c.mode;
    EXPECT_EQ(status, 0);
    EXPECT_EQ(image.bytesPerChannel, c.bytes) << c.mode;
    EXPECT_EQ(image.glPixelFormat, c.format) << c.mode;
    EXPECT_EQ(image.glDataType, c.type) << c.mode;
    EXPECT_EQ(image.channels, 4);
    EXPECT_EQ(image.width, 100);
    EXPECT_EQ(image.height, 50);
    EXPECT_EQ(image.bufferWidth, 7);
    EXPECT_EQ(image.bufferHeight, 5);
    EXPECT_EQ(image.clamped, 1);
    // One extra row in both buffers.
    EXPECT_EQ(image.pixels.size, static_cast<size_t>(6 * 7 * 4 * c.bytes)) << c.mode;
    EXPECT_EQ(image.mask.size, static_cast<size_t>(6 * 7));
    ReleaseImage(&image);
    EXPECT_EQ(image.pixels.buffer, nullptr);
    EXPECT_EQ(image.mode, 0u);
  }
  EXPECT_EQ(BytesPerChannel(0), 1);
  EXPECT_EQ(BytesPerChannel(9), 1);
  EXPECT_EQ(BytesPerChannel(12), 2);
  EXPECT_EQ(BytesPerChannel(15), 2);
  EXPECT_EQ(BytesPerChannel(99), 1);
}

TEST(Image, GammaIsTheProfileGammaToTheNearestTwentieth) {
  for (const auto& [profile, expected] : {std::pair{2.19, 2.2}, {1.0, 1.0}, {1.8749, 1.85}, {1.875, 1.9}}) {
    Image image{};
    ASSERT_TRUE(CreateImage(kBuffer, false, &image, kBuffer, 3, nullptr, profile, false, nullptr));
    EXPECT_DOUBLE_EQ(image.gamma, expected) << profile;
    ASSERT_NE(image.gammaTables, nullptr);
    EXPECT_EQ(image.gammaTables->gamma, image.gamma);
    EXPECT_EQ(image.mask.size, 0u);
    ReleaseImage(&image);
  }
  // An estimate that is no gamma at all falls back to 2.2 rather than
  // producing all-black or all-white tables.
  for (double unusable : {0.0, -3.0, std::nan(""), HUGE_VAL, 0.02}) {
    Image image{};
    ASSERT_TRUE(CreateImage(kBuffer, false, &image, kBuffer, 3, nullptr, unusable, false, nullptr));
    EXPECT_EQ(image.gamma, 2.2) << unusable;
    ReleaseImage(&image);
  }
}

TEST_F(ImageLogTest, BadRequestsAreRefusedWithAStatusAndAReport) {
  OpenLog(LOGMODE_IMMEDIATE);
  const BufferUsage start = GetBufferUsage();
  Image image{};
  int16_t status = 0;
  // Modes the pixel routines cannot read: bitmap, indexed, CMYK, unknown.
  for (uint32_t mode : {0u, 2u, 4u, 12u, 65u}) {
    status = 0;
    EXPECT_FALSE(CreateImage(kBuffer, false, &image, kBuffer, mode, nullptr, 2.2, false, &status)) << mode;
    EXPECT_EQ(status, -50);
  }
  status = 0;
  EXPECT_FALSE(CreateImage(ImageRect{5, 0, 4, 10}, false, &image, kBuffer, 3, nullptr, 2.2, false, &status));
  EXPECT_EQ(status, -50);
  status = 0;
  EXPECT_FALSE(
      CreateImage(ImageRect{INT32_MIN, 0, INT32_MAX, 1}, false, &image, kBuffer, 3, nullptr, 2.2, false, &status));
  EXPECT_EQ(status, -50);
  status = 0;
  EXPECT_FALSE(CreateImage(kBuffer, false, nullptr, kBuffer, 3, nullptr, 2.2, false, &status));
  EXPECT_EQ(status, -50);

  // 32767 x 32767 float RGBA: 17 GB, more components than a 32-bit index
  // reaches; and the largest rectangle, whose byte count would wrap 64 bits
  // if multiplied carelessly. Both fail before any allocation.
  // These are User Messages: raised off the UI thread they are only logged,
  // where on it the Windows build would wait for a message box.
  std::thread([&] {
    const ImageRect huge{0, 0, 32767, 32767};
    status = 0;
    EXPECT_FALSE(CreateImage(huge, false, &image, huge, 16, nullptr, 2.2, true, &status));
    EXPECT_EQ(status, -108);
    const ImageRect widest{0, 0, INT32_MAX, INT32_MAX};
    status = 0;
    EXPECT_FALSE(CreateImage(widest, false, &image, widest, 64, nullptr, 2.2, false, &status));
    EXPECT_EQ(status, -108);
  }).join();
  EXPECT_EQ(GetBufferUsage().current, start.current);
  EXPECT_EQ(image.pixels.size, 0u);
  ReleaseImage(&image);

  const std::string log = CloseAndRead();
  EXPECT_TRUE(Contains(log, "unexpected ImageMode (2)"));
  EXPECT_TRUE(Contains(log, "invalid rectangle"));
  EXPECT_TRUE(Contains(log, "too large to be held in memory (32767 x 32767 pixels)"));
}

TEST(Image, AllocationFailuresAndBufferReuse) {
  ASSERT_NE(GetGammaTables(2.2), nullptr);  // no table allocation below
  const BufferUsage start = GetBufferUsage();
  Image image{};
  int16_t status = 0;
  testhooks::Hooks().failAllocations = 1;
  EXPECT_FALSE(CreateImage(kBuffer, false, &image, kBuffer, 11, nullptr, 2.2, true, &status));
  EXPECT_EQ(status, -108);
  EXPECT_EQ(image.pixels.size, 0u);

  // The pixel buffer is big enough already, so only the mask is allocated.
  ASSERT_TRUE(CreateImage(kBuffer, false, &image, kBuffer, 11, nullptr, 2.2, false, nullptr));
  status = 0;
  testhooks::Hooks().failAllocations = 1;
  EXPECT_FALSE(CreateImage(kBuffer, false, &image, kBuffer, 11, nullptr, 2.2, true, &status));
  EXPECT_EQ(status, -108);
  EXPECT_EQ(image.mask.size, 0u);
  EXPECT_NE(image.pixels.size, 0u);

  // A smaller image in the same record keeps the larger block; recreating
  // without a mask frees the old mask.
  ASSERT_TRUE(CreateImage(kBuffer, false, &image, kBuffer, 11, nullptr, 2.2, true, nullptr));
  void* block = image.pixels.buffer;
  ASSERT_TRUE(CreateImage(ImageRect{0, 0, 2, 2}, false, &image, kBuffer, 3, nullptr, 2.2, false, nullptr));
  EXPECT_EQ(image.pixels.buffer, block);
  EXPECT_EQ(image.mask.size, 0u);
  EXPECT_EQ(image.mask.buffer, nullptr);
  EXPECT_EQ(GetBufferUsage().current, start.current + 6 * 7 * 4 * 2);
  ReleaseImage(&image);
  EXPECT_EQ(GetBufferUsage().current, start.current);
}

// Fills every pixel with (c, c + 1, c + 2, alpha) codes of the image's width.
template <typename T>
void FillRamp(Image* image, uint32_t step, T alpha) {
  auto* p = static_cast<T*>(image->pixels.buffer);
  const uint32_t count = static_cast<uint32_t>(image->bufferWidth * image->bufferHeight);
  for (uint32_t i = 0; i < count; ++i) {
    for (uint32_t c = 0; c < 3; ++c) p[i * 4 + c] = static_cast<T>((i * 3 + c) * step);
    p[i * 4 + 3] = alpha;
  }
}

// round((c / full)^2.2 x full), the decoding the image must perform.
long double Decoded(uint32_t code, long double full) { return std::pow(code / full, 2.2L) * full; }

TEST(Image, LinearizeDecodesEightBitCodes) {
  Image image{};
  ASSERT_TRUE(
      CreateImage(ImageRect{0, 0, 86, 1}, false, &image, ImageRect{0, 0, 86, 1}, 3, nullptr, 2.2, false, nullptr));
  FillRamp<uint8_t>(&image, 1, 77);  // codes 0 to 257 wrap to 0 and 1 at the end
  auto* p = static_cast<uint8_t*>(image.pixels.buffer);
  const uint8_t probe[4] = {255, 128, 0, 77};
  std::memcpy(p, probe, 4);
  uint8_t before[86 * 4];
  std::memcpy(before, p, sizeof before);
  LinearizeImage(&image);

  // The code is read as the high byte of a 16-bit value: 255 is 65280/65535
  // of full scale and decodes to 253; 128 gives (32768/65535)^2.2 x 255 = 55.4.
  EXPECT_EQ(p[0], 253);
  EXPECT_EQ(p[1], 55);
  EXPECT_EQ(p[2], 0);
  EXPECT_EQ(p[3], 77);
  for (int i = 0; i < 86 * 4; ++i) {
    if (i % 4 == 3) {
      EXPECT_EQ(p[i], 77);
      continue;
    }
    const long double exact = std::pow(before[i] * 256.0L / 65535.0L, 2.2L) * 255.0L;
    EXPECT_LE(std::fabs(exact - p[i]), 0.5L + 1e-6L) << "code " << int(before[i]);
  }
  EXPECT_EQ(image.gamma, 1.0);
  ASSERT_NE(image.gammaTables, nullptr);
  EXPECT_EQ(image.gammaTables->gamma, 1.0);
  ReleaseImage(&image);
}

TEST(Image, LinearizeSixteenBitRoundTripsThroughGamma22) {
  Image image{};
  const ImageRect rect{0, 0, 256, 86};  // 256 x 86 x 3 > 65536 codes
  ASSERT_TRUE(CreateImage(rect, false, &image, rect, 11, nullptr, 2.2, true, nullptr));
  FillRamp<uint16_t>(&image, 1, 4321);
  const auto* p = static_cast<const uint16_t*>(image.pixels.buffer);
  std::vector<uint16_t> before(p, p + 256 * 86 * 4);
  LinearizeImage(&image);
  EXPECT_EQ(image.gamma, 1.0);

  const GammaTables* encode = GetGammaTables(2.2);
  for (size_t i = 0; i < before.size(); ++i) {
    if (i % 4 == 3) {
      ASSERT_EQ(p[i], 4321);
      continue;
    }
    const uint32_t code = before[i];
    ASSERT_LE(std::fabs(Decoded(code, 65535.0L) - p[i]), 0.5L + 1e-6L) << code;
    // Encoding the linear value again gives the code back. Above a quarter
    // of full scale the encoding's slope is below 2.4 codes per linear code,
    // so the half-code rounding of the linear value moves the result at most
    // 1.2 codes, plus half a code for the final rounding.
    if (code >= 16384) {
      ASSERT_LE(std::abs(int(encode->linearToCode16[p[i]]) - int(code)), 2) << code;
    }
  }
  ReleaseImage(&image);
}

TEST_F(ImageLogTest, LinearizeLeavesOtherPixelTypesAloneButStillSetsGammaOne) {
  OpenLog(LOGMODE_IMMEDIATE);
  Image image{};
  ASSERT_TRUE(CreateImage(kBuffer, false, &image, kBuffer, 16, nullptr, 2.2, false, nullptr));
  auto* f = static_cast<float*>(image.pixels.buffer);
  for (int i = 0; i < 7 * 5 * 4; ++i) f[i] = 0.01f * static_cast<float>(i);
  std::vector<float> before(f, f + 7 * 5 * 4);
  LinearizeImage(&image);
  EXPECT_EQ(std::memcmp(before.data(), f, before.size() * sizeof(float)), 0);
  EXPECT_EQ(image.gamma, 1.0);
  EXPECT_EQ(image.gammaTables->gamma, 1.0);
  ReleaseImage(&image);
  LinearizeImage(nullptr);
  EXPECT_TRUE(Contains(CloseAndRead(), "Pixel type 0x1406 is not recognized in function LinearizeImage."));
}

}  // namespace
