// The selector handlers other than Start.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "host/main_dialog.h"
#include "host/plugin_globals.h"
#include "host/scripting.h"
#include "params/parameter_files.h"
#include "params/registry_parameters.h"
#include "platform/platform.h"
#include "runtime/report.h"
#include "runtime/status.h"

namespace {
constexpr const char* WEB_SITE_ADDRESS = "https://www.brightwerk.example/glimmark2";
constexpr int32_t PARAMETER_HANDLE_SIZE = static_cast<int32_t>(sizeof(ParameterSet));
constexpr int32_t DATA_HANDLE_SIZE = 1;
constexpr int32_t MAX_BUFFER_SPACE = 1000000000;
constexpr int32_t BUFFER_SPACE_RESERVE = 1250000;

void LoadLinkCursorAndWebSite() {
  // The cursor itself belongs to the dialogs; the address is ours.
  Globals().webSiteAddress = WEB_SITE_ADDRESS;
}

// Parameters steps 2 and 3, shared with Prepare when the host skipped
// Parameters: allocate what is missing, then start from the factory set
// with the dialog requested.
void AllocateAndInitializeHostBlocks() {
  PluginGlobals& g = Globals();
  FilterRecord* record = GetFilterRecord();
  if (record->parameters == nullptr) {
    record->parameters = NewHostHandle(PARAMETER_HANDLE_SIZE);
    if (record->parameters == nullptr) {
      REPORT_DEBUG("Could not allocate the %d byte parameter handle.", PARAMETER_HANDLE_SIZE);
      SetStatus(STATUS_OUT_OF_MEMORY);
    }
  }
  if (g.dataPointer != nullptr && *g.dataPointer == 0) {
    Handle data = NewHostHandle(DATA_HANDLE_SIZE);
    if (data == nullptr) {
      REPORT_DEBUG("Could not allocate the plug-in's data handle.");
      SetStatus(STATUS_OUT_OF_MEMORY);
    } else {
      *g.dataPointer = reinterpret_cast<intptr_t>(data);
    }
  }
  if (!NoError()) return;
  LockHostBlocks();
  if (!NoError()) return;
  MakeParameterSetCurrent(&FACTORY_PARAMETER_SET);
  *g.lockedData = 1;  // showDialog
  if (record->platformData != nullptr && record->platformData->hwnd == 0)
    record->platformData->hwnd = reinterpret_cast<intptr_t>(PlatformActiveWindow());
}

int BytesPerSample(int16_t imageMode) {
  if (imageMode >= plugInModeBitmap && imageMode <= plugInModeLabColor) return 1;
  if (imageMode >= plugInModeGray16 && imageMode <= plugInModeDuotone16) return 2;
  if (imageMode == plugInModeRGB96 || imageMode == plugInModeGray32 || imageMode == 64) return 4;
  REPORT_DEBUG("Error:  Unrecognized image mode.");
  return 1;
}

void ReleaseComAndSuites() {
  PluginGlobals& g = Globals();
  if (g.comInitialized) {
    PlatformUninitializeCom();
    g.comInitialized = false;
  }
  ReleaseHostSuites();
}
}  // namespace

int32_t ComputeBufferSpace(int16_t imageMode, int64_t width, int64_t height) {
  // 16 × (B × W × H + 1250000). Computed wide and saturated: a wrapped 32-bit
  // product could come out small and positive and ask for far too little.
  const int64_t bytes = BytesPerSample(imageMode);
  if (width <= 0 || height <= 0) return 16 * BUFFER_SPACE_RESERVE;
  const int64_t limit = MAX_BUFFER_SPACE / 16 - BUFFER_SPACE_RESERVE;
  if (width > limit / bytes || height > limit / (bytes * width)) return MAX_BUFFER_SPACE;
  const int64_t space = 16 * (bytes * width * height + BUFFER_SPACE_RESERVE);
  return static_cast<int32_t>(std::min<int64_t>(space, MAX_BUFFER_SPACE));
}

int64_t ComputeMaxSpace(int64_t width, int64_t height, int planes, bool hasMask) {
  const int64_t w = std::max<int64_t>(0, std::min<int64_t>(width, 1024));
  const int64_t h = std::max<int64_t>(0, std::min<int64_t>(height, 1024));
  const int64_t p = std::max(0, planes) + (hasMask ? 1 : 0);
  return 2 * w * h * p;
}

void DoAbout() {
  if (!PlatformInitializeCom()) return;
  LoadDialogLibraries();
  LoadLinkCursorAndWebSite();
  RunAboutBox(GetMessageWindow());
  PlatformUninitializeCom();
}

void DoParameters() {
  AcquireHostSuites();
  AllocateAndInitializeHostBlocks();
  LoadLinkCursorAndWebSite();
  InitializePresetMenu();
  LoadSplashBitmap();
  if (!NoError()) ReleaseHostSuites();
}

void DoPrepare() {
  PluginGlobals& g = Globals();
  FilterRecord* record = GetFilterRecord();
  AcquireHostSuites();
  if (record->parameters != nullptr && g.dataPointer != nullptr && *g.dataPointer != 0) LockHostBlocks();
  else AllocateAndInitializeHostBlocks();

  if (!PlatformInitializeCom()) {
    REPORT_DEBUG("Could not initialize COM for the plug-in's thread.");
    SetStatus(STATUS_OUT_OF_MEMORY);
    ReleaseHostSuites();
    return;
  }
  g.comInitialized = true;
  LoadDialogLibraries();
  LoadLinkCursorAndWebSite();
  InitializePresetMenu();
  LoadSplashBitmap();

  const VRect rect = GetFilterRect();
  const int64_t width = static_cast<int64_t>(rect.right) - rect.left;
  const int64_t height = static_cast<int64_t>(rect.bottom) - rect.top;
  record->bufferSpace = ComputeBufferSpace(record->imageMode, width, height);
  const int64_t maxSpace = ComputeMaxSpace(width, height, record->planes, record->maskData != nullptr);
  if (maxSpace < record->maxSpace) record->maxSpace = static_cast<int32_t>(maxSpace);

  if (!NoError()) ReleaseComAndSuites();
}

void DoContinue() {
  // Start processed the whole image; ask for nothing more.
  ClearHostRects();
  if (!NoError()) ReleaseComAndSuites();
}

void DoFinish() {
  LockHostBlocks();
  if (NoError()) {
    const ParameterSet* current = Globals().lockedParameters;
    FilterRecord* record = GetFilterRecord();
    WriteScriptingParameters(record, current);  // failures are reported; Finish goes on
    WriteRegistryParameters(Globals().host.basicSuite ? record->sSPBasic : nullptr, current);
    SaveLastSavedParameters(current);
  }
  ReleaseComAndSuites();
}

intptr_t ParameterSetCallback(int operation, const ParameterSet* set) {
  PluginGlobals& g = Globals();
  switch (operation) {
    case 0: {
      static const ParameterVersion version = CURRENT_PARAMETER_VERSION;
      return reinterpret_cast<intptr_t>(&version);
    }
    case 1: return reinterpret_cast<intptr_t>(NewParameterBuffer(&FACTORY_PARAMETER_SET));
    case 2: {
      if (g.lockedParameters == nullptr) return 0;
      uint8_t* buffer = NewParameterBuffer(g.lockedParameters);
      if (buffer != nullptr) StampCurrentVersion(reinterpret_cast<ParameterSet*>(buffer));
      return reinterpret_cast<intptr_t>(buffer);
    }
    case 3:
      if (set == nullptr) return 0;
      MakeParameterSetCurrent(set);
      return 1;
    case 4:
      if (set == nullptr || g.lockedParameters == nullptr) return 0;
      return ParameterSetsEqual(set, g.lockedParameters) ? 1 : 0;
    case 5:
      return 0;  // no older Parameter Set layout exists to convert from
    case 6:
      MakeParameterSetCurrent(&FACTORY_PARAMETER_SET);
      return 1;
    default:
      REPORT_DEBUG("ParameterSetCallback() called with unknown operation %d.", operation);
      return 0;
  }
}
