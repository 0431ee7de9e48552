// Access to the host's records for the current selector call: probing what
// the host offers, rectangles in 16- or 32-bit form, handles and suites.
#include <algorithm>
#include <cstring>

#include "host/plugin_globals.h"
#include "runtime/report.h"
#include "runtime/status.h"

namespace {
PluginGlobals g_globals;

constexpr const char* PROPERTY_SUITE_NAME = "Photoshop Property Suite for Plug-ins";
constexpr const char* ERROR_SUITE_NAME = "Photoshop Error Suite for Plug-ins";
constexpr int32_t PROPERTY_SUITE_VERSION = 1;
constexpr int32_t ERROR_SUITE_VERSION = 1;

int16_t Clamp16(int32_t v) {
  return static_cast<int16_t>(std::min<int32_t>(std::max<int32_t>(v, INT16_MIN), INT16_MAX));
}

Rect ToRect16(const VRect& r) {
  Rect out;
  out.top = Clamp16(r.top);
  out.left = Clamp16(r.left);
  out.bottom = Clamp16(r.bottom);
  out.right = Clamp16(r.right);
  return out;
}
}  // namespace

PluginGlobals& Globals() { return g_globals; }

HostCapabilities ProbeHost(const FilterRecord* record) {
  HostCapabilities caps{};
  const HandleProcs* hp = record->handleProcs;
  // Older hosts give seven procedures, later ones eight; we need the first six.
  caps.handleProcs = hp != nullptr && hp->numHandleProcs >= 6 && hp->newProc != nullptr &&
                     hp->disposeProc != nullptr && hp->lockProc != nullptr && hp->unlockProc != nullptr;
  caps.advanceState = record->advanceState != nullptr;
  caps.abortProc = record->abortProc != nullptr;
  caps.progressProc = record->progressProc != nullptr;
  caps.bigDocument = record->bigDocumentData != nullptr;
  caps.basicSuite = record->sSPBasic != nullptr && record->sSPBasic->AcquireSuite != nullptr &&
                    record->sSPBasic->ReleaseSuite != nullptr;
  const PIDescriptorParameters* dp = record->descriptorParameters;
  caps.descriptorParameters = dp != nullptr && (dp->readDescriptorProcs != nullptr || dp->writeDescriptorProcs != nullptr);
  return caps;
}

VRect GetFilterRect() {
  const FilterRecord* record = GetFilterRecord();
  if (g_globals.use32BitCoordinates) return record->bigDocumentData->filterRect32;
  VRect r;
  r.top = record->filterRect.top;
  r.left = record->filterRect.left;
  r.bottom = record->filterRect.bottom;
  r.right = record->filterRect.right;
  return r;
}

void SetInRect(const VRect& rect) {
  FilterRecord* record = GetFilterRecord();
  if (g_globals.use32BitCoordinates) record->bigDocumentData->inRect32 = rect;
  else record->inRect = ToRect16(rect);
}

void SetOutRect(const VRect& rect) {
  FilterRecord* record = GetFilterRecord();
  if (g_globals.use32BitCoordinates) record->bigDocumentData->outRect32 = rect;
  else record->outRect = ToRect16(rect);
}

void SetMaskRect(const VRect& rect) {
  FilterRecord* record = GetFilterRecord();
  if (g_globals.use32BitCoordinates) record->bigDocumentData->maskRect32 = rect;
  else record->maskRect = ToRect16(rect);
}

void ClearHostRects() {
  const VRect empty{0, 0, 0, 0};
  SetInRect(empty);
  SetOutRect(empty);
  SetMaskRect(empty);
}

Handle NewHostHandle(int32_t size) {
  if (!g_globals.host.handleProcs) {
    REPORT_DEBUG("The host provides no handle procedures; cannot allocate %d bytes.", size);
    return nullptr;
  }
  return GetFilterRecord()->handleProcs->newProc(size);
}

void* LockHostHandle(Handle handle) {
  if (!g_globals.host.handleProcs || handle == nullptr) return nullptr;
  return GetFilterRecord()->handleProcs->lockProc(handle, 1);
}

void UnlockHostHandle(Handle handle) {
  if (!g_globals.host.handleProcs || handle == nullptr) return;
  GetFilterRecord()->handleProcs->unlockProc(handle);
}

void DisposeHostHandle(Handle handle) {
  if (!g_globals.host.handleProcs || handle == nullptr) return;
  GetFilterRecord()->handleProcs->disposeProc(handle);
}

void LockHostBlocks() {
  FilterRecord* record = GetFilterRecord();
  if (record->parameters == nullptr || g_globals.dataPointer == nullptr || *g_globals.dataPointer == 0) {
    REPORT_DEBUG("The host passed no parameters or no data handle.");
    SetStatus(STATUS_BAD_PARAMETERS);
    return;
  }
  if (!g_globals.host.handleProcs) {
    REPORT_DEBUG("The host provides no handle procedures to lock the parameter blocks.");
    SetStatus(STATUS_BAD_PARAMETERS);
    return;
  }
  auto* parameters = static_cast<ParameterSet*>(LockHostHandle(record->parameters));
  auto* data = static_cast<uint8_t*>(LockHostHandle(reinterpret_cast<Handle>(*g_globals.dataPointer)));
  if (parameters == nullptr || data == nullptr) {
    REPORT_DEBUG("Could not lock the host's parameter or data block.");
    if (parameters != nullptr) UnlockHostHandle(record->parameters);
    if (data != nullptr) UnlockHostHandle(reinterpret_cast<Handle>(*g_globals.dataPointer));
    SetStatus(STATUS_OUT_OF_MEMORY);
    return;
  }
  g_globals.lockedParameters = parameters;
  g_globals.lockedData = data;
}

void AcquireHostSuites() {
  if (!g_globals.host.basicSuite) return;
  SPBasicSuite* basic = GetFilterRecord()->sSPBasic;
  if (g_globals.propertySuite == nullptr) {
    const void* suite = nullptr;
    if (basic->AcquireSuite(PROPERTY_SUITE_NAME, PROPERTY_SUITE_VERSION, &suite) == 0 && suite != nullptr)
      g_globals.propertySuite = static_cast<const PropertyProcs*>(suite);
  }
  if (g_globals.errorSuite == nullptr) {
    const void* suite = nullptr;
    if (basic->AcquireSuite(ERROR_SUITE_NAME, ERROR_SUITE_VERSION, &suite) == 0 && suite != nullptr)
      g_globals.errorSuite = static_cast<const PSErrorSuite1*>(suite);
  }
}

void ReleaseHostSuites() {
  // A suite is released through the basic suite it came from; if the current
  // record has none we can only forget the pointer.
  SPBasicSuite* basic = nullptr;
  if (g_globals.filterRecord != nullptr && g_globals.selector != filterSelectorAbout && g_globals.host.basicSuite)
    basic = GetFilterRecord()->sSPBasic;
  if (g_globals.errorSuite != nullptr) {
    if (basic != nullptr) basic->ReleaseSuite(ERROR_SUITE_NAME, ERROR_SUITE_VERSION);
    g_globals.errorSuite = nullptr;
  }
  if (g_globals.propertySuite != nullptr) {
    if (basic != nullptr) basic->ReleaseSuite(PROPERTY_SUITE_NAME, PROPERTY_SUITE_VERSION);
    g_globals.propertySuite = nullptr;
  }
}

void MakeParameterSetCurrent(const ParameterSet* set) {
  if (g_globals.lockedParameters == nullptr) return;
  std::memcpy(g_globals.lockedParameters, set, sizeof(ParameterSet));
}
