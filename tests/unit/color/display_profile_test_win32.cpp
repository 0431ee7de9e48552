// The monitor's profile on Windows, and the built-in profile as a resource of
// the module.
#include <windows.h>

#include "color/builtin_profile.h"
#include "color/display_profile.h"
#include "color_test_support.h"

namespace {

using colortest::ColorTest;

TEST_F(ColorTest, EachMonitorGetsAnRgbProfileOnceAndKeepsIt) {
  Initialize();
  cmsHPROFILE first = GetDisplayProfile(nullptr);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetProfileColorSpace(first), cmsSigRgbData);
  // A second request is served from the cache, without another report.
  EXPECT_EQ(GetDisplayProfile(GetDesktopWindow()), first);
  const std::string log = CloseAndRead();
  EXPECT_LE(colortest::CountOf(log, "Could not get a display color profile for the current monitor."), 1);
  if (first == GetStandardProfile()) {
    EXPECT_EQ(colortest::CountOf(log, "Could not get a display color profile for the current monitor."), 1);
  }
}

TEST(BuiltInGrayProfile, TheModuleCarriesTheSameBytesAsResource243) {
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(243), MAKEINTRESOURCEA(10));
  ASSERT_NE(found, nullptr);
  ASSERT_EQ(SizeofResource(module, found), BUILTIN_GRAY_PROFILE_SIZE);
  const void* data = LockResource(LoadResource(module, found));
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(std::memcmp(data, BUILTIN_GRAY_PROFILE, BUILTIN_GRAY_PROFILE_SIZE), 0);
  cmsHPROFILE opened = OpenBuiltInGrayProfile(nullptr);
  ASSERT_NE(opened, nullptr);
  EXPECT_EQ(colortest::Description(opened), "Default Grayscale Profile");
  cmsCloseProfile(opened);
}

}  // namespace
