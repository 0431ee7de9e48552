// The native build has no monitors of its own: the preview is shown in the
// standard profile.
#include "color/color_management.h"
#include "color/display_profile.h"

cmsHPROFILE GetDisplayProfile(WindowHandle) { return GetStandardProfile(); }

void ReleaseDisplayProfiles() {}
