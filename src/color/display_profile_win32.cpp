// Each monitor's ICC profile, as the display settings name it, opened once
// and kept per monitor.
#include <windows.h>

#include <mutex>
#include <string>

#include "color/color_management.h"
#include "color/display_profile.h"

namespace {

struct DisplayProfileEntry {
  HMONITOR monitor;     // null: free
  cmsHPROFILE profile;  // null: the monitor has no usable profile (standard used)
};

std::mutex g_displayLock;
DisplayProfileEntry g_displayProfiles[DISPLAY_PROFILE_CACHE_CAPACITY];

// The profile file of the device context's monitor, or empty after a report.
std::string MonitorProfileFileName(HDC dc) {
  // Asked without a buffer, the call fails and says how long the name is.
  // Windows sets ERROR_INSUFFICIENT_BUFFER; Wine leaves the error code as it
  // was, so a cleared code with a length is accepted too.
  DWORD length = 0;
  SetLastError(ERROR_SUCCESS);
  const BOOL sized = GetICMProfileA(dc, &length, nullptr);
  const DWORD error = GetLastError();
  if (sized || length == 0 || (error != ERROR_INSUFFICIENT_BUFFER && error != ERROR_SUCCESS)) {
    REPORT_SYSTEM_ERROR(error, "Could not get the size of the buffer to contain the profile name.");
    return std::string();
  }
  std::string name;
  try {
    name.assign(static_cast<size_t>(length) + 1, '\0');
  } catch (...) {
    REPORT_DEBUG("Could not get specified color space.");
    return std::string();
  }
  if (!GetICMProfileA(dc, &length, &name[0])) {
    REPORT_SYSTEM_ERROR(GetLastError(), "Could not get color space name.");
    return std::string();
  }
  name.resize(name.find('\0'));
  return name;
}

cmsHPROFILE OpenMonitorProfile(HMONITOR monitor) {
  MONITORINFOEXA info{};
  info.cbSize = sizeof info;
  if (!GetMonitorInfoA(monitor, &info)) {
    REPORT_SYSTEM_ERROR(GetLastError(), "Could not get information for the specified monitor.");
    return nullptr;
  }
  HDC dc = CreateDCA("DISPLAY", info.szDevice, nullptr, nullptr);
  if (dc == nullptr) {
    REPORT_SYSTEM_ERROR(GetLastError(), "Could not get a device context for the specified monitor.");
    return nullptr;
  }
  cmsHPROFILE profile = nullptr;
  const std::string name = MonitorProfileFileName(dc);
  if (!name.empty()) {
    profile = cmsOpenProfileFromFileTHR(GetColorContext(), name.c_str(), "r");
    if (profile == nullptr) REPORT_SYSTEM_ERROR(GetLastError(), "Could not open monitor color profile.");
  }
  DeleteDC(dc);
  // A display profile must take RGB pixels; anything else would make every
  // preview transform fail.
  if (profile != nullptr && cmsGetColorSpace(profile) != cmsSigRgbData) {
    REPORT_DEBUG("The monitor color profile \"%s\" is not an RGB profile.", name.c_str());
    cmsCloseProfile(profile);
    profile = nullptr;
  }
  return profile;
}

}  // namespace

cmsHPROFILE GetDisplayProfile(WindowHandle window) {
  std::lock_guard<std::mutex> lock(g_displayLock);
  HMONITOR monitor = MonitorFromWindow(static_cast<HWND>(window), MONITOR_DEFAULTTONEAREST);
  if (monitor == nullptr) {
    REPORT_SYSTEM_ERROR(GetLastError(), "Could not get a handle for the current monitor.");
    return GetStandardProfile();
  }
  int freeEntry = -1;
  for (int i = 0; i < DISPLAY_PROFILE_CACHE_CAPACITY; ++i) {
    if (g_displayProfiles[i].monitor == monitor) {
      return g_displayProfiles[i].profile != nullptr ? g_displayProfiles[i].profile : GetStandardProfile();
    }
    if (g_displayProfiles[i].monitor == nullptr && freeEntry < 0) freeEntry = i;
  }

  cmsHPROFILE profile = OpenMonitorProfile(monitor);
  if (profile == nullptr) REPORT_DEBUG("Could not get a display color profile for the current monitor.");
  if (freeEntry < 0) {
    if (profile != nullptr) {
      REPORT_DEBUG("The display profile cache is full.");
      cmsCloseProfile(profile);
    }
    return GetStandardProfile();
  }
  // A monitor without a profile is remembered too, so that the preview does
  // not retry and report on every frame.
  g_displayProfiles[freeEntry] = DisplayProfileEntry{monitor, profile};
  return profile != nullptr ? profile : GetStandardProfile();
}

void ReleaseDisplayProfiles() {
  std::lock_guard<std::mutex> lock(g_displayLock);
  for (DisplayProfileEntry& entry : g_displayProfiles) {
    if (entry.profile != nullptr) cmsCloseProfile(entry.profile);
    entry = DisplayProfileEntry{};
  }
}
