#include "image/gamma_tables.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>

#include "runtime/buffers.h"
#include "runtime/report.h"

namespace {

// One cache slot: the published view and the tracked buffers behind it.
struct GammaTableSlot {
  GammaTables tables;
  BufferDescriptor code8ToLinear;
  BufferDescriptor code16ToLinear;
  BufferDescriptor linearToCode8;
  BufferDescriptor linearToCode16;
};

// Slots [0, g_published) are complete and immutable. Only the holder of the
// insertion lock writes the slot at g_published and then releases the new
// count; the lock-free reader acquires the count before reading any slot.
GammaTableSlot g_slots[GAMMA_CACHE_CAPACITY];
std::atomic<uint32_t> g_published{0};

std::mutex& GammaInsertionLock() {
  static std::mutex lock;
  return lock;
}

struct Scan {
  const GammaTables* exact;
  const GammaTables* nearest;
};

// Creation order; the first of equally near sets wins.
Scan ScanPublished(double gamma, uint32_t count) {
  Scan scan{nullptr, nullptr};
  double best = 9999.0;
  for (uint32_t i = 0; i < count; ++i) {
    const GammaTables* set = &g_slots[i].tables;
    if (set->gamma == gamma) {
      scan.exact = set;
      return scan;
    }
    const double distance = std::fabs(set->gamma - gamma);
    if (distance < best) {
      best = distance;
      scan.nearest = set;
    }
  }
  return scan;
}

void ReleaseSlot(GammaTableSlot* slot) {
  DeallocateBuffer(&slot->code8ToLinear);
  DeallocateBuffer(&slot->code16ToLinear);
  DeallocateBuffer(&slot->linearToCode8);
  DeallocateBuffer(&slot->linearToCode16);
  std::memset(&slot->tables, 0, sizeof slot->tables);
}

// Allocates and fills one slot; on failure the slot owns nothing.
bool BuildSlot(GammaTableSlot* slot, double gamma) {
  if (ReallocateBuffer(256 * sizeof(uint32_t), &slot->code8ToLinear) != 0 ||
      ReallocateBuffer(65536 * sizeof(uint32_t), &slot->code16ToLinear) != 0 ||
      ReallocateBuffer(65536 * sizeof(uint8_t), &slot->linearToCode8) != 0 ||
      ReallocateBuffer(65536 * sizeof(uint16_t), &slot->linearToCode16) != 0) {
    ReleaseSlot(slot);
    return false;
  }
  auto* code8 = static_cast<uint32_t*>(slot->code8ToLinear.buffer);
  auto* code16 = static_cast<uint32_t*>(slot->code16ToLinear.buffer);
  auto* toCode8 = static_cast<uint8_t*>(slot->linearToCode8.buffer);
  auto* toCode16 = static_cast<uint16_t*>(slot->linearToCode16.buffer);

  // The top codes are pinned to full scale so that white stays exactly white
  // whatever pow() makes of 1.0 raised to the gamma.
  for (uint32_t i = 0; i < 255; ++i) {
    code8[i] = static_cast<uint32_t>(RoundHalfToEven(std::pow(i / 255.0, gamma) * LINEAR_FULL_SCALE));
  }
  code8[255] = LINEAR_FULL_SCALE;
  const double inverse = 1.0 / gamma;
  for (uint32_t i = 0; i < 65536; ++i) {
    const double fraction = i / 65535.0;
    code16[i] = i == 65535 ? LINEAR_FULL_SCALE
                           : static_cast<uint32_t>(RoundHalfToEven(std::pow(fraction, gamma) * LINEAR_FULL_SCALE));
    const double coded = std::pow(fraction, inverse);
    toCode8[i] = static_cast<uint8_t>(RoundHalfToEven(coded * 255.0));
    toCode16[i] = static_cast<uint16_t>(RoundHalfToEven(coded * 65535.0));
  }
  slot->tables.gamma = gamma;
  slot->tables.code8ToLinear = code8;
  slot->tables.code16ToLinear = code16;
  slot->tables.linearToCode8 = toCode8;
  slot->tables.linearToCode16 = toCode16;
  return true;
}

}  // namespace

double RoundHalfToEven(double value) {
  const double below = std::floor(value);
  const double fraction = value - below;
  if (fraction > 0.5) return below + 1.0;
  if (fraction < 0.5) return below;
  return std::fmod(below, 2.0) == 0.0 ? below : below + 1.0;
}

const GammaTables* GetGammaTables(double gamma) {
  if (!std::isfinite(gamma) || gamma <= 0.0) {
    REPORT_DEBUG("GetGammaTables() received an invalid gamma value (%g).", gamma);
    return nullptr;
  }
  const Scan fast = ScanPublished(gamma, g_published.load(std::memory_order_acquire));
  if (fast.exact != nullptr) return fast.exact;

  std::lock_guard<std::mutex> lock(GammaInsertionLock());
  // Another thread may have added this gamma (or filled the cache) since the
  // lock-free scan; scan again now that the count cannot change.
  const uint32_t count = g_published.load(std::memory_order_acquire);
  const Scan locked = ScanPublished(gamma, count);
  if (locked.exact != nullptr) return locked.exact;
  if (count >= GAMMA_CACHE_CAPACITY) return locked.nearest;
  if (!BuildSlot(&g_slots[count], gamma)) {
    REPORT_DEBUG("GetGammaTables() could not allocate the tables for gamma %g.", gamma);
    return nullptr;
  }
  g_published.store(count + 1, std::memory_order_release);
  return &g_slots[count].tables;
}

uint32_t GetGammaTableSetCount() { return g_published.load(std::memory_order_acquire); }

void ResetGammaTablesForTesting() {
  std::lock_guard<std::mutex> lock(GammaInsertionLock());
  const uint32_t count = g_published.load(std::memory_order_acquire);
  g_published.store(0, std::memory_order_release);
  for (uint32_t i = 0; i < count; ++i) ReleaseSlot(&g_slots[i]);
}
