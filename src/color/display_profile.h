#pragma once
// The colour profile of the monitor that shows the preview.
//
// On Windows each monitor's ICC profile is opened on first use and kept in a
// cache of DISPLAY_PROFILE_CACHE_CAPACITY entries until
// ReleaseColorManagement; the native build has no monitors and always answers
// with the standard profile. Any failure is reported ("Could not get a display
// color profile for the current monitor.") and the standard profile is used,
// so the preview never stops for want of a display profile.
//
// The returned profile belongs to colour management. Threads: any (the cache
// has its own lock), between InitializeColorManagement and
// ReleaseColorManagement.
#include <lcms2.h>

#include "runtime/report.h"  // WindowHandle

constexpr int DISPLAY_PROFILE_CACHE_CAPACITY = 16;

// The profile of the monitor nearest to `window` (the proxy window).
cmsHPROFILE GetDisplayProfile(WindowHandle window);

// Closes every cached display profile (part of ReleaseColorManagement).
void ReleaseDisplayProfiles();
