#pragma once
// The preview's window: a child window that owns the background task for
// its life, hands redraw requests to it and paints the last finished frame.
// Windows only (the native build has no windows; its tests drive the task
// and the frame directly).
#include <atomic>
#include <cstdint>
#include <vector>

#include "image/image.h"
#include "preview/preview_session.h"
#include "runtime/report.h"

// The window class "ProxyDisplay" that the main dialog's template names;
// false after a report. Registering twice is harmless.
bool CreateProxyDisplayClass();
void DeleteProxyDisplayClass();
// What the next window of the class shows, where a failure of its task is
// stored (may be null), and whether the dialog has ended (may be null; a
// pass that fails after the dialog ended is no failure of the run): set
// before the dialog makes the window.
void PrepareProxyDisplay(PreviewSession* session, std::atomic<int16_t>* resultCode,
                         const std::atomic<bool>* dialogEnded = nullptr);

// Creates the window over `rect` of `parent` (the dialog) showing `session`;
// the task starts with it. Null after a report. A failure of the task later
// stores -50 in *resultCode (may be null).
WindowHandle CreateProxyWindow(WindowHandle parent, const ImageRect& rect, PreviewSession* session,
                               std::atomic<int16_t>* resultCode);

// The last frame shown: 32-bit blue-green-red-alpha rows, bottom row first,
// as the window paints them. False before the first frame.
bool CopyShownProxyFrame(std::vector<uint8_t>* pixels, int32_t* width, int32_t* height);
// Frames finished since the window was made.
uint32_t ProxyFramesShown();
