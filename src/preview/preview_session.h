#pragma once
// What the preview shows and how it learns of it: the current Parameter Set
// and view, the host image and its levels, the light source table, and
// whether the analysis has finished. The background task reaches it through
// the product callback installed here.
//
// Threads: the UI thread writes the set and the view; the task reads them
// only through the callback, which the UI thread calls for each request
// (requests are made on the UI thread), so no lock is needed for them. The
// analysis publishes its progress through the two atomics.
#include <atomic>
#include <cstdint>

#include "analysis/light_source.h"
#include "host/host_image.h"
#include "image/image.h"
#include "params/parameter_set.h"
#include "params/rendering_parameters.h"
#include "runtime/report.h"

struct PreviewSession {
  ParameterSet parameters;  // the current Parameter Set
  RenderingView view;       // zoom, scroll, view rectangle, effects shown
  HostProxyImage* proxy;
  const Image* hostImage;
  const LightSourceList* table;
  bool gray;
  const std::atomic<bool>* analysisComplete;  // the table is built
  const std::atomic<uint32_t>* rowsAnalysed;  // may be null
  uint32_t rowsTotal;
  WindowHandle dialog;  // receives the progress of the analysis
  // Posts a message to the dialog (any thread); may be null.
  void (*postToDialog)(WindowHandle dialog, uint32_t message, uintptr_t first, intptr_t second);
  // Shows the splash screen, on the task's thread while it starts; may be null.
  void (*drawSplash)(void* context);
  void* splashContext;
};

// Installs the session (null: none) and the product callback that serves it.
void SetPreviewSession(PreviewSession* session);
PreviewSession* CurrentPreviewSession();

// The product callback of this filter (see preview/background_task.h).
intptr_t PreviewProductCallback(int32_t operation, void* record);
