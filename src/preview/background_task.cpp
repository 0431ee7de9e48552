#include "preview/background_task.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "runtime/report.h"

namespace {

constexpr const char* CAPTION_DASHED = "Debug - Unexpected Error";

// The task's events and its two waitable locks under one monitor, so that
// every wait of the task can also end on the terminate signal.
class TaskSignals {
 public:
  enum : uint32_t {
    TERMINATE = 1,      // manual reset, never reset once set
    PARAMETERS = 2,     // auto reset: consumed by the wait that sees it
    STARTED = 4,        // manual reset: the dialog's preview tools are ready
    SIZE_CHANGED = 8,   // manual reset; nobody waits on it
  };

  void Set(uint32_t signals) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      set_ |= signals;
    }
    changed_.notify_all();
  }
  void Reset(uint32_t signals) {
    std::lock_guard<std::mutex> lock(mutex_);
    set_ &= ~(signals & ~TERMINATE);
  }
  bool IsSet(uint32_t signal) {
    std::lock_guard<std::mutex> lock(mutex_);
    return (set_ & signal) != 0;
  }
  // The first of TERMINATE, PARAMETERS, STARTED in `mask` that is set, after
  // waiting up to `timeoutMs` (negative: without limit); 0 on time-out.
  uint32_t WaitAny(uint32_t mask, int64_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto ready = [&] { return (set_ & mask) != 0; };
    if (timeoutMs < 0) {
      changed_.wait(lock, ready);
    } else if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
      return 0;
    }
    for (uint32_t signal : {TERMINATE, PARAMETERS, STARTED}) {
      if ((set_ & mask & signal) == 0) continue;
      if (signal == PARAMETERS) set_ &= ~PARAMETERS;
      return signal;
    }
    return 0;
  }
  // The size lock: waits until it is free or the task is told to stop.
  bool AcquireResize() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return !resizeHeld_ || (set_ & TERMINATE) != 0; });
    if (resizeHeld_) return false;
    resizeHeld_ = true;
    return true;
  }
  bool ReleaseResize() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!resizeHeld_) return false;
      resizeHeld_ = false;
    }
    changed_.notify_all();
    return true;
  }
  // The dialog's initialisation: the task waits for its end or the stop.
  bool WaitForDialog() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return dialogInitialized_ || (set_ & TERMINATE) != 0; });
    return dialogInitialized_;
  }
  void DialogInitialized() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      dialogInitialized_ = true;
    }
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  uint32_t set_ = 0;
  bool resizeHeld_ = false;
  bool dialogInitialized_ = false;
};

struct TaskState {
  TaskSignals signals;
  std::mutex pendingMutex;  // the slot and the size/move flag
  ParameterDataBlock* pending = nullptr;
  std::atomic<bool> sizeMove{false};
  std::mutex busyLock;
  int32_t busy = 0;
  BackgroundTaskHost host{};
  WindowHandle proxyWindow = nullptr;
  WindowHandle dialog = nullptr;
  std::thread::id uiThread;
  std::thread thread;
  std::mutex endLock;
  std::condition_variable ended;
  bool finished = false;
};

std::atomic<bool> g_abort[ABORT_FLAG_COUNT];
std::atomic<ProductCallback> g_productCallback{nullptr};
std::mutex g_taskLock;
std::shared_ptr<TaskState> g_task;

std::shared_ptr<TaskState> CurrentTask() {
  std::lock_guard<std::mutex> lock(g_taskLock);
  return g_task;
}

void SetAbortFlags(bool value) {
  for (std::atomic<bool>& flag : g_abort) flag.store(value);
}

void ReportDashed(const char* text) {
  DebugMessage message = MakeDebugMessage(__LINE__, DEBUG_MESSAGE);
  ReportMessage(&message, STYLE_ERROR, CAPTION_DASHED, "%s", text);
}

void Trace(const char* message, const RenderingParameters* parameters) {
  ProductCallback callback = g_productCallback.load();
  if (callback == nullptr) return;
  RenderingParametersTrace trace{message, parameters};
  callback(PRODUCT_TRACE_RENDERING_PARAMETERS, &trace);
}

void FreeBlock(ParameterDataBlock* block) {
  if (block == nullptr) return;
  FreeRenderingParameters(block->parameters);
  DeleteRegion(block->region);
  delete block;
}

// Takes the pending block out of the slot and clears the abort flags.
ParameterDataBlock* TakePendingParameterSet(TaskState* task) {
  std::lock_guard<std::mutex> lock(task->pendingMutex);
  ParameterDataBlock* block = task->pending;
  task->pending = nullptr;
  SetAbortFlags(false);
  return block;
}

void Flush(TaskState* task, const char* message) {
  const char* text = message != nullptr && message[0] != '\0' ? message : "FlushParameterSets() - Removed Parameter Set";
  while (ParameterDataBlock* block = TakePendingParameterSet(task)) {
    Trace(text, block->parameters);
    FreeBlock(block);
  }
}

bool OnUIThread(const TaskState& task) { return std::this_thread::get_id() == task.uiThread; }

RegionHandle ClientRegion(const TaskState& task) {
  const ImageRect client = task.host.clientRect != nullptr ? task.host.clientRect(task.host.context, task.proxyWindow)
                                                           : ImageRect{0, 0, 0, 0};
  return CreateRectRegion(client);
}

void Post(const TaskState& task, WindowHandle window, uint32_t message, uintptr_t first, intptr_t second) {
  if (task.host.postMessage != nullptr) {
    task.host.postMessage(task.host.context, window, message, first, second);
  } else if (message == UPDATE_PROXY_DISPLAY) {
    DeleteRegion(reinterpret_cast<RegionHandle>(first));
  }
}

void Validate(const TaskState& task) {
  if (task.host.validateWindow != nullptr) task.host.validateWindow(task.host.context, task.proxyWindow);
}

bool QueueParameterSet(TaskState* task, ParameterDataBlock* block) {
  if (block == nullptr) {
    REPORT_DEBUG("No rendering parameters provided.");
    return false;
  }
  std::unique_lock<std::mutex> lock(task->pendingMutex);
  if (task->pending != nullptr) {
    ParameterDataBlock* pending = task->pending;
    if (block->region == nullptr) {
      block->region = pending->region;  // the newer request inherits the region
      pending->region = nullptr;
    } else if (pending->region != nullptr && !UnionRegion(block->region, pending->region)) {
      ReportDashed("NewBackgroundTaskParameters() - Could not combine invalidation regions.");
      return false;
    }
    // The event is still set from the pending request, or the task already
    // woke for it and will find this block instead.
    task->pending = nullptr;
    SetAbortFlags(false);
    task->pending = block;
    lock.unlock();
    Trace("NewBackgroundTaskParameters() - Removed pending requests.", pending->parameters);
    FreeBlock(pending);
    return true;
  }
  task->pending = block;
  task->signals.Set(TaskSignals::PARAMETERS);
  return true;
}

// One step of the product's initialisation.
bool InitializationStep(InitializationState* state, int32_t value) {
  ProductCallback callback = g_productCallback.load();
  state->state = value;
  return callback != nullptr && callback(PRODUCT_WAIT_FOR_INITIALIZATION, state) != 0;
}

enum class Initialization { READY, TERMINATED, FAILED };

// Being told to stop while starting up is no failure: the dialog is going.
Initialization WaitForInitializationComplete(TaskState* task) {
  Validate(*task);
  uint32_t interval = 200;
  InitializationState state{INITSTATE_START, &interval, 0, task->proxyWindow};
  if (!InitializationStep(&state, INITSTATE_START)) {
    ReportDashed("WaitForInitializationComplete() - Product specific initialization could not be started.");
    return Initialization::FAILED;
  }
  bool ok = true;
  bool renderingStarted = false;
  bool complete = false;
  while (!complete) {
    if (!ok) return Initialization::FAILED;
    const uint32_t signal = task->signals.WaitAny(
        TaskSignals::TERMINATE | TaskSignals::PARAMETERS | TaskSignals::STARTED, *state.waitInterval);
    if (signal == TaskSignals::TERMINATE) {
      InitializationStep(&state, INITSTATE_TERMINATE);
      return Initialization::TERMINATED;
    }
    if (signal == TaskSignals::PARAMETERS) {
      if (!InitializationStep(&state, INITSTATE_PARAMETERS_RECEIVED)) {
        ReportDashed("WaitForInitializationComplete() - Product specific initialization failed in "
                     "INITSTATE_PARAMETERS_RECEIVED.");
        ok = false;
        continue;
      }
      // Requests made before the preview is ready are dropped: the first
      // full pass follows when it is.
      Flush(task, "WaitForInitializationComplete() - Parameters Available Event. ");
    } else if (signal == TaskSignals::STARTED) {
      if (!InitializationStep(&state, INITSTATE_BACKGROUND_INIT_COMPLETE)) {
        ReportDashed("WaitForInitializationComplete() - Product specific initialization failed in "
                     "INITSTATE_BACKGROUND_INIT_COMPLETE.");
        ok = false;
        continue;
      }
      Flush(task, "WaitForInitializationComplete() - Rendering started event. ");
      renderingStarted = true;
      // Not ready yet: the manual-reset signal would end every later wait.
      if (!state.ready) task->signals.Reset(TaskSignals::STARTED);
    } else {
      if (!InitializationStep(&state, INITSTATE_WAIT)) {
        ReportDashed("WaitForInitializationComplete() - Product specific initialization failed in INITSTATE_WAIT.");
        ok = false;
        continue;
      }
      Flush(task, "WaitForInitializationComplete() - Wait for timeout event. ");
    }
    if (state.ready && renderingStarted) {
      complete = true;
    } else {
      Validate(*task);
    }
  }
  InitializationStep(&state, INITSTATE_COMPLETE);
  RegionHandle region = ClientRegion(*task);
  if (region == nullptr) REPORT_DEBUG("Could not create InvalidationRegion for Proxy client rectangle.");
  // The task is never the UI thread: the first full pass goes through the
  // proxy window.
  Post(*task, task->proxyWindow, UPDATE_PROXY_DISPLAY, reinterpret_cast<uintptr_t>(region), 0x33);
  task->signals.Set(TaskSignals::STARTED);
  return Initialization::READY;
}

// False when the task is to end; *block may be null after a report.
bool WaitForParameters(TaskState* task, ParameterDataBlock** block) {
  *block = nullptr;
  const uint32_t signal = task->signals.WaitAny(TaskSignals::TERMINATE | TaskSignals::PARAMETERS, -1);
  if (signal != TaskSignals::PARAMETERS) return false;
  if (!task->signals.AcquireResize()) return false;
  *block = TakePendingParameterSet(task);
  if (*block != nullptr)
    Trace("WaitForParameters() - Parameter Set Processing started.", (*block)->parameters);
  else
    REPORT_DEBUG("Invalid Parameter Set received in WaitForParameters().");
  task->signals.ReleaseResize();
  return true;
}

void BackgroundTaskProc(std::shared_ptr<TaskState> task) {
  const BackgroundTaskHost& host = task->host;
  bool ok = host.createDrawing != nullptr && host.createDrawing(host.context);
  if (!ok) task->signals.Set(TaskSignals::TERMINATE);
  // The dialog's initialisation ends first; a dialog that fails before it
  // does is seen through the stop signal.
  if (ok && task->signals.WaitForDialog()) {
    const Initialization started = WaitForInitializationComplete(task.get());
    if (started == Initialization::READY) {
      Post(*task, task->dialog, READY_FOR_PROXY_OPERATIONS, 0, 0);
    } else {
      ok = started == Initialization::TERMINATED;
      task->signals.Set(TaskSignals::TERMINATE);
    }
  }
  ParameterDataBlock* block = nullptr;
  while (WaitForParameters(task.get(), &block)) {
    if (block == nullptr) {
      REPORT_DEBUG("Invalid parameter set was received.");
    } else {
      ok = host.renderPass != nullptr && host.renderPass(host.context, block->parameters, block->region);
      if (g_abort[ABORT_BACKGROUND_TASK].load())
        Trace("Background Task - Parameter Set Processing Aborted.", block->parameters);
      else if (!ok)
        Trace("Background Task - Parameter Set Processing Failed.", block->parameters);
      FreeBlock(block);
    }
    SetAbortFlags(false);
  }
  if (host.releaseDrawing != nullptr) host.releaseDrawing(host.context);
  if (!ok && (host.dialogEnded == nullptr || !host.dialogEnded(host.context))) {
    if (host.resultCode != nullptr) host.resultCode->store(-50);
    // The dialog looks at the result code when a message arrives: one that
    // says the task is idle makes it close now rather than at the next.
    Post(*task, task->dialog, BACKGROUND_BUSY, 0, 0);
  }
  {
    std::lock_guard<std::mutex> lock(task->endLock);
    task->finished = true;
  }
  task->ended.notify_all();
}

}  // namespace

void SetProductCallback(ProductCallback callback) { g_productCallback.store(callback); }

const std::atomic<bool>* BackgroundAbortFlagOf(BackgroundAbortFlag which) {
  return which >= 0 && which < ABORT_FLAG_COUNT ? &g_abort[which] : &g_abort[ABORT_BACKGROUND_TASK];
}

bool CreateBackgroundTask(WindowHandle proxyWindow, WindowHandle dialog, const BackgroundTaskHost& host) {
  DestroyBackgroundTask();
  std::shared_ptr<TaskState> task;
  try {
    task = std::make_shared<TaskState>();
  } catch (...) {
    REPORT_DEBUG("Could not create ParametersAvailableEvent.");
    if (host.resultCode != nullptr) host.resultCode->store(-50);
    return false;
  }
  task->host = host;
  task->proxyWindow = proxyWindow;
  task->dialog = dialog;
  task->uiThread = std::this_thread::get_id();
  SetAbortFlags(false);
  {
    std::lock_guard<std::mutex> lock(g_taskLock);
    g_task = task;
  }
  try {
    task->thread = std::thread(BackgroundTaskProc, task);
  } catch (const std::exception& e) {
    REPORT_DEBUG("Could not start Proxy Background Task thread : %s.", e.what());
    if (host.resultCode != nullptr) host.resultCode->store(-50);
    return false;
  }
  return true;
}

void DestroyBackgroundTask(uint32_t timeoutMs) {
  std::shared_ptr<TaskState> task;
  {
    std::lock_guard<std::mutex> lock(g_taskLock);
    task.swap(g_task);
  }
  if (task == nullptr) return;
  if (task->thread.joinable()) {
    SetAbortFlags(true);
    task->signals.Set(TaskSignals::TERMINATE);
    std::unique_lock<std::mutex> lock(task->endLock);
    const bool ended =
        task->ended.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return task->finished; });
    lock.unlock();
    if (ended) {
      task->thread.join();
    } else {
      // Killing a thread that may hold the heap, a rendering context or a
      // screen bitmap could stop the host for good: it is left to end on its
      // own, keeping what it uses (its state record holds all of it).
      REPORT_DEBUG("DestroyBackgroundTask() - Timed out while waiting for Background Task exit. "
                   "The Background Task is left to finish on its own.");
      task->thread.detach();
    }
  }
  Flush(task.get(), "DestroyBackgroundTask()");
  SetAbortFlags(false);
}

void AbortBackgroundRendering() {
  SetAbortFlags(true);
  if (std::shared_ptr<TaskState> task = CurrentTask()) task->signals.Set(TaskSignals::TERMINATE);
}

void ReleaseMainDialogInitialization() {
  if (std::shared_ptr<TaskState> task = CurrentTask()) task->signals.DialogInitialized();
}

void SignalRenderingStarted() {
  if (std::shared_ptr<TaskState> task = CurrentTask()) task->signals.Set(TaskSignals::STARTED);
}

bool NewBackgroundTaskParameters(RegionHandle region) {
  std::shared_ptr<TaskState> task = CurrentTask();
  ProductCallback callback = g_productCallback.load();
  RenderingParameters* parameters = nullptr;
  if (task != nullptr && OnUIThread(*task) && callback != nullptr)
    parameters = reinterpret_cast<RenderingParameters*>(callback(PRODUCT_CURRENT_PARAMETER_SET, nullptr));
  if (parameters == nullptr) {
    ReportDashed("NewBackgroundTaskParameters() - Could not get current parameter set.");
    DeleteRegion(region);
    return false;
  }
  if (task->signals.IsSet(TaskSignals::TERMINATE)) {
    FreeRenderingParameters(parameters);
    DeleteRegion(region);
    return false;
  }
  auto* block = new (std::nothrow) ParameterDataBlock{parameters, region};
  if (block == nullptr) {
    REPORT_DEBUG("Failed to allocate Parameter Data block.");
    FreeRenderingParameters(parameters);
    DeleteRegion(region);
    REPORT_DEBUG("NewBackgroundTaskParameters() - Could not create new Parameter Set");
    return false;
  }
  if (!QueueParameterSet(task.get(), block)) {
    REPORT_DEBUG("NewBackgroundTaskParameters() - Could not queue new Parameter Set");
    FreeBlock(block);
    return false;
  }
  return true;
}

void UpdateProxyDisplay(RegionHandle region, uint32_t flags) {
  std::shared_ptr<TaskState> task = CurrentTask();
  if (task == nullptr) {
    DeleteRegion(region);
    return;
  }
  if (region == nullptr) {
    if ((flags & (PROXY_UPDATE_INVALIDATE_BITMAP | PROXY_UPDATE_INVALIDATE_SCREEN)) != 0) {
      region = ClientRegion(*task);
      if (region == nullptr) REPORT_DEBUG("Could not create InvalidationRegion for Proxy client rectangle.");
    } else {
      region = CreateEmptyRegion();
      if (region == nullptr) REPORT_DEBUG("Could not create empty InvalidationRegion.");
    }
  }
  if (!OnUIThread(*task)) {
    Post(*task, task->proxyWindow, UPDATE_PROXY_DISPLAY, reinterpret_cast<uintptr_t>(region), flags);
    return;
  }
  const bool bitmap = task->host.offscreenBitmap;
  const uint32_t redraw = bitmap ? PROXY_UPDATE_REDRAW_BITMAP : PROXY_UPDATE_REDRAW_SCREEN;
  const uint32_t invalidate = bitmap ? PROXY_UPDATE_INVALIDATE_BITMAP : PROXY_UPDATE_INVALIDATE_SCREEN;
  const uint32_t render = bitmap ? PROXY_UPDATE_RENDER_BITMAP : PROXY_UPDATE_RENDER_SCREEN;
  if ((flags & redraw) != 0) {
    if (task->host.redrawWindow != nullptr)
      task->host.redrawWindow(task->host.context, task->proxyWindow, region, (flags & invalidate) != 0);
    DeleteRegion(region);
    region = nullptr;
  } else if ((flags & invalidate) == 0) {
    DeleteRegion(region);
    region = nullptr;
  }
  if ((flags & render) != 0)
    NewBackgroundTaskParameters(region);
  else
    DeleteRegion(region);
}

void FlushParameterSets(const char* message) {
  if (std::shared_ptr<TaskState> task = CurrentTask()) Flush(task.get(), message);
}

void SetSizeMoveInProgress(bool inProgress) {
  std::shared_ptr<TaskState> task = CurrentTask();
  if (task == nullptr) return;
  std::unique_lock<std::mutex> lock(task->pendingMutex);
  if (task->sizeMove.load() == inProgress) {
    if (inProgress) REPORT_DEBUG("SetSizeMoveInProgress() - Repeated Size/Move Event %s.", "WM_ENTERSIZEMOVE");
    return;
  }
  task->sizeMove.store(inProgress);
  lock.unlock();
  if (inProgress) return;
  // The end of a size or move: the picture catches up.
  RegionHandle region = ClientRegion(*task);
  if (!OnUIThread(*task)) {
    Post(*task, task->proxyWindow, UPDATE_PROXY_DISPLAY, reinterpret_cast<uintptr_t>(region), 0x112);
  } else if (!task->host.offscreenBitmap) {
    DeleteRegion(region);
    NewBackgroundTaskParameters(nullptr);
  } else {
    if (task->host.redrawWindow != nullptr) task->host.redrawWindow(task->host.context, task->proxyWindow, region, true);
    DeleteRegion(region);
  }
}

bool SizeMoveInProgress() {
  std::shared_ptr<TaskState> task = CurrentTask();
  return task != nullptr && task->sizeMove.load();
}

void BeginProxyResize() {
  if (!AcquireResizeLock()) REPORT_DEBUG("Could not aquire the ResizeInProgressMutex mutex during a size change.");
}

void EndProxyResize() {
  std::shared_ptr<TaskState> task = CurrentTask();
  if (task == nullptr) return;
  RegionHandle region = ClientRegion(*task);
  if (!OnUIThread(*task)) {
    Post(*task, task->proxyWindow, UPDATE_PROXY_DISPLAY, reinterpret_cast<uintptr_t>(region), 0x13);
  } else if (!task->host.offscreenBitmap) {
    DeleteRegion(region);
    NewBackgroundTaskParameters(nullptr);
  } else {
    NewBackgroundTaskParameters(region);
  }
  ReleaseResizeLock();
}

bool AcquireResizeLock() {
  std::shared_ptr<TaskState> task = CurrentTask();
  return task != nullptr && task->signals.AcquireResize();
}

void ReleaseResizeLock() {
  std::shared_ptr<TaskState> task = CurrentTask();
  if (task != nullptr && !task->signals.ReleaseResize()) REPORT_DEBUG("Failed to release ResizeInProgressMutex.");
}

bool SetBackgroundBusy(bool busy) {
  std::shared_ptr<TaskState> task = CurrentTask();
  if (task == nullptr) return false;
  std::lock_guard<std::mutex> lock(task->busyLock);
  if (busy) {
    if (task->busy == 0) Post(*task, task->dialog, BACKGROUND_BUSY, 1, 0);
    ++task->busy;
  } else if (task->busy > 0 && --task->busy == 0) {
    Post(*task, task->dialog, BACKGROUND_BUSY, 0, 0);
  }
  return task->busy != 0;
}

bool BackgroundTaskRunning() {
  std::shared_ptr<TaskState> task = CurrentTask();
  return task != nullptr && !task->signals.IsSet(TaskSignals::TERMINATE);
}

bool BackgroundTaskFinished() {
  std::shared_ptr<TaskState> task = CurrentTask();
  if (task == nullptr) return true;
  std::lock_guard<std::mutex> lock(task->endLock);
  return task->finished;
}
