#pragma once
// The preview's controls in the main dialog (Windows): the four tools and
// their mouse states, the rubber band, the cursors and the keyboard hook;
// the view (zoom and scroll) with its buttons, field, menu, scroll bars,
// keys and wheel. Every change ends in a new request to the background
// task. UI thread only.
#include <cstdint>

#include "analysis/light_source_table.h"
#include "preview/preview_session.h"
#include "preview/proxy_view.h"
#include "runtime/report.h"

// The dialog's side, installed once the dialog and its proxy exist: the
// session and the table the Hide and Show tools edit. `tool` is the saved
// tool (Hide and Show start as Zoom until the analysis is ready).
void SetupProxyTools(WindowHandle dialog, WindowHandle proxy, PreviewSession* session,
                     MasterLightSourceTable* table, int32_t tool);
// Removes the hook and forgets the windows (the dialog is going).
void ShutdownProxyTools();

void SelectProxyTool(int32_t tool);
int32_t SelectedProxyTool();
// The analysis is done: Hide and Show become usable, the saved tool returns.
void EnableEffectTools();

// The view as it stands, and the operations of the zoom controls and
// menus. Each requests a full new frame.
const ProxyViewState& ProxyView();
void SetProxyZoom(double zoom, double x = -1, double y = -1);
void ZoomProxyIn(int count);
void ZoomProxyOut(int count);
void FitProxyInView();
void FitProxyOnScreen();
// The zoom at which the dialog opens: fit in view, or 100 % when that lies
// strictly between 100 and 150 percent.
void SetOpeningZoom();
// After the dialog changed size: the view re-centred at its zoom.
void ProxyResized();
// A zoom menu or zoom control command; false when not one of them.
bool ProxyZoomCommand(uint32_t command);
// The zoom menu under the zoom field or the zoom menu button.
void OpenZoomMenuFrom(int32_t controlId);
// WM_HSCROLL / WM_VSCROLL from the proxy's bars (`track`: the 32-bit
// track position read from the bar).
void ProxyScrollMessage(bool vertical, int32_t code);
// The mouse returns to idle (the application lost the activation).
void ResetProxyMouseState();
// The current settings changed: a full new frame with them.
void RequestFullProxyUpdate();

// The proxy window's own messages that the tools serve: true with *result
// when handled.
bool ProxyToolsMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam, intptr_t* result);
