// Rendering Parameters: the record's bytes, how records are built, and which
// differences between two records force a preview pass to redraw.
#include "params/rendering_parameters.h"

#include <gtest/gtest.h>

#include <cstring>

#include "../test_hooks_support.h"
#include "runtime/buffers.h"

namespace {

// A set whose every field differs from every other, so a misplaced copy
// cannot go unnoticed.
ParameterSet DistinctSet() {
  ParameterSet set = FACTORY_PARAMETER_SET;
  int16_t* fields = &set.intensity;
  for (int i = 0; i < 11; ++i) fields[i] = static_cast<int16_t>(0x1101 * (i + 1));
  set.carriedValue = 0x7A6B5C4D;
  set.quantity = 0x2345;
  set.padding2[0] = 0x66;  // part of the 32 bits the record carries
  set.padding2[1] = 0x77;
  return set;
}

const uint8_t* Bytes(const void* p) { return static_cast<const uint8_t*>(p); }

TEST(RenderingParameters, EffectFieldsLandAtTheRecordsOffsetsByteForByte) {
  const ParameterSet set = DistinctSet();
  RenderingParameters record;
  std::memset(&record, 0xCC, sizeof record);
  CopyEffectFields(&record, &set);
  const uint8_t* r = Bytes(&record);
  const uint8_t* s = Bytes(&set);
  EXPECT_EQ(0, std::memcmp(r + 76, s + 8, 22)) << "eleven fields from Intensity to blendSelector";
  EXPECT_EQ(0, std::memcmp(r + 100, s + 32, 4)) << "carriedValue";
  EXPECT_EQ(0, std::memcmp(r + 104, s + 36, 4)) << "all 32 bits at the set's offset 36";
  // Nothing before the effect fields is touched.
  for (size_t i = 0; i < 76; ++i) ASSERT_EQ(r[i], 0xCC) << "byte " << i;
}

TEST(RenderingParameters, NewRecordsCarryTheViewAndConsecutiveNumbers) {
  const ParameterSet set = DistinctSet();
  RenderingView view{};
  view.viewRect = {10, 20, 310, 220};
  view.selectionRect = {1, 2, 3, 4};
  view.zoomPercent = 33.3;
  view.scrollX = -5;
  view.scrollY = 7;
  view.effectsVisible = true;
  view.viewFlag = 1;
  view.monitor = 0x10001;
  view.tableChangeCount = 42;

  RenderingParameters* first = NewRenderingParameters(&set, &view);
  RenderingParameters* second = NewRenderingParameters(&set, nullptr);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->sequenceNumber, first->sequenceNumber + 1);
  EXPECT_GT(first->sequenceNumber, 0);

  EXPECT_EQ(first->viewRect.left, 10);
  EXPECT_EQ(first->viewRect.bottom, 220);
  EXPECT_EQ(first->selectionRect.right, 3);
  EXPECT_EQ(first->zoomPercent, 33.3);
  EXPECT_EQ(first->scrollX, -5);
  EXPECT_EQ(first->scrollY, 7);
  EXPECT_EQ(first->effectsVisible, 1);
  EXPECT_EQ(first->viewFlag, 1);
  EXPECT_EQ(first->monitor, 0x10001u);
  EXPECT_EQ(first->tableChangeCount, 42);
  EXPECT_EQ(first->passStatus, 0);
  EXPECT_EQ(first->angle, set.angle);

  // Before the preview exists every view field is zero, and so is every
  // byte the layout leaves unused.
  RenderingParameters expected;
  std::memset(&expected, 0, sizeof expected);
  CopyEffectFields(&expected, &set);
  expected.sequenceNumber = second->sequenceNumber;
  expected.createdTicks = second->createdTicks;
  EXPECT_EQ(0, std::memcmp(second, &expected, sizeof expected));

  FreeRenderingParameters(first);
  FreeRenderingParameters(second);
}

TEST(RenderingParameters, TheFinalRenderingsRecordHasEffectsAndFullZoomOnly) {
  const ParameterSet set = DistinctSet();
  RenderingParameters record;
  std::memset(&record, 0xCC, sizeof record);
  InitializeFinalRenderingParameters(&record, &set);
  EXPECT_EQ(record.zoomPercent, 100.0);
  EXPECT_EQ(record.sequenceNumber, 0);
  EXPECT_EQ(record.monitor, 0u);
  EXPECT_EQ(record.viewRect.right, 0);
  EXPECT_EQ(record.quantity & 0xFFFF, 0x2345);
}

TEST(RenderingParameters, NoMemoryMeansNoRecord) {
  const ParameterSet set = FACTORY_PARAMETER_SET;
  testhooks::Hooks().failAllocations = 1;
  EXPECT_EQ(NewRenderingParameters(&set, nullptr), nullptr);
  testhooks::Hooks().failAllocations = 0;
  FreeRenderingParameters(nullptr);  // harmless
}

TEST(RenderingParameters, MonitorHandlesSurviveTheirThirtyTwoBitForm) {
  // User handles are small, or sign-extended from 32 bits on 64-bit systems.
  void* small = reinterpret_cast<void*>(static_cast<uintptr_t>(0x00010003));
  EXPECT_EQ(RecordValueToMonitor(MonitorToRecordValue(small)), small);
  void* high = reinterpret_cast<void*>(static_cast<intptr_t>(static_cast<int32_t>(0x80000123u)));
  EXPECT_EQ(MonitorToRecordValue(high), 0x80000123u);
  EXPECT_EQ(RecordValueToMonitor(MonitorToRecordValue(high)), high);
  EXPECT_EQ(RecordValueToMonitor(0), nullptr);
}

TEST(RenderingParameters, OnlyFieldsWithControlsQuantityAndTheTableCountMakeEffectsDiffer) {
  RenderingParameters a;
  InitializeFinalRenderingParameters(&a, &FACTORY_PARAMETER_SET);
  a.tableChangeCount = 3;

  // Each of these alone changes what is drawn.
  const auto differs = [&](void (*change)(RenderingParameters*)) {
    RenderingParameters b = a;
    change(&b);
    return !EffectsEqual(&a, &b) && !EffectsEqual(&b, &a);
  };
  EXPECT_TRUE(differs([](RenderingParameters* r) { r->intensity++; }));
  EXPECT_TRUE(differs([](RenderingParameters* r) { r->length--; }));
  EXPECT_TRUE(differs([](RenderingParameters* r) { r->angle = -r->angle; }));
  EXPECT_TRUE(differs([](RenderingParameters* r) { r->numberOfPoints = 8; }));
  EXPECT_TRUE(differs([](RenderingParameters* r) { r->spikeSharpness++; }));
  EXPECT_TRUE(differs([](RenderingParameters* r) { r->colorSaturation = -100; }));
  EXPECT_TRUE(differs([](RenderingParameters* r) { r->softFlareIntensity++; }));
  EXPECT_TRUE(differs([](RenderingParameters* r) { r->quantity++; }));
  EXPECT_TRUE(differs([](RenderingParameters* r) { r->quantity += 0x10000; }));  // the upper half counts too
  EXPECT_TRUE(differs([](RenderingParameters* r) { r->tableChangeCount++; }));

  // These do not.
  EXPECT_FALSE(differs([](RenderingParameters* r) { r->rainbowIntensity = 0; }));
  EXPECT_FALSE(differs([](RenderingParameters* r) { r->rainbowFrequency = 99; }));
  EXPECT_FALSE(differs([](RenderingParameters* r) { r->secondarySpikeIntensity = 100; }));
  EXPECT_FALSE(differs([](RenderingParameters* r) { r->blendSelector = 1; }));
  EXPECT_FALSE(differs([](RenderingParameters* r) { r->carriedValue = 0; }));
  EXPECT_FALSE(differs([](RenderingParameters* r) { r->zoomPercent = 400.0; }));
  EXPECT_FALSE(differs([](RenderingParameters* r) { r->effectsVisible = 1; }));
}

TEST(RenderingParameters, ComparisonReportsMonitorAndEffectChangesAgainstTheLastRecord) {
  RenderingParameters record;
  InitializeFinalRenderingParameters(&record, &FACTORY_PARAMETER_SET);
  record.monitor = 0x10001;

  RenderingComparison state{};
  // The very first record: a new monitor against none, and nothing drawn yet.
  EXPECT_EQ(CompareRenderingParameters(&state, &record), RENDER_CHANGE_MONITOR | RENDER_CHANGE_EFFECTS);
  EXPECT_EQ(CompareRenderingParameters(&state, &record), 0u);

  record.rainbowFrequency = 7;  // no control in this edition
  EXPECT_EQ(CompareRenderingParameters(&state, &record), 0u);

  record.tableChangeCount++;  // a light source was hidden; no slider moved
  EXPECT_EQ(CompareRenderingParameters(&state, &record), RENDER_CHANGE_EFFECTS);
  EXPECT_EQ(CompareRenderingParameters(&state, &record), 0u);

  record.monitor = 0x20001;  // the dialog moved to another display
  EXPECT_EQ(CompareRenderingParameters(&state, &record), RENDER_CHANGE_MONITOR | RENDER_CHANGE_EFFECTS);

  record.zoomPercent = 50.0;  // the view part is the display's own business
  record.scrollX = 12;
  EXPECT_EQ(CompareRenderingParameters(&state, &record), 0u);

  // A first record without a monitor does not count as a monitor change.
  RenderingComparison fresh{};
  record.monitor = 0;
  EXPECT_EQ(CompareRenderingParameters(&fresh, &record), RENDER_CHANGE_EFFECTS);
}

}  // namespace
