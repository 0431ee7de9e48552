// The Windows modules carry the built-in profile as resource RCDATA 243 and
// open it from there (the compiled-in array holds the same bytes).
#include <windows.h>

#include "color/builtin_profile.h"
#include "platform/platform.h"
#include "runtime/report.h"

cmsHPROFILE OpenBuiltInGrayProfile(cmsContext context) {
  HMODULE module = static_cast<HMODULE>(PlatformModuleHandle());
  if (module == nullptr) {
    REPORT_DEBUG("The application's instance handle has not been initialized.");
    return nullptr;
  }
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(IDR_LINEAR_COLOR_PROFILE), MAKEINTRESOURCEA(10) /* RT_RCDATA */);
  if (found == nullptr) {
    REPORT_SYSTEM_ERROR(GetLastError(), "Could not find the IDR_LINEAR_COLOR_PROFILE resource.");
    return nullptr;
  }
  const DWORD size = SizeofResource(module, found);
  HGLOBAL loaded = LoadResource(module, found);
  if (loaded == nullptr || size == 0) {
    REPORT_SYSTEM_ERROR(GetLastError(), "Could not load the IDR_LINEAR_COLOR_PROFILE resource.");
    return nullptr;
  }
  const void* data = LockResource(loaded);
  if (data == nullptr) {
    REPORT_SYSTEM_ERROR(GetLastError(), "Could not lock the IDR_LINEAR_COLOR_PROFILE resource.");
    return nullptr;
  }
  // Little CMS copies what it opens; resource memory is never freed anyway.
  cmsHPROFILE profile = cmsOpenProfileFromMemTHR(context, data, size);
  if (profile == nullptr) REPORT_DEBUG("Could not open the IDR_LINEAR_COLOR_PROFILE.");
  return profile;
}
