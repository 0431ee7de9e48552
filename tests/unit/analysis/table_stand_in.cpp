#include "table_stand_in.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace standin {
namespace {

std::vector<LightSourceRecord> g_table;
float g_largestRadius = 0.0f;
std::vector<int32_t> g_sectionTops;

bool ByRow(const LightSourceRecord& a, const LightSourceRecord& b) {
  if (a.y != b.y) return a.y < b.y;
  if (a.yQuarter != b.yQuarter) return a.yQuarter < b.yQuarter;
  if (a.x != b.x) return a.x < b.x;
  return a.xQuarter < b.xQuarter;
}

int16_t Preallocate(void*, uint32_t count) {
  g_table.reserve(count);
  return 0;
}

void AddList(void*, int32_t sectionTop, const LightSourceList& list) {
  g_sectionTops.push_back(sectionTop);
  if (list.count == 0 || StopFlags().stop) return;
  const LightSourceRecord* records = ListRecords(&list);
  if (g_table.empty()) {
    g_table.assign(records, records + list.count);
    g_largestRadius = list.largestRadius;
    return;
  }
  g_largestRadius = std::max(g_largestRadius, list.largestRadius);
  const int32_t reach = static_cast<int32_t>(g_largestRadius);
  const int32_t w = reach + 4;
  size_t windowStart = 0;
  for (size_t i = g_table.size(); i-- > 0;) {
    if (g_table[i].y < sectionTop - reach - 4) {
      windowStart = i + 1;
      break;
    }
  }
  const size_t before = g_table.size();
  for (uint32_t i = 0; i < list.count; ++i) {
    const LightSourceRecord& q = records[i];
    if (q.y > sectionTop + w) {
      g_table.insert(g_table.end(), records + i, records + list.count);
      break;
    }
    bool matched = false;
    for (size_t j = windowStart; j < before; ++j) {
      LightSourceRecord& e = g_table[j];
      if (std::abs(q.x - e.x) > w || e.state != LIGHT_SOURCE_SHOWN) continue;
      const float dx = static_cast<float>(q.xQuarter + (q.x - e.x) * 4 - e.xQuarter) / 4.0f;
      const float dy = static_cast<float>((q.y - e.y) * 4 + q.yQuarter - e.yQuarter) / 4.0f;
      if (std::max(e.squaredRadius, q.squaredRadius) > dx * dx + dy * dy) {
        matched = true;
        if (q.squaredRadius > e.squaredRadius) e = q;
        break;
      }
    }
    if (!matched) g_table.push_back(q);
  }
  std::sort(g_table.begin(), g_table.end(), ByRow);
}

void NormalizeAndRank(void*) {
  if (StopFlags().stopAll) return;
  uint32_t largest = 0;
  for (const LightSourceRecord& e : g_table)
    if (e.state != LIGHT_SOURCE_HIDDEN) largest = std::max({largest, e.red, e.green, e.blue});
  for (LightSourceRecord& e : g_table) {
    for (uint32_t* channel : {&e.red, &e.green, &e.blue}) {
      const uint64_t q = largest == 0 ? FRACTION_FULL : (static_cast<uint64_t>(*channel) << 32) / largest;
      *channel = q >= FRACTION_FULL ? FRACTION_FULL : static_cast<uint32_t>(q);
    }
    e.brightness = Brightness(e.red, e.green, e.blue);
  }
  std::sort(g_table.begin(), g_table.end(), [](const LightSourceRecord& a, const LightSourceRecord& b) {
    if (a.brightness != b.brightness) return a.brightness > b.brightness;
    return ByRow(a, b);
  });
}

void Release(void*) {
  g_table.clear();
  g_largestRadius = 0.0f;
  g_sectionTops.clear();
}

}  // namespace

AnalysisStopFlags& StopFlags() {
  static AnalysisStopFlags flags;
  return flags;
}

LightSourceTableRoutines TableRoutines() {
  return LightSourceTableRoutines{nullptr, Preallocate, AddList, NormalizeAndRank, Release};
}

std::vector<LightSourceRecord> Entries() { return g_table; }

std::vector<int32_t> SectionTops() { return g_sectionTops; }

}  // namespace standin
