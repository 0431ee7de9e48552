// Converting only the touched spans of an effects layer: the same values as
// converting the whole image where spans lie, nothing changed elsewhere, and
// the check that lets untouched (black) pixels be skipped.
#include <random>

#include "color_test_support.h"
#include "image/pixel_access.h"

namespace {

using colortest::ColorTest;
using colortest::TestImage;

class SpanConversion : public ColorTest {};

TEST_F(SpanConversion, SpansMatchTheWholeConversionAndNothingElseMoves) {
  int16_t status = 0;
  ASSERT_TRUE(InitializeColorManagement(nullptr, 0, 3, &status));
  const ImageRect rect{10, 20, 60, 45};
  for (uint32_t mode : {3u, 11u, 16u, 1u}) {
    TestImage whole(mode, rect, GetWorkingProfile());
    TestImage spans(mode, rect, GetWorkingProfile());
    const size_t bytes = whole.image.pixels.size;
    std::mt19937 random(mode);
    auto* w = static_cast<uint8_t*>(whole.image.pixels.buffer);
    for (size_t i = 0; i < bytes; ++i) w[i] = static_cast<uint8_t>(random());
    if (mode == 16u) {
      auto* f = static_cast<float*>(whole.image.pixels.buffer);
      for (size_t i = 0; i < bytes / 4; ++i) f[i] = static_cast<float>(random() % 1000) / 999.0f;
    }
    std::memcpy(spans.image.pixels.buffer, w, bytes);
    const std::vector<uint8_t> original(w, w + bytes);
    std::vector<int32_t> left, right;
    for (int32_t row = 0; row < rect.bottom - rect.top; ++row) {
      left.push_back(rect.left + (row * 7) % 40);
      right.push_back(row % 5 == 0 ? left.back() : std::min(rect.right + 5, left.back() + 3 + row));
    }
    ASSERT_TRUE(ConvertColorOf(&whole.image, GetStandardProfile()));
    ASSERT_TRUE(ConvertColorOfSpans(&spans.image, GetStandardProfile(), left.data(), right.data()));
    EXPECT_EQ(spans.image.profile, whole.image.profile);
    EXPECT_EQ(spans.image.gamma, whole.image.gamma);
    const size_t pixel = 4 * static_cast<size_t>(whole.image.bytesPerChannel);
    const auto* s = static_cast<const uint8_t*>(spans.image.pixels.buffer);
    for (int32_t row = 0; row < rect.bottom - rect.top; ++row) {
      for (int32_t x = rect.left; x < rect.right; ++x) {
        const size_t at = (static_cast<size_t>(row) * (rect.right - rect.left) + (x - rect.left)) * pixel;
        const bool inside = x >= left[row] && x < right[row];
        const uint8_t* expected = inside ? w + at : original.data() + at;
        ASSERT_EQ(std::memcmp(s + at, expected, pixel), 0) << "mode " << mode << " at " << x << "," << row;
      }
    }
  }
}

TEST_F(SpanConversion, BlackStaysBlackBetweenTheWorkingAndCommonProfiles) {
  int16_t status = 0;
  ASSERT_TRUE(InitializeColorManagement(nullptr, 0, 3, &status));
  const ImageRect one{0, 0, 1, 1};
  for (uint32_t mode : {3u, 11u, 16u}) {
    TestImage layer(mode, one, GetWorkingProfile());
    EXPECT_TRUE(ConversionKeepsBlack(&layer.image, GetStandardProfile())) << mode;
    EXPECT_TRUE(ConversionKeepsBlack(&layer.image, GetWorkingProfile())) << mode;
  }
  // Nor does a layer whose mode has no transform format.
  Image none{};
  none.mode = 9;
  EXPECT_FALSE(ConversionKeepsBlack(&none, GetStandardProfile()));
}

}  // namespace
