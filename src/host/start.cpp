// The Start selector: restore settings, read the image, analyse, show the
// dialog or not, render at full size, write back, and always clean up.
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "host/host_image.h"
#include "host/pending_services.h"
#include "host/pixel_access.h"
#include "host/plugin_globals.h"
#include "platform/platform.h"
#include "runtime/event.h"
#include "runtime/progress.h"
#include "runtime/report.h"
#include "runtime/threads.h"

namespace {
// The light source initialisation that runs beside the selector from the
// moment the image is read until the clean-up of Start.
struct LightSourceInitialization {
  std::mutex analysisMutex;
  Event dataInitializationComplete{true, false};
  std::atomic<bool> stopRequested{false};
  std::atomic<bool> stopAll{false};
  std::atomic<int32_t> workDone{0};
  std::atomic<int32_t> workTotal{1};
  std::thread thread;
};

std::unique_ptr<LightSourceInitialization> g_lightSources;

void InitializeLightSourceTable(LightSourceInitialization* run) {
  // The analysis proper arrives with the light source detection; until
  // then the table stays empty. Whatever happens, the completion event is
  // set last so that nobody waits forever.
  run->workDone = run->workTotal.load();
  run->dataInitializationComplete.Set();
}

void StartLightSourceInitialization() {
  try {
    g_lightSources = std::make_unique<LightSourceInitialization>();
  } catch (const std::bad_alloc&) {
    REPORT_SYSTEM_ERROR(0, "Could not create the data initialization complete event.");
    SetStatus(STATUS_FAILURE_REPORTED);
    return;
  }
  try {
    g_lightSources->thread = std::thread(InitializeLightSourceTable, g_lightSources.get());
  } catch (const std::system_error& e) {
    REPORT_SYSTEM_ERROR(static_cast<uint32_t>(e.code().value()), "Could not initiate light source table initialization");
    g_lightSources.reset();
    SetStatus(STATUS_FAILURE_REPORTED);
  }
}

void StopLightSourceInitialization() {
  if (!g_lightSources) return;
  g_lightSources->stopRequested = true;
  g_lightSources->stopAll = true;
  g_lightSources->dataInitializationComplete.Wait();
  if (g_lightSources->thread.joinable()) g_lightSources->thread.join();
  g_lightSources.reset();
}

void SetWatchCursorSuspension() {
  const PropertyProcs* suite = Globals().propertySuite;
  if (suite == nullptr || suite->numPropertyProcs < 2 || suite->setPropertyProc == nullptr) return;
  suite->setPropertyProc(kPhotoshopSignature, propWatchSuspension, 0, 1, nullptr);
}

}  // namespace

void RestoreLastParameters() {
  PluginGlobals& g = Globals();
  ParameterSet restored = FACTORY_PARAMETER_SET;
  const int16_t result = ReadRegistryParameters(&restored);
  if (result == errPlugInHostInsufficient) {
    if (!LoadLastSavedParameters(&restored)) restored = FACTORY_PARAMETER_SET;
  } else if (result == errHostVersionIncompatible) {
    restored = FACTORY_PARAMETER_SET;
  }
  // None of these outcomes is an error of the run.
  MakeParameterSetCurrent(&restored);
  (void)g;
}

void DoStart() {
  PluginGlobals& g = Globals();
  bool showDialog = false;

  LockHostBlocks();
  if (NoError()) {
    SetWatchCursorSuspension();
    RestoreLastParameters();
    showDialog = *g.lockedData != 0;
    if (!ReadScriptingParameters(g.lockedParameters, &showDialog)) {
      REPORT_USER(STYLE_ERROR, "Scripting Error", "Could not get factory parameter block.");
      SetStatus(paramErr);
    }
  }
  if (NoError()) {
    BuildPixelValueTables();
    if (!SetupColorProfiles()) SetStatus(paramErr);
  }
  if (NoError() && !ReadHostImage(GetEditorProfileInfo())) SetStatus(paramErr);
  if (NoError()) StartLightSourceInitialization();
  if (NoError()) {
    if (showDialog) {
      if (!RunMainDialog()) SetStatusIfNone(userCanceledErr);
      *g.lockedData = 0;
    } else {
      InitializeEffectTablesWithoutPreview();
    }
  }
  if (NoError()) RenderFinalImage();

  // Clean-up, always.
  ReleaseEffectShapeCaches();
  StopLightSourceInitialization();
  ReleaseHostImage();
  ReleaseColorProfiles();

  if (!NoError()) {
    if (g.comInitialized) {
      PlatformUninitializeCom();
      g.comInitialized = false;
    }
    ReleaseHostSuites();
  }
}

void RenderFinalImage() {
  // Wait for the analysis, serving host progress and abort every 20 ms.
  LightSourceInitialization* run = g_lightSources.get();
  while (run != nullptr && !run->dataInitializationComplete.WaitFor(std::chrono::milliseconds(20))) {
    if (!DisplayImageEditorProgressBar(run->workDone, run->workTotal)) {
      SetStatus(userCanceledErr);
      run->stopAll = true;
      break;
    }
  }
  if (!NoError()) return;

  if (!RenderEffectsIntoImage(GetWorkerThreadCount())) return;
  if (NoError()) SetStatusIfNone(WriteHostImage(&GetHostImageCopy().image));
}
