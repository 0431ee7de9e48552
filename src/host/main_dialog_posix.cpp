#include "host/main_dialog.h"

#include "runtime/report.h"

bool RunMainDialog(FilterRun* /*run*/) {
  // No windows here: a Start that asks for the dialog renders with the
  // current settings, and says so in the log.
  REPORT_TRACE("No dialog in this build: rendering with the current settings.");
  return true;
}

void LoadDialogLibraries() {}
void RemoveDialogMessageHook() {}

// Without windows the About selector has nothing to show; it succeeds.
void RunAboutBox(WindowHandle /*owner*/) { REPORT_TRACE("No about box in this build."); }

// The native preview paints its own splash picture and has no menus.
void InitializePresetMenu() {}
void LoadSplashBitmap() {}
