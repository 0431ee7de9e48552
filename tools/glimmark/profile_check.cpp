#include "profile_check.h"

#include <lcms2.h>

#include "color/color_management.h"
#include "runtime/buffers.h"
#include "runtime/report.h"

namespace {

std::string SignatureText(uint32_t signature) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = static_cast<char>((signature >> shift) & 0xFF);
    if (c != ' ') text += (c > 0x20 && c < 0x7F) ? c : '?';
  }
  return text;
}

// Why the colour set-up refused the profile, in the terms of its rules: the
// profile must open, describe RGB data (or gray data in a gray document),
// be of a class that describes images, and convert both ways with sRGB.
std::string RefusalReason(const hostkit::HostImage& document) {
  cmsHPROFILE profile = cmsOpenProfileFromMemTHR(GetColorContext(), document.iccProfile.data(),
                                                 static_cast<cmsUInt32Number>(document.iccProfile.size()));
  if (profile == nullptr) return "cannot be read as an ICC profile (it is damaged, or not a profile)";
  // Numbers, not the enumerations: a foreign profile may carry any signature.
  const uint32_t space = cmsGetColorSpace(profile);
  const uint32_t profileClass = cmsGetDeviceClass(profile);
  cmsCloseProfile(profile);
  const bool grayDocument = document.colourPlanes() == 1;
  const std::string documentKind = grayDocument ? "a gray document" : "an RGB document";
  if (space == cmsSigGrayData && !grayDocument) return "is a gray profile, which does not suit " + documentKind;
  if (space != cmsSigGrayData && space != cmsSigRgbData)
    return "is a profile for " + SignatureText(space) + " data, which does not suit " + documentKind;
  if (profileClass != cmsSigInputClass && profileClass != cmsSigDisplayClass && profileClass != cmsSigOutputClass &&
      profileClass != cmsSigColorSpaceClass)
    return "is a profile of class '" + SignatureText(profileClass) + "', which does not describe a document's colours";
  return "cannot be converted to and from sRGB";
}

}  // namespace

std::string DocumentProfileWarning(const hostkit::HostImage& document, const std::string& profileName) {
  if (document.iccProfile.empty()) return std::string();
  // The plug-in's reports go to a log that is thrown away: the verdict is
  // read from what the set-up kept. A profile it uses keeps one block of
  // bytes beyond those of a document without a profile.
  OpenDebugLoggingQueue(nullptr, "Glimmark 2");
  OpenDebugLog(LOGMODE_DISCARD);
  InitializeBufferUsageTracking();
  int16_t status = 0;
  std::string warning;
  if (InitializeColorManagement(nullptr, 0, document.mode(), &status)) {
    const int withoutProfile = GetProfileBlockCount();
    const bool set =
        InitializeColorManagement(document.iccProfile.data(), document.iccProfile.size(), document.mode(), &status);
    if (set && GetProfileBlockCount() == withoutProfile) {
      const char* replacement = document.colourPlanes() == 1 ? "its built-in gray profile" : "sRGB";
      warning = "the profile " + profileName + " " + RefusalReason(document) + "; the filter uses " + replacement +
                " instead";
    }
  }
  ReleaseColorManagement();
  DeleteBufferUsageTracking();
  CloseDebugLog();
  return warning;
}
