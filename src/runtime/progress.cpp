#include "runtime/progress.h"

#include <mutex>

#include "platform/platform.h"
#include "runtime/report.h"
#include "runtime/status.h"
#include "runtime/ui_call_queue.h"

namespace {
struct ProgressState {
  bool sectionExists = false;  // 'ProgressComputationSection' is live
  ProgressHostProcs procs{nullptr, nullptr, nullptr};
  uint32_t uiThreadId = 0;
  bool routeThroughQueue = false;
  int32_t totalTicks = 0;
  int32_t unitsPerTick = 1;
  int32_t ticksDone = 0;
  int32_t unitsPending = 0;
};

// The lock outlives every initialisation so that a worker still reporting
// after a shutdown meets a closed section, not a destroyed one.
std::mutex g_progressSection;
ProgressState g_progress;

ProgressHostProcs CurrentProcs() {
  std::lock_guard<std::mutex> lock(g_progressSection);
  return g_progress.procs;
}

void StoreStatus(int16_t status) {
  const ProgressHostProcs procs = CurrentProcs();
  if (procs.storeStatus != nullptr) procs.storeStatus(status);
}

// Runs on the UI thread from the call queue.
void ShowQueuedProgress(int32_t ticks, int32_t totalTicks) {
  if (!DisplayImageEditorProgressBar(ticks, totalTicks)) StoreStatus(STATUS_USER_CANCELLED);
}
}  // namespace

bool InitializeImageEditorProgressBar(const ProgressHostProcs& procs) {
  std::lock_guard<std::mutex> lock(g_progressSection);
  g_progress = ProgressState{};
  g_progress.sectionExists = true;
  g_progress.procs = procs;
  g_progress.uiThreadId = PlatformCurrentThreadId();
  return true;
}

void ShutdownImageEditorProgress() {
  {
    std::lock_guard<std::mutex> lock(g_progressSection);
    g_progress = ProgressState{};
  }
  // Updates still waiting belong to an operation that is over.
  DiscardQueuedUICalls();
}

void StartImageEditorProgress(int32_t total) {
  int32_t totalTicks = 0;
  {
    std::lock_guard<std::mutex> lock(g_progressSection);
    if (!g_progress.sectionExists) return;
    g_progress.routeThroughQueue = true;
    g_progress.ticksDone = 0;
    g_progress.unitsPending = 0;
    if (total > MAX_PROGRESS_TICKS) {
      g_progress.unitsPerTick = total / MAX_PROGRESS_TICKS;
      g_progress.totalTicks = MAX_PROGRESS_TICKS;
    } else {
      g_progress.unitsPerTick = 1;
      g_progress.totalTicks = total > 0 ? total : 0;
    }
    totalTicks = g_progress.totalTicks;
  }
  if (!DisplayImageEditorProgressBar(0, totalTicks)) StoreStatus(STATUS_USER_CANCELLED);
}

bool AdvanceImageEditorProgress(int32_t units) {
  int32_t ticks = 0;
  int32_t totalTicks = 0;
  bool queue = false;
  bool queued = false;
  {
    std::lock_guard<std::mutex> lock(g_progressSection);
    if (!g_progress.sectionExists || units <= 0 || g_progress.ticksDone >= g_progress.totalTicks) return true;
    g_progress.unitsPending += units;
    const int32_t before = g_progress.ticksDone;
    while (g_progress.unitsPending >= g_progress.unitsPerTick) {
      g_progress.unitsPending -= g_progress.unitsPerTick;
      ++g_progress.ticksDone;
    }
    // A total that does not divide by 100 leaves extra units: the bar stays
    // full rather than running past its end.
    if (g_progress.ticksDone > g_progress.totalTicks) g_progress.ticksDone = g_progress.totalTicks;
    if (g_progress.ticksDone == before) return true;
    ticks = g_progress.ticksDone;
    totalTicks = g_progress.totalTicks;
    // Only the UI thread may call the host; anyone else goes through the queue.
    queue = g_progress.routeThroughQueue || PlatformCurrentThreadId() != g_progress.uiThreadId;
    // Queued under the section so that updates reach the host in order.
    if (queue) queued = QueueUICall([ticks, totalTicks] { ShowQueuedProgress(ticks, totalTicks); });
  }
  if (!queue) {
    if (!DisplayImageEditorProgressBar(ticks, totalTicks)) StoreStatus(STATUS_USER_CANCELLED);
    return true;
  }
  if (!queued) {
    REPORT_DEBUG("AdvanceImageEditorProgress() - Could not queue progress bar update to APC queue.");
    return false;
  }
  return true;
}

bool DisplayImageEditorProgressBar(int32_t done, int32_t total) {
  ProgressHostProcs procs;
  {
    std::lock_guard<std::mutex> lock(g_progressSection);
    if (!g_progress.sectionExists) {
      REPORT_DEBUG("DisplayImageEditorProgressBar() - Host progress has not been initialized.");
      return false;
    }
    if (PlatformCurrentThreadId() != g_progress.uiThreadId) {
      REPORT_DEBUG("DisplayImageEditorProgressBar() - Function was not called from UI thread.");
      return false;
    }
    procs = g_progress.procs;
  }
  // A host may divide by the total: show nothing for an empty operation.
  if (procs.progress != nullptr && total > 0) procs.progress(done < 0 ? 0 : (done > total ? total : done), total);
  return procs.abortRequested == nullptr || !procs.abortRequested();
}
