// The plug-in's profiles: the built-in grayscale profile as Little CMS reads
// it back, the image profile chosen for each kind of document, the derived
// working profiles, gamma estimates, and documents whose profile is broken,
// hostile or of the wrong kind.
#include <cmath>

#include "color/builtin_profile.h"
#include "color_test_support.h"
#include "runtime/buffers.h"

namespace {

using colortest::ColorTest;
using colortest::Contains;
using colortest::TestImage;

TEST(BuiltInGrayProfile, LittleCmsReadsBackAVersion21OutputGrayProfileWithItsCurve) {
  cmsHPROFILE profile = cmsOpenProfileFromMem(BUILTIN_GRAY_PROFILE, static_cast<cmsUInt32Number>(BUILTIN_GRAY_PROFILE_SIZE));
  ASSERT_NE(profile, nullptr);
  EXPECT_EQ(cmsGetEncodedICCversion(profile), 0x02100000u);
  EXPECT_EQ(cmsGetDeviceClass(profile), cmsSigOutputClass);
  EXPECT_EQ(cmsGetColorSpace(profile), cmsSigGrayData);
  EXPECT_EQ(cmsGetPCS(profile), cmsSigXYZData);
  EXPECT_EQ(colortest::Description(profile), "Default Grayscale Profile");
  EXPECT_TRUE(cmsIsTag(profile, cmsSigCopyrightTag));

  const auto* white = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, cmsSigMediaWhitePointTag));
  const auto* black = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, cmsSigMediaBlackPointTag));
  ASSERT_NE(white, nullptr);
  ASSERT_NE(black, nullptr);
  EXPECT_NEAR(white->X, 0.9642, 1e-4);
  EXPECT_NEAR(white->Y, 1.0, 1e-4);
  EXPECT_NEAR(white->Z, 0.8249, 1e-4);
  EXPECT_EQ(black->X + black->Y + black->Z, 0.0);

  const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(profile, cmsSigGrayTRCTag));
  ASSERT_NE(curve, nullptr);
  ASSERT_EQ(cmsGetToneCurveEstimatedTableEntries(curve), 256u);
  const cmsUInt16Number* table = cmsGetToneCurveEstimatedTable(curve);
  // A few entries from the published table: the linear toe, mid-grey at
  // 0.302 of full scale, and the end points.
  EXPECT_EQ(table[0], 0);
  EXPECT_EQ(table[1], 16);
  EXPECT_EQ(table[6], 97);
  EXPECT_EQ(table[7], 127);
  EXPECT_EQ(table[128], 19795);
  EXPECT_EQ(table[254], 65089);
  EXPECT_EQ(table[255], 65535);
  for (int i = 1; i < 256; ++i) ASSERT_GT(table[i], table[i - 1]) << i;
  cmsCloseProfile(profile);
}

TEST_F(ColorTest, DocumentsWithoutAProfileGetTheBuiltInGrayOrTheStandardProfile) {
  for (int32_t mode : {1, 10, 17}) {
    Initialize(mode);
    ASSERT_NE(GetImageProfile(), nullptr);
    EXPECT_TRUE(IsGrayProfile(GetImageProfile())) << mode;
    EXPECT_EQ(colortest::Description(GetImageProfile()), "Default Grayscale Profile");
    EXPECT_NE(GetImageProfile(), GetStandardProfile());
  }
  for (int32_t mode : {3, 11, 16}) {
    Initialize(mode);
    EXPECT_EQ(GetProfileColorSpace(GetImageProfile()), cmsSigRgbData) << mode;
    EXPECT_TRUE(cmsIsMatrixShaper(GetImageProfile()));
    // Its own handle: releasing closes each of the four profiles once.
    EXPECT_NE(GetImageProfile(), GetStandardProfile());
  }
  EXPECT_EQ(GetProfileBlockCount(), 2);  // the two working profiles
  ReleaseColorManagement();
  EXPECT_EQ(GetImageProfile(), nullptr);
  EXPECT_EQ(GetProfileBlockCount(), 0);
}

TEST_F(ColorTest, WorkingProfilesKeepTheStandardPrimariesWithGamma22AndGamma1) {
  Initialize();
  for (const auto& [profile, gamma] : {std::pair{GetWorkingProfile(), 2.2}, {GetLinearWorkingProfile(), 1.0}}) {
    ASSERT_NE(profile, nullptr);
    for (cmsTagSignature tag : {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag}) {
      const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(profile, tag));
      ASSERT_NE(curve, nullptr);
      EXPECT_NEAR(cmsEstimateGamma(curve, 0.01), gamma, 1e-3);
    }
    EXPECT_NEAR(GetProfileGamma(profile), gamma, 1e-3);
    for (cmsTagSignature tag : {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag}) {
      const auto* mine = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, tag));
      const auto* standard = static_cast<const cmsCIEXYZ*>(cmsReadTag(GetStandardProfile(), tag));
      ASSERT_TRUE(mine != nullptr && standard != nullptr);
      EXPECT_NEAR(mine->X, standard->X, 1e-4);
      EXPECT_NEAR(mine->Y, standard->Y, 1e-4);
    }
  }
  // A gray base gets a gray curve.
  cmsHPROFILE gray = DeriveGammaProfile(1.0, GetImageProfile() /* sRGB for mode 3 */);
  ASSERT_NE(gray, nullptr);
  EXPECT_NEAR(GetProfileGamma(gray), 1.0, 1e-3);
  cmsCloseProfile(gray);
}

TEST_F(ColorTest, ProfileGammaIsEstimatedRoundedForImagesAndFallsBackTo22) {
  Initialize();
  cmsHPROFILE gamma18 = colortest::GrayGammaProfile(1.8);
  cmsHPROFILE gamma219 = colortest::GrayGammaProfile(2.19);
  // A curve that is zero up to its last entry has no power law at all.
  const cmsUInt16Number step[3] = {0, 0, 65535};
  cmsToneCurve* stepCurve = cmsBuildTabulatedToneCurve16(nullptr, 3, step);
  cmsHPROFILE stepped = cmsCreateGrayProfile(cmsD50_xyY(), stepCurve);
  cmsFreeToneCurve(stepCurve);
  cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);  // no tone curve at all

  EXPECT_NEAR(GetProfileGamma(gamma18), 1.8, 1e-3);
  EXPECT_NEAR(GetImageGammaOfProfile(gamma18), 1.8, 1e-12);
  EXPECT_DOUBLE_EQ(GetImageGammaOfProfile(gamma219), 2.2);
  EXPECT_EQ(GetProfileGamma(stepped), 2.2);
  EXPECT_EQ(GetProfileGamma(lab), 2.2);
  EXPECT_EQ(GetProfileGamma(nullptr), 2.2);
  // Asked again, the same answers (now from the cache).
  EXPECT_NEAR(GetProfileGamma(gamma18), 1.8, 1e-3);
  EXPECT_EQ(GetProfileGamma(stepped), 2.2);

  ReleaseColorManagement();  // forget the addresses before closing
  for (cmsHPROFILE p : {gamma18, gamma219, stepped, lab}) cmsCloseProfile(p);
}

TEST_F(ColorTest, AHostProfileIsCopiedAndBecomesTheImageProfile) {
  std::vector<uint8_t> bytes = colortest::SaveAndClose(colortest::GrayGammaProfile(1.8));
  ASSERT_FALSE(bytes.empty());
  ASSERT_TRUE(InitializeColorManagement(bytes.data(), bytes.size(), 1, nullptr));
  std::fill(bytes.begin(), bytes.end(), 0xEE);  // the host may move or free its copy
  ASSERT_TRUE(IsGrayProfile(GetImageProfile()));
  EXPECT_NEAR(GetProfileGamma(GetImageProfile()), 1.8, 1e-3);
  EXPECT_EQ(GetProfileBlockCount(), 3);

  // An RGB profile on a grayscale document (one channel of a colour image)
  // is kept; the host image reader warns about it.
  std::vector<uint8_t> rgb = colortest::SaveAndClose(cmsCreate_sRGBProfile());
  ASSERT_TRUE(InitializeColorManagement(rgb.data(), rgb.size(), 10, nullptr));
  EXPECT_EQ(GetProfileColorSpace(GetImageProfile()), cmsSigRgbData);
}

// Host profiles that cannot serve the document. Each is reported and the
// document is treated as one without a profile.
TEST_F(ColorTest, BrokenHostileOrMismatchedHostProfilesFallBackToTheDefault) {
  const std::vector<uint8_t> srgb = colortest::SaveAndClose(cmsCreate_sRGBProfile());
  const std::vector<uint8_t> gray = colortest::SaveAndClose(colortest::GrayGammaProfile(2.2));
  ASSERT_GT(srgb.size(), 300u);

  auto withBytes = [](std::vector<uint8_t> b, size_t at, std::initializer_list<uint8_t> values) {
    for (uint8_t v : values) b.at(at++) = v;
    return b;
  };
  std::vector<uint8_t> garbage(700);
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>(i * 37 + 11);
  // A header that claims 16 MB and a tag table of 0x7FFFFFFF entries.
  const std::vector<uint8_t> hugeClaims = withBytes(withBytes(srgb, 0, {0x01, 0x00, 0x00, 0x00}), 128, {0x7F, 0xFF, 0xFF, 0xFF});
  // The red tone curve's directory entry pointing far outside the profile.
  size_t redCurveEntry = 0;
  for (size_t at = 132; at + 12 <= srgb.size() && at < 132 + 12 * 32; at += 12) {
    if (std::memcmp(&srgb[at], "rTRC", 4) == 0) redCurveEntry = at;
  }
  ASSERT_NE(redCurveEntry, 0u);
  const std::vector<uint8_t> wildOffset = withBytes(srgb, redCurveEntry + 4, {0x7F, 0xFF, 0xFF, 0x00});
  // A colour profile without any tags: it opens, but converts nothing.
  cmsHPROFILE empty = cmsCreateProfilePlaceholder(nullptr);
  cmsSetColorSpace(empty, cmsSigRgbData);
  cmsSetPCS(empty, cmsSigXYZData);
  cmsSetDeviceClass(empty, cmsSigDisplayClass);
  const std::vector<uint8_t> tagless = colortest::SaveAndClose(empty);
  const std::vector<uint8_t> lab = colortest::SaveAndClose(cmsCreateLab4Profile(nullptr));

  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    int32_t mode;
    const char* message;
  };
  const char* const kCannotOpen = "Could not open host editor-provided image color profile.";
  const std::vector<Case> cases = {
      {"garbage", garbage, 3, "not an ICC profile"},
      {"truncated", std::vector<uint8_t>(srgb.begin(), srgb.begin() + 200), 3, kCannotOpen},
      {"just a header", std::vector<uint8_t>(srgb.begin(), srgb.begin() + 100), 11, kCannotOpen},
      {"huge claims", hugeClaims, 3, "Too many tags"},
      {"wild tag offset", wildOffset, 16, "cannot be used with image mode 16"},
      {"no tags", tagless, 3, "cannot be used with image mode 3"},
      {"gray on colour", gray, 11, "class 'mntr', color space 'GRAY'"},
      {"Lab on gray", lab, 1, "color space 'Lab '"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int16_t status = 0;
    EXPECT_TRUE(InitializeColorManagement(c.bytes.data(), c.bytes.size(), c.mode, &status));
    EXPECT_EQ(status, 0);
    ASSERT_NE(GetImageProfile(), nullptr);
    const bool grayMode = c.mode == 1;
    EXPECT_EQ(IsGrayProfile(GetImageProfile()), grayMode);
    if (grayMode) {
      EXPECT_EQ(colortest::Description(GetImageProfile()), "Default Grayscale Profile");
    }
    EXPECT_EQ(GetProfileBlockCount(), 2) << "a refused profile keeps no block";
    // The image profile works.
    TestImage image(c.mode == 1 ? 1u : 11u, ImageRect{0, 0, 4, 2}, GetImageProfile());
    EXPECT_TRUE(ConvertColorOf(&image.image, GetLinearWorkingProfile()));
    const std::string log = CloseAndRead();
    EXPECT_TRUE(Contains(log, c.message));
    if (Contains(log, "Little CMS returned")) {
      EXPECT_TRUE(Contains(log, "'Debug: Unexpected error' - 'Little CMS returned error code "));
    }
    OpenLog(LOGMODE_IMMEDIATE);
  }
  // A handle the host could not lock.
  EXPECT_TRUE(InitializeColorManagement(nullptr, 3144, 3, nullptr));
  EXPECT_NE(GetImageProfile(), nullptr);
  EXPECT_TRUE(Contains(CloseAndRead(), "Could not acquire host editor-provided image color profile."));
}

TEST_F(ColorTest, FailuresToStoreTheHostProfileOrDeriveTheWorkingProfilesAreReported) {
  const std::vector<uint8_t> srgb = colortest::SaveAndClose(cmsCreate_sRGBProfile());
  // The host profile's block cannot be allocated: reported, default used.
  FailNextBufferAllocationsForTesting(1);
  EXPECT_TRUE(InitializeColorManagement(srgb.data(), srgb.size(), 3, nullptr));
  EXPECT_NE(GetLinearWorkingProfile(), nullptr);

  // Without memory for the working profiles initialisation fails with -50.
  FailNextBufferAllocationsForTesting(1);
  int16_t status = 0;
  EXPECT_FALSE(InitializeColorManagement(nullptr, 0, 3, &status));
  EXPECT_EQ(status, -50);
  EXPECT_EQ(GetWorkingProfile(), nullptr);
  EXPECT_EQ(GetLinearWorkingProfile(), nullptr);
  EXPECT_NE(GetImageProfile(), nullptr);
  FailNextBufferAllocationsForTesting(0);

  // The ProfileBlock table holds 63 blocks.
  Initialize();
  std::vector<cmsHPROFILE> derived;
  for (int i = GetProfileBlockCount(); i < PROFILE_BLOCK_LIMIT; ++i) derived.push_back(DeriveGammaProfile(1.5, GetStandardProfile()));
  EXPECT_EQ(DeriveGammaProfile(1.5, GetStandardProfile()), nullptr);
  for (cmsHPROFILE p : derived) {
    EXPECT_NE(p, nullptr);
    cmsCloseProfile(p);
  }

  const std::string log = CloseAndRead();
  EXPECT_TRUE(Contains(log, "Could not allocate memory to store the host editor-provided image color profile."));
  EXPECT_TRUE(Contains(log, "Could not create the working profile."));
  EXPECT_TRUE(Contains(log, "Could not derive the linear working profile."));
  EXPECT_TRUE(Contains(log, "Ran out of room in the ProfileBlock table."));
}

}  // namespace
