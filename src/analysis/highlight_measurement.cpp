#include "analysis/highlight_measurement.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

#include "image/pixel_access.h"
#include "runtime/report.h"

namespace {

struct Direction {
  int32_t dx;
  int32_t dy;
  bool diagonal;
};
constexpr Direction DIRECTIONS[EDGE_DIRECTIONS] = {
    {1, 0, false},  {1, 1, true},   {0, 1, false},  {-1, 1, true},
    {-1, 0, false}, {-1, -1, true}, {0, -1, false}, {1, -1, true},
};
enum : int32_t { EAST, SOUTH_EAST, SOUTH, SOUTH_WEST, WEST, NORTH_WEST, NORTH, NORTH_EAST };

constexpr double SQRT_2 = 1.4142137;
constexpr int32_t CENTRING_ITERATIONS = 12;
constexpr int32_t RADIUS_ITERATIONS = 6;
constexpr int32_t CENTRE_ITERATIONS = 4;
constexpr float RADIUS_STEP = 0.125f;
constexpr size_t FILL_STACK_STEP = 32768;  // positions
const char* const CAPTION_EXITING = "Error - Exiting Plug-in";

struct FillPosition {
  int32_t x;
  int32_t y;
};

// The levels, drops and geometry of the edge test at step i of a ray.
struct EdgeWindow {
  int64_t a;      // earlier level
  int64_t b;      // later level
  int64_t d1;     // earlier drop
  int64_t d2;     // later drop
  int64_t scale;  // diagonal scaling: drops x 100 / scale
  int64_t threshold;
  double offset;  // steps from the start to the earlier level
  double span;    // steps between the two levels
};

int64_t Mean2(const int64_t* h, int32_t i) { return (h[i] + h[i + 1]) / 2; }
int64_t Mean3(const int64_t* h, int32_t i) { return (h[i] + h[i + 1] + h[i + 2]) / 3; }

// The windows widen with the distance from the centre, so that soft edges
// further out are still seen and noise close in is not.
EdgeWindow WindowAt(const int64_t* h, int32_t i, int64_t t) {
  EdgeWindow w{};
  if (i == 2) {
    w.a = h[0];
    w.b = h[1];
    w.d1 = h[0] - h[1];
    w.d2 = h[1] - h[2];
    w.scale = 141;
    w.threshold = t;
    w.offset = 0.0;
    w.span = 1.0;
  } else if (i == 3) {
    w.a = Mean2(h, 0);
    w.b = Mean2(h, 1);
    w.d1 = w.a - w.b;
    w.d2 = w.b - Mean2(h, 2);
    w.scale = 141;
    w.threshold = t * 10 / 17;
    w.offset = 0.5;
    w.span = 1.0;
  } else if (i <= 7) {
    w.a = Mean2(h, i - 4);
    w.b = Mean2(h, i - 3);
    w.d1 = w.a - w.b;
    w.d2 = Mean2(h, i - 2) - Mean2(h, i - 1);
    w.scale = 141;
    w.threshold = t * 10 / 24;
    w.offset = i - 3.5;
    w.span = 1.0;
  } else if (i <= 11) {
    w.a = Mean3(h, i - 6);
    w.b = Mean3(h, i - 4);
    w.d1 = w.a - w.b;
    w.d2 = w.b - Mean3(h, i - 2);
    w.scale = 283;
    w.threshold = t * 10 / 35;
    w.offset = i - 5.0;
    w.span = 2.0;
  } else {
    w.a = Mean3(h, i - 8);
    w.b = Mean3(h, i - 5);
    w.d1 = w.a - w.b;
    w.d2 = w.b - Mean3(h, i - 2);
    w.scale = 424;
    w.threshold = t * 10 / (i + 33);
    w.offset = i - 7.0;
    w.span = 3.0;
  }
  return w;
}

bool ColourDiffers(const PixelValue& p, const PixelValue& p0) {
  auto differs = [](uint32_t v, uint32_t ref) {
    const uint32_t diff = v > ref ? v - ref : ref - v;
    return diff > (ref >> 3);
  };
  return differs(p.red, p0.red) || differs(p.green, p0.green) || differs(p.blue, p0.blue);
}

// The list's verdict on a position: inside a highlight found before.
bool OverlapsKnownHighlight(const AnalyzeSectionTask* task, int32_t x, int32_t y) {
  const LightSourceRecord* records = ListRecords(&task->list);
  for (uint32_t i = 0; i < task->list.count; ++i) {
    const double dx = static_cast<double>(records[i].x) - x;
    const double dy = static_cast<double>(records[i].y) - y;
    if (records[i].squaredRadius >= dx * dx + dy * dy) return true;
  }
  return false;
}

// AnalyzeShapeFrom on the analysis image's brightness, through the worker's
// cache of measurements. Failures are not kept, so that they are reported
// each time as before.
bool MeasureShape(AnalyzeSectionTask* task, bool ring, int32_t index, const QuarterPoint& c, ShapeAnalysis* analysis) {
  SamplingShape* shape = ring ? &task->ringShapes[index] : &task->diskShapes[index];
  AnalyzeSectionTask* owner = task->shapeOwner != nullptr ? task->shapeOwner : task;
  if (owner->shapeCache.buffer == nullptr &&
      ReallocateBuffer(sizeof(ShapeCacheEntry) * SHAPE_CACHE_SLOTS, &owner->shapeCache) == 0) {
    // Whatever the memory held before must not pass for an entry.
    std::memset(owner->shapeCache.buffer, 0, owner->shapeCache.size);
  }
  auto* entries = static_cast<ShapeCacheEntry*>(owner->shapeCache.buffer);
  ShapeCacheEntry* slot = nullptr;
  const uint32_t id = ((1u + (ring ? 512u : 0u) + static_cast<uint32_t>(index)) << 4) |
                      static_cast<uint32_t>((c.xQuarter & 3) << 2 | (c.yQuarter & 3));
  if (entries != nullptr && index >= 0 && index < 512 && AnalysisMemosEnabled()) {
    const uint64_t position = (static_cast<uint64_t>(static_cast<uint32_t>(c.x)) << 32) | static_cast<uint32_t>(c.y);
    const uint64_t hash = ((position * 0xC2B2AE3D27D4EB4Full) ^ id) * 0x9E3779B97F4A7C15ull;
    const size_t first = static_cast<size_t>(hash >> 40);
    for (size_t probe = 0; probe < SHAPE_CACHE_PROBES; ++probe) {
      ShapeCacheEntry* e = &entries[(first + probe) & (SHAPE_CACHE_SLOTS - 1)];
      if (e->shape == id && e->x == c.x && e->y == c.y) {
        analysis->mean = e->mean;
        analysis->deviation = e->deviation;
        return true;
      }
      if (slot == nullptr && e->shape == 0) slot = e;
    }
    // A full neighbourhood gives up its first entry.
    if (slot == nullptr) slot = &entries[first & (SHAPE_CACHE_SLOTS - 1)];
  }
  if (!AnalyzeShapeFrom(shape, task->context->brightness, c, analysis)) return false;
  if (slot != nullptr) *slot = ShapeCacheEntry{id, c.x, c.y, analysis->mean, analysis->deviation};
  return true;
}

// Score of a shape at c: the mean brightness less two deviations, at least 0.
bool ShapeScore(AnalyzeSectionTask* task, bool ring, int32_t index, const QuarterPoint& c, double* score) {
  ShapeAnalysis analysis{};
  if (!MeasureShape(task, ring, index, c, &analysis)) return false;
  *score = std::max(0.0, static_cast<double>(analysis.mean) - 2.0 * analysis.deviation);
  return true;
}

bool RingMean(AnalyzeSectionTask* task, int32_t k, const QuarterPoint& c, int64_t* mean) {
  if (k < 0 || k >= task->ringCount) return false;
  ShapeAnalysis analysis{};
  if (!MeasureShape(task, true, k, c, &analysis)) return false;
  *mean = analysis.mean;
  return true;
}

// The first failure of a run is the one that counts.
void StoreFailure(AnalysisContext& context, int16_t status) {
  int16_t expected = 0;
  if (context.resultCode != nullptr) context.resultCode->compare_exchange_strong(expected, status);
}

// Nearest whole pixel of a quarter position.
int32_t RoundQuarter(int32_t pixel, int32_t quarter) { return quarter >= 2 ? pixel + 1 : pixel; }

}  // namespace

namespace {

// The rays from (x, y). False when one of them found a large flat area (the
// distances are then meaningless).
bool TraceEdges(const AnalysisContext& context, int32_t x, int32_t y, const PixelValue& p0, EdgeDistances* result) {
  const int64_t l0 = AnalysisBrightness(context, x, y);
  const int64_t t = context.maximumBrightness / 85;
  const ImageRect& bounds = context.image.bufferRect;
  const BrightnessMap& map = context.brightness;
  const ptrdiff_t stride = map.stride;
  const uint32_t* origin = map.values + static_cast<ptrdiff_t>(y - map.rect.top) * stride + (x - map.rect.left);
  // The colours straight from the 16-bit buffer when there is one (the
  // analysis image always is), else through the pixel routine.
  const ptrdiff_t colourStride = context.image.bufferWidth;
  const uint16_t* colourOrigin =
      context.colours16 != nullptr
          ? context.colours16 + (static_cast<ptrdiff_t>(y - bounds.top) * colourStride + (x - bounds.left)) * 4
          : nullptr;
  const uint32_t* linear = context.linearOf16;
  // The 16-bit codes whose linear value lies within 1/8 of P0's, per
  // channel: the table only ever rises, so they form one interval, and a
  // step compares codes instead of looking values up.
  uint16_t low[3] = {0, 0, 0}, high[3] = {0, 0, 0};
  if (colourOrigin != nullptr) {
    const uint32_t reference[3] = {p0.red, p0.green, p0.blue};
    for (int c = 0; c < 3; ++c) {
      const uint32_t v = reference[c], tolerance = v >> 3;
      const uint32_t* first = std::lower_bound(linear, linear + 65536, v - tolerance);
      const uint32_t* last = std::upper_bound(linear, linear + 65536, v + tolerance);
      low[c] = static_cast<uint16_t>(first - linear);
      high[c] = static_cast<uint16_t>(last - linear - 1);  // P0's own code is inside
    }
  }
  int64_t h[EDGE_MAXIMUM_STEPS + 1];
  for (int32_t dir = 0; dir < EDGE_DIRECTIONS; ++dir) {
    const Direction& direction = DIRECTIONS[dir];
    // Steps before the ray leaves the image.
    int32_t steps = EDGE_MAXIMUM_STEPS;
    if (direction.dx > 0) steps = std::min(steps, bounds.right - 1 - x);
    if (direction.dx < 0) steps = std::min(steps, x - bounds.left);
    if (direction.dy > 0) steps = std::min(steps, bounds.bottom - 1 - y);
    if (direction.dy < 0) steps = std::min(steps, y - bounds.top);
    const ptrdiff_t step = direction.dy * stride + direction.dx;
    const ptrdiff_t colourStep = (direction.dy * colourStride + direction.dx) * 4;
    const uint32_t* brightness = origin;
    const uint16_t* colour = nullptr;
    h[0] = l0;
    int64_t runningMax = l0;
    int64_t runningMin = 0xFFFFFF;
    bool colourChanged = false;
    bool edge = false;
    for (int32_t i = 1; i <= steps; ++i) {
      brightness += step;
      h[i] = *brightness;
      if (!colourChanged) {
        if (colourOrigin != nullptr) {
          colour = colourOrigin + colourStep * i;
          colourChanged = colour[0] < low[0] || colour[0] > high[0] || colour[1] < low[1] || colour[1] > high[1] ||
                          colour[2] < low[2] || colour[2] > high[2];
        } else {
          PixelValue p;
          context.image.readPixel(&context.image, &p, x + i * direction.dx, y + i * direction.dy);
          colourChanged = ColourDiffers(p, p0);
        }
      }
      EdgeWindow window{};
      if (i >= 2 && std::min(h[i], runningMin) < runningMax - runningMax / 35) {
        window = WindowAt(h, i, t);
        int64_t d1 = window.d1;
        int64_t d2 = window.d2;
        if (direction.diagonal) {
          d1 = d1 * 100 / window.scale;
          d2 = d2 * 100 / window.scale;
        }
        edge = d1 > window.threshold && d1 - d2 > window.threshold;
      }
      runningMax = std::max(runningMax, h[i]);
      runningMin = std::min(runningMin, h[i]);
      if (edge) {
        const int64_t mid = (runningMin + runningMax) / 2;
        const double along =
            window.a == window.b ? 0.5 : static_cast<double>(window.a - mid) / static_cast<double>(window.a - window.b);
        // Diagonal steps are sqrt(2) pixels long.
        const double distance = along * window.span + window.offset;
        result->d[dir] = static_cast<float>(direction.diagonal ? distance * SQRT_2 : distance);
        break;
      }
    }
    // A ray that left the image, or met another colour, simply has no edge.
    if (edge || steps < EDGE_MAXIMUM_STEPS || colourChanged) continue;
    return false;
  }
  return true;
}

size_t EdgeSlot(int32_t x, int32_t y) {
  const uint64_t key = (static_cast<uint64_t>(static_cast<uint32_t>(x)) << 32) | static_cast<uint32_t>(y);
  return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> 40) & (EDGE_CACHE_SLOTS - 1);
}

}  // namespace

EdgeDistances MeasureEdgeDistances(AnalyzeSectionTask* task, int32_t x, int32_t y) {
  EdgeDistances result;
  std::fill(std::begin(result.d), std::end(result.d), NO_EDGE);
  const AnalysisContext& context = *task->context;
  if (!InsideAnalysisImage(context, x, y)) return result;

  // Distances measured before at this pixel, by this worker: the rays read
  // only brightness and colour, which the search never changes.
  AnalyzeSectionTask* owner = task->shapeOwner != nullptr ? task->shapeOwner : task;
  if (owner->edgeCache.buffer == nullptr &&
      ReallocateBuffer(sizeof(EdgeCacheEntry) * EDGE_CACHE_SLOTS, &owner->edgeCache) == 0)
    std::memset(owner->edgeCache.buffer, 0, owner->edgeCache.size);
  EdgeCacheEntry* slot = nullptr;
  if (owner->edgeCache.buffer != nullptr && AnalysisMemosEnabled()) {
    slot = &static_cast<EdgeCacheEntry*>(owner->edgeCache.buffer)[EdgeSlot(x, y)];
    if (slot->used && slot->x == x && slot->y == y) return slot->distances;
  }

  PixelValue p0{};
  ReadAnalysisColour(context, x, y, &p0);
  if (!TraceEdges(context, x, y, p0, &result)) {
    // Not a highlight but an area: it is taken out of the search, and the
    // outcome is not kept, so that every visit clears it as the first did.
    ClearFlatRegion(task, p0, x, y);
    std::fill(std::begin(result.d), std::end(result.d), NO_EDGE);
    return result;
  }
  if (slot != nullptr) *slot = EdgeCacheEntry{x, y, 1, result};
  return result;
}

MeanAndDeviation RobustMeanAndDeviation(EdgeDistances* d, float limit) {
  double sum = 0.0;
  int32_t known = 0;
  for (float v : d->d) {
    if (v >= 0.0f) {
      sum += v;
      ++known;
    }
  }
  if (known == 0) return MeanAndDeviation{-1.0f, -1.0f};
  const double m = sum / known;
  double keptSum = 0.0;
  double keptSquares = 0.0;
  int32_t kept = 0;
  for (float& v : d->d) {
    if (v < 0.0f) continue;
    const double deviation = v - m;
    if (limit <= 0.0f || std::fabs(deviation) <= limit) {
      keptSum += v;
      keptSquares += deviation * deviation;
      ++kept;
    } else {
      v = static_cast<float>(m);
    }
  }
  if (kept == 0) return MeanAndDeviation{static_cast<float>(m), 0.0f};
  return MeanAndDeviation{static_cast<float>(keptSum / kept), static_cast<float>(std::sqrt(keptSquares / kept))};
}

bool CentreFromEdgeDistances(const EdgeDistances& d, int32_t x, int32_t y, QuarterPoint* centre) {
  double v[EDGE_DIRECTIONS];
  for (int32_t i = 0; i < EDGE_DIRECTIONS; ++i) v[i] = DIRECTIONS[i].diagonal ? d.d[i] / SQRT_2 : d.d[i];
  auto meanOf = [&](int32_t a, int32_t b, int32_t c, double* mean) {
    double sum = 0.0;
    int32_t n = 0;
    for (int32_t i : {a, b, c}) {
      if (d.d[i] >= 0.0f) {
        sum += v[i];
        ++n;
      }
    }
    if (n == 0) return false;
    *mean = sum / n;
    return true;
  };
  double east = 0.0, west = 0.0, south = 0.0, north = 0.0;
  bool ok = true;
  double cx = x;
  double cy = y;
  if (meanOf(EAST, SOUTH_EAST, NORTH_EAST, &east) && meanOf(SOUTH_WEST, WEST, NORTH_WEST, &west))
    cx = x + east - west;
  else
    ok = false;
  if (meanOf(SOUTH_EAST, SOUTH, SOUTH_WEST, &south) && meanOf(NORTH_WEST, NORTH, NORTH_EAST, &north))
    cy = y + south - north;
  else
    ok = false;
  auto toQuarters = [](double value, int32_t* pixel, int32_t* quarter) {
    const double shifted = value + 0.125;
    const double whole = std::floor(shifted);
    *pixel = static_cast<int32_t>(whole);
    *quarter = std::clamp(static_cast<int32_t>((shifted - whole) * 4.0), 0, 3);
  };
  toQuarters(cx, &centre->x, &centre->xQuarter);
  toQuarters(cy, &centre->y, &centre->yQuarter);
  return ok;
}

bool LocateLightSourceCentre(AnalyzeSectionTask* task, int32_t* x, int32_t* y) {
  const AnalysisContext& context = *task->context;
  if (!InsideAnalysisImage(context, *x, *y)) return false;
  const uint32_t l0 = AnalysisBrightness(context, *x, *y);
  for (const Direction& direction : DIRECTIONS) {
    const int32_t nx = *x + direction.dx;
    const int32_t ny = *y + direction.dy;
    if (InsideAnalysisImage(context, nx, ny) && AnalysisBrightness(context, nx, ny) > l0) return false;
  }
  if (OverlapsKnownHighlight(task, *x, *y)) return false;

  EdgeDistances d = MeasureEdgeDistances(task, *x, *y);
  MeanAndDeviation spread = RobustMeanAndDeviation(&d, 0.0f);
  RobustMeanAndDeviation(&d, 1.2f * spread.deviation);
  for (int32_t iteration = 0; iteration < CENTRING_ITERATIONS; ++iteration) {
    QuarterPoint c{};
    if (!CentreFromEdgeDistances(d, *x, *y, &c)) return false;
    if (!InsideAnalysisImage(context, c.x, c.y)) break;
    const int32_t rx = RoundQuarter(c.x, c.xQuarter);
    const int32_t ry = RoundQuarter(c.y, c.yQuarter);
    if ((rx == *x && ry == *y) || !InsideAnalysisImage(context, rx, ry)) break;
    d = MeasureEdgeDistances(task, rx, ry);
    spread = RobustMeanAndDeviation(&d, 0.0f);
    RobustMeanAndDeviation(&d, 1.2f * spread.deviation);
    *x = rx;
    *y = ry;
  }
  return !OverlapsKnownHighlight(task, *x, *y);
}

bool EdgeContrastSufficient(AnalyzeSectionTask* task, float radius, const QuarterPoint& centre) {
  const AnalysisContext& context = *task->context;
  if (!InsideAnalysisImage(context, centre.x, centre.y)) return false;
  const int32_t k = static_cast<int32_t>(radius / ANALYSIS_SHAPE_STEP + 0.5f);
  const int32_t b = k >= 24 ? k / 18 + 4 : k / 10 + 2;
  if (k < b) return true;
  int64_t inner = 0, outer = 0, further = 0;
  if (!RingMean(task, k - b, centre, &inner) || !RingMean(task, k + b + 3, centre, &outer) ||
      !RingMean(task, k + b + 11, centre, &further))
    return false;
  const int32_t n = static_cast<int32_t>(context.maximumBrightness);
  const int32_t f = static_cast<int32_t>(inner);
  const int32_t d = static_cast<int32_t>(std::min(outer, further));
  // Contrast relative to the image's maximum alone lets any faint bump of a
  // bright, even area through (fog, an overcast sky), where N is the area
  // itself. A highlight must also stand out from its own surroundings by
  // more than the 1/8 within which colours count as alike.
  if (static_cast<int64_t>(f - d) * 8 < f) return false;
  if ((n - f) * 11 < (n - d) * 10) return true;
  return k < 10 && (f - d) * (10 - k) > n;
}

bool AdjustRadius(AnalyzeSectionTask* task, const QuarterPoint& centre, float* radius) {
  float r = *radius;
  enum { NONE, GROW, SHRINK } direction = NONE;
  int32_t coreIndex = -1, edgeIndex = -1, backgroundIndex = -1;
  double core = 0.0, edge = 0.0, background = 0.0;
  for (int32_t iteration = 0; iteration < RADIUS_ITERATIONS; ++iteration) {
    const int32_t b = std::max(1, static_cast<int32_t>(r / ANALYSIS_SHAPE_STEP));
    const int32_t wantCore = b / 2 + 1;
    const int32_t wantEdge = b;
    const int32_t wantBackground = 2 * b;
    if (wantCore >= task->diskCount || wantEdge >= task->ringCount || wantBackground >= task->ringCount) break;
    if (wantCore != coreIndex) {
      if (!ShapeScore(task, false, wantCore, centre, &core)) break;
      coreIndex = wantCore;
    }
    if (wantEdge != edgeIndex) {
      if (!ShapeScore(task, true, wantEdge, centre, &edge)) break;
      edgeIndex = wantEdge;
    }
    if (wantBackground != backgroundIndex) {
      if (!ShapeScore(task, true, wantBackground, centre, &background)) break;
      backgroundIndex = wantBackground;
    }
    if (!(background < core)) break;
    const double hi = core - 0.27 * (core - background);
    const double lo = core - 0.45 * (core - background);
    if (edge > hi) {
      if (!(r < MAXIMUM_HIGHLIGHT_RADIUS)) break;
      r += RADIUS_STEP;
      direction = GROW;
    } else if (edge < lo) {
      if (r < 2 * RADIUS_STEP) break;
      r -= RADIUS_STEP;
      if (direction == GROW) break;
      direction = SHRINK;
    } else {
      break;
    }
  }
  if (r == *radius) return false;
  *radius = r;
  return true;
}

bool AdjustCentre(AnalyzeSectionTask* task, QuarterPoint* centre, float radius) {
  const int32_t k = static_cast<int32_t>(radius / ANALYSIS_SHAPE_STEP);
  if (k < 0 || k >= task->ringCount) return false;
  double best = 0.0;
  if (!ShapeScore(task, true, k, *centre, &best)) return false;
  bool moved = false;
  for (int32_t iteration = 0; iteration < CENTRE_ITERATIONS; ++iteration) {
    int32_t bestDirection = -1;
    for (int32_t dir = 0; dir < EDGE_DIRECTIONS; ++dir) {
      QuarterPoint trial = *centre;
      trial.x += DIRECTIONS[dir].dx;
      trial.y += DIRECTIONS[dir].dy;
      double score = 0.0;
      if (ShapeScore(task, true, k, trial, &score) && score > best + 0.000001) {
        best = score;
        bestDirection = dir;
      }
    }
    if (bestDirection < 0) break;
    centre->x += DIRECTIONS[bestDirection].dx;
    centre->y += DIRECTIONS[bestDirection].dy;
    moved = true;
  }
  return moved;
}

namespace {

// Whether AdjustRadius can still judge a radius: its background ring, at
// twice the radius, is the largest shape it needs.
bool RadiusMeasurable(const AnalyzeSectionTask& task, float radius) {
  const int32_t b = std::max(1, static_cast<int32_t>(radius / ANALYSIS_SHAPE_STEP));
  return b / 2 + 1 < task.diskCount && 2 * b < task.ringCount;
}

}  // namespace

bool RefineRadiusAndCentre(AnalyzeSectionTask* task, QuarterPoint* centre, float* radius) {
  centre->x = RoundQuarter(centre->x, centre->xQuarter);
  centre->y = RoundQuarter(centre->y, centre->yQuarter);
  centre->xQuarter = 0;
  centre->yQuarter = 0;
  const float start = *radius;
  bool radiusChanged = AdjustRadius(task, *centre, radius);
  const int32_t limit = static_cast<int32_t>(*radius + 8.0f);
  bool centreMoved = AdjustCentre(task, centre, *radius);
  bool settled = false;
  for (int32_t iteration = 0; iteration < limit; ++iteration) {
    if (!radiusChanged && !centreMoved) {
      settled = true;
      break;
    }
    radiusChanged = AdjustRadius(task, *centre, radius);
    if (radiusChanged || centreMoved) centreMoved = AdjustCentre(task, centre, *radius);
  }
  settled = settled || (!radiusChanged && !centreMoved);
  // A radius that kept growing until its background could no longer be
  // measured never met an edge: a bright field (snow, sky, a wall), not a
  // highlight. One whose rays already measured it that large is kept.
  if (*radius > start && !RadiusMeasurable(*task, *radius)) return false;
  return settled || *radius <= 8.0f;
}

bool RefineCentreToQuarters(AnalyzeSectionTask* task, QuarterPoint* centre, float radius) {
  const AnalysisContext& context = *task->context;
  // The refined radius lies about half a pixel inside the edge, and the
  // centre may be half a pixel off: the window takes in the whole edge, the
  // background is measured just beyond it.
  const int32_t window = std::min(static_cast<int32_t>((radius + 2.5f) / ANALYSIS_SHAPE_STEP), task->diskCount - 1);
  const int32_t outside = std::min(static_cast<int32_t>((radius + 3.5f) / ANALYSIS_SHAPE_STEP), task->ringCount - 1);
  const QuarterPoint whole{centre->x, 0, centre->y, 0};
  ShapeAnalysis background{};
  if (window < 0 || outside < 0 || !MeasureShape(task, true, outside, whole, &background)) return false;
  SubShape* sub = PrepareSubShape(&task->diskShapes[window], 0, 0, "RefineCentreToQuarters");
  if (sub == nullptr) return false;
  const ShapeSample* samples = static_cast<const ShapeSample*>(sub->samples.buffer);
  double sum = 0.0, sumX = 0.0, sumY = 0.0;
  for (int32_t s = 0; s < sub->sampleCount; ++s) {
    const int32_t x = whole.x + samples[s].dx;
    const int32_t y = whole.y + samples[s].dy;
    if (!InsideAnalysisImage(context, x, y)) continue;
    const uint32_t brightness = AnalysisBrightness(context, x, y);
    if (brightness <= background.mean) continue;
    const double v = static_cast<double>(brightness - background.mean) * samples[s].weight;
    sum += v;
    sumX += v * samples[s].dx;
    sumY += v * samples[s].dy;
  }
  if (!(sum > 0.0)) return false;
  auto toQuarters = [](int32_t pixel, double shift, int32_t* outPixel, int32_t* outQuarter) {
    const int64_t quarters =
        static_cast<int64_t>(pixel) * 4 + static_cast<int64_t>(std::floor(std::clamp(shift, -0.5, 0.5) * 4.0 + 0.5));
    const int64_t whole = quarters >= 0 ? quarters / 4 : -((-quarters + 3) / 4);
    *outPixel = static_cast<int32_t>(whole);
    *outQuarter = static_cast<int32_t>(quarters - whole * 4);
  };
  toQuarters(whole.x, sumX / sum, &centre->x, &centre->xQuarter);
  toQuarters(whole.y, sumY / sum, &centre->y, &centre->yQuarter);
  return true;
}

bool ClearFlatRegion(AnalyzeSectionTask* task, const PixelValue& p0, int32_t x, int32_t y) {
  AnalysisContext& context = *task->context;
  const Image* image = &context.image;
  // Only the task's own section is cleared, in the task's own map: what one
  // section's search takes out never depends on how far another has got.
  const ImageRect& area = task->section;
  auto inside = [&](int32_t px, int32_t py) {
    return px >= area.left && px < area.right && py >= area.top && py < area.bottom &&
           InsideAnalysisImage(context, px, py);
  };
  if (!inside(x, y)) return true;
  const size_t width = static_cast<size_t>(area.right - area.left);
  if (task->clearedRows.buffer == nullptr) {
    const size_t bytes = width * static_cast<size_t>(area.bottom - area.top);
    const int16_t status = ReallocateBuffer(bytes, &task->clearedRows);
    if (status != 0) {
      REPORT_USER(STYLE_ERROR, CAPTION_EXITING, "Unable to allocate memory for a flood fill list.");
      StoreFailure(context, status);
      return false;
    }
    std::memset(task->clearedRows.buffer, 0, bytes);
  }
  auto* cleared = static_cast<uint8_t*>(task->clearedRows.buffer);
  auto at = [&](int32_t px, int32_t py) -> uint8_t& {
    return cleared[static_cast<size_t>(py - area.top) * width + static_cast<size_t>(px - area.left)];
  };
  at(x, y) = 1;
  size_t depth = 0;
  FillPosition current{x, y};
  static constexpr int32_t NEIGHBOURS[4][2] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
  for (;;) {
    for (const auto& n : NEIGHBOURS) {
      const int32_t nx = current.x + n[0];
      const int32_t ny = current.y + n[1];
      if (!inside(nx, ny) || at(nx, ny) != 0) continue;
      PixelValue p;
      image->readPixel(image, &p, nx, ny);
      // Outside the selection the fill does not go, nor into other colours.
      if (p.mask == 0 || p.alpha == 0 || ColourDiffers(p, p0)) continue;
      at(nx, ny) = 1;
      if (depth >= task->fillStack.size / sizeof(FillPosition)) {
        const size_t grown = (task->fillStack.size / sizeof(FillPosition) + FILL_STACK_STEP) * sizeof(FillPosition);
        const int16_t status = ReallocateBufferPreserveContents(grown, &task->fillStack);
        if (status != 0) {
          REPORT_USER(STYLE_ERROR, CAPTION_EXITING, "Unable to allocate memory for a flood fill list.");
          StoreFailure(context, status);
          return false;
        }
      }
      static_cast<FillPosition*>(task->fillStack.buffer)[depth++] = FillPosition{nx, ny};
    }
    if (depth == 0) break;
    current = static_cast<FillPosition*>(task->fillStack.buffer)[--depth];
  }
  return true;
}
