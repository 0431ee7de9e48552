#include "host/pending_services.h"

#include "host/plugin_globals.h"
#include "runtime/report.h"

void IdentifyPrimaryDisplayAdapter() {}
void RemoveDialogMessageHook() {}

void LoadDialogLibraries() {}
void InitializePresetsMenu() {}
void LoadSplashBitmap() {}

int16_t ReadRegistryParameters(ParameterSet*) { return errPlugInHostInsufficient; }
bool LoadLastSavedParameters(ParameterSet*) { return false; }
void WriteRegistryParameters(const ParameterSet*) {}
void SaveLastSavedParameters(const ParameterSet*) {}
bool ReadScriptingParameters(ParameterSet*, bool*) { return true; }
void WriteScriptingParameters(const ParameterSet*) {}
bool SetupColorProfiles() { return true; }
void ReleaseColorProfiles() {}
EditorProfileInfo GetEditorProfileInfo() {
  // Without colour management every document counts as gamma 2.2 and its
  // profile as matching its mode, so no grayscale warning is shown.
  return EditorProfileInfo{nullptr, 2.2, true};
}

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
