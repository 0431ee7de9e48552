#include "analysis/analysis_task.h"

#include <algorithm>
#include <cstring>

#include "runtime/report.h"
#include "runtime/test_hooks.h"

namespace {

int16_t AllocateZeroed(size_t bytes, BufferDescriptor* buffer, int32_t threadIndex, const char* name) {
  const int16_t result = ReallocateBuffer(bytes, buffer);
  if (result != 0) {
    REPORT_DEBUG("Thread %d: Could not allocate buffer for %s.", threadIndex, name);
    return result;
  }
  std::memset(buffer->buffer, 0, bytes);
  return 0;
}

}  // namespace

bool AnalysisMemosEnabled() {
  const TestHooks* hooks = ActiveTestHooks();
  return hooks == nullptr || !hooks->analysisMemosDisabled.load(std::memory_order_relaxed);
}

int16_t PrepareBrightnessMap(AnalysisContext* context) {
  const ImageRect& r = context->image.bufferRect;
  const size_t width = r.right > r.left ? static_cast<size_t>(r.right - r.left) : 0;
  const size_t height = r.bottom > r.top ? static_cast<size_t>(r.bottom - r.top) : 0;
  const int16_t status =
      ReallocateBuffer(std::max<size_t>(width * height, 1) * sizeof(uint32_t), &context->brightnessBuffer);
  if (status != 0) {
    REPORT_DEBUG("Could not allocate the brightness map of the analysis image (%lu x %lu pixels).",
                 static_cast<unsigned long>(width), static_cast<unsigned long>(height));
    context->brightness = BrightnessMap{};
    return status;
  }
  std::memset(context->brightnessBuffer.buffer, 0, context->brightnessBuffer.size);
  context->brightness =
      BrightnessMap{static_cast<const uint32_t*>(context->brightnessBuffer.buffer), r, static_cast<int32_t>(width)};
  const Image& image = context->image;
  const bool sixteenBit = image.mode == IMAGE_MODE_RGB16 && image.bytesPerChannel == 2 && image.gammaTables != nullptr;
  context->colours16 = sixteenBit ? static_cast<const uint16_t*>(image.pixels.buffer) : nullptr;
  context->linearOf16 = sixteenBit ? image.gammaTables->code16ToLinear : nullptr;
  return 0;
}

void ReleaseAnalysisImage(AnalysisContext* context) {
  ReleaseImage(&context->image);
  DeallocateBuffer(&context->brightnessBuffer);
  context->brightness = BrightnessMap{};
  context->colours16 = nullptr;
  context->linearOf16 = nullptr;
}

int16_t InitializeAnalysisTask(AnalyzeSectionTask* task, int32_t threadIndex, AnalysisContext* context) {
  if (task == nullptr) return -1;
  task->threadIndex = threadIndex;
  task->context = context;
  // Every buffer is attempted, so that the log names all that failed.
  int16_t status = 0;
  const size_t params = sizeof(float) * ANALYSIS_SHAPE_COUNT;
  const size_t shapes = sizeof(SamplingShape) * ANALYSIS_SHAPE_COUNT;
  int16_t result = AllocateZeroed(params, &task->diskParamsBuff, threadIndex, "DiskParamsBuff");
  if (result != 0) status = result;
  result = AllocateZeroed(params, &task->ringParamsBuff, threadIndex, "RingParamsBuff");
  if (result != 0) status = result;
  result = AllocateZeroed(shapes, &task->diskShapeBuff, threadIndex, "DiskShapeBuff");
  if (result != 0) status = result;
  result = AllocateZeroed(shapes, &task->ringShapeBuff, threadIndex, "RingShapeBuff");
  if (result != 0) status = result;
  if (status != 0) return status;

  auto* diskRadii = static_cast<float*>(task->diskParamsBuff.buffer);
  auto* ringRadii = static_cast<float*>(task->ringParamsBuff.buffer);
  task->diskShapes = static_cast<SamplingShape*>(task->diskShapeBuff.buffer);
  task->ringShapes = static_cast<SamplingShape*>(task->ringShapeBuff.buffer);
  task->diskCount = ANALYSIS_SHAPE_COUNT;
  task->ringCount = ANALYSIS_SHAPE_COUNT;
  for (int32_t k = 0; k < ANALYSIS_SHAPE_COUNT; ++k) {
    diskRadii[k] = static_cast<float>(k) * ANALYSIS_SHAPE_STEP;
    ringRadii[k] = diskRadii[k];
    InitializeSamplingShape(&task->diskShapes[k], GenerateDiskSubShape, &diskRadii[k]);
    InitializeSamplingShape(&task->ringShapes[k], GenerateRingSubShape, &ringRadii[k]);
  }
  return 0;
}

void FreeAnalysisTask(AnalyzeSectionTask* task) {
  if (task == nullptr) return;
  // Through the owned buffers, not the views: a view may show shapes that
  // another task owns.
  for (BufferDescriptor* owned : {&task->diskShapeBuff, &task->ringShapeBuff}) {
    auto* shapes = static_cast<SamplingShape*>(owned->buffer);
    const size_t count = owned->size / sizeof(SamplingShape);
    for (size_t k = 0; shapes != nullptr && k < count; ++k) FreeSamplingShape(&shapes[k]);
  }
  DeallocateBuffer(&task->diskParamsBuff);
  DeallocateBuffer(&task->ringParamsBuff);
  DeallocateBuffer(&task->diskShapeBuff);
  DeallocateBuffer(&task->ringShapeBuff);
  DeallocateBuffer(&task->list.records);
  DeallocateBuffer(&task->fillStack);
  DeallocateBuffer(&task->clearedRows);
  DeallocateBuffer(&task->shapeCache);
  DeallocateBuffer(&task->edgeCache);
  DeallocateBuffer(&task->rejectedCentres);
  std::memset(static_cast<void*>(task), 0, sizeof *task);
}
