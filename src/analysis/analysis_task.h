#pragma once
// The records of one highlight analysis: the state its threads share
// (AnalysisContext) and the per-section task (AnalyzeSectionTask) that owns a
// section's list of highlights.
//
// Threads: the analysis image, the scale and the maximum brightness are
// written before the worker passes start and only read during them. Rows
// done is atomic. Each task is used by one worker at a time.
//
// Sections and workers: the image is cut into ANALYSIS_TASK_COUNT sections
// whatever the number of workers; a worker searches the sections it takes
// with the shapes and caches of its own task record (shapeOwner).
//
// Ownership: a task owns every buffer in it (shapes, list, fill stack,
// cleared map, caches); FreeAnalysisTask releases them and is safe on a
// zeroed or half-initialised task.
#include <atomic>
#include <cstdint>

#include "analysis/light_source.h"
#include "analysis/sampling_shapes.h"
#include "image/image.h"
#include "runtime/buffers.h"

constexpr int32_t EDGE_DIRECTIONS = 8;
// Edge distances of a highlight in the directions E, SE, S, SW, W, NW, N, NE:
// pixels along the ray, -1 where no edge was found.
struct EdgeDistances {
  float d[EDGE_DIRECTIONS];
};

constexpr int32_t ANALYSIS_TASK_COUNT = 24;    // sections of the analysis image
constexpr int32_t ANALYSIS_SHAPE_COUNT = 512;  // disks and rings of radius k / 4, k < 512
constexpr float ANALYSIS_SHAPE_STEP = 0.25f;
constexpr float MAXIMUM_HIGHLIGHT_RADIUS = 96.0f;
constexpr uint32_t SELECTED_MASK = 0x7FFFFFFF;  // mask at or above: selection value 128 of 255 or more

struct AnalysisContext {
  Image image{};               // the linear analysis image (16-bit RGB with an 8-bit mask)
  BrightnessMap brightness{};  // of every analysis pixel, filled by pass 1
  BufferDescriptor brightnessBuffer{};
  // Direct view of the 16-bit colours and their table to linear light, for
  // the colour tests along the rays; null when the image is of another mode.
  const uint16_t* colours16 = nullptr;
  const uint32_t* linearOf16 = nullptr;
  double scale = 1.0;              // analysis pixel to host pixel, 1.0 or more
  uint32_t maximumBrightness = 0;  // N: the brightest pixel with alpha != 0, from pass 1
  std::atomic<int32_t> rowsDone{0};
  std::atomic<int32_t> totalRows{0};
  std::atomic<int16_t>* resultCode = nullptr;  // the filter's result code, polled by the workers
  AnalysisStopFlags* stopFlags = nullptr;
  std::atomic<bool> listGrowthReported{false};  // one warning per run when a list cannot grow
};

// Shape measurements already made by a worker during the search. The
// refinement scores the same shapes at the same places again and again, for
// one candidate and for its neighbours, and the brightness it measures does
// not change while the search runs; so a measurement is reused instead of
// repeated, with the same result.
constexpr int32_t SHAPE_CACHE_SLOTS = 16384;  // a power of two
constexpr int32_t SHAPE_CACHE_PROBES = 4;
struct ShapeCacheEntry {
  uint32_t shape;  // 1 + (ring ? 512 : 0) + index, then quarters; 0 = empty
  int32_t x;
  int32_t y;
  uint32_t mean;
  float deviation;
};

// Edge distances a worker measured before, by pixel (see
// MeasureEdgeDistances); flat areas are never kept.
constexpr int32_t EDGE_CACHE_SLOTS = 32768;  // a power of two; one entry per slot
struct EdgeCacheEntry {
  int32_t x;
  int32_t y;
  uint32_t used;
  EdgeDistances distances;
};

// A centre pixel whose highlight was measured and rejected. Rejection there
// can only repeat: it depends on the brightness and colour, which the search
// never changes, and on pixels taken out of the search, which only grow.
struct RejectedCentre {
  int32_t x;
  int32_t y;
  uint32_t used;
};

struct AnalyzeSectionTask {
  BufferDescriptor diskParamsBuff;  // 512 floats: radius k / 4 of disk k
  BufferDescriptor ringParamsBuff;
  BufferDescriptor diskShapeBuff;  // 512 SamplingShape records
  BufferDescriptor ringShapeBuff;
  ImageRect section;  // rows (and columns) this task scans; right and bottom exclusive
  SamplingShape* diskShapes;
  int32_t diskCount;
  SamplingShape* ringShapes;
  int32_t ringCount;
  LightSourceList list;      // analysis coordinates until handed to the table
  int32_t threadIndex;       // for messages
  uint32_t sectionMaximum;   // pass 1's result
  AnalysisContext* context;  // the run this task belongs to
  BufferDescriptor fillStack;
  BufferDescriptor clearedRows;      // one byte per pixel of the section, made on the first flat area
  BufferDescriptor shapeCache;       // SHAPE_CACHE_SLOTS entries, made on first use
  BufferDescriptor edgeCache;        // EDGE_CACHE_SLOTS entries, made on first use
  BufferDescriptor rejectedCentres;  // RejectedCentre slots: centres whose measurement failed
  uint32_t rejectedCount;
  // The task whose shapes and shape cache this section uses: the task of the
  // worker that searches it (itself when null).
  AnalyzeSectionTask* shapeOwner;
  bool listFull;  // the list could not grow: reported once, takes nothing more
};

bool AnalysisMemosEnabled();

// Allocates the brightness map of the analysis image (filled by pass 1).
// 0, or the allocator's status after reporting.
int16_t PrepareBrightnessMap(AnalysisContext* context);
// Frees the analysis image and the brightness map.
void ReleaseAnalysisImage(AnalysisContext* context);

// Allocates the task's shapes (zeroed) and their radii. Reports each failed
// buffer ("Thread %d: Could not allocate buffer for ...") and returns the
// last failing status, 0 on success. The task must be zeroed before.
int16_t InitializeAnalysisTask(AnalyzeSectionTask* task, int32_t threadIndex, AnalysisContext* context);
void FreeAnalysisTask(AnalyzeSectionTask* task);

inline bool InsideAnalysisImage(const AnalysisContext& context, int32_t x, int32_t y) {
  const ImageRect& r = context.image.bufferRect;
  return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}
inline void ReadAnalysisPixel(const AnalysisContext& context, int32_t x, int32_t y, PixelValue* value) {
  context.image.readPixel(&context.image, value, x, y);
}
// Whether a flat area found by this task covers (x, y); only the task's own
// section can be covered.
inline bool ClearedByTask(const AnalyzeSectionTask& task, int32_t x, int32_t y) {
  if (task.clearedRows.buffer == nullptr || y < task.section.top || y >= task.section.bottom || x < task.section.left ||
      x >= task.section.right)
    return false;
  const size_t width = static_cast<size_t>(task.section.right - task.section.left);
  return static_cast<const uint8_t*>(task.clearedRows.buffer)[static_cast<size_t>(y - task.section.top) * width +
                                                              static_cast<size_t>(x - task.section.left)] != 0;
}
// Linear red, green and blue of a pixel inside the image: the same values
// the pixel routine reads, without its alpha and mask.
inline void ReadAnalysisColour(const AnalysisContext& context, int32_t x, int32_t y, PixelValue* value) {
  if (context.colours16 == nullptr) {
    context.image.readPixel(&context.image, value, x, y);
    return;
  }
  const uint16_t* p = context.colours16 + (static_cast<size_t>(y - context.image.bufferRect.top) *
                                               static_cast<size_t>(context.image.bufferWidth) +
                                           static_cast<size_t>(x - context.image.bufferRect.left)) *
                                              4;
  value->red = context.linearOf16[p[0]];
  value->green = context.linearOf16[p[1]];
  value->blue = context.linearOf16[p[2]];
}
inline uint32_t AnalysisBrightness(const AnalysisContext& context, int32_t x, int32_t y) {
  return BrightnessOf(context.brightness, x, y);
}
inline bool AnalysisStopRequested(const AnalysisContext& context) {
  return context.stopFlags != nullptr && context.stopFlags->stop.load(std::memory_order_relaxed);
}
inline int16_t AnalysisResultCode(const AnalysisContext& context) {
  return context.resultCode != nullptr ? context.resultCode->load(std::memory_order_relaxed) : int16_t{0};
}
