#include "params/rendering_parameters.h"

#include <atomic>
#include <chrono>
#include <cstring>

#include "runtime/buffers.h"
#include "runtime/report.h"

namespace {

// Records are built on the UI thread only; the atomic just keeps a stray
// caller from tearing the counter.
std::atomic<int32_t> g_nextSequenceNumber{1};

uint32_t TickCount() {
  using namespace std::chrono;
  return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

void CopyEffectFields(RenderingParameters* record, const ParameterSet* current) {
  // The eleven fields from Intensity to blendSelector lie back to back in
  // both records.
  constexpr size_t effectBytes = offsetof(ParameterSet, padding1) - offsetof(ParameterSet, intensity);
  static_assert(effectBytes == offsetof(RenderingParameters, unused98) - offsetof(RenderingParameters, intensity),
                "the eleven effect fields");
  std::memcpy(&record->intensity, &current->intensity, effectBytes);
  record->carriedValue = current->carriedValue;
  std::memcpy(&record->quantity, &current->quantity, sizeof record->quantity);
}

void InitializeFinalRenderingParameters(RenderingParameters* record, const ParameterSet* current) {
  std::memset(record, 0, sizeof *record);
  record->zoomPercent = 100.0;
  CopyEffectFields(record, current);
}

RenderingParameters* NewRenderingParameters(const ParameterSet* current, const RenderingView* view) {
  if (current == nullptr) return nullptr;
  BufferDescriptor block{nullptr, 0};
  if (ReallocateBuffer(sizeof(RenderingParameters), &block) != 0) {
    REPORT_DEBUG("Could not allocate a ParameterSet buffer.");
    return nullptr;
  }
  auto* record = static_cast<RenderingParameters*>(block.buffer);
  std::memset(record, 0, sizeof *record);
  if (view != nullptr) {
    record->viewRect = view->viewRect;
    record->selectionRect = view->selectionRect;
    record->zoomPercent = view->zoomPercent;
    record->scrollX = view->scrollX;
    record->scrollY = view->scrollY;
    record->effectsVisible = view->effectsVisible ? 1 : 0;
    record->viewFlag = view->viewFlag;
    record->monitor = view->monitor;
    record->tableChangeCount = view->tableChangeCount;
  }
  CopyEffectFields(record, current);
  record->createdTicks = TickCount();
  record->sequenceNumber = g_nextSequenceNumber.fetch_add(1);
  record->passStatus = 0;
  return record;
}

void FreeRenderingParameters(RenderingParameters* record) {
  if (record == nullptr) return;
  BufferDescriptor block{record, sizeof(RenderingParameters)};
  DeallocateBuffer(&block);
}

bool EffectsEqual(const RenderingParameters* a, const RenderingParameters* b) {
  return a->intensity == b->intensity && a->length == b->length && a->angle == b->angle &&
         a->numberOfPoints == b->numberOfPoints && a->spikeSharpness == b->spikeSharpness &&
         a->colorSaturation == b->colorSaturation && a->softFlareIntensity == b->softFlareIntensity &&
         a->quantity == b->quantity && a->tableChangeCount == b->tableChangeCount;
}

uint32_t CompareRenderingParameters(RenderingComparison* state, const RenderingParameters* record) {
  // Before the first record the monitor is none (0) and nothing is drawn.
  const uint32_t lastMonitor = state->hasPrevious ? state->previous.monitor : 0;
  uint32_t changes = 0;
  if (record->monitor != lastMonitor) changes |= RENDER_CHANGE_MONITOR | RENDER_CHANGE_EFFECTS;
  if (!state->hasPrevious || !EffectsEqual(&state->previous, record)) changes |= RENDER_CHANGE_EFFECTS;
  state->previous = *record;
  state->hasPrevious = true;
  return changes;
}
