// The Start selector: restore settings, read the image, analyse, show the
// dialog or not, render at full size, write back, and always clean up.
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "analysis/light_source_analysis.h"
#include "color/color_management.h"
#include "color/color_transforms.h"
#include "host/final_render.h"
#include "host/host_image.h"
#include "host/phase_timings.h"
#include "host/scripting.h"
#include "params/parameter_files.h"
#include "params/registry_parameters.h"
#include "host/pending_services.h"
#include "image/pixel_access.h"
#include "host/plugin_globals.h"
#include "platform/platform.h"
#include "runtime/event.h"
#include "runtime/status.h"
#include "runtime/progress.h"
#include "runtime/report.h"
#include "runtime/threads.h"

namespace {
// The light source analysis runs beside the selector from the moment the
// image is read until the clean-up of Start. Its workers see the selector's
// status through this atomic copy; a failure of theirs comes back at the end.
LightSourceAnalysis* g_analysis = nullptr;
std::atomic<int16_t> g_analysisStatus{0};
PhaseClock::time_point g_analysisStart;

bool ConvertToLinearWorking(Image* image) {
  return ConvertColorOf(image, GetLinearWorkingProfile(), GetWorkerThreadCount());
}

void StartLightSourceInitialization() {
  g_analysisStatus = Status();
  LightSourceAnalysisSetup setup{};
  setup.hostImage = &GetHostImageCopy().image;
  setup.convertToLinearWorking = ConvertToLinearWorking;
  setup.resultCode = &g_analysisStatus;
  setup.table = MasterLightSourceTableRoutines();
  setup.workerCount = 0;
  g_analysisStart = PhaseClock::now();
  if (!StartLightSourceAnalysis(setup, &g_analysis)) SetStatusIfNone(STATUS_FAILURE_REPORTED);
}

void StopLightSourceInitialization() {
  if (g_analysis == nullptr) return;
  ReleaseLightSourceAnalysis(&g_analysis);
  const int16_t status = g_analysisStatus.exchange(0);
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

void DoStart() {
  PluginGlobals& g = Globals();
  bool showDialog = false;
  ResetPhaseTimings();

  LockHostBlocks();
  if (NoError()) {
    SetWatchCursorSuspension();
    RestoreLastParameters();
    showDialog = *g.lockedData != 0;
    // The reader reports its own failure (memory only).
    if (ReadScriptingParameters(GetFilterRecord(), g.lockedParameters, &showDialog) != 0) SetStatus(STATUS_PARAMETER_ERROR);
  }
  if (NoError()) {
    BuildPixelValueTables();
    if (!SetupColorProfiles()) SetStatus(STATUS_PARAMETER_ERROR);
  }
  if (NoError()) {
    const PhaseClock::time_point start = PhaseClock::now();
    if (!ReadHostImage(GetEditorProfileInfo())) SetStatus(STATUS_PARAMETER_ERROR);
    RecordPhaseTime(PHASE_READ, MillisecondsSince(start));
  }
  if (NoError()) StartLightSourceInitialization();
  if (NoError()) {
    if (showDialog) {
      if (!RunMainDialog()) SetStatusIfNone(STATUS_USER_CANCELLED);
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
  ReleaseColorManagement();
  WritePhaseTimings();

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
  while (g_analysis != nullptr && !WaitForLightSourceAnalysis(g_analysis, 20)) {
    const LightSourceAnalysisProgress progress = GetLightSourceAnalysisProgress(g_analysis);
    if (!DisplayImageEditorProgressBar(progress.done, progress.total)) {
      SetStatus(STATUS_USER_CANCELLED);
      g_analysisStatus = STATUS_USER_CANCELLED;
      RequestLightSourceAnalysisStop();
      break;
    }
  }
  if (g_analysis != nullptr) RecordPhaseTime(PHASE_ANALYSIS, MillisecondsSince(g_analysisStart));
  if (NoError() && g_analysisStatus.load() != 0) SetStatus(g_analysisStatus.load());
  if (!NoError()) return;

  if (!RenderEffectsIntoImage(GetWorkerThreadCount())) return;
  const PhaseClock::time_point start = PhaseClock::now();
  SetStatusIfNone(WriteHostImage(&GetHostImageCopy().image));
  RecordPhaseTime(PHASE_WRITE_BACK, MillisecondsSince(start));
}
