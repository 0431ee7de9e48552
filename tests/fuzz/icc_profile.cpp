// The document's ICC profile, through the module's colour set-up: opened
// with Little CMS, checked against the document's mode, and used for the
// conversions of a run. The input's first byte picks the document mode
// (gray or RGB; 8, 16 or 32 bits); the rest is the profile as the host hands
// it over. Set-up must succeed whatever the profile (an unusable one is
// replaced by the mode's default), and a small document must convert to the
// analysis image, and a layer of effects back into the document's profile.
#include "analysis/analysis_image.h"
#include "color/color_management.h"
#include "color/color_transforms.h"
#include "fuzz_support.h"

namespace {

bool ToLinearWorking(Image* image) { return ConvertColorOf(image, GetLinearWorkingProfile(), 1); }

// A gradient over the whole range of every component, and a few values out
// of it, as float documents may hold.
void FillDocument(Image* image) {
  for (int32_t y = 0; y < image->height; ++y) {
    for (int32_t x = 0; x < image->width; ++x) {
      const uint32_t level = static_cast<uint32_t>((x * 16777215ull) / static_cast<uint32_t>(image->width - 1));
      PixelValue value{level, (level * 7 + static_cast<uint32_t>(y) * 977777u) % 16777216u, 16777215u - level,
                       PIXEL_OPAQUE, PIXEL_OPAQUE};
      if (image->bytesPerChannel == 4 && y == 0) value.red = 16777215u * 3;
      image->writePixel(image, &value, x, y);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SetUpModule();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const uint32_t kModes[] = {1, 3, 10, 11, 16, 17};
  const uint32_t mode = kModes[data[0] % 6];
  int16_t status = 0;
  FUZZ_CHECK(InitializeColorManagement(size > 1 ? data + 1 : nullptr, size - 1, static_cast<int32_t>(mode), &status));
  FUZZ_CHECK(status == 0);
  ColorProfileHandle profile = GetImageProfile();
  const bool gray = mode == 1 || mode == 10 || mode == 17;
  FUZZ_CHECK(IsGrayProfile(profile) ? gray : GetProfileColorSpace(profile) == cmsSigRgbData);

  // Documents without a usable profile of their own convert the same way
  // every time (the seeds cover them); a kept host profile holds a block of
  // its own beside the two derived working profiles.
  if (GetProfileBlockCount() == 2) {
    ReleaseColorManagement();
    return 0;
  }

  // The host image copy in the document's profile, as the module reads it.
  const ImageRect rect{0, 0, 24, 10};
  Image document{};
  FUZZ_CHECK(CreateImage(rect, false, &document, rect, mode, profile, GetProfileGamma(profile), false, &status));
  FillDocument(&document);
  Image analysis{};
  double scale = 0;
  FUZZ_CHECK(BuildAnalysisImage(&document, &analysis, &scale, ToLinearWorking, nullptr, 1, nullptr));

  // A layer of effects in the working profile, converted to the document's
  // profile whole and in spans, as the final rendering does.
  ColorProfileHandle working = GetWorkingProfile();
  Image layer{}, spans{};
  for (Image* image : {&layer, &spans}) {
    FUZZ_CHECK(CreateImage(rect, true, image, rect, mode, working, GetProfileGamma(working), false, &status));
    FillDocument(image);
  }
  ConversionKeepsBlack(&layer, profile);
  FUZZ_CHECK(ConvertColorOf(&layer, profile, 1));
  const std::vector<int32_t> left(static_cast<size_t>(spans.bufferHeight), 3), right(left.size(), 17);
  FUZZ_CHECK(ConvertColorOfSpans(&spans, profile, left.data(), right.data()));
  FUZZ_CHECK(layer.profile == profile && spans.profile == profile);

  ReleaseImage(&spans);
  ReleaseImage(&layer);
  ReleaseImage(&analysis);
  ReleaseImage(&document);
  ReleaseColorManagement();
  return 0;
}
