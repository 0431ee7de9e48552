#include "analysis/light_source_table.h"

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "runtime/report.h"
#include "runtime/status.h"

namespace {

// A radius beyond any image, which keeps the window arithmetic far from
// overflowing 64 bits.
constexpr int64_t RADIUS_LIMIT = int64_t{1} << 30;

// trunc(radius) for window arithmetic, robust against NaN, negative and huge
// values from a damaged list.
int64_t TruncatedRadius(float radius) {
  if (!(radius > 0.0f)) return 0;
  if (radius >= static_cast<float>(RADIUS_LIMIT)) return RADIUS_LIMIT;
  return static_cast<int64_t>(radius);
}

int64_t AbsDifference(int32_t a, int32_t b) {
  const int64_t d = static_cast<int64_t>(a) - b;
  return d < 0 ? -d : d;
}

// Distance in pixels along one axis between two quarter-pixel positions,
// from `to` towards `from`.
float QuarterDistance(int32_t from, int32_t fromQuarter, int32_t to, int32_t toQuarter) {
  const int64_t quarters = (static_cast<int64_t>(from) - to) * 4 + fromQuarter - toQuarter;
  return static_cast<float>(quarters) / 4.0f;
}

// Final tie-break of both sorts: the record's bytes. The record has no
// padding, so equal bytes mean equal records and the order is total; the
// result therefore never depends on the order the lists arrived in.
bool BytesBefore(const LightSourceRecord& a, const LightSourceRecord& b) {
  return std::memcmp(&a, &b, sizeof(LightSourceRecord)) < 0;
}

bool PositionBefore(const LightSourceRecord& a, const LightSourceRecord& b) {
  if (a.y != b.y) return a.y < b.y;
  if (a.yQuarter != b.yQuarter) return a.yQuarter < b.yQuarter;
  if (a.x != b.x) return a.x < b.x;
  if (a.xQuarter != b.xQuarter) return a.xQuarter < b.xQuarter;
  return BytesBefore(a, b);
}

bool BrighterFirst(const LightSourceRecord& a, const LightSourceRecord& b) {
  if (a.brightness != b.brightness) return a.brightness > b.brightness;
  return PositionBefore(a, b);
}

// channel × 2^32 / M, saturated at full; full when there is no maximum.
uint32_t NormalizedChannel(uint32_t channel, uint32_t maximum) {
  if (maximum == 0) return FRACTION_FULL;
  const uint64_t quotient = (static_cast<uint64_t>(channel) << 32) / maximum;
  return quotient >= 0xFFFFFFFFu ? FRACTION_FULL : static_cast<uint32_t>(quotient);
}

bool IsKnownOperation(LightSourceOperation operation) {
  return operation >= LIGHT_SOURCE_HIDE && operation <= LIGHT_SOURCE_UNFORCE;
}

bool OperationApplies(const LightSourceRecord& entry, LightSourceOperation operation) {
  switch (operation) {
    case LIGHT_SOURCE_UNHIDE:
      return entry.state == LIGHT_SOURCE_HIDDEN;
    case LIGHT_SOURCE_UNFORCE:
      return entry.state == LIGHT_SOURCE_FORCED;
    default:
      return true;
  }
}

void ApplyOperation(LightSourceRecord* entry, LightSourceOperation operation) {
  switch (operation) {
    case LIGHT_SOURCE_HIDE:
    case LIGHT_SOURCE_FORCE: {
      const int32_t target = operation == LIGHT_SOURCE_HIDE ? LIGHT_SOURCE_HIDDEN : LIGHT_SOURCE_FORCED;
      if (entry->state != target) {
        entry->previousState = entry->state;
        entry->state = target;
      }
      break;
    }
    case LIGHT_SOURCE_UNHIDE:
    case LIGHT_SOURCE_UNFORCE: {
      // Hide, force, unforce leaves "hidden" as both state and previous
      // state; restoring it literally would make the entry impossible to
      // unhide. Leaving a state never returns to that same state.
      const int32_t leaving = operation == LIGHT_SOURCE_UNHIDE ? LIGHT_SOURCE_HIDDEN : LIGHT_SOURCE_FORCED;
      entry->state = entry->previousState == leaving ? LIGHT_SOURCE_SHOWN : entry->previousState;
      break;
    }
  }
}

// Grows the master buffer to hold `count` records; old entries survive a
// failure.
int16_t GrowMaster(MasterLightSourceTable* master, uint64_t count) {
  const uint64_t bytes = count * sizeof(LightSourceRecord);
  if (count > std::numeric_limits<uint32_t>::max() || bytes > std::numeric_limits<size_t>::max()) {
    return STATUS_OUT_OF_MEMORY;
  }
  return ReallocateBufferPreserveContents(static_cast<size_t>(bytes), &master->list.records);
}

// A list the merge can read safely: every counted record lies in its buffer,
// and the buffer is not the master's own, which growing would move.
bool IsUsableList(const MasterLightSourceTable* master, const LightSourceList& list) {
  if (list.count > ListCapacity(&list) || list.records.buffer == nullptr) {
    REPORT_DEBUG("AddLightSourceTableToTable() - The list claims %u light sources but holds room for %u.", list.count,
                 ListCapacity(&list));
    return false;
  }
  if (list.records.buffer == master->list.records.buffer) {
    REPORT_DEBUG("AddLightSourceTableToTable() - The master table cannot be merged into itself.");
    return false;
  }
  return true;
}

}  // namespace

const LightSourceList& GetMasterLightSourceTable(const MasterLightSourceTable* master) { return master->list; }

int16_t PreallocateMasterLightSourceTable(MasterLightSourceTable* master, uint32_t count) {
  return GrowMaster(master, count);
}

void AddLightSourceTableToTable(MasterLightSourceTable* master, int32_t sectionTop, const LightSourceList& list) {
  if (list.count == 0) return;
  if (!IsUsableList(master, list)) return;

  const uint64_t needed = static_cast<uint64_t>(master->list.count) + list.count;
  if (needed > ListCapacity(&master->list) && GrowMaster(master, needed) != 0) {
    REPORT_DEBUG("AddLightSourceTableToTable() - Allocation Failed:  Requested %" PRIu64 " bytes.",
                 needed * sizeof(LightSourceRecord));
    return;
  }
  if (master->stopFlags != nullptr && master->stopFlags->stop.load()) return;

  LightSourceRecord* table = ListRecords(&master->list);
  const LightSourceRecord* incoming = ListRecords(&list);
  if (master->list.count == 0) {
    std::memcpy(table, incoming, static_cast<size_t>(list.count) * sizeof(LightSourceRecord));
    master->list.count = list.count;
    master->list.largestRadius = list.largestRadius;
    master->changeCounter.store(list.changeCounter);
    // The list is sorted by y already; this only fixes the order of equal
    // rows, which the next merge's matching would otherwise depend on.
    std::sort(table, table + master->list.count, PositionBefore);
    return;
  }

  if (list.largestRadius > master->list.largestRadius) master->list.largestRadius = list.largestRadius;
  const int64_t radius = TruncatedRadius(master->list.largestRadius);
  const int64_t reach = radius + 4;
  const int64_t top = sectionTop;

  // Entries more than the reach above the section top cannot overlap
  // anything in it; the table is sorted by y, so walk back from its end.
  const uint32_t previousCount = master->list.count;
  uint32_t windowStart = 0;
  for (uint32_t i = previousCount; i > 0; --i) {
    if (table[i - 1].y < top - radius - 4) {
      windowStart = i;
      break;
    }
  }

  uint32_t next = 0;
  for (; next < list.count; ++next) {
    const LightSourceRecord& q = incoming[next];
    // The list is sorted by y: from here on nothing can reach back into the
    // previous sections.
    if (q.y > top + reach) break;
    bool matched = false;
    for (uint32_t i = windowStart; i < previousCount; ++i) {
      LightSourceRecord& e = table[i];
      if (AbsDifference(q.x, e.x) > reach || e.state != LIGHT_SOURCE_SHOWN) continue;
      const float dx = QuarterDistance(q.x, q.xQuarter, e.x, e.xQuarter);
      const float dy = QuarterDistance(q.y, q.yQuarter, e.y, e.yQuarter);
      if (std::max(e.squaredRadius, q.squaredRadius) > dx * dx + dy * dy) {
        if (q.squaredRadius > e.squaredRadius) e = q;
        matched = true;
        break;
      }
    }
    if (!matched) table[master->list.count++] = q;
  }
  if (next < list.count) {
    const uint32_t rest = list.count - next;
    std::memcpy(table + master->list.count, incoming + next, static_cast<size_t>(rest) * sizeof(LightSourceRecord));
    master->list.count += rest;
  }

  std::sort(table, table + master->list.count, PositionBefore);
}

void NormalizeAndRankLightSources(MasterLightSourceTable* master) {
  auto stopped = [master] { return master->stopFlags != nullptr && master->stopFlags->stopAll.load(); };
  LightSourceRecord* table = ListRecords(&master->list);
  const uint32_t count = master->list.count;

  uint32_t maximum = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (stopped()) return;
    const LightSourceRecord& e = table[i];
    if (e.state != LIGHT_SOURCE_HIDDEN) maximum = std::max({maximum, e.red, e.green, e.blue});
  }
  for (uint32_t i = 0; i < count; ++i) {
    if (stopped()) return;
    LightSourceRecord& e = table[i];
    e.red = NormalizedChannel(e.red, maximum);
    e.green = NormalizedChannel(e.green, maximum);
    e.blue = NormalizedChannel(e.blue, maximum);
    e.brightness = Brightness(e.red, e.green, e.blue);
  }
  if (stopped()) return;
  if (count != 0) std::sort(table, table + count, BrighterFirst);
}

void ReleaseMasterLightSourceTable(MasterLightSourceTable* master) {
  DeallocateBuffer(&master->list.records);
  master->list = LightSourceList{};
  master->changeCounter.store(0);
  master->nextLine = 0;
}

bool SetLightSourceStateInRect(MasterLightSourceTable* master, const LightSourceRect& rect,
                               LightSourceOperation operation) {
  if (!IsKnownOperation(operation)) {
    REPORT_DEBUG("SetLightSourceStateInRect() - Unknown operation %d.", static_cast<int>(operation));
    return false;
  }
  LightSourceRecord* table = ListRecords(&master->list);
  uint32_t touched = 0;
  for (uint32_t i = 0; i < master->list.count; ++i) {
    LightSourceRecord& e = table[i];
    if (e.x < rect.left || e.x >= rect.right || e.y < rect.top || e.y >= rect.bottom) continue;
    if (!OperationApplies(e, operation)) continue;
    ApplyOperation(&e, operation);
    ++touched;
  }
  if (touched == 0) return false;
  master->changeCounter.fetch_add(1);
  return true;
}

bool SetStateOfNearestLightSource(MasterLightSourceTable* master, int32_t px, int32_t py,
                                  LightSourceOperation operation, double zoomPercent) {
  if (!IsKnownOperation(operation)) {
    REPORT_DEBUG("SetStateOfNearestLightSource() - Unknown operation %d.", static_cast<int>(operation));
    return false;
  }
  if (!(zoomPercent > 0.0) || !std::isfinite(zoomPercent)) {
    REPORT_DEBUG("SetStateOfNearestLightSource() - Invalid zoom percentage %g.", zoomPercent);
    return false;
  }
  // Pick distance in quarter pixels: 20 screen pixels, but never under 20
  // image pixels. Capped so that twice its square fits in 64 bits.
  const double screenReach = std::trunc(8000.0 / zoomPercent);
  const double cappedReach = std::min(screenReach, static_cast<double>(INT32_MAX));
  const int64_t reach = std::max<int64_t>(80, static_cast<int64_t>(cappedReach));
  const int64_t reachSquared = reach * reach;

  LightSourceRecord* table = ListRecords(&master->list);
  LightSourceRecord* nearest = nullptr;
  int64_t nearestSquared = reachSquared;
  for (uint32_t i = 0; i < master->list.count; ++i) {
    LightSourceRecord& e = table[i];
    if (!OperationApplies(e, operation)) continue;
    // 64 bits: in 32 the square wraps for points 16384 pixels apart and a
    // far entry could pass for a near one.
    const int64_t dx = (static_cast<int64_t>(px) - e.x) * 4 - e.xQuarter;
    const int64_t dy = (static_cast<int64_t>(py) - e.y) * 4 - e.yQuarter;
    if (dx <= -reach || dx >= reach || dy <= -reach || dy >= reach) continue;
    const int64_t squared = dx * dx + dy * dy;
    if (squared < nearestSquared) {
      nearestSquared = squared;
      nearest = &e;
    }
  }
  if (nearest != nullptr) ApplyOperation(nearest, operation);
  master->changeCounter.fetch_add(1);
  return true;
}

int32_t GetLightSourceChangeCounter(const MasterLightSourceTable* master) { return master->changeCounter.load(); }

bool GetLightSourceTableLine(MasterLightSourceTable* master, bool restart, char* text, size_t size) {
  if (text == nullptr || size == 0) {
    REPORT_DEBUG("GetLightSourceTableLine() - No room for the line.");
    return false;
  }
  if (restart) {
    master->nextLine = 0;
    std::snprintf(text, size, "NumberOfLightSources = %d\n\n", static_cast<int>(master->list.count));
    return true;
  }
  if (master->nextLine >= master->list.count) {
    text[0] = '\0';
    return false;
  }
  const LightSourceRecord& e = ListRecords(&master->list)[master->nextLine];
  std::snprintf(text, size, "LightSourceTable[%04d] x = %.2f, y = %.2f, Diam = %.2f, Bright = %X%s",
                static_cast<int>(master->nextLine), e.x + e.xQuarter / 4.0, e.y + e.yQuarter / 4.0,
                2.0 * std::sqrt(static_cast<double>(e.squaredRadius)), static_cast<unsigned>(e.brightness),
                e.state == LIGHT_SOURCE_HIDDEN ? " (D)" : "");
  ++master->nextLine;
  return true;
}

void SetMasterLightSourceTableEntries(MasterLightSourceTable* master, const LightSourceRecord* records,
                                      uint32_t count) {
  master->nextLine = 0;
  if (records == nullptr || count == 0) {
    master->list.count = 0;
    master->list.largestRadius = 0.0f;
    return;
  }
  if (count > ListCapacity(&master->list) && GrowMaster(master, count) != 0) {
    REPORT_DEBUG("SetMasterLightSourceTableEntries() - Allocation Failed:  %u light sources.", count);
    return;
  }
  std::memcpy(ListRecords(&master->list), records, static_cast<size_t>(count) * sizeof(LightSourceRecord));
  master->list.count = count;
  master->list.largestRadius = 0.0f;
  for (uint32_t i = 0; i < count; ++i)
    master->list.largestRadius = std::max(master->list.largestRadius, records[i].radius);
}
