#pragma once
// A popup menu of the dialogs run to its choice (Windows): the owner is put
// in front first and given a null message after, so that the menu closes
// as it should; a failure is reported.
#include <cstdint>

#include "runtime/report.h"

// The command chosen from `popup` (an HMENU) shown at (x, y) with `flags`
// (alignment, buttons), or 0 when none was.
uint32_t TrackMenuChoice(void* popup, int32_t x, int32_t y, uint32_t flags, WindowHandle owner);
