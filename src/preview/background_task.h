#pragma once
// The preview's background task: one thread that owns the preview's
// rendering context and draws every frame, so that the dialog stays
// responsive. Every change that needs a new picture becomes a request
// carrying a fresh copy of the current settings and the region to redraw;
// requests go through a one-slot queue in which a newer one replaces the
// pending one and inherits its region. Until the light source analysis has
// finished and the dialog is up, the task shows the splash screen and the
// analysis' progress through the product callback; then it queues one full
// pass and serves requests until it is told to stop.
//
// The task is generic: what it draws and how it reaches the windows come
// from a BackgroundTaskHost (the window system and the render pass) and the
// product callback, so that the queue and the state machine run natively
// with a fake render pass as they do on Windows.
//
// Threads: the UI thread creates and destroys the task and is the only one
// that makes requests; any thread may ask for a redraw (UpdateProxyDisplay
// posts to the proxy window off the UI thread). Waits on the task side can
// always be ended by the terminate signal, so that no failure of the dialog
// leaves the task waiting for ever.
#include <atomic>
#include <cstdint>

#include "image/image.h"
#include "params/rendering_parameters.h"
#include "preview/proxy_region.h"
#include "runtime/report.h"

// Private window messages of the preview.
enum : uint32_t {
  PROXY_UPDATE_CURSOR = 0x8001,
  PARAMETER_VALUE_CHANGED = 0x8002,
  PARAMETER_SET_CHANGED = 0x8003,
  SET_PROXY_PROGRESS_BAR = 0x8004,
  READY_FOR_PROXY_OPERATIONS = 0x8005,
  UPDATE_PROXY_DISPLAY = 0x8006,
  REFRESH_PROXY_DISPLAY = 0x8007,
  BACKGROUND_BUSY = 0x8008,
};

// UpdateProxyDisplay's flags: one group per drawing target.
enum : uint32_t {
  PROXY_UPDATE_RENDER_BITMAP = 0x001,
  PROXY_UPDATE_RENDER_SCREEN = 0x002,
  PROXY_UPDATE_INVALIDATE_BITMAP = 0x010,
  PROXY_UPDATE_INVALIDATE_SCREEN = 0x020,
  PROXY_UPDATE_REDRAW_BITMAP = 0x100,
  PROXY_UPDATE_REDRAW_SCREEN = 0x200,
};

enum InitializationStateValue : int32_t {
  INITSTATE_START = 0,
  INITSTATE_WAIT = 1,
  INITSTATE_PARAMETERS_RECEIVED = 2,
  INITSTATE_BACKGROUND_INIT_COMPLETE = 3,
  INITSTATE_COMPLETE = 4,
  INITSTATE_TERMINATE = 5,
};

struct InitializationState {
  int32_t state;
  uint32_t* waitInterval;  // milliseconds between steps; the step may change it
  uint8_t ready;           // set by the step once the analysis has finished
  WindowHandle proxyWindow;
};

// The product callback's operations and their records.
enum ProductOperation : int32_t {
  PRODUCT_WAIT_FOR_INITIALIZATION = 0,    // InitializationState*; non-zero: success
  PRODUCT_TRACE_RENDERING_PARAMETERS = 1, // RenderingParametersTrace*; always 1
  PRODUCT_CURRENT_PARAMETER_SET = 2,      // none; a new RenderingParameters* (or 0)
};
struct RenderingParametersTrace {
  const char* message;
  const RenderingParameters* parameters;
};
using ProductCallback = intptr_t (*)(int32_t operation, void* record);
void SetProductCallback(ProductCallback callback);

// One queued request, owned by whoever holds it.
struct ParameterDataBlock {
  RenderingParameters* parameters;
  RegionHandle region;
};

// The abort flags: set and cleared together, each polled by one kind of
// long-running loop that a pass or the analysis may be in.
enum BackgroundAbortFlag : int32_t {
  ABORT_BACKGROUND_TASK = 0,
  ABORT_LIGHT_SOURCE_EXTRACTION = 1,
  ABORT_EFFECTS_RENDERING = 2,
  ABORT_SCALED_PROXY = 3,
  ABORT_COMPOSITE = 4,
  ABORT_FLAG_COUNT = 5,
};
const std::atomic<bool>* BackgroundAbortFlagOf(BackgroundAbortFlag which);

// What the task needs from around it. The three drawing routines run on the
// task thread; the window routines on the UI thread except postMessage.
struct BackgroundTaskHost {
  void* context;
  // The rendering context, drawing settings and proxy layers; false when
  // any is missing (what was made is released by releaseDrawing).
  bool (*createDrawing)(void* context);
  void (*releaseDrawing)(void* context);
  // One pass for the request; false when it failed or was aborted.
  bool (*renderPass)(void* context, const RenderingParameters* parameters, RegionHandle region);
  // Any thread. Ownership of a region in `first` goes with the message.
  void (*postMessage)(void* context, WindowHandle window, uint32_t message, uintptr_t first, intptr_t second);
  // UI thread (and the task during initialisation, as Windows allows).
  void (*validateWindow)(void* context, WindowHandle window);
  void (*redrawWindow)(void* context, WindowHandle window, RegionHandle region, bool invalidate);
  ImageRect (*clientRect)(void* context, WindowHandle window);
  bool offscreenBitmap;  // drawing target: the off-screen bitmap, else the screen
  // Where a failure of the task is stored for the dialog (-50); may be null.
  std::atomic<int16_t>* resultCode;
  // Whether the dialog has already ended (then the task leaves the code alone).
  bool (*dialogEnded)(void* context);
};

// UI thread, while the proxy window is created. `dialog` receives the
// task's notifications. False (reported, result code -50) when the task
// could not be started; DestroyBackgroundTask is still called.
bool CreateBackgroundTask(WindowHandle proxyWindow, WindowHandle dialog, const BackgroundTaskHost& host);
// UI thread, while the proxy window goes away: ends the task (waiting up to
// `timeoutMs`) and releases everything. A task that does not end in time is
// reported and left to finish on its own with what it still uses; nothing
// else is released under it.
void DestroyBackgroundTask(uint32_t timeoutMs = 10000);
// Stops the current pass and the task (the dialog is going).
void AbortBackgroundRendering();

// The dialog's side of the start: the end of its initialisation (until then
// the task does not start), and the moment its preview tools are ready.
void ReleaseMainDialogInitialization();
void SignalRenderingStarted();

// UI thread only. Takes ownership of the region in every case; true when a
// request was queued.
bool NewBackgroundTaskParameters(RegionHandle region);
// Any thread: the front door for redraws and new passes.
void UpdateProxyDisplay(RegionHandle region, uint32_t flags);
// Discards every pending request, tracing `message` for each.
void FlushParameterSets(const char* message);

void SetSizeMoveInProgress(bool inProgress);
bool SizeMoveInProgress();
void BeginProxyResize();
void EndProxyResize();
// False when the task is being stopped (the lock is then not held).
bool AcquireResizeLock();
void ReleaseResizeLock();
// Counts passes in progress; the dialog hears when the task becomes busy or
// idle. Answers whether any pass is still running.
bool SetBackgroundBusy(bool busy);

// Whether a task exists and has not been told to stop; whether its thread
// has come to its end (or there is none).
bool BackgroundTaskRunning();
bool BackgroundTaskFinished();
