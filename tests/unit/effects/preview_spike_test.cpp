// The preview's single spike: its sharpness rule, where its samples lie, and
// which settings make it (or the flare) be built again.
#include <gtest/gtest.h>

#include <cmath>

#include "effects/effect_tables.h"
#include "effects/preview_spike.h"
#include "params/parameter_set.h"
#include "runtime/buffers.h"

namespace {

RenderingParameters Factory() {
  ParameterSet set = FACTORY_PARAMETER_SET;
  RenderingParameters p;
  InitializeFinalRenderingParameters(&p, &set);
  return p;
}

TEST(PreviewSpike, SharperAboveTheMiddleOfTheRange) {
  // trunc(1.05 x S - 2.1) above 50, worked out by hand.
  const int32_t rows[][2] = {{0, 0}, {50, 50}, {51, 51}, {60, 60}, {62, 63}, {80, 81}, {99, 101}, {100, 102}};
  for (const auto& r : rows) EXPECT_EQ(PreviewSpikeSharpness(r[0]), r[1]) << r[0];

  RenderingParameters p = Factory();
  p.spikeSharpness = 100;
  StarEffectSettings settings;
  PreparePreviewSpikeSettings(p, 1000, 1, false, &settings);
  EXPECT_EQ(settings.sharpness, 102) << "the render limit of 100 comes first, then the preview's rule";
  EXPECT_DOUBLE_EQ(settings.spikeWidth, (std::pow(1.02, 3.5) + 0.003) * 0.5 * 10000.0 / 1000);
}

TEST(PreviewSpike, OneFullSpikePointingDown) {
  BuildEffectTables();
  RenderingParameters p = Factory();
  StarEffectSettings settings;
  PreparePreviewSpikeSettings(p, 800, 1, false, &settings);
  SubShape sub{};
  ASSERT_TRUE(GeneratePreviewSpike(&sub, settings));
  ASSERT_GT(sub.sampleCount, 0);
  const auto* samples = static_cast<const ShapeSample*>(sub.samples.buffer);
  uint32_t brightest = 0;
  int32_t farthestDown = 0, widest = 0;
  for (int32_t i = 0; i < sub.sampleCount; ++i) {
    brightest = std::max(brightest, samples[i].weight);
    farthestDown = std::max<int32_t>(farthestDown, samples[i].dy);
    widest = std::max<int32_t>(widest, std::abs(samples[i].dx));
    EXPECT_GE(samples[i].dy, -widest - 1) << "nothing above the light";
  }
  // Full peak, not the Intensity's (0.5^2.8, about 0.14 of full at the
  // factory 50): the preview scales each light source itself. The samples
  // straddle the spike's line, so the brightest holds about half the peak.
  EXPECT_GT(brightest, 0x60000000u);
  EXPECT_GT(brightest, 3 * static_cast<uint64_t>(settings.spikePeak));
  EXPECT_GT(farthestDown, 10 * widest) << "a spike along +y, narrow across";
  DeallocateBuffer(&sub.samples);

  // No length, no spike.
  p.length = 0;
  PreparePreviewSpikeSettings(p, 800, 1, false, &settings);
  SubShape none{};
  EXPECT_TRUE(GeneratePreviewSpike(&none, settings));
  EXPECT_EQ(none.sampleCount, 0);
}

TEST(PreviewSpike, RebuiltOnlyForTheSettingsItDependsOn) {
  const RenderingParameters base = Factory();
  struct Edit {
    void (*apply)(RenderingParameters*);
    bool spike;
    bool flare;
  };
  const Edit edits[] = {
      {[](RenderingParameters* p) { p->length += 1; }, true, true},
      {[](RenderingParameters* p) { p->intensity += 1; }, true, false},
      {[](RenderingParameters* p) { p->spikeSharpness += 1; }, true, false},
      {[](RenderingParameters* p) { p->colorSaturation += 1; }, true, false},
      {[](RenderingParameters* p) { p->rainbowFrequency += 1; }, true, false},
      {[](RenderingParameters* p) { p->angle += 1; }, false, false},
      {[](RenderingParameters* p) { p->numberOfPoints += 2; }, false, false},
      {[](RenderingParameters* p) { p->softFlareIntensity += 1; }, false, false},
      {[](RenderingParameters* p) { p->zoomPercent = 50; }, false, false},
  };
  for (size_t i = 0; i < sizeof edits / sizeof edits[0]; ++i) {
    RenderingParameters changed = base;
    edits[i].apply(&changed);
    EXPECT_EQ(PreviewSpikeNeedsRebuild(base, changed), edits[i].spike) << "edit " << i;
    EXPECT_EQ(PreviewFlareNeedsRebuild(base, changed), edits[i].flare) << "edit " << i;
  }
}

}  // namespace
