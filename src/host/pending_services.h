#pragma once
// Services the selector lifecycle calls whose real implementations arrive
// with later subsystems (display adapter, dialogs and presets, stored
// settings, scripting, colour management, image transfer, light source
// analysis, effect drawing). Each stand-in
// succeeds and does nothing, so that the lifecycle around it is complete and
// testable now. Replace one function at a time; delete this file when empty.
#include <cstdint>

#include "host/host_image.h"
#include "params/parameter_set.h"

// InitializePlugin / ShutdownPlugin.
void IdentifyPrimaryDisplayAdapter();
void RemoveDialogMessageHook();

// Parameters and Prepare.
void LoadDialogLibraries();
void InitializePresetsMenu();
void LoadSplashBitmap();

// Start and Finish.
int16_t ReadRegistryParameters(ParameterSet* set);  // 0, -30900 (nothing stored) or -30905 (other version)
bool LoadLastSavedParameters(ParameterSet* set);
void WriteRegistryParameters(const ParameterSet* set);
void SaveLastSavedParameters(const ParameterSet* set);
bool ReadScriptingParameters(ParameterSet* set, bool* showDialog);  // false: no working copy
void WriteScriptingParameters(const ParameterSet* set);
bool SetupColorProfiles();
void ReleaseColorProfiles();
EditorProfileInfo GetEditorProfileInfo();
bool RunMainDialog();  // true for OK
void InitializeEffectTablesWithoutPreview();
void ReleaseEffectShapeCaches();
bool RenderEffectsIntoImage(int threadCount);  // false with the status already stored
