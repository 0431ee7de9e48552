#include "host/pending_services.h"

#include "host/plugin_globals.h"
#include "runtime/report.h"

void RemoveDialogMessageHook() {}

void LoadDialogLibraries() {}
void InitializePresetsMenu() {}
void LoadSplashBitmap() {}


bool RunMainDialog() {
  // Until the dialog exists every build renders with the current settings,
  // as the native build always will.
  REPORT_TRACE("No dialog in this build: rendering with the current settings.");
  return true;
}

