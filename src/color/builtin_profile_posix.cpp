// The native module has no resources; the built-in profile comes from the
// compiled-in array.
#include "color/builtin_profile.h"

#include "runtime/report.h"

cmsHPROFILE OpenBuiltInGrayProfile(cmsContext context) {
  cmsHPROFILE profile =
      cmsOpenProfileFromMemTHR(context, BUILTIN_GRAY_PROFILE, static_cast<cmsUInt32Number>(BUILTIN_GRAY_PROFILE_SIZE));
  if (profile == nullptr) REPORT_DEBUG("Could not open the IDR_LINEAR_COLOR_PROFILE.");
  return profile;
}
