// The plug-in's profiles: the built-in grayscale profile as Little CMS reads
// it back, the image profile chosen for each kind of document, the derived
// working profiles, gamma estimates, and documents whose profile is broken,
// hostile or of the wrong kind.
#include "../test_hooks_support.h"
#include "color/builtin_profile.h"
#include "color_test_support.h"
#include "runtime/buffers.h"

namespace {

using colortest::ColorTest;
using colortest::Contains;

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
  ASSERT_TRUE(white != nullptr && black != nullptr);
  EXPECT_NEAR(white->X, 0.9642, 1e-4);
  EXPECT_NEAR(white->Y, 1.0, 1e-4);
  EXPECT_NEAR(white->Z, 0.8249, 1e-4);
  EXPECT_EQ(black->X + black->Y + black->Z, 0.0);

  const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(profile, cmsSigGrayTRCTag));
  ASSERT_NE(curve, nullptr);
  ASSERT_EQ(cmsGetToneCurveEstimatedTableEntries(curve), 256u);
  const cmsUInt16Number* table = cmsGetToneCurveEstimatedTable(curve);
  // Entries of the published table: the linear toe, mid-grey at 0.302 of
  // full scale, the end points; and it rises throughout.
  const std::pair<int, int> published[] = {{0, 0}, {1, 16}, {6, 97}, {7, 127}, {128, 19795}, {254, 65089}, {255, 65535}};
  for (const auto& [index, value] : published) EXPECT_EQ(table[index], value) << index;
  for (int i = 1; i < 256; ++i) ASSERT_GT(table[i], table[i - 1]) << i;
  cmsCloseProfile(profile);
}

TEST_F(ColorTest, DocumentsWithoutAProfileGetTheBuiltInGrayOrTheStandardProfile) {
  for (int32_t mode : {1, 10, 17, 3, 11, 16}) {
    Initialize(mode);
    const bool gray = mode == 1 || mode == 10 || mode == 17;
    EXPECT_EQ(IsGrayProfile(GetImageProfile()), gray) << mode;
    EXPECT_EQ(colortest::Description(GetImageProfile()) == "Default Grayscale Profile", gray);
    EXPECT_EQ(GetProfileColorSpace(GetImageProfile()) == cmsSigRgbData, !gray);
    EXPECT_NE(GetImageProfile(), GetStandardProfile()) << "each fixed profile is closed once";
  }
  EXPECT_EQ(GetProfileBlockCount(), 2);  // the two working profiles
  // The working profiles: the standard primaries with new curves.
  for (const auto& [profile, gamma] : {std::pair{GetWorkingProfile(), 2.2}, {GetLinearWorkingProfile(), 1.0}}) {
    for (cmsTagSignature tag : {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag}) {
      const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(profile, tag));
      ASSERT_NE(curve, nullptr);
      EXPECT_NEAR(cmsEstimateGamma(curve, 0.01), gamma, 1e-3);
    }
    const auto* green = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, cmsSigGreenColorantTag));
    const auto* standardGreen = static_cast<const cmsCIEXYZ*>(cmsReadTag(GetStandardProfile(), cmsSigGreenColorantTag));
    ASSERT_TRUE(green != nullptr && standardGreen != nullptr);
    EXPECT_NEAR(green->Y, standardGreen->Y, 1e-4);
  }
  ReleaseColorManagement();
  EXPECT_EQ(GetImageProfile(), nullptr);
  EXPECT_EQ(GetProfileBlockCount(), 0);
}

TEST_F(ColorTest, ProfileGammaIsEstimatedRoundedForImagesAndFallsBackTo22) {
  Initialize();
  cmsHPROFILE gamma18 = colortest::GrayGammaProfile(1.8);
  cmsHPROFILE gamma219 = colortest::GrayGammaProfile(2.19);
  const cmsUInt16Number step[3] = {0, 0, 65535};  // no power law fits a step
  cmsToneCurve* stepCurve = cmsBuildTabulatedToneCurve16(nullptr, 3, step);
  cmsHPROFILE stepped = cmsCreateGrayProfile(cmsD50_xyY(), stepCurve);
  cmsFreeToneCurve(stepCurve);
  cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);  // no tone curve at all
  for (int pass = 0; pass < 2; ++pass) {            // the second from the cache
    EXPECT_NEAR(GetProfileGamma(gamma18), 1.8, 1e-3);
    EXPECT_EQ(GetProfileGamma(stepped), 2.2);
    EXPECT_EQ(GetProfileGamma(lab), 2.2);
  }
  EXPECT_NEAR(GetImageGammaOfProfile(gamma18), 1.8, 1e-12);
  EXPECT_DOUBLE_EQ(GetImageGammaOfProfile(gamma219), 2.2);
  EXPECT_EQ(GetProfileGamma(nullptr), 2.2);
  ReleaseColorManagement();  // forget the addresses before closing
  for (cmsHPROFILE p : {gamma18, gamma219, stepped, lab}) cmsCloseProfile(p);
}

TEST_F(ColorTest, AHostProfileIsCopiedAndBecomesTheImageProfile) {
  std::vector<uint8_t> bytes = colortest::SaveAndClose(colortest::GrayGammaProfile(1.8));
  ASSERT_TRUE(InitializeColorManagement(bytes.data(), bytes.size(), 1, nullptr));
  std::fill(bytes.begin(), bytes.end(), 0xEE);  // the host may move or free its copy
  EXPECT_NEAR(GetProfileGamma(GetImageProfile()), 1.8, 1e-3);
  EXPECT_EQ(GetProfileBlockCount(), 3);
  // An RGB profile on a grayscale document (one channel of a colour image)
  // is kept; the host image reader warns about it.
  std::vector<uint8_t> rgb = colortest::SaveAndClose(cmsCreate_sRGBProfile());
  ASSERT_TRUE(InitializeColorManagement(rgb.data(), rgb.size(), 10, nullptr));
  EXPECT_EQ(GetProfileColorSpace(GetImageProfile()), cmsSigRgbData);
}

// Each is reported and the document is treated as one without a profile.
TEST_F(ColorTest, BrokenHostileOrMismatchedHostProfilesFallBackToTheDefault) {
  const std::vector<uint8_t> srgb = colortest::SaveAndClose(cmsCreate_sRGBProfile());
  auto patched = [&srgb](size_t at, std::initializer_list<uint8_t> values) {
    std::vector<uint8_t> b = srgb;
    for (uint8_t v : values) b.at(at++) = v;
    return b;
  };
  std::vector<uint8_t> garbage(700);
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>(i * 37 + 11);
  size_t redCurveEntry = 0;  // the tag directory entry of the red tone curve
  for (size_t at = 132; at < 132 + 12 * 20; at += 12) {
    if (std::memcmp(&srgb.at(at), "rTRC", 4) == 0) redCurveEntry = at;
  }
  ASSERT_NE(redCurveEntry, 0u);
  cmsHPROFILE empty = cmsCreateProfilePlaceholder(nullptr);  // opens, converts nothing
  cmsSetColorSpace(empty, cmsSigRgbData);
  cmsSetPCS(empty, cmsSigXYZData);
  cmsSetDeviceClass(empty, cmsSigDisplayClass);

  const char* const kCannotOpen = "Could not open host editor-provided image color profile.";
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    int32_t mode;
    const char* message;
  } cases[] = {
      {"garbage", garbage, 3, "not an ICC profile"},
      {"truncated", std::vector<uint8_t>(srgb.begin(), srgb.begin() + 200), 3, kCannotOpen},
      {"just a header", std::vector<uint8_t>(srgb.begin(), srgb.begin() + 100), 11, kCannotOpen},
      {"2^31 tags", patched(128, {0x7F, 0xFF, 0xFF, 0xFF}), 3, "Too many tags"},
      {"wild tag offset", patched(redCurveEntry + 4, {0x7F, 0xFF, 0xFF, 0x00}), 16, "cannot be used with image mode 16"},
      {"no tags", colortest::SaveAndClose(empty), 3, "cannot be used with image mode 3"},
      {"gray on colour", colortest::SaveAndClose(colortest::GrayGammaProfile(2.2)), 11, "color space 'GRAY'"},
      {"Lab on gray", colortest::SaveAndClose(cmsCreateLab4Profile(nullptr)), 1, "color space 'Lab '"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int16_t status = 0;
    EXPECT_TRUE(InitializeColorManagement(c.bytes.data(), c.bytes.size(), c.mode, &status));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(IsGrayProfile(GetImageProfile()), c.mode == 1);
    EXPECT_EQ(GetProfileBlockCount(), 2) << "a refused profile keeps no block";
    colortest::TestImage image(c.mode == 1 ? 1u : 11u, ImageRect{0, 0, 4, 2}, GetImageProfile());
    EXPECT_TRUE(ConvertColorOf(&image.image, GetLinearWorkingProfile()));
    const std::string log = CloseAndRead();
    EXPECT_TRUE(Contains(log, c.message));
    EXPECT_EQ(Contains(log, "Little CMS"), Contains(log, "'Debug: Unexpected error' - 'Little CMS returned error code "));
    OpenLog(LOGMODE_IMMEDIATE);
  }
  // A handle the host could not lock.
  EXPECT_TRUE(InitializeColorManagement(nullptr, 3144, 3, nullptr));
  EXPECT_TRUE(Contains(CloseAndRead(), "Could not acquire host editor-provided image color profile."));
}

TEST_F(ColorTest, WithoutMemoryForProfilesTheFailuresAreReported) {
  const std::vector<uint8_t> srgb = colortest::SaveAndClose(cmsCreate_sRGBProfile());
  // Without memory for the host profile's copy there is no image profile:
  // the document's colours are never read through another profile.
  testhooks::Hooks().failAllocations = 1;
  int16_t status = 0;
  EXPECT_FALSE(InitializeColorManagement(srgb.data(), srgb.size(), 3, &status));
  EXPECT_EQ(status, -108);
  EXPECT_EQ(GetImageProfile(), nullptr);
  testhooks::Hooks().failAllocations = 1;  // the working profile, and so the linear one
  status = 0;
  EXPECT_FALSE(InitializeColorManagement(nullptr, 0, 3, &status));
  EXPECT_EQ(status, -108);  // memory ran out; nothing is wrong with the document
  EXPECT_EQ(GetLinearWorkingProfile(), nullptr);
  testhooks::Hooks().failAllocations = 0;
  Initialize();  // 63 ProfileBlocks at most
  std::vector<cmsHPROFILE> derived;
  while (GetProfileBlockCount() < PROFILE_BLOCK_LIMIT) derived.push_back(DeriveGammaProfile(1.5, GetStandardProfile()));
  EXPECT_EQ(DeriveGammaProfile(1.5, GetStandardProfile()), nullptr);
  for (cmsHPROFILE p : derived) cmsCloseProfile(p);

  const std::string log = CloseAndRead();
  for (const char* message : {"Could not allocate memory to store the host editor-provided image color profile.",
                              "Could not create the working profile.", "Could not derive the linear working profile.",
                              "Ran out of room in the ProfileBlock table."}) {
    EXPECT_TRUE(Contains(log, message)) << message;
  }
}

}  // namespace
