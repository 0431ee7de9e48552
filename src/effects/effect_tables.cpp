#include "effects/effect_tables.h"

#include <atomic>
#include <cmath>
#include <mutex>

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr int32_t HALF_TURN = ANGLE_STEPS / 2;
// Squared distances below this (quarter pixels squared) are cached; their
// tenths fit 16 bits.
constexpr int64_t DISTANCE_CACHE_SIZE = 429483;

float g_cosine[ANGLE_STEPS];
uint32_t g_halfCosine[ANGLE_STEPS];
std::once_flag g_tablesBuilt;

// 0 means "not computed yet" (the distance of 0 is recomputed, which costs
// nothing). Relaxed atomics: every thread computes the same value, so any
// value seen is right.
std::atomic<uint16_t> g_distanceCache[DISTANCE_CACHE_SIZE];

void BuildTables() {
  for (int32_t i = 0; i < HALF_TURN; ++i) {
    const double c = std::cos(i * PI / HALF_TURN);
    g_cosine[i] = static_cast<float>(c);
    g_cosine[i + HALF_TURN] = static_cast<float>(-c);
    const double half = (1.0 + c) / 2.0 * 4294967294.0;
    const auto fraction = static_cast<uint32_t>(std::llround(half));
    g_halfCosine[i] = fraction;
    g_halfCosine[i + HALF_TURN] = 0xFFFFFFFEu - fraction;
  }
}

uint32_t ComputeTenths(int64_t squared) {
  return static_cast<uint32_t>(std::sqrt(static_cast<double>(squared)) * 10.0 + 0.5);
}

}  // namespace

void BuildEffectTables() { std::call_once(g_tablesBuilt, BuildTables); }

// 0..3599 for any angle in tenths.
static int32_t ReduceAngle(int64_t tenths) {
  int64_t r = tenths % ANGLE_STEPS;
  if (r < 0) r += ANGLE_STEPS;
  return static_cast<int32_t>(r);
}

float CosineOf(int64_t tenths) {
  BuildEffectTables();
  return g_cosine[ReduceAngle(tenths)];
}

uint32_t HalfCosineOf(int64_t tenths) {
  BuildEffectTables();
  return g_halfCosine[ReduceAngle(tenths)];
}

uint32_t MinimumVisibleValue(int32_t bytesPerChannel) {
  if (bytesPerChannel >= 4) return 2048;
  if (bytesPerChannel == 2) return 4096;
  return 16384;
}

int64_t SmallestSquareWithTenths(uint32_t tenths) {
  if (tenths == 0) return 0;
  // Start just below the real-valued answer, then step to the exact one.
  const double root = (tenths - 0.5) / 10.0;
  int64_t squared = std::max<int64_t>(0, static_cast<int64_t>(root * root) - 2);
  while (squared > 0 && ComputeTenths(squared - 1) >= tenths) --squared;
  while (ComputeTenths(squared) < tenths) ++squared;
  return squared;
}

uint32_t DistanceTenths(int64_t dxQuarters, int64_t dyQuarters) {
  const int64_t squared = dxQuarters * dxQuarters + dyQuarters * dyQuarters;
  if (squared >= DISTANCE_CACHE_SIZE) return ComputeTenths(squared);
  std::atomic<uint16_t>& slot = g_distanceCache[squared];
  uint16_t cached = slot.load(std::memory_order_relaxed);
  if (cached == 0) {
    cached = static_cast<uint16_t>(ComputeTenths(squared));
    slot.store(cached, std::memory_order_relaxed);
  }
  return cached;
}
