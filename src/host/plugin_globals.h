#pragma once
// Process-wide state of the plug-in between selector calls, and the small
// helpers every selector handler uses to talk to the host.
//
// Error policy: every step reports its own failure (runtime/report.h) and
// stores a status; later steps test the status and skip their work, while
// clean-up always runs. Host procedures are called only on the UI thread.
#include <cstdint>

#include "host_abi/host_interface.h"
#include "params/parameter_set.h"
#include "runtime/report.h"
#include "runtime/status.h"

// The selector statuses (runtime/status.h) are the interface's own codes.
static_assert(STATUS_BAND_RENDERING_FAILED == writErr && STATUS_PARAMETER_ERROR == paramErr &&
                  STATUS_OUT_OF_MEMORY == memFullErr && STATUS_USER_CANCELLED == userCanceledErr &&
                  STATUS_FAILURE_REPORTED == errMissingParameter && STATUS_BAD_PARAMETERS == filterBadParameters,
              "statuses and host error codes disagree");

// What the host offers in the current call, probed once per call.
struct HostCapabilities {
  bool handleProcs;        // new, dispose, lock, unlock usable
  bool advanceState;
  bool abortProc;
  bool progressProc;
  bool bigDocument;
  bool basicSuite;
  bool descriptorParameters;
};

struct PluginGlobals {
  void* filterRecord;          // AboutRecord for selector 0, FilterRecord otherwise
  intptr_t* dataPointer;       // the host's data slot
  int16_t* resultPointer;      // the status of the current call
  ParameterSet* lockedParameters;
  uint8_t* lockedData;         // one byte: showDialog
  const PropertyProcs* propertySuite;
  const PSErrorSuite1* errorSuite;
  bool initialized;
  uint32_t uiThreadId;
  void* linkCursor;
  const char* webSiteAddress;

  int16_t selector;
  bool use32BitCoordinates;
  bool comInitialized;
  HostCapabilities host;
};

PluginGlobals& Globals();

inline FilterRecord* GetFilterRecord() { return static_cast<FilterRecord*>(Globals().filterRecord); }
inline int16_t Status() { return *Globals().resultPointer; }
inline bool NoError() { return *Globals().resultPointer == 0; }
// Stores a status unless one is already pending: the first failure wins.
inline void SetStatusIfNone(int16_t status) {
  if (*Globals().resultPointer == 0) *Globals().resultPointer = status;
}
inline void SetStatus(int16_t status) { *Globals().resultPointer = status; }

HostCapabilities ProbeHost(const FilterRecord* record);

// Rectangles of the current call: the 32-bit fields of the big-document
// record once the plug-in has claimed it, the 16-bit fields otherwise.
VRect GetFilterRect();
void SetInRect(const VRect& rect);
void SetOutRect(const VRect& rect);
void SetMaskRect(const VRect& rect);
void ClearHostRects();

// Host handle helpers; each checks the handle procedures first.
Handle NewHostHandle(int32_t size);
void* LockHostHandle(Handle handle);
void UnlockHostHandle(Handle handle);
void DisposeHostHandle(Handle handle);

void LockHostBlocks();
void AcquireHostSuites();
void ReleaseHostSuites();
void MakeParameterSetCurrent(const ParameterSet* set);

// Selector handlers and the lifecycle around them.
void InitializePlugin(WindowHandle hostWindow);
void ShutdownPlugin();
void DoAbout();
void DoParameters();
void DoPrepare();
void DoStart();
void DoContinue();
void DoFinish();
void RestoreLastParameters();

// Operations on Parameter Sets for the dialog and the parameter files.
intptr_t ParameterSetCallback(int operation, const ParameterSet* set);

// Memory the host should keep free for us in Prepare (saturating).
int32_t ComputeBufferSpace(int16_t imageMode, int64_t width, int64_t height);
int64_t ComputeMaxSpace(int64_t width, int64_t height, int planes, bool hasMask);
