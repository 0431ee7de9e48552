#pragma once
// Services the selector lifecycle calls whose real implementations arrive
// with later subsystems (display adapter, dialogs and presets menu). Each stand-in
// succeeds and does nothing, so that the lifecycle around it is complete and
// testable now. Replace one function at a time; delete this file when empty.
#include <cstdint>

#include "params/parameter_set.h"

// Parameters and Prepare.
void InitializePresetsMenu();
void LoadSplashBitmap();
