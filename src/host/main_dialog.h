#pragma once
// The main dialog as the selectors see it. The Windows shell provides it;
// the native build has no windows and answers without one.
#include "host/filter_run.h"
#include "runtime/report.h"

// Runs the dialog modally over the host's window, showing `run`'s image
// with a live preview while its analysis goes on. True for OK, with the
// chosen settings made current (the table's hidden and shown light sources
// stay as the user left them); false for Cancel or a failure (the status
// says which).
bool RunMainDialog(FilterRun* run);

// The rich edit and common controls the dialogs use, loaded before one is
// made (Parameters, Prepare, About).
void LoadDialogLibraries();

// The about box over `owner` (the host's window, or the active window when
// that is gone). About selector.
void RunAboutBox(WindowHandle owner);

// What the dialogs load from the module before one opens (Parameters and
// Prepare): the presets menu and the splash picture the preview shows while
// the analysis runs. Each is loaded once per module.
void InitializePresetMenu();
void LoadSplashBitmap();

// The dialog's message hook, removed whatever way a run ended: a hook left
// behind after the module is unloaded would crash the host.
void RemoveDialogMessageHook();
