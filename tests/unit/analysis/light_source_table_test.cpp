// The light source table: merging per-thread lists, normalising and ranking,
// Quantity selection, the state tools, the change counter and the text lines.
#include "analysis/light_source_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "../runtime/log_test_support.h"
#include "../test_hooks_support.h"

namespace {

// The table these tests fill, as a filter run owns one.
MasterLightSourceTable g_table;
AnalysisStopFlags g_flags;

using Records = std::vector<LightSourceRecord>;

LightSourceRecord Source(int32_t x, int32_t y, float squaredRadius, int32_t state = LIGHT_SOURCE_SHOWN) {
  return LightSourceRecord{x,    0,    y,    0,    std::sqrt(squaredRadius), squaredRadius, 0, 1000, 1000,
                           1000, FRACTION_FULL, 0xFFFFFFFF, state, LIGHT_SOURCE_SHOWN};
}

// A per-thread list viewing the records (merging only reads it).
LightSourceList List(Records& records, float largestRadius) {
  return LightSourceList{static_cast<uint32_t>(records.size()),
                         {records.data(), records.size() * sizeof(LightSourceRecord)}, 0, largestRadius};
}

Records Table() {
  const LightSourceList& t = GetMasterLightSourceTable(&g_table);
  return Records(ListRecords(&t), ListRecords(&t) + t.count);
}

void SetTable(const Records& records) {
  SetMasterLightSourceTableEntries(&g_table, records.data(), static_cast<uint32_t>(records.size()));
}

bool SameBytes(const Records& a, const Records& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(LightSourceRecord)) == 0;
}

class LightSourceTable : public logtest::DebugLogTest {
 protected:
  void SetUp() override {
    DebugLogTest::SetUp();
    ReleaseMasterLightSourceTable(&g_table);
    g_table.stopFlags = &g_flags;
  }
  void TearDown() override {
    g_flags.stop = false;
    g_flags.stopAll = false;
    ReleaseMasterLightSourceTable(&g_table);
    DebugLogTest::TearDown();
  }
};

TEST_F(LightSourceTable, AHighlightOnASectionBoundaryBecomesOneEntryWithTheLargerRadius) {
  for (bool lowerIsLarger : {true, false}) {
    ReleaseMasterLightSourceTable(&g_table);
    Records upper{Source(10, 5, 1.0f), Source(40, 98, lowerIsLarger ? 4.0f : 9.0f)};
    Records lower{Source(41, 100, lowerIsLarger ? 9.0f : 4.0f), Source(500, 101, 1.0f)};
    ASSERT_EQ(PreallocateMasterLightSourceTable(&g_table, 4), 0);
    AddLightSourceTableToTable(&g_table, 0, List(upper, 3.0f));
    AddLightSourceTableToTable(&g_table, 100, List(lower, 3.0f));
    const Records t = Table();
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].y, 5);  // sorted by row
    EXPECT_EQ(t[1].x, lowerIsLarger ? 41 : 40);
    EXPECT_EQ(t[1].squaredRadius, 9.0f);
    EXPECT_EQ(t[2].x, 500);
  }
}

TEST_F(LightSourceTable, ARecordBeyondTheReachOfTheSectionTopEndsMatching) {
  Records upper{Source(50, 100, 4.0f), Source(10, 110, 4.0f)};
  // Reach below the top 100 is trunc(2) + 4 rows: 107 is past it, and the
  // record after it is appended too although it sits on an entry.
  Records lower{Source(50, 101, 4.0f), Source(10, 107, 4.0f), Source(10, 110, 4.0f)};
  AddLightSourceTableToTable(&g_table, 0, List(upper, 2.0f));
  AddLightSourceTableToTable(&g_table, 100, List(lower, 2.0f));
  const Records t = Table();
  ASSERT_EQ(t.size(), 4u);
  EXPECT_EQ(std::count_if(t.begin(), t.end(), [](const LightSourceRecord& r) { return r.y == 110; }), 2);
  EXPECT_TRUE(std::is_sorted(t.begin(), t.end(), [](auto& a, auto& b) { return a.y < b.y; }));
}

TEST_F(LightSourceTable, FailedGrowthBadListsAndStopLeaveTheTableAsItWas) {
  OpenLog(LOGMODE_IMMEDIATE);
  SetTable({Source(1, 1, 1.0f)});
  const Records before = Table();
  Records more{Source(100, 50, 1.0f), Source(200, 60, 1.0f)};
  testhooks::Hooks().failAllocations = 1;
  AddLightSourceTableToTable(&g_table, 40, List(more, 1.0f));
  LightSourceList lying = List(more, 1.0f);
  lying.count = 1000;  // more than its buffer holds
  AddLightSourceTableToTable(&g_table, 0, lying);
  AddLightSourceTableToTable(&g_table, 0, GetMasterLightSourceTable(&g_table));
  g_flags.stop = true;
  AddLightSourceTableToTable(&g_table, 40, List(more, 1.0f));
  EXPECT_TRUE(SameBytes(Table(), before));

  g_flags.stop = false;
  AddLightSourceTableToTable(&g_table, 40, List(more, 1.0f));  // the next merge still works
  EXPECT_EQ(Table().size(), 3u);
  const std::string log = CloseAndRead();
  EXPECT_NE(log.find("AddLightSourceTableToTable() - Allocation Failed:  Requested 168 bytes."), std::string::npos);
  EXPECT_NE(log.find("claims 1000 light sources"), std::string::npos);
  EXPECT_NE(log.find("into itself"), std::string::npos);
}

TEST_F(LightSourceTable, ColoursAreScaledToTheBrightestShownChannelAndRanked) {
  LightSourceRecord a = Source(1, 1, 1.0f), b = Source(2, 2, 1.0f), c = Source(3, 3, 1.0f, LIGHT_SOURCE_HIDDEN);
  a.green = 500, a.blue = 250;
  b.red = b.green = b.blue = 200;
  c.red = 4000, c.green = c.blue = 0;  // hidden: no part in the maximum, clipped
  SetTable({b, c, a});
  g_flags.stopAll = true;  // stopped: neither scaled nor ranked
  NormalizeAndRankLightSources(&g_table);
  EXPECT_TRUE(SameBytes(Table(), Records{b, c, a}));
  g_flags.stopAll = false;
  NormalizeAndRankLightSources(&g_table);
  const Records t = Table();  // a, then the clipped c, then b (0.2 of 2^32 per channel)
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(std::vector<uint32_t>({t[0].red, t[0].green, t[0].blue, t[1].red, t[2].green}),
            std::vector<uint32_t>({FRACTION_FULL, 0x80000000u, 0x40000000u, FRACTION_FULL, 0x33333333u}));
  EXPECT_EQ(std::vector<uint32_t>({t[0].brightness, t[1].brightness, t[2].brightness}),
            std::vector<uint32_t>({0x95555554u, 0x55555554u, 0x33333330u}));

  // Nothing shown: no maximum, every channel full.
  SetTable({Source(1, 1, 1.0f, LIGHT_SOURCE_HIDDEN), Source(2, 2, 1.0f, LIGHT_SOURCE_HIDDEN)});
  NormalizeAndRankLightSources(&g_table);
  for (const LightSourceRecord& r : Table()) EXPECT_EQ(r.red & r.green & r.blue, FRACTION_FULL);
}

TEST_F(LightSourceTable, RankingDoesNotDependOnTheArrivalOrder) {
  Records records;  // equal brightness, different places and sizes
  for (int i = 0; i < 6; ++i) records.push_back(Source(10 * (i % 3), i / 3, 1.0f + i % 2));
  auto byBytes = [](auto& a, auto& b) { return std::memcmp(&a, &b, sizeof a) < 0; };
  std::sort(records.begin(), records.end(), byBytes);
  Records first;
  do {
    SetTable(records);
    NormalizeAndRankLightSources(&g_table);
    if (first.empty()) first = Table();
    EXPECT_TRUE(SameBytes(Table(), first));
  } while (std::next_permutation(records.begin(), records.end(), byBytes));
}

TEST_F(LightSourceTable, StateEditsInARectangle) {
  SetTable({Source(5, 5, 1.0f, LIGHT_SOURCE_HIDDEN), Source(6, 6, 1.0f), Source(20, 20, 1.0f, LIGHT_SOURCE_FORCED)});
  const int32_t counter = GetLightSourceChangeCounter(&g_table);
  // Hiding an already hidden entry counts as a touch; right and bottom are
  // outside the rectangle.
  EXPECT_TRUE(SetLightSourceStateInRect(&g_table, {0, 0, 6, 6}, LIGHT_SOURCE_HIDE));
  EXPECT_EQ(GetLightSourceChangeCounter(&g_table), counter + 1);
  EXPECT_EQ(Table()[1].state, LIGHT_SOURCE_SHOWN);
  EXPECT_TRUE(SetLightSourceStateInRect(&g_table, {0, 0, 10, 10}, LIGHT_SOURCE_HIDE));
  EXPECT_EQ(Table()[1].state, LIGHT_SOURCE_HIDDEN);
  // Unhiding what is not hidden does nothing.
  EXPECT_FALSE(SetLightSourceStateInRect(&g_table, {15, 15, 25, 25}, LIGHT_SOURCE_UNHIDE));
  EXPECT_EQ(GetLightSourceChangeCounter(&g_table), counter + 2);
  // Force and unforce bring back the state before.
  EXPECT_TRUE(SetLightSourceStateInRect(&g_table, {0, 0, 10, 10}, LIGHT_SOURCE_FORCE));
  EXPECT_TRUE(SetLightSourceStateInRect(&g_table, {0, 0, 100, 100}, LIGHT_SOURCE_UNFORCE));
  EXPECT_EQ(Table()[1].state, LIGHT_SOURCE_HIDDEN);
  EXPECT_EQ(Table()[2].state, LIGHT_SOURCE_SHOWN);
  // That left "hidden" as the state to restore as well; unhiding must still
  // show the entry.
  EXPECT_TRUE(SetLightSourceStateInRect(&g_table, {0, 0, 10, 10}, LIGHT_SOURCE_UNHIDE));
  EXPECT_EQ(Table()[1].state, LIGHT_SOURCE_SHOWN);
  EXPECT_FALSE(SetLightSourceStateInRect(&g_table, {0, 0, 10, 10}, static_cast<LightSourceOperation>(7)));
}

TEST_F(LightSourceTable, TheNearestEntryWithinThePickDistanceChanges) {
  // 30 pixels right of the point, 16384 pixels left (whose quarter-pixel
  // square wraps to 0 in 32 bits), two at equal distance, one at the far end.
  SetTable({Source(130, 100, 1.0f), Source(100 - 16384, 100, 1.0f), Source(98, 300, 1.0f), Source(102, 300, 1.0f),
            Source(INT32_MAX, INT32_MIN, 1.0f)});
  const int32_t counter = GetLightSourceChangeCounter(&g_table);
  // 100 %: 20 pixels reach; nothing near, but the edit still counts.
  EXPECT_TRUE(SetStateOfNearestLightSource(&g_table, 100, 100, LIGHT_SOURCE_HIDE, 100.0));
  EXPECT_EQ(GetLightSourceChangeCounter(&g_table), counter + 1);
  for (const LightSourceRecord& r : Table()) EXPECT_EQ(r.state, LIGHT_SOURCE_SHOWN);
  // 25 %: 80 pixels reach.
  EXPECT_TRUE(SetStateOfNearestLightSource(&g_table, 100, 100, LIGHT_SOURCE_HIDE, 25.0));
  EXPECT_EQ(Table()[0].state, LIGHT_SOURCE_HIDDEN);
  EXPECT_EQ(Table()[1].state, LIGHT_SOURCE_SHOWN);
  EXPECT_TRUE(SetStateOfNearestLightSource(&g_table, 100, 300, LIGHT_SOURCE_FORCE, 100.0));
  EXPECT_EQ(Table()[2].state, LIGHT_SOURCE_FORCED);
  EXPECT_EQ(Table()[3].state, LIGHT_SOURCE_SHOWN);
  EXPECT_TRUE(SetStateOfNearestLightSource(&g_table, INT32_MIN, INT32_MAX, LIGHT_SOURCE_HIDE, 1e-300));
  EXPECT_EQ(Table()[4].state, LIGHT_SOURCE_SHOWN);
  // Zooms that give no pick distance are refused.
  for (double zoom : {0.0, -50.0, std::nan(""), HUGE_VAL}) {
    EXPECT_FALSE(SetStateOfNearestLightSource(&g_table, 100, 100, LIGHT_SOURCE_UNHIDE, zoom));
  }
  EXPECT_EQ(GetLightSourceChangeCounter(&g_table), counter + 4);
}

TEST_F(LightSourceTable, TextLinesListTheHeaderThenEachEntryOnce) {
  LightSourceRecord first = Source(12, 7, 4.0f), hidden = Source(3, 4, 2.25f, LIGHT_SOURCE_HIDDEN);
  first.xQuarter = 2, first.brightness = 0xABCDEF;
  hidden.xQuarter = 1, hidden.yQuarter = 3, hidden.brightness = 0x10;
  SetTable({first, hidden});
  char line[256];
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(GetLightSourceTableLine(&g_table, true, line, sizeof line));
    EXPECT_STREQ(line, "NumberOfLightSources = 2\n\n");
    ASSERT_TRUE(GetLightSourceTableLine(&g_table, false, line, sizeof line));
    EXPECT_STREQ(line, "LightSourceTable[0000] x = 12.50, y = 7.00, Diam = 4.00, Bright = ABCDEF");
    ASSERT_TRUE(GetLightSourceTableLine(&g_table, false, line, sizeof line));
    EXPECT_STREQ(line, "LightSourceTable[0001] x = 3.25, y = 4.75, Diam = 3.00, Bright = 10 (D)");
    EXPECT_FALSE(GetLightSourceTableLine(&g_table, false, line, sizeof line));
  }
  EXPECT_FALSE(GetLightSourceTableLine(&g_table, true, nullptr, 0));
}

}  // namespace
