#include "analysis/light_source_detection.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <vector>

#include "analysis/highlight_measurement.h"
#include "runtime/report.h"
#include "runtime/test_hooks.h"

// Sorts a list by row, then column, then quarters, so that the order does
// not depend on the order the highlights were found in.
static void SortListByPosition(LightSourceList* list);

namespace {

constexpr uint32_t LIST_GROWTH = 8192;  // records
constexpr uint32_t UNRANKED_COLOUR = 0xFFFFFF;
constexpr uint32_t DEFAULT_CORE = 0x00FFFFFF;

bool RunEnding(const AnalysisContext& context) {
  return AnalysisStopRequested(context) || AnalysisResultCode(context) != 0;
}

// Channel scaled so that the largest of the three becomes full.
uint32_t NormalisedChannel(uint32_t channel, uint32_t largest) {
  if (largest == 0) return FRACTION_FULL;
  const uint64_t quotient = (static_cast<uint64_t>(channel) << 32) / largest;
  return quotient >= FRACTION_FULL ? FRACTION_FULL : static_cast<uint32_t>(quotient);
}

bool InsideSelection(const AnalyzeSectionTask& task, const QuarterPoint& c) {
  const AnalysisContext& context = *task.context;
  if (!InsideAnalysisImage(context, c.x, c.y)) return false;
  PixelValue p;
  ReadAnalysisPixel(context, c.x, c.y, &p);
  return p.mask >= SELECTED_MASK && p.alpha != 0 && !ClearedByTask(task, c.x, c.y);
}

size_t CentreSlot(int32_t x, int32_t y, size_t slots) {
  const uint64_t key = (static_cast<uint64_t>(static_cast<uint32_t>(x)) << 32) | static_cast<uint32_t>(y);
  return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> 32) & (slots - 1);
}

bool WasRejected(const AnalyzeSectionTask& task, int32_t x, int32_t y) {
  const auto* slots = static_cast<const RejectedCentre*>(task.rejectedCentres.buffer);
  const size_t count = task.rejectedCentres.size / sizeof(RejectedCentre);
  if (slots == nullptr) return false;
  for (size_t i = CentreSlot(x, y, count);; i = (i + 1) & (count - 1)) {
    if (!slots[i].used) return false;
    if (slots[i].x == x && slots[i].y == y) return true;
  }
}

// Remembers a rejected centre; without memory it is simply measured again
// next time.
void RememberRejection(AnalyzeSectionTask* task, int32_t x, int32_t y) {
  size_t count = task->rejectedCentres.size / sizeof(RejectedCentre);
  if ((task->rejectedCount + 1) * 2 > count) {
    const size_t grown = count == 0 ? 1024 : count * 2;
    BufferDescriptor bigger{};
    if (ReallocateBuffer(grown * sizeof(RejectedCentre), &bigger) != 0) return;
    std::memset(bigger.buffer, 0, bigger.size);
    auto* target = static_cast<RejectedCentre*>(bigger.buffer);
    const auto* old = static_cast<const RejectedCentre*>(task->rejectedCentres.buffer);
    for (size_t i = 0; i < count; ++i) {
      if (!old[i].used) continue;
      size_t j = CentreSlot(old[i].x, old[i].y, grown);
      while (target[j].used) j = (j + 1) & (grown - 1);
      target[j] = old[i];
    }
    DeallocateBuffer(&task->rejectedCentres);
    task->rejectedCentres = bigger;
    count = grown;
  }
  auto* slots = static_cast<RejectedCentre*>(task->rejectedCentres.buffer);
  size_t i = CentreSlot(x, y, count);
  while (slots[i].used) {
    if (slots[i].x == x && slots[i].y == y) return;
    i = (i + 1) & (count - 1);
  }
  slots[i] = RejectedCentre{x, y, 1};
  ++task->rejectedCount;
}

int64_t FloorDiv4(int64_t v) { return v >= 0 ? v / 4 : -((-v + 3) / 4); }

}  // namespace

uint32_t MeasureSectionMaximum(void* argument) {
  auto* task = static_cast<AnalyzeSectionTask*>(argument);
  const AnalysisContext& context = *task->context;
  uint32_t maximum = 0;
  PixelValue p;
  // Every pixel's brightness goes into the map (whatever its alpha: the
  // shapes measure them all); only opaque ones count for the maximum.
  auto* map = const_cast<uint32_t*>(context.brightness.values);
  for (int32_t y = task->section.top; y < task->section.bottom; ++y) {
    if (RunEnding(context)) break;
    uint32_t* row = map != nullptr ? map +
                                         static_cast<size_t>(y - context.brightness.rect.top) *
                                             static_cast<size_t>(context.brightness.stride) +
                                         static_cast<size_t>(task->section.left - context.brightness.rect.left)
                                   : nullptr;
    for (int32_t x = task->section.left; x < task->section.right; ++x) {
      ReadAnalysisPixel(context, x, y, &p);
      const uint32_t brightness = Brightness(p.red, p.green, p.blue);
      if (row != nullptr) row[x - task->section.left] = brightness;
      if (p.alpha != 0) maximum = std::max(maximum, brightness);
    }
  }
  task->sectionMaximum = RunEnding(context) ? 0 : maximum;
  return 0;
}

uint32_t AnalyzeSection(void* argument) {
  auto* task = static_cast<AnalyzeSectionTask*>(argument);
  AnalysisContext& context = *task->context;
  const uint32_t n = context.maximumBrightness;
  const uint64_t candidateLevel = static_cast<uint64_t>(n) * 7 / 10;
  PixelValue p;
  for (int32_t y = task->section.top; y < task->section.bottom; ++y) {
    bool ending = RunEnding(context);
    for (int32_t x = task->section.left; x < task->section.right && !ending; ++x) {
      ReadAnalysisPixel(context, x, y, &p);
      if (p.mask < SELECTED_MASK || p.alpha == 0 || ClearedByTask(*task, x, y)) continue;
      if (Brightness(p.red, p.green, p.blue) >= candidateLevel || p.red >= n || p.green >= n || p.blue >= n) {
        ExtractLightSource(task, x, y);
        ending = RunEnding(context);
      }
    }
    const int32_t done = context.rowsDone.fetch_add(1, std::memory_order_relaxed) + 1;
    if (TestHooks* hooks = ActiveTestHooks())
      if (AnalysisRowObserver observer = hooks->analysisRowObserver.load(std::memory_order_relaxed)) observer(done);
    if (ending) break;
  }
  SortListByPosition(&task->list);
  return 0;
}

namespace {

struct MeasuredHighlight {
  QuarterPoint centre;
  float radius;
  uint32_t red;  // normalised colour times the highlight's weight
  uint32_t green;
  uint32_t blue;
};

// Everything ExtractLightSource does after the centre pixel is found, up to
// the list: edges, contrast, refinement, colour and weight.
bool MeasureLocatedHighlight(AnalyzeSectionTask* task, int32_t x, int32_t y, MeasuredHighlight* out) {
  AnalysisContext& context = *task->context;
  EdgeDistances d = MeasureEdgeDistances(task, x, y);
  const MeanAndDeviation spread = RobustMeanAndDeviation(&d, 0.0f);
  if (spread.deviation == -1.0f) return false;
  RobustMeanAndDeviation(&d, 0.75f * spread.deviation);
  double sum = 0.0;
  int32_t known = 0;
  for (float v : d.d) {
    if (v > 0.0f) {
      sum += v;
      ++known;
    }
  }
  if (known == 0) return false;
  float radius = static_cast<float>(sum / known);
  if (!(radius > 0.0f && radius <= MAXIMUM_HIGHLIGHT_RADIUS)) return false;

  QuarterPoint c{};
  if (!CentreFromEdgeDistances(d, x, y, &c)) return false;
  if (!EdgeContrastSufficient(task, radius, c)) return false;
  if (!RefineRadiusAndCentre(task, &c, &radius)) return false;
  // The refinement works in whole pixels; the effects are drawn at quarter
  // pixels, and the radius is best judged around the centre they will use.
  if (RefineCentreToQuarters(task, &c, radius)) AdjustRadius(task, c, &radius);

  const int32_t k = static_cast<int32_t>(radius / ANALYSIS_SHAPE_STEP + 0.5f);
  PixelValue colour{UNRANKED_COLOUR, UNRANKED_COLOUR, UNRANKED_COLOUR, FRACTION_FULL, FRACTION_FULL};
  if (k < task->ringCount && !SampleShapeFrom(&task->ringShapes[k], &context.image, c, &colour)) return false;

  // The core's brightness, as a fraction, weighs the highlight: f^4, less
  // for highlights smaller than the largest radius.
  uint32_t core = DEFAULT_CORE;
  ShapeAnalysis analysis{};
  // The core is judged one pixel inside the radius (the disk's one-pixel soft
  // edge ends half a pixel inside it): the disk of radius R reaches half a
  // pixel beyond the measured edge, and on a small highlight those rim pixels
  // dominate the deviation and crush f.
  const int32_t coreDisk = std::max(0, static_cast<int32_t>((radius - 1.0f) / ANALYSIS_SHAPE_STEP + 0.5f));
  if (k < task->diskCount && AnalyzeShapeFrom(&task->diskShapes[coreDisk], context.brightness, c, &analysis)) {
    const double level = std::max(0.0, static_cast<double>(analysis.mean) - 2.0 * analysis.deviation);
    core = static_cast<uint32_t>(level) << 8;
  }
  const uint32_t coreSquared = FractionProduct(core, core);
  const double sizeFactor = std::sqrt(radius / MAXIMUM_HIGHLIGHT_RADIUS);
  uint32_t weight;
  if (sizeFactor < 1.0) {
    const uint32_t q = FractionFromReal(sizeFactor);
    const uint32_t scaled = FractionProduct(q, coreSquared);
    weight = FractionProduct(scaled, scaled);
  } else {
    weight = FractionProduct(coreSquared, coreSquared);
  }

  const uint32_t largest = std::max({colour.red, colour.green, colour.blue});
  out->red = FractionProduct(NormalisedChannel(colour.red, largest), weight);
  out->green = FractionProduct(NormalisedChannel(colour.green, largest), weight);
  out->blue = FractionProduct(NormalisedChannel(colour.blue, largest), weight);
  out->centre = c;
  out->radius = radius;
  return InsideSelection(*task, c);
}

}  // namespace

bool ExtractLightSource(AnalyzeSectionTask* task, int32_t x, int32_t y) {
  if (!LocateLightSourceCentre(task, &x, &y)) return false;
  // Many candidate pixels of one bright area lead to the same centre.
  if (AnalysisMemosEnabled() && WasRejected(*task, x, y)) return false;
  MeasuredHighlight highlight{};
  if (!MeasureLocatedHighlight(task, x, y, &highlight)) {
    RememberRejection(task, x, y);
    return false;
  }
  return AddLightSource(task, highlight.radius, highlight.radius * highlight.radius, highlight.red, highlight.green,
                        highlight.blue, highlight.centre);
}

namespace {

// What a measurement says of a highlight: where, how large, what colour.
void PutMeasurement(LightSourceRecord* e, const QuarterPoint& position, float radius, float squaredRadius,
                    uint32_t red, uint32_t green, uint32_t blue) {
  e->x = position.x;
  e->xQuarter = position.xQuarter;
  e->y = position.y;
  e->yQuarter = position.yQuarter;
  e->radius = radius;
  e->squaredRadius = squaredRadius;
  e->red = red;
  e->green = green;
  e->blue = blue;
}

// AddLightSource on any list; `full` is the list's own "cannot grow" state.
bool AddToList(LightSourceList* list, bool* full, AnalysisContext* context, float radius, float squaredRadius,
               uint32_t red, uint32_t green, uint32_t blue, const QuarterPoint& position) {
  LightSourceRecord* records = ListRecords(list);
  const int64_t w = static_cast<int64_t>(std::max(list->largestRadius, radius));
  uint32_t i = 0;
  while (i < list->count && records[i].y < position.y - w - 4) ++i;
  bool matched = false;
  LightSourceRecord* replaced = nullptr;
  bool removals = false;
  for (; i < list->count; ++i) {
    LightSourceRecord& e = records[i];
    if (std::llabs(static_cast<int64_t>(e.y) - position.y) > w + 4 ||
        std::llabs(static_cast<int64_t>(e.x) - position.x) > w + 4)
      continue;
    const float dx =
        static_cast<float>(e.xQuarter + (static_cast<int64_t>(e.x) - position.x) * 4 - position.xQuarter) / 4.0f;
    const float dy =
        static_cast<float>(e.yQuarter + (static_cast<int64_t>(e.y) - position.y) * 4 - position.yQuarter) / 4.0f;
    if (!(std::max(e.squaredRadius, squaredRadius) > dx * dx + dy * dy) || e.state != LIGHT_SOURCE_SHOWN) continue;
    matched = true;
    if (!(squaredRadius > e.squaredRadius)) continue;
    if (replaced != nullptr) {
      // A second smaller highlight inside the new one: replacing it too
      // would leave two copies of one highlight, and two stars on it.
      e.state = LIGHT_SOURCE_HIDDEN;
      e.previousState = -1;  // marks the record for removal below
      removals = true;
      continue;
    }
    replaced = &e;
    PutMeasurement(&e, position, radius, squaredRadius, red, green, blue);
    list->largestRadius = std::max(list->largestRadius, radius);
  }
  if (removals) {
    uint32_t kept = 0;
    for (uint32_t k = 0; k < list->count; ++k) {
      if (records[k].previousState == -1) continue;
      records[kept++] = records[k];
    }
    list->count = kept;
  }
  const bool changed = replaced != nullptr;
  if (matched) return changed;
  if (*full) return false;

  if (list->count >= ListCapacity(list)) {
    const size_t grown = (static_cast<size_t>(ListCapacity(list)) + LIST_GROWTH) * sizeof(LightSourceRecord);
    if (ReallocateBufferPreserveContents(grown, &list->records) != 0) {
      // The search goes on, as the highlights already listed are sound; the
      // user learns once that the table will lack some.
      *full = true;
      if (context != nullptr && !context->listGrowthReported.exchange(true))
        REPORT_USER(STYLE_WARNING, "Warning", "Low memory.  Check image - some effects may not be rendered.");
      return false;
    }
    records = ListRecords(list);
  }
  LightSourceRecord& added = records[list->count];
  std::memset(&added, 0, sizeof added);
  PutMeasurement(&added, position, radius, squaredRadius, red, green, blue);
  added.effectWeight = FRACTION_FULL;
  added.reserved = 0xFFFFFFFF;
  added.state = LIGHT_SOURCE_SHOWN;
  added.previousState = LIGHT_SOURCE_SHOWN;
  ++list->count;
  list->largestRadius = std::max(list->largestRadius, radius);
  return true;
}

}  // namespace

bool AddLightSource(AnalyzeSectionTask* task, float radius, float squaredRadius, uint32_t red, uint32_t green,
                    uint32_t blue, const QuarterPoint& position) {
  return AddToList(&task->list, &task->listFull, task->context, radius, squaredRadius, red, green, blue, position);
}

void GatherHighlightsBySection(AnalyzeSectionTask* tasks, int32_t count) {
  if (tasks == nullptr || count <= 0) return;
  std::vector<LightSourceList> gathered(static_cast<size_t>(count), LightSourceList{});
  std::vector<uint8_t> full(static_cast<size_t>(count), 0);
  for (int32_t k = 0; k < count; ++k) {
    const LightSourceRecord* records = ListRecords(&tasks[k].list);
    for (uint32_t i = 0; i < tasks[k].list.count; ++i) {
      const LightSourceRecord& e = records[i];
      // The section whose rows hold the centre; the first and the last
      // section take what lies above or below the image.
      int32_t target = 0;
      while (target + 1 < count && e.y >= tasks[target + 1].section.top) ++target;
      bool targetFull = full[target] != 0;
      AddToList(&gathered[target], &targetFull, tasks[k].context, e.radius, e.squaredRadius, e.red, e.green, e.blue,
                QuarterPoint{e.x, e.xQuarter, e.y, e.yQuarter});
      full[target] = targetFull ? 1 : 0;
    }
  }
  for (int32_t k = 0; k < count; ++k) {
    DeallocateBuffer(&tasks[k].list.records);
    tasks[k].list = gathered[k];
    SortListByPosition(&tasks[k].list);
  }
}

static void SortListByPosition(LightSourceList* list) {
  LightSourceRecord* records = ListRecords(list);
  if (records == nullptr || list->count < 2) return;
  std::sort(records, records + list->count, [](const LightSourceRecord& a, const LightSourceRecord& b) {
    if (a.y != b.y) return a.y < b.y;
    if (a.yQuarter != b.yQuarter) return a.yQuarter < b.yQuarter;
    if (a.x != b.x) return a.x < b.x;
    if (a.xQuarter != b.xQuarter) return a.xQuarter < b.xQuarter;
    return a.squaredRadius < b.squaredRadius;
  });
}

void AnalysisToHostCoordinate(const AnalysisToHost& mapping, bool vertical, int32_t pixel, int32_t quarter,
                              int32_t* hostPixel, int32_t* hostQuarter) {
  const int64_t hostStart = vertical ? mapping.host.top : mapping.host.left;
  const int64_t hostSize =
      vertical ? int64_t{mapping.host.bottom} - mapping.host.top : int64_t{mapping.host.right} - mapping.host.left;
  const int64_t start = vertical ? mapping.analysis.top : mapping.analysis.left;
  const int64_t size = vertical ? int64_t{mapping.analysis.bottom} - mapping.analysis.top
                                : int64_t{mapping.analysis.right} - mapping.analysis.left;
  double host = pixel + quarter / 4.0;
  if (size > 0 && hostSize > 0 && size != hostSize) {
    // The centre of the block the reduction averaged for this pixel, plus
    // the quarters at the host's scale.
    const int64_t index = int64_t{pixel} - start;
    const int64_t blockStart = index >= 0 ? index * hostSize / size : -((-index * hostSize + size - 1) / size);
    const int64_t block = (hostSize + size - 1) / size;
    host = static_cast<double>(hostStart + blockStart) + (block - 1) / 2.0 +
           quarter / 4.0 * static_cast<double>(hostSize) / static_cast<double>(size);
  } else {
    host += static_cast<double>(hostStart - start);
  }
  const int64_t quarters = static_cast<int64_t>(std::floor(host * 4.0 + 0.5));
  const int64_t whole = FloorDiv4(quarters);
  *hostPixel = static_cast<int32_t>(whole);
  *hostQuarter = static_cast<int32_t>(quarters - whole * 4);
}

void ConvertListToHostCoordinates(LightSourceList* list, const AnalysisToHost& mapping) {
  LightSourceRecord* records = ListRecords(list);
  const bool same = mapping.host.left == mapping.analysis.left && mapping.host.top == mapping.analysis.top &&
                    mapping.host.right == mapping.analysis.right && mapping.host.bottom == mapping.analysis.bottom;
  if (same || records == nullptr) return;
  for (uint32_t i = 0; i < list->count; ++i) {
    LightSourceRecord& e = records[i];
    AnalysisToHostCoordinate(mapping, false, e.x, e.xQuarter, &e.x, &e.xQuarter);
    AnalysisToHostCoordinate(mapping, true, e.y, e.yQuarter, &e.y, &e.yQuarter);
    e.radius = static_cast<float>(mapping.scale * e.radius);
    // The overlap measure stays the square of the radius in the coordinates
    // the record is in, so that the table compares host distances with host
    // radii.
    e.squaredRadius = e.radius * e.radius;
  }
  list->largestRadius = static_cast<float>(mapping.scale * list->largestRadius);
  SortListByPosition(list);
}
