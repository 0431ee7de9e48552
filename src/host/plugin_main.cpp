// The exported entry point, the one-time initialisation of process-wide
// services and their shutdown.
#include <exception>
#include <new>

#include "gl/gpu_information.h"
#include "host/main_dialog.h"
#include "host/plugin_globals.h"
#include "platform/platform.h"
#include "runtime/buffers.h"
#include "runtime/help_viewer.h"
#include "runtime/progress.h"
#include "runtime/report.h"
#include "runtime/status.h"
#include "runtime/user_folders.h"

#if defined(_WIN32)
#define GLIMMARK_ENTRY extern "C"
#else
#define GLIMMARK_ENTRY extern "C" __attribute__((visibility("default")))
#endif

namespace {
constexpr const char* PRODUCT_TITLE = "Glimmark 2";
constexpr const char* CAPTION_EXITING = "Error - Exiting Plug-in";

WindowHandle HostWindowOf(int16_t selector, void* record) {
  const PlatformData* platform = nullptr;
  if (selector == filterSelectorAbout) platform = static_cast<AboutRecord*>(record)->platformData;
  else platform = static_cast<FilterRecord*>(record)->platformData;
  // Some hosts hand over a zero window; fall back to the active one.
  WindowHandle window = platform != nullptr ? reinterpret_cast<WindowHandle>(platform->hwnd) : nullptr;
  return window != nullptr ? window : PlatformActiveWindow();
}

// The host's progress and abort procedures of the call in progress, for the
// progress service; each checks that the current host offers it.
void HostProgress(int32_t done, int32_t total) {
  FilterRecord* record = GetFilterRecord();
  if (record != nullptr && Globals().host.progressProc) record->progressProc(done, total);
}

bool HostAbortRequested() {
  FilterRecord* record = GetFilterRecord();
  return record != nullptr && Globals().host.abortProc && record->abortProc() != 0;
}

void StoreProgressStatus(int16_t status) {
  if (Globals().resultPointer != nullptr) SetStatusIfNone(status);
}

void CallHandler(int16_t selector) {
  switch (selector) {
    case filterSelectorAbout: DoAbout(); break;
    case filterSelectorParameters: DoParameters(); break;
    case filterSelectorPrepare: DoPrepare(); break;
    case filterSelectorStart: DoStart(); break;
    case filterSelectorContinue: DoContinue(); break;
    case filterSelectorFinish: DoFinish(); break;
    default:
      REPORT_DEBUG("PluginMain() called with unknown selector %d.", selector);
      SetStatus(STATUS_BAD_PARAMETERS);
      break;
  }
}

void UnlockHostBlocks() {
  // Unlock exactly what this call locked: hosts count locks, and an unlock
  // without a lock (Continue locks nothing) can unbalance them.
  PluginGlobals& g = Globals();
  if (g.lockedData != nullptr && g.dataPointer != nullptr && *g.dataPointer != 0)
    UnlockHostHandle(reinterpret_cast<Handle>(*g.dataPointer));
  FilterRecord* record = GetFilterRecord();
  if (g.lockedParameters != nullptr && record->parameters != nullptr) UnlockHostHandle(record->parameters);
  g.lockedParameters = nullptr;
  g.lockedData = nullptr;
}

// At the end of a selector, on the UI thread: the messages other threads
// raised are shown, and a run that ran out of memory without the user being
// told (the failure happened where only the log hears of it) says so.
void FinishReports(uint32_t errorMessagesBefore) {
  ShowPendingUserMessages();
  if (Status() == STATUS_OUT_OF_MEMORY && UserErrorMessageCount() == errorMessagesBefore)
    REPORT_USER(STYLE_ERROR, CAPTION_EXITING, "There is not enough memory to complete the filter.");
}

void RunSelector(int16_t selector, void* record, uint32_t errorMessagesBefore) {
  PluginGlobals& g = Globals();
  if (!g.initialized) {
    InitializePlugin(HostWindowOf(selector, record));
    g.initialized = true;
  }
  if (selector != filterSelectorAbout) {
    FilterRecord* filter = GetFilterRecord();
    g.host = ProbeHost(filter);
    g.use32BitCoordinates = false;
    if (filter->bigDocumentData != nullptr) {
      filter->bigDocumentData->PluginUsing32BitCoordinates = 1;
      g.use32BitCoordinates = true;
    }
  } else {
    g.host = HostCapabilities{};
  }

  CallHandler(selector);
  FinishReports(errorMessagesBefore);

  if (selector != filterSelectorAbout) UnlockHostBlocks();
  if (Status() != 0 || selector == filterSelectorFinish || selector == filterSelectorAbout) ShutdownPlugin();
}
}  // namespace

// Entry point of the filter module. The caller removes the arguments.
GLIMMARK_ENTRY void PluginMain(int16_t selector, void* record, intptr_t* data, int16_t* result) {
  int16_t localResult = 0;
  if (result == nullptr) result = &localResult;
  // Hosts differ in what they leave in *result on entry (one engine passes
  // 1 for About): it is never a status, so start clean.
  *result = noErr;
  PlatformSetLastError(0);

  PluginGlobals& g = Globals();
  g.selector = selector;
  g.filterRecord = record;
  g.dataPointer = data;
  g.resultPointer = result;
  if (record == nullptr) {
    // Nothing can be reported to the host without a record; keep quiet
    // rather than crash, and say so if the log is open.
    *result = STATUS_BAD_PARAMETERS;
    return;
  }

  const uint32_t errorMessagesBefore = UserErrorMessageCount();
  try {
    RunSelector(selector, record, errorMessagesBefore);
  } catch (const std::bad_alloc&) {
    SetStatusIfNone(STATUS_OUT_OF_MEMORY);
    FinishReports(errorMessagesBefore);
    if (g.initialized) ShutdownPlugin();
  } catch (const std::exception& e) {
    REPORT_DEBUG("Internal failure in selector %d: %s", selector, e.what());
    SetStatusIfNone(STATUS_FAILURE_REPORTED);
    if (g.initialized) ShutdownPlugin();
  } catch (...) {
    REPORT_DEBUG("Internal failure in selector %d.", selector);
    SetStatusIfNone(STATUS_FAILURE_REPORTED);
    if (g.initialized) ShutdownPlugin();
  }
  // The host's pointer is only valid during this call.
  g.resultPointer = nullptr;
  g.filterRecord = nullptr;
}

void InitializePlugin(WindowHandle hostWindow) {
  PluginGlobals& g = Globals();
  g.uiThreadId = PlatformCurrentThreadId();
  if (!OpenDebugLoggingQueue(hostWindow, PRODUCT_TITLE)) {
    // Reports still work without a queue (they go nowhere); carry on.
  }
  InitializeUserDataFolders();
  OpenDebugLog(LOGMODE_THREADED);
  InitializeBufferUsageTracking();
  InitializeHelpViewer();
  GetPrimaryGPUInformation();
  if (!InitializeImageEditorProgressBar(ProgressHostProcs{HostProgress, HostAbortRequested, StoreProgressStatus}))
    SetStatus(STATUS_OUT_OF_MEMORY);
  if (PlatformModuleHandle() == nullptr)
    REPORT_DEBUG("The application's instance handle has not been initialized.");
}

void ShutdownPlugin() {
  PluginGlobals& g = Globals();
  ShutdownImageEditorProgress();
  CloseHelpViewer();
  RemoveDialogMessageHook();
  ReportBufferUsage();
  DeleteBufferUsageTracking();
  CloseDebugLog();
  // The host may call again without unloading the module: the next call
  // initialises everything afresh instead of using released objects.
  g.initialized = false;
}
