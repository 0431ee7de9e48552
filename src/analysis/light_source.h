#pragma once
// What the highlight analysis shares: the light source record of the
// per-thread lists and of the master table, quarter-pixel positions,
// brightness, fraction arithmetic and the stop flags of a filter run.
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "runtime/buffers.h"

// Fractions: 0xFFFFFFFE stands for 1.0.
constexpr uint32_t FRACTION_FULL = 0xFFFFFFFE;
constexpr double FRACTION_SCALE = 4294967294.0;

// Fraction products: exact (the high 32 bits of the 64-bit product) or the
// fast split-shift approximation. Which one a measurement uses is its
// caller's choice, passed along (the analysis always measures exactly); the
// plain product is the exact one.
enum FractionPrecision : uint8_t { FRACTION_EXACT, FRACTION_FAST };

inline uint32_t FractionProductExact(uint32_t a, uint32_t b) {
  return static_cast<uint32_t>((static_cast<uint64_t>(a) * b) >> 32);
}
inline uint32_t FractionProductFast(uint32_t a, uint32_t b) { return (a >> 18) * (b >> 14); }
inline uint32_t FractionProduct(uint32_t a, uint32_t b) { return FractionProductExact(a, b); }

// A real value in [0, 1] as a fraction, rounded to nearest.
inline uint32_t FractionFromReal(double v) {
  if (!(v > 0.0)) return 0;
  if (v >= 1.0) return FRACTION_FULL;
  return static_cast<uint32_t>(v * FRACTION_SCALE + 0.5);
}

// Brightness of a linear colour in 24-bit units; every integer division
// truncates, as the ranking depends on exactly these values.
inline uint32_t Brightness(uint32_t red, uint32_t green, uint32_t blue) {
  return ((red >> 2) + (green >> 2) + (blue >> 2)) / 3 * 4;
}

// A position: integer pixel plus quarter pixels (0..3) on each axis.
struct QuarterPoint {
  int32_t x;
  int32_t xQuarter;
  int32_t y;
  int32_t yQuarter;
};

enum LightSourceState : int32_t {
  LIGHT_SOURCE_HIDDEN = 0,
  LIGHT_SOURCE_SHOWN = 1,
  LIGHT_SOURCE_FORCED = 2,
};

// One highlight, 56 bytes; the layout is shared by the per-thread lists and
// the master table.
struct LightSourceRecord {
  int32_t x;
  int32_t xQuarter;
  int32_t y;
  int32_t yQuarter;
  float radius;
  float squaredRadius;   // the overlap measure
  uint32_t brightness;   // ranking key, set when the table is normalised
  uint32_t red;          // fractions: colour scaled by the highlight's weight
  uint32_t green;
  uint32_t blue;
  uint32_t effectWeight;  // FRACTION_FULL at creation
  uint32_t reserved;      // 0xFFFFFFFF at creation
  int32_t state;
  int32_t previousState;
};
static_assert(sizeof(LightSourceRecord) == 56, "light source records are 56 bytes");
static_assert(offsetof(LightSourceRecord, brightness) == 24, "brightness is field 6");
static_assert(offsetof(LightSourceRecord, state) == 48, "state is field 12");

// A list of records in a tracked buffer: a worker's list or the master table.
struct LightSourceList {
  uint32_t count;
  BufferDescriptor records;  // capacity = records.size / 56
  int32_t changeCounter;
  float largestRadius;
};

inline LightSourceRecord* ListRecords(LightSourceList* list) {
  return static_cast<LightSourceRecord*>(list->records.buffer);
}
inline const LightSourceRecord* ListRecords(const LightSourceList* list) {
  return static_cast<const LightSourceRecord*>(list->records.buffer);
}
inline uint32_t ListCapacity(const LightSourceList* list) {
  return static_cast<uint32_t>(list->records.size / sizeof(LightSourceRecord));
}

// The two stop flags of a filter run, owned by the run: set together when the
// run ends or is cancelled. Loops poll `stop`; the table's normalisation
// polls `stopAll`.
struct AnalysisStopFlags {
  std::atomic<bool> stop{false};
  std::atomic<bool> stopAll{false};
};
