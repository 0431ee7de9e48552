#pragma once
// Host progress: work units reported by any thread, reduced to at most 100
// ticks per operation and shown through the host's progress and abort
// procedures, which only the UI thread calls. Workers' updates travel to the
// UI thread through the UI call queue and run while it waits for them.
#include <cstdint>

#include "runtime/status.h"

// The host's side, supplied by the host layer (fakes in tests). Each may be
// null. `progress` shows done of total; `abortRequested` asks the host
// whether the user cancelled; `storeStatus` records a status for the
// current operation (first failure wins).
struct ProgressHostProcs {
  void (*progress)(int32_t done, int32_t total);
  bool (*abortRequested)();
  void (*storeStatus)(int16_t status);
};

constexpr int32_t MAX_PROGRESS_TICKS = 100;

// On the UI thread, once per plug-in initialisation: creates
// 'ProgressComputationSection' and records the calling thread as the UI
// thread.
bool InitializeImageEditorProgressBar(const ProgressHostProcs& procs);
void ShutdownImageEditorProgress();

// Starts an operation of `total` work units and shows 0 of it.
void StartImageEditorProgress(int32_t total);
// Adds finished work units; any thread. False when an update could not be
// queued for the UI thread.
bool AdvanceImageEditorProgress(int32_t units);
// Shows done of total through the host; true to go on, false when the host
// asks to abort or the caller is not the UI thread.
bool DisplayImageEditorProgressBar(int32_t done, int32_t total);
