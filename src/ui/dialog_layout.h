#pragma once
// The main dialog's controls and how they follow its size (Windows): a
// table of every child with its initial geometry and layout rule, applied in
// one deferred batch on each size change; the minimum size; and where the
// dialog opens.
#include "image/image.h"
#include "runtime/report.h"

// Records the dialog's size and every child control (at most 100).
bool InitializeDialogItems(WindowHandle dialog);
// Moves the controls for the dialog's current size.
void RepositionDialogItems(WindowHandle dialog);
// The dialog's initial window size (0 before InitializeDialogItems).
void InitialDialogSize(int32_t* width, int32_t* height);
// The proxy's current window rectangle in dialog client coordinates.
ImageRect GetProxyFrameRect();
// Moves the dialog to a saved rectangle kept on a monitor.
void PlaceDialog(WindowHandle dialog, const ImageRect& saved);
void DeleteDialogItems();
