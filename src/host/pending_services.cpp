#include "host/pending_services.h"

#include "host/plugin_globals.h"
#include "runtime/report.h"

void IdentifyPrimaryDisplayAdapter() {}
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

void InitializeEffectTablesWithoutPreview() {}
void ReleaseEffectShapeCaches() {}

bool RenderEffectsIntoImage(int threadCount) {
  REPORT_TRACE("Not yet rendering effects (%d worker threads would be used).", threadCount);
  return true;
}
