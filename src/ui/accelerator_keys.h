#pragma once
// Keyboard accelerators of the dialogs: a registry from a dialog to its
// accelerator table, applied by one message hook of the UI thread to the
// keys that reach a dialog's modal loop. Windows only.
#include "runtime/report.h"

// Installs the hook on first use; false after a report.
bool InitializeAcceleratorKeys();
// Registering a window again replaces its table and flag.
bool RegisterAcceleratorTable(WindowHandle window, void* table, bool enabled);
void EnableAcceleratorKeys(WindowHandle window, bool enabled);
void UnregisterAcceleratorTable(WindowHandle window);
