// The native build shows the preview in the standard profile.
#include "color/display_profile.h"
#include "color_test_support.h"

namespace {

using colortest::ColorTest;

TEST_F(ColorTest, WithoutMonitorsTheDisplayProfileIsTheStandardProfile) {
  EXPECT_EQ(GetDisplayProfile(nullptr), nullptr) << "nothing before initialisation";
  Initialize();
  EXPECT_EQ(GetDisplayProfile(nullptr), GetStandardProfile());
}

}  // namespace
