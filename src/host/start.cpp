// The Start selector: restore settings, read the image, analyse, show the
// dialog or not, render at full size, write back, and always clean up.
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "analysis/light_source_analysis.h"
#include "analysis/light_source_table.h"
#include "color/color_management.h"
#include "color/color_transforms.h"
#include "host/filter_run.h"
#include "host/final_render.h"
#include "host/host_image.h"
#include "host/main_dialog.h"
#include "host/phase_timings.h"
#include "host/plugin_globals.h"
#include "host/scripting.h"
#include "image/pixel_access.h"
#include "params/parameter_files.h"
#include "params/registry_parameters.h"
#include "platform/platform.h"
#include "runtime/event.h"
#include "runtime/progress.h"
#include "runtime/report.h"
#include "runtime/status.h"
#include "runtime/threads.h"

namespace {

// After the dialog (or at once without one): wait for the analysis, render
// at full size and write the result back.
void RenderFinalImage(FilterRun* run);

bool ConvertToLinearWorking(Image* image) {
  return ConvertColorOf(image, GetLinearWorkingProfile(), GetWorkerThreadCount());
}

void StartLightSourceInitialization(FilterRun* run) {
  run->analysisStatus = Status();
  LightSourceAnalysisSetup setup{};
  setup.hostImage = &run->copy.image;
  setup.convertToLinearWorking = ConvertToLinearWorking;
  setup.resultCode = &run->analysisStatus;
  setup.table = MasterLightSourceTableRoutines(&run->table);
  setup.stopFlags = &run->stopFlags;
  run->table.stopFlags = &run->stopFlags;
  setup.workerCount = 0;
  run->analysisStart = PhaseClock::now();
  if (!StartLightSourceAnalysis(setup, &run->analysis)) {
    // The analysis stored why it could not start (out of memory, say).
    const int16_t status = run->analysisStatus.exchange(0);
    SetStatusIfNone(status != 0 ? status : STATUS_FAILURE_REPORTED);
  }
}

void StopLightSourceInitialization(FilterRun* run) {
  if (run->analysis == nullptr) return;
  ReleaseLightSourceAnalysis(&run->analysis);
  const int16_t status = run->analysisStatus.exchange(0);
  if (status != 0) SetStatusIfNone(status);
}

bool SetupColorProfiles() {
  FilterRecord* record = GetFilterRecord();
  const void* data = nullptr;
  size_t size = 0;
  const bool hasProfile = record->iCCprofileData != nullptr && record->iCCprofileSize > 0;
  if (hasProfile) {
    size = static_cast<size_t>(record->iCCprofileSize);
    data = LockHostHandle(record->iCCprofileData);
  }
  int16_t status = 0;
  const bool ok = InitializeColorManagement(data, size, record->imageMode, &status);
  if (hasProfile && data != nullptr) UnlockHostHandle(record->iCCprofileData);
  if (!ok) SetStatus(status != 0 ? status : STATUS_PARAMETER_ERROR);
  return ok;
}

EditorProfileInfo GetEditorProfileInfo() {
  ColorProfileHandle profile = GetImageProfile();
  return EditorProfileInfo{profile, GetProfileGamma(profile), IsGrayProfile(profile)};
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
  const int16_t result = ReadRegistryParameters(g.host.basicSuite ? GetFilterRecord()->sSPBasic : nullptr, &restored);
  if (result == errPlugInHostInsufficient) {
    if (!LoadLastSavedParameters(&restored)) restored = FACTORY_PARAMETER_SET;
  } else if (result == errHostVersionIncompatible) {
    restored = FACTORY_PARAMETER_SET;
  }
  // None of these outcomes is an error of the run.
  MakeParameterSetCurrent(&restored);
}

namespace {

// The steps of Start up to the write-back; each one runs only while no
// failure is pending, and reports and stores its own failure. A step's own
// status is the one the host gets: a vaguer one never replaces it (memory
// that ran out stays out of memory).
void RunStartSteps(FilterRun* run) {
  PluginGlobals& g = Globals();
  bool showDialog = false;

  LockHostBlocks();
  if (NoError()) {
    SetWatchCursorSuspension();
    RestoreLastParameters();
    showDialog = *g.lockedData != 0;
    // The reader reports its own failure (memory only).
    const int16_t read = ReadScriptingParameters(GetFilterRecord(), g.lockedParameters, &showDialog);
    if (read != 0) SetStatusIfNone(read == SCRIPTING_OUT_OF_MEMORY ? STATUS_OUT_OF_MEMORY : STATUS_PARAMETER_ERROR);
    run->parameters = g.lockedParameters;
  }
  if (NoError()) {
    BuildPixelValueTables();
    if (!SetupColorProfiles()) SetStatusIfNone(STATUS_PARAMETER_ERROR);
    run->workingProfile = GetWorkingProfile();
  }
  if (NoError()) {
    const PhaseClock::time_point start = PhaseClock::now();
    // An image the host did not hand over ends Start as bad parameters,
    // whatever the host answered; memory the plug-in itself could not get
    // for the copy stays out of memory.
    bool ownMemory = false;
    if (!ReadHostImage(GetEditorProfileInfo(), &run->copy, &ownMemory))
      SetStatus(ownMemory ? STATUS_OUT_OF_MEMORY : STATUS_PARAMETER_ERROR);
    RecordPhaseTime(&run->timings, PHASE_READ, MillisecondsSince(start));
  }
  if (NoError()) StartLightSourceInitialization(run);
  if (NoError()) {
    if (showDialog) {
      if (!RunMainDialog(run)) SetStatusIfNone(STATUS_USER_CANCELLED);
      *g.lockedData = 0;
    } else {
      InitializeEffectTablesWithoutPreview();
    }
  }
  if (NoError()) RenderFinalImage(run);
}

}  // namespace

void DoStart() {
  PluginGlobals& g = Globals();
  FilterRun run;
  run.status = g.resultPointer;

  // Whatever a step throws, the clean-up below runs: the analysis thread is
  // stopped and joined, the copy freed and the host's transfer ended before
  // the status leaves.
  try {
    RunStartSteps(&run);
  } catch (const std::bad_alloc&) {
    REPORT_DEBUG("The Start selector ran out of memory.");
    SetStatusIfNone(STATUS_OUT_OF_MEMORY);
  } catch (const std::exception& e) {
    REPORT_DEBUG("The Start selector ended by an internal failure: %s", e.what());
    SetStatusIfNone(STATUS_FAILURE_REPORTED);
  }

  // Clean-up, always.
  ReleaseEffectShapeCaches(&run);
  StopLightSourceInitialization(&run);
  ReleaseHostImage(&run.copy);
  ReleaseColorManagement();
  WritePhaseTimings(run.timings);

  if (!NoError()) {
    if (g.comInitialized) {
      PlatformUninitializeCom();
      g.comInitialized = false;
    }
    ReleaseHostSuites();
  }
}

namespace {

void RenderFinalImage(FilterRun* run) {
  // Wait for the analysis, serving host progress and abort every 20 ms.
  while (run->analysis != nullptr && !WaitForLightSourceAnalysis(run->analysis, 20)) {
    const LightSourceAnalysisProgress progress = GetLightSourceAnalysisProgress(run->analysis);
    if (!DisplayImageEditorProgressBar(progress.done, progress.total)) {
      SetStatus(STATUS_USER_CANCELLED);
      run->analysisStatus = STATUS_USER_CANCELLED;
      RequestLightSourceAnalysisStop(run->analysis);
      break;
    }
  }
  if (run->analysis != nullptr) RecordPhaseTime(&run->timings, PHASE_ANALYSIS, MillisecondsSince(run->analysisStart));
  if (NoError() && run->analysisStatus.load() != 0) SetStatus(run->analysisStatus.load());
  if (!NoError()) return;
  if (run->parameters == nullptr) {
    REPORT_DEBUG("RenderFinalImage() - There is no image or no parameter set to render.");
    SetStatusIfNone(STATUS_BAND_RENDERING_FAILED);
    return;
  }

  // One snapshot of the settings for the whole rendering.
  RenderingParameters parameters;
  InitializeFinalRenderingParameters(&parameters, run->parameters);
  if (!RenderEffectsIntoImage(run, parameters, GetMasterLightSourceTable(&run->table), GetWorkerThreadCount())) return;
  const PhaseClock::time_point start = PhaseClock::now();
  SetStatusIfNone(WriteHostImage(&run->copy.image));
  RecordPhaseTime(&run->timings, PHASE_WRITE_BACK, MillisecondsSince(start));
}

}  // namespace
