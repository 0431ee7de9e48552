#pragma once
// The built-in grayscale profile, IDR_LINEAR_COLOR_PROFILE: ICC version 2.1,
// output class, GRAY data with an XYZ connection space, described as
// "Default Grayscale Profile", D50 white point, black point 0 and a
// 256-entry gray tone curve. Its bytes are written by Little CMS when the
// plug-in is built (src/color/generator) and compiled in as the array below;
// the Windows modules also carry them as resource RCDATA 243.
#include <lcms2.h>

#include <cstddef>

constexpr int IDR_LINEAR_COLOR_PROFILE = 243;

extern const unsigned char BUILTIN_GRAY_PROFILE[];
extern const size_t BUILTIN_GRAY_PROFILE_SIZE;

// Opens the profile in `context`: from the module's resource on Windows, from
// the array elsewhere. Failures are reported; null then.
cmsHPROFILE OpenBuiltInGrayProfile(cmsContext context);
