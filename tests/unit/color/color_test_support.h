#pragma once
// Shared by the colour management tests: a fixture with its own debug log
// that releases colour management after each test, images of any mode, and
// profiles made with Little CMS directly (independent of the code under test).
#include <gtest/gtest.h>
#include <lcms2.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "../runtime/log_test_support.h"
#include "color/blend.h"
#include "color/color_management.h"
#include "color/color_transforms.h"
#include "image/image.h"

namespace colortest {

inline bool Contains(const std::string& text, const std::string& needle) {
  return text.find(needle) != std::string::npos;
}

inline int CountOf(const std::string& text, const std::string& needle) {
  int count = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
  return count;
}

class ColorTest : public logtest::DebugLogTest {
 protected:
  void SetUp() override {
    logtest::DebugLogTest::SetUp();
    OpenLog(LOGMODE_IMMEDIATE);
  }
  void TearDown() override {
    ReleaseColorManagement();
    logtest::DebugLogTest::TearDown();
  }
  // Colour management for a document of `mode` without a profile.
  void Initialize(int32_t mode = 3) { ASSERT_TRUE(InitializeColorManagement(nullptr, 0, mode, nullptr)); }
};

// The bytes Little CMS writes for `profile` (which is closed).
inline std::vector<uint8_t> SaveAndClose(cmsHPROFILE profile) {
  std::vector<uint8_t> bytes;
  cmsUInt32Number size = 0;
  if (profile != nullptr && cmsSaveProfileToMem(profile, nullptr, &size)) {
    bytes.resize(size);
    if (!cmsSaveProfileToMem(profile, bytes.data(), &size)) bytes.clear();
  }
  if (profile != nullptr) cmsCloseProfile(profile);
  return bytes;
}

inline cmsHPROFILE GrayGammaProfile(double gamma) {
  cmsToneCurve* curve = cmsBuildGamma(nullptr, gamma);
  cmsHPROFILE profile = cmsCreateGrayProfile(cmsD50_xyY(), curve);
  cmsFreeToneCurve(curve);
  return profile;
}

inline std::string Description(cmsHPROFILE profile) {
  char text[128] = {0};
  cmsGetProfileInfoASCII(profile, cmsInfoDescription, "en", "US", text, sizeof text);
  return text;
}

// An image of `mode` covering `rect`, with `profile`, owning its buffers.
struct TestImage {
  Image image{};
  TestImage(uint32_t mode, const ImageRect& rect, ColorProfileHandle profile) {
    EXPECT_TRUE(CreateImage(rect, false, &image, rect, mode, profile, GetProfileGamma(profile), false, nullptr));
  }
  ~TestImage() { ReleaseImage(&image); }
  TestImage(const TestImage&) = delete;
  TestImage& operator=(const TestImage&) = delete;

  template <typename T>
  T* At(int32_t x, int32_t y) {
    return static_cast<T*>(image.pixels.buffer) +
           (static_cast<size_t>(y - image.bufferRect.top) * image.bufferWidth + (x - image.bufferRect.left)) * 4;
  }
  size_t Bytes() const {
    return static_cast<size_t>(image.bufferWidth) * image.bufferHeight * 4 * image.bytesPerChannel;
  }
  std::vector<uint8_t> Copy() const {
    const auto* p = static_cast<const uint8_t*>(image.pixels.buffer);
    return std::vector<uint8_t>(p, p + Bytes());
  }
};

}  // namespace colortest
