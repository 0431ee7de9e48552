#pragma once
// Rendering Parameters: the snapshot one rendering job draws (a preview pass
// or the final full-size rendering). It holds the effect fields of the
// current Parameter Set and the view the job is for, so renderers never read
// the live set or the dialog.
//
// The record keeps its 112-byte layout on both architectures. The monitor
// field is 4 bytes: a display monitor handle is a user-object handle whose
// value fits in 32 bits on 64-bit Windows too, so it is stored as that 32-bit
// value (MonitorToRecordValue / RecordValueToMonitor convert).
//
// Records for the preview are built on the UI thread and then read only by
// the background rendering task that takes them.
#include <cstddef>
#include <cstdint>

#include "params/parameter_set.h"

struct RenderingRect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

struct RenderingParameters {
  int32_t sequenceNumber;       // 1, 2, … for the preview's records; 0 for the final rendering
  uint32_t createdTicks;        // milliseconds of a steady clock when built
  int32_t passStatus;           // 0 when built
  RenderingRect viewRect;       // the preview window's rectangle, or zeros
  RenderingRect selectionRect;  // the selection in view coordinates, or zeros
  uint8_t unused44[4];
  double zoomPercent;           // 100.0 for the final rendering
  int32_t scrollX;
  int32_t scrollY;
  uint8_t effectsVisible;       // the Preview check box
  uint8_t viewFlag;             // copied from the view state; no reader yet
  uint8_t unused66[2];
  uint32_t monitor;             // display monitor nearest the dialog, 32-bit handle value
  int32_t tableChangeCount;     // the Light Source Table's change counter
  // The Parameter Set's fields at offsets 8 to 28, in their order.
  int16_t intensity;
  int16_t length;
  int16_t angle;
  int16_t numberOfPoints;
  int16_t spikeSharpness;
  int16_t colorSaturation;
  int16_t rainbowIntensity;
  int16_t rainbowFrequency;
  int16_t secondarySpikeIntensity;
  int16_t softFlareIntensity;
  int16_t blendSelector;
  uint8_t unused98[2];
  int32_t carriedValue;
  int32_t quantity;             // the set's 32 bits at offset 36: Quantity in the low half
  uint8_t unused108[4];
};

static_assert(sizeof(RenderingParameters) == 112, "Rendering Parameters are a 112-byte record");
static_assert(offsetof(RenderingParameters, createdTicks) == 4, "layout");
static_assert(offsetof(RenderingParameters, passStatus) == 8, "layout");
static_assert(offsetof(RenderingParameters, viewRect) == 12, "layout");
static_assert(offsetof(RenderingParameters, selectionRect) == 28, "layout");
static_assert(offsetof(RenderingParameters, unused44) == 44, "layout");
static_assert(offsetof(RenderingParameters, zoomPercent) == 48, "layout");
static_assert(offsetof(RenderingParameters, scrollX) == 56, "layout");
static_assert(offsetof(RenderingParameters, scrollY) == 60, "layout");
static_assert(offsetof(RenderingParameters, effectsVisible) == 64, "layout");
static_assert(offsetof(RenderingParameters, viewFlag) == 65, "layout");
static_assert(offsetof(RenderingParameters, monitor) == 68, "layout");
static_assert(offsetof(RenderingParameters, tableChangeCount) == 72, "layout");
static_assert(offsetof(RenderingParameters, intensity) == 76, "layout");
static_assert(offsetof(RenderingParameters, softFlareIntensity) == 94, "layout");
static_assert(offsetof(RenderingParameters, blendSelector) == 96, "layout");
static_assert(offsetof(RenderingParameters, unused98) == 98, "layout");
static_assert(offsetof(RenderingParameters, carriedValue) == 100, "layout");
static_assert(offsetof(RenderingParameters, quantity) == 104, "layout");
static_assert(offsetof(RenderingParameters, unused108) == 108, "layout");

// What the preview knows about its view when a record is built. The caller
// gathers it under the dialog's locks; until the preview window exists it
// passes no view and every view field of the record stays zero.
struct RenderingView {
  RenderingRect viewRect;
  RenderingRect selectionRect;  // zeros without a selection
  double zoomPercent;
  int32_t scrollX;
  int32_t scrollY;
  bool effectsVisible;
  uint8_t viewFlag;
  uint32_t monitor;             // MonitorToRecordValue of the monitor handle
  int32_t tableChangeCount;
};

inline uint32_t MonitorToRecordValue(const void* monitor) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(monitor));
}
// Handles are sign-extended from their 32 significant bits, as the system
// does when it passes them between 32- and 64-bit processes.
inline void* RecordValueToMonitor(uint32_t value) {
  return reinterpret_cast<void*>(static_cast<intptr_t>(static_cast<int32_t>(value)));
}

// A new heap record for the preview: the view (zeros when view is null), the
// effect fields of *current, the tick count and the next sequence number.
// Null (reported) when memory is short. Free with FreeRenderingParameters.
RenderingParameters* NewRenderingParameters(const ParameterSet* current, const RenderingView* view);
void FreeRenderingParameters(RenderingParameters* record);

// The final rendering's record: effect fields only, zoom 100 percent.
void InitializeFinalRenderingParameters(RenderingParameters* record, const ParameterSet* current);

// Copies the eleven effect fields, carriedValue and the 32 bits of Quantity
// from the set into the record (offsets 76 to 107).
void CopyEffectFields(RenderingParameters* record, const ParameterSet* current);

// True when the two records draw the same effects: the seven fields with
// controls, all 32 bits of quantity and the light source table's change
// count. Fields without controls, blendSelector and carriedValue do not
// count (the view part is compared by the preview display itself).
bool EffectsEqual(const RenderingParameters* a, const RenderingParameters* b);

// Change bits of CompareRenderingParameters.
enum : uint32_t {
  RENDER_CHANGE_MONITOR = 1,  // the display profile changed: rebuild the proxy image
  RENDER_CHANGE_EFFECTS = 2,  // the effects must be drawn again
};

// What the preview display remembers of the last record it compared. A
// zeroed state means "nothing drawn yet, no monitor".
struct RenderingComparison {
  bool hasPrevious;
  RenderingParameters previous;
};

// The changes between the last record compared and this one; the record
// then becomes the last one. The first record always needs its effects
// drawn, and changes the monitor unless its monitor is none.
uint32_t CompareRenderingParameters(RenderingComparison* state, const RenderingParameters* record);
