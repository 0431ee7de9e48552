#include "color/color_management.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <string>

#include "color/blend.h"
#include "color/builtin_profile.h"
#include "color/color_internal.h"
#include "color/display_profile.h"
#include "platform/platform.h"
#include "runtime/buffers.h"
#include "runtime/status.h"

const char* const CAPTION_COLOR_UNEXPECTED_ERROR = "Debug: Unexpected error";

namespace {

constexpr double WORKING_GAMMA = 2.2;
constexpr double LINEAR_GAMMA = 1.0;
constexpr double FALLBACK_GAMMA = 2.2;
constexpr int GAMMA_CACHE_CAPACITY_ENTRIES = 64;

struct ColorProfiles {
  cmsContext context;
  cmsHPROFILE standard;
  cmsHPROFILE image;
  cmsHPROFILE working;
  cmsHPROFILE linearWorking;
};
ColorProfiles g_profiles{};

// The bytes of every profile opened from memory by this module. Little CMS
// keeps its own copy of what it opens, so a block may go before its profile.
struct ProfileBlockTable {
  std::mutex lock;
  BufferDescriptor blocks[PROFILE_BLOCK_CAPACITY];
  int count;
  bool outOfMemory;  // a profile's block could not be had since the last initialisation
};
ProfileBlockTable g_blocks{};

struct GammaCacheEntry {
  ColorProfileHandle profile;
  double gamma;
};
struct GammaCache {
  // Gammas are asked for by every Image that is created or converted, also
  // on the final render's band workers, so the cache has a lock.
  std::mutex lock;
  GammaCacheEntry entries[GAMMA_CACHE_CAPACITY_ENTRIES];
  int count;
};
GammaCache g_gammas{};

void LogLittleCmsError(cmsContext, cmsUInt32Number code, const char* text) {
  REPORT_COLOR_DEBUG("Little CMS returned error code %d: '%s'", static_cast<int>(code), text != nullptr ? text : "");
}

bool IsGrayscaleImageMode(int32_t mode) { return mode == 1 || mode == 10 || mode == 17; }

std::string SignatureText(uint32_t signature) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = static_cast<char>((signature >> shift) & 0xFF);
    text += (c >= 0x20 && c < 0x7F) ? c : '?';
  }
  return text;
}

// Copies `size` bytes into the next ProfileBlock and opens them. The block is
// kept only when the profile opens.
cmsHPROFILE OpenProfileCopy(const void* data, size_t size, const char* noRoomMessage, const char* noMemoryMessage,
                            const char* openMessage) {
  std::lock_guard<std::mutex> lock(g_blocks.lock);
  if (g_blocks.count >= PROFILE_BLOCK_LIMIT) {
    REPORT_DEBUG("%s", noRoomMessage);
    return nullptr;
  }
  BufferDescriptor* block = &g_blocks.blocks[g_blocks.count];
  if (ReallocateBuffer(size, block) != 0) {
    REPORT_DEBUG("%s", noMemoryMessage);
    g_blocks.outOfMemory = true;
    return nullptr;
  }
  std::memcpy(block->buffer, data, size);
  PlatformSetLastError(0);
  cmsHPROFILE profile = cmsOpenProfileFromMemTHR(g_profiles.context, block->buffer, static_cast<cmsUInt32Number>(size));
  if (profile == nullptr) {
    REPORT_SYSTEM_ERROR(PlatformGetLastError(), "%s", openMessage);
    DeallocateBuffer(block);
    return nullptr;
  }
  ++g_blocks.count;
  return profile;
}

// Gives back the block that OpenProfileCopy took last.
void ReleaseNewestProfileBlock() {
  std::lock_guard<std::mutex> lock(g_blocks.lock);
  if (g_blocks.count > 0) DeallocateBuffer(&g_blocks.blocks[--g_blocks.count]);
}

// A document profile must describe the image's data: RGB for the colour
// modes, gray or RGB for the grayscale ones (RGB there means a single channel
// of a colour image, which the host image reader warns about), and it must
// convert both ways with the standard profile, as the plug-in reads the image
// through it and writes its result back through it.
bool HostProfileFitsImageMode(cmsHPROFILE profile, int32_t mode) {
  // Signatures as numbers: a foreign profile may carry any value, which an
  // enumeration variable cannot hold.
  const uint32_t space = cmsGetColorSpace(profile);
  const uint32_t profileClass = cmsGetDeviceClass(profile);
  const bool classUsable = profileClass == cmsSigInputClass || profileClass == cmsSigDisplayClass ||
                           profileClass == cmsSigOutputClass || profileClass == cmsSigColorSpaceClass;
  const bool spaceUsable = space == cmsSigRgbData || (space == cmsSigGrayData && IsGrayscaleImageMode(mode));
  bool convertible = classUsable && spaceUsable;
  if (convertible && g_profiles.standard != nullptr) {
    const cmsUInt32Number format = space == cmsSigGrayData ? TYPE_GRAY_16 : TYPE_RGB_16;
    const cmsUInt32Number flags = cmsFLAGS_NOCACHE | cmsFLAGS_NOOPTIMIZE;
    cmsHTRANSFORM in = cmsCreateTransformTHR(g_profiles.context, profile, format, g_profiles.standard, TYPE_RGB_16,
                                             INTENT_RELATIVE_COLORIMETRIC, flags);
    cmsHTRANSFORM out = in == nullptr ? nullptr
                                      : cmsCreateTransformTHR(g_profiles.context, g_profiles.standard, TYPE_RGB_16,
                                                              profile, format, INTENT_RELATIVE_COLORIMETRIC, flags);
    convertible = in != nullptr && out != nullptr;
    if (out != nullptr) cmsDeleteTransform(out);
    if (in != nullptr) cmsDeleteTransform(in);
  }
  if (!convertible) {
    REPORT_DEBUG(
        "The host editor-provided image color profile (class '%s', color space '%s') cannot be used with image mode "
        "%d; the default profile for the mode is used instead.",
        SignatureText(profileClass).c_str(), SignatureText(space).c_str(), static_cast<int>(mode));
  }
  return convertible;
}

cmsHPROFILE OpenHostProfile(const void* data, size_t size, int32_t mode) {
  if (data == nullptr) {
    REPORT_DEBUG("Could not acquire host editor-provided image color profile.");
    return nullptr;
  }
  if (size > std::numeric_limits<cmsUInt32Number>::max()) {
    REPORT_DEBUG("Could not open host editor-provided image color profile.");
    return nullptr;
  }
  cmsHPROFILE profile =
      OpenProfileCopy(data, size, "Could not allocate a cache block to store the host editor-provided image color profile.",
                      "Could not allocate memory to store the host editor-provided image color profile.",
                      "Could not open host editor-provided image color profile.");
  if (profile != nullptr && !HostProfileFitsImageMode(profile, mode)) {
    cmsCloseProfile(profile);
    profile = nullptr;
    ReleaseNewestProfileBlock();
  }
  return profile;
}

// The image profile: the host's when it offers a usable one, else the profile
// for documents without one. A host profile that could not be copied for
// want of memory is no reason to read the document in another profile's
// colours: then there is none (the run fails as out of memory).
cmsHPROFILE OpenImageProfile(const void* hostData, size_t hostSize, int32_t mode) {
  if (hostSize > 0) {
    cmsHPROFILE host = OpenHostProfile(hostData, hostSize, mode);
    if (host != nullptr) return host;
    std::lock_guard<std::mutex> lock(g_blocks.lock);
    if (g_blocks.outOfMemory) return nullptr;
  }
  cmsHPROFILE profile = nullptr;
  if (IsGrayscaleImageMode(mode)) {
    profile = OpenBuiltInGrayProfile(g_profiles.context);
    if (profile == nullptr) REPORT_DEBUG("Host editor profile not provided and failed to create a standard grayscale profile.");
  } else {
    profile = cmsCreate_sRGBProfileTHR(g_profiles.context);
    if (profile == nullptr) REPORT_DEBUG("Host editor profile not provided and failed to create a standard color profile.");
  }
  return profile;
}

bool WriteToneCurveTag(cmsHPROFILE profile, cmsTagSignature tag, double gamma) {
  cmsToneCurve* curve = NewToneCurve(gamma);
  if (curve == nullptr) return false;
  const bool written = cmsWriteTag(profile, tag, curve) != 0;
  cmsFreeToneCurve(curve);
  return written;
}

void CloseProfile(cmsHPROFILE* profile) {
  if (*profile != nullptr) cmsCloseProfile(*profile);
  *profile = nullptr;
}

}  // namespace

bool InitializeColorManagement(const void* hostIccData, size_t hostIccSize, int32_t hostImageMode, int16_t* status) {
  ReleaseColorManagement();
  bool ok = true;

  // TransformCacheSection is a plain mutex that exists for the whole process;
  // there is nothing to create for it. The error hook lives in a context of
  // our own so that a host using Little CMS keeps its own handler.
  g_profiles.context = cmsCreateContext(nullptr, nullptr);
  if (g_profiles.context == nullptr) {
    REPORT_DEBUG("Could not create a Little CMS context; Little CMS errors will not be reported.");
  } else {
    cmsSetLogErrorHandlerTHR(g_profiles.context, LogLittleCmsError);
  }
  ResetBlendReports();

  g_profiles.standard = cmsCreate_sRGBProfileTHR(g_profiles.context);
  if (g_profiles.standard == nullptr) {
    REPORT_DEBUG("Could not create the standard profile.");
    ok = false;
  }

  g_profiles.image = OpenImageProfile(hostIccData, hostIccSize, hostImageMode);
  if (g_profiles.image == nullptr) ok = false;

  g_profiles.working = DeriveGammaProfile(WORKING_GAMMA, g_profiles.standard);
  if (g_profiles.working == nullptr) {
    REPORT_DEBUG("Could not create the working profile.");
    ok = false;
  }
  g_profiles.linearWorking = DeriveGammaProfile(LINEAR_GAMMA, g_profiles.working);
  if (g_profiles.linearWorking == nullptr) {
    REPORT_DEBUG("Could not derive the linear working profile.");
    ok = false;
  }

  if (!ok && status != nullptr && *status == 0) {
    // Profiles that could not be had for want of memory are no fault of the
    // document's: the host hears that memory ran out.
    std::lock_guard<std::mutex> lock(g_blocks.lock);
    *status = g_blocks.outOfMemory ? STATUS_OUT_OF_MEMORY : STATUS_PARAMETER_ERROR;
  }
  return ok;
}

void ReleaseColorManagement() {
  ReleaseTransformCache();
  ReleaseDisplayProfiles();
  CloseProfile(&g_profiles.linearWorking);
  CloseProfile(&g_profiles.working);
  CloseProfile(&g_profiles.image);
  CloseProfile(&g_profiles.standard);
  {
    std::lock_guard<std::mutex> lock(g_blocks.lock);
    for (BufferDescriptor& block : g_blocks.blocks) DeallocateBuffer(&block);
    g_blocks.count = 0;
    g_blocks.outOfMemory = false;
  }
  {
    std::lock_guard<std::mutex> lock(g_gammas.lock);
    g_gammas.count = 0;
  }
  if (g_profiles.context != nullptr) cmsDeleteContext(g_profiles.context);
  g_profiles.context = nullptr;
}

cmsHPROFILE GetStandardProfile() { return g_profiles.standard; }
cmsHPROFILE GetImageProfile() { return g_profiles.image; }
cmsHPROFILE GetWorkingProfile() { return g_profiles.working; }
cmsHPROFILE GetLinearWorkingProfile() { return g_profiles.linearWorking; }
cmsContext GetColorContext() { return g_profiles.context; }

cmsColorSpaceSignature GetProfileColorSpace(ColorProfileHandle profile) {
  return profile != nullptr ? cmsGetColorSpace(profile) : static_cast<cmsColorSpaceSignature>(0);
}

bool IsGrayProfile(ColorProfileHandle profile) { return GetProfileColorSpace(profile) == cmsSigGrayData; }

double GetProfileGamma(ColorProfileHandle profile) {
  if (profile == nullptr) return FALLBACK_GAMMA;
  std::lock_guard<std::mutex> lock(g_gammas.lock);
  for (int i = 0; i < g_gammas.count; ++i) {
    if (g_gammas.entries[i].profile == profile) return g_gammas.entries[i].gamma;
  }
  const cmsTagSignature tag = IsGrayProfile(profile) ? cmsSigGrayTRCTag : cmsSigGreenTRCTag;
  const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(profile, tag));
  double gamma = -1.0;
  if (curve != nullptr) {
    gamma = cmsEstimateGamma(curve, 0.1);
    if (gamma < 0.0) gamma = cmsEstimateGamma(curve, 1.0);
  }
  if (!(gamma >= 0.0)) gamma = FALLBACK_GAMMA;
  if (g_gammas.count < GAMMA_CACHE_CAPACITY_ENTRIES) g_gammas.entries[g_gammas.count++] = GammaCacheEntry{profile, gamma};
  return gamma;
}

double GetImageGammaOfProfile(ColorProfileHandle profile) {
  const double rounded = std::floor(GetProfileGamma(profile) * 20.0 + 0.5) / 20.0;
  return std::isfinite(rounded) && rounded > 0.0 ? rounded : FALLBACK_GAMMA;
}

cmsToneCurve* NewToneCurve(double gamma) {
  cmsToneCurve* curve = cmsBuildGamma(g_profiles.context, gamma);
  if (curve == nullptr) REPORT_COLOR_DEBUG("NewToneCurve() - Could not create new tone curve.");
  return curve;
}

cmsHPROFILE DeriveGammaProfile(double gamma, cmsHPROFILE base) {
  if (base == nullptr) {
    REPORT_DEBUG("DeriveGammaProfile() received a NULL base profile.");
    return nullptr;
  }
  cmsHPROFILE copy = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_blocks.lock);
    if (g_blocks.count >= PROFILE_BLOCK_LIMIT) {
      REPORT_DEBUG("Ran out of room in the ProfileBlock table.");
      return nullptr;
    }
    cmsUInt32Number size = 0;
    if (!cmsSaveProfileToMem(base, nullptr, &size) || size == 0) {
      REPORT_DEBUG("Could not retrieve required input profile memory size from cmsSaveProfileToMem().");
      return nullptr;
    }
    BufferDescriptor* block = &g_blocks.blocks[g_blocks.count];
    if (ReallocateBuffer(size, block) != 0) {
      REPORT_DEBUG("Could not allocate a ProfileBlock of %u bytes.", static_cast<unsigned>(size));
      g_blocks.outOfMemory = true;
      return nullptr;
    }
    if (!cmsSaveProfileToMem(base, block->buffer, &size)) {
      REPORT_DEBUG("Could not save profile to memory via cmsSaveProfileToMem().");
      DeallocateBuffer(block);
      return nullptr;
    }
    copy = cmsOpenProfileFromMemTHR(g_profiles.context, block->buffer, size);
    if (copy == nullptr) {
      REPORT_DEBUG("Could not open the saved copy of a profile.");
      DeallocateBuffer(block);
      return nullptr;
    }
    ++g_blocks.count;
  }
  bool written = true;
  if (IsGrayProfile(copy)) {
    if (!WriteToneCurveTag(copy, cmsSigGrayTRCTag, gamma)) {
      REPORT_DEBUG("Could not write new grayscale tone curve.");
      written = false;
    }
  } else {
    if (written && !WriteToneCurveTag(copy, cmsSigRedTRCTag, gamma)) {
      REPORT_DEBUG("Could not write new red tone curve.");
      written = false;
    }
    if (written && !WriteToneCurveTag(copy, cmsSigGreenTRCTag, gamma)) {
      REPORT_DEBUG("Could not write new green tone curve.");
      written = false;
    }
    if (written && !WriteToneCurveTag(copy, cmsSigBlueTRCTag, gamma)) {
      REPORT_DEBUG("Could not write new blue tone curve.");
      written = false;
    }
  }
  if (!written) {
    // A copy that kept the base's curves would pass for the derived profile
    // (a "linear" profile that is not): none at all is the only safe answer.
    // Building and storing a fixed gamma curve fails only for want of memory.
    cmsCloseProfile(copy);
    std::lock_guard<std::mutex> lock(g_blocks.lock);
    g_blocks.outOfMemory = true;
    return nullptr;
  }
  return copy;
}

int GetProfileBlockCount() {
  std::lock_guard<std::mutex> lock(g_blocks.lock);
  return g_blocks.count;
}
